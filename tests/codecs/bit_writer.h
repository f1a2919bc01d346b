#pragma once
// Writes bit fields and Exp-Golomb codes, most significant bit first, to
// build codec headers in tests.
#include <cstdint>

#include "support/box_builder.h"

namespace vantorel::test {

class BitWriter {
 public:
  void bits(uint64_t value, uint32_t n) {
    for (uint32_t i = n; i-- > 0;) bit((value >> i) & 1);
  }
  void put(uint64_t value, uint32_t n) { bits(value, n); }
  void bit(uint32_t b) {
    current_ = static_cast<uint8_t>(current_ << 1 | (b & 1));
    if (++filled_ == 8) {
      out_.push_back(current_);
      current_ = 0;
      filled_ = 0;
    }
  }
  void ue(uint32_t v) {
    uint64_t code = uint64_t{v} + 1;
    uint32_t length = 0;
    while ((code >> length) > 1) ++length;
    bits(0, length);
    bits(code, length + 1);
  }
  void se(int32_t v) { ue(v > 0 ? static_cast<uint32_t>(2 * v - 1) : static_cast<uint32_t>(-2 * int64_t{v})); }
  // Stop bit and zero padding, as a NAL unit's payload ends.
  Bytes finish() {
    bit(1);
    return padded();
  }
  // Zero padding to the next byte.
  Bytes padded() {
    while (filled_ != 0) bit(0);
    return out_;
  }

 private:
  Bytes out_;
  uint8_t current_ = 0;
  uint32_t filled_ = 0;
};

// Inserts 0x03 wherever two zero bytes are followed by a byte of 0 to 3.
inline Bytes add_emulation_prevention(const Bytes& rbsp, int* inserted) {
  Bytes out;
  int zeros = 0;
  *inserted = 0;
  for (uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      ++*inserted;
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return out;
}

}  // namespace vantorel::test
