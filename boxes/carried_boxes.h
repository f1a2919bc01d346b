#pragma once
// Boxes carried whole: kept as read, header and all, and written back byte
// for byte. User data, metadata and whatever else the library does not
// rebuild travels this way, in the order it was met.
#include <cstdint>

#include "boxes/owned_block.h"
#include "io/grow_array.h"

namespace vantorel {

// Cover art and long lyrics make user data the largest boxes a movie header
// holds; a box claiming more than this is not carried.
constexpr uint32_t kMaxCarriedBox = kMaxOwnedBlock;

struct CarriedBoxes {
  GrowArray<OwnedBlock> boxes;  // each a whole box
};

// The list a record's pointer field holds, made on first use (null: no memory).
CarriedBoxes* carried_list(CarriedBoxes** slot);
// Frees the list and clears the pointer.
void carried_free(CarriedBoxes** slot);

// Appends the box whose header was just read, from its first byte to its end.
// A box cut short by its parent or file, or too large, is skipped: what is
// carried must be a box a reader can walk.
ErrorCode carry_box(BoxFile* file, const BoxHeader* header, CarriedBoxes* into);
// Appends a copy of bytes that form one whole box (checked).
ErrorCode carry_bytes(CarriedBoxes* into, const uint8_t* bytes, uint32_t length);
// A null list is an empty one.
ErrorCode carried_write(BoxFile* file, const CarriedBoxes* carried);
uint64_t carried_size(const CarriedBoxes* carried);
// Appends copies of every box of `from`.
ErrorCode carried_copy(CarriedBoxes* to, const CarriedBoxes* from);
void carried_release(CarriedBoxes* carried);
// Removes box i.
void carried_remove(CarriedBoxes* carried, uint32_t index);

// The header of a carried box, read from its bytes: the payload's offset
// within the block and the type. False when the bytes do not start a box
// that ends exactly at their end.
struct BlockBox {
  FourCC type;
  uint32_t payload;  // offset of the payload in the block
};
bool block_box(const uint8_t* bytes, uint64_t length, BlockBox* out);

// Walks the boxes that lie one after another in bytes [at, end): for each,
// visit(type, payload start, box start, box end). Stops at the first that
// does not fit; returns false then.
template <class Visit>
bool walk_block(const uint8_t* bytes, uint64_t at, uint64_t end, Visit visit) {
  while (end - at >= 8) {
    uint64_t size = (uint64_t{bytes[at]} << 24) | (uint64_t{bytes[at + 1]} << 16) | (uint64_t{bytes[at + 2]} << 8) |
                    bytes[at + 3];
    uint64_t header = 8;
    if (size == 1) {
      if (end - at < 16) return false;
      size = 0;
      for (int i = 0; i < 8; ++i) size = (size << 8) | bytes[at + 8 + i];
      header = 16;
    } else if (size == 0) {
      size = end - at;
    }
    if (size < header || size > end - at) return false;
    FourCC type = FourCC::from_u32((uint32_t{bytes[at + 4]} << 24) | (uint32_t{bytes[at + 5]} << 16) |
                                   (uint32_t{bytes[at + 6]} << 8) | bytes[at + 7]);
    if (!visit(type, at + header, at, at + size)) return true;
    at += size;
  }
  return at == end;
}

}  // namespace vantorel
