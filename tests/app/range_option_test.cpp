// --range values and the command lines that take or refuse them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/range_option.h"

namespace vantorel::app {
namespace {

constexpr uint64_t kS = 1000000000;  // nanoseconds a second
constexpr uint64_t kToEnd = UINT64_MAX;

TEST(RangeOption, ValuesParse) {
  struct Case {
    const char* text;
    RangeParse result;
    uint32_t unit;
    uint64_t start, end;
  };
  const Case cases[] = {
      {"3.0-7.0", RangeParse::Ok, kRangeValueNanoseconds, 3 * kS, 7 * kS},
      {"4.004-6.006", RangeParse::Ok, kRangeValueNanoseconds, 4004000000ull, 6006000000ull},
      {"0.000000001-1", RangeParse::Ok, kRangeValueNanoseconds, 1, kS},
      {"1:02-1:05.5", RangeParse::Ok, kRangeValueNanoseconds, 62 * kS, 65500000000ull},
      {"01:00:00-01:00:01.25", RangeParse::Ok, kRangeValueNanoseconds, 3600 * kS, 3601250000000ull},
      {"90:00-", RangeParse::Ok, kRangeValueNanoseconds, 5400 * kS, kToEnd},
      {"-7", RangeParse::Ok, kRangeValueNanoseconds, 0, 7 * kS},
      {"f90-f210", RangeParse::Ok, kRangeValueFrames, 90, 210},
      {"f90-", RangeParse::Ok, kRangeValueFrames, 90, kToEnd},
      {"-f10", RangeParse::Ok, kRangeValueFrames, 0, 10},
      // The end is not after the start.
      {"7-3", RangeParse::Backwards, 0, 0, 0},
      {"3-3.0", RangeParse::Backwards, 0, 0, 0},
      {"f5-f5", RangeParse::Backwards, 0, 0, 0},
      {"1:00-59.9", RangeParse::Backwards, 0, 0, 0},
      // Not START-END.
      {"", RangeParse::Malformed, 0, 0, 0},
      {"-", RangeParse::Malformed, 0, 0, 0},
      {"3", RangeParse::Malformed, 0, 0, 0},
      {"3-4-5", RangeParse::Malformed, 0, 0, 0},
      {"3s-4s", RangeParse::Malformed, 0, 0, 0},
      {"3.-4", RangeParse::Malformed, 0, 0, 0},
      {".5-4", RangeParse::Malformed, 0, 0, 0},
      {"3.1234567891-4", RangeParse::Malformed, 0, 0, 0},
      {"f3-4", RangeParse::Malformed, 0, 0, 0},
      {"3-f4", RangeParse::Malformed, 0, 0, 0},
      {"f-f4", RangeParse::Malformed, 0, 0, 0},
      {"f1.5-f4", RangeParse::Malformed, 0, 0, 0},
      {"1:60-2:00", RangeParse::Malformed, 0, 0, 0},
      {"1:60:00-2:00:00", RangeParse::Malformed, 0, 0, 0},
      {"1:2:3:4-5", RangeParse::Malformed, 0, 0, 0},
      {":30-1:00", RangeParse::Malformed, 0, 0, 0},
      {"18446744073709551616-", RangeParse::Malformed, 0, 0, 0},
      {"18446744074-", RangeParse::Malformed, 0, 0, 0},  // seconds past 64 bits of nanoseconds
      {"f18446744073709551616-", RangeParse::Malformed, 0, 0, 0},
  };
  for (const Case& c : cases) {
    RangeValue v;
    EXPECT_EQ(parse_range_value(c.text, &v), c.result) << c.text;
    if (c.result != RangeParse::Ok) continue;
    EXPECT_EQ(v.unit, c.unit) << c.text;
    EXPECT_EQ(v.start, c.start) << c.text;
    EXPECT_EQ(v.end, c.end) << c.text;
    EXPECT_STREQ(v.text, c.text);
  }
}

TEST(RangeOption, SecondsAreShownToTheMillisecond) {
  const std::pair<uint64_t, const char*> cases[] = {
      {2002000000ull, "2.002"}, {3 * kS, "3.000"}, {2001999999ull, "2.002"}, {499999, "0.000"}, {59999500000ull, "60.000"}};
  for (const auto& [ns, text] : cases) {
    char out[32];
    format_range_seconds(ns, out, sizeof out);
    EXPECT_STREQ(out, text);
  }
}

struct Parsed {
  bool ok;
  CommandLine line;
  std::string error;
};

Parsed parse(const std::vector<const char*>& args) {
  std::vector<const char*> argv = {"vantorel"};
  argv.insert(argv.end(), args.begin(), args.end());
  Parsed p{};
  char error[kCommandErrorCapacity];
  p.ok = parse_command_line(static_cast<int>(argv.size()), argv.data(), &p.line, error);
  p.error = error;
  return p;
}

TEST(RangeOption, CommandLinesTakeRanges) {
  Parsed two = parse({"--range", "3-7", "in.mp4", "--range=f10-f20", "out.mp4", "--range-mode", "keyframe"});
  ASSERT_TRUE(two.ok) << two.error;
  ASSERT_EQ(two.line.range_count, 2u);
  EXPECT_EQ(two.line.ranges[0].start, 3 * kS);
  EXPECT_EQ(two.line.ranges[1].unit, uint32_t{kRangeValueFrames});
  EXPECT_EQ(two.line.ranges[1].end, 20u);
  EXPECT_EQ(two.line.range_keyframe, 1u);
  // An empty START is given as the option's next argument, dash and all.
  Parsed open_start = parse({"--range", "-7", "in.mp4", "-"});
  ASSERT_TRUE(open_start.ok) << open_start.error;
  EXPECT_EQ(open_start.line.ranges[0].end, 7 * kS);
}

TEST(RangeOption, CommandLinesRefuseRangesThatCannotBe) {
  struct Case {
    std::vector<const char*> args;
    const char* said;  // in the message
  };
  const Case cases[] = {
      {{"--range", "7-3", "in", "out.mp4"}, "'7-3'"},
      {{"--range", "3s-7", "in", "out.mp4"}, "'3s-7'"},
      {{"--range", "1-2", "--range", "3-4", "in", "-"}, "standard output"},
      {{"--range", "1-2", "--split-duration", "1", "in", "out.mp4"}, "'1-2'"},
      {{"--split-size", "1M", "--range", "1-2", "in", "out.mp4"}, "split"},
      {{"--range-mode", "keyframe", "in", "out.mp4"}, "--range-mode goes with --range"},
      {{"--range", "1-2", "--range-mode", "first", "in", "out.mp4"}, "'first'"},
      {{"--info", "--range", "1-2", "in"}, "--range"},
  };
  for (const Case& c : cases) {
    Parsed p = parse(c.args);
    EXPECT_FALSE(p.ok) << c.args[1];
    EXPECT_NE(p.error.find(c.said), std::string::npos) << p.error;
  }
}

}  // namespace
}  // namespace vantorel::app
