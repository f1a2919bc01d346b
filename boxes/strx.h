#pragma once
// The Streaming Extension marker: a "uuid" box in the movie's 'udta'
// holding one value, always written as 1.
#include "boxes/box_tree.h"

namespace vantorel {

struct StrxRecord {
  uint32_t value;
};

void strx_init(BoxFile* file, void* context);
ErrorCode strx_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode strx_write(BoxFile* file, void* context);
uint64_t strx_size(BoxFile* file, void* context);

}  // namespace vantorel
