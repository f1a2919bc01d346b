#pragma once
// Byte blocks that configuration records and sample entries own, and the
// bounded reads that fill them from a box.
#include <cstdint>

#include "boxes/box_tree.h"

namespace vantorel {

// No configuration record or entry extension is anywhere near this large;
// a box that claims more is malformed rather than a huge allocation.
constexpr uint32_t kMaxOwnedBlock = 16u << 20;

struct OwnedBlock {
  uint8_t* bytes;  // null when length is 0
  uint32_t length;
};

void block_release(OwnedBlock* block);
// Replaces the block with a copy of `length` bytes (null bytes: zeros).
ErrorCode block_assign(OwnedBlock* block, const uint8_t* bytes, uint32_t length);
// Replaces the block with the next `length` bytes of the file. The caller has
// checked that the box holds them.
ErrorCode block_read(BoxFile* file, OwnedBlock* block, uint64_t length, const char* too_large_reason);
// Replaces the block with every byte left in the box.
ErrorCode block_read_rest(BoxFile* file, const BoxHeader* header, OwnedBlock* block, const char* too_large_reason);
ErrorCode block_write(BoxFile* file, const OwnedBlock* block);

// True when the box still holds `count` bytes at the current position.
inline bool box_has(BoxFile* file, const BoxHeader* header, uint64_t count) {
  return box_bytes_left(file, header) >= count;
}

}  // namespace vantorel
