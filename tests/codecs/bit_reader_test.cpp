#include <gtest/gtest.h>

#include <vector>

#include "codecs/bit_reader.h"
#include "codecs/bit_writer.h"
#include "sampletables/stsd_support.h"

namespace vantorel {
namespace {

using test::BitWriter;
using test::Bytes;
using test::hex;

TEST(BitReader, ReadsAcrossBytesAndFailsWithoutConsuming) {
  const Bytes data = hex("a5 0f f0");
  BitReader r;
  bits_init(&r, data.data(), static_cast<uint32_t>(data.size()), false);
  uint32_t v = 0;
  ASSERT_EQ(bits_read(&r, 3, &v), ErrorCode::Ok);
  EXPECT_EQ(v, 0x5u);  // 101
  ASSERT_EQ(bits_read(&r, 9, &v), ErrorCode::Ok);
  EXPECT_EQ(v, 0x050u);  // 0 0101 0000
  // 12 bits remain: asking for 13 fails and reads nothing.
  EXPECT_EQ(bits_read(&r, 13, &v), ErrorCode::NoMore);
  ASSERT_EQ(bits_read(&r, 12, &v), ErrorCode::Ok);
  EXPECT_EQ(v, 0xff0u);
  EXPECT_EQ(bits_read(&r, 1, &v), ErrorCode::NoMore);
  EXPECT_EQ(bits_read(&r, 0, &v), ErrorCode::BadArgument);
  EXPECT_EQ(bits_read(&r, 33, &v), ErrorCode::BadArgument);

  const Bytes wide = hex("de ad be ef 01");
  bits_init(&r, wide.data(), 5, false);
  ASSERT_EQ(bits_read(&r, 4, &v), ErrorCode::Ok);
  ASSERT_EQ(bits_read(&r, 32, &v), ErrorCode::Ok);
  EXPECT_EQ(v, 0xeadbeef0u);
}

TEST(BitReader, ExpGolombCodes) {
  struct Case {
    uint32_t value;
    int32_t signed_value;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {2, -1}, {3, 2}, {4, -2}, {7, 4}, {255, 128}, {65535, 32768}, {0xFFFFFFFEu, INT32_MIN + 1}};
  BitWriter w;
  for (const Case& c : cases) w.ue(c.value);
  for (const Case& c : cases) w.ue(c.value);
  Bytes data = w.finish();
  BitReader r;
  bits_init(&r, data.data(), static_cast<uint32_t>(data.size()), false);
  for (const Case& c : cases) {
    uint32_t v = 1;
    ASSERT_EQ(bits_read_ue(&r, &v), ErrorCode::Ok);
    EXPECT_EQ(v, c.value);
  }
  for (const Case& c : cases) {
    int32_t v = 1;
    ASSERT_EQ(bits_read_se(&r, &v), ErrorCode::Ok);
    EXPECT_EQ(v, c.signed_value);
  }
  // 33 leading zeros cannot be a 32-bit value; a code cut short is NoMore.
  const Bytes too_long = hex("00 00 00 00 00 ff");
  bits_init(&r, too_long.data(), 6, false);
  uint32_t v = 0;
  EXPECT_EQ(bits_read_ue(&r, &v), ErrorCode::Malformed);
  const Bytes cut = hex("00 01");  // 15 zeros, a one, and no suffix
  bits_init(&r, cut.data(), 2, false);
  EXPECT_EQ(bits_read_ue(&r, &v), ErrorCode::NoMore);
  uint32_t first = 0;
  ASSERT_EQ(bits_read(&r, 16, &first), ErrorCode::Ok);  // the failed read consumed nothing
  EXPECT_EQ(first, 1u);
}

TEST(BitReader, RemovesEmulationPreventionBytes) {
  const Bytes data = hex("00 00 03 01 00 00 03 03 ff");
  BitReader r;
  bits_init(&r, data.data(), static_cast<uint32_t>(data.size()), true);
  std::vector<uint32_t> got;
  uint32_t v = 0;
  while (bits_read(&r, 8, &v) == ErrorCode::Ok) got.push_back(v);
  EXPECT_EQ(got, (std::vector<uint32_t>{0, 0, 1, 0, 0, 3, 0xff}));

  bits_init(&r, data.data(), static_cast<uint32_t>(data.size()), false);
  got.clear();
  while (bits_read(&r, 8, &v) == ErrorCode::Ok) got.push_back(v);
  EXPECT_EQ(got.size(), data.size());

  // An emulation byte as the last byte leaves nothing to read.
  const Bytes tail = hex("00 00 03");
  bits_init(&r, tail.data(), 3, true);
  ASSERT_EQ(bits_read(&r, 16, &v), ErrorCode::Ok);
  EXPECT_EQ(bits_read(&r, 8, &v), ErrorCode::NoMore);
  EXPECT_EQ(bits_read(&r, 1, &v), ErrorCode::NoMore);
}

}  // namespace
}  // namespace vantorel
