// The advanced-profile headers of VC-1: sequence headers laid out by hand
// (interlaced with a display extension and HRD buckets, progressive, an
// explicit aspect ratio with a frame rate exponent, and one whose zero
// bytes carry a 0x03), cut and reserved ones refused; the frame type of
// each picture coding. ('dvc1' is checked byte for byte by the import tests.)
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "codecs/vc1.h"
#include "codecs/vc1_stream.h"

namespace vantorel {
namespace {

using namespace test;

TEST(Vc1Sequence, HeadersLaidOutByHandParse) {
  struct Case {
    const char* name;
    Bytes bytes;
    uint32_t level, width, height;
    bool interlace, display;
    uint32_t display_width, display_height;
    uint8_t aspect, aspect_width, aspect_height;
    uint32_t rate_num, rate_den;
    uint8_t buckets;
  };
  const std::vector<Case> cases = {
      {"1080i, display extension, aspect 1, 24000/1001, colour, one HRD bucket",
       {0x00, 0x00, 0x01, 0x0F, 0xDB, 0xFE, 0x3B, 0xF2, 0x1B, 0xCA, 0x3B, 0xF8, 0x86,
        0xF1, 0x80, 0x4A, 0x02, 0x02, 0x03, 0x0A, 0x30, 0x91, 0xA2, 0xB3, 0xC4},
       3, 1920, 1080, true, true, 1920, 1080, 1, 0, 0, 24000, 1001, 1},
      {"720p, nothing optional", {0x00, 0x00, 0x01, 0x0F, 0xD2, 0x00, 0x27, 0xF1, 0x67, 0x08, 0x80},
       2, 1280, 720, false, false, 0, 0, 0, 0, 0, 0, 0, 0},
      {"576i shown 704x576 at 16:11, 25 frames a second as an exponent",
       {0x00, 0x00, 0x01, 0x0F, 0xCA, 0x00, 0x16, 0x71, 0x1F, 0x4A, 0x15, 0xF8, 0x47, 0xFF, 0x0F, 0x0A, 0xC0, 0xC7,
        0xC8},
       1, 720, 576, true, true, 704, 576, 15, 16, 11, 800, 32, 0},
      {"2x32 whose zero bytes carry a 0x03", {0x00, 0x00, 0x01, 0x0F, 0xD2, 0x00, 0x00, 0x03, 0x00, 0x0F, 0x08, 0x80},
       2, 2, 32, false, false, 0, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Vc1Sequence s{};
    ASSERT_EQ(vc1_parse_sequence(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), &s), ErrorCode::Ok);
    EXPECT_EQ(s.level, c.level);
    EXPECT_EQ(s.coded_width, c.width);
    EXPECT_EQ(s.coded_height, c.height);
    EXPECT_EQ(s.interlace, c.interlace);
    EXPECT_EQ(s.display, c.display);
    EXPECT_EQ(s.display_width, c.display_width);
    EXPECT_EQ(s.display_height, c.display_height);
    EXPECT_EQ(s.aspect_ratio, c.aspect);
    EXPECT_EQ(s.aspect_width, c.aspect_width);
    EXPECT_EQ(s.aspect_height, c.aspect_height);
    EXPECT_EQ(s.rate_num, c.rate_num);
    EXPECT_EQ(s.rate_den, c.rate_den);
    EXPECT_EQ(s.leaky_buckets, c.buckets);
    // Cut anywhere before its last field, it is refused.
    const uint32_t whole = static_cast<uint32_t>(c.bytes.size());
    for (uint32_t cut = 0; cut + 1 < whole; ++cut)
      EXPECT_EQ(vc1_parse_sequence(c.bytes.data(), cut, &s), ErrorCode::Malformed) << "cut at " << cut;
  }
}

TEST(Vc1Sequence, OtherProfilesAndReservedValuesAreRefused) {
  Vc1SequenceFields main{}, level{};
  main.profile = 1;
  level.level = 5;
  const Bytes entry = vc1_entry_point(false, true);
  const std::vector<std::pair<Bytes, ErrorCode>> cases = {
      {vc1_sequence(main), ErrorCode::Unsupported},
      {vc1_sequence(level), ErrorCode::Malformed},
      {entry, ErrorCode::Malformed},  // another start code
  };
  for (const auto& [bytes, expected] : cases) {
    Vc1Sequence s{};
    EXPECT_EQ(vc1_parse_sequence(bytes.data(), static_cast<uint32_t>(bytes.size()), &s), expected);
  }
}

TEST(Vc1Frame, TypeOfEachPictureCoding) {
  struct Case {
    const char* name;
    bool interlace;
    Vc1Coding coding;
    uint32_t bits, length;
    Vc1FrameType expected;
  };
  const std::vector<Case> cases = {
      {"I", false, Vc1Coding::Progressive, 6, 3, Vc1FrameType::I},
      {"P", false, Vc1Coding::Progressive, 0, 1, Vc1FrameType::P},
      {"B", false, Vc1Coding::Progressive, 2, 2, Vc1FrameType::B},
      {"BI", false, Vc1Coding::Progressive, 14, 4, Vc1FrameType::BI},
      {"skipped", false, Vc1Coding::Progressive, 15, 4, Vc1FrameType::Skipped},
      {"progressive I in an interlaced sequence", true, Vc1Coding::Progressive, 6, 3, Vc1FrameType::I},
      {"interlaced frame B", true, Vc1Coding::InterlacedFrame, 2, 2, Vc1FrameType::B},
      {"fields I/P", true, Vc1Coding::FieldPair, 1, 3, Vc1FrameType::I},
      {"fields P/I", true, Vc1Coding::FieldPair, 2, 3, Vc1FrameType::P},
      {"fields BI/B", true, Vc1Coding::FieldPair, 6, 3, Vc1FrameType::B},
      {"fields BI/BI", true, Vc1Coding::FieldPair, 7, 3, Vc1FrameType::BI},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes b = vc1_frame(c.interlace, c.coding, c.bits, c.length, 3, 0x40);
    Vc1FrameType type = Vc1FrameType::Skipped;
    ASSERT_EQ(vc1_parse_frame_type(b.data(), static_cast<uint32_t>(b.size()), c.interlace, &type), ErrorCode::Ok);
    EXPECT_EQ(type, c.expected);
  }
  const Bytes start = {0x00, 0x00, 0x01, 0x0D};
  Vc1FrameType type{};
  EXPECT_EQ(vc1_parse_frame_type(start.data(), 4, false, &type), ErrorCode::Malformed);
}

}  // namespace
}  // namespace vantorel
