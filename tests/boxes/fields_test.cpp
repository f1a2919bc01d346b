// The layout walker: one description read, written and sized alike, and
// every read checked against the end of its box.
#include <gtest/gtest.h>

#include <cstddef>

#include "boxes/fields.h"
#include "support/box_builder.h"

namespace vantorel {
namespace {

using namespace test;

struct Sample {
  uint8_t version;
  uint32_t flags;
  uint64_t time;
  int64_t signed_time;
  uint16_t pair[2];
  uint64_t optional_value;
  uint8_t name[4];
  char language[4];
};

constexpr Field kLayout[] = {
    version_field(offsetof(Sample, version)),
    flags_field(offsetof(Sample, flags)),
    time_field(offsetof(Sample, time)),
    signed_time_field(offsetof(Sample, signed_time)),
    u16_field(offsetof(Sample, pair), 2),
    reserved(3),
    optional(u64_field(offsetof(Sample, optional_value)), 0x000010),
    bytes_field(offsetof(Sample, name), 4),
    language_field(offsetof(Sample, language)),
};

TEST(Fields, EveryShapeReadsWritesAndSizesAlike) {
  struct Case {
    const char* name;
    Bytes payload;
    uint64_t time;
    int64_t signed_time;
    uint64_t optional_value;
  };
  const Bytes tail = cat({u16(7), u16(9), zeros(3)});
  const Bytes name_and_language = cat({text("abcd"), u16(0x55C4)});  // "und"
  const Case cases[] = {
      {"version 0, no optional field", cat({u8(0), u24(0), u32(5), u32(0xFFFFFFFF), tail, name_and_language}), 5,
       -1, 0},
      {"version 1", cat({u8(1), u24(0), u64(uint64_t{1} << 40), u64(0xFFFFFFFFFFFFFFFEull), tail, name_and_language}),
       uint64_t{1} << 40, -2, 0},
      {"optional field present", cat({u8(0), u24(0x10), u32(6), u32(7), tail, u64(99), name_and_language}), 6, 7, 99},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile in(box("test", c.payload));
    BoxHeader h;
    ASSERT_EQ(read_box_header(in.get(), &h), ErrorCode::Ok);
    Sample s{};
    ASSERT_EQ(read_fields(in.get(), &h, kLayout, &s, "cut"), ErrorCode::Ok);
    EXPECT_EQ(s.time, c.time);
    EXPECT_EQ(s.signed_time, c.signed_time);
    EXPECT_EQ(s.pair[1], 9u);
    EXPECT_EQ(s.optional_value, c.optional_value);
    EXPECT_STREQ(s.language, "und");
    EXPECT_EQ(size_fields(kLayout, &s), c.payload.size());
    MemoryFile out({}, kOpenCreate);
    ASSERT_EQ(write_fields(out.get(), kLayout, &s), ErrorCode::Ok);
    EXPECT_EQ(out.contents(), c.payload);

    // Cut anywhere inside its fields, the box is refused and nothing past it is read.
    for (size_t keep = 0; keep < c.payload.size(); ++keep) {
      Bytes cut(c.payload.begin(), c.payload.begin() + static_cast<long>(keep));
      MemoryFile short_file(cat({box("test", cut), box("next", zeros(16))}));
      BoxHeader sh;
      ASSERT_EQ(read_box_header(short_file.get(), &sh), ErrorCode::Ok);
      Sample t{};
      EXPECT_EQ(read_fields(short_file.get(), &sh, kLayout, &t, "cut"), ErrorCode::Malformed) << keep;
      EXPECT_LE(file_tell(short_file.get()), sh.end) << keep;
      EXPECT_EQ(short_file->short_boxes, 1u);
      EXPECT_STREQ(short_file->detail.reason, "cut");
    }
  }
}

TEST(Fields, MediaLanguages) {
  struct Case {
    uint16_t value;
    const char* language;
  };
  const Case cases[] = {
      {0, "eng"},      {1, "fre"},      {2, "ger"},   {11, "jpn"},     {19, "chi"},     {94, "epo"},
      {95, "und"},     {128, "wel"},    {151, "nno"}, {152, "und"},    {0x3FF, "und"},  {0x7FFF, "und"},
      {0x55C4, "und"}, {0x15C7, "eng"}, {0x1A41, "fra"},
  };
  for (const Case& c : cases) {
    char language[4] = {};
    read_language(c.value, language);
    EXPECT_STREQ(language, c.language) << c.value;
  }
}

}  // namespace
}  // namespace vantorel
