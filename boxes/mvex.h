#pragma once
// 'mvex': movie extends, read only. Its 'mehd' sets the movie duration and
// its 'trex' boxes hold the per-track defaults of movie fragments.
#include "boxes/box_tree.h"

namespace vantorel {

struct TrexEntry {
  uint8_t version;
  uint32_t flags;
  uint32_t track_id;
  uint32_t default_sample_description_index;
  uint32_t default_sample_duration;
  uint32_t default_sample_size;
  uint32_t default_sample_flags;
};

struct MvexRecord {
  uint32_t unused;
  GrowArray<TrexEntry> trex;
};

// The fragment defaults of a track, or null.
TrexEntry* find_track_extends(FileBoxes* root, uint32_t track_id);

void mvex_release(BoxFile* file, void* context);
ErrorCode mvex_read(BoxFile* file, const BoxHeader* header, void* context);

}  // namespace vantorel
