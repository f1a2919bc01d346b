#include "codecs/nal_units.h"

#include <cstring>
#include <initializer_list>

namespace vantorel {

uint32_t annexb_next_start_code(const uint8_t* b, uint32_t n, uint32_t from) {
  if (b == nullptr || from > n) return n;
  // The code's 1 byte is rare in coded data: found with memchr, which
  // passes over most bytes many at a time, then the two zeros before it.
  for (uint64_t i = uint64_t{from} + 2; i < n;) {
    const void* hit = std::memchr(b + i, 1, n - i);
    if (hit == nullptr) return n;
    const auto one = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - b);
    if (b[one - 1] == 0 && b[one - 2] == 0) return one - 2;
    i = one + 1;
  }
  return n;
}

bool annexb_first_start_code(const uint8_t* b, uint32_t n, uint32_t* at) {
  const uint32_t code = annexb_next_start_code(b, n, 0);
  *at = code;
  return code == 0 || (code == 1 && b[0] == 0);
}

bool annexb_next_unit(const uint8_t* b, uint32_t n, uint32_t* code, uint32_t* begin, uint32_t* end) {
  while (*code < n) {
    const uint32_t first = *code + 3;
    const uint32_t next = annexb_next_start_code(b, n, first);
    uint32_t last = next;
    // Zero bytes before a start code belong to no unit.
    while (last > first && b[last - 1] == 0) --last;
    *code = next;
    if (last > first) {
      *begin = first;
      *end = last;
      return true;
    }
  }
  return false;
}

bool sei_next_message(BitReader* r, uint32_t* type, uint32_t* size) {
  *type = 0;
  *size = 0;
  // Each value is a run of 0xFF bytes and the byte that ends it, summed.
  for (uint32_t* value : {type, size}) {
    uint32_t b = 0xFF;
    while (b == 0xFF) {
      if (bits_read(r, 8, &b) != ErrorCode::Ok) return false;
      *value += b;
    }
  }
  return true;
}

bool sei_skip_payload(BitReader* r, uint32_t size) {
  uint32_t b = 0;
  for (uint32_t i = 0; i < size; ++i)
    if (bits_read(r, 8, &b) != ErrorCode::Ok) return false;
  return true;
}

}  // namespace vantorel
