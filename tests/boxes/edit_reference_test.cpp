// Edit lists, track references, movie extends and the initial object
// descriptor.
#include <gtest/gtest.h>

#include <cstring>

#include "boxes/elst.h"
#include "boxes/iods.h"
#include "boxes/moov.h"
#include "boxes/mvex.h"
#include "boxes/mvhd.h"
#include "boxes/tree_helpers.h"
#include "boxes/tref.h"

namespace vantorel {
namespace {

using namespace test;

Bytes edit_v0(uint32_t duration, uint32_t media_time) { return cat({u32(duration), u32(media_time), u16(1), u16(0)}); }
Bytes edit_v1(uint64_t duration, uint64_t media_time) { return cat({u64(duration), u64(media_time), u16(1), u16(0)}); }

TEST(Elst, GoldenRoundTrips) {
  const Bytes cases[] = {
      full_box("elst", 0, 0, cat({u32(2), edit_v0(3000, 0xFFFFFFFFu), edit_v0(9000, 0)})),
      full_box("elst", 0, 0, cat({u32(1), u32(5), u32(7), u16(0xFFFF), u16(0x8000)})),
      full_box("elst", 1, 0, cat({u32(2), edit_v1(1ull << 33, ~uint64_t{0}), edit_v1(10, 1ull << 40)})),
  };
  for (const Bytes& elst : cases) {
    reset_size_mismatch_count();
    ErrorCode e;
    EXPECT_EQ(rewrite_box(Level::Edts, elst, &e), elst);
    EXPECT_EQ(e, ErrorCode::Ok);
    EXPECT_EQ(size_mismatch_count(), 0u);
  }
}

TEST(Elst, VersionZeroEmptyEditReadsAsMinusOne) {
  ParsedTree t = parse_file(
      wrap_at(Level::Edts, full_box("elst", 0, 0, cat({u32(3), edit_v0(3000, 0xFFFFFFFFu), edit_v0(50, 0x7FFFFFFF),
                                                       edit_v0(9000, 0x80000000u)}))));
  ASSERT_EQ(t.result, ErrorCode::Ok);
  auto* e = track_record<ElstRecord>(t.track(), BoxTypeId::Elst);
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(e->entries.count, 3u);
  EXPECT_EQ(e->entries[0].media_time, kEmptyEdit);
  EXPECT_EQ(e->entries[1].media_time, 0x7FFFFFFF);
  EXPECT_EQ(e->entries[2].media_time, INT32_MIN);  // sign-extended like the empty edit
  EXPECT_EQ(initial_empty_duration(t.track()), 3000u);
  EXPECT_EQ(first_media_time(t.track()), 0x7FFFFFFF);
  EXPECT_EQ(total_edit_duration(t.track()), 12050u);
}

// A track with an empty edts and elst, in memory.
struct EditTrack {
  MemoryFile file{{}, kOpenCreate};
  TrackBoxes* track = nullptr;
  EditTrack() {
    create_root(file.get());
    add_movie_box(file.get(), BoxTypeId::Moov);
    track = add_track(file.get(), 0);
    add_track_box(file.get(), track, BoxTypeId::Edts);
    add_track_box(file.get(), track, BoxTypeId::Elst);
  }
  ElstRecord* elst() { return track_record<ElstRecord>(track, BoxTypeId::Elst); }
};

TEST(Elst, AddEditChoosesTheVersion) {
  struct Case {
    const char* name;
    uint64_t duration;
    int64_t media_time;
    uint8_t version;
  } cases[] = {
      {"empty edit, 32-bit duration", 0xFFFFFFFFull, kEmptyEdit, 0},
      {"duration of 2^32", 1ull << 32, 0, 1},
      {"largest 32-bit media time", 10, INT32_MAX, 0},
      {"media time past 32 bits", 10, int64_t{INT32_MAX} + 1, 1},
      {"negative media time other than -1", 10, -2, 0},
      {"very negative media time", 10, int64_t{INT32_MIN} - 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EditTrack t;
    ASSERT_EQ(add_edit(t.file.get(), t.track, c.duration, c.media_time, 1, 0), ErrorCode::Ok);
    EXPECT_EQ(t.elst()->version, c.version);
    EXPECT_EQ(elst_size(t.file.get(), t.track), c.version == 1 ? 28u : 20u);
  }
  MemoryFile bare({}, kOpenCreate);
  create_root(bare.get());
  add_movie_box(bare.get(), BoxTypeId::Moov);
  TrackBoxes* track = add_track(bare.get(), 0);
  EXPECT_EQ(add_edit(bare.get(), track, 1, 0, 1, 0), ErrorCode::Missing);  // no elst
  EXPECT_EQ(add_edit(nullptr, track, 1, 0, 1, 0), ErrorCode::BadArgument);
}

TEST(Elst, LastEditDurationIsFilledOnlyForTheWriterForms) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint64_t, int64_t>> edits;
    std::vector<uint64_t> after;
  } cases[] = {
      {"delayed track", {{3000, kEmptyEdit}, {0, 0}}, {3000, 7777}},
      {"single fill-in edit", {{0, 0}}, {7777}},
      {"last edit starts at 500", {{3000, kEmptyEdit}, {100, 500}}, {3000, 100}},
      {"three edits", {{1, kEmptyEdit}, {2, 0}, {3, 0}}, {1, 2, 3}},
      {"no edits", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EditTrack t;
    for (auto [d, m] : c.edits) ASSERT_EQ(add_edit(t.file.get(), t.track, d, m, 1, 0), ErrorCode::Ok);
    ASSERT_EQ(set_last_edit_duration(t.track, 7777), ErrorCode::Ok);
    std::vector<uint64_t> after;
    for (const ElstEntry& e : t.elst()->entries) after.push_back(e.segment_duration);
    EXPECT_EQ(after, c.after);
  }
  EditTrack wide;
  add_edit(wide.file.get(), wide.track, 0, 0, 1, 0);
  ASSERT_EQ(set_last_edit_duration(wide.track, 1ull << 32), ErrorCode::Ok);
  EXPECT_EQ(wide.elst()->version, 1);
}

TEST(Elst, EmptyListAndQueries) {
  EditTrack t;
  EXPECT_EQ(initial_empty_duration(t.track), 0u);
  EXPECT_EQ(first_media_time(t.track), 0);
  EXPECT_EQ(total_edit_duration(t.track), 0u);
  // Without entries there is nothing to write.
  ErrorCode e;
  write_row(kEdtsList.first[0], t.track, &e);
  EXPECT_EQ(e, ErrorCode::Missing);
  add_edit(t.file.get(), t.track, 5, kEmptyEdit, 1, 0);
  add_edit(t.file.get(), t.track, 6, kEmptyEdit, 1, 0);
  EXPECT_EQ(first_media_time(t.track), 0);  // no edit shows media
  EXPECT_EQ(initial_empty_duration(t.track), 5u);
  EXPECT_EQ(total_edit_duration(t.track), 11u);
}

// Every reference box a 'tref' holds, of any type, goes back in order and
// byte for byte; ids of tracks left out are removed, and a box left without
// ids with them.
TEST(Tref, EveryReferenceBoxRoundTrips) {
  struct Case {
    const char* name;
    Bytes tref;
  };
  const Case cases[] = {
      {"one hint reference", box("tref", box("hint", cat({u32(1), u32(3)})))},
      {"sync", box("tref", box("sync", u32(9)))},
      {"two types, in their order", box("tref", cat({box("hint", u32(1)), box("cdsc", u32(2))}))},
      {"types the library has no name for", box("tref", cat({box("vdep", u32(4)), box("subt", u32(2)),
                                                            box("forc", u32(3)), box("auxl", cat({u32(1), u32(7)}))}))},
      {"a box listing no ids", box("tref", cat({box("scpt", {}), box("cdsc", u32(1))}))},
      {"bytes past the last whole id", box("tref", box("font", cat({u32(5), u8(0x0a), u8(0x0b)})))},
  };
  reset_size_mismatch_count();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ErrorCode e;
    EXPECT_EQ(rewrite_box(Level::Trak, c.tref, &e), c.tref);
    EXPECT_EQ(e, ErrorCode::Ok);
  }
  EXPECT_EQ(size_mismatch_count(), 0u);

  ParsedTree t = parse_file(wrap_at(Level::Trak, box("tref", cat({box("hint", u32(1)), box("cdsc", u32(2))}))));
  const TrefEntry* cdsc = find_reference(t.track(), FourCC::of("cdsc"));
  ASSERT_NE(cdsc, nullptr);
  ASSERT_EQ(cdsc->track_ids.count, 1u);
  EXPECT_EQ(cdsc->track_ids[0], 2u);
  EXPECT_EQ(find_reference(t.track(), FourCC::of("sync")), nullptr);
}

TEST(Tref, RemovingIdsOfTracksLeftOut) {
  const Bytes in = box("tref", cat({box("cdsc", cat({u32(1), u32(5)})), box("vdep", u32(5)), box("scpt", {}),
                                    box("auxl", cat({u32(5), u32(2), u32(5)}))}));
  struct Case {
    const char* name;
    std::vector<uint32_t> removed;
    Bytes expected;  // empty: no 'tref' left
  };
  const Case cases[] = {
      {"nothing removed", {}, in},
      {"an id in several boxes; a box left empty goes, one that listed none stays", {5},
       box("tref", cat({box("cdsc", u32(1)), box("scpt", {}), box("auxl", u32(2))}))},
      {"ids no box lists", {9, 10}, in},
      {"every id: the listing boxes go, the empty one stays", {1, 2, 5}, box("tref", box("scpt", {}))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParsedTree t = parse_file(wrap_at(Level::Trak, in));
    ASSERT_EQ(t.result, ErrorCode::Ok);
    tref_remove_ids(t.file->get(), t.track(), c.removed.data(), static_cast<uint32_t>(c.removed.size()));
    ErrorCode e;
    EXPECT_EQ(write_row(kTrakList.first[1], t.track(), &e), c.expected);
  }
  // A tref whose every box loses its ids is removed.
  ParsedTree t = parse_file(wrap_at(Level::Trak, box("tref", box("cdsc", u32(3)))));
  const uint32_t three = 3;
  tref_remove_ids(t.file->get(), t.track(), &three, 1);
  EXPECT_EQ(track_record<TrefRecord>(t.track(), BoxTypeId::Tref), nullptr);
}

TEST(Tref, BoundedIds) {
  // A reference box that claims more than the tref holds reads what is there.
  ParsedTree lying = parse_file(wrap_at(Level::Trak, cat({box("tref", box_sized(0x7FFFFFF0, "dpnd", cat({u32(5), u32(6)}))),
                                                          box("free", zeros(40))})));
  ASSERT_EQ(lying.result, ErrorCode::Ok);
  const TrefEntry* r = find_reference(lying.track(), FourCC::of("dpnd"));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->track_ids.count, 2u);

  // An empty tref has no reference at all, and is not written.
  ParsedTree empty = parse_file(wrap_at(Level::Trak, cat({box("tref", {}), box("free", zeros(8))})));
  ASSERT_EQ(empty.result, ErrorCode::Ok);
  auto* record = track_record<TrefRecord>(empty.track(), BoxTypeId::Tref);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->references.count, 0u);
  EXPECT_EQ(tref_size(empty.file->get(), empty.track()), 0u);
}

TEST(Tref, Operations) {
  MemoryFile f({}, kOpenCreate);
  create_root(f.get());
  add_movie_box(f.get(), BoxTypeId::Moov);
  TrackBoxes* track = add_track(f.get(), 0);
  EXPECT_EQ(set_reference_type(track, kReferenceCdsc), ErrorCode::Missing);
  EXPECT_EQ(add_reference(f.get(), track, 1), ErrorCode::Missing);
  ASSERT_EQ(add_track_box(f.get(), track, BoxTypeId::Tref), ErrorCode::Ok);
  EXPECT_EQ(set_reference_type(track, kReferenceTypeCount), ErrorCode::BadArgument);
  ASSERT_EQ(set_reference_type(track, kReferenceMpod), ErrorCode::Ok);
  ASSERT_EQ(add_reference(f.get(), track, 4), ErrorCode::Ok);
  ASSERT_EQ(add_reference(f.get(), track, 2), ErrorCode::Ok);
  EXPECT_EQ(add_reference(nullptr, track, 2), ErrorCode::BadArgument);
  ErrorCode e;
  EXPECT_EQ(write_row(kTrakList.first[1], track, &e), box("tref", box("mpod", cat({u32(4), u32(2)}))));
  EXPECT_EQ(e, ErrorCode::Ok);
}

Bytes trex(uint32_t track_id) { return full_box("trex", 0, 0, cat({u32(track_id), u32(1), u32(1024), u32(0), u32(0x01010000)})); }

TEST(Mvex, MovieDurationAndTrackDefaults) {
  Bytes mvex = box("mvex", cat({full_box("mehd", 1, 0, u64(0x123456789ull)), trex(1), box("zzzz", zeros(3)), trex(2)}));
  ParsedTree t = parse_file(box("moov", cat({mvhd_v0(1000, 5, 3), mvex})));
  ASSERT_EQ(t.result, ErrorCode::Ok);
  EXPECT_EQ(movie_record<MvhdRecord>(t.root(), BoxTypeId::Mvhd)->duration, 0x123456789ull);
  TrexEntry* two = find_track_extends(t.root(), 2);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(two->track_id, 2u);
  EXPECT_EQ(two->default_sample_description_index, 1u);
  EXPECT_EQ(two->default_sample_duration, 1024u);
  EXPECT_EQ(two->default_sample_flags, 0x01010000u);
  EXPECT_NE(find_track_extends(t.root(), 1), nullptr);
  EXPECT_EQ(find_track_extends(t.root(), 3), nullptr);
  // Read only: a movie with mvex writes and counts no mvex.
  ErrorCode e;
  Bytes written = write_movie(t.root(), &e);
  ASSERT_EQ(e, ErrorCode::Ok);
  EXPECT_EQ(written.size(), 8u + 8u + 100u);  // moov, mvhd

  // Version 0 mehd; no mvhd to take it is not an error.
  ParsedTree v0 = parse_file(box("moov", cat({mvhd_v0(1000, 5, 3), box("mvex", full_box("mehd", 0, 0, u32(77)))})));
  EXPECT_EQ(movie_record<MvhdRecord>(v0.root(), BoxTypeId::Mvhd)->duration, 77u);
  ParsedTree alone = parse_file(box("moov", box("mvex", cat({full_box("mehd", 0, 0, u32(77)), trex(4)}))));
  ASSERT_EQ(alone.result, ErrorCode::Ok);
  EXPECT_NE(find_track_extends(alone.root(), 4), nullptr);
}

Bytes iods_payload(const Bytes& descriptor) { return cat({u8(0), u24(0), descriptor}); }

TEST(Iods, ReadForms) {
  // As one common writer makes it: four-byte lengths, no ES ids.
  ParsedTree plain = parse_file(box(
      "moov", box("iods", iods_payload(cat({u8(0x10), u8(0x80), u8(0x80), u8(0x80), u8(7), u16(0x004F), u8(0xFF),
                                            u8(0xFE), u8(0x29), u8(0x15), u8(0xFD)})))));
  ASSERT_EQ(plain.result, ErrorCode::Ok);
  auto* d = movie_record<IodsRecord>(plain.root(), BoxTypeId::Iods);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->object_descriptor_id, 1u);
  EXPECT_EQ(d->url_flag, 0);
  EXPECT_EQ(d->include_inline_profile_level_flag, 0);
  EXPECT_EQ(d->od_profile_level, 0xFF);
  EXPECT_EQ(d->scene_profile_level, 0xFE);
  EXPECT_EQ(d->audio_profile_level, 0x29);
  EXPECT_EQ(d->visual_profile_level, 0x15);
  EXPECT_EQ(d->graphics_profile_level, 0xFD);
  EXPECT_EQ(d->es_ids.count, 0u);
  EXPECT_EQ(iods_size(plain.file->get(), plain.root()), 13u);

  // ES ids until a tag other than ES_ID_Inc.
  ParsedTree ids = parse_file(box(
      "moov", box("iods", iods_payload(cat({u8(0x10), u8(23), u16((2 << 6) | 0x10 | 0xF), zeros(5), u8(0x0E), u8(4),
                                            u32(1), u8(0x0E), u8(0x80), u8(4), u32(2), u8(0x0F), u8(4), u32(3)})))));
  ASSERT_EQ(ids.result, ErrorCode::Ok);
  d = movie_record<IodsRecord>(ids.root(), BoxTypeId::Iods);
  EXPECT_EQ(d->object_descriptor_id, 2u);
  EXPECT_EQ(d->include_inline_profile_level_flag, 1);
  ASSERT_EQ(d->es_ids.count, 2u);
  EXPECT_EQ(d->es_ids[0], 1u);
  EXPECT_EQ(d->es_ids[1], 2u);
  EXPECT_EQ(iods_size(ids.file->get(), ids.root()), 25u);

  // With a url: the bytes are kept and no profile levels are read.
  ParsedTree url = parse_file(box(
      "moov", box("iods", iods_payload(cat({u8(0x10), u8(8), u16((1 << 6) | 0x20), u8(5), text("a.odf"), u8(0x33)})))));
  ASSERT_EQ(url.result, ErrorCode::Ok);
  d = movie_record<IodsRecord>(url.root(), BoxTypeId::Iods);
  EXPECT_EQ(d->url_flag, 1);
  ASSERT_EQ(d->url_length, 5);
  EXPECT_EQ(std::memcmp(d->url, "a.odf", 5), 0);
  EXPECT_EQ(d->od_profile_level, 0xFF);  // the defaults, not the byte after the url
  EXPECT_EQ(iods_size(url.file->get(), url.root()), 14u);
}

TEST(Iods, IsNeitherWrittenNorCounted) {
  Bytes iods = box("iods", iods_payload(cat({u8(0x10), u8(7), u16(0x004F), u8(0xFF), u8(0xFF), u8(0x29), u8(0x15),
                                             u8(0xFF)})));
  ParsedTree t = parse_file(box("moov", cat({mvhd_v0(1000, 5, 3), iods})));
  ASSERT_EQ(t.result, ErrorCode::Ok);
  ASSERT_NE(movie_record<IodsRecord>(t.root(), BoxTypeId::Iods), nullptr);
  // The size estimate matches what is written: the mvhd alone.
  EXPECT_EQ(moov_size(t.file->get(), t.root()), 100u + 8u);
  reset_size_mismatch_count();
  ErrorCode e;
  Bytes written = write_movie(t.root(), &e);
  ASSERT_EQ(e, ErrorCode::Ok);
  EXPECT_EQ(written, box("moov", mvhd_v0(1000, 5, 3)));
  EXPECT_EQ(size_mismatch_count(), 0u);
}

TEST(EditsReferencesExtends, MalformedInput) {
  const MalformedCase cases[] = {
      {"elst count of 2^32 - 1", Level::Edts, full_box("elst", 0, 0, cat({u32(0xFFFFFFFFu), edit_v0(1, 0)})),
       "more edits"},
      {"elst version 1 with version 0 entries", Level::Edts,
       full_box("elst", 1, 0, cat({u32(2), edit_v0(1, 0), edit_v0(2, 0), zeros(4)})), "more edits"},
      {"iods without an object descriptor", Level::Movie, box("iods", iods_payload(cat({u8(0x11), u8(0), u16(0)}))),
       "initial object descriptor"},
      {"ES_ID_Inc of length 5", Level::Movie,
       box("iods", iods_payload(cat({u8(0x10), u8(13), u16(0x4F), zeros(5), u8(0x0E), u8(5), u32(1), u8(0)}))),
       "length other than 4"},
      {"iods url past the box", Level::Movie,
       box("iods", iods_payload(cat({u8(0x10), u8(20), u16(0x60), u8(200), text("abc")}))), "url runs past"},
      {"trex shorter than its fields", Level::Movie, box("mvex", full_box("trex", 0, 0, zeros(8))), "'trex' shorter"},
      {"mehd shorter than its duration", Level::Movie, box("mvex", full_box("mehd", 1, 0, u32(1))), "'mehd' shorter"},
  };
  for (const MalformedCase& c : cases) expect_malformed(c);
}

}  // namespace
}  // namespace vantorel
