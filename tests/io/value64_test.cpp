#include <gtest/gtest.h>

#include "io/value64.h"

namespace vantorel {
namespace {

TEST(Value64, RescaleTruncatesAndNeverWraps) {
  struct Case {
    Value64 v;
    uint32_t from, to;
    Value64 expected;
  };
  const uint64_t big = (uint64_t{1} << 63) - 1;
  const Case cases[] = {
      {1001, 30000, 1000, 33},
      {3, 1000, 90000, 270},
      {12345, 0, 1000, none64()},
      {0, 0, 0, none64()},
      // Exact where the 64-bit product would wrap.
      {uint64_t{1} << 62, 8, 8, uint64_t{1} << 62},
      {big, 1000000000, 1000000000, big},
      {big, 0xFFFFFFFFu, 0xFFFFFFFEu, big - big / 0xFFFFFFFFu - 1},
      // Either side of the 32-bit value whose product still fits 64 bits.
      {0xFFFFFFFFu, 3, 0xFFFFFFFFu, 6148914688373205675ull},  // (2^32 - 1)^2 / 3
      {0x100000000ull, 1, 0xFFFFFFFFu, 0xFFFFFFFF00000000ull},
      // A ten-hour movie at a nanosecond clock, in 100 ns chapter units.
      {36000ull * 1000000000ull, 1000000000, 10000000, 36000ull * 10000000ull},
      {36000ull * 10000000ull, 10000000, 1000000000, 36000ull * 1000000000ull},
      // Too large for 64 bits: saturates, and none stays none.
      {uint64_t{1} << 62, 1, 8, none64()},
      {none64(), 600, 1000, none64()},
      {none64(), 1000, 600, none64() / 1000 * 600 + (none64() % 1000) * 600 / 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.v << " " << c.from << " " << c.to);
    EXPECT_EQ(rescale(c.v, c.from, c.to), c.expected);
  }
  // Converting back does not restore a dropped remainder.
  EXPECT_EQ(rescale(rescale(1001, 30000, 1000), 1000, 30000), 990u);
}

TEST(Value64, DivisionRules) {
  EXPECT_EQ(div64_u32(uint64_t{1} << 32, 3), 1431655765u);
  EXPECT_EQ(div64_u32(5, 7), 0u);
  EXPECT_EQ(div64_u32(7, 7), 1u);
  EXPECT_EQ(div64_u32(7, 0), none64());
  EXPECT_EQ(div64(0, 0), none64());
  EXPECT_EQ(div64(none64(), (uint64_t{1} << 63) - 1), 2u);
  EXPECT_EQ(div64(1000, 3), 333u);
}

TEST(Value64, WrapAroundAndConversions) {
  EXPECT_EQ(sub64(0, 1), none64());
  EXPECT_EQ(add64(none64(), 1), 0u);
  EXPECT_EQ(sub64_u32(5, 6), none64());
  EXPECT_EQ(add64_u32(none64(), 2), 1u);
  EXPECT_EQ(from_s32(-1), none64());
  EXPECT_EQ(from_u32(0xFFFFFFFFu), 4294967295u);
  EXPECT_TRUE(top_bit(from_s32(-5)));
  EXPECT_FALSE(top_bit(from_u32(0xFFFFFFFFu)));
  EXPECT_TRUE(fits_u32(0xFFFFFFFFu));
  EXPECT_FALSE(fits_u32(uint64_t{1} << 32));
  EXPECT_EQ(low32(0x123456789ull), 0x23456789u);
  EXPECT_EQ(mul32x32(0xFFFFFFFFu, 0xFFFFFFFFu), 0xFFFFFFFE00000001ull);
  EXPECT_EQ(shl1(none64()), none64() - 1);
  EXPECT_EQ(shr1(none64()), none64() >> 1);
  const uint8_t bytes[8] = {0, 0, 0, 1, 0, 0, 0, 2};
  EXPECT_EQ(be64_from_bytes(bytes), (uint64_t{1} << 32) + 2);
}

TEST(Value64, NowIsAfter1970InThe1904Epoch) {
  EXPECT_GT(now_1904(), 2082844800u + 1600000000u);
}

}  // namespace
}  // namespace vantorel
