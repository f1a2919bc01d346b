#include "codecs/nal_units.h"

#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantorel {

uint32_t annexb_next_start_code(const uint8_t* b, uint32_t n, uint32_t from) {
  if (b == nullptr || from > n) return n;
#if defined(__SSE2__)
  // Two zero bytes in a row are rare in coded data (emulation prevention
  // breaks every run of them but start codes): 32 places are compared at
  // a time, and only where two zeros meet is the third byte looked at.
  uint64_t i = from;
  const __m128i zero = _mm_setzero_si128();
  const auto load = [b](uint64_t at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at)); };
  for (; i + 33 <= n; i += 32) {
    const __m128i low = _mm_and_si128(_mm_cmpeq_epi8(load(i), zero), _mm_cmpeq_epi8(load(i + 1), zero));
    const __m128i high = _mm_and_si128(_mm_cmpeq_epi8(load(i + 16), zero), _mm_cmpeq_epi8(load(i + 17), zero));
    if (_mm_movemask_epi8(_mm_or_si128(low, high)) == 0) continue;
    uint32_t pairs = static_cast<uint32_t>(_mm_movemask_epi8(low)) |
                     static_cast<uint32_t>(_mm_movemask_epi8(high)) << 16;
    for (; pairs != 0; pairs &= pairs - 1) {
      const uint64_t at = i + static_cast<uint32_t>(__builtin_ctz(pairs));
      if (at + 2 < n && b[at + 2] == 1) return static_cast<uint32_t>(at);
    }
  }
  for (; i + 2 < n; ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) return static_cast<uint32_t>(i);
  return n;
#else
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
#endif
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
