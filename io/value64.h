#pragma once
// Unsigned 64-bit positions, sizes, times and their arithmetic. Every change
// of time base goes through rescale(), which fixes the rounding everywhere.
#include <cstdint>

namespace vantorel {

using Value64 = uint64_t;

constexpr Value64 zero64() { return 0; }
constexpr Value64 none64() { return ~uint64_t{0}; }  // none, unknown, unbounded
constexpr Value64 from_u32(uint32_t x) { return x; }
constexpr Value64 from_s32(int32_t x) { return static_cast<uint64_t>(static_cast<int64_t>(x)); }
constexpr uint32_t low32(Value64 v) { return static_cast<uint32_t>(v); }
constexpr uint32_t high32(Value64 v) { return static_cast<uint32_t>(v >> 32); }
constexpr bool fits_u32(Value64 v) { return (v >> 32) == 0; }
constexpr bool top_bit(Value64 v) { return (v >> 63) != 0; }
constexpr bool is_zero64(Value64 v) { return v == 0; }
constexpr Value64 add64(Value64 a, Value64 b) { return a + b; }
constexpr Value64 add64_u32(Value64 a, uint32_t x) { return a + x; }
constexpr Value64 sub64(Value64 a, Value64 b) { return a - b; }
constexpr Value64 sub64_u32(Value64 a, uint32_t x) { return a - x; }
constexpr Value64 shl1(Value64 v) { return v << 1; }
constexpr Value64 shr1(Value64 v) { return v >> 1; }
constexpr bool lt64(Value64 a, Value64 b) { return a < b; }
constexpr bool eq64(Value64 a, Value64 b) { return a == b; }
constexpr bool le64(Value64 a, Value64 b) { return a <= b; }
constexpr bool gt64(Value64 a, Value64 b) { return a > b; }
constexpr Value64 mul32x32(uint32_t a, uint32_t b) { return uint64_t{a} * b; }
constexpr Value64 mul64(Value64 a, Value64 b) { return a * b; }  // low 64 bits

// floor(a / d); a divisor of 0 gives none64().
constexpr Value64 div64(Value64 a, Value64 d) {
  if (d == 0) return none64();
  return a / d;
}
constexpr Value64 div64_u32(Value64 a, uint32_t d) { return div64(a, d); }

constexpr Value64 be64_from_bytes(const uint8_t* p) {
  Value64 v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

// v ticks of 1/from second as ticks of 1/to second: (v * to) / from, exact
// through a 128-bit product and truncated; a quotient past 64 bits saturates
// at none64(), so long movies at fine time scales never wrap. from = 0 gives
// none64().
constexpr Value64 rescale(Value64 v, uint32_t from, uint32_t to) {
  if (from == 0) return none64();
  // Most times fit 32 bits: their product needs no 128-bit division.
  if (v <= UINT32_MAX) return v * to / from;
  unsigned __int128 q = static_cast<unsigned __int128>(v) * to / from;
  return q > none64() ? none64() : static_cast<Value64>(q);
}

// Seconds since 1904-01-01 00:00 UTC, the epoch of every box time.
Value64 now_1904();
// While pinned, now_1904() answers `value`: a run writes one "now" into
// every time field, and a caller may fix it for reproducible output.
void now_pin(Value64 value);
void now_unpin();

}  // namespace vantorel
