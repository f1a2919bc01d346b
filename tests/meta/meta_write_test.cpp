// User data and 'meta' boxes written back: byte for byte as read when the
// tags did not change, rebuilt from the tags (their other children kept)
// when they did.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "boxes/carried_boxes.h"
#include "boxes/moov.h"
#include "meta/chapters.h"
#include "meta/meta_write.h"
#include "meta/tags.h"
#include "support/box_builder.h"
#include "support/read_tree.h"

namespace vantorel {
namespace {

using namespace test;

Bytes data_box(const Bytes& value, uint32_t type = 1, uint32_t locale = 0) {
  return box("data", cat({u32(type), u32(locale), value}));
}
Bytes hdlr_box(const char* handler) {
  return full_box("hdlr", 0, 0, cat({u32(0), text(handler), text(std::string(handler) == "mdir" ? "appl" : std::string(4, '\0')),
                                      zeros(8), u8(0)}));
}
Bytes mdir_meta(const Bytes& items, const Bytes& extra = {}) {
  return full_box("meta", 0, 0, cat({hdlr_box("mdir"), box("ilst", items), extra}));
}
Bytes key_entry(const std::string& key) { return cat({u32(static_cast<uint32_t>(key.size() + 8)), text("mdta"), text(key)}); }
Bytes qt_text(const char* type, const std::string& s) {
  return box(type, cat({u16(static_cast<uint16_t>(s.size())), u16(0x55C4), text(s)}));
}
Bytes utf16(const std::u16string& s) {
  Bytes out;
  for (char16_t c : s) out = cat({out, u16(static_cast<uint16_t>(c))});
  return out;
}

// The file's movie box written as the library writes it (the chapter list
// comes from the writing file's own chapters).
Bytes written_movie(MediaFile* file) {
  MemoryFile out({}, kOpenCreate);
  for (const ChapterRecord& c : file->meta.chapters) EXPECT_EQ(add_chapter(out.get(), c.start_time, c.title), ErrorCode::Ok);
  EXPECT_EQ(write_box(out.get(), FourCC::of("moov"), nullptr, moov_size(file, file->root), moov_write, file->root),
            ErrorCode::Ok);
  return out.contents();
}

const OwnedBlock& carried_at(MediaFile* file, uint32_t i) { return file->root->moov->udta->carried->boxes[i]; }
Bytes bytes_of(const OwnedBlock& b) { return Bytes(b.bytes, b.bytes + b.length); }

TEST(UserData, EveryChildIsWrittenBackAsReadWithTheChaptersLast) {
  Bytes chpl = box("chpl", cat({u8(1), u32(0), u32(1), u64(0), u8(5), text("Intro")}));
  Bytes children[] = {
      qt_text("\xA9" "nam", "Titre"),
      full_box("titl", 0, 0, cat({u16(0x15C7), text("3GPP title"), u8(0)})),
      box("Xtra", cat({u32(20), u32(9), text("WM/Thing"), u16(1)})),
      mdir_meta(box("\xA9" "ART", data_box(text("Me")))),
      box("name", text("a name")),
      full_box("loci", 0, 0, zeros(20)),
  };
  Bytes rest;  // every child but the first
  for (size_t i = 1; i < std::size(children); ++i) rest = cat({rest, children[i]});
  Bytes movie_meta = full_box("meta", 0, 0, cat({hdlr_box("mdta"), full_box("keys", 0, 0, cat({u32(1), key_entry("k")})),
                                                 box("ilst", box(std::string("\0\0\0\x01", 4), data_box(text("v"))))}));
  Bytes input = box("moov", cat({box("udta", cat({children[0], chpl, rest})), movie_meta}));
  MemoryFile f(input);
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  EXPECT_EQ(f->meta.tags.count, 2u);  // the artist and the keyed 'k'
  Bytes expected = box("moov", cat({box("udta", cat({children[0], rest, chpl})), movie_meta}));
  EXPECT_EQ(written_movie(f.get()), expected);
}

TEST(UserData, ABoxThatLiesAboutItsSizeIsNotCarried) {
  Bytes kept = box("name", text("kept"));
  Bytes liar = cat({u32(4000), text("Xtra"), zeros(4)});
  MemoryFile f(box("moov", box("udta", cat({kept, liar}))));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  EXPECT_EQ(written_movie(f.get()), box("moov", box("udta", kept)));
}

// Items the library reads whole: written back from the tags, they are the
// bytes that were read.
TEST(MetaWrite, TagsRebuiltUnchangedAreTheBytesRead) {
  struct Case {
    const char* what;
    Bytes meta;
  };
  const Case cases[] = {
      {"freeform, UTF-16, integers, pictures, locales",
       mdir_meta(cat({
           box("----", cat({full_box("mean", 0, 0, text("com.apple.iTunes")), full_box("name", 0, 0, text("MY NOTE")),
                            data_box(text("note"), 1)})),
           box("\xA9" "nam", data_box(utf16(u"Ti\u00e9tle"), 2, 0x656E0000)),
           box("tmpo", data_box(u16(120), 21)),
           box("trkn", data_box(cat({u16(0), u16(3), u16(12), u16(0)}), 0)),
           box("covr", cat({data_box({0x89, 'P', 'N', 'G', 0, 1, 2, 3}, 14), data_box({0xFF, 0xD8, 0xFF}, 13)})),
           box("\xA9" "xyz", data_box(text("unknown item"))),
       }),
                 box("free", zeros(6)))},
      {"keyed", full_box("meta", 0, 0,
                         cat({hdlr_box("mdta"),
                              full_box("keys", 0, 0,
                                       cat({u32(2), key_entry("com.apple.quicktime.make"),
                                            key_entry("com.apple.quicktime.location.ISO6709")})),
                              box("ilst", cat({box(std::string("\0\0\0\x01", 4), data_box(text("Acme"))),
                                               box(std::string("\0\0\0\x02", 4), data_box(text("+12.3+045.6/")))}))}))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryFile f(box("moov", box("udta", c.meta)));
    ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
    // A tag added and taken away again: the tags changed, and are as read.
    ASSERT_EQ(add_tag(f.get(), "passing", 0, 0, kMovieTags), ErrorCode::Ok);
    ASSERT_EQ(remove_tag(f.get(), "passing", kMovieTags), ErrorCode::Ok);
    ASSERT_EQ(f->meta.tags_changed, 1u);
    ASSERT_EQ(metadata_write_back(f.get()), ErrorCode::Ok);
    EXPECT_EQ(f->meta.tags_changed, 0u);
    EXPECT_EQ(bytes_of(carried_at(f.get(), 0)), c.meta);
  }
}

TEST(MetaWrite, ChangedTagsAreWrittenIntoTheirItems) {
  Bytes other = box("free", zeros(2));
  MemoryFile f(box("moov", box("udta", mdir_meta(cat({box("\xA9" "nam", data_box(text("Old"))),
                                                      box("\xA9" "ART", data_box(text("Artist")))}),
                                                 other))));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  ASSERT_EQ(remove_tag(f.get(), "title", kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(add_tag(f.get(), "album", 0, 0, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(add_tag_value(f.get(), "album", "New\0", 4, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(add_tag(f.get(), "My Own", 0, 0, kMovieTags), ErrorCode::Ok);  // no item of that name: freeform
  ASSERT_EQ(add_tag_value(f.get(), "my own", "x\0", 2, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(add_tag(f.get(), "tempo", kTagRaw, 0, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(add_tag_value_typed(f.get(), "tempo", "\x00\x5A", 2, 21, 0, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(add_tag(f.get(), "empty", 0, 0, kMovieTags), ErrorCode::Ok);  // no value: no item
  ASSERT_EQ(metadata_write_back(f.get()), ErrorCode::Ok);
  Bytes expected = mdir_meta(cat({
                                 box("\xA9" "ART", data_box(text("Artist"))),
                                 box("\xA9" "alb", data_box(text("New"))),
                                 box("----", cat({full_box("mean", 0, 0, text("com.apple.iTunes")),
                                                  full_box("name", 0, 0, text("My Own")), data_box(text("x"))})),
                                 box("tmpo", data_box(u16(90), 21)),
                             }),
                             other);
  EXPECT_EQ(bytes_of(carried_at(f.get(), 0)), expected);
}

TEST(MetaWrite, TagsOfAFileWithoutMetadataGetAMetaBox) {
  MemoryFile f(box("moov", box("mvhd", zeros(100))));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  ASSERT_EQ(add_tag(f.get(), "title", 0, 0, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(add_tag_value(f.get(), "title", "T\0", 2, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(metadata_write_back(f.get()), ErrorCode::Ok);
  ASSERT_NE(f->root->moov->udta, nullptr);
  EXPECT_EQ(bytes_of(carried_at(f.get(), 0)), mdir_meta(box("\xA9" "nam", data_box(text("T")))));
}

TEST(MetaWrite, UntouchedTagsLeaveTheBoxesAlone) {
  // Not canonical (a 64-bit size inside), so a rebuild would show.
  Bytes odd_item = cat({u32(1), text("\xA9" "nam"), u64(16 + 12), data_box({})});
  Bytes meta = mdir_meta(odd_item);
  MemoryFile f(box("moov", box("udta", meta)));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  EXPECT_EQ(f->meta.tags_changed, 0u);
  ASSERT_EQ(metadata_write_back(f.get()), ErrorCode::Ok);
  EXPECT_EQ(bytes_of(carried_at(f.get(), 0)), meta);
}

TEST(MetaBox, MalformedPartsSkipOnlyThemselves) {
  struct Case {
    const char* what;
    Bytes meta;
    std::vector<std::string> names;  // the tags read, in order
  };
  Bytes ok_keys = full_box("keys", 0, 0, cat({u32(1), key_entry("com.apple.quicktime.make")}));
  Bytes first = box(std::string("\0\0\0\x01", 4), data_box(text("Acme")));
  const Case cases[] = {
      {"key index past the table",
       full_box("meta", 0, 0,
                cat({hdlr_box("mdta"), ok_keys,
                     box("ilst", cat({box(std::string("\0\0\0\x05", 4), data_box(text("lost"))), first}))})),
       {"make"}},
      {"key index 0", full_box("meta", 0, 0, cat({hdlr_box("mdta"), ok_keys,
                                                   box("ilst", cat({box(std::string(4, '\0'), data_box(text("x"))), first}))})),
       {"make"}},
      {"key count larger than its box",
       full_box("meta", 0, 0, cat({hdlr_box("mdta"), full_box("keys", 0, 0, cat({u32(0x10000000), key_entry("a")})),
                                   box("ilst", first)})),
       {}},
      {"key longer than its box",
       full_box("meta", 0, 0, cat({hdlr_box("mdta"), full_box("keys", 0, 0, cat({u32(1), u32(4000), text("mdta")})),
                                   box("ilst", first)})),
       {}},
      {"'data' straight in the item list, then an item",
       mdir_meta(cat({data_box(text("nobody's")), box("\xA9" "nam", data_box(text("T")))})), {"title"}},
      {"freeform value without its name", mdir_meta(box("----", data_box(text("v")))), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryFile f(box("moov", box("udta", c.meta)));
    ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
    std::vector<std::string> names;
    for (const TagRecord& t : f->meta.tags) names.emplace_back(t.name);
    EXPECT_EQ(names, c.names);
    // What was read is still carried as it was.
    ASSERT_EQ(f->root->moov->udta->carried->boxes.count, 1u);
    EXPECT_EQ(bytes_of(carried_at(f.get(), 0)), c.meta);
  }
}

}  // namespace
}  // namespace vantorel
