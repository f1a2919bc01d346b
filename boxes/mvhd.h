#pragma once
// 'mvhd': the movie header.
#include "boxes/box_tree.h"

namespace vantorel {

struct MvhdRecord {
  uint8_t version;
  uint32_t flags;
  uint64_t creation_time;      // seconds since 1904
  uint64_t modification_time;
  uint32_t timescale;
  uint64_t duration;           // movie time scale
  uint32_t rate;               // 16.16
  uint16_t volume;             // 8.8
  uint32_t matrix[9];
  uint32_t next_track_id;
};

void mvhd_init(BoxFile* file, void* context);
ErrorCode mvhd_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode mvhd_write(BoxFile* file, void* context);
uint64_t mvhd_size(BoxFile* file, void* context);

}  // namespace vantorel
