// MPEG-4 visual headers as the 'mp4v' builder reads and trims them.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "codecs/bit_writer.h"
#include "codecs/mpeg4_visual.h"

namespace vantorel {
namespace {

using namespace test;

Bytes sequence_header(uint8_t level) { return cat({u32(0x000001B0), u8(level)}); }

// A layer header with the given aspect ratio info (and w:h for 15).
Bytes layer_header(uint32_t aspect, bool identifier = false, uint32_t w = 0, uint32_t h = 0) {
  BitWriter b;
  b.put(0, 1);  // random_accessible_vol
  b.put(1, 8);  // simple object
  b.put(identifier ? 1 : 0, 1);
  if (identifier) b.put(0x2 << 3 | 0x5, 7);  // verid, priority
  b.put(aspect, 4);
  if (aspect == 15) {
    b.put(w, 8);
    b.put(h, 8);
  }
  b.put(0x3F, 6);  // what follows the aspect ratio, never read
  return cat({u32(0x00000120), b.padded()});
}

Bytes user_data(const std::string& s) { return cat({u32(0x000001B2), text(s)}); }
Bytes object_start() { return u32(0x000001B5); }

TEST(VisualHeaders, AspectRatioOfTheLayerHeader) {
  struct Case {
    const char* name;
    Bytes data;
    uint32_t w, h;
  };
  std::vector<Case> cases = {
      {"square", cat({sequence_header(3), layer_header(1)}), 1, 1},
      {"forbidden 0 as square", cat({sequence_header(3), layer_header(0)}), 1, 1},
      {"12:11", cat({sequence_header(3), layer_header(2)}), 12, 11},
      {"10:11", cat({sequence_header(3), layer_header(3)}), 10, 11},
      {"16:11", cat({sequence_header(3), layer_header(4)}), 16, 11},
      {"40:33", cat({sequence_header(3), layer_header(5)}), 40, 33},
      {"reserved value", cat({sequence_header(3), layer_header(7)}), 1, 1},
      {"extended", cat({sequence_header(3), layer_header(15, false, 64, 45)}), 64, 45},
      {"with layer identifier", cat({sequence_header(3), layer_header(2, true)}), 12, 11},
      {"layer before sequence", cat({layer_header(3), object_start(), sequence_header(3)}), 10, 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VisualHeaderInfo info{};
    ASSERT_EQ(mpeg4_scan_headers(c.data.data(), static_cast<uint32_t>(c.data.size()), &info), ErrorCode::Ok);
    EXPECT_EQ(info.found_layer, 1u);
    EXPECT_EQ(info.found_sequence, 1u);
    EXPECT_EQ(info.profile_level, 3);
    EXPECT_EQ(info.video_object_type, 1);
    EXPECT_EQ(info.aspect_width, c.w);
    EXPECT_EQ(info.aspect_height, c.h);
  }
}

TEST(VisualHeaders, ScanStopsAtTheSecondOfTheTwoHeadersAndFailsOnACutLayer) {
  // A second layer after both were found is not parsed.
  Bytes two = cat({sequence_header(1), layer_header(2), layer_header(3)});
  VisualHeaderInfo info{};
  ASSERT_EQ(mpeg4_scan_headers(two.data(), static_cast<uint32_t>(two.size()), &info), ErrorCode::Ok);
  EXPECT_EQ(info.aspect_width, 12u);
  // Without a sequence header every layer is parsed; the last one counts.
  Bytes layers = cat({layer_header(2), layer_header(3)});
  ASSERT_EQ(mpeg4_scan_headers(layers.data(), static_cast<uint32_t>(layers.size()), &info), ErrorCode::Ok);
  EXPECT_EQ(info.aspect_width, 10u);
  EXPECT_EQ(info.found_sequence, 0u);
  // A layer header that ends before its aspect ratio.
  Bytes cut = cat({sequence_header(1), u32(0x00000120), u8(0x00)});
  EXPECT_EQ(mpeg4_scan_headers(cut.data(), static_cast<uint32_t>(cut.size()), &info), ErrorCode::NoMore);
  Bytes nothing = {0x12, 0x34};
  ASSERT_EQ(mpeg4_scan_headers(nothing.data(), 2, &info), ErrorCode::Ok);
  EXPECT_EQ(info.found_layer, 0u);
  EXPECT_EQ(info.aspect_width, 1u);
}

TEST(VisualHeaders, UserDataIsStripped) {
  struct Case {
    const char* name;
    Bytes in, out;
  };
  Bytes vos = sequence_header(3), vol = layer_header(1);
  std::vector<Case> cases = {
      {"between headers", cat({vos, user_data("x264 says hi"), object_start(), vol}), cat({vos, object_start(), vol})},
      {"at the end: cut at its start code", cat({vos, object_start(), vol, user_data("DivX503b1393p")}),
       cat({vos, object_start(), vol})},
      {"two in a row", cat({vos, user_data("one"), user_data("two"), vol}), cat({vos, vol})},
      {"nothing to strip", cat({vos, vol}), cat({vos, vol})},
      {"only user data", user_data("abc"), Bytes{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes b = c.in;
    uint32_t n = mpeg4_strip_user_data(b.data(), static_cast<uint32_t>(b.size()));
    EXPECT_EQ(Bytes(b.begin(), b.begin() + n), c.out);
  }
}

TEST(VisualHeaders, SimpleProfileLevelsAreLowered) {
  const std::pair<uint8_t, uint8_t> cases[] = {{2, 1}, {3, 1}, {4, 1},       {5, 1},
                                               {8, 1}, {1, 1}, {0xF5, 0xF5}, {0x21, 0x21}};
  for (auto [in, out] : cases) {
    SCOPED_TRACE(int{in});
    Bytes b = cat({user_data("u"), sequence_header(in), layer_header(1), sequence_header(in)});
    EXPECT_EQ(mpeg4_lower_level(b.data(), static_cast<uint32_t>(b.size())), out);
    Bytes want = cat({user_data("u"), sequence_header(out), layer_header(1), sequence_header(in)});
    EXPECT_EQ(b, want);  // only the first sequence header changes
  }
}

}  // namespace
}  // namespace vantorel
