#pragma once
// The Streaming Extension marker: a "uuid" box in the movie's 'udta'
// holding one value, always written as 1.
#include "boxes/box_tree.h"

namespace vantorel {

struct StrxRecord {
  uint32_t value;
};

void strx_init(MediaFile* file, void* context);
ErrorCode strx_read(MediaFile* file, const BoxHeader* header, void* context);
ErrorCode strx_write(MediaFile* file, void* context);
uint64_t strx_size(MediaFile* file, void* context);

}  // namespace vantorel
