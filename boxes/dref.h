#pragma once
// 'dref': the data references of a track ("url " and "urn " entries).
#include "boxes/box_tree.h"

namespace vantorel {

enum DrefKind : uint32_t { kDrefOther = 0, kDrefUrl = 1, kDrefUrn = 2 };
constexpr uint32_t kDrefSelfContained = 0x1;

struct DrefEntry {
  uint8_t version;
  uint32_t flags;
  uint32_t kind;    // DrefKind
  char* name;       // owned; "urn " only
  char* location;   // owned, or null
};

struct DrefRecord {
  uint8_t version;
  uint32_t flags;
  GrowArray<DrefEntry> entries;
};

// Appends a self-contained "url " entry to the track's 'dref'; null without
// a 'dref' or when out of memory. The pointer is valid until the next append.
DrefEntry* add_data_reference(TrackBoxes* track);

void dref_release(BoxFile* file, void* context);
ErrorCode dref_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode dref_write(BoxFile* file, void* context);
uint64_t dref_size(BoxFile* file, void* context);

}  // namespace vantorel
