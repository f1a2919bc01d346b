// Reading and writing the sample table boxes over golden bytes, the stbl
// container's order and chunk-offset width, and malformed tables.
#include <gtest/gtest.h>

#include <functional>
#include <string>

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

Bytes stts_box() { return full_box("stts", 0, 0, cat({u32(2), u32(3), u32(1001), u32(1), u32(2002)})); }
Bytes ctts_box() { return full_box("ctts", 0, 0, cat({u32(2), u32(2), u32(2002), u32(1), u32(0)})); }
Bytes stsc_box() { return full_box("stsc", 0, 0, cat({u32(2), u32(1), u32(4), u32(1), u32(3), u32(1), u32(2)})); }
Bytes stsz_listed_box() { return full_box("stsz", 0, 0, cat({u32(0), u32(3), u32(700), u32(0), u32(65536)})); }
Bytes stco_box() { return full_box("stco", 0, 0, cat({u32(3), u32(0x30), u32(0x1000), u32(0xFFFFFFF0u)})); }
Bytes stss_box() { return full_box("stss", 0, 0, cat({u32(3), u32(1), u32(13), u32(25)})); }

struct RoundTrip {
  const char* name;
  Bytes in;
  Bytes out;  // empty: the same as `in`
  std::function<void(TrackBoxes*)> check;
};

TEST(SampleTableBoxes, RoundTripOverGoldenBytes) {
  const RoundTrip cases[] = {
      {"stts with two runs", stts_box(), {},
       [](TrackBoxes* t) {
         auto* s = track_record<TimeToSampleTable>(t, BoxTypeId::Stts);
         ASSERT_EQ(s->entries.count, 2u);
         EXPECT_EQ(s->entries.capacity, 2u);  // exactly what the file holds
         EXPECT_EQ(s->entries[0].sample_count, 3u);
         EXPECT_EQ(s->entries[0].sample_delta, 1001u);
         EXPECT_EQ(s->entries[1].sample_delta, 2002u);
       }},
      {"stts without entries keeps version and flags", full_box("stts", 1, 0x0A0B0C, u32(0)), {},
       [](TrackBoxes* t) {
         auto* s = track_record<TimeToSampleTable>(t, BoxTypeId::Stts);
         EXPECT_EQ(s->version, 1u);
         EXPECT_EQ(s->flags, 0x0A0B0Cu);
         EXPECT_EQ(s->entries.items, nullptr);
       }},
      {"ctts version 0", ctts_box(), {}, nullptr},
      {"ctts version 1 with a negative offset",
       full_box("ctts", 1, 0, cat({u32(2), u32(1), u32(0xFFFFFC17u), u32(2), u32(2002)})), {},
       [](TrackBoxes* t) {
         auto* c = track_record<CompositionOffsetTable>(t, BoxTypeId::Ctts);
         EXPECT_EQ(c->entries[0].sample_offset, -1001);
       }},
      {"stsc", stsc_box(), {},
       [](TrackBoxes* t) {
         auto* c = track_record<SampleToChunkTable>(t, BoxTypeId::Stsc);
         ASSERT_EQ(c->entries.count, 2u);
         EXPECT_EQ(c->entries[1].first_chunk, 3u);
         EXPECT_EQ(c->entries[1].samples_per_chunk, 1u);
         EXPECT_EQ(c->entries[1].sample_description_index, 2u);
       }},
      {"stsz with one size for all", full_box("stsz", 0, 0, cat({u32(512), u32(7)})), {},
       [](TrackBoxes* t) {
         auto* z = track_record<SampleSizeTable>(t, BoxTypeId::Stsz);
         EXPECT_FALSE(stsz_is_listed(z));
         EXPECT_EQ(stsz_sample_size(z, 6), 512u);
         EXPECT_EQ(stsz_sample_size(z, 7), 0u);
         EXPECT_EQ(sample_count(t), 7u);
       }},
      {"stsz with a constant size and entries after it", full_box("stsz", 0, 0, cat({u32(4), u32(2), u32(9), u32(9)})),
       full_box("stsz", 0, 0, cat({u32(4), u32(2)})), nullptr},
      {"stsz listed", stsz_listed_box(), {},
       [](TrackBoxes* t) {
         auto* z = track_record<SampleSizeTable>(t, BoxTypeId::Stsz);
         EXPECT_TRUE(stsz_is_listed(z));
         EXPECT_EQ(stsz_sample_size(z, 0), 700u);
         EXPECT_EQ(stsz_sample_size(z, 2), 65536u);
       }},
      {"stco", stco_box(), {},
       [](TrackBoxes* t) {
         auto* o = track_record<ChunkOffsetTable>(t, BoxTypeId::Stco);
         EXPECT_EQ(o->offsets[2], 0xFFFFFFF0u);
         EXPECT_FALSE(chunk_offsets_need_64bit(t));
       }},
      {"co64 whose last offset needs 64 bits", full_box("co64", 0, 0, cat({u32(2), u64(0x30), u64(0x100000010ull)})),
       {},
       [](TrackBoxes* t) {
         EXPECT_TRUE(chunk_offsets_need_64bit(t));
         EXPECT_EQ(track_record<ChunkOffsetTable>(t, BoxTypeId::Stco)->offsets[1], 0x100000010ull);
       }},
      {"co64 with 32-bit offsets is written as stco", full_box("co64", 0, 0, cat({u32(2), u64(0x30), u64(0x40)})),
       full_box("stco", 0, 0, cat({u32(2), u32(0x30), u32(0x40)})), nullptr},
      {"stss", stss_box(), {}, nullptr},
      {"stz2 of 4 bits with an odd count",
       full_box("stz2", 0, 0, cat({u24(0), u8(4), u32(3), u8(0x5A), u8(0x70)})),
       full_box("stsz", 0, 0, cat({u32(0), u32(3), u32(5), u32(10), u32(7)})),
       [](TrackBoxes* t) {
         // The last size comes from the high nibble of the final byte.
         EXPECT_EQ(stsz_sample_size(track_record<SampleSizeTable>(t, BoxTypeId::Stsz), 2), 7u);
       }},
      {"stz2 of 4 bits with an even count", full_box("stz2", 0, 0, cat({u24(0), u8(4), u32(2), u8(0xF1)})),
       full_box("stsz", 0, 0, cat({u32(0), u32(2), u32(15), u32(1)})), nullptr},
      {"stz2 of 8 bits", full_box("stz2", 0, 0, cat({u24(0), u8(8), u32(3), u8(200), u8(0), u8(17), zeros(1)})),
       full_box("stsz", 0, 0, cat({u32(0), u32(3), u32(200), u32(0), u32(17)})), nullptr},
      {"stz2 of 16 bits", full_box("stz2", 0, 0, cat({u24(0), u8(16), u32(2), u16(0x1234), u16(0xFFFF)})),
       full_box("stsz", 0, 0, cat({u32(0), u32(2), u32(0x1234), u32(0xFFFF)})), nullptr},
      {"stz2 without samples", full_box("stz2", 0, 0, cat({u24(0), u8(16), u32(0)})),
       full_box("stsz", 0, 0, cat({u32(0), u32(0)})), nullptr},
      {"every table, written in the container's order",
       cat({stss_box(), stco_box(), stsz_listed_box(), stsc_box(), ctts_box(), stts_box()}),
       cat({stts_box(), ctts_box(), stsc_box(), stsz_listed_box(), stco_box(), stss_box()}), nullptr},
      {"an stz2 after an stsz is skipped",
       cat({full_box("stsz", 0, 0, cat({u32(5), u32(2)})), full_box("stz2", 0, 0, cat({u24(0), u8(8), u32(1), u8(1)}))}),
       full_box("stsz", 0, 0, cat({u32(5), u32(2)})), nullptr},
      {"a co64 after an stco is skipped", cat({stco_box(), full_box("co64", 0, 0, cat({u32(1), u64(1ull << 40)}))}),
       stco_box(), nullptr},
      {"unknown boxes are dropped", cat({box("zzzz", zeros(5)), stss_box()}), stss_box(), nullptr},
  };
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile in(c.in);
    TrackBoxes* track = make_track(in.get(), 1);
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(read_stbl_payload(in.get(), track), ErrorCode::Ok);
    if (c.check) c.check(track);
    EXPECT_EQ(write_stbl_payload(track), c.out.empty() ? c.in : c.out);
  }
}

TEST(SampleTableBoxes, InspectModeLeavesTheRecordsEmpty) {
  Bytes all = cat({stts_box(), ctts_box(), stsc_box(), stsz_listed_box(), stco_box(), stss_box()});
  for (const Bytes& in : {all, full_box("stz2", 0, 0, cat({u24(0), u8(8), u32(1), u8(9)})),
                          full_box("co64", 0, 0, cat({u32(1), u64(1ull << 40)}))}) {
    MemoryFile f(in, kOpenInspect);
    TrackBoxes* track = make_track(f.get(), 1);
    ASSERT_EQ(read_stbl_payload(f.get(), track), ErrorCode::Ok);
    StblRecord* stbl = track->mdia->minf->stbl;
    ASSERT_TRUE(stbl->sample_sizes != nullptr || stbl->chunk_offsets != nullptr);
    if (stbl->stts != nullptr) {
      EXPECT_EQ(stbl->stts->entries.items, nullptr);
    }
    if (stbl->ctts != nullptr) {
      EXPECT_EQ(stbl->ctts->entries.count, 0u);
    }
    if (stbl->stsc != nullptr) {
      EXPECT_EQ(stbl->stsc->entries.count, 0u);
    }
    if (stbl->sample_sizes != nullptr) {
      EXPECT_EQ(stbl->sample_sizes->sample_count, 0u);
      EXPECT_EQ(stbl->sample_sizes->sample_size, 0u);
      EXPECT_FALSE(stsz_is_listed(stbl->sample_sizes));
    }
    if (stbl->chunk_offsets != nullptr) {
      EXPECT_EQ(stbl->chunk_offsets->offsets.count, 0u);
    }
    if (stbl->stss != nullptr) {
      EXPECT_EQ(stbl->stss->samples.count, 0u);
    }
  }
}

TEST(SampleTableBoxes, ChunkOffsetsWidenWhenAnOffsetNeedsSixtyFourBits) {
  struct Case {
    const char* name;
    std::vector<uint64_t> offsets;
    Bytes out;
  };
  const Case cases[] = {
      {"all below 2^32", {0x28, 0xFFFFFFFFull}, full_box("stco", 0, 0, cat({u32(2), u32(0x28), u32(0xFFFFFFFFu)}))},
      {"the last at 2^32", {0x28, 0x100000000ull},
       full_box("co64", 0, 0, cat({u32(2), u64(0x28), u64(0x100000000ull)}))},
      // Not in file order: cutting the first offset to 32 bits would lose it.
      {"an earlier one past 2^32", {0x100000028ull, 0x28},
       full_box("co64", 0, 0, cat({u32(2), u64(0x100000028ull), u64(0x28)}))},
      {"none", {}, full_box("stco", 0, 0, u32(0))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile f({}, kOpenCreate);
    TrackBoxes* track = make_track(f.get(), 1);
    add_tables(f.get(), track, {BoxTypeId::Stco});
    for (uint64_t o : c.offsets) ASSERT_EQ(stco_append(f.get(), track, o), ErrorCode::Ok);
    EXPECT_EQ(write_stbl_payload(track), c.out);
  }
}

TEST(SampleTableBoxes, ConstantSizeOfZeroIsWrittenAsZeroSizes) {
  MemoryFile f({}, kOpenCreate);
  TrackBoxes* track = make_track(f.get(), 2);
  add_tables(f.get(), track, {BoxTypeId::Stsz});
  ASSERT_EQ(stsz_append(f.get(), track, 0, 3), ErrorCode::Ok);
  EXPECT_FALSE(stsz_is_listed(track_record<SampleSizeTable>(track, BoxTypeId::Stsz)));
  EXPECT_EQ(write_stbl_payload(track), full_box("stsz", 0, 0, cat({u32(0), u32(3), zeros(12)})));
}

struct Bad {
  const char* name;
  Bytes in;
};

TEST(SampleTableBoxes, MalformedTablesFailWithoutAllocating) {
  const Bad cases[] = {
      // 4,294,967,295 sizes claimed by a 40-byte box: an error, not 16 GiB.
      {"stsz count past the box", full_box("stsz", 0, 0, cat({u32(0), u32(0xFFFFFFFFu), zeros(20)}))},
      {"stts count past the box", full_box("stts", 0, 0, cat({u32(3), u32(1), u32(1), u32(1), u32(1)}))},
      {"ctts count past the box", full_box("ctts", 0, 0, cat({u32(0x20000000u), u32(1), u32(1)}))},
      {"stsc count past the box", full_box("stsc", 0, 0, cat({u32(2), u32(1), u32(1), u32(1)}))},
      {"stco count past the box", full_box("stco", 0, 0, cat({u32(3), u32(1), u32(2)}))},
      {"co64 count past the box", full_box("co64", 0, 0, cat({u32(2), u64(1), u32(0)}))},
      {"stss count past the box", full_box("stss", 0, 0, cat({u32(0xFFFFFFFFu), u32(1), u32(2), u32(3)}))},
      {"stz2 field size 12", full_box("stz2", 0, 0, cat({u24(0), u8(12), u32(1), u16(0)}))},
      {"stz2 of 4 bits past the box", full_box("stz2", 0, 0, cat({u24(0), u8(4), u32(5), u16(0)}))},
      {"stz2 of 16 bits past the box", full_box("stz2", 0, 0, cat({u24(0), u8(16), u32(3), u32(0)}))},
      {"stz2 count near 2^32", full_box("stz2", 0, 0, cat({u24(0), u8(16), u32(0xFFFFFFFFu), u32(0)}))},
      {"stts too short for its count", box("stts", zeros(5))},
      {"stsz too short for its count", box("stsz", zeros(8))},
      // A box that claims more than the container is read within the container.
      {"stts larger than its container", box_sized(1000, "stts", cat({u32(0), u32(100), zeros(16)}))},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile f(c.in);
    TrackBoxes* track = make_track(f.get(), 1);
    EXPECT_EQ(read_stbl_payload(f.get(), track), ErrorCode::Malformed);
    ASSERT_NE(f->detail.reason, nullptr);
    EXPECT_EQ(std::string(f->detail.path), std::string(reinterpret_cast<const char*>(c.in.data() + 4), 4));
  }
}

}  // namespace
}  // namespace vantorel
