#include "boxes/carried_boxes.h"

#include <cstdlib>
#include <cstring>

namespace vantorel {

CarriedBoxes* carried_list(CarriedBoxes** slot) {
  if (slot == nullptr) return nullptr;
  if (*slot == nullptr) *slot = alloc_record<CarriedBoxes>();
  return *slot;
}

void carried_free(CarriedBoxes** slot) {
  if (slot == nullptr || *slot == nullptr) return;
  carried_release(*slot);
  std::free(*slot);
  *slot = nullptr;
}

bool block_box(const uint8_t* bytes, uint64_t length, BlockBox* out) {
  bool one = false;
  bool ok = walk_block(bytes, 0, length, [&](FourCC type, uint64_t payload, uint64_t start, uint64_t end) {
    one = start == 0 && end == length;
    if (out != nullptr) *out = BlockBox{type, static_cast<uint32_t>(payload)};
    return false;
  });
  return ok && one;
}

ErrorCode carry_box(BoxFile* file, const BoxHeader* header, CarriedBoxes* into) {
  if (file == nullptr || header == nullptr || into == nullptr) return ErrorCode::BadArgument;
  if (header->end - header->start != header->size || header->size > kMaxCarriedBox) return ErrorCode::Ok;
  uint64_t resume = file_tell(file);
  OwnedBlock block{};
  VT_TRY(file_seek(file, header->start));
  ErrorCode e = block_read(file, &block, header->size, "box too large to carry");
  if (e == ErrorCode::Ok && io_failed(file)) e = ErrorCode::Io;
  // The size field may use its 64-bit form or 0 ("to the end"); either way
  // the bytes must walk as one box on their own.
  if (e == ErrorCode::Ok && block_box(block.bytes, block.length, nullptr)) {
    e = into->boxes.append(block);
    if (e == ErrorCode::Ok) block = OwnedBlock{};
  }
  block_release(&block);
  if (e != ErrorCode::Ok) return e;
  return file_seek(file, resume);
}

ErrorCode carry_bytes(CarriedBoxes* into, const uint8_t* bytes, uint32_t length) {
  if (into == nullptr || bytes == nullptr || !block_box(bytes, length, nullptr)) return ErrorCode::BadArgument;
  OwnedBlock block{};
  VT_TRY(block_assign(&block, bytes, length));
  ErrorCode e = into->boxes.append(block);
  if (e != ErrorCode::Ok) block_release(&block);
  return e;
}

ErrorCode carried_write(BoxFile* file, const CarriedBoxes* carried) {
  if (file == nullptr) return ErrorCode::BadArgument;
  if (carried == nullptr) return ErrorCode::Ok;  // nothing was carried
  for (const OwnedBlock& b : carried->boxes) VT_TRY(block_write(file, &b));
  return ErrorCode::Ok;
}

uint64_t carried_size(const CarriedBoxes* carried) {
  if (carried == nullptr) return 0;
  uint64_t total = 0;
  for (const OwnedBlock& b : carried->boxes) total += b.length;
  return total;
}

ErrorCode carried_copy(CarriedBoxes* to, const CarriedBoxes* from) {
  if (to == nullptr || from == nullptr) return ErrorCode::BadArgument;
  for (const OwnedBlock& b : from->boxes) VT_TRY(carry_bytes(to, b.bytes, b.length));
  return ErrorCode::Ok;
}

void carried_release(CarriedBoxes* carried) {
  if (carried == nullptr) return;
  for (OwnedBlock& b : carried->boxes) block_release(&b);
  carried->boxes.release();
}

void carried_remove(CarriedBoxes* carried, uint32_t index) {
  if (carried == nullptr || index >= carried->boxes.count) return;
  block_release(&carried->boxes[index]);
  carried->boxes.remove_at(index);
}

}  // namespace vantorel
