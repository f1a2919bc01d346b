#include <gtest/gtest.h>

#include "import/format_headers.h"
#include "import/riff.h"
#include "support/box_builder.h"

namespace vantorel {
namespace {

using test::MemoryFile;
using namespace test;

TEST(BoxHeader, RiffChunksUseSixtyFourBitSizes) {
  MemoryFile f(cat({text("LIST"), u32le(0xFFFFFFFCu), text("movi"), text("JUNK"), u32le(3), zeros(4)}));
  BoxHeader h;
  ASSERT_EQ(read_riff_chunk_header(f.get(), &h), ErrorCode::Ok);
  EXPECT_TRUE(h.type == "movi");
  EXPECT_EQ(h.size, 0xFFFFFFFCull + 8);  // no wrap to a tiny chunk
  file_seek(f.get(), 12);
  ASSERT_EQ(read_riff_chunk_header(f.get(), &h), ErrorCode::Ok);
  EXPECT_TRUE(h.type == "JUNK");
  EXPECT_EQ(h.size, 11u);
  ASSERT_EQ(skip_riff_chunk(f.get(), &h), ErrorCode::Ok);
  EXPECT_EQ(file_tell(f.get()), 24u);  // padded to even length
}

}  // namespace
}  // namespace vantorel

namespace vantorel {
namespace {

using namespace test;

// A WAVE_FORMAT_EXTENSIBLE mask becomes a layout tag only where the tag's
// channel order is the mask's; any other mask travels as the bitmap.
TEST(ChannelLayoutBox, MaskToTagOrBitmap) {
  struct Case {
    const char* name;
    uint32_t mask;
    uint32_t tag;
    uint32_t bitmap;
  };
  const Case cases[] = {
      {"mono", 0x4, 0x00640001, 0},
      {"stereo", 0x3, 0x00650002, 0},
      {"5.1 with side speakers", 0x60F, 0x00790006, 0},
      {"5.1 with back speakers: no tag in that order", 0x3F, 0x10000, 0x3F},
      {"7.1", 0x63F, 0x10000, 0x63F},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint8_t out[kChannelLayoutBoxSize];
    channel_layout_box(out, c.mask);
    EXPECT_EQ(Bytes(out, out + sizeof out), full_box("chan", 0, 0, cat({u32(c.tag), u32(c.bitmap), u32(0)})));
  }
}

}  // namespace
}  // namespace vantorel
