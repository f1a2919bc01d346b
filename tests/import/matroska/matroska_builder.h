#pragma once
// Matroska files by hand for the tests: EBML elements with sizes of any
// length or unknown, and a small file of one MP3 track.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace vantorel::test::mkv {

using Bytes = std::vector<uint8_t>;

inline Bytes id_bytes(uint32_t id) {
  Bytes b;
  for (int shift = 24; shift >= 0; shift -= 8)
    if ((id >> shift) != 0) b.push_back(static_cast<uint8_t>(id >> shift));
  return b;
}

// An element with its size in `size_length` bytes (0: the shortest).
inline Bytes el(uint32_t id, const Bytes& payload, int size_length = 0) {
  Bytes b = id_bytes(id);
  uint64_t n = payload.size();
  int length = size_length;
  if (length == 0)
    for (length = 1; length < 8 && n >= (uint64_t{1} << (7 * length)) - 1; ++length) {
    }
  for (int i = length - 1; i >= 0; --i) {
    uint8_t byte = static_cast<uint8_t>(n >> (8 * i));
    if (i == length - 1) byte |= static_cast<uint8_t>(0x80 >> (length - 1));
    b.push_back(byte);
  }
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}
// An element whose size is "unknown": it runs until a sibling of its parent.
inline Bytes unknown(uint32_t id, const Bytes& payload) {
  Bytes b = id_bytes(id);
  b.push_back(0xFF);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}
inline Bytes uint_el(uint32_t id, uint64_t v) {
  Bytes p;
  for (int i = 7; i >= 0; --i)
    if ((v >> (8 * i)) != 0 || !p.empty() || i == 0) p.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return el(id, p);
}
inline Bytes text_el(uint32_t id, const std::string& s) { return el(id, Bytes(s.begin(), s.end())); }
inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

// A frame of `size` bytes whose contents tell it apart.
inline Bytes frame(uint32_t size, uint8_t seed) {
  Bytes b(size);
  for (uint32_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed * 31 + i);
  return b;
}

inline Bytes header() { return el(0x1A45DFA3, text_el(0x4282, "matroska")); }
inline Bytes info() { return el(0x1549A966, uint_el(0x2AD7B1, 1000000)); }
// One MP3 track: its frames need no configuration.
inline Bytes tracks() {
  Bytes audio = el(0xE1, cat({el(0xB5, {0x47, 0x3B, 0x80, 0x00}), uint_el(0x9F, 2)}));  // 48000 Hz as a float
  return el(0x1654AE6B,
            el(0xAE, cat({uint_el(0xD7, 1), uint_el(0x83, 2), text_el(0x86, "A_MPEG/L3"), audio})));
}

inline Bytes simple_block(int16_t time, uint8_t flags, const Bytes& lace_and_frames) {
  Bytes p = {0x81, static_cast<uint8_t>(time >> 8), static_cast<uint8_t>(time), flags};
  p.insert(p.end(), lace_and_frames.begin(), lace_and_frames.end());
  return el(0xA3, p);
}

// A file of one MP3 track and one cluster of three blocks, the second
// Xiph-laced: `frames` of 20, 10, 20 and 40 bytes.
inline Bytes small_file(std::vector<Bytes>* frames = nullptr) {
  const Bytes a = frame(20, 1), b = frame(30, 2), c = frame(40, 3);
  if (frames != nullptr) *frames = {a, Bytes(b.begin(), b.begin() + 10), Bytes(b.begin() + 10, b.end()), c};
  return cat({header(), el(0x18538067, cat({info(), tracks(),
                                           el(0x1F43B675, cat({uint_el(0xE7, 0), simple_block(0, 0x80, a),
                                                               simple_block(24, 0x82, cat({{1, 10}, b})),
                                                               simple_block(48, 0x80, c)}))}))});
}

}  // namespace vantorel::test::mkv
