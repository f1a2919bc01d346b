#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "boxes/box_tree.h"
#include "boxes/hdlr.h"
#include "boxes/moov.h"
#include "boxes/tkhd.h"
#include "mediafile/box_registry.h"
#include "meta/chapters.h"
#include "support/box_builder.h"
#include "support/sparse_sink.h"

namespace vantorel {
namespace {

using test::Bytes;
using test::MemoryFile;
using namespace test;

struct HeaderCase {
  const char* name;
  Bytes bytes;
  ErrorCode result;
  const char* type;
  uint64_t size;
};

TEST(BoxHeader, EveryFormAndItsFailures) {
  const uint8_t ext[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const HeaderCase cases[] = {
      {"32-bit", box("free", zeros(4)), ErrorCode::Ok, "free", 12},
      {"64-bit below 2^32", box64("mdat", 20, zeros(4)), ErrorCode::Ok, "mdat", 20},
      {"64-bit size 0", box64("mdat", 0, zeros(4)), ErrorCode::Malformed, "mdat", 0},
      {"64-bit smaller than its header", box64("mdat", 12, zeros(4)), ErrorCode::Malformed, "mdat", 12},
      {"size 0 runs to the end", cat({u32(0), text("mdat"), zeros(10)}), ErrorCode::Ok, "mdat", 18},
      {"size field 7", box_sized(7, "free", zeros(4)), ErrorCode::Malformed, "free", 7},
      {"size field 2", box_sized(2, "free", zeros(4)), ErrorCode::Malformed, "free", 2},
      {"uuid", uuid_box(ext, zeros(2)), ErrorCode::Ok, "uuid", 26},
      {"uuid shorter than 24", cat({u32(20), text("uuid"), Bytes(ext, ext + 16)}), ErrorCode::Malformed, "uuid", 20},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile f(c.bytes);
    BoxHeader h;
    EXPECT_EQ(read_box_header(f.get(), &h), c.result);
    if (c.result != ErrorCode::Ok) continue;
    EXPECT_TRUE(h.type == c.type);
    EXPECT_EQ(h.size, c.size);
    EXPECT_EQ(h.end, h.start + h.size);
  }
  // A 64-bit size that wraps past the end of the address range.
  MemoryFile wraps(cat({box("free", {}), box64("mdat", ~uint64_t{0} - 3, zeros(4))}));
  BoxHeader first;
  read_box_header(wraps.get(), &first);
  file_seek(wraps.get(), first.end);
  BoxHeader second;
  EXPECT_EQ(read_box_header(wraps.get(), &second), ErrorCode::Malformed);
  // A size-0 box with fewer than 8 bytes left has no type and matches nothing.
  MemoryFile shortf(cat({u32(0), u8(1)}));
  BoxHeader h;
  ASSERT_EQ(read_box_header(shortf.get(), &h), ErrorCode::Ok);
  EXPECT_TRUE(h.type.is_zero());
  EXPECT_EQ(h.end, 5u);
  const uint8_t other[16] = {9};
  MemoryFile u(uuid_box(ext, {}));
  read_box_header(u.get(), &h);
  EXPECT_TRUE(box_matches(&h, FourCC::of("uuid"), ext));
  EXPECT_FALSE(box_matches(&h, FourCC::of("uuid"), other));
}

ErrorCode write_n(BoxFile* file, void* context) { return write_zeros(file, *static_cast<uint32_t*>(context)); }

TEST(BoxWriting, EstimatesAreCorrectedInPlace) {
  MemoryFile f({}, kOpenCreate);
  uint32_t n = 10;
  reset_size_mismatch_count();
  ASSERT_EQ(write_box(f.get(), FourCC::of("free"), nullptr, 10, write_n, &n), ErrorCode::Ok);
  EXPECT_EQ(size_mismatch_count(), 0u);
  n = 3;
  ASSERT_EQ(write_box(f.get(), FourCC::of("skip"), nullptr, 50, write_n, &n), ErrorCode::Ok);
  EXPECT_EQ(size_mismatch_count(), 1u);
  const uint8_t ext[16] = {0xAA};
  n = 0;
  ASSERT_EQ(write_box(f.get(), FourCC::of("uuid"), ext, 0, write_n, &n), ErrorCode::Ok);
  Bytes expect = cat({box("free", zeros(10)), box("skip", zeros(3)), uuid_box(ext, {})});
  EXPECT_EQ(f.contents(), expect);
  EXPECT_EQ(f.contents().size(), 18u + 11u + 24u);  // a uuid box counts 24 header bytes
  reset_size_mismatch_count();
}

TEST(BoxWriting, LargeEstimatesAndWideningPastFourGiB) {
  test::SparseFile sink;
  IoOpenParams params{};
  params.routines = test::sparse_routines();
  params.user = &sink;
  BoxFile file{};
  ASSERT_EQ(attach(&file, &params, kOpenCreate), ErrorCode::Ok);

  // An estimate of 2^32 or more gets the 16-byte header at once.
  BoxHeader big;
  make_box_header(&big, FourCC::of("mdat"), nullptr, 0, 0, uint64_t{1} << 32);
  ASSERT_EQ(begin_box(&file, &big), ErrorCode::Ok);
  EXPECT_EQ(sink.bytes(0, 16), cat({u32(1), text("mdat"), u64(uint64_t{1} << 32)}));

  // A box begun small that ends past 2^32 is widened in place.
  file_seek(&file, 100);
  BoxHeader grown;
  make_box_header(&grown, FourCC::of("mdat"), nullptr, 0, 0, 16);
  ASSERT_EQ(begin_box(&file, &grown), ErrorCode::Ok);
  write_zeros(&file, 8);
  const uint64_t end = 100 + (uint64_t{5} << 30);
  file_seek(&file, end - 1);
  write_u8(&file, 7);
  ASSERT_EQ(finish_box(&file, &grown), ErrorCode::Ok);
  EXPECT_EQ(sink.bytes(100, 16), cat({u32(1), text("mdat"), u64(end - 100)}));
  EXPECT_EQ(file_tell(&file), end);
  detach(&file);
}

TEST(FreeBox, PayloadRepeatsTheWriterName) {
  MemoryFile f({}, kOpenCreate);
  std::free(f->writer_name);
  f->writer_name = strdup("abcde");
  BoxHeader h;
  make_box_header(&h, FourCC::of("free"), nullptr, 0, 20, 20);
  ASSERT_EQ(write_free_box(f.get(), &h), ErrorCode::Ok);
  EXPECT_EQ(f.contents(), box("free", text("abcdeabcdeab")));
  make_box_header(&h, FourCC::of("free"), nullptr, 0, 7, 7);
  EXPECT_EQ(write_free_box(f.get(), &h), ErrorCode::BadArgument);
}

// ---- The tree ----------------------------------------------------------------

Bytes hdlr_box(const char* type, const std::string& name) {
  return full_box("hdlr", 0, 0, cat({u32(0), text(type), zeros(12), cstr(name)}));
}

Bytes trak_box(const char* handler, const std::string& name, const Bytes& extra = {}) {
  return box("trak", cat({box("mdia", cat({hdlr_box(handler, name), box("minf", box("stbl", {}))})), extra}));
}

std::string handler_name(TrackBoxes* t) {
  auto* h = track_record<HdlrRecord>(t, BoxTypeId::Hdlr);
  return h != nullptr && h->name != nullptr ? h->name : "";
}

void read_file(MemoryFile& f) {
  ASSERT_EQ(create_root(f.get()), ErrorCode::Ok);
  BoxHeader whole;
  uint64_t length = file_size(f.get());
  make_box_header(&whole, FourCC::of("mp4 "), nullptr, 0, length, length);
  ASSERT_EQ(read_top_level(f.get(), &whole), ErrorCode::Ok);
}

TEST(BoxTree, ReadsTracksFirstDuplicateWinsUnknownsSkipped) {
  const uint8_t unknown_uuid[16] = {7, 7, 7};
  Bytes mdia_with_two_hdlrs =
      box("mdia", cat({hdlr_box("soun", "first"), hdlr_box("vide", "second"), box("zzzz", zeros(3))}));
  Bytes file = cat({box("ftyp", text("isom")), uuid_box(unknown_uuid, zeros(4)),
                    box("moov", cat({trak_box("vide", "Video"), box("trak", mdia_with_two_hdlrs),
                                     box("abcd", zeros(8)), trak_box("xxxx", "odd")})),
                    box("mdat", zeros(5))});
  for (uint32_t mode : {kOpenRead, kOpenInspect}) {
    SCOPED_TRACE(mode);
    MemoryFile f(file, mode);
    read_file(f);
    FileBoxes* root = f->root;
    ASSERT_NE(root->moov, nullptr);
    ASSERT_EQ(track_count(root), 3u);  // two "trak" boxes always make two tracks
    EXPECT_EQ(handler_kind_of(track_at(root, 0)), kHandlerVideo);
    EXPECT_EQ(handler_name(track_at(root, 0)), "Video");
    EXPECT_EQ(handler_kind_of(track_at(root, 1)), kHandlerSound);  // the first hdlr wins
    EXPECT_EQ(handler_name(track_at(root, 1)), "first");
    EXPECT_EQ(handler_kind_of(track_at(root, 2)), kHandlerUnknown);
    EXPECT_NE(track_record<StblRecord>(track_at(root, 0), BoxTypeId::Stbl), nullptr);
    EXPECT_EQ(f->io_error, 0u);
  }
}

TEST(BoxTree, UdtaOutsideTheMovieJoinsItOnlyAfterTheMovie) {
  Bytes before = cat({box("udta", {}), box("moov", trak_box("vide", "v"))});
  MemoryFile a(before);
  read_file(a);
  EXPECT_EQ(a->root->moov->udta, nullptr);
  Bytes after = cat({box("moov", trak_box("vide", "v")), box("udta", {})});
  MemoryFile b(after);
  read_file(b);
  EXPECT_NE(b->root->moov->udta, nullptr);
}

TEST(BoxTree, MalformedChildIsLocatedInTheMessage) {
  Bytes file = cat({box("moov", cat({trak_box("vide", "a"), box("trak", box("mdia", box_sized(3, "hdlr", {})))}))});
  for (uint32_t buffering_off : {0u, 1u}) {
    MemoryFile f(file);
    f->header_buffering_off = buffering_off;
    ASSERT_EQ(create_root(f.get()), ErrorCode::Ok);
    BoxHeader whole;
    make_box_header(&whole, FourCC::of("mp4 "), nullptr, 0, file.size(), file.size());
    EXPECT_EQ(read_top_level(f.get(), &whole), ErrorCode::Malformed);
    EXPECT_STREQ(f->detail.path, "moov/trak[2]/mdia/hdlr");
    EXPECT_EQ(f->detail.offset, 8u + trak_box("vide", "a").size() + 16);
    ASSERT_NE(f->detail.reason, nullptr);
  }
}

TEST(BoxTree, ChildrenAreCutAtTheirParentsEndAndNestingIsBounded) {
  // An hdlr that claims more than its mdia holds is read within the mdia.
  Bytes lying = box("moov", box("trak", box("mdia", box_sized(5000, "hdlr", cat({zeros(8), text("vide"), zeros(12)})))));
  MemoryFile f(cat({lying, box("free", zeros(100))}));
  read_file(f);
  EXPECT_EQ(handler_kind_of(track_at(f->root, 0)), kHandlerVideo);
  EXPECT_EQ(file_tell(f.get()), f.contents().size());

  Bytes deep = box("stbl", {});
  for (int i = 0; i < 40; ++i) deep = box("mdia", deep);
  MemoryFile d(box("moov", box("trak", deep)));
  ASSERT_EQ(create_root(d.get()), ErrorCode::Ok);
  BoxHeader whole;
  make_box_header(&whole, FourCC::of("mp4 "), nullptr, 0, d.contents().size(), d.contents().size());
  // Only the first mdia has a row at track level; the rest are unknown and
  // skipped, so the depth bound matters for containers that nest themselves.
  EXPECT_EQ(read_top_level(d.get(), &whole), ErrorCode::Ok);
}

TEST(TrackList, OrderedByIdOnInsert) {
  MemoryFile f({}, kOpenCreate);
  ASSERT_EQ(create_root(f.get()), ErrorCode::Ok);
  ASSERT_EQ(add_movie_box(f.get(), BoxTypeId::Moov), ErrorCode::Ok);
  auto add = [&](uint32_t id) {
    TrackBoxes* t = add_track(f.get(), id);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(add_track_box(f.get(), t, BoxTypeId::Tkhd), ErrorCode::Ok);
    t->tkhd->track_id = id;
  };
  for (uint32_t id : {3u, 1u, 2u}) add(id);
  add(2);
  add(0);
  std::vector<uint32_t> ids;
  for (uint32_t i = 0; i < track_count(f->root); ++i) ids.push_back(track_id_of(track_at(f->root, i)));
  EXPECT_EQ(ids, (std::vector<uint32_t>{1, 2, 3, 2, 0}));
  EXPECT_EQ(f->track_changed.count, 5u);
  EXPECT_EQ(f->tracks_changed, 1u);
  EXPECT_EQ(track_index_of(f->root, 3), 2u);
  EXPECT_EQ(find_track(f->root, 3), track_at(f->root, 2));
  EXPECT_EQ(find_track(f->root, 9), nullptr);
  EXPECT_EQ(track_at(f->root, 5), nullptr);
  f->track_changed[3] = 1;
  remove_track(f.get(), track_at(f->root, 1));
  EXPECT_EQ(track_count(f->root), 4u);
  EXPECT_EQ(f->track_changed.count, 4u);
  EXPECT_EQ(f->track_changed[2], 1u);  // the words move with their tracks
  EXPECT_EQ(track_id_of(track_at(f->root, 1)), 3u);
}

TEST(BoxTree, ChildOperationsReportTheirErrors) {
  MemoryFile f({}, kOpenCreate);
  ASSERT_EQ(create_root(f.get()), ErrorCode::Ok);
  EXPECT_EQ(add_movie_box(f.get(), BoxTypeId::Udta), ErrorCode::Missing);  // no moov yet
  ASSERT_EQ(add_movie_box(f.get(), BoxTypeId::Moov), ErrorCode::Ok);
  EXPECT_EQ(add_movie_box(f.get(), BoxTypeId::Moov), ErrorCode::Exists);
  EXPECT_EQ(add_movie_box(f.get(), BoxTypeId::Stts), ErrorCode::BadArgument);
  ASSERT_EQ(add_movie_box(f.get(), BoxTypeId::Udta), ErrorCode::Ok);
  EXPECT_NE(find_box(f->root, BoxTypeId::Udta), nullptr);
  remove_movie_box(f.get(), BoxTypeId::Udta);
  EXPECT_EQ(find_box(f->root, BoxTypeId::Udta), nullptr);
  EXPECT_EQ(find_box(f->root, BoxTypeId::Stts), nullptr);
  EXPECT_EQ(find_box(f->root, static_cast<BoxTypeId>(99999)), nullptr);
}

// A movie box whose size we control: its 'udta' holds one chapter whose title
// length sets the size (42 bytes + title).
void make_movie(MemoryFile& f, size_t moov_size) {
  ASSERT_EQ(create_root(f.get()), ErrorCode::Ok);
  ASSERT_EQ(add_movie_box(f.get(), BoxTypeId::Moov), ErrorCode::Ok);
  ASSERT_EQ(add_chapter(f.get(), 0, std::string(moov_size - 42, 'c').c_str()), ErrorCode::Ok);
  ASSERT_EQ(top_level_size(f.get()), moov_size);
}

struct RegionCase {
  size_t moov;
  Bytes expect_front;  // the first 100 bytes after the test's 4-byte prefix
  bool moved;          // the moov went to the last region
};

TEST(Regions, PlacementLeavesRoomForAFreeBoxOrMovesOn) {
  for (size_t moov : {100u, 92u, 96u}) {
    SCOPED_TRACE(moov);
    MemoryFile f(zeros(204), kOpenCreate);
    make_movie(f, moov);
    append_region(f.get(), 4);
    set_last_region_end(f.get(), 104);
    append_region(f.get(), 204);
    ASSERT_EQ(write_top_level_into_regions(f.get()), ErrorCode::Ok);
    Bytes out = f.contents();
    BoxHeader h;
    file_seek(f.get(), 4);
    read_box_header(f.get(), &h);
    if (moov == 96) {
      EXPECT_TRUE(h.type == "free");
      EXPECT_EQ(h.size, 100u);
      file_seek(f.get(), 204);
      read_box_header(f.get(), &h);
      EXPECT_TRUE(h.type == "moov");
      EXPECT_EQ(out.size(), 204u + 96u);
    } else {
      EXPECT_TRUE(h.type == "moov");
      EXPECT_EQ(h.size, moov);
      if (moov == 92) {
        file_seek(f.get(), 96);
        read_box_header(f.get(), &h);
        EXPECT_TRUE(h.type == "free");
        EXPECT_EQ(h.size, 8u);
      }
      EXPECT_EQ(out.size(), 204u);
    }
  }
}

TEST(Regions, MovieHeaderRoundTripsThroughMemory) {
  MemoryFile f({}, kOpenCreate);
  make_movie(f, 60);
  append_region(f.get(), 0);
  ASSERT_EQ(write_top_level_into_regions(f.get()), ErrorCode::Ok);
  Bytes written = f.contents();
  ASSERT_EQ(written.size(), 60u);
  MemoryFile back(written);
  read_file(back);
  ASSERT_NE(back->root->moov, nullptr);
  ASSERT_NE(back->root->moov->udta, nullptr);
}

TEST(Regions, TailOfAnOldReservedSpaceBecomesAFreeBox) {
  for (size_t reserve : {200u, 63u}) {
    SCOPED_TRACE(reserve);
    MemoryFile f(zeros(reserve), kOpenCreate);
    make_movie(f, 60);
    append_region(f.get(), 0);
    set_last_region_end(f.get(), reserve);
    ASSERT_EQ(write_top_level_into_regions(f.get()), ErrorCode::Ok);
    BoxHeader h;
    file_seek(f.get(), 60);
    read_box_header(f.get(), &h);
    EXPECT_TRUE(h.type == "free");
    EXPECT_EQ(h.size, reserve == 63 ? 8u : reserve - 60);  // 3 bytes cannot be a box: it grows to 8
  }
}

TEST(Regions, AGapOfOneToSevenBytesBeforeAnotherRegionIsAnError) {
  MemoryFile f(zeros(200), kOpenCreate);
  make_movie(f, 60);
  append_region(f.get(), 0);
  set_last_region_end(f.get(), 3);  // the moov does not fit, and 3 bytes cannot be a box
  append_region(f.get(), 100);
  ASSERT_EQ(write_top_level_into_regions(f.get()), ErrorCode::Missing);
}

// A top-level box whose size function undercounts what its writer writes.
ErrorCode write_60(BoxFile* file, void*) { return write_zeros(file, 60); }
uint64_t claims_42(BoxFile*, void*) { return 42; }
bool always(BoxFile*, void*) { return true; }
ErrorCode read_nothing(BoxFile*, const BoxHeader*, void*) { return ErrorCode::Ok; }

TEST(Regions, ABoxThatOutgrowsItsRegionIsRefused) {
  BoxDescriptor row{};
  row.type = FourCC::of("skip");
  row.slot = kNoSlot;
  row.read = read_nothing;
  row.write = write_60;
  row.size = claims_42;
  row.present = always;
  const ChildList top{[](void* c) { return c; }, 1, &row};
  BoxRegistry registry{};
  registry.lists[static_cast<uint32_t>(BoxLevel::Top)] = &top;

  MemoryFile f(zeros(204), kOpenCreate);
  f->registry = &registry;
  ASSERT_EQ(create_root(f.get()), ErrorCode::Ok);
  append_region(f.get(), 4);
  set_last_region_end(f.get(), 54);  // 50 bytes: exactly what the box claims
  append_region(f.get(), 204);
  EXPECT_EQ(write_top_level_into_regions(f.get()), ErrorCode::Overrun);
  EXPECT_EQ(f->detail.offset, 4u);
  ASSERT_NE(f->detail.reason, nullptr);
  release_root(f.get());
  f->registry = box_registry();
}

}  // namespace
}  // namespace vantorel
