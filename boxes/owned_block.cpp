#include "boxes/owned_block.h"

#include <cstdlib>
#include <cstring>

namespace vantorel {

void block_release(OwnedBlock* block) {
  if (block == nullptr) return;
  std::free(block->bytes);
  block->bytes = nullptr;
  block->length = 0;
}

ErrorCode block_assign(OwnedBlock* block, const uint8_t* bytes, uint32_t length) {
  if (block == nullptr) return ErrorCode::BadArgument;
  uint8_t* copy = nullptr;
  if (length > 0) {
    copy = static_cast<uint8_t*>(std::malloc(length));
    if (copy == nullptr) return ErrorCode::OutOfMemory;
    if (bytes != nullptr)
      std::memcpy(copy, bytes, length);
    else
      std::memset(copy, 0, length);
  }
  block_release(block);
  block->bytes = copy;
  block->length = length;
  return ErrorCode::Ok;
}

ErrorCode block_read(BoxFile* file, OwnedBlock* block, uint64_t length, const char* too_large_reason) {
  if (file == nullptr || block == nullptr) return ErrorCode::BadArgument;
  if (length > kMaxOwnedBlock) return malformed(file, too_large_reason);
  OwnedBlock fresh{};
  if (length > 0) {
    fresh.bytes = static_cast<uint8_t*>(std::malloc(length));
    if (fresh.bytes == nullptr) return ErrorCode::OutOfMemory;
    fresh.length = static_cast<uint32_t>(length);
    if (read_bytes(file, fresh.bytes, fresh.length) != ErrorCode::Ok) {
      block_release(&fresh);
      return ErrorCode::Io;
    }
  }
  block_release(block);
  *block = fresh;
  return ErrorCode::Ok;
}

ErrorCode block_read_rest(BoxFile* file, const BoxHeader* header, OwnedBlock* block, const char* too_large_reason) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  return block_read(file, block, box_bytes_left(file, header), too_large_reason);
}

ErrorCode block_write(BoxFile* file, const OwnedBlock* block) {
  if (file == nullptr || block == nullptr) return ErrorCode::BadArgument;
  if (block->length == 0) return ErrorCode::Ok;
  if (block->bytes == nullptr) return write_zeros(file, block->length);
  return write_bytes(file, block->bytes, block->length);
}

}  // namespace vantorel
