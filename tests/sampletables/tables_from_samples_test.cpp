// The one builder of imported tracks' tables: hand-made sample lists and the
// tables they must give, and the lists it must refuse without touching the
// track.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "boxes/box_tree.h"
#include "boxes/hdlr.h"
#include "boxes/mvhd.h"
#include "sampletables/ctts.h"
#include "sampletables/sample_groups.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stsd.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"
#include "sampletables/tables_from_samples.h"
#include "sampletables/track_builder.h"
#include "table_track.h"

namespace vantorel {
namespace {

using namespace test;

// A file of `input_size` bytes opened for reading, with one video track of
// `descriptions` sample descriptions.
struct Imported {
  MemoryFile file;
  TrackBoxes* track = nullptr;
  explicit Imported(uint32_t descriptions = 1, size_t input_size = 4096) : file(zeros(input_size), kOpenRead) {
    create_root(file.get());
    add_movie_box(file.get(), BoxTypeId::Moov);
    add_movie_box(file.get(), BoxTypeId::Mvhd);
    TrackSetup setup{};
    setup.kind = kHandlerVideo;
    setup.timescale = 1000;
    track = create_track(file.get(), &setup);
    for (uint32_t i = 1; i < descriptions; ++i) stsd_add_entry(file.get(), track, kHandlerVideo);
  }
  ErrorCode build(const std::vector<ImportedSample>& samples) {
    return tables_from_samples(file.get(), track, samples.data(), static_cast<uint32_t>(samples.size()));
  }
};

// A sample list from (size, duration, composition offset, sync), decode
// times running on, each at offset 100 * its number, description 1.
struct SampleShape {
  uint32_t size;
  uint32_t duration;
  int32_t offset;
  bool sync;
};
std::vector<ImportedSample> samples_of(const std::vector<SampleShape>& shapes) {
  std::vector<ImportedSample> out;
  uint64_t time = 0;
  for (const SampleShape& p : shapes) {
    ImportedSample s{};
    s.at = 100 * (out.size() + 1);
    s.decode_time = time;
    s.size = p.size;
    s.duration = p.duration;
    s.composition_offset = p.offset;
    s.description = 1;
    s.where = kSampleRange;
    s.sync = p.sync ? 1 : 0;
    time += p.duration;
    out.push_back(s);
  }
  return out;
}

using Runs = std::vector<std::pair<uint32_t, int64_t>>;

Runs stts_runs(TrackBoxes* t) {
  Runs r;
  for (const TimeToSampleEntry& e : track_record<TimeToSampleTable>(t, BoxTypeId::Stts)->entries)
    r.emplace_back(e.sample_count, e.sample_delta);
  return r;
}
// Empty when the track has no 'ctts'.
Runs ctts_runs(TrackBoxes* t) {
  Runs r;
  if (auto* c = track_record<CompositionOffsetTable>(t, BoxTypeId::Ctts))
    for (const CompositionOffsetEntry& e : c->entries) r.emplace_back(e.sample_count, e.sample_offset);
  return r;
}
std::vector<uint32_t> sizes_of(TrackBoxes* t) {
  auto* stsz = track_record<SampleSizeTable>(t, BoxTypeId::Stsz);
  std::vector<uint32_t> v;
  for (uint32_t i = 0; i < stsz->sample_count; ++i) v.push_back(stsz_sample_size(stsz, i));
  return v;
}
// {-1} when the track has no 'stss'.
std::vector<uint32_t> sync_of(TrackBoxes* t) {
  auto* stss = track_record<SyncSampleTable>(t, BoxTypeId::Stss);
  if (stss == nullptr) return {~0u};
  return std::vector<uint32_t>(stss->samples.begin(), stss->samples.end());
}

TEST(TablesFromSamples, TimesSizesAndSync) {
  struct Case {
    const char* name;
    std::vector<SampleShape> samples;
    Runs stts;
    Runs ctts;  // empty: no 'ctts'
    bool constant_size;
    std::vector<uint32_t> sync;  // {~0u}: no 'stss'
    int64_t shift;
  };
  const Case cases[] = {
      {"equal durations merge into one run; all sync: no 'stss'; no offsets: no 'ctts'",
       {{5, 10, 0, true}, {5, 10, 0, true}, {5, 10, 0, true}}, {{3, 10}}, {}, true, {~0u}, 0},
      {"durations change: a run each time",
       {{5, 10, 0, true}, {6, 10, 0, true}, {7, 20, 0, true}, {8, 10, 0, true}}, {{2, 10}, {1, 20}, {1, 10}}, {},
       false, {~0u}, 0},
      {"sync samples listed when some are not",
       {{5, 1, 0, true}, {5, 1, 0, false}, {5, 1, 0, false}, {5, 1, 0, true}}, {{4, 1}}, {}, true, {1, 4}, 0},
      {"no sync sample at all: an empty 'stss'", {{5, 1, 0, false}, {5, 1, 0, false}}, {{2, 1}}, {}, true, {}, 0},
      {"non-negative offsets kept as runs",
       {{5, 1, 2, true}, {5, 1, 0, false}, {5, 1, 0, false}, {5, 1, 4, false}}, {{4, 1}}, {{1, 2}, {2, 0}, {1, 4}},
       true, {1}, 0},
      {"negative offsets shifted up, the shift kept for the reader",
       {{5, 1, -2, true}, {5, 1, 0, true}, {5, 1, 3, true}}, {{3, 1}}, {{1, 0}, {1, 2}, {1, 5}}, true, {~0u}, 2},
      {"a sample of zero duration and zero size", {{0, 0, 0, true}, {9, 3, 0, true}}, {{1, 0}, {1, 3}}, {}, false,
       {~0u}, 0},
      {"no samples", {}, {}, {}, true, {~0u}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Imported f;
    const std::vector<ImportedSample> samples = samples_of(c.samples);
    ASSERT_EQ(f.build(samples), ErrorCode::Ok);
    EXPECT_EQ(stts_runs(f.track), c.stts);
    EXPECT_EQ(ctts_runs(f.track), c.ctts);
    EXPECT_EQ(find_box(f.track, BoxTypeId::Ctts) != nullptr, !c.ctts.empty());
    std::vector<uint32_t> sizes;
    for (const SampleShape& p : c.samples) sizes.push_back(p.size);
    EXPECT_EQ(sizes_of(f.track), sizes);
    EXPECT_EQ(stsz_is_listed(track_record<SampleSizeTable>(f.track, BoxTypeId::Stsz)), !c.constant_size);
    EXPECT_EQ(sync_of(f.track), c.sync);
    const TrackExtra* extra = f.track->extra;
    EXPECT_EQ(extra != nullptr ? extra->composition_shift : 0, c.shift);
    // One chunk a sample, at the sample's offset.
    const auto& offsets = track_record<ChunkOffsetTable>(f.track, BoxTypeId::Stco)->offsets;
    ASSERT_EQ(offsets.count, samples.size());
    for (uint32_t i = 0; i < offsets.count; ++i) EXPECT_EQ(offsets[i], samples[i].at);
    const auto& stsc = track_record<SampleToChunkTable>(f.track, BoxTypeId::Stsc)->entries;
    ASSERT_EQ(stsc.count, samples.empty() ? 0u : 1u);
    if (stsc.count == 1) {
      EXPECT_EQ(stsc[0].samples_per_chunk, 1u);
    }
    EXPECT_EQ(sample_groups(f.track), nullptr);  // no dependencies given, none made
  }
}

TEST(TablesFromSamples, DescriptionsAndDependencies) {
  Imported f(2);
  std::vector<ImportedSample> samples = samples_of(std::vector<SampleShape>(5, {4, 1, 0, true}));
  const uint16_t descriptions[] = {1, 1, 2, 2, 1};
  for (size_t i = 0; i < samples.size(); ++i) samples[i].description = descriptions[i];
  samples[0].dependency = sample_dependency(0, 2, 1, 0);
  samples[3].dependency = sample_dependency(1, 1, 2, 2);
  ASSERT_EQ(f.build(samples), ErrorCode::Ok);
  const auto& stsc = track_record<SampleToChunkTable>(f.track, BoxTypeId::Stsc)->entries;
  ASSERT_EQ(stsc.count, 3u);
  const uint32_t expected[3][3] = {{1, 1, 1}, {3, 1, 2}, {5, 1, 1}};
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(stsc[i].first_chunk, expected[i][0]);
    EXPECT_EQ(stsc[i].samples_per_chunk, expected[i][1]);
    EXPECT_EQ(stsc[i].sample_description_index, expected[i][2]);
  }
  const SampleGroupsRecord* groups = sample_groups(f.track);
  ASSERT_NE(groups, nullptr);
  EXPECT_EQ(groups->has_dependencies, 1u);
  const std::vector<uint8_t> bytes(groups->dependencies.begin(), groups->dependencies.end());
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x24, 0, 0, 0x5A, 0}));
  // The written 'stbl' carries them as 'sdtp'.
  const Bytes stbl = write_stbl_payload(f.track);
  const Bytes sdtp = full_box("sdtp", 0, 0, Bytes{0x24, 0, 0, 0x5A, 0});
  EXPECT_NE(std::search(stbl.begin(), stbl.end(), sdtp.begin(), sdtp.end()), stbl.end());

  // Built again without dependencies, the track loses them.
  for (ImportedSample& s : samples) s.dependency = 0;
  ASSERT_EQ(f.build(samples), ErrorCode::Ok);
  EXPECT_EQ(sample_groups(f.track)->has_dependencies, 0u);
}

// The distance a track's 'roll' description gives, in each form an 'sgpd'
// takes, and none from a description cut short or of another kind.
TEST(TablesFromSamples, RollDistanceAsItsDescriptionGivesIt) {
  struct Case {
    const char* name;
    Bytes sgpd;
    bool found;
    int16_t distance;
  };
  const Case cases[] = {
      {"version 1, a default length", full_box("sgpd", 1, 0, cat({text("roll"), u32(2), u32(1), u16(0xFFFC)})), true,
       -4},
      {"version 1, each entry's length", full_box("sgpd", 1, 0, cat({text("roll"), u32(0), u32(1), u32(2), u16(0xFFFF)})),
       true, -1},
      {"version 2, a default description", full_box("sgpd", 2, 0, cat({text("roll"), u32(0), u32(1), u16(2)})), true, 2},
      {"version 0", full_box("sgpd", 0, 0, cat({text("roll"), u32(1), u16(0xFFFE)})), true, -2},
      {"no entry", full_box("sgpd", 1, 0, cat({text("roll"), u32(2), u32(0)})), false, 0},
      {"cut before the distance", full_box("sgpd", 1, 0, cat({text("roll"), u32(2), u32(1), Bytes{0xFF}})), false, 0},
      {"another kind", full_box("sgpd", 1, 0, cat({text("rap "), u32(1), u32(1), Bytes{0x80}})), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Imported f;
    SampleGroupsRecord* groups = sample_groups_make(f.track);
    ASSERT_NE(groups, nullptr);
    OwnedBlock block{};
    ASSERT_EQ(block_assign(&block, c.sgpd.data(), static_cast<uint32_t>(c.sgpd.size())), ErrorCode::Ok);
    ASSERT_EQ(groups->descriptions.append(block), ErrorCode::Ok);
    int16_t distance = 0;
    EXPECT_EQ(sample_groups_roll_distance(f.track, &distance), c.found);
    if (c.found) {
      EXPECT_EQ(distance, c.distance);
    }
  }
}

TEST(TablesFromSamples, ReplacesWhatTheTrackHeld) {
  Imported f;
  ASSERT_EQ(f.build(samples_of({{5, 1, -1, false}, {6, 2, 0, true}, {7, 3, 1, true}})), ErrorCode::Ok);
  ASSERT_NE(find_box(f.track, BoxTypeId::Ctts), nullptr);
  ASSERT_NE(find_box(f.track, BoxTypeId::Stss), nullptr);
  ASSERT_EQ(f.track->extra->composition_shift, 1);
  ASSERT_EQ(f.build(samples_of({{9, 4, 0, true}, {9, 4, 0, true}})), ErrorCode::Ok);
  EXPECT_EQ(stts_runs(f.track), (Runs{{2, 4}}));
  EXPECT_EQ(sizes_of(f.track), (std::vector<uint32_t>{9, 9}));
  EXPECT_EQ(find_box(f.track, BoxTypeId::Ctts), nullptr);
  EXPECT_EQ(f.track->extra->composition_shift, 0);  // the shift of the samples replaced goes too
  EXPECT_EQ(find_box(f.track, BoxTypeId::Stss), nullptr);
  EXPECT_EQ(track_record<ChunkOffsetTable>(f.track, BoxTypeId::Stco)->offsets.count, 2u);
  EXPECT_EQ(track_record<SampleToChunkTable>(f.track, BoxTypeId::Stsc)->entries.count, 1u);
}

TEST(TablesFromSamples, OffsetsPast4GiBAreWrittenAsCo64) {
  for (uint64_t last : {uint64_t{0xFFFFFFF0}, uint64_t{0x100000010}}) {
    SCOPED_TRACE(last);
    Imported f;
    std::vector<ImportedSample> samples = samples_of({{8, 1, 0, true}, {8, 1, 0, true}});
    samples[1].at = last;
    ASSERT_EQ(f.build(samples), ErrorCode::Ok);
    const bool wide = last > UINT32_MAX;
    EXPECT_EQ(chunk_offsets_need_64bit(f.track), wide);
    const Bytes stbl = write_stbl_payload(f.track);
    const Bytes table = wide ? full_box("co64", 0, 0, cat({u32(2), u64(100), u64(last)}))
                             : full_box("stco", 0, 0, cat({u32(2), u32(100), u32(static_cast<uint32_t>(last))}));
    EXPECT_NE(std::search(stbl.begin(), stbl.end(), table.begin(), table.end()), stbl.end());
  }
}

TEST(TablesFromSamples, RefusedListsLeaveTheTrackAsItWas) {
  struct Case {
    const char* name;
    void (*spoil)(std::vector<ImportedSample>&);
    ErrorCode expected;
  };
  const Case cases[] = {
      {"description index 0", [](std::vector<ImportedSample>& s) { s[1].description = 0; }, ErrorCode::BadArgument},
      {"description index past 'stsd'", [](std::vector<ImportedSample>& s) { s[1].description = 2; },
       ErrorCode::BadArgument},
      {"unknown place of the bytes", [](std::vector<ImportedSample>& s) { s[2].where = 3; }, ErrorCode::BadArgument},
      {"a gap between decode times", [](std::vector<ImportedSample>& s) { s[2].decode_time += 1; },
       ErrorCode::BadArgument},
      {"decode times overlapping", [](std::vector<ImportedSample>& s) { s[1].duration += 1; }, ErrorCode::BadArgument},
      {"a range larger than the input", [](std::vector<ImportedSample>& s) { s[0].size = 4097; },
       ErrorCode::Malformed},
      {"times past 64 bits",
       [](std::vector<ImportedSample>& s) {
         s[0].decode_time = UINT64_MAX - 5;
         s[1].decode_time = UINT64_MAX - 4;
         s[2].decode_time = UINT64_MAX - 3;
         s[2].duration = 4;
       },
       ErrorCode::Malformed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Imported f;
    ASSERT_EQ(f.build(samples_of({{7, 2, 1, true}, {8, 3, 0, false}})), ErrorCode::Ok);
    const Bytes before = write_stbl_payload(f.track);
    std::vector<ImportedSample> samples = samples_of({{5, 1, 0, true}, {4096, 1, 0, true}, {3, 1, 0, true}});
    c.spoil(samples);
    EXPECT_EQ(f.build(samples), c.expected);
    EXPECT_EQ(write_stbl_payload(f.track), before);
  }
  // A ranged sample as large as the input is still one.
  Imported f;
  EXPECT_EQ(f.build(samples_of({{4096, 1, 0, true}})), ErrorCode::Ok);
  // Without its tables there is nothing to build.
  MemoryFile bare(zeros(16), kOpenRead);
  TrackBoxes* t = make_track(bare.get(), kHandlerVideo);
  const std::vector<ImportedSample> one = samples_of({{1, 1, 0, true}});
  EXPECT_EQ(tables_from_samples(bare.get(), t, one.data(), 1), ErrorCode::Missing);
  EXPECT_EQ(tables_from_samples(bare.get(), t, nullptr, 1), ErrorCode::BadArgument);
}

}  // namespace
}  // namespace vantorel
