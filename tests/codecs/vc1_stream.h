#pragma once
// VC-1 advanced-profile units written bit by bit for the tests (no encoder
// makes VC-1): sequence and entry-point headers with the fields a test
// sets, and frames whose picture header starts with the frame type, then
// payload bytes; each with its start code, its trailing stop bit and the
// 0x03 bytes that keep start codes out of it.
#include <cstdint>

#include "codecs/bit_writer.h"

namespace vantorel::test {

struct Vc1SequenceFields {
  uint32_t profile = 3;  // 3: advanced
  uint32_t level = 2;
  uint32_t coded_width = 1280, coded_height = 720;
  bool interlace = false;
  bool display = false;
  uint32_t display_width = 0, display_height = 0;
  uint32_t rate_nr = 0, rate_dr = 0;  // frame rate codes of the display extension; 0: none
  uint32_t hrd_buckets = 0;           // 0: no HRD parameters
};

inline Bytes vc1_unit(uint8_t code, BitWriter& w) {
  int inserted = 0;
  Bytes out = {0, 0, 1, code};
  const Bytes body = add_emulation_prevention(w.finish(), &inserted);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

inline Bytes vc1_sequence(const Vc1SequenceFields& f) {
  BitWriter w;
  w.bits(f.profile, 2);
  w.bits(f.level, 3);
  w.bits(1, 2);       // 4:2:0
  w.bits(7, 3);       // frame rate quantizer for post-processing
  w.bits(31, 5);      // bit rate quantizer
  w.bits(0, 1);       // post-processing flag
  w.bits(f.coded_width / 2 - 1, 12);
  w.bits(f.coded_height / 2 - 1, 12);
  w.bits(0, 1);       // pulldown
  w.bits(f.interlace ? 1 : 0, 1);
  w.bits(0, 2);       // frame counter, frame interpolation
  w.bits(1, 1);       // reserved
  w.bits(0, 1);       // progressive segmented frames
  w.bits(f.display ? 1 : 0, 1);
  if (f.display) {
    w.bits(f.display_width - 1, 14);
    w.bits(f.display_height - 1, 14);
    w.bits(0, 1);  // no aspect ratio
    w.bits(f.rate_nr != 0 ? 1 : 0, 1);
    if (f.rate_nr != 0) {
      w.bits(0, 1);
      w.bits(f.rate_nr, 8);
      w.bits(f.rate_dr, 4);
    }
    w.bits(0, 1);  // no colour format
  }
  w.bits(f.hrd_buckets != 0 ? 1 : 0, 1);
  if (f.hrd_buckets != 0) {
    w.bits(f.hrd_buckets, 5);
    w.bits(0x46, 8);  // rate and buffer exponents
    for (uint32_t i = 0; i < f.hrd_buckets; ++i) w.bits(0x12345678u + i, 32);
  }
  return vc1_unit(0x0F, w);
}

inline Bytes vc1_entry_point(bool broken_link, bool closed_entry, uint32_t hrd_buckets = 0) {
  BitWriter w;
  w.bits(broken_link ? 1 : 0, 1);
  w.bits(closed_entry ? 1 : 0, 1);
  w.bits(0, 2);  // pan-scan, reference distance
  w.bits(1, 1);  // loop filter
  w.bits(0, 2);  // fast chroma motion, extended motion vectors
  w.bits(0, 2);  // macroblock quantization
  w.bits(1, 1);  // variable-sized transform
  w.bits(0, 1);  // overlap
  w.bits(1, 2);  // quantizer
  for (uint32_t i = 0; i < hrd_buckets; ++i) w.bits(0x80, 8);  // buffer fullness
  w.bits(0, 3);  // no coded size, no range mapping
  return vc1_unit(0x0E, w);
}

enum class Vc1Coding { Progressive, InterlacedFrame, FieldPair };

// `type_bits` of length `type_length`: the picture type code (a field
// pair's 3-bit pair code); the frame coding mode before it when the
// sequence is interlaced. `payload` bytes follow.
inline Bytes vc1_frame(bool interlace, Vc1Coding coding, uint32_t type_bits, uint32_t type_length, uint32_t payload,
                       uint8_t seed) {
  BitWriter w;
  if (interlace) {
    if (coding == Vc1Coding::Progressive) w.bits(0, 1);
    if (coding == Vc1Coding::InterlacedFrame) w.bits(2, 2);
    if (coding == Vc1Coding::FieldPair) w.bits(3, 2);
  }
  w.bits(type_bits, type_length);
  for (uint32_t i = 0; i < payload; ++i) w.bits(static_cast<uint8_t>(seed + i * 7), 8);
  return vc1_unit(0x0D, w);
}

// Progressive picture type codes (bits, length).
struct Vc1Type {
  uint32_t bits, length;
};
constexpr Vc1Type kVc1I{6, 3}, kVc1P{0, 1}, kVc1B{2, 2};

}  // namespace vantorel::test
