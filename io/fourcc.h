#pragma once
// Four-character codes as stored in files: four raw bytes, compared with text.
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vantorel {

struct FourCC {
  char c[4];

  static constexpr FourCC of(std::string_view s) {
    FourCC f{};
    for (size_t i = 0; i < 4 && i < s.size(); ++i) f.c[i] = s[i];
    return f;
  }
  static FourCC from_u32(uint32_t v) {
    FourCC f{};
    f.c[0] = static_cast<char>(v >> 24);
    f.c[1] = static_cast<char>(v >> 16);
    f.c[2] = static_cast<char>(v >> 8);
    f.c[3] = static_cast<char>(v);
    return f;
  }
  constexpr uint32_t to_u32() const {
    return (uint32_t{static_cast<uint8_t>(c[0])} << 24) | (uint32_t{static_cast<uint8_t>(c[1])} << 16) |
           (uint32_t{static_cast<uint8_t>(c[2])} << 8) | uint32_t{static_cast<uint8_t>(c[3])};
  }
  constexpr std::string_view view() const { return std::string_view(c, 4); }
  constexpr bool is_zero() const { return to_u32() == 0; }
  constexpr bool operator==(const FourCC& o) const { return to_u32() == o.to_u32(); }
  constexpr bool operator==(std::string_view s) const { return s.size() == 4 && view() == s; }
};

// Printable form of a code for messages: non-printing bytes become '.'.
struct FourCCText {
  char text[5];
};
inline FourCCText fourcc_text(FourCC f) {
  FourCCText t{};
  for (int i = 0; i < 4; ++i) {
    unsigned char ch = static_cast<unsigned char>(f.c[i]);
    t.text[i] = (ch >= 0x20 && ch < 0x7F) ? static_cast<char>(ch) : '.';
  }
  return t;
}

}  // namespace vantorel
