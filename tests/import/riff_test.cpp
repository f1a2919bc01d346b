#include <gtest/gtest.h>

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
