// Appends and lookups of the sample tables, checked against a sample-by-sample
// model of the tables, plus tables that lie about their runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <vector>

#include "sampletables/ctts.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"
#include "table_track.h"

namespace vantorel {
namespace {

using namespace test;

TimeToSampleTable* stts_of(TrackBoxes* t) { return track_record<TimeToSampleTable>(t, BoxTypeId::Stts); }
CompositionOffsetTable* ctts_of(TrackBoxes* t) { return track_record<CompositionOffsetTable>(t, BoxTypeId::Ctts); }
SampleSizeTable* stsz_of(TrackBoxes* t) { return track_record<SampleSizeTable>(t, BoxTypeId::Stsz); }

const std::initializer_list<BoxTypeId> kAllTables = {BoxTypeId::Stts, BoxTypeId::Ctts, BoxTypeId::Stsc,
                                                     BoxTypeId::Stsz, BoxTypeId::Stco, BoxTypeId::Stss};

// ---- Appends -------------------------------------------------------------------

TEST(SampleTableAppends, RunsMergeOnEqualValues) {
  MemoryFile f({}, kOpenCreate);
  TrackBoxes* t = make_track(f.get(), 1);
  add_tables(f.get(), t, kAllTables);
  for (auto [n, d] : {std::pair{1u, 10u}, {1u, 10u}, {2u, 20u}, {0u, 30u}, {1u, 10u}})
    ASSERT_EQ(stts_append(f.get(), t, n, d), ErrorCode::Ok);
  for (auto [n, o] : {std::pair{1u, -5}, {3u, -5}, {1u, 7}, {0u, 9}})
    ASSERT_EQ(ctts_append(f.get(), t, n, o), ErrorCode::Ok);
  const TimeToSampleTable* s = stts_of(t);
  ASSERT_EQ(s->entries.count, 3u);
  EXPECT_EQ(s->entries[0].sample_count, 2u);
  EXPECT_EQ(s->entries[1].sample_count, 2u);
  EXPECT_EQ(s->entries[1].sample_delta, 20u);
  EXPECT_EQ(s->entries[2].sample_delta, 10u);
  EXPECT_EQ(s->entries.capacity, 512u);
  const CompositionOffsetTable* c = ctts_of(t);
  ASSERT_EQ(c->entries.count, 2u);
  EXPECT_EQ(c->entries[0].sample_count, 4u);
  EXPECT_EQ(c->entries[0].sample_offset, -5);

  // A run full to 2^32 - 1 samples starts a new entry instead of wrapping.
  ASSERT_EQ(stts_append(f.get(), t, 0xFFFFFFFFu - 1, 10), ErrorCode::Ok);
  ASSERT_EQ(stts_append(f.get(), t, 5, 10), ErrorCode::Ok);
  ASSERT_EQ(s->entries.count, 4u);
  EXPECT_EQ(s->entries[2].sample_count, 0xFFFFFFFFu);
  EXPECT_EQ(s->entries[3].sample_count, 5u);
}

TEST(SampleTableAppends, SizeTableStaysConstantUntilASizeDiffers) {
  MemoryFile f({}, kOpenCreate);
  TrackBoxes* t = make_track(f.get(), 1);
  add_tables(f.get(), t, kAllTables);
  SampleSizeTable* z = stsz_of(t);
  ASSERT_EQ(stsz_append(f.get(), t, 100, 3), ErrorCode::Ok);
  ASSERT_EQ(stsz_append(f.get(), t, 100, 1), ErrorCode::Ok);
  EXPECT_FALSE(stsz_is_listed(z));
  EXPECT_EQ(z->sample_size, 100u);
  EXPECT_EQ(stsz_size(f.get(), t), 12u);
  ASSERT_EQ(stsz_append(f.get(), t, 200, 1), ErrorCode::Ok);
  ASSERT_TRUE(stsz_is_listed(z));
  EXPECT_EQ(z->sample_size, 0u);
  // More sizes than the list has room for: it grows before storing.
  ASSERT_EQ(stsz_append(f.get(), t, 7, 40), ErrorCode::Ok);
  ASSERT_EQ(z->sample_count, 45u);
  std::vector<uint32_t> sizes;
  for (uint32_t i = 0; i < 46; ++i) sizes.push_back(stsz_sample_size(z, i));
  std::vector<uint32_t> expect = {100, 100, 100, 100, 200};
  expect.resize(45, 7);
  expect.push_back(0);  // beyond the table
  EXPECT_EQ(sizes, expect);
}

TEST(SampleTableAppends, MissingTablesAndFullCounts) {
  MemoryFile f({}, kOpenCreate);
  TrackBoxes* t = make_track(f.get(), 1);
  EXPECT_EQ(stts_append(f.get(), t, 1, 1), ErrorCode::BadArgument);
  EXPECT_EQ(ctts_append(f.get(), t, 1, 1), ErrorCode::BadArgument);
  EXPECT_EQ(stsz_append(f.get(), t, 1, 1), ErrorCode::BadArgument);
  EXPECT_EQ(stco_append(f.get(), t, 1), ErrorCode::BadArgument);
  EXPECT_EQ(stss_append(f.get(), t, 1), ErrorCode::BadArgument);
  EXPECT_EQ(stsc_append(f.get(), t, 1, 1, 1), ErrorCode::Missing);
  EXPECT_EQ(stts_append(nullptr, t, 1, 1), ErrorCode::BadArgument);
  add_tables(f.get(), t, {BoxTypeId::Stsz});
  ASSERT_EQ(stsz_append(f.get(), t, 3, 0xFFFFFFFFu), ErrorCode::Ok);
  EXPECT_EQ(stsz_append(f.get(), t, 4, 1), ErrorCode::OutOfMemory);
  EXPECT_EQ(sample_count(t), 0xFFFFFFFFu);
  EXPECT_FALSE(stsz_is_listed(stsz_of(t)));
}

// ---- Lookups against a sample-by-sample model ------------------------------------

struct Model {
  std::vector<uint32_t> delta;   // per sample
  std::vector<uint32_t> stts_entry, stts_index;
  std::vector<uint32_t> ctts_entry, ctts_index;
  std::vector<uint32_t> chunk_entry, chunk_index, in_chunk, chunk_first;
};

// Builds random well-formed tables on `t` and the per-sample model of them.
Model random_tables(MediaFile* f, TrackBoxes* t, std::mt19937& rng) {
  Model m;
  auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
  // Chunks first: they fix the sample count.
  uint32_t entries = pick(1, 6), chunk = 1, sample = 1;
  for (uint32_t e = 0; e < entries; ++e) {
    uint32_t chunks = pick(1, 4), per = pick(1, 5);
    EXPECT_EQ(stsc_append(f, t, chunk, per, 1), ErrorCode::Ok);
    for (uint32_t c = 0; c < chunks; ++c, ++chunk) {
      EXPECT_EQ(stco_append(f, t, chunk * 1000ull), ErrorCode::Ok);
      for (uint32_t i = 0; i < per; ++i) {
        m.chunk_entry.push_back(e);
        m.chunk_index.push_back(chunk - 1);
        m.in_chunk.push_back(i);
        m.chunk_first.push_back(sample);
      }
      sample += per;
    }
  }
  const uint32_t n = sample - 1;
  EXPECT_EQ(stsz_append(f, t, 10, n), ErrorCode::Ok);
  // Runs go straight into the arrays so that runs of 0 samples and repeated
  // values stay as they are.
  auto fill_runs = [&](const std::function<void(uint32_t, uint32_t)>& add, std::vector<uint32_t>& entry,
                       std::vector<uint32_t>& index, bool deltas) {
    uint32_t left = n, e = 0;
    while (left > 0) {
      uint32_t count = pick(0, 3) == 0 ? 0 : std::min(left, pick(1, 6));
      uint32_t value = pick(0, 4);
      add(count, value);
      for (uint32_t i = 0; i < count; ++i) {
        entry.push_back(e);
        index.push_back(i);
        if (deltas) m.delta.push_back(value);
      }
      left -= count;
      ++e;
    }
  };
  fill_runs([&](uint32_t c, uint32_t v) { EXPECT_EQ(stts_of(t)->entries.append_doubling({c, v}), ErrorCode::Ok); },
            m.stts_entry, m.stts_index, true);
  fill_runs(
      [&](uint32_t c, uint32_t v) {
        EXPECT_EQ(ctts_of(t)->entries.append_doubling({c, static_cast<int32_t>(v) - 2}), ErrorCode::Ok);
      },
      m.ctts_entry, m.ctts_index, false);
  return m;
}

TEST(SampleTableLookups, RunStepsGiveTheSameAnswersAsAWalkOverEverySample) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    MemoryFile f({}, kOpenCreate);
    TrackBoxes* t = make_track(f.get(), 1);
    add_tables(f.get(), t, kAllTables);
    Model m = random_tables(f.get(), t, rng);
    const uint32_t n = static_cast<uint32_t>(m.delta.size());
    ASSERT_EQ(sample_count(t), n);

    std::vector<uint64_t> start(n + 1, 0);  // start[i]: decode time of sample i + 1
    for (uint32_t i = 0; i < n; ++i) start[i + 1] = start[i] + m.delta[i];
    for (uint32_t k = 0; k <= n + 2; ++k) {
      SCOPED_TRACE(k);
      EXPECT_EQ(stts_decode_time(t, k), k == 0 ? 0 : start[std::min(k - 1, n)]);
      uint32_t entry = 99, index = 99;
      ErrorCode e = stts_locate(t, k, &entry, &index);
      if (k == 0 || k > n) {
        EXPECT_EQ(e, ErrorCode::BadArgument);
      } else {
        ASSERT_EQ(e, ErrorCode::Ok);
        EXPECT_EQ(entry, m.stts_entry[k - 1]);
        EXPECT_EQ(index, m.stts_index[k - 1]);
        ASSERT_EQ(ctts_locate(t, k, &entry, &index), ErrorCode::Ok);
        EXPECT_EQ(entry, m.ctts_entry[k - 1]);
        EXPECT_EQ(index, m.ctts_index[k - 1]);
      }
      ChunkPosition p;
      e = stsc_locate(f.get(), t, k, &p);
      if (k == 0) {
        EXPECT_EQ(e, ErrorCode::BadArgument);
      } else if (k > n) {
        EXPECT_EQ(e, ErrorCode::Malformed);  // beyond the last chunk
      } else {
        ASSERT_EQ(e, ErrorCode::Ok);
        EXPECT_EQ(p.entry_index, m.chunk_entry[k - 1]);
        EXPECT_EQ(p.chunk_index, m.chunk_index[k - 1]);
        EXPECT_EQ(p.index_in_chunk, m.in_chunk[k - 1]);
        EXPECT_EQ(p.first_sample, m.chunk_first[k - 1]);
      }
    }
    EXPECT_EQ(stts_total_duration(t), start[n]);
    // The model of the time search: the first sample starting at t, or whose
    // interval [start, start + delta) holds t.
    for (uint64_t time = 0; time <= start[n] + 2; ++time) {
      uint32_t expect = 0;
      for (uint32_t i = 0; i < n; ++i) {
        if (time == start[i] || time < start[i] + m.delta[i]) {
          expect = i + 1;
          break;
        }
      }
      EXPECT_EQ(stts_sample_at_time(t, time), expect) << "time " << time;
    }
  }
}

TEST(SampleTableLookups, TimeSearchEdges) {
  MemoryFile f({}, kOpenCreate);
  TrackBoxes* t = make_track(f.get(), 1);
  EXPECT_EQ(stts_sample_at_time(t, 5), 1u);  // no table
  EXPECT_EQ(stts_decode_time(t, 3), 0u);
  EXPECT_EQ(stts_total_duration(t), 0u);
  uint32_t entry, index;
  EXPECT_EQ(stts_locate(t, 1, &entry, &index), ErrorCode::Missing);
  EXPECT_EQ(ctts_locate(t, 1, &entry, &index), ErrorCode::Missing);
  add_tables(f.get(), t, {BoxTypeId::Stts, BoxTypeId::Stsz});
  EXPECT_EQ(stts_locate(t, 1, &entry, &index), ErrorCode::Missing);  // no entries
  ASSERT_EQ(stts_append(f.get(), t, 3, 100), ErrorCode::Ok);
  ASSERT_EQ(stsz_append(f.get(), t, 1, 3), ErrorCode::Ok);
  EXPECT_EQ(stts_sample_at_time(t, 0), 1u);
  EXPECT_EQ(stts_sample_at_time(t, 199), 2u);
  EXPECT_EQ(stts_sample_at_time(t, 200), 3u);
  EXPECT_EQ(stts_sample_at_time(t, 299), 3u);
  EXPECT_EQ(stts_sample_at_time(t, 300), 0u);  // exactly the total duration
  EXPECT_EQ(stts_decode_time(t, 0), 0u);
  EXPECT_EQ(stts_decode_time(t, 4), 300u);
  EXPECT_EQ(stts_decode_time(t, 1000), 300u);
}

TEST(SampleTableLookups, LyingRunsAreAnsweredWithoutWalkingTheirSamples) {
  auto begin = std::chrono::steady_clock::now();
  MemoryFile f({}, kOpenCreate);
  TrackBoxes* t = make_track(f.get(), 2);
  add_tables(f.get(), t, {BoxTypeId::Stts, BoxTypeId::Ctts, BoxTypeId::Stsc, BoxTypeId::Stco});
  ASSERT_EQ(stts_append(f.get(), t, 0xFFFFFFFFu, 1), ErrorCode::Ok);
  ASSERT_EQ(ctts_append(f.get(), t, 0xFFFFFFFFu, 3), ErrorCode::Ok);
  ASSERT_EQ(stsc_append(f.get(), t, 1, 0xFFFFFFFFu, 1), ErrorCode::Ok);
  ASSERT_EQ(stco_append(f.get(), t, 48), ErrorCode::Ok);
  uint32_t entry, index;
  for (int i = 0; i < 20; ++i) {
    // Without a size table the run counts in full.
    EXPECT_EQ(stts_sample_at_time(t, 0xFFFFFFFEu), 0xFFFFFFFFu);
    EXPECT_EQ(stts_sample_at_time(t, 0xFFFFFFFFu), 0u);
    EXPECT_EQ(stts_decode_time(t, 0xFFFFFFFFu), 0xFFFFFFFEu);
    EXPECT_EQ(stts_total_duration(t), 0xFFFFFFFFu);
    ASSERT_EQ(stts_locate(t, 0xFFFFFFFFu, &entry, &index), ErrorCode::Ok);
    EXPECT_EQ(index, 0xFFFFFFFEu);
    ASSERT_EQ(ctts_locate(t, 0xFFFFFFF0u, &entry, &index), ErrorCode::Ok);
    EXPECT_EQ(index, 0xFFFFFFEFu);
    ChunkPosition p;
    ASSERT_EQ(stsc_locate(f.get(), t, 0xFFFFFFFFu, &p), ErrorCode::Ok);
    EXPECT_EQ(p.chunk_index, 0u);
    EXPECT_EQ(p.index_in_chunk, 0xFFFFFFFEu);
    EXPECT_EQ(p.first_sample, 1u);
  }
  // With a size table of 10 samples the run is cut there.
  add_tables(f.get(), t, {BoxTypeId::Stsz});
  ASSERT_EQ(stsz_append(f.get(), t, 4, 10), ErrorCode::Ok);
  EXPECT_EQ(stts_sample_at_time(t, 9), 10u);
  EXPECT_EQ(stts_sample_at_time(t, 10), 0u);
  EXPECT_EQ(stts_decode_time(t, 0xFFFFFFFFu), 10u);
  EXPECT_EQ(stts_total_duration(t), 10u);
  // Two full runs of the largest delta: the sum of 2^32 - 1 samples fits.
  ASSERT_EQ(stts_append(f.get(), t, 0xFFFFFFFFu, 0xFFFFFFFFu), ErrorCode::Ok);
  remove_track_box(f.get(), t, BoxTypeId::Stsz);
  EXPECT_EQ(stts_total_duration(t), 0xFFFFFFFFull);  // the first run already holds every sample number
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_LT(seconds, 2.0);
}

TEST(SampleTableLookups, ChunkRunsThatAreEmptyOrMalformed) {
  struct Case {
    const char* name;
    std::vector<SampleToChunkEntry> entries;
    uint32_t chunks;  // chunk offsets; 0xFFFFFFFF: no chunk table
    uint32_t k;
    ErrorCode result;
    ChunkPosition expect;
  };
  const Case cases[] = {
      {"chunks of no samples are stepped over", {{1, 0, 1}, {3, 2, 1}}, 4, 1, ErrorCode::Ok, {1, 2, 0, 1}},
      {"and counted past", {{1, 0, 1}, {3, 2, 1}}, 4, 4, ErrorCode::Ok, {1, 3, 1, 3}},
      {"a zero run in the middle", {{1, 2, 1}, {2, 0, 1}, {4, 1, 1}}, 5, 3, ErrorCode::Ok, {2, 3, 0, 3}},
      {"first entry not at chunk 1 covers chunk 1", {{2, 3, 1}}, 2, 4, ErrorCode::Ok, {0, 1, 0, 4}},
      {"no chunk table: the last run goes on", {{1, 2, 1}}, 0xFFFFFFFFu, 9, ErrorCode::Ok, {0, 4, 0, 9}},
      {"no entries", {}, 3, 1, ErrorCode::Malformed, {}},
      {"first chunks equal", {{1, 2, 1}, {1, 3, 1}}, 3, 1, ErrorCode::Malformed, {}},
      {"first chunks decreasing", {{1, 2, 1}, {3, 3, 1}, {2, 1, 1}}, 3, 1, ErrorCode::Malformed, {}},
      {"first chunk past the chunk count", {{1, 2, 1}, {4, 3, 1}}, 3, 1, ErrorCode::Malformed, {}},
      {"first chunk 0", {{0, 2, 1}}, 3, 1, ErrorCode::Malformed, {}},
      {"sample past the last chunk", {{1, 2, 1}}, 2, 5, ErrorCode::Malformed, {}},
      {"only empty chunks", {{1, 0, 1}}, 2, 1, ErrorCode::Malformed, {}},
      {"sample 0", {{1, 2, 1}}, 2, 0, ErrorCode::BadArgument, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile f({}, kOpenCreate);
    TrackBoxes* t = make_track(f.get(), 1);
    add_tables(f.get(), t, {BoxTypeId::Stsc});
    if (c.chunks != 0xFFFFFFFFu) {
      add_tables(f.get(), t, {BoxTypeId::Stco});
      for (uint32_t i = 0; i < c.chunks; ++i) ASSERT_EQ(stco_append(f.get(), t, 100 * i), ErrorCode::Ok);
    }
    for (const SampleToChunkEntry& e : c.entries)
      ASSERT_EQ(stsc_append(f.get(), t, e.first_chunk, e.samples_per_chunk, e.sample_description_index),
                ErrorCode::Ok);
    ChunkPosition p;
    ASSERT_EQ(stsc_locate(f.get(), t, c.k, &p), c.result);
    if (c.result != ErrorCode::Ok) continue;
    EXPECT_EQ(p.entry_index, c.expect.entry_index);
    EXPECT_EQ(p.chunk_index, c.expect.chunk_index);
    EXPECT_EQ(p.index_in_chunk, c.expect.index_in_chunk);
    EXPECT_EQ(p.first_sample, c.expect.first_sample);
  }
  MemoryFile f({}, kOpenCreate);
  TrackBoxes* t = make_track(f.get(), 1);
  ChunkPosition p;
  EXPECT_EQ(stsc_locate(f.get(), t, 1, &p), ErrorCode::Missing);
}

TEST(SampleTableLookups, SyncSampleSearches) {
  MemoryFile f({}, kOpenCreate);
  TrackBoxes* t = make_track(f.get(), 1);
  EXPECT_EQ(stss_sync_at_or_before(t, 7), 7u);  // no table
  EXPECT_EQ(stss_sync_at_or_after(t, 7), 7u);
  EXPECT_EQ(stss_index_of(t, 7), 0u);
  add_tables(f.get(), t, {BoxTypeId::Stss});
  EXPECT_EQ(stss_sync_at_or_before(t, 7), 7u);  // empty table
  EXPECT_EQ(stss_sync_at_or_after(t, 7), 7u);
  for (uint32_t s : {5u, 17u, 29u}) ASSERT_EQ(stss_append(f.get(), t, s), ErrorCode::Ok);
  struct Case {
    uint32_t k, before, after, index;
  };
  const Case cases[] = {
      {0, 0, 0, 0},      // sample 0 is answered with itself
      {1, 5, 5, 0},      // before the first sync sample
      {5, 5, 5, 0},      {6, 5, 17, 0}, {17, 17, 17, 1}, {28, 17, 29, 0},
      {29, 29, 29, 2},   {30, 29, 29, 0},  // after the last sync sample
      {0xFFFFFFFFu, 29, 29, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.k);
    EXPECT_EQ(stss_sync_at_or_before(t, c.k), c.before);
    EXPECT_EQ(stss_sync_at_or_after(t, c.k), c.after);
    EXPECT_EQ(stss_index_of(t, c.k), c.index);
  }
}

}  // namespace
}  // namespace vantorel
