// Which samples a range cut stores and what its edit shows, on hand-made
// sample lists: pictures out of decode order, sound with a pre-roll, text
// re-timed; and the time code re-counted to the range's first frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "codecs/timecode.h"
#include "remux/range_plan.h"

namespace vantorel {
namespace {

// I0 P3 B1 B2 P6 B4 B5 | I7 ...: frames of 10 units, decode times 0, 10, ...,
// shown 20 units after decode for the I/P frames' reorder delay.
std::vector<RangeSample> pictures() {
  // Presentation order index of each sample in decode order.
  const int shown[] = {0, 3, 1, 2, 6, 4, 5, 7, 10, 8, 9};
  std::vector<RangeSample> s;
  for (int i = 0; i < 11; ++i)
    s.push_back(RangeSample{uint64_t(i) * 10, 10, (shown[i] - i) * 10 + 10, i == 0 || i == 7});
  return s;
}

TEST(RangePlan, SamplesStoredAndShown) {
  const std::vector<RangeSample> video = pictures();
  std::vector<RangeSample> sound;
  for (int i = 0; i < 10; ++i) sound.push_back(RangeSample{uint64_t(i) * 1024, 1024, 0, true});
  std::vector<RangeSample> text = {{0, 250, 0, true}, {250, 500, 0, true}, {750, 250, 0, true}};
  struct Case {
    const char* what;
    const std::vector<RangeSample>* samples;
    RangeTrackKind kind;
    uint64_t start, end, preroll;
    bool shown;
    RangeCut cut;
  };
  const Case cases[] = {
      // Frames shown 25..45 (presentation 35..55 with the delay of 10): frame 2
      // (shown 30..40) straddles the start; frame 4 (shown 50..60) is the last.
      // Decoding starts at I0; P6 is decoded before B4 and B5 that need it.
      {"mid-GOP start", &video, RangeTrackKind::Video, 35, 55, 0, true, {0, 6, 35, 55, 0, 0}},
      // From the second sync sample: nothing hidden before it (I7 shown at 80).
      {"on a sync sample", &video, RangeTrackKind::Video, 80, 100, 0, true, {7, 10, 10, 30, 0, 0}},
      {"past the pictures", &video, RangeTrackKind::Video, 200, 300, 0, false, {}},
      // Sound: the frame holding the start, one frame of pre-roll before it,
      // through the frame holding the last unit.
      {"sound with pre-roll", &sound, RangeTrackKind::Sound, 3000, 5000, 1024, true, {1, 5, 3000 - 1024, 5000 - 1024, 0, 0}},
      {"sound from its start", &sound, RangeTrackKind::Sound, 0, 1024, 1024, true, {0, 1, 0, 1024, 0, 0}},
      {"sound at a frame edge", &sound, RangeTrackKind::Sound, 2048, 3072, 1024, true, {1, 3, 1024, 2048, 0, 0}},
      // Text: re-timed, the samples that straddle a cut shortened, no edit.
      {"text straddling both cuts", &text, RangeTrackKind::Text, 300, 800, 0, true, {1, 3, 0, 0, 50, 200}},
      {"text inside one sample", &text, RangeTrackKind::Text, 300, 400, 0, true, {1, 2, 0, 0, 50, 350}},
      {"data from its sample's start", &text, RangeTrackKind::Data, 250, 750, 0, true, {1, 2, 0, 500, 0, 0}},
      {"text past its samples", &text, RangeTrackKind::Text, 1000, 1200, 0, false, {}},
      {"an empty window", &text, RangeTrackKind::Text, 300, 300, 0, false, {}},
  };
  for (const Case& c : cases) {
    RangeCut cut{};
    const bool shown = range_cut_samples(c.samples->data(), static_cast<uint32_t>(c.samples->size()), c.kind,
                                         c.start, c.end, c.preroll, &cut);
    EXPECT_EQ(shown, c.shown) << c.what;
    if (!shown) continue;
    EXPECT_EQ(cut.first, c.cut.first) << c.what;
    EXPECT_EQ(cut.end, c.cut.end) << c.what;
    EXPECT_EQ(cut.media_time, c.cut.media_time) << c.what;
    EXPECT_EQ(cut.media_end, c.cut.media_end) << c.what;
    EXPECT_EQ(cut.head_trim, c.cut.head_trim) << c.what;
    EXPECT_EQ(cut.tail_trim, c.cut.tail_trim) << c.what;
  }
}

TEST(RangePlan, TimecodeCountsFromTheFirstFrameShown) {
  // A 'tmcd' entry: 30000/1001 frames, 30 a second.
  const uint8_t entry[34] = {0, 0, 0, 34, 't', 'm', 'c', 'd', 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0,
                             0, 0, 0, 0, 0, 0, 0x75, 0x30, 0, 0, 0x03, 0xE9, 30, 0};
  TimecodeEntry tc;
  ASSERT_TRUE(timecode_entry_read(entry, sizeof entry, &tc));
  EXPECT_EQ(tc.frame_duration, 1001u);
  const uint32_t start = 108000;  // 01:00:00:00 at 30 frames a second
  struct Case {
    uint64_t elapsed;  // track units of 1/30000 s
    uint32_t frame;
  };
  // 3.000 s falls within frame 89: the first frame shown whole is 90.
  const Case cases[] = {{0, start}, {90000, start + 90}, {60060, start + 60}, {1, start + 1}};
  for (const Case& c : cases) EXPECT_EQ(timecode_advance(tc, start, c.elapsed, 30000), c.frame) << c.elapsed;
  // Short or of another type: not read.
  EXPECT_FALSE(timecode_entry_read(entry, 33, &tc));
  uint8_t other[34];
  std::copy(entry, entry + 34, other);
  other[4] = 'x';
  EXPECT_FALSE(timecode_entry_read(other, sizeof other, &tc));
}

}  // namespace
}  // namespace vantorel
