#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "meta/chapters.h"
#include "meta/tags.h"
#include "support/box_builder.h"

namespace vantorel {
namespace {

using test::Bytes;
using test::MemoryFile;

Bytes value_of(const TagRecord* tag, uint32_t i) {
  return Bytes(tag->values[i], tag->values[i] + tag->value_sizes[i]);
}

TEST(Tags, NamesDifferingOnlyInCaseAreOneTag) {
  MemoryFile f({});
  ASSERT_EQ(add_tag(f.get(), "Title", 0, 5, kMovieTags), ErrorCode::Ok);
  // Same name in other case: nothing changes, not even flags or extra word.
  ASSERT_EQ(add_tag(f.get(), "TITLE", kTagRaw, 9, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(f->meta.tags.count, 1u);
  EXPECT_STREQ(f->meta.tags[0].name, "Title");
  EXPECT_EQ(f->meta.tags[0].flags, 0u);
  EXPECT_EQ(f->meta.tags[0].extra, 5u);
  ASSERT_EQ(add_tag_value(f.get(), "tItLe", "one", 4, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(add_tag(f.get(), "artist", 0, 0, kMovieTags), ErrorCode::Ok);
  TagRecord* tag = nullptr;
  uint32_t index = 99;
  ASSERT_EQ(find_tag(f.get(), "ARTIST", kMovieTags, &tag, &index), ErrorCode::Ok);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(tag, &f->meta.tags[1]);
  ASSERT_EQ(find_tag(f.get(), "TITLE", kMovieTags, &tag, &index), ErrorCode::Ok);
  EXPECT_EQ(index, 0u);
  ASSERT_EQ(tag->values.count, 1u);
  EXPECT_STREQ(reinterpret_cast<const char*>(tag->values[0]), "one");
  // A prefix or an extension of a name is another name.
  EXPECT_EQ(find_tag(f.get(), "Titl", kMovieTags, &tag, &index), ErrorCode::Missing);
  EXPECT_EQ(tag, nullptr);
  EXPECT_EQ(find_tag(f.get(), "Titles", kMovieTags, &tag, &index), ErrorCode::Missing);
}

TEST(Tags, TextValuesEndInNulRawValuesAreKeptAsGiven) {
  MemoryFile f({});
  ASSERT_EQ(add_tag(f.get(), "text", 0, 0, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(add_tag(f.get(), "raw", kTagRaw, 0, kMovieTags), ErrorCode::Ok);
  const uint8_t bytes[3] = {'a', 'b', 'c'};
  ASSERT_EQ(add_tag_value(f.get(), "text", bytes, 3, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(add_tag_value(f.get(), "raw", bytes, 3, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(add_tag_value(f.get(), "raw", bytes, 1, kMovieTags), ErrorCode::Ok);
  EXPECT_EQ(value_of(&f->meta.tags[0], 0), (Bytes{'a', 'b', 0}));  // the last byte is the terminator
  ASSERT_EQ(f->meta.tags[1].values.count, 2u);
  EXPECT_EQ(value_of(&f->meta.tags[1], 0), (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(value_of(&f->meta.tags[1], 1), (Bytes{'a'}));
}

TEST(Tags, RefusedArguments) {
  MemoryFile f({});
  ASSERT_EQ(add_tag(f.get(), "t", 0, 0, kMovieTags), ErrorCode::Ok);
  TagRecord* tag = nullptr;
  uint32_t index = 0;
  struct Case {
    const char* what;
    ErrorCode got;
    ErrorCode want;
  };
  const Case cases[] = {
      {"null name", add_tag(f.get(), nullptr, 0, 0, kMovieTags), ErrorCode::BadArgument},
      {"null file", add_tag(nullptr, "t", 0, 0, kMovieTags), ErrorCode::BadArgument},
      {"chapter that does not exist", add_tag(f.get(), "t", 0, 0, chapter_tags(0)), ErrorCode::BadArgument},
      {"value of size 0", add_tag_value(f.get(), "t", "x", 0, kMovieTags), ErrorCode::BadArgument},
      {"null value", add_tag_value(f.get(), "t", nullptr, 1, kMovieTags), ErrorCode::BadArgument},
      {"value for no tag", add_tag_value(f.get(), "u", "x", 2, kMovieTags), ErrorCode::Missing},
      {"value for a missing chapter", add_tag_value(f.get(), "t", "x", 2, chapter_tags(3)), ErrorCode::BadArgument},
      {"find in a missing chapter", find_tag(f.get(), "t", chapter_tags(0), &tag, &index), ErrorCode::BadArgument},
      {"find without out pointers", find_tag(f.get(), "t", kMovieTags, nullptr, &index), ErrorCode::BadArgument},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.got, c.want);
  }
  EXPECT_EQ(f->meta.tags.count, 1u);
  EXPECT_EQ(f->meta.tags[0].values.count, 0u);
}

TEST(Tags, LongNamesAreCutAndStillFoundByTheFullName) {
  MemoryFile f({});
  std::string longer(40, 'n');
  ASSERT_EQ(add_tag(f.get(), longer.c_str(), 0, 0, kMovieTags), ErrorCode::Ok);
  EXPECT_EQ(std::strlen(f->meta.tags[0].name), kMaxTagName);
  ASSERT_EQ(add_tag(f.get(), (longer + "xyz").c_str(), 0, 0, kMovieTags), ErrorCode::Ok);
  EXPECT_EQ(f->meta.tags.count, 1u);
  EXPECT_EQ(add_tag_value(f.get(), longer.c_str(), "v", 2, kMovieTags), ErrorCode::Ok);
  EXPECT_EQ(f->meta.tags[0].values.count, 1u);
}

TEST(Tags, ChapterLevelsAreSeparateFromTheMovie) {
  MemoryFile f({});
  ASSERT_EQ(add_chapter(f.get(), 0, "a"), ErrorCode::Ok);
  ASSERT_EQ(add_chapter(f.get(), 10, "b"), ErrorCode::Ok);
  ASSERT_EQ(add_tag(f.get(), "name", 0, 0, chapter_tags(1)), ErrorCode::Ok);
  ASSERT_EQ(add_tag_value(f.get(), "NAME", "x", 2, chapter_tags(1)), ErrorCode::Ok);
  ASSERT_EQ(add_tag(f.get(), "name", 0, 0, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(add_tag(f.get(), "other", 0, 0, kMovieTags), ErrorCode::Ok);
  EXPECT_EQ(f->meta.chapters[0].tags.count, 0u);
  EXPECT_EQ(f->meta.chapters[1].tags.count, 1u);
  EXPECT_EQ(f->meta.tags[0].values.count, 0u);  // the chapter's value went to the chapter
  ChapterInfo info;
  ASSERT_EQ(get_chapter(f.get(), 1, &info), ErrorCode::Ok);
  EXPECT_EQ(info.tag_count, 1u);
  EXPECT_EQ(info.start_time, 10u);
  EXPECT_STREQ(info.title, "b");

  ASSERT_EQ(remove_tag(f.get(), "NAME", kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(f->meta.tags.count, 1u);  // the gap is closed
  EXPECT_STREQ(f->meta.tags[0].name, "other");
  EXPECT_EQ(f->meta.chapters[1].tags.count, 1u);
  ASSERT_EQ(clear_movie_tags(f.get()), ErrorCode::Ok);
  EXPECT_EQ(f->meta.tags.count, 0u);
  EXPECT_EQ(f->meta.chapters[1].tags.count, 1u);  // chapter tags survive
  ASSERT_EQ(remove_tag(f.get(), "Name", chapter_tags(1)), ErrorCode::Ok);
  EXPECT_EQ(f->meta.chapters[1].tags.count, 0u);
}

TEST(Chapters, IndexAtTheCountIsTheEnd) {
  MemoryFile f({});
  ChapterInfo info;
  EXPECT_EQ(get_chapter(f.get(), 0, &info), ErrorCode::NoMore);
  ASSERT_EQ(add_chapter(f.get(), 5, "one"), ErrorCode::Ok);
  ASSERT_EQ(add_chapter(f.get(), 7, nullptr), ErrorCode::Ok);
  EXPECT_EQ(get_chapter(f.get(), 2, &info), ErrorCode::NoMore);
  ASSERT_EQ(get_chapter(f.get(), 1, &info), ErrorCode::Ok);
  EXPECT_STREQ(info.title, "");
  EXPECT_EQ(info.start_time, 7u);
  MetadataCounts counts;
  ASSERT_EQ(metadata_counts(f.get(), &counts), ErrorCode::Ok);
  EXPECT_EQ(counts.chapter_count, 2u);
}

}  // namespace
}  // namespace vantorel
