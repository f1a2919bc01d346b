// The one table cursor seen through the library: reading in order, seeking
// to a sample, the engine's walk and the readable count must tell the same
// samples, whatever the tables' runs and chunks look like.
#include <gtest/gtest.h>

#include <vector>

#include "mediafile/hand_made.h"
#include "mediafile/mediafile.h"

namespace vantorel {
namespace {

using namespace test;

struct Seen {
  uint32_t index, size, duration, description, sync;
  uint64_t time, offset;
  int32_t composition_offset;
  bool operator==(const Seen&) const = default;
};

Seen seen_of(const SampleRead& s, uint64_t offset) {
  return {s.index, s.size, s.duration, s.description_index, s.sync, s.time, offset, s.composition_offset};
}

// Every sample as reading in order locates it.
std::vector<Seen> located_in_order(MediaFile* file, uint32_t track) {
  std::vector<Seen> out;
  uint32_t index = 0;
  uint64_t time = 0;
  if (track_seek(file, track, 0, &index, &time, 0, 0) != ErrorCode::Ok) return out;
  SampleRead s{};
  for (uint64_t offset = 0; locate_next_sample(file, track, &s, &offset) == ErrorCode::Ok;)
    out.push_back(seen_of(s, offset));
  return out;
}

TEST(SampleCursor, SeekWalkAndReadableAgreeWithReadingInOrder) {
  struct Case {
    const char* what;
    HandTrack track;
    uint32_t readable;  // samples the tables describe consistently
    uint32_t seekable;  // samples every table places by itself
    bool past_end;      // the readable count stops at a sample past the file's end
  };
  HandTrack runs;
  runs.sizes = {10, 11, 12, 13, 14, 15, 16};
  runs.stts = {{0, 7}, {2, 40}, {0, 99}, {4, 20}, {1, 30}};
  runs.ctts = {{1, 80}, {0, 5}, {3, 20}, {3, 0}};
  runs.stss = {1, 4, 6};
  HandTrack chunks = runs;
  // Two samples a chunk, then an empty chunk, then three in a chunk of the
  // second description; the data lies two a chunk, so the last three
  // start at the last chunk and the sixth runs past the file's end.
  chunks.stsc = {{1, 2, 1}, {3, 0, 1}, {4, 3, 2}};
  HandTrack short_ctts = runs;
  short_ctts.ctts = {{2, 50}, {1, 10}};  // the last run holds for the rest
  HandTrack short_chunks = runs;
  short_chunks.drop_last_chunk_offset = true;  // the track ends a sample early
  HandTrack short_times = runs;
  short_times.stts = {{3, 40}, {2, 20}};  // five timed samples of seven
  const Case cases[] = {
      {"runs of no samples", runs, 7, 7, false},
      {"chunks of several and of none", chunks, 5, 7, true},
      {"composition table shorter than the samples", short_ctts, 7, 3, false},
      {"chunk table shorter than the samples", short_chunks, 6, 6, false},
      {"time table shorter than the samples", short_times, 5, 5, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = hand_made_file({c.track});
    MemoryPair pair{bytes.data(), static_cast<uint32_t>(bytes.size())};
    OpenParams p{};
    p.routines = memory_routines();
    p.path = &pair;
    MediaFile* file = nullptr;
    ASSERT_EQ(media_open(&file, &p, kOpenRead), ErrorCode::Ok);
    const std::vector<Seen> in_order = located_in_order(file, 1);
    ASSERT_GE(in_order.size(), c.readable);
    // Seeking to each sample finds what reading in order found there.
    for (uint32_t n = 0; n < c.seekable; ++n) {
      uint32_t index = n;
      uint64_t time = 0;
      ASSERT_EQ(track_seek(file, 1, 0, &index, &time, 0, 0), ErrorCode::Ok) << "sample " << n;
      EXPECT_EQ(time, in_order[n].time) << "sample " << n;
      SampleRead s{};
      uint64_t offset = 0;
      ASSERT_EQ(locate_next_sample(file, 1, &s, &offset), ErrorCode::Ok);
      EXPECT_EQ(seen_of(s, offset), in_order[n]) << "sample " << n;
    }
    ReadableSamples readable{};
    ASSERT_EQ(track_readable_samples(file, 1, &readable), ErrorCode::Ok);
    EXPECT_EQ(readable.count, c.readable);
    EXPECT_EQ(readable.past_end, c.past_end);
    // The engine's walks, from the readable count: the same samples, timed
    // from the first (this track starts at 0); one that locates gives the
    // offsets and descriptions too, one that does not gives neither.
    for (bool locates : {false, true}) {
      SCOPED_TRACE(locates ? "walk that locates" : "walk");
      uint32_t walk = 0;
      ASSERT_EQ(sample_walk_open(file, 1, readable.count, &walk, locates), ErrorCode::Ok);
      std::vector<Seen> walked;
      SampleRead s{};
      for (uint64_t offset = 0; sample_walk_next(file, walk, &s, &offset) == ErrorCode::Ok;)
        walked.push_back(seen_of(s, offset));
      sample_walk_close(file, walk);
      ASSERT_EQ(walked.size(), c.readable);
      for (uint32_t n = 0; n < walked.size(); ++n) {
        if (!locates) {
          EXPECT_EQ(walked[n].offset, 0u);
          EXPECT_EQ(walked[n].description, 1u);
          walked[n].offset = in_order[n].offset;
          walked[n].description = in_order[n].description;
        }
        EXPECT_EQ(walked[n], in_order[n]) << "sample " << n;
      }
    }
    media_close(file);
  }
}

// A closed walk's place is reused; walks left open are let go with the file
// (the sanitizer build finds a leak otherwise).
TEST(SampleCursor, WalksAreTheFilesToReuseAndFree) {
  HandTrack t;
  t.sizes = {5, 6, 7};
  t.stts = {{3, 10}};
  Bytes bytes = hand_made_file({t});
  MemoryPair pair{bytes.data(), static_cast<uint32_t>(bytes.size())};
  OpenParams p{};
  p.routines = memory_routines();
  p.path = &pair;
  MediaFile* file = nullptr;
  ASSERT_EQ(media_open(&file, &p, kOpenRead), ErrorCode::Ok);
  uint32_t a = 0, b = 0, c = 0;
  ASSERT_EQ(sample_walk_open(file, 1, 3, &a), ErrorCode::Ok);
  ASSERT_EQ(sample_walk_open(file, 1, 1, &b), ErrorCode::Ok);
  EXPECT_NE(a, b);
  SampleRead s{};
  ASSERT_EQ(sample_walk_next(file, b, &s), ErrorCode::Ok);
  EXPECT_EQ(sample_walk_next(file, b, &s), ErrorCode::NoMore);  // its count is 1
  sample_walk_close(file, a);
  EXPECT_EQ(sample_walk_next(file, a, &s), ErrorCode::BadArgument);
  ASSERT_EQ(sample_walk_open(file, 1, 3, &c), ErrorCode::Ok);
  EXPECT_EQ(c, a);
  ASSERT_EQ(sample_walk_next(file, c, &s), ErrorCode::Ok);
  EXPECT_EQ(s.size, 5u);  // a fresh walk from the first sample
  EXPECT_EQ(sample_walk_open(file, 9, 3, &c), ErrorCode::Missing);
  media_close(file);
}

}  // namespace
}  // namespace vantorel
