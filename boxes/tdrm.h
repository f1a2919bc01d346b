#pragma once
// 'tdrm' in the movie's 'udta': a value, always written as 1, and three
// bytes kept as read.
#include "boxes/box_tree.h"

namespace vantorel {

struct TdrmRecord {
  uint32_t value;
  uint8_t bytes[3];
};

void tdrm_init(BoxFile* file, void* context);
ErrorCode tdrm_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode tdrm_write(BoxFile* file, void* context);
uint64_t tdrm_size(BoxFile* file, void* context);

}  // namespace vantorel
