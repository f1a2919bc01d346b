#include <gtest/gtest.h>

#include <vector>

#include "import/mpegts/ts_time.h"

namespace vantorel {
namespace {

constexpr int64_t W = kTsTimeWrap;

TEST(TsTime, TimestampsUnwrapAcrossTheThirtyThreeBitWrap) {
  struct Case {
    const char* name;
    std::vector<uint64_t> raw;
    std::vector<int64_t> unwrapped;
  };
  const Case cases[] = {
      {"steady", {1000, 4003, 7006}, {1000, 4003, 7006}},
      {"over the wrap", {W - 3003, W - 1, 3002, 6005}, {W - 3003, W - 1, W + 3002, W + 6005}},
      {"twice over", {W - 10, 5, W / 2 - 7, W - 10, 20}, {W - 10, W + 5, W + W / 2 - 7, 2 * W - 10, 2 * W + 20}},
      {"reordered presentation times before the wrap", {W - 3000, 6000, W - 6000}, {W - 3000, W + 6000, W - 6000}},
      {"below the first value", {100, W - 100}, {100, -100}},
      {"bits above 33 are ignored", {W + 50, 2 * W + 60}, {50, 60}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TsUnwrap u{};
    std::vector<int64_t> got;
    for (uint64_t r : c.raw) got.push_back(ts_unwrap(&u, r));
    EXPECT_EQ(got, c.unwrapped);
  }
}

TEST(TsTime, JumpsAreFoundByIndicatorOrSize) {
  const int64_t second = kTsClockRate;
  struct Case {
    int64_t previous, next;
    bool discontinuity;
    TsJump jump;
  };
  const Case cases[] = {
      {0, 3003, false, TsJump::None},
      {0, second, false, TsJump::None},
      {0, second + 1, false, TsJump::Forward},
      {0, 3003, true, TsJump::None},  // an indicator without a jump
      {5000, 4000, false, TsJump::None},  // a faulty step back, not a new recording
      {5000, 4000, true, TsJump::Backward},
      {10 * second, 0, false, TsJump::Backward},
      {0, 10 * second, true, TsJump::Forward},
      // Times too far apart to subtract (an unknown time is INT64_MIN): a jump, not an overflow.
      {INT64_MIN, 45000, false, TsJump::Forward},
      {INT64_MAX, -45000, false, TsJump::Backward},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.previous << " -> " << c.next << " indicator " << c.discontinuity);
    EXPECT_EQ(ts_jump(c.previous, c.next, c.discontinuity, second), c.jump);
  }
}

TEST(TsTime, ReferenceStretchesJoinBackToBackAndOthersFollow) {
  // Two recordings joined: the second restarts at 0 (a backward jump); a
  // third jumps ahead by an hour.
  const std::vector<TsStretch> reference = {
      {0, 126000, 126000 + 720720},
      {5000000, 126000, 126000 + 360360},
      {9000000, 400000000, 400000000 + 90090},
  };
  std::vector<int64_t> shifts(reference.size());
  ts_join_reference(reference.data(), 3, shifts.data());
  EXPECT_EQ(shifts, (std::vector<int64_t>{0, 720720, 720720 + 360360 + 126000 - 400000000}));
  // Each stretch then begins where the one before ends.
  for (size_t i = 1; i < reference.size(); ++i)
    EXPECT_EQ(reference[i].start + shifts[i], reference[i - 1].end + shifts[i - 1]);

  struct Case {
    uint64_t offset;
    uint32_t stretch;
  };
  const Case cases[] = {{0, 0}, {300, 0}, {4990000, 1}, {5003000, 1}, {7000000, 1}, {7000001, 2}, {UINT64_MAX, 2}};
  for (const Case& c : cases) EXPECT_EQ(ts_match_stretch(reference.data(), 3, c.offset), c.stretch) << c.offset;
}

}  // namespace
}  // namespace vantorel
