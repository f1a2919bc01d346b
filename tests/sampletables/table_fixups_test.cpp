// The whole-table fix-ups: composition offsets made non-negative, redundant
// tables dropped, the subpicture shift, and QuickTime PCM regrouping.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "boxes/hdlr.h"
#include "sampletables/ctts.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"
#include "sampletables/table_fixups.h"
#include "table_track.h"

namespace vantorel {
namespace {

using namespace test;

using Runs = std::vector<std::pair<uint32_t, int64_t>>;

Runs stts_runs(TrackBoxes* t) {
  Runs r;
  for (const TimeToSampleEntry& e : track_record<TimeToSampleTable>(t, BoxTypeId::Stts)->entries)
    r.push_back({e.sample_count, e.sample_delta});
  return r;
}

Runs ctts_runs(TrackBoxes* t) {
  Runs r;
  for (const CompositionOffsetEntry& e : track_record<CompositionOffsetTable>(t, BoxTypeId::Ctts)->entries)
    r.push_back({e.sample_count, e.sample_offset});
  return r;
}

TEST(TableFixups, CompositionOffsetsBecomeNonNegative) {
  struct Case {
    const char* name;
    Runs in, out;
    int64_t shift;
  };
  const Case cases[] = {
      {"{-2, 0, 3}", {{1, -2}, {1, 0}, {1, 3}}, {{1, 0}, {1, 2}, {1, 5}}, 2},
      {"all non-negative", {{2, 1}, {1, 4}}, {{2, 1}, {1, 4}}, 0},
      {"a run of no samples does not count", {{0, -100}, {2, -1}, {1, 3}}, {{0, -99}, {2, 0}, {1, 4}}, 1},
      {"the widest span", {{1, INT32_MIN}, {1, INT32_MAX}}, {{1, 0}, {1, -1}}, 2147483648LL},
      {"empty", {}, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile f({}, kOpenCreate);
    TrackBoxes* t = make_track(f.get(), 1);
    add_tables(f.get(), t, {BoxTypeId::Ctts});
    for (auto [n, o] : c.in)
      ASSERT_EQ(track_record<CompositionOffsetTable>(t, BoxTypeId::Ctts)
                    ->entries.append_doubling({n, static_cast<int32_t>(o)}),
                ErrorCode::Ok);
    int64_t shift = -1;
    ASSERT_EQ(ctts_normalise(f.get(), t, &shift), ErrorCode::Ok);
    EXPECT_EQ(shift, c.shift);
    EXPECT_EQ(ctts_runs(t), c.out);
  }
  MemoryFile f({}, kOpenCreate);
  TrackBoxes* t = make_track(f.get(), 2);
  int64_t shift = -1;
  EXPECT_EQ(ctts_normalise(f.get(), t, &shift), ErrorCode::Ok);  // no table: nothing to do
  EXPECT_EQ(shift, 0);
  EXPECT_EQ(ctts_normalise(f.get(), t, nullptr), ErrorCode::BadArgument);
}

TEST(TableFixups, RedundantTablesAreDropped) {
  struct Case {
    const char* name;
    uint32_t ctts_entries;
    uint32_t sync_samples;
    bool ctts_kept, stss_kept;
    int32_t first_offset = 0;
  };
  // The track has 4 samples.
  const Case cases[] = {
      {"one composition run at 0, every sample sync", 1, 4, false, false},
      {"one composition run at 7 still moves every sample", 1, 4, true, false, 7},
      {"two runs, some sync samples", 2, 2, true, true},
      {"no runs, no sync samples", 0, 0, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile f({}, kOpenCreate);
    TrackBoxes* t = make_track(f.get(), 1);
    add_tables(f.get(), t, {BoxTypeId::Ctts, BoxTypeId::Stss, BoxTypeId::Stsz});
    ASSERT_EQ(stsz_append(f.get(), t, 9, 4), ErrorCode::Ok);
    for (uint32_t i = 0; i < c.ctts_entries; ++i) ASSERT_EQ(ctts_append(f.get(), t, 2, int32_t(i) + c.first_offset), ErrorCode::Ok);
    for (uint32_t i = 1; i <= c.sync_samples; ++i) ASSERT_EQ(stss_append(f.get(), t, i), ErrorCode::Ok);
    ASSERT_EQ(ctts_drop_if_single(f.get(), t), ErrorCode::Ok);
    ASSERT_EQ(stss_drop_if_redundant(f.get(), t), ErrorCode::Ok);
    EXPECT_EQ(track_record<CompositionOffsetTable>(t, BoxTypeId::Ctts) != nullptr, c.ctts_kept);
    EXPECT_EQ(track_record<SyncSampleTable>(t, BoxTypeId::Stss) != nullptr, c.stss_kept);
    // Dropped tables are not written.
    Bytes written = write_stbl_payload(t);
    EXPECT_EQ(std::search(written.begin(), written.end(), std::begin("stss"), std::end("stss") - 1) != written.end(),
              c.stss_kept);
    // Nothing left to drop is fine too.
    EXPECT_EQ(ctts_drop_if_single(f.get(), t), ErrorCode::Ok);
    EXPECT_EQ(stss_drop_if_redundant(f.get(), t), ErrorCode::Ok);
  }
}

TEST(TableFixups, OneSampleMovesFromTheFirstRunToTheLast) {
  struct Case {
    const char* name;
    Runs in, out;
  };
  const Case cases[] = {
      {"first run of one is removed", {{1, 10}, {2, 20}, {3, 30}}, {{2, 20}, {4, 30}}},
      {"first run shrinks", {{3, 10}, {1, 20}}, {{2, 10}, {2, 20}}},
      {"one run: unchanged", {{5, 10}}, {{5, 10}}},
      {"no runs", {}, {}},
      // A leading run of no samples has nothing to give: the sample count stays.
      {"leading empty run", {{0, 5}, {2, 20}, {1, 30}}, {{1, 20}, {2, 30}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile f({}, kOpenCreate);
    TrackBoxes* t = make_track(f.get(), kHandlerSubpicture);
    add_tables(f.get(), t, {BoxTypeId::Stts});
    for (auto [n, d] : c.in)
      ASSERT_EQ(track_record<TimeToSampleTable>(t, BoxTypeId::Stts)
                    ->entries.append_doubling({n, static_cast<uint32_t>(d)}),
                ErrorCode::Ok);
    ASSERT_EQ(stts_shift_first_to_last(f.get(), t), ErrorCode::Ok);
    EXPECT_EQ(stts_runs(t), c.out);
  }
  MemoryFile f({}, kOpenCreate);
  EXPECT_EQ(stts_shift_first_to_last(f.get(), make_track(f.get(), kHandlerSubpicture)), ErrorCode::Missing);
}

// ---- QuickTime PCM --------------------------------------------------------------

struct PcmTrack {
  uint32_t handler = kHandlerSound;
  std::vector<std::pair<uint32_t, uint32_t>> stts = {};  // empty: one run of delta 1 over every frame
  uint32_t sample_size = 1;
  std::vector<SampleToChunkEntry> stsc;
  uint32_t chunks;
};

// Builds the tables as read from a file; returns the frame count.
uint32_t build(MediaFile* f, TrackBoxes* t, const PcmTrack& p) {
  add_tables(f, t, {BoxTypeId::Stts, BoxTypeId::Stsz, BoxTypeId::Stsc, BoxTypeId::Stco});
  uint64_t frames = 0;
  for (size_t i = 0; i < p.stsc.size(); ++i) {
    EXPECT_EQ(stsc_append(f, t, p.stsc[i].first_chunk, p.stsc[i].samples_per_chunk, 1), ErrorCode::Ok);
    uint32_t end = i + 1 < p.stsc.size() ? p.stsc[i + 1].first_chunk : p.chunks + 1;
    if (end > p.stsc[i].first_chunk) frames += uint64_t{end - p.stsc[i].first_chunk} * p.stsc[i].samples_per_chunk;
  }
  for (uint32_t c = 0; c < p.chunks; ++c) EXPECT_EQ(stco_append(f, t, 0x24 + 0x10000ull * c), ErrorCode::Ok);
  if (p.stts.empty()) {
    EXPECT_EQ(stts_append(f, t, static_cast<uint32_t>(frames), 1), ErrorCode::Ok);
  } else {
    for (auto [n, d] : p.stts) EXPECT_EQ(stts_append(f, t, n, d), ErrorCode::Ok);
  }
  EXPECT_EQ(stsz_append(f, t, p.sample_size, static_cast<uint32_t>(frames)), ErrorCode::Ok);
  return static_cast<uint32_t>(frames);
}

SoundFormatInfo sound(const char* code, uint16_t channels, uint16_t version = 0, uint32_t spp = 0,
                      uint32_t bpf = 0) {
  SoundFormatInfo s{};
  s.format = FourCC::of(code);
  s.channel_count = channels;
  s.version = version;
  s.samples_per_packet = spp;
  s.bytes_per_frame = bpf;
  return s;
}

Bytes chunk_offsets_box(uint32_t chunks) {
  Bytes b = u32(chunks);
  for (uint32_t c = 0; c < chunks; ++c) b = cat({b, u32(0x24 + 0x10000 * c)});
  return full_box("stco", 0, 0, b);
}

TEST(SoundTablesPerChunk, PcmFramesBecomeOneSamplePerChunk) {
  struct Case {
    const char* name;
    PcmTrack track;
    SoundFormatInfo format;
    Bytes tables;  // the written stts, stsz and stsc
    uint32_t frame_size;  // the size of a frame as read, kept for a copy; 0: packets, not frames
  };
  const Bytes single_entry = full_box("stsc", 0, 0, cat({u32(1), u32(1), u32(1), u32(1)}));
  const Case cases[] = {
      {"twos stereo, size 1, chunks of 4096 frames", {.sample_size = 1, .stsc = {{1, 4096, 1}}, .chunks = 3},
       sound("twos", 2),
       cat({full_box("stts", 0, 0, cat({u32(1), u32(3), u32(4096)})), single_entry,
            full_box("stsz", 0, 0, cat({u32(16384), u32(3)}))}),
       1},
      {"twos stereo, size 4 (bytes per frame)", {.sample_size = 4, .stsc = {{1, 4096, 1}}, .chunks = 3},
       sound("twos", 2),
       cat({full_box("stts", 0, 0, cat({u32(1), u32(3), u32(4096)})), single_entry,
            full_box("stsz", 0, 0, cat({u32(16384), u32(3)}))}),
       4},
      {"runs of chunks of different sizes",
       {.sample_size = 4, .stsc = {{1, 2048, 1}, {2, 1024, 1}, {4, 2048, 1}}, .chunks = 5}, sound("sowt", 2),
       cat({full_box("stts", 0, 0, cat({u32(3), u32(1), u32(2048), u32(2), u32(1024), u32(2), u32(2048)})),
            single_entry,
            full_box("stsz", 0, 0, cat({u32(0), u32(5), u32(8192), u32(4096), u32(4096), u32(8192), u32(8192)}))}),
       4},
      {"the version-1 fields decide", {.sample_size = 6, .stsc = {{1, 100, 1}}, .chunks = 2},
       sound("lpcm", 2, 1, 1, 6),
       cat({full_box("stts", 0, 0, cat({u32(1), u32(2), u32(100)})), single_entry,
            full_box("stsz", 0, 0, cat({u32(600), u32(2)}))}),
       6},
      {"ima4 packets of 64 frames", {.sample_size = 1, .stsc = {{1, 128, 1}}, .chunks = 2}, sound("ima4", 2),
       cat({full_box("stts", 0, 0, cat({u32(1), u32(2), u32(128)})), single_entry,
            full_box("stsz", 0, 0, cat({u32(136), u32(2)}))}),
       0},
      {"a run of empty chunks stays one empty sample per chunk",
       {.sample_size = 1, .stsc = {{1, 10, 1}, {2, 0, 1}}, .chunks = 3}, sound("raw ", 1),
       cat({full_box("stts", 0, 0, cat({u32(2), u32(1), u32(10), u32(2), u32(0)})), single_entry,
            full_box("stsz", 0, 0, cat({u32(0), u32(3), u32(10), u32(0), u32(0)}))}),
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile f({}, kOpenRead);
    TrackBoxes* t = make_track(f.get(), c.track.handler);
    build(f.get(), t, c.track);
    ASSERT_EQ(sound_tables_per_chunk(f.get(), t, &c.format), ErrorCode::Ok);
    EXPECT_EQ(write_stbl_payload(t), cat({c.tables, chunk_offsets_box(c.track.chunks)}));
    EXPECT_EQ(sample_count(t), c.track.chunks);
    EXPECT_EQ(t->extra != nullptr ? t->extra->pcm_frame_size : 0u, c.frame_size);
  }
}

TEST(SoundTablesPerChunk, OtherTablesAreLeftAlone) {
  struct Case {
    const char* name;
    PcmTrack track;
    SoundFormatInfo format;
    ErrorCode result;
  };
  const std::vector<SampleToChunkEntry> one = {{1, 1024, 1}};
  const Case cases[] = {
      {"a video track", {.handler = kHandlerVideo, .stsc = one, .chunks = 2}, sound("twos", 2), ErrorCode::Ok},
      {"delta 2", {.stts = {{2048, 2}}, .stsc = one, .chunks = 2}, sound("twos", 2), ErrorCode::Ok},
      {"two time runs", {.stts = {{1024, 1}, {1024, 2}}, .stsc = one, .chunks = 2}, sound("twos", 2),
       ErrorCode::Ok},
      {"time and size tables disagree", {.stts = {{2000, 1}}, .stsc = one, .chunks = 2}, sound("twos", 2),
       ErrorCode::Ok},
      {"a size that is neither 1 nor a frame", {.sample_size = 3, .stsc = one, .chunks = 2}, sound("twos", 2),
       ErrorCode::Ok},
      {"an unknown format", {.stsc = one, .chunks = 2}, sound("mp4a", 2), ErrorCode::Ok},
      {"no chunk runs for frames", {.stts = {{100, 1}}, .stsc = {}, .chunks = 2}, sound("twos", 2),
       ErrorCode::Malformed},
      {"first chunks that do not increase", {.stsc = {{1, 10, 1}, {1, 20, 1}}, .chunks = 2}, sound("twos", 2),
       ErrorCode::Malformed},
      {"first chunk past the chunk count", {.stsc = {{1, 10, 1}, {3, 20, 1}}, .chunks = 2}, sound("twos", 2),
       ErrorCode::Malformed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile f({}, kOpenRead);
    TrackBoxes* t = make_track(f.get(), c.track.handler);
    uint32_t frames = build(f.get(), t, c.track);
    if (frames == 0) {
      ASSERT_EQ(stsz_append(f.get(), t, 1, 100), ErrorCode::Ok);
    }
    Bytes before = write_stbl_payload(t);
    EXPECT_EQ(sound_tables_per_chunk(f.get(), t, &c.format), c.result);
    EXPECT_EQ(write_stbl_payload(t), before);
  }
}

TEST(SoundTablesPerChunk, MissingTablesAndArguments) {
  MemoryFile f({}, kOpenRead);
  TrackBoxes* t = make_track(f.get(), kHandlerSound);
  SoundFormatInfo twos = sound("twos", 2);
  add_tables(f.get(), t, {BoxTypeId::Stts, BoxTypeId::Stsz, BoxTypeId::Stsc});
  EXPECT_EQ(sound_tables_per_chunk(f.get(), t, &twos), ErrorCode::Missing);
  EXPECT_EQ(sound_tables_per_chunk(f.get(), t, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(sound_tables_per_chunk(nullptr, t, &twos), ErrorCode::BadArgument);
}

}  // namespace
}  // namespace vantorel
