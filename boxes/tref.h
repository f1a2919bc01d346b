#pragma once
// 'tref': a track's references to other tracks, of one reference type.
#include "boxes/box_tree.h"

namespace vantorel {

enum ReferenceType : uint32_t {
  kReferenceNone = 0,
  kReferenceHint = 1,  // "hint"
  kReferenceCdsc = 2,  // "cdsc"
  kReferenceDpnd = 3,  // "dpnd"
  kReferenceIpir = 4,  // "ipir"
  kReferenceMpod = 5,  // "mpod"
  kReferenceSync = 6,  // "sync"
  kReferenceTmcd = 7,  // "tmcd": a track's time code track
  kReferenceChap = 8,  // "chap": a track's chapter text track
};
constexpr uint32_t kReferenceTypeCount = 9;

struct TrefRecord {
  uint32_t reference_type;  // ReferenceType
  GrowArray<uint32_t> track_ids;
};

// Box type of a reference type, zero for none or an unknown one.
FourCC reference_box_type(uint32_t type);
uint32_t reference_type_from_box(FourCC type);

// Missing without 'tref'; BadArgument for a type outside 1-8.
ErrorCode set_reference_type(TrackBoxes* track, uint32_t type);
ErrorCode add_reference(BoxFile* file, TrackBoxes* track, uint32_t track_id);

void tref_release(BoxFile* file, void* context);
ErrorCode tref_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode tref_write(BoxFile* file, void* context);
uint64_t tref_size(BoxFile* file, void* context);

}  // namespace vantorel
