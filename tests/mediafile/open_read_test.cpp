// Opening, probing, track summaries, seeking and reading, over hand-made files.
#include <gtest/gtest.h>

#include <cstring>

#include "boxes/hdlr.h"
#include "mediafile/hand_made.h"
#include "mediafile/mediafile.h"
#include "sampletables/stss.h"

namespace vantorel {
namespace {

using namespace test;

// A file of the library over bytes in memory.
struct Opened {
  Bytes bytes;
  MemoryPair pair{};
  MediaFile* file = nullptr;
  ErrorCode result = ErrorCode::Ok;

  explicit Opened(Bytes b, uint32_t mode = kOpenRead) : bytes(std::move(b)) {
    pair = MemoryPair{bytes.data(), static_cast<uint32_t>(bytes.size())};
    OpenParams params{};
    params.routines = memory_routines();
    params.path = &pair;
    result = media_open(&file, &params, mode);
  }
  ~Opened() {
    if (file != nullptr) media_close(file);
  }
};

SampleRead reader(uint8_t* buffer, uint32_t capacity) {
  SampleRead s{};
  s.buffer = buffer;
  s.capacity = capacity;
  return s;
}

HandTrack video_track(uint32_t samples, uint32_t delta = 100) {
  HandTrack t;
  for (uint32_t i = 0; i < samples; ++i) t.sizes.push_back(10 + i);
  t.stts = {{samples, delta}};
  return t;
}

TEST(Open, ProbesTheFirstBox) {
  Bytes movie = hand_made_file({video_track(3)});
  for (const char* first : {"wide", "free", "skip", "pnot", "uuid", "mdat", "moof", "mfra"}) {
    SCOPED_TRACE(first);
    Bytes lead = std::string(first) == "uuid" ? cat({u32(24), text("uuid"), zeros(16)}) : box(first, {});
    Opened o(cat({lead, box("free", zeros(4))}));
    EXPECT_EQ(o.result, ErrorCode::Ok);
  }
  for (uint32_t mode : {kOpenRead, kOpenInspect}) {
    Opened bad(cat({box("abcd", zeros(8)), movie}), mode);
    EXPECT_EQ(bad.result, ErrorCode::Unsupported);
    Opened tiny(Bytes{1, 2, 3}, mode);
    EXPECT_EQ(tiny.result, ErrorCode::Unsupported);
  }
  Opened ok(movie);
  ASSERT_EQ(ok.result, ErrorCode::Ok);
  EXPECT_EQ(ok.file->flavour, kFlavourMp4);
  Opened qt(hand_made_file({video_track(3)}, "qt  "));
  ASSERT_EQ(qt.result, ErrorCode::Ok);
  EXPECT_EQ(qt.file->flavour, kFlavourQuickTime);
}

TEST(Open, ReadModeCleansTablesAndStartsAtTheFirstSyncSample) {
  HandTrack all_sync = video_track(4);
  all_sync.stss = {1, 2, 3, 4};
  HandTrack late_sync = video_track(4);
  late_sync.track_id = 2;
  late_sync.stss = {3};
  late_sync.ctts = {{4, 0}};  // a single entry of offset 0: dropped
  Opened o(hand_made_file({all_sync, late_sync}));
  ASSERT_EQ(o.result, ErrorCode::Ok);
  EXPECT_EQ(find_box(track_at(o.file->root, 0), BoxTypeId::Stss), nullptr);
  EXPECT_NE(find_box(track_at(o.file->root, 1), BoxTypeId::Stss), nullptr);
  EXPECT_EQ(find_box(track_at(o.file->root, 1), BoxTypeId::Ctts), nullptr);
  uint8_t buf[64];
  SampleRead s = reader(buf, sizeof buf);
  ASSERT_EQ(read_next_sample(o.file, 2, &s), ErrorCode::Ok);
  EXPECT_EQ(s.index, 2u);  // the cursor began at the sync sample
  EXPECT_EQ(s.sync, 1u);
  EXPECT_EQ(s.composition_offset, 0);
  ASSERT_EQ(read_next_sample(o.file, 1, &s), ErrorCode::Ok);
  EXPECT_EQ(s.index, 0u);
  EXPECT_EQ(s.sync, 1u);  // no sync table: every sample is a sync sample
}

TEST(Read, SamplesTimesAndTheEnd) {
  HandTrack t = video_track(5, 40);
  t.ctts = {{2, 80}, {3, 0}};
  t.stss = {1, 4};
  t.stsc = {{1, 2, 1}};  // two samples a chunk, the last chunk holding one
  Opened o(hand_made_file({t}));
  ASSERT_EQ(o.result, ErrorCode::Ok);
  uint8_t buf[64];
  for (uint32_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    SampleRead s = reader(buf, sizeof buf);
    ASSERT_EQ(read_next_sample(o.file, 1, &s), ErrorCode::Ok);
    EXPECT_EQ(s.size, 10 + i);
    EXPECT_EQ(buf[0], i + 1);
    EXPECT_EQ(buf[s.size - 1], i + 1);
    EXPECT_EQ(s.index, i);
    EXPECT_EQ(s.time, 40u * i);
    EXPECT_EQ(s.duration, 40u);
    EXPECT_EQ(s.composition_offset, i < 2 ? 80 : 0);
    EXPECT_EQ(s.sync, (i == 0 || i == 3) ? 1u : 0u);
    EXPECT_EQ(s.description_index, 1u);
  }
  SampleRead s = reader(buf, sizeof buf);
  EXPECT_EQ(read_next_sample(o.file, 1, &s), ErrorCode::NoMore);
  EXPECT_EQ(read_next_sample(o.file, 9, &s), ErrorCode::Missing);
}

TEST(Read, ABufferOneByteTooSmallReadsNothing) {
  Opened o(hand_made_file({video_track(2)}));
  ASSERT_EQ(o.result, ErrorCode::Ok);
  uint8_t buf[64];
  SampleRead s = reader(buf, 9);  // the first sample has 10 bytes
  EXPECT_EQ(read_next_sample(o.file, 1, &s), ErrorCode::OutOfMemory);
  s.capacity = 10;
  ASSERT_EQ(read_next_sample(o.file, 1, &s), ErrorCode::Ok);
  EXPECT_EQ(s.index, 0u);
  EXPECT_EQ(s.size, 10u);
}

TEST(Seek, ByTimeAndIndexWithSnapping) {
  HandTrack t = video_track(6, 100);  // media scale 1000
  t.stss = {2, 4};
  t.edits = {{1200, -1}, {0, 50}};  // 2 s of nothing (movie scale 600), then media from 50
  Opened o(hand_made_file({t}));
  ASSERT_EQ(o.result, ErrorCode::Ok);
  uint32_t index = 0;
  uint64_t time = 0;
  // Before the delay: sample 1, at delay - media start + its decode time.
  time = 500;
  ASSERT_EQ(track_seek(o.file, 1, 1, &index, &time, 0, 0), ErrorCode::Ok);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(time, 2000u - 50u);
  // 2000 + 200 on the track's timeline is media time 250: sample 3.
  time = 2200;
  ASSERT_EQ(track_seek(o.file, 1, 1, &index, &time, 0, 0), ErrorCode::Ok);
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(time, 2000u + 200u - 50u);
  // Beyond the last sample.
  time = 2000 + 600;
  EXPECT_EQ(track_seek(o.file, 1, 1, &index, &time, 0, 0), ErrorCode::NoMore);
  // Snapping forward past the last sync sample lands on it; backward before
  // the first lands on the first.
  index = 4;
  ASSERT_EQ(track_seek(o.file, 1, 0, &index, &time, 1, 1), ErrorCode::Ok);
  EXPECT_EQ(index, 3u);
  index = 0;
  ASSERT_EQ(track_seek(o.file, 1, 0, &index, &time, 1, 0), ErrorCode::Ok);
  EXPECT_EQ(index, 1u);
  uint8_t buf[64];
  SampleRead s = reader(buf, sizeof buf);
  ASSERT_EQ(read_next_sample(o.file, 1, &s), ErrorCode::Ok);
  EXPECT_EQ(buf[0], 2);
  EXPECT_EQ(s.sync, 1u);
  index = 9;
  EXPECT_EQ(track_seek(o.file, 1, 0, &index, &time, 0, 0), ErrorCode::NoMore);
  EXPECT_EQ(track_seek(o.file, 1, 2, &index, &time, 0, 0), ErrorCode::BadArgument);
}

TEST(Read, TablesThatDisagreeEndTheTrackWithoutReadingOutside) {
  HandTrack short_chunks = video_track(4);
  short_chunks.drop_last_chunk_offset = true;  // four samples, three chunks
  Opened o(hand_made_file({short_chunks}));
  ASSERT_EQ(o.result, ErrorCode::Ok);
  uint8_t buf[64];
  int read = 0;
  SampleRead s = reader(buf, sizeof buf);
  while (read_next_sample(o.file, 1, &s) == ErrorCode::Ok) ++read;
  EXPECT_EQ(read, 3);

  // A chunk offset past the end of the file fails that read with 3.
  Bytes bytes = hand_made_file({video_track(2)});
  Opened cut(Bytes(bytes.begin(), bytes.end() - 5));
  ASSERT_EQ(cut.result, ErrorCode::Ok);
  SampleRead a = reader(buf, sizeof buf);
  ASSERT_EQ(read_next_sample(cut.file, 1, &a), ErrorCode::Ok);
  EXPECT_EQ(read_next_sample(cut.file, 1, &a), ErrorCode::Io);

  // A zero time scale: the track reads, its durations are 0.
  HandTrack zero = video_track(2);
  zero.timescale = 0;
  Opened z(hand_made_file({zero}));
  ASSERT_EQ(z.result, ErrorCode::Ok);
  TrackInfo info;
  ASSERT_EQ(track_info(z.file, 1, &info), ErrorCode::Ok);
  EXPECT_EQ(info.timescale, 0u);
  EXPECT_EQ(track_avg_bitrate(track_at(z.file->root, 0)), 0u);
}

TEST(Tracks, SummariesIterationAndUnknownHandlers) {
  HandTrack video = video_track(3);
  HandTrack text = video_track(2);
  text.handler = "zzzz";
  text.track_id = 2;
  HandTrack sound = video_track(4);
  sound.handler = "soun";
  sound.track_id = 3;
  sound.timescale = 44100;
  Opened o(hand_made_file({video, text, sound}));
  ASSERT_EQ(o.result, ErrorCode::Ok);
  MovieInfo movie;
  ASSERT_EQ(movie_info(o.file, &movie), ErrorCode::Ok);
  EXPECT_EQ(movie.timescale, 600u);
  EXPECT_EQ(movie.track_count, 3u);
  EXPECT_EQ(movie.video_count, 1u);
  EXPECT_EQ(movie.first_video_id, 1u);
  EXPECT_EQ(movie.sound_count, 1u);
  EXPECT_EQ(movie.first_sound_id, 3u);

  TrackIterator* it = track_iterator_new(o.file, 0, 0);
  TrackInfo info;
  std::vector<uint32_t> ids;
  while (track_iterator_next(it, &info) == ErrorCode::Ok) ids.push_back(info.track_id);
  EXPECT_EQ(ids, (std::vector<uint32_t>{1, 2, 3}));  // the unknown handler does not stop the walk
  track_iterator_free(it);

  ASSERT_EQ(track_info(o.file, 2, &info), ErrorCode::Ok);
  EXPECT_EQ(info.kind, 0u);
  EXPECT_TRUE(info.fourcc == "tx3g");  // a format known whatever the handler
  EXPECT_EQ(info.sample_count, 2u);
  uint8_t buf[64];
  SampleRead s = reader(buf, sizeof buf);
  EXPECT_EQ(read_next_sample(o.file, 2, &s), ErrorCode::Ok);  // its samples still read

  ASSERT_EQ(track_info(o.file, 1, &info), ErrorCode::Ok);
  EXPECT_TRUE(info.fourcc == "mp4v");
  EXPECT_EQ(info.width, 64u);
  EXPECT_EQ(info.height, 48u);
  EXPECT_EQ(info.max_sample_size, 12u);
  EXPECT_EQ(info.media_duration, 300u);
  EXPECT_STREQ(info.language, "und");
  ASSERT_EQ(track_info(o.file, 3, &info), ErrorCode::Ok);
  EXPECT_TRUE(info.fourcc == "mp4a");
  EXPECT_EQ(info.sample_rate, 44100u);
  EXPECT_EQ(info.channel_count, 2u);

  it = track_iterator_new(o.file, 1, kHandlerSound);
  ASSERT_EQ(track_iterator_next(it, &info), ErrorCode::Ok);
  EXPECT_EQ(info.track_id, 3u);
  EXPECT_EQ(track_iterator_next(it, &info), ErrorCode::NoMore);
  track_iterator_free(it);
  EXPECT_EQ(track_info(o.file, 7, &info), ErrorCode::Missing);
}

TEST(Statistics, BitRatesAndSizes) {
  HandTrack t;
  // Ten samples of 100 bytes every 0.25 s, then one of 1000 bytes.
  for (int i = 0; i < 10; ++i) t.sizes.push_back(100);
  t.sizes.push_back(1000);
  t.stts = {{11, 250}};
  Opened o(hand_made_file({t}));
  ASSERT_EQ(o.result, ErrorCode::Ok);
  TrackBoxes* track = track_at(o.file->root, 0);
  EXPECT_EQ(track_total_bytes(track), 2000u);
  EXPECT_EQ(track_max_sample_size(track), 1000u);
  EXPECT_EQ(track_min_delta(track), 250u);
  EXPECT_FALSE(track_delta_varies(track));
  EXPECT_EQ(track_chunk_count(track), 11u);
  // 2000 bytes in 2.75 s.
  EXPECT_EQ(track_avg_bitrate(track), (2000u * 1000 / 2750) * 8);
  // The busiest window: the last samples of 100 bytes with the large one.
  EXPECT_EQ(track_max_bitrate(track), (4 * 100 + 1000) * 8u);
  SizeEstimate estimate;
  ASSERT_EQ(size_estimate(o.file, &estimate, kEstimateHeader | kEstimateSamples), ErrorCode::Ok);
  EXPECT_EQ(estimate.ftyp_size, 20u);
  EXPECT_EQ(estimate.total_sample_bytes, 2000u);
  EXPECT_GT(estimate.header_size, estimate.ftyp_size);
}

// The busiest second follows the time table as reading does: a run of no
// samples is stepped over, and samples past the table keep its last delta.
TEST(Statistics, MaxBitRateFollowsTheTimeTable) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint32_t, uint32_t>> stts;
    std::vector<uint32_t> sizes;
    uint32_t bits;
  };
  const Case cases[] = {
      // Times 0, 1000, 2000, 3000: a window holds two samples.
      {"one run", {{4, 1000}}, {80, 10, 10, 80}, 90 * 8},
      // An empty run's delta is no sample's: the third sample starts at 2000
      // (at 1000 the first window would hold three, 140 bytes).
      {"an empty run between", {{1, 1000}, {0, 0}, {3, 1000}}, {80, 40, 20, 10}, 120 * 8},
      // The last sample at 3000 (at 2000 a window would hold 100 bytes).
      {"samples past the table", {{2, 1000}}, {80, 10, 10, 80}, 90 * 8},
      // Times 0, 300, 2300, 2600: the first window holds the first two only.
      {"a long gap", {{1, 300}, {1, 2000}, {2, 300}}, {500, 500, 10, 10}, 1000 * 8},
      {"one sample", {{1, 40}}, {7}, 7 * 8},
      // Times 300 apart: a window holds five samples (0 to 1200), the
      // busiest the last five. One run and the same times in two runs (each
      // window walked) agree.
      {"a delta that does not divide the second", {{8, 300}}, {10, 20, 30, 40, 50, 60, 70, 80}, 300 * 8},
      {"the same in two runs", {{3, 300}, {5, 300}}, {10, 20, 30, 40, 50, 60, 70, 80}, 300 * 8},
      // The busiest window first, then smaller ones; a second exactly.
      {"busiest first", {{6, 250}}, {90, 90, 90, 90, 90, 1}, 450 * 8},
      {"busiest first, in two runs", {{1, 250}, {5, 250}}, {90, 90, 90, 90, 90, 1}, 450 * 8},
      // Fewer samples than a window holds: all of them.
      {"all in one window", {{3, 100}}, {5, 6, 7}, 18 * 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HandTrack t;
    t.sizes = c.sizes;
    t.stts = c.stts;
    Opened o(hand_made_file({t}));
    ASSERT_EQ(o.result, ErrorCode::Ok);
    EXPECT_EQ(track_max_bitrate(track_at(o.file->root, 0)), c.bits);
  }
}

}  // namespace
}  // namespace vantorel
