// The scheduler without files: write orders and cut points from made-up
// sample times, sizes and sync flags, and the walk that feeds it from a
// track's tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "io/value64.h"
#include "mediafile/hand_made.h"
#include "mediafile/media_file.h"
#include "remux/scheduler.h"
#include "remux/track_source.h"

namespace vantorel {
namespace {

using namespace test;

// A lane of made-up samples, every time in milliseconds (the movie's scale
// too). `sync_every` 0: no sample is a sync sample; `syncs`, when given,
// lists them (0-based) instead.
struct Made {
  char letter;
  LaneSetup setup;
  uint32_t count;
  uint32_t duration;
  uint32_t size;
  uint32_t sync_every = 1;
  std::vector<uint32_t> syncs = {};
  int32_t composition_offset = 0;
};

Made video(uint32_t count, uint32_t sync_every, uint32_t size = 1000, int32_t offset = 0, int64_t media_time = 0) {
  return Made{'v', LaneSetup{1000, true, false, false, 0, media_time, media_time}, count, 100, size, sync_every, {},
              offset};
}
Made audio(uint32_t count, uint32_t size = 100, char letter = 'a', uint32_t duration = 50) {
  return Made{letter, LaneSetup{1000, false, true, false, 0, 0, 0}, count, duration, size};
}
Made text(uint32_t count, uint32_t duration) {
  return Made{'t', LaneSetup{1000, false, false, false, 0, 0, 0}, count, duration, 10};
}

// Each part as its groups, each group as its write order in runs of one
// lane's letter: "a8 v4" is eight samples of lane 'a', then four of 'v'.
using Parts = std::vector<std::vector<std::string>>;

// Drives the scheduler as the pass loop does: queue in time order, at each
// cut point split when due (with a movie header of `header_size` bytes),
// order and write the group.
Parts schedule(const std::vector<Made>& lanes, SplitOptions split = {}, uint64_t header_size = 0) {
  Scheduler s{};
  scheduler_init(&s, 1000, split);
  for (const Made& m : lanes) EXPECT_EQ(scheduler_add_lane(&s, m.setup), ErrorCode::Ok);
  scheduler_restart(&s);
  std::vector<uint32_t> fed(lanes.size(), 0);
  auto feed = [&](uint32_t i) {
    const Made& m = lanes[i];
    uint32_t k = fed[i]++;
    bool sync = m.syncs.empty() ? m.sync_every != 0 && k % m.sync_every == 0
                                : std::find(m.syncs.begin(), m.syncs.end(), k) != m.syncs.end();
    SourceSample sample{uint64_t{k} * m.duration, m.duration, m.composition_offset, m.size, sync, k, 1, 0};
    scheduler_feed(&s, i, k < m.count ? &sample : nullptr);
  };
  for (uint32_t i = 0; i < lanes.size(); ++i) feed(i);
  Parts parts(1);
  uint32_t index = 0;
  scheduler_part_opened(&s, false);
  auto split_if_due = [&] {
    uint64_t limit = 0;
    if (!scheduler_split_limit(s, index, &limit) || !scheduler_over_limit(s, index, limit, header_size)) return;
    scheduler_part_closed(&s);
    ++index;
    parts.emplace_back();
    scheduler_part_opened(&s, true);
  };
  auto write = [&] {
    EXPECT_EQ(scheduler_order(&s), ErrorCode::Ok);
    EXPECT_EQ(s.write_order.count, s.pending.count);
    std::string runs;
    for (uint32_t k = 0; k < s.write_order.count;) {
      uint32_t lane = s.write_order[k], n = 0;
      for (; k < s.write_order.count && s.write_order[k] == lane; ++k) ++n;
      runs += (runs.empty() ? "" : " ") + std::string(1, lanes[lane].letter) + std::to_string(n);
    }
    if (!runs.empty()) parts.back().push_back(runs);
    scheduler_group_written(&s);
  };
  for (uint32_t lane; (lane = scheduler_next_lane(s)) != kNoLane;) {
    if (scheduler_is_cut_point(s, lane)) {
      split_if_due();
      write();
    }
    EXPECT_EQ(scheduler_queue(&s, lane), ErrorCode::Ok);
    feed(lane);
  }
  if (s.pending.count > 0) split_if_due();
  write();
  scheduler_release(&s);
  return parts;
}

std::vector<std::string> repeat(const std::string& group, size_t n) { return std::vector<std::string>(n, group); }

TEST(Scheduler, WriteOrderPullsAudioAheadOfVideo) {
  struct Case {
    const char* name;
    std::vector<Made> lanes;
    Parts expected;
  };
  const Case cases[] = {
      // Groups of 0.4 s: all of a group's audio starts within half a second
      // of its first picture, so it all goes first (two quarter-second runs).
      {"sync every 4 pictures", {video(12, 4), audio(24)}, {repeat("a8 v4", 3)}},
      // Groups of 2 s: quarter-second runs of audio are placed while the next
      // one starts at most half a second after the picture being placed.
      {"sync every 20 pictures", {video(20, 20), audio(40)}, {{"a15 v3 a5 v2 a5 v3 a5 v2 a5 v3 a5 v7"}}},
      // Equal times: the lower lane goes first. With sound first, the sound
      // at a sync picture's time goes into the group that picture ends.
      {"audio lane first", {audio(16), video(8, 4)}, {{"a1", "a8 v4", "a7 v4"}}},
      // Two sound tracks each get their own runs; text keeps its place.
      {"two sound tracks and text",
       {video(4, 4), audio(8), audio(4, 100, 'b', 100), text(2, 200)},
       {{"a5 b3 a3 b1 v1 t1 v2 t1 v1"}}},
      // Without video every sample is a cut point: one sample a group.
      {"no video", {audio(3, 100, 'a', 30), audio(2, 100, 'b', 50)}, {{"a1", "b1", "a1", "b1", "a1"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(schedule(c.lanes), c.expected);
  }
}

TEST(Scheduler, CutsAtVideoSyncSamplesAndSplitsWhenFull) {
  auto by_size = [](const uint64_t* limit) { return SplitOptions{kSplitBySize, limit, 1, false}; };
  auto by_duration = [](const uint64_t* limit) { return SplitOptions{kSplitByDuration, limit, 1, false}; };
  // A group of four pictures and eight sound samples: 4,800 bytes of
  // samples and 12 x 53 of tables at most, plus the 8-byte 'mdat' header.
  static const uint64_t k10000 = 10000, k15044 = 15044, k15043 = 15043, k1000 = 1000, k1200 = 1200, k400 = 400;
  // Three groups: 14,400 bytes of samples, 636 of tables, 8 of 'mdat' header.
  static const uint64_t k_per_part[] = {1000, 400};
  struct Case {
    const char* name;
    std::vector<Made> lanes;
    SplitOptions split;
    uint64_t header_size;
    std::vector<size_t> groups_per_part;
  };
  Made irregular = video(12, 0);
  irregular.syncs = {0, 3, 4, 9};
  const Case cases[] = {
      {"no split", {video(16, 4), audio(32)}, {}, 0, {4}},
      {"cuts only at sync samples", {irregular, audio(24)}, {}, 0, {4}},
      {"by size, three groups fit exactly", {video(16, 4), audio(32)}, by_size(&k15044), 0, {3, 1}},
      {"by size, one byte less", {video(16, 4), audio(32)}, by_size(&k15043), 0, {2, 2}},
      {"by size, the movie header counts", {video(16, 4), audio(32)}, by_size(&k15044), 1, {2, 2}},
      {"by size, one group a part", {video(16, 4), audio(32)}, by_size(&k10000), 0, {1, 1, 1, 1}},
      // A group larger than the limit goes whole into a part of its own;
      // no part is left empty.
      {"a group larger than the limit", {video(16, 4), audio(32)}, by_size(&k1000), 0, {1, 1, 1, 1}},
      // Parts last as long as their movie header says, at most the limit.
      {"by duration, at the limit", {video(16, 4), audio(32)}, by_duration(&k1200), 0, {3, 1}},
      {"by duration, below", {video(16, 4), audio(32)}, by_duration(&k1000), 0, {2, 2}},
      // Composition offsets carry the presentation past the decode times,
      // unless the edit starts as late.
      {"by duration, offsets", {video(16, 4, 1000, 250), audio(32)}, by_duration(&k1000), 0, {1, 1, 1, 1}},
      {"by duration, offsets edited", {video(16, 4, 1000, 250, 250), audio(32)}, by_duration(&k1000), 0, {2, 2}},
      // Limit k for part k, and none after the last.
      {"per-part limits", {video(20, 4), audio(40)}, {kSplitByDuration, k_per_part, 2, true}, 0, {2, 1, 2}},
      // Without video each sample is a group, so a part ends anywhere.
      {"no video, by duration", {audio(10, 100, 'a', 100)}, by_duration(&k400), 0, {4, 4, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Parts parts = schedule(c.lanes, c.split, c.header_size);
    std::vector<size_t> groups;
    for (const auto& part : parts) groups.push_back(part.size());
    EXPECT_EQ(groups, c.groups_per_part);
  }
  Made syncs = irregular;
  EXPECT_EQ(schedule({syncs}), (Parts{{"v3", "v1", "v5", "v3"}}));
}

// With video, every part starts with a picture: sound before the first one
// goes with it into the first part, and a limit the pictures cannot keep
// (a single sync sample, a group of pictures above the limit) leaves the
// parts large instead of writing one without a picture.
TEST(Scheduler, EveryPartOfAMovieWithVideoHoldsAPicture) {
  static const uint64_t k100 = 100, k1000 = 1000, k3000 = 3000;
  auto by_size = [](const uint64_t* limit) { return SplitOptions{kSplitBySize, limit, 1, false}; };
  auto by_duration = [](const uint64_t* limit) { return SplitOptions{kSplitByDuration, limit, 1, false}; };
  Made late = video(8, 4);
  late.setup.start_delay = 300;  // the pictures start 0.3 s after the sound
  Made late_single = video(8, 0);
  late_single.syncs = {0};
  late_single.setup.start_delay = 300;
  Made single = video(16, 0);
  single.syncs = {0};
  struct Case {
    const char* name;
    std::vector<Made> lanes;
    SplitOptions split;
    Parts expected;
  };
  const Case cases[] = {
      {"sound at the first picture's time", {audio(16), video(8, 4)}, by_duration(&k100), {{"a1", "a8 v4"}, {"a7 v4"}}},
      {"sound 0.3 s ahead, by duration", {audio(22), late}, by_duration(&k100), {{"a7", "a8 v4"}, {"a7 v4"}}},
      {"sound 0.3 s ahead, by size", {audio(22), late}, by_size(&k1000), {{"a7", "a8 v4"}, {"a7 v4"}}},
      {"one sync sample, sound ahead", {audio(22), late_single}, by_size(&k1000), {{"a7", "a10 v1 a5 v7"}}},
      {"one sync sample", {single, audio(32)}, by_size(&k100), {{"a15 v3 a5 v2 a5 v3 a5 v2 a2 v6"}}},
      {"groups above the limit", {video(16, 8), audio(32)}, by_size(&k3000),
       {{"a15 v3 a1 v5"}, {"a15 v3 a1 v5"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(schedule(c.lanes, c.split), c.expected);
  }
}

// The walk over a track's tables: runs of no samples stepped over,
// composition offsets and sync samples by their runs and numbers.
TEST(Scheduler, TrackSourceWalksTheTables) {
  HandTrack t;
  t.sizes = {10, 11, 12, 13, 14};
  t.stts = {{2, 40}, {0, 99}, {3, 20}};
  t.ctts = {{1, 80}, {0, 5}, {4, 20}};
  t.stss = {1, 4};
  Bytes bytes = hand_made_file({t});
  MemoryPair pair{bytes.data(), static_cast<uint32_t>(bytes.size())};
  OpenParams p{};
  p.routines = memory_routines();
  p.path = &pair;
  MediaFile* file = nullptr;
  ASSERT_EQ(media_open(&file, &p, kOpenRead), ErrorCode::Ok);
  struct Walked {
    uint64_t decode_time;
    uint32_t duration, size;
    int32_t offset;
    bool sync;
    bool operator==(const Walked&) const = default;
  };
  auto walk = [](const std::vector<SampleSource>& sources) {
    TrackCursor cursor;
    EXPECT_EQ(track_source_start(&cursor, sources.data(), static_cast<uint32_t>(sources.size())), ErrorCode::Ok);
    std::vector<Walked> out;
    for (SourceSample s; track_source_next(&cursor, &s);)
      out.push_back({s.decode_time, s.duration, s.size, s.composition_offset, s.sync});
    return out;
  };
  const std::vector<Walked> whole = {
      {0, 40, 10, 80, true}, {40, 40, 11, 20, false}, {80, 20, 12, 20, false}, {100, 20, 13, 20, true},
      {120, 20, 14, 20, false}};
  EXPECT_EQ(walk({SampleSource{file, 1, 5, 0, 5, 0, 0, 0, 0, 0, 0, 0}}), whole);
  // A second source goes on where the first ended.
  std::vector<Walked> twice = walk({SampleSource{file, 1, 2, 0, 2, 0, 0, 0, 0, 0, 0, 0}, SampleSource{file, 1, 3, 0, 3, 0, 0, 0, 0, 0, 0, 0}});
  const std::vector<Walked> expected = {
      {0, 40, 10, 80, true}, {40, 40, 11, 20, false}, {80, 40, 10, 80, true}, {120, 40, 11, 20, false},
      {160, 20, 12, 20, false}};
  EXPECT_EQ(twice, expected);
  // A span of samples 1 to 3, its first sample shortened at its start and
  // its last at its end; a trim as long as the sample leaves one unit.
  const std::vector<Walked> cut = {{0, 30, 11, 20, false}, {30, 20, 12, 20, false}, {50, 5, 13, 20, true}};
  EXPECT_EQ(walk({SampleSource{file, 1, 5, 1, 4, 10, 15, 0, 0, 0, 0, 0}}), cut);
  const std::vector<Walked> floor = {{0, 1, 12, 20, false}};
  EXPECT_EQ(walk({SampleSource{file, 1, 5, 2, 3, 20, 0, 0, 0, 0, 0, 0}}), floor);
  TrackCursor cursor;
  SampleSource span{file, 1, 5, 3, 6, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(track_source_start(&cursor, &span, 1), ErrorCode::BadArgument);
  media_close(file);
}

}  // namespace
}  // namespace vantorel
