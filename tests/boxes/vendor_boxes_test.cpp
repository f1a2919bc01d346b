// The portable player's profile and metadata boxes, strx, tdrm, and the
// movie's user data with its chapter list.
#include <gtest/gtest.h>

#include <cstring>

#include "boxes/prof.h"
#include "boxes/strx.h"
#include "boxes/tdrm.h"
#include "boxes/tree_helpers.h"
#include "mediafile/box_registry.h"
#include "boxes/usmt.h"
#include "meta/chapters.h"

namespace vantorel {
namespace {

using namespace test;

Bytes fprf() { return box("FPRF", cat({u8(0), u24(0), u32(0x11), u32(0x22)})); }
Bytes vprf(uint32_t track_id) {
  return box("VPRF", cat({u8(0), u24(0), u32(track_id), text("avc1"), u32(0x0164001E), u32(2), u32(800), u32(1200),
                          u32(25 << 16), u32(25 << 16), u32((320 << 16) | 240), u32(0x00010001)}));
}
Bytes aprf(uint32_t track_id) {
  return box("APRF", cat({u8(0), u24(0), u32(track_id), text("mp4a"), u32(0x0200), u32(2), u32(128), u32(160),
                          u32(48000), u32(2)}));
}
Bytes prof(uint32_t count, const Bytes& boxes) { return uuid_box(kProfUuid, cat({u8(0), u24(0), u32(count), boxes})); }

TEST(Prof, WrittenWithVideoBeforeAudio) {
  ErrorCode e;
  reset_size_mismatch_count();
  const Bytes in_order = prof(3, cat({fprf(), vprf(1), aprf(2)}));
  EXPECT_EQ(rewrite_box(Level::Top, in_order, &e), in_order);
  EXPECT_EQ(e, ErrorCode::Ok);

  Bytes out = rewrite_box(Level::Top, prof(3, cat({fprf(), aprf(2), vprf(1)})), &e);
  ASSERT_EQ(e, ErrorCode::Ok);
  EXPECT_EQ(out, in_order);
  EXPECT_EQ(out.size(), 24u + 124u);
  EXPECT_EQ(size_mismatch_count(), 0u);

  // A profile of another type is dropped and the count shrinks.
  out = rewrite_box(Level::Top, prof(3, cat({fprf(), box("XPRF", zeros(4)), vprf(1)})), &e);
  ASSERT_EQ(e, ErrorCode::Ok);
  EXPECT_EQ(out, prof(2, cat({fprf(), vprf(1)})));

  // FPRF only.
  const Bytes alone = prof(1, fprf());
  EXPECT_EQ(rewrite_box(Level::Top, alone, &e), alone);
}

TEST(Prof, ReadingMarksTheFileAndKeepsFields) {
  ParsedTree t = parse_file(prof(3, cat({fprf(), aprf(2), vprf(1)})));
  ASSERT_EQ(t.result, ErrorCode::Ok);
  EXPECT_EQ(t.file->get()->flags & kFlagPsp, uint32_t{kFlagPsp});
  auto* p = movie_record<ProfRecord>(t.root(), BoxTypeId::Prof);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->entry_count, 3u);
  EXPECT_EQ(p->file_profile.value2, 0x22u);
  ASSERT_EQ(p->video_profiles.count, 1u);
  const VideoProfile& v = p->video_profiles[0];
  EXPECT_EQ(v.track_id, 1u);
  EXPECT_TRUE(v.codec == "avc1");
  EXPECT_EQ(v.codec_word, 0x0164001Eu);
  EXPECT_EQ(v.maximum_bitrate, 1200u);
  EXPECT_EQ(v.picture_size, (320u << 16) | 240u);
  ASSERT_EQ(p->audio_profiles.count, 1u);
  EXPECT_EQ(p->audio_profiles[0].sample_rate, 48000u);
  EXPECT_EQ(p->audio_profiles[0].average_bitrate, 128u);
}

TEST(Prof, NewProfilesFromNothing) {
  MemoryFile f({}, kOpenCreate);
  create_root(f.get());
  ASSERT_EQ(add_movie_box(f.get(), BoxTypeId::Prof), ErrorCode::Ok);
  auto* p = movie_record<ProfRecord>(f->root, BoxTypeId::Prof);
  AudioProfile* a = add_audio_profile(p);
  ASSERT_NE(a, nullptr);
  a->track_id = 2;
  VideoProfile* v = add_video_profile(p);
  ASSERT_NE(v, nullptr);
  v->track_id = 1;
  EXPECT_EQ(add_audio_profile(nullptr), nullptr);
  EXPECT_EQ(prof_size(f.get(), f->root), 28u + 44u + 52u);
  ErrorCode e;
  Bytes out = write_row(*top_row(BoxTypeId::Prof), f->root, &e);
  ASSERT_EQ(e, ErrorCode::Ok);
  Bytes zero_video = cat({u8(0), u24(0), u32(1), zeros(4 + 32)});
  Bytes zero_audio = cat({u8(0), u24(0), u32(2), zeros(4 + 24)});
  EXPECT_EQ(out, prof(3, cat({box("FPRF", zeros(12)), box("VPRF", zero_video), box("APRF", zero_audio)})));
}

Bytes mtdf_entry(uint16_t size, uint32_t type, uint16_t language, const Bytes& data) {
  return cat({u16(size), u32(type), u16(language), u16(1), data});
}
Bytes mtdt_entry(uint16_t size, uint32_t type, uint16_t language, const Bytes& data) {
  return cat({u16(size), u32(type), u16(language), u16(0), data});
}

TEST(Usmt, MetadataRoundTrips) {
  Bytes data32 = text("0123456789abcdefghijklmnopqrstu");
  data32.push_back('Z');  // the last byte is forced to 0 on reading
  Bytes data32_read = text("0123456789abcdefghijklmnopqrstu");
  data32_read.push_back(0);
  struct Case {
    const char* name;
    Level level;
    Bytes input;
    Bytes expected;
  } cases[] = {
      {"MTDF of 42 bytes, track", Level::TrackUsmt, box("MTDF", cat({u16(1), mtdf_entry(42, 1, 0x15C7, data32)})),
       box("MTDF", cat({u16(1), mtdf_entry(42, 1, 0x15C7, data32_read)}))},
      {"MTDF, language flag dropped, movie", Level::MovieUsmt,
       box("MTDF", cat({u16(2), mtdf_entry(12, 3, 0xD5C4, cstr("x")), mtdf_entry(11, 4, 0x55C4, u8(7))})),
       box("MTDF", cat({u16(2), mtdf_entry(12, 3, 0x55C4, cstr("x")), mtdf_entry(11, 4, 0x55C4, u8(0))}))},
      {"MTDT with the flag, movie", Level::MovieUsmt,
       box("MTDT", cat({u16(2), mtdt_entry(18, 10, 0xD5C4, u64(1ull << 32)), mtdt_entry(10, 2, 0x15C7, {})})), {}},
      {"MTDT, track", Level::TrackUsmt, box("MTDT", cat({u16(1), mtdt_entry(13, 7, 0x55C4, text("abc"))})), {}},
      {"no entries", Level::TrackUsmt, box("MTDT", u16(0)), {}},
      {"track USMT container", Level::Trak,
       uuid_box(kUsmtUuid, cat({box("MTDF", u16(0)), box("MTDT", cat({u16(1), mtdt_entry(11, 1, 0x55C4, u8(9))}))})),
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset_size_mismatch_count();
    ErrorCode e;
    EXPECT_EQ(rewrite_box(c.level, c.input, &e), c.expected.empty() ? c.input : c.expected);
    EXPECT_EQ(e, ErrorCode::Ok);
    EXPECT_EQ(size_mismatch_count(), 0u);
  }
}

TEST(Usmt, FieldsAsRead) {
  ParsedTree t = parse_file(wrap_at(
      Level::MovieUsmt, cat({box("MTDT", cat({u16(1), mtdt_entry(14, 10, 0xD5C4, u32(0xA1B2C3D4))})),
                             box("MTDF", cat({u16(1), mtdf_entry(42, 1, 0x15C7, Bytes(32, 'q'))}))})));
  ASSERT_EQ(t.result, ErrorCode::Ok);
  auto* mtdt = movie_record<MtdtRecord>(t.root(), BoxTypeId::Mtdt);
  ASSERT_NE(mtdt, nullptr);
  ASSERT_EQ(mtdt->entries.count, 1u);
  EXPECT_EQ(mtdt->entries[0].flag, 1);
  EXPECT_STREQ(mtdt->entries[0].language, "und");
  EXPECT_EQ(mtdt->entries[0].entry_size, 14u);
  EXPECT_EQ(std::memcmp(mtdt->entries[0].data, "\xA1\xB2\xC3\xD4", 4), 0);
  auto* mtdf = movie_record<MtdfRecord>(t.root(), BoxTypeId::Mtdf);
  ASSERT_NE(mtdf, nullptr);
  EXPECT_STREQ(mtdf->entries[0].language, "eng");
  EXPECT_EQ(mtdf->entries[0].data[30], 'q');
  EXPECT_EQ(mtdf->entries[0].data[31], 0);
}

TEST(Usmt, TrackEntryAsTheTrackBuildersMakeIt) {
  MemoryFile f({}, kOpenCreate);
  create_root(f.get());
  add_movie_box(f.get(), BoxTypeId::Moov);
  TrackBoxes* track = add_track(f.get(), 0);
  ASSERT_EQ(add_track_box(f.get(), track, BoxTypeId::Usmt), ErrorCode::Ok);
  ASSERT_EQ(add_track_box(f.get(), track, BoxTypeId::Mtdt), ErrorCode::Ok);
  MtdtEntry* entry = add_metadata_entry(track_record<MtdtRecord>(track, BoxTypeId::Mtdt));
  ASSERT_NE(entry, nullptr);
  entry->type = 10;
  std::memcpy(entry->language, "und", 4);
  const uint8_t data[8] = {0, 0, 0, 1, 0, 0, 0, 0};
  ASSERT_EQ(set_metadata_data(f.get(), entry, data, 8), ErrorCode::Ok);
  EXPECT_EQ(entry->entry_size, 18u);
  ErrorCode e;
  Bytes out = write_row(kTrakList.first[4], track, &e);
  ASSERT_EQ(e, ErrorCode::Ok);
  EXPECT_EQ(out, uuid_box(kUsmtUuid, box("MTDT", cat({u16(1), mtdt_entry(18, 10, 0x55C4, cat({u32(1), u32(0)}))}))));

  // Replacing the data frees the old copy and resizes the entry.
  ASSERT_EQ(set_metadata_data(f.get(), entry, "ab", 2), ErrorCode::Ok);
  EXPECT_EQ(entry->entry_size, 12u);
  ASSERT_EQ(set_metadata_data(f.get(), entry, nullptr, 0), ErrorCode::Ok);
  EXPECT_EQ(entry->entry_size, 10u);
  EXPECT_EQ(set_metadata_data(f.get(), entry, nullptr, 3), ErrorCode::BadArgument);
  EXPECT_EQ(set_metadata_data(nullptr, entry, data, 8), ErrorCode::BadArgument);
  EXPECT_EQ(set_metadata_data(f.get(), entry, data, 65526), ErrorCode::BadArgument);  // the size would not fit
  EXPECT_EQ(entry->entry_size, 10u);
}

TEST(Usmt, UnwritableEntries) {
  MemoryFile f({}, kOpenCreate);
  create_root(f.get());
  add_movie_box(f.get(), BoxTypeId::Moov);
  add_movie_box(f.get(), BoxTypeId::Usmt);
  add_movie_box(f.get(), BoxTypeId::Mtdt);
  add_movie_box(f.get(), BoxTypeId::Mtdf);
  MtdtEntry* t = add_metadata_entry(movie_record<MtdtRecord>(f->root, BoxTypeId::Mtdt));
  ASSERT_NE(t, nullptr);
  ErrorCode e;
  write_row(kMovieUsmtList.first[1], f->root, &e);
  EXPECT_EQ(e, ErrorCode::Missing);  // entry size below 10
  t->entry_size = 12;                 // a size without its data
  write_row(kMovieUsmtList.first[1], f->root, &e);
  EXPECT_EQ(e, ErrorCode::Missing);

  MtdfEntry* fixed = add_fixed_metadata_entry(movie_record<MtdfRecord>(f->root, BoxTypeId::Mtdf));
  ASSERT_NE(fixed, nullptr);
  fixed->entry_size = 43;  // more than the entry holds
  write_row(kMovieUsmtList.first[0], f->root, &e);
  EXPECT_EQ(e, ErrorCode::Missing);
  fixed->entry_size = 11;
  Bytes out = write_row(kMovieUsmtList.first[0], f->root, &e);
  EXPECT_EQ(e, ErrorCode::Ok);
  EXPECT_EQ(out, box("MTDF", cat({u16(1), u16(11), u32(0), u16(0), u16(0), u8(0)})));
}

TEST(StrxTdrm, WrittenValueIsAlwaysOne) {
  ErrorCode e;
  EXPECT_EQ(rewrite_box(Level::Udta, uuid_box(kStrxUuid, u32(5)), &e), uuid_box(kStrxUuid, u32(1)));
  EXPECT_EQ(e, ErrorCode::Ok);
  EXPECT_EQ(rewrite_box(Level::Udta, box("tdrm", cat({u32(9), u8(1), u8(2), u8(3)})), &e),
            box("tdrm", cat({u32(1), u8(1), u8(2), u8(3)})));
  EXPECT_EQ(e, ErrorCode::Ok);
  ParsedTree t = parse_file(wrap_at(Level::Udta, uuid_box(kStrxUuid, u32(5))));
  EXPECT_EQ(movie_record<StrxRecord>(t.root(), BoxTypeId::Strx)->value, 5u);
}

TEST(Udta, NewUserDataAndChapterList) {
  MemoryFile f({}, kOpenCreate);
  create_root(f.get());
  add_movie_box(f.get(), BoxTypeId::Moov);
  ASSERT_EQ(add_movie_box(f.get(), BoxTypeId::Udta), ErrorCode::Ok);
  ASSERT_EQ(add_movie_box(f.get(), BoxTypeId::Strx), ErrorCode::Ok);
  ASSERT_EQ(add_movie_box(f.get(), BoxTypeId::Tdrm), ErrorCode::Ok);
  EXPECT_EQ(movie_record<TdrmRecord>(f->root, BoxTypeId::Tdrm)->value, 1u);
  ASSERT_EQ(add_chapter(f.get(), 0, "a"), ErrorCode::Ok);
  ASSERT_EQ(add_chapter(f.get(), 50000000, "bcdef"), ErrorCode::Ok);
  Bytes chpl = box("chpl", cat({u8(1), u32(0), u32(2), u64(0), u8(1), text("a"), u64(50000000), u8(5), text("bcdef")}));
  ASSERT_EQ(chpl.size(), 41u);
  Bytes expected = box("udta", cat({box("tdrm", cat({u32(1), zeros(3)})), uuid_box(kStrxUuid, u32(1)), chpl}));
  uint64_t payload = children_size(f.get(), f->root, &kUdtaList);
  EXPECT_EQ(payload + 8, expected.size());
  reset_size_mismatch_count();
  ErrorCode e;
  Bytes out = write_row(kMoovList.first[3], f->root, &e);
  // The udta row has no write of its own: the movie box writes it.
  EXPECT_EQ(e, ErrorCode::BadArgument);
  // The chapter list is written from the file's own metadata, so the
  // box goes into that file's stream.
  auto write_udta = [](BoxFile* file, void* root) { return write_children(file, root, &kUdtaList); };
  ASSERT_EQ(write_box(f.get(), FourCC::of("udta"), nullptr, payload, write_udta, f->root), ErrorCode::Ok);
  EXPECT_EQ(f.contents(), expected);
  EXPECT_EQ(size_mismatch_count(), 0u);
}

TEST(VendorBoxes, MalformedInput) {
  const MalformedCase cases[] = {
      {"PROF without profiles", Level::Top, prof(0, fprf()), "without profiles"},
      {"PROF count beyond the box", Level::Top, prof(0xFFFFFFFFu, fprf()), "more profiles"},
      {"PROF not starting with FPRF", Level::Top, prof(2, cat({vprf(1), fprf()})), "does not start with 'FPRF'"},
      {"PROF with a short VPRF", Level::Top, prof(2, cat({fprf(), box("VPRF", zeros(40))})), "'VPRF' shorter"},
      {"PROF with a short FPRF", Level::Top, prof(1, box("FPRF", zeros(8))), "'FPRF' shorter"},
      {"PROF profile past its box", Level::Top, prof(2, cat({fprf(), box_sized(300, "APRF", zeros(36))})),
       "past its box"},
      {"MTDF entry of 43 bytes", Level::MovieUsmt, box("MTDF", cat({u16(1), mtdf_entry(43, 1, 0, zeros(33))})),
       "outside 11-42"},
      {"MTDF entry of 10 bytes", Level::TrackUsmt, box("MTDF", cat({u16(1), mtdf_entry(10, 1, 0, zeros(1))})),
       "outside 11-42"},
      {"MTDF count beyond the box", Level::TrackUsmt, box("MTDF", cat({u16(0xFFFF), mtdf_entry(12, 1, 0, zeros(2))})),
       "more 'MTDF' entries"},
      {"MTDF entry past the box", Level::MovieUsmt, box("MTDF", cat({u16(1), mtdf_entry(40, 1, 0, zeros(4))})),
       "runs past"},
      {"MTDT entry of 9 bytes", Level::MovieUsmt, box("MTDT", cat({u16(1), mtdt_entry(9, 1, 0, zeros(2))})),
       "smaller than 10"},
      {"MTDT count beyond the box", Level::TrackUsmt, box("MTDT", cat({u16(0xFFFF), mtdt_entry(10, 1, 0, {})})),
       "more 'MTDT' entries"},
      {"MTDT entry past the box", Level::TrackUsmt, box("MTDT", cat({u16(1), mtdt_entry(60000, 1, 0, zeros(8))})),
       "runs past"},
  };
  for (const MalformedCase& c : cases) expect_malformed(c);
}

}  // namespace
}  // namespace vantorel
