#include <gtest/gtest.h>

#include <string>

#include "mediafile/box_registry.h"
#include "meta/chapters.h"
#include "meta/metadata_boxes.h"
#include "meta/tags.h"
#include "support/box_builder.h"
#include "support/read_tree.h"

namespace vantorel {
namespace {

using namespace test;

// ---- Builders ----------------------------------------------------------------

Bytes movie_with_udta(const Bytes& children) { return box("moov", box("udta", children)); }

Bytes data_box(const Bytes& value, uint32_t kind = 1) { return box("data", cat({u32(kind), u32(0), value})); }
Bytes item(const std::string& type, const Bytes& children) { return box(type, children); }
Bytes meta_ilst(const Bytes& items) {
  Bytes hdlr = full_box("hdlr", 0, 0, cat({u32(0), text("mdir"), text("appl"), zeros(8), u8(0)}));
  return full_box("meta", 0, 0, cat({hdlr, box("ilst", items)}));
}

// A 'tags' tag list entry: word, name length and name, values.
Bytes tag_entry(uint16_t word, const std::string& name, std::initializer_list<std::string> values) {
  Bytes out = cat({u16(word), u8(static_cast<uint8_t>(name.size())), text(name), u16(static_cast<uint16_t>(values.size()))});
  for (const std::string& v : values) out = cat({out, u32(static_cast<uint32_t>(v.size())), text(v)});
  return out;
}
Bytes tag_list(uint32_t count, const Bytes& entries) { return box("meta", cat({u32(count), entries})); }

struct Chapter {
  uint64_t start;
  std::string title;
};
Bytes chpl_box(uint8_t version, uint32_t count, std::initializer_list<Chapter> chapters) {
  Bytes out = cat({u8(version), u32(0), u32(count)});
  for (const Chapter& c : chapters)
    out = cat({out, version == 1 ? u64(c.start) : u32(static_cast<uint32_t>(c.start)),
               u8(static_cast<uint8_t>(c.title.size())), text(c.title)});
  return box("chpl", out);
}

std::string text_value(const TagRecord& tag, uint32_t i) {
  // Text values keep their terminator: compare it too.
  const uint8_t* v = tag.values[i];
  return std::string(v, v + tag.value_sizes[i]);
}
Bytes raw_value(const TagRecord& tag, uint32_t i) {
  return Bytes(tag.values[i], tag.values[i] + tag.value_sizes[i]);
}

const TagRecord* movie_tag(MemoryFile& f, const char* name) {
  TagRecord* tag = nullptr;
  uint32_t index = 0;
  return find_tag(f.get(), name, kMovieTags, &tag, &index) == ErrorCode::Ok ? tag : nullptr;
}

// Runs a parser over a box that starts the file; the file is left just after its header.
ErrorCode parse_alone(MemoryFile& f, ErrorCode (*parse)(MetaFile*, const BoxHeader*)) {
  BoxHeader h;
  VT_TRY(read_box_header(f.get(), &h));
  return parse(f.get(), &h);
}

// ---- 'meta' / 'ilst' -----------------------------------------------------------

TEST(MetaBox, IlstItemsBecomeMovieTags) {
  Bytes items = cat({
      item("\xA9" "nam", data_box(text("Hello"))),
      item("\xA9" "xyz", data_box(text("unknown item"))),
      item("\xA9" "ART", box("name", text("not data first"))),
      item("covr", data_box({0xFF, 0xD8, 0x00}, 13)),
      item("\xA9" "day", data_box({})),
  });
  MemoryFile f(movie_with_udta(meta_ilst(items)));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  EXPECT_EQ(f->meta.source_kind, kMetaFromMeta);
  EXPECT_EQ(f->flags & kFlagUdta, kFlagUdta);
  ASSERT_EQ(f->meta.tags.count, 4u);
  const TagRecord* unknown = movie_tag(f, "\xC2\xA9xyz");  // named by its type
  ASSERT_NE(unknown, nullptr);
  EXPECT_EQ(text_value(*unknown, 0), std::string("unknown item\0", 13));
  const TagRecord* title = movie_tag(f, "title");
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->flags, 0u);
  ASSERT_EQ(title->values.count, 1u);
  EXPECT_EQ(text_value(*title, 0), std::string("Hello\0", 6));
  const TagRecord* cover = movie_tag(f, "cover");
  ASSERT_NE(cover, nullptr);
  EXPECT_EQ(cover->flags, uint32_t{kTagRaw});
  EXPECT_EQ(raw_value(*cover, 0), (Bytes{0xFF, 0xD8, 0x00}));
  EXPECT_EQ(movie_tag(f, "artist"), nullptr);  // its first child was not 'data'
  const TagRecord* year = movie_tag(f, "year");
  ASSERT_NE(year, nullptr);
  EXPECT_EQ(text_value(*year, 0), std::string("\0", 1));  // an empty text is its NUL alone
}

TEST(MetaBox, EveryItemTypeHasItsName) {
  const std::pair<const char*, const char*> names[] = {
      {"\xA9" "nam", "title"}, {"\xA9" "ART", "artist"},  {"\xA9" "alb", "album"}, {"\xA9" "too", "tool"},
      {"\xA9" "cmt", "comment"}, {"\xA9" "gen", "genre"}, {"\xA9" "day", "year"},
  };
  Bytes items;
  for (const auto& [type, name] : names) items = cat({items, item(type, data_box(text(name)))});
  MemoryFile f(movie_with_udta(meta_ilst(items)));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  ASSERT_EQ(f->meta.tags.count, 7u);
  for (const auto& [type, name] : names) {
    SCOPED_TRACE(name);
    const TagRecord* tag = movie_tag(f, name);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(text_value(*tag, 0), std::string(name) + '\0');
  }
}

TEST(MetaBox, ValueEndsWithItsDataBoxAndRepeatsAddValues) {
  // A second 'data' box in an item is a value of its own; an item met again
  // adds a value to the same tag.
  Bytes items = cat({
      item("\xA9" "gen", cat({data_box(text("Jazz")), data_box(text("Blues"))})),
      item("\xA9" "gen", data_box(text("Soul"))),
  });
  MemoryFile f(movie_with_udta(meta_ilst(items)));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  const TagRecord* genre = movie_tag(f, "genre");
  ASSERT_NE(genre, nullptr);
  ASSERT_EQ(genre->values.count, 3u);
  EXPECT_EQ(text_value(*genre, 0), std::string("Jazz\0", 5));
  EXPECT_EQ(text_value(*genre, 1), std::string("Blues\0", 6));
  EXPECT_EQ(text_value(*genre, 2), std::string("Soul\0", 5));
}

TEST(MetaBox, WithoutVersionAndFlags) {
  // Some writers start the payload with the child boxes directly.
  Bytes hdlr = full_box("hdlr", 0, 0, cat({u32(0), text("mdir"), zeros(12), u8(0)}));
  Bytes meta = box("meta", cat({hdlr, box("ilst", item("\xA9" "nam", data_box(text("QT"))))}));
  MemoryFile f(movie_with_udta(meta));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  const TagRecord* title = movie_tag(f, "title");
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(text_value(*title, 0), std::string("QT\0", 3));
}

TEST(MetaBox, AnEmptyCoverSkipsTheRestButKeepsWhatCameBefore) {
  Bytes items = cat({item("\xA9" "nam", data_box(text("Kept"))), item("covr", data_box({})),
                     item("\xA9" "ART", data_box(text("Lost")))});
  Bytes meta = meta_ilst(items);
  {
    MemoryFile alone(meta);
    EXPECT_EQ(parse_alone(alone, meta_box_parse), ErrorCode::BadArgument);
  }
  // The whole file still reads; the chapters after the broken box are read too.
  MemoryFile f(movie_with_udta(cat({meta, chpl_box(1, 1, {{7, "after"}})})));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  ASSERT_EQ(f->meta.tags.count, 1u);
  EXPECT_NE(movie_tag(f, "title"), nullptr);
  EXPECT_EQ(movie_tag(f, "cover"), nullptr);  // no empty tag is left behind
  ASSERT_EQ(f->meta.chapters.count, 1u);
  EXPECT_EQ(f->detail.set, 0u);  // a skipped box leaves no failure on record
  EXPECT_EQ(f->detail.reason, nullptr);
}

TEST(MetaBox, LyingSizesStayInsideTheirBoxes) {
  struct Case {
    const char* what;
    Bytes item;
    ErrorCode inner;
    const char* title;  // expected title value without its NUL, or null for none
  };
  const Case cases[] = {
      // A 'data' box that claims 4 GiB is cut at its item: the value is what is there.
      {"data size 0xFFFFFFFF", item("\xA9" "nam", box_sized(0xFFFFFFFFu, "data", cat({u32(1), u32(0), text("abc")}))),
       ErrorCode::Ok, "abc"},
      {"data shorter than its fields", item("\xA9" "nam", box_sized(12, "data", u32(1))), ErrorCode::Malformed,
       nullptr},
      {"item too short for a child", item("\xA9" "nam", zeros(4)), ErrorCode::Ok, nullptr},
      {"data size 3", item("\xA9" "nam", box_sized(3, "data", zeros(8))), ErrorCode::Malformed, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes meta = meta_ilst(c.item);
    MemoryFile alone(meta);
    EXPECT_EQ(parse_alone(alone, meta_box_parse), c.inner);
    MemoryFile f(movie_with_udta(meta));
    ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
    const TagRecord* title = movie_tag(f, "title");
    if (c.title == nullptr) {
      EXPECT_EQ(title, nullptr);
    } else {
      ASSERT_NE(title, nullptr);
      EXPECT_EQ(text_value(*title, 0), std::string(c.title) + '\0');
    }
  }
}

// ---- 'tags' ----------------------------------------------------------------------

TEST(TagsBox, MovieListsChapterSegmentsAndCovers) {
  Bytes tags = box("tags", cat({
                               tag_list(2, cat({tag_entry(0x0001, "Artist", {"Me"}),
                                                tag_entry(0x8000, "Genre", {"a", "bc"})})),
                               box("tseg", cat({box("tshd", u32(1)), tag_list(1, tag_entry(0, "Title", {"Second"})),
                                                box("free", zeros(3))})),
                               box("tseg", cat({tag_list(1, tag_entry(0, "Ignored", {"x"})),
                                                box("tshd", u32(0))})),
                               box("covr", cat({u32(7), u32(2), u32(2), Bytes{1, 2}, u32(1), Bytes{3}})),
                               box("zzzz", zeros(4)),
                           }));
  // The chapters come first, so the segment has a chapter to hold its tags.
  MemoryFile f(movie_with_udta(cat({chpl_box(1, 2, {{0, "one"}, {50, "two"}}), tags})));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  EXPECT_EQ(f->meta.source_kind, kMetaFromTags);
  EXPECT_EQ(f->flags & kFlagTdrm, kFlagTdrm);
  ASSERT_EQ(f->meta.tags.count, 3u);
  const TagRecord* artist = movie_tag(f, "artist");
  ASSERT_NE(artist, nullptr);
  EXPECT_EQ(artist->flags, uint32_t{kTagFromTagsWord});  // bit 15 of the word clear
  EXPECT_EQ(text_value(*artist, 0), std::string("Me\0", 3));
  const TagRecord* genre = movie_tag(f, "Genre");
  ASSERT_NE(genre, nullptr);
  EXPECT_EQ(genre->flags, 0u);
  ASSERT_EQ(genre->values.count, 2u);
  EXPECT_EQ(text_value(*genre, 1), std::string("bc\0", 3));
  const TagRecord* cover = movie_tag(f, "cover");
  ASSERT_NE(cover, nullptr);
  EXPECT_EQ(cover->flags, uint32_t{kTagRaw});
  EXPECT_EQ(cover->extra, 7u);
  ASSERT_EQ(cover->values.count, 2u);
  EXPECT_EQ(raw_value(*cover, 0), (Bytes{1, 2}));
  EXPECT_EQ(raw_value(*cover, 1), (Bytes{3}));

  EXPECT_EQ(f->meta.chapters[0].tags.count, 0u);  // the segment without 'tshd' first is ignored
  ASSERT_EQ(f->meta.chapters[1].tags.count, 1u);
  const TagRecord& chapter_title = f->meta.chapters[1].tags[0];
  EXPECT_STREQ(chapter_title.name, "Title");
  EXPECT_EQ(text_value(chapter_title, 0), std::string("Second\0", 7));
}

TEST(TagsBox, BadNameLengthIsMissingAndTheFileStillReads) {
  for (uint8_t length : {uint8_t{0}, uint8_t{33}}) {
    SCOPED_TRACE(length);
    Bytes bad = cat({u16(0), u8(length), text(std::string(length, 'n')), u16(0)});
    Bytes tags = box("tags", cat({tag_list(2, cat({tag_entry(0, "First", {"kept"}), bad})),
                                  box("covr", cat({u32(0), u32(1), u32(1), Bytes{9}}))}));
    MemoryFile alone(tags);
    EXPECT_EQ(parse_alone(alone, tags_box_parse), ErrorCode::Missing);
    MemoryFile f(movie_with_udta(cat({tags, chpl_box(0, 1, {{3, "after"}})})));
    ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
    ASSERT_EQ(f->meta.tags.count, 1u);  // the cover after the bad tag is not read
    EXPECT_NE(movie_tag(f, "first"), nullptr);
    EXPECT_EQ(f->meta.chapters.count, 1u);
    EXPECT_EQ(f->detail.reason, nullptr);
  }
  // 32 is the longest name; a stored name keeps 31 characters.
  Bytes ok = box("tags", tag_list(1, tag_entry(0, std::string(32, 'L'), {"v"})));
  MemoryFile f(movie_with_udta(ok));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  ASSERT_EQ(f->meta.tags.count, 1u);
  EXPECT_EQ(std::string(f->meta.tags[0].name), std::string(31, 'L'));
}

TEST(TagsBox, CountsAndLengthsAreBoundedByTheBox) {
  struct Case {
    const char* what;
    Bytes tags;
    ErrorCode inner;
    uint32_t tags_kept;
  };
  const Case cases[] = {
      {"tag count", box("tags", tag_list(0xFFFFFFFFu, tag_entry(0, "a", {"b"}))), ErrorCode::Malformed, 0},
      {"value count", box("tags", tag_list(1, cat({u16(0), u8(1), text("a"), u16(0xFFFF), u32(1), text("b")}))),
       ErrorCode::Malformed, 1},
      // 4,294,967,295 + 1 must not become a 0-byte value.
      {"value length", box("tags", tag_list(1, cat({u16(0), u8(1), text("a"), u16(1), u32(0xFFFFFFFFu), text("b")}))),
       ErrorCode::Malformed, 1},
      {"name past the box", box("tags", tag_list(1, cat({u16(0), u8(20), text("abc")}))), ErrorCode::Malformed, 0},
      {"picture count", box("tags", box("covr", cat({u32(0), u32(0x40000000u), u32(1), Bytes{1}}))),
       ErrorCode::Malformed, 0},
      {"picture length", box("tags", box("covr", cat({u32(0), u32(1), u32(0xFFFFFFFFu), Bytes{1}}))),
       ErrorCode::Malformed, 1},
      {"empty picture", box("tags", box("covr", cat({u32(0), u32(1), u32(0)}))), ErrorCode::BadArgument, 1},
      {"list without count", box("tags", box("meta", u16(0))), ErrorCode::Malformed, 0},
      {"segment for a chapter the file lacks",
       box("tags", cat({box("tseg", cat({box("tshd", u32(5)), tag_list(1, tag_entry(0, "x", {"y"}))})),
                        tag_list(1, tag_entry(0, "movie", {"m"}))})),
       ErrorCode::Ok, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryFile alone(c.tags);
    EXPECT_EQ(parse_alone(alone, tags_box_parse), c.inner);
    MemoryFile f(movie_with_udta(c.tags));
    ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
    EXPECT_EQ(f->meta.tags.count, c.tags_kept);
  }
}

TEST(TagsBox, KeepsTagsFromAnEarlierMetaBox) {
  Bytes udta = cat({meta_ilst(item("\xA9" "nam", data_box(text("old")))),
                    box("tags", tag_list(1, tag_entry(0, "artist", {"new"})))});
  MemoryFile f(movie_with_udta(udta));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  EXPECT_EQ(f->meta.source_kind, kMetaFromTags);
  EXPECT_NE(movie_tag(f, "title"), nullptr);  // nothing read is thrown away
  EXPECT_NE(movie_tag(f, "artist"), nullptr);
  EXPECT_EQ(f->flags & (kFlagTdrm | kFlagUdta), kFlagTdrm | kFlagUdta);
}

// ---- 'chpl' ------------------------------------------------------------------------

TEST(Chpl, VersionsZeroAndOne) {
  struct Case {
    uint8_t version;
    uint64_t second_start;
  };
  for (const Case& c : {Case{0, 0xFFFFFFFFull}, Case{1, 0x123456789ull}}) {
    SCOPED_TRACE(static_cast<int>(c.version));
    MemoryFile f(movie_with_udta(chpl_box(c.version, 2, {{0, "Intro"}, {c.second_start, ""}})));
    ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
    EXPECT_EQ(f->flags & kFlagTdrm, kFlagTdrm);
    ASSERT_EQ(f->meta.chapters.count, 2u);
    EXPECT_STREQ(f->meta.chapters[0].title, "Intro");
    EXPECT_EQ(f->meta.chapters[0].start_time, 0u);
    EXPECT_STREQ(f->meta.chapters[1].title, "");
    EXPECT_EQ(f->meta.chapters[1].start_time, c.second_start);
    ASSERT_NE(f->root->moov->udta, nullptr);
    // Kept, so they are written back: version 1, two entries of 9 bytes plus their titles.
    EXPECT_EQ(children_size(f.get(), f->root, &kUdtaList), 8u + 9u + (9u + 5u) + 9u);
  }
}

TEST(Chpl, TwoBoxesGiveBothListsInFileOrder) {
  MemoryFile f(movie_with_udta(cat({chpl_box(1, 2, {{30, "c"}, {40, "d"}}), chpl_box(0, 1, {{10, "a"}})})));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  ASSERT_EQ(f->meta.chapters.count, 3u);
  EXPECT_STREQ(f->meta.chapters[0].title, "c");
  EXPECT_STREQ(f->meta.chapters[1].title, "d");
  EXPECT_STREQ(f->meta.chapters[2].title, "a");
  EXPECT_EQ(f->meta.chapters[2].start_time, 10u);
}

TEST(Chpl, WrittenBackAsVersionOne) {
  // Version 1 comes back byte for byte; version 0 comes back as version 1
  // with the same times widened.
  std::string title255(255, 't');
  Bytes v1 = movie_with_udta(chpl_box(1, 3, {{0, "Intro"}, {15000000, "Middle"}, {0x100000000ull, title255}}));
  Bytes v0 = movie_with_udta(chpl_box(0, 2, {{0, "A"}, {0xFFFFFFFFull, "B"}}));
  Bytes v0_as_v1 = movie_with_udta(chpl_box(1, 2, {{0, "A"}, {0xFFFFFFFFull, "B"}}));
  for (const auto& [input, expect] : {std::pair{v1, v1}, std::pair{v0, v0_as_v1}}) {
    MemoryFile f(input);
    ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
    EXPECT_EQ(movie_bytes(f.get()), expect);
  }
}

TEST(Chpl, LyingCountsAndTitlesKeepTheChaptersBefore) {
  struct Case {
    const char* what;
    Bytes chpl;
    uint32_t kept;
  };
  const Case cases[] = {
      {"count far past the box", chpl_box(1, 0xFFFFFFFFu, {{0, "a"}}), 0},
      {"count one past the box", chpl_box(1, 3, {{0, "a"}, {5, "b"}}), 0},
      {"title past the box", box("chpl", cat({u8(1), u32(0), u32(1), u64(0), u8(200), text("a")})), 0},
      {"too short for its fields", box("chpl", cat({u8(1), u32(0)})), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryFile alone(c.chpl);
    EXPECT_EQ(parse_alone(alone, chpl_parse), ErrorCode::Malformed);
    MemoryFile f(movie_with_udta(cat({c.chpl, meta_ilst(item("\xA9" "nam", data_box(text("t"))))})));
    ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
    EXPECT_EQ(f->meta.chapters.count, c.kept);
    EXPECT_EQ(f->meta.tags.count, 1u);  // the box after it is read
  }
  // A title cut by the end of the box after one good chapter: the first stays.
  Bytes cut = box("chpl", cat({u8(1), u32(0), u32(2), u64(1), u8(1), text("a"), u64(2), u8(9), text("bc")}));
  MemoryFile f(movie_with_udta(cut));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  ASSERT_EQ(f->meta.chapters.count, 1u);
  EXPECT_STREQ(f->meta.chapters[0].title, "a");
}

TEST(Udta, MetadataOutsideTheMovieJoinsIt) {
  Bytes file = cat({box("moov", {}), box("udta", chpl_box(1, 1, {{9, "late"}}))});
  MemoryFile f(file);
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  ASSERT_EQ(f->meta.chapters.count, 1u);
  ASSERT_NE(f->root->moov->udta, nullptr);
  EXPECT_EQ(children_size(f.get(), f->root, &kUdtaList), 8u + 9u + 9u + 4u);
}

}  // namespace
}  // namespace vantorel
