// Metadata written by ffmpeg, read back through the box tree.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "meta/chapters.h"
#include "meta/tags.h"
#include "support/box_builder.h"
#include "support/read_tree.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

bool have_ffmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

Bytes load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file read through the C-stream routines, as the library reads any path.
struct PathFile {
  MediaFile file{};
  ~PathFile() {
    release_root(&file);
    clear_all_metadata(&file);
    detach(&file);
  }
};

std::string tag_text(MediaFile* file, const char* name) {
  TagRecord* tag = nullptr;
  uint32_t index = 0;
  if (find_tag(file, name, kMovieTags, &tag, &index) != ErrorCode::Ok || tag->values.count == 0) return "<none>";
  const char* v = reinterpret_cast<const char*>(tag->values[0]);
  if (tag->value_sizes[0] == 0 || v[tag->value_sizes[0] - 1] != '\0') return "<not terminated>";
  return v;
}

TEST(FfmpegMetadata, IlstTagsReadAsMovieTags) {
  if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  std::string out = dir.path("tagged.mp4");
  ASSERT_TRUE(run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 -c:a aac "
                  "-metadata title=Hello -metadata artist=Me -metadata album='Some Album' " + out));
  PathFile f;
  IoOpenParams params{};
  params.routines = std_routines();
  params.path = out.c_str();
  ASSERT_EQ(attach(&f.file, &params, kOpenRead), ErrorCode::Ok);
  f.file.registry = box_registry();
  ASSERT_EQ(read_tree(&f.file), ErrorCode::Ok);
  EXPECT_EQ(f.file.meta.source_kind, kMetaFromMeta);
  EXPECT_EQ(tag_text(&f.file, "title"), "Hello");
  EXPECT_EQ(tag_text(&f.file, "artist"), "Me");
  EXPECT_EQ(tag_text(&f.file, "album"), "Some Album");
  EXPECT_EQ(tag_text(&f.file, "tool").rfind("Lavf", 0), 0u);  // the muxer names itself
}

const char kChapters[] =
    ";FFMETADATA1\n"
    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=Intro\n"
    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=2250\ntitle=Second part\n"
    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2250\nEND=3000\ntitle=D\xC3\xA9nouement\n";

struct Expected {
  const char* title;
  uint64_t start;  // 100 ns
};
const Expected kExpected[] = {{"Intro", 0}, {"Second part", 15000000}, {"D\xC3\xA9nouement", 22500000}};

// An ffmpeg file with chapters and a title; empty when ffmpeg failed.
Bytes chaptered_file(const TempDir& dir) {
  std::string meta = dir.path("chapters.txt");
  std::ofstream(meta) << kChapters;
  std::string plain = dir.path("plain.mp4");
  std::string out = dir.path("chaptered.mp4");
  if (!run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=3 -c:a aac -metadata title=Hello " + plain) ||
      !run("ffmpeg -v error -y -i " + plain + " -i " + meta + " -map 0 -map_metadata 0 -map_chapters 1 -c copy " + out))
    return {};
  return load(out);
}

void expect_chapters(MediaFile* file) {
  ASSERT_EQ(file->meta.chapters.count, 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    ChapterInfo info;
    ASSERT_EQ(get_chapter(file, i, &info), ErrorCode::Ok);
    EXPECT_STREQ(info.title, kExpected[i].title);
    EXPECT_EQ(info.start_time, kExpected[i].start);
  }
}

TEST(FfmpegMetadata, ChaptersReadWithTheirTitlesAndTimes) {
  if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  Bytes file = chaptered_file(dir);
  ASSERT_FALSE(file.empty());
  MemoryFile f(file);
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  expect_chapters(f.get());
  EXPECT_EQ(f->flags & kFlagTdrm, kFlagTdrm);
  EXPECT_EQ(tag_text(f.get(), "title"), "Hello");
}

// Replaces the top-level 'moov' by one that holds it compressed.
Bytes with_compressed_movie(const Bytes& file) {
  size_t at = 0;
  while (at + 8 <= file.size()) {
    uint32_t size = load_u32be(&file[at]);
    if (size < 8 || at + size > file.size()) return {};
    if (std::string(file.begin() + static_cast<std::ptrdiff_t>(at + 4), file.begin() + static_cast<std::ptrdiff_t>(at + 8)) == "moov") {
      Bytes moov(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + size));
      uLongf packed_size = compressBound(static_cast<uLong>(moov.size()));
      Bytes packed(packed_size);
      if (compress(packed.data(), &packed_size, moov.data(), static_cast<uLong>(moov.size())) != Z_OK) return {};
      packed.resize(packed_size);
      Bytes cmov = box("cmov", cat({box("dcom", text("zlib")),
                                    box("cmvd", cat({u32(static_cast<uint32_t>(moov.size())), packed}))}));
      Bytes out(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(at));
      out = cat({out, box("moov", cmov), Bytes(file.begin() + static_cast<std::ptrdiff_t>(at + size), file.end())});
      return out;
    }
    at += size;
  }
  return {};
}

TEST(FfmpegMetadata, CompressedMovieReadsLikeThePlainOne) {
  if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  Bytes plain = chaptered_file(dir);
  ASSERT_FALSE(plain.empty());
  Bytes packed = with_compressed_movie(plain);
  ASSERT_FALSE(packed.empty());
  ASSERT_NE(packed.size(), plain.size());
  MemoryFile a(plain);
  MemoryFile b(packed);
  ASSERT_EQ(read_tree(a.get()), ErrorCode::Ok);
  ASSERT_EQ(read_tree(b.get()), ErrorCode::Ok);
  EXPECT_GE(track_count(b->root), 1u);
  EXPECT_EQ(track_count(b->root), track_count(a->root));
  EXPECT_EQ(movie_bytes(b.get()), movie_bytes(a.get()));
  expect_chapters(b.get());
  EXPECT_EQ(tag_text(b.get(), "title"), "Hello");
}

}  // namespace
}  // namespace vantorel
