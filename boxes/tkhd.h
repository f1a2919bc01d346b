#pragma once
// 'tkhd': the track header.
#include "boxes/box_tree.h"

namespace vantorel {

enum TkhdFlags : uint32_t { kTrackEnabled = 0x1, kTrackInMovie = 0x2, kTrackInPreview = 0x4 };

struct TkhdRecord {
  uint8_t version;
  uint32_t flags;
  uint64_t creation_time;
  uint64_t modification_time;
  uint32_t track_id;
  uint64_t duration;  // movie time scale
  uint16_t layer;
  uint16_t alternate_group;
  uint16_t volume;    // 8.8
  uint32_t matrix[9];
  uint32_t width;     // 16.16
  uint32_t height;    // 16.16
};

void tkhd_init(BoxFile* file, void* context);
ErrorCode tkhd_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode tkhd_write(BoxFile* file, void* context);
uint64_t tkhd_size(BoxFile* file, void* context);

}  // namespace vantorel
