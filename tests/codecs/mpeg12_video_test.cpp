// MPEG-1/2 video headers: sizes and profile from the sequence header and
// its extension (after loaded quantiser matrices too), the object type an
// 'esds' gets, where the headers a decoder needs end, picture headers.
#include <gtest/gtest.h>

#include "codecs/mpeg12_video.h"
#include "sampletables/stsd_support.h"

namespace vantorel {
namespace {

using namespace test;

// 160x120, aspect 2, 25 fps; no matrices loaded.
const Bytes kSequence = hex("000001b3 0a0078 23 ffffe018");

// `size_bits`: the high bits of the width (2) and the height (2).
Bytes extension(uint8_t profile_level, uint8_t size_bits = 0) {
  // id 1, profile and level, progressive, 4:2:0, the size's high bits.
  const uint32_t high_h = size_bits >> 2, high_v = size_bits & 3;
  return cat({hex("000001b5"), u8(static_cast<uint8_t>(0x10 | profile_level >> 4)),
              u8(static_cast<uint8_t>(profile_level << 4 | 0x0A | high_h >> 1)),
              u8(static_cast<uint8_t>((high_h & 1) << 7 | high_v << 5)), hex("010000")});
}

TEST(Mpeg12Video, SequenceHeadersDescribeTheStream) {
  // An intra matrix loaded: 64 more bytes before the extension.
  const Bytes with_matrix = cat({hex("000001b3 0a0078 23 ffffe01b"), Bytes(63, 0x11), u8(0x10)});
  const Bytes gop = hex("000001b8 00080000");
  const Bytes user = hex("000001b2 4142");
  struct Case {
    const char* name;
    Bytes bytes;
    ErrorCode result;
    uint32_t width, height;
    bool mpeg2;
    uint8_t object_type;
    uint32_t headers;  // bytes before the group or picture
  };
  const Case cases[] = {
      {"MPEG-1: no extension", cat({kSequence, gop}), ErrorCode::Ok, 160, 120, false, 0x6A, 12},
      {"MPEG-2 Main, as ffmpeg writes it", cat({kSequence, extension(0x48), gop}), ErrorCode::Ok, 160, 120, true,
       0x61, 22},
      {"Simple", cat({kSequence, extension(0x58), gop}), ErrorCode::Ok, 160, 120, true, 0x60, 22},
      {"SNR", cat({kSequence, extension(0x38), gop}), ErrorCode::Ok, 160, 120, true, 0x62, 22},
      {"Spatial", cat({kSequence, extension(0x28), gop}), ErrorCode::Ok, 160, 120, true, 0x63, 22},
      {"High", cat({kSequence, extension(0x18), gop}), ErrorCode::Ok, 160, 120, true, 0x64, 22},
      {"4:2:2", cat({kSequence, extension(0x85), gop}), ErrorCode::Ok, 160, 120, true, 0x65, 22},
      {"high size bits", cat({kSequence, extension(0x48, 0x5), gop}), ErrorCode::Ok, 160 + 4096, 120 + 4096, true,
       0x61, 22},
      {"user data belongs to the headers", cat({kSequence, extension(0x48), user, gop}), ErrorCode::Ok, 160, 120, true,
       0x61, 28},
      {"after an intra matrix", cat({with_matrix, extension(0x48), gop}), ErrorCode::Ok, 160, 120, true, 0x61, 86},
      {"no extension after the matrix", cat({with_matrix, gop}), ErrorCode::Ok, 160, 120, false, 0x6A, 76},
      {"cut in its fields", hex("000001b3 0a0078"), ErrorCode::NoMore, 0, 0, false, 0x6A, 7},
      {"a width of 0", hex("000001b3 000078 23 ffffe018"), ErrorCode::Malformed, 0, 0, false, 0x6A, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto n = static_cast<uint32_t>(c.bytes.size());
    Mpeg12Sequence s;
    ASSERT_EQ(mpeg12_parse_sequence(c.bytes.data(), n, &s), c.result);
    EXPECT_EQ(mpeg12_headers_length(c.bytes.data(), n), c.headers);
    if (c.result != ErrorCode::Ok) continue;
    EXPECT_EQ(s.horizontal_size, c.width);
    EXPECT_EQ(s.vertical_size, c.height);
    EXPECT_EQ(s.mpeg2, c.mpeg2);
    EXPECT_EQ(mpeg12_object_type(&s), c.object_type);
  }
  EXPECT_EQ(mpeg12_headers_length(gop.data(), static_cast<uint32_t>(gop.size())), 0u);

  struct Picture {
    Bytes bytes;
    ErrorCode result;
    uint32_t temporal_reference, type;
  };
  const Picture pictures[] = {
      {hex("00000100 0008ffff"), ErrorCode::Ok, 0, kMpeg12I},
      {hex("00000100 00d8ffff"), ErrorCode::Ok, 3, kMpeg12B},
      {hex("00000100 0010ffff"), ErrorCode::Ok, 0, kMpeg12P},
      {hex("00000100 0000ffff"), ErrorCode::Malformed, 0, 0},  // coding type 0 is forbidden
      {hex("00000100 00"), ErrorCode::NoMore, 0, 0},
  };
  for (const Picture& p : pictures) {
    Mpeg12Picture h;
    ASSERT_EQ(mpeg12_parse_picture(p.bytes.data(), static_cast<uint32_t>(p.bytes.size()), &h), p.result);
    if (p.result != ErrorCode::Ok) continue;
    EXPECT_EQ(h.temporal_reference, p.temporal_reference);
    EXPECT_EQ(h.picture_coding_type, p.type);
  }
}

}  // namespace
}  // namespace vantorel
