// Movie and track structure boxes: golden round trips, the handler's name
// forms, data references and their malformed forms.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "boxes/dref.h"
#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/media_headers.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "boxes/tree_helpers.h"

namespace vantorel {
namespace {

using namespace test;

struct RoundTripCase {
  const char* name;
  Level level;
  Bytes input;
  Bytes expected;  // empty: the input itself
};

void check_round_trips(const std::vector<RoundTripCase>& cases) {
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.name);
    reset_size_mismatch_count();
    ErrorCode e;
    Bytes out = rewrite_box(c.level, c.input, &e);
    ASSERT_EQ(e, ErrorCode::Ok);
    EXPECT_EQ(out, c.expected.empty() ? c.input : c.expected);
    EXPECT_EQ(size_mismatch_count(), 0u) << "the size operation disagrees with what was written";
  }
}

Bytes hdlr_payload(const char* type, const std::string& maker, const Bytes& name) {
  return cat({u32(0), text(type), maker.empty() ? zeros(4) : text(maker), zeros(8), name});
}

TEST(StructureBoxes, GoldenRoundTrips) {
  const Bytes matrix = identity_matrix();
  check_round_trips({
      {"mvhd version 0", Level::Movie, mvhd_v0(600, 0x12345678, 3), {}},
      {"mvhd version 1", Level::Movie,
       full_box("mvhd", 1, 0,
                cat({u64(0x100000000ull), u64(0x200000001ull), u32(90000), u64(0x300000002ull), u32(0x00018000),
                     u16(0x00FF), zeros(10), matrix, zeros(24), u32(9)})),
       {}},
      {"tkhd version 0", Level::Trak,
       full_box("tkhd", 0, 7,
                cat({u32(11), u32(22), u32(2), u32(0), u32(5000), zeros(8), u16(1), u16(2), u16(0x0100), u16(0),
                     matrix, u32(320 << 16), u32(240 << 16)})),
       {}},
      {"tkhd version 1", Level::Trak,
       full_box("tkhd", 1, 3,
                cat({u64(0x1FFFFFFFFull), u64(0x2FFFFFFFFull), u32(7), u32(0), u64(0x3FFFFFFFFull), zeros(8), u16(0),
                     u16(0), u16(0), u16(0), matrix, u32(0), u32(0)})),
       {}},
      {"mdhd version 0", Level::Mdia,
       full_box("mdhd", 0, 0, cat({u32(1), u32(2), u32(44100), u32(441000), u16(0x15C7), u16(0)})), {}},
      {"mdhd version 1", Level::Mdia,
       full_box("mdhd", 1, 0, cat({u64(1ull << 40), u64(2ull << 40), u32(1000), u64(3ull << 40), u16(0x55C4), u16(0)})),
       {}},
      {"hdlr with a name", Level::Mdia, full_box("hdlr", 0, 0, hdlr_payload("vide", "", cstr("VideoHandler"))),
       {}},
      {"hdlr without a name", Level::Mdia, full_box("hdlr", 0, 0, hdlr_payload("soun", "", {})), {}},
      {"hdlr with an empty name", Level::Mdia, full_box("hdlr", 0, 0, hdlr_payload("hint", "", u8(0))), {}},
      {"hdlr counted name of a maker", Level::Mdia,
       full_box("hdlr", 0, 0, hdlr_payload("soun", "appl", cat({u8(5), text("Sound")}))),
       full_box("hdlr", 0, 0, hdlr_payload("soun", "", cstr("Sound")))},
      {"hdlr counted name without a maker", Level::Mdia,
       full_box("hdlr", 0, 0, hdlr_payload("vide", "", cat({u8(12), text("VideoHandler")}))),
       full_box("hdlr", 0, 0, hdlr_payload("vide", "", cstr("VideoHandler")))},
      {"vmhd", Level::Minf, full_box("vmhd", 0, 1, cat({u16(0x40), u16(1), u16(2), u16(3)})), {}},
      {"smhd", Level::Minf, full_box("smhd", 0, 0, cat({u16(0xFF80), u16(0)})), {}},
      {"hmhd", Level::Minf, full_box("hmhd", 0, 0, cat({u16(1400), u16(700), u32(64000), u32(32000), u32(0)})), {}},
      {"nmhd", Level::Minf, full_box("nmhd", 0, 0, {}), {}},
      {"dref self-contained url", Level::Dinf, full_box("dref", 0, 0, cat({u32(1), full_box("url ", 0, 1, {})})), {}},
      {"dref url with a location", Level::Dinf,
       full_box("dref", 0, 0, cat({u32(1), full_box("url ", 0, 0, cstr("http://host/a.mp4"))})), {}},
      {"dref urn with name and location", Level::Dinf,
       full_box("dref", 0, 0, cat({u32(1), full_box("urn ", 0, 0, cat({cstr("urn:x:y"), cstr("file:b")}))})), {}},
      {"dref urn with a name only", Level::Dinf,
       full_box("dref", 0, 0, cat({u32(2), full_box("url ", 0, 1, {}), full_box("urn ", 0, 0, cstr("urn:z"))})), {}},
  });
}

TEST(StructureBoxes, VersionZeroTimesAreZeroExtended) {
  ParsedTree t = parse_file(wrap_at(Level::Mdia, full_box("mdhd", 0, 0, cat({u32(0xFFFFFFF0u), u32(0x80000000u), u32(1000),
                                                                              u32(0xFFFFFFFFu), u16(0x15C7), u16(0)}))));
  ASSERT_EQ(t.result, ErrorCode::Ok);
  auto* m = track_record<MdhdRecord>(t.track(), BoxTypeId::Mdhd);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->creation_time, 0xFFFFFFF0ull);
  EXPECT_EQ(m->modification_time, 0x80000000ull);
  EXPECT_EQ(m->duration, 0xFFFFFFFFull);
  EXPECT_STREQ(m->language, "eng");
  EXPECT_EQ(m->version, 0);
}

struct HandlerNameCase {
  const char* name;
  Bytes payload;
  uint32_t kind;
  const char* expect;  // null: no name
};

TEST(Hdlr, NameForms) {
  const HandlerNameCase cases[] = {
      {"C string", hdlr_payload("vide", "", cstr("VideoHandler")), kHandlerVideo, "VideoHandler"},
      {"no name", hdlr_payload("soun", "", {}), kHandlerSound, nullptr},
      {"one byte left", hdlr_payload("soun", "", u8(0)), kHandlerSound, ""},
      // Written by some tools into .mov files: a length byte, no NUL, no maker.
      {"counted, maker 0", hdlr_payload("soun", "", cat({u8(12), text("SoundHandler")})), kHandlerSound,
       "SoundHandler"},
      {"counted, maker appl", hdlr_payload("vide", "appl", cat({u8(5), text("Video"), zeros(3)})), kHandlerVideo,
       "Video"},
      // A first byte that does not count what follows is part of the name.
      {"length byte that does not match", hdlr_payload("vide", "", cat({u8(3), text("abcdef"), u8(0)})),
       kHandlerVideo, "\x03" "abcdef"},
      {"unknown handler type", hdlr_payload("zzzz", "", cstr("x")), kHandlerUnknown, "x"},
  };
  for (const HandlerNameCase& c : cases) {
    SCOPED_TRACE(c.name);
    ParsedTree t = parse_file(wrap_at(Level::Mdia, full_box("hdlr", 0, 0, c.payload)));
    ASSERT_EQ(t.result, ErrorCode::Ok);
    auto* h = track_record<HdlrRecord>(t.track(), BoxTypeId::Hdlr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->kind, c.kind);
    if (c.expect == nullptr) {
      EXPECT_EQ(h->name, nullptr);
    } else {
      ASSERT_NE(h->name, nullptr);
      EXPECT_STREQ(h->name, c.expect);
    }
  }
}

TEST(Hdlr, KindsWithoutAHandlerTypeCannotBeWritten) {
  for (uint32_t kind : {uint32_t{kHandlerUnknown}, uint32_t{kHandlerInterleaved}}) {
    ParsedTree t = parse_file(wrap_at(Level::Mdia, full_box("hdlr", 0, 0, hdlr_payload("vide", "", {}))));
    ASSERT_EQ(t.result, ErrorCode::Ok);
    track_record<HdlrRecord>(t.track(), BoxTypeId::Hdlr)->kind = kind;
    ErrorCode e;
    write_row(kMdiaList.first[1], t.track(), &e);
    EXPECT_EQ(e, ErrorCode::Missing);
  }
}

TEST(Dref, EntriesAndStrings) {
  Bytes dref = full_box("dref", 0, 0,
                        cat({u32(4), full_box("url ", 0, 1, {}), full_box("url ", 0, 0, text("http://a")),
                             full_box("urn ", 0, 0, cat({cstr("n1"), cstr("l1"), text("junk")})),
                             full_box("alis", 0, 0, zeros(6))}));
  ParsedTree t = parse_file(wrap_at(Level::Dinf, dref));
  ASSERT_EQ(t.result, ErrorCode::Ok);
  auto* d = track_record<DrefRecord>(t.track(), BoxTypeId::Dref);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(d->entries.count, 4u);
  EXPECT_EQ(d->entries[0].kind, kDrefUrl);
  EXPECT_EQ(d->entries[0].location, nullptr);
  // The last byte is the terminator whatever it held.
  EXPECT_STREQ(d->entries[1].location, "http://");
  EXPECT_EQ(d->entries[2].kind, kDrefUrn);
  EXPECT_STREQ(d->entries[2].name, "n1");
  EXPECT_STREQ(d->entries[2].location, "l1");
  // An entry of another type keeps no strings, and the next one is read
  // from where it ends.
  EXPECT_EQ(d->entries[3].kind, kDrefOther);
  EXPECT_EQ(d->entries[3].name, nullptr);
  // A 64-bit entry header: the strings end where the entry ends, and its
  // last byte is the terminator.
  ParsedTree wide = parse_file(wrap_at(
      Level::Dinf, cat({full_box("dref", 0, 0, cat({u32(1), box64("url ", 16 + 4 + 4, cat({u32(0), text("abcd")}))})),
                        box("free", text("tail"))})));
  ASSERT_EQ(wide.result, ErrorCode::Ok);
  auto* w = track_record<DrefRecord>(wide.track(), BoxTypeId::Dref);
  ASSERT_EQ(w->entries.count, 1u);
  EXPECT_STREQ(w->entries[0].location, "abc");
  // It cannot be written back.
  ErrorCode e;
  write_row(kDinfList.first[0], t.track(), &e);
  EXPECT_EQ(e, ErrorCode::Missing);
}

TEST(Dref, UnwritableEntries) {
  struct Case {
    const char* name;
    uint32_t kind;
    uint32_t flags;
    const char* text;
  } cases[] = {
      {"url without location", kDrefUrl, 0, nullptr},
      {"urn without name", kDrefUrn, 0, nullptr},
      {"other kind", kDrefOther, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParsedTree t = parse_file(wrap_at(Level::Dinf, full_box("dref", 0, 0, u32(0))));
    ASSERT_EQ(t.result, ErrorCode::Ok);
    DrefEntry* entry = add_data_reference(t.track());
    ASSERT_NE(entry, nullptr);
    entry->kind = c.kind;
    entry->flags = c.flags;
    ErrorCode e;
    write_row(kDinfList.first[0], t.track(), &e);
    EXPECT_EQ(e, ErrorCode::Missing);
  }
}

TEST(Dref, MalformedCountsAndEntries) {
  const MalformedCase cases[] = {
      {"count beyond the box", Level::Dinf,
       full_box("dref", 0, 0, cat({u32(0x40000000), full_box("url ", 0, 1, {})})), "more data references"},
      {"count just beyond the box", Level::Dinf,
       full_box("dref", 0, 0, cat({u32(2), full_box("url ", 0, 1, {}), zeros(11)})), "more data references"},
      {"entry smaller than 12 bytes", Level::Dinf, full_box("dref", 0, 0, cat({u32(1), box("url ", zeros(2)), zeros(2)})),
       "smaller than 12"},
      {"entry past the box", Level::Dinf, full_box("dref", 0, 0, cat({u32(1), box_sized(400, "url ", zeros(4))})),
       "past its box"},
      {"entry running to the end of the file", Level::Dinf,
       cat({full_box("dref", 0, 0, cat({u32(1), box_sized(0, "url ", zeros(4))})), box("free", zeros(8))}),
       "past its box"},
  };
  for (const MalformedCase& c : cases) expect_malformed(c);
}

TEST(MediaHeaders, KindsAndDefaults) {
  EXPECT_EQ(media_header_for_kind(kHandlerVideo), BoxTypeId::Vmhd);
  EXPECT_EQ(media_header_for_kind(kHandlerInterleaved), BoxTypeId::Vmhd);
  EXPECT_EQ(media_header_for_kind(kHandlerSound), BoxTypeId::Smhd);
  EXPECT_EQ(media_header_for_kind(kHandlerHint), BoxTypeId::Hmhd);
  for (uint32_t k : {4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 14u}) EXPECT_EQ(media_header_for_kind(k), BoxTypeId::Nmhd);
}

}  // namespace
}  // namespace vantorel
