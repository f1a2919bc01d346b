// Building tracks, and the upkeep of durations, modification times and
// the next track id.
#include <gtest/gtest.h>

#include <string>

#include "boxes/dref.h"
#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/media_headers.h"
#include "boxes/moov.h"
#include "sampletables/movie_upkeep.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "sampletables/track_builder.h"
#include "boxes/tree_helpers.h"
#include "boxes/tref.h"
#include "sampletables/stsd.h"

namespace vantorel {
namespace {

using namespace test;

// A new movie: root, moov and mvhd.
struct NewMovie {
  MemoryFile file;
  explicit NewMovie(uint32_t mode = kOpenCreate) : file({}, mode) {
    create_root(file.get());
    add_movie_box(file.get(), BoxTypeId::Moov);
    add_movie_box(file.get(), BoxTypeId::Mvhd);
  }
  MediaFile* get() { return file.get(); }
  FileBoxes* root() { return file->root; }
  MvhdRecord* mvhd() { return movie_record<MvhdRecord>(root(), BoxTypeId::Mvhd); }
  TrackBoxes* create(uint32_t kind, uint32_t id = 0, const char* name = nullptr, const char* language = nullptr) {
    TrackSetup s{};
    s.kind = kind;
    s.timescale = 1000;
    s.handler_name = name;
    s.language = language;
    s.track_id = id;
    return create_track(file.get(), &s);
  }
};

bool has(TrackBoxes* t, BoxTypeId id) { return find_box(t, id) != nullptr; }

TEST(CreateTrack, EveryKind) {
  struct Case {
    uint32_t kind;
    const char* name;
    BoxTypeId header;
  } cases[] = {
      {1, "Video Media Handler", BoxTypeId::Vmhd},
      {2, "Sound Media Handler", BoxTypeId::Smhd},
      {3, "Hint Media Handler", BoxTypeId::Hmhd},
      {4, "Default Media Handler", BoxTypeId::Nmhd},
      {5, "Default Media Handler", BoxTypeId::Nmhd},
      {6, "Default Media Handler", BoxTypeId::Nmhd},
      {7, "Default Media Handler", BoxTypeId::Nmhd},
      {8, "Default Media Handler", BoxTypeId::Nmhd},
      {9, "Default Media Handler", BoxTypeId::Nmhd},
      {10, "Default Media Handler", BoxTypeId::Nmhd},
      {11, "Subpicture Media Handler", BoxTypeId::Nmhd},
      {12, "Subtitle Media Handler", BoxTypeId::Nmhd},
      {13, "Interleaved Media Handler", BoxTypeId::Vmhd},
      {14, "Streaming Extension Media Handler", BoxTypeId::Nmhd},
  };
  NewMovie m;
  uint32_t expected_id = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    TrackBoxes* t = m.create(c.kind);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(track_id_of(t), expected_id);
    EXPECT_EQ(m.mvhd()->next_track_id, expected_id + 1);
    EXPECT_EQ(handler_kind_of(t), c.kind);
    auto* h = track_record<HdlrRecord>(t, BoxTypeId::Hdlr);
    ASSERT_NE(h->name, nullptr);
    EXPECT_STREQ(h->name, c.name);
    for (BoxTypeId header : {BoxTypeId::Vmhd, BoxTypeId::Smhd, BoxTypeId::Hmhd, BoxTypeId::Nmhd})
      EXPECT_EQ(has(t, header), header == c.header);
    auto* mdhd = track_record<MdhdRecord>(t, BoxTypeId::Mdhd);
    EXPECT_EQ(mdhd->timescale, 1000u);
    EXPECT_STREQ(mdhd->language, "und");
    EXPECT_EQ(track_record<TkhdRecord>(t, BoxTypeId::Tkhd)->volume, c.kind == 2 ? 0x0100 : 0);
    EXPECT_EQ(track_record<TkhdRecord>(t, BoxTypeId::Tkhd)->flags, 7u);
    auto* dref = track_record<DrefRecord>(t, BoxTypeId::Dref);
    ASSERT_NE(dref, nullptr);
    ASSERT_EQ(dref->entries.count, 1u);
    EXPECT_EQ(dref->entries[0].kind, kDrefUrl);
    EXPECT_EQ(dref->entries[0].flags, kDrefSelfContained);
    EXPECT_TRUE(has(t, BoxTypeId::Stbl));
    // The sample description holds the kind's first entry, and every table
    // exists and is empty; only video-like kinds get a sync table.
    auto* stsd = track_record<SampleDescriptionTable>(t, BoxTypeId::Stsd);
    ASSERT_NE(stsd, nullptr);
    EXPECT_EQ(stsd->entry_count, 1u);
    EXPECT_EQ(stsd->layout, entry_layout_of_kind(c.kind));
    for (BoxTypeId table : {BoxTypeId::Stts, BoxTypeId::Stsc, BoxTypeId::Stsz, BoxTypeId::Stco})
      EXPECT_TRUE(has(t, table));
    EXPECT_EQ(has(t, BoxTypeId::Stss), c.kind == 1 || c.kind == 13);
    EXPECT_FALSE(has(t, BoxTypeId::Ctts));
    EXPECT_FALSE(has(t, BoxTypeId::Tref));
    EXPECT_FALSE(has(t, BoxTypeId::Edts));
    ++expected_id;
  }
  EXPECT_EQ(track_count(m.root()), 14u);
  EXPECT_EQ(m.get()->track_changed.count, 14u);
}

TEST(CreateTrack, RefusedKindsLeaveNothing) {
  NewMovie m;
  EXPECT_EQ(m.create(kHandlerUnknown), nullptr);
  EXPECT_EQ(m.create(kHandlerKindCount), nullptr);
  EXPECT_EQ(track_count(m.root()), 0u);
  EXPECT_EQ(create_track(m.get(), nullptr), nullptr);
  TrackSetup s{};
  s.kind = 1;
  EXPECT_EQ(create_track(nullptr, &s), nullptr);
  s.reference_type = kReferenceHint;
  s.reference_count = 2;  // but no ids
  EXPECT_EQ(create_track(m.get(), &s), nullptr);
  s.reference_type = 9;
  s.reference_count = 0;
  EXPECT_EQ(create_track(m.get(), &s), nullptr);
  EXPECT_EQ(track_count(m.root()), 0u);

  NewMovie no_mvhd;
  remove_movie_box(no_mvhd.get(), BoxTypeId::Mvhd);
  EXPECT_EQ(no_mvhd.create(1), nullptr);
  EXPECT_EQ(track_count(no_mvhd.root()), 0u);
}

TEST(CreateTrack, NamesLanguagesIdsAndReferences) {
  NewMovie m;
  TrackBoxes* t = m.create(kHandlerSound, 5, "Stereo", "ENGLISH");
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(track_record<HdlrRecord>(t, BoxTypeId::Hdlr)->name, "Stereo");
  EXPECT_STREQ(track_record<MdhdRecord>(t, BoxTypeId::Mdhd)->language, "eng");
  EXPECT_EQ(track_id_of(t), 5u);
  EXPECT_EQ(m.mvhd()->next_track_id, 6u);

  // A track id in use gives nothing and leaves no track behind.
  uint32_t words = m.get()->track_changed.count;
  EXPECT_EQ(m.create(kHandlerVideo, 5), nullptr);
  EXPECT_EQ(track_count(m.root()), 1u);
  EXPECT_EQ(m.get()->track_changed.count, words);

  // A smaller id goes before; the next id stays above the largest.
  TrackBoxes* v = m.create(kHandlerVideo, 2, nullptr, "de");  // too short a language: kept "und"
  ASSERT_NE(v, nullptr);
  EXPECT_STREQ(track_record<MdhdRecord>(v, BoxTypeId::Mdhd)->language, "und");
  EXPECT_EQ(track_id_of(track_at(m.root(), 0)), 2u);
  EXPECT_EQ(m.mvhd()->next_track_id, 6u);

  const uint32_t refs[] = {2, 5};
  TrackSetup s{};
  s.kind = kHandlerHint;
  s.timescale = 90000;
  s.reference_type = kReferenceHint;
  s.reference_count = 2;
  s.reference_ids = refs;
  TrackBoxes* hint = create_track(m.get(), &s);
  ASSERT_NE(hint, nullptr);
  EXPECT_EQ(track_id_of(hint), 6u);
  auto* tref = track_record<TrefRecord>(hint, BoxTypeId::Tref);
  ASSERT_NE(tref, nullptr);
  ASSERT_EQ(tref->references.count, 1u);
  EXPECT_TRUE(tref->references[0].type == "hint");
  ASSERT_EQ(tref->references[0].track_ids.count, 2u);
  EXPECT_EQ(tref->references[0].track_ids[1], 5u);
}

TEST(CreateTrack, AStaleNextIdDoesNotDuplicateATrack) {
  NewMovie m;
  ASSERT_NE(m.create(kHandlerVideo, 3), nullptr);
  m.mvhd()->next_track_id = 3;
  TrackBoxes* t = m.create(kHandlerSound);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(track_id_of(t), 4u);
  m.mvhd()->next_track_id = 0;
  t = m.create(kHandlerSound);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(track_id_of(t), 5u);
}

TEST(CreateTrack, AFailureHalfwayRemovesTheTrack) {
  NewMovie m;
  // A track without tkhd makes the final step (the next track id) fail.
  ASSERT_NE(add_track(m.get(), 0), nullptr);
  EXPECT_EQ(m.create(kHandlerVideo, 7), nullptr);
  ASSERT_EQ(track_count(m.root()), 1u);
  EXPECT_EQ(track_at(m.root(), 0)->tkhd, nullptr);
  EXPECT_EQ(m.get()->track_changed.count, 1u);
}

TEST(CreateTrack, NewTracksAreWrittenAndReadBack) {
  NewMovie m;
  ASSERT_NE(m.create(kHandlerVideo), nullptr);
  ASSERT_NE(m.create(kHandlerSound), nullptr);
  ASSERT_NE(m.create(kHandlerHint), nullptr);
  reset_size_mismatch_count();
  ErrorCode e;
  Bytes moov = write_movie(m.root(), &e);
  ASSERT_EQ(e, ErrorCode::Ok);
  EXPECT_EQ(size_mismatch_count(), 0u);
  EXPECT_EQ(moov.size(), moov_size(m.get(), m.root()) + 8);
  ParsedTree back = parse_file(moov);
  ASSERT_EQ(back.result, ErrorCode::Ok);
  ASSERT_EQ(track_count(back.root()), 3u);
  const uint32_t kinds[] = {kHandlerVideo, kHandlerSound, kHandlerHint};
  for (uint32_t i = 0; i < 3; ++i) {
    TrackBoxes* t = back.track(i);
    EXPECT_EQ(track_id_of(t), i + 1);
    EXPECT_EQ(handler_kind_of(t), kinds[i]);
    EXPECT_EQ(track_record<MdhdRecord>(t, BoxTypeId::Mdhd)->timescale, 1000u);
    EXPECT_EQ(track_record<DrefRecord>(t, BoxTypeId::Dref)->entries.count, 1u);
    EXPECT_NE(find_box(t, media_header_for_kind(kinds[i])), nullptr);
  }
  // Written again, the same bytes.
  Bytes again = write_movie(back.root(), &e);
  ASSERT_EQ(e, ErrorCode::Ok);
  EXPECT_EQ(again, moov);
}

// A movie built by hand in inspect mode, where media durations are taken
// as they are and not recomputed from the sample tables.
struct DurationMovie : NewMovie {
  DurationMovie() : NewMovie(kOpenInspect) { mvhd()->timescale = 1000; }
  TrackBoxes* track_with(uint32_t media_timescale, uint64_t media_duration,
                         std::vector<std::pair<uint64_t, int64_t>> edits = {}, bool with_edts = false) {
    TrackBoxes* t = create(kHandlerVideo);
    auto* mdhd = track_record<MdhdRecord>(t, BoxTypeId::Mdhd);
    mdhd->timescale = media_timescale;
    mdhd->duration = media_duration;
    if (with_edts || !edits.empty()) {
      add_track_box(get(), t, BoxTypeId::Edts);
      add_track_box(get(), t, BoxTypeId::Elst);
      for (auto [d, mt] : edits) add_edit(get(), t, d, mt, 1, 0);
    }
    return t;
  }
  uint64_t tkhd_duration(uint32_t i) { return track_record<TkhdRecord>(track_at(root(), i), BoxTypeId::Tkhd)->duration; }
  std::vector<uint64_t> edits(uint32_t i) {
    std::vector<uint64_t> out;
    for (const ElstEntry& e : track_record<ElstRecord>(track_at(root(), i), BoxTypeId::Elst)->entries)
      out.push_back(e.segment_duration);
    return out;
  }
};

TEST(UpdateDurations, EditListsAndTimeScales) {
  DurationMovie m;
  m.track_with(90000, 900000);                                  // 10 s
  m.track_with(90000, 900000, {{3000, kEmptyEdit}, {0, 0}});    // delayed by 3 s
  m.track_with(44100, 441000, {{3000, kEmptyEdit}, {100, 500}});
  m.track_with(0, 12345);                                       // no time scale: no duration
  m.track_with(48000, 48000, {{1, kEmptyEdit}, {2, 0}, {3, 0}});
  m.track_with(1000, 700, {}, true);                            // an elst without edits
  ASSERT_EQ(update_durations(m.get(), m.root()), ErrorCode::Ok);
  EXPECT_EQ(m.tkhd_duration(0), 10000u);
  EXPECT_EQ(m.edits(1), (std::vector<uint64_t>{3000, 10000}));
  EXPECT_EQ(m.tkhd_duration(1), 13000u);
  EXPECT_EQ(m.edits(2), (std::vector<uint64_t>{3000, 100}));
  EXPECT_EQ(m.tkhd_duration(2), 3100u);
  EXPECT_EQ(m.tkhd_duration(3), 0u);
  EXPECT_EQ(m.edits(4), (std::vector<uint64_t>{1, 2, 3}));
  EXPECT_EQ(m.tkhd_duration(4), 6u);
  EXPECT_EQ(m.tkhd_duration(5), 0u);
  EXPECT_EQ(m.mvhd()->duration, 13000u);
  EXPECT_EQ(track_record<MdhdRecord>(track_at(m.root(), 3), BoxTypeId::Mdhd)->duration, 12345u);  // kept
  EXPECT_EQ(m.mvhd()->version, 0);
}

TEST(UpdateDurations, SixtyFourBitDurationsWidenTheBoxes) {
  DurationMovie m;
  m.track_with(1000, 1ull << 33, {{0, 0}});
  ASSERT_EQ(update_durations(m.get(), m.root()), ErrorCode::Ok);
  TrackBoxes* t = track_at(m.root(), 0);
  EXPECT_EQ(track_record<ElstRecord>(t, BoxTypeId::Elst)->version, 1);
  EXPECT_EQ(track_record<TkhdRecord>(t, BoxTypeId::Tkhd)->version, 1);
  EXPECT_EQ(track_record<TkhdRecord>(t, BoxTypeId::Tkhd)->duration, 1ull << 33);
  EXPECT_EQ(m.mvhd()->version, 1);
  EXPECT_EQ(m.mvhd()->duration, 1ull << 33);
  // Written and read back, the wide fields survive.
  ErrorCode e;
  Bytes moov = write_movie(m.root(), &e);
  ASSERT_EQ(e, ErrorCode::Ok);
  ParsedTree back = parse_file(moov);
  ASSERT_EQ(back.result, ErrorCode::Ok);
  EXPECT_EQ(movie_record<MvhdRecord>(back.root(), BoxTypeId::Mvhd)->duration, 1ull << 33);
  EXPECT_EQ(total_edit_duration(back.track()), 1ull << 33);
}

TEST(UpdateDurations, OutsideInspectModeMediaDurationsComeFromTheSamples) {
  // No time-to-sample table: no samples, so no duration, whatever mdhd said.
  NewMovie m(kOpenCreate);
  TrackBoxes* t = m.create(kHandlerSound);
  auto* mdhd = track_record<MdhdRecord>(t, BoxTypeId::Mdhd);
  mdhd->duration = 5000;
  ASSERT_EQ(update_durations(m.get(), m.root()), ErrorCode::Ok);
  EXPECT_EQ(mdhd->duration, 0u);
  EXPECT_EQ(m.mvhd()->duration, 0u);

  NewMovie no_mvhd;
  remove_movie_box(no_mvhd.get(), BoxTypeId::Mvhd);
  EXPECT_EQ(update_durations(no_mvhd.get(), no_mvhd.root()), ErrorCode::Missing);
  EXPECT_EQ(update_durations(nullptr, m.root()), ErrorCode::BadArgument);
}

TEST(TouchModifiedTracks, OnlyMarkedTracksAndTheMovie) {
  NewMovie m;
  TrackBoxes* a = m.create(kHandlerVideo);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(m.create(kHandlerSound), nullptr);
  for (uint32_t i = 0; i < 2; ++i) {
    track_record<MdhdRecord>(track_at(m.root(), i), BoxTypeId::Mdhd)->modification_time = 5;
    track_record<TkhdRecord>(track_at(m.root(), i), BoxTypeId::Tkhd)->modification_time = 5;
  }
  m.mvhd()->modification_time = 5;
  m.get()->track_changed[0] = 0;
  m.get()->track_changed[1] = 1;
  ASSERT_EQ(touch_modified_tracks(m.get(), m.root()), ErrorCode::Ok);
  uint64_t now = now_1904();
  auto near_now = [&](uint64_t t) { return t + 5 >= now && t <= now; };
  EXPECT_EQ(track_record<MdhdRecord>(track_at(m.root(), 0), BoxTypeId::Mdhd)->modification_time, 5u);
  EXPECT_EQ(track_record<TkhdRecord>(track_at(m.root(), 0), BoxTypeId::Tkhd)->modification_time, 5u);
  EXPECT_TRUE(near_now(track_record<MdhdRecord>(track_at(m.root(), 1), BoxTypeId::Mdhd)->modification_time));
  EXPECT_TRUE(near_now(track_record<TkhdRecord>(track_at(m.root(), 1), BoxTypeId::Tkhd)->modification_time));
  EXPECT_TRUE(near_now(m.mvhd()->modification_time));
  EXPECT_EQ(m.get()->track_changed[1], 0u);
  EXPECT_EQ(m.get()->tracks_changed, 0u);

  // Nothing marked: nothing changes.
  m.mvhd()->modification_time = 5;
  ASSERT_EQ(touch_modified_tracks(m.get(), m.root()), ErrorCode::Ok);
  EXPECT_EQ(m.mvhd()->modification_time, 5u);
}

TEST(SetNextTrackId, LargestPlusOne) {
  NewMovie m;
  m.mvhd()->next_track_id = 42;
  ASSERT_EQ(set_next_track_id(m.root()), ErrorCode::Ok);
  EXPECT_EQ(m.mvhd()->next_track_id, 1u);
  ASSERT_NE(m.create(kHandlerVideo, 7), nullptr);
  ASSERT_NE(m.create(kHandlerVideo, 3), nullptr);
  m.mvhd()->next_track_id = 1;
  ASSERT_EQ(set_next_track_id(m.root()), ErrorCode::Ok);
  EXPECT_EQ(m.mvhd()->next_track_id, 8u);
  add_track(m.get(), 0);  // no tkhd
  EXPECT_EQ(set_next_track_id(m.root()), ErrorCode::Missing);
  remove_movie_box(m.get(), BoxTypeId::Mvhd);
  EXPECT_EQ(set_next_track_id(m.root()), ErrorCode::Missing);
  EXPECT_EQ(set_next_track_id(nullptr), ErrorCode::BadArgument);
}

}  // namespace
}  // namespace vantorel

namespace vantorel {
namespace {

TEST(CreateTrack, SoundEntryRateFollowsTheTimeScale) {
  for (uint32_t rate : {8000u, 44100u, 65535u, 96000u}) {
    SCOPED_TRACE(rate);
    NewMovie m;
    TrackSetup s{};
    s.kind = kHandlerSound;
    s.timescale = rate;
    TrackBoxes* t = create_track(m.get(), &s);
    ASSERT_NE(t, nullptr);
    SoundSampleEntry* entry = sound_entry(m.get(), t, 0);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->channel_count, 2);
    // 16.16 holds rates below 65536; above that the field stays 0.
    EXPECT_EQ(entry->sample_rate, rate <= 0xFFFF ? rate << 16 : 0u);
  }
}

}  // namespace
}  // namespace vantorel
