// Files opened for creating and for updating: their layout on disk.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "boxes/box_tree.h"
#include "mediafile/hand_made.h"
#include "mediafile/mediafile.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

struct TopBox {
  std::string type;
  uint64_t size;
};

std::vector<TopBox> top_level(const Bytes& b) {
  std::vector<TopBox> out;
  size_t at = 0;
  while (at + 8 <= b.size()) {
    uint64_t size = (uint64_t{b[at]} << 24) | (uint64_t{b[at + 1]} << 16) | (uint64_t{b[at + 2]} << 8) | b[at + 3];
    out.push_back({std::string(b.begin() + static_cast<long>(at) + 4, b.begin() + static_cast<long>(at) + 8), size});
    if (size < 8) break;
    at += size;
  }
  return out;
}

void write_file(const std::string& path, const Bytes& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

OpenParams params_for(const std::string& path) {
  OpenParams p{};
  p.routines = std_routines();
  p.path = path.c_str();
  return p;
}

TEST(Create, EmptyMovieLayoutsByReservedSpace) {
  TempDir dir;
  const FourCC brands[] = {FourCC::of("isom"), FourCC::of("mp41")};
  for (uint32_t reserve : {0u, 300u}) {
    SCOPED_TRACE(reserve);
    std::string path = dir.path("new" + std::to_string(reserve) + ".mp4");
    OpenParams p = params_for(path);
    p.major_brand = FourCC::of("isom");
    p.minor_version = 512;
    p.compatible_brand_count = 2;
    p.compatible_brands = brands;
    p.movie_timescale = 600;
    p.reserved_header_space = reserve;
    MediaFile* file = nullptr;
    ASSERT_EQ(media_open(&file, &p, kOpenCreate), ErrorCode::Ok);
    ASSERT_EQ(media_close(file), ErrorCode::Ok);
    Bytes out = read_whole_file(path);
    std::vector<TopBox> boxes = top_level(out);
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].type, "ftyp");
    EXPECT_EQ(boxes[0].size, 24u);
    EXPECT_EQ(boxes[1].type, "moov");
    if (reserve == 0) {
      EXPECT_EQ(boxes.size(), 2u);
    } else {
      // The rest of the reserved space is a 'free' box of its own.
      ASSERT_EQ(boxes.size(), 3u);
      EXPECT_EQ(boxes[2].type, "free");
      EXPECT_EQ(24 + reserve, out.size());
    }
    Bytes ftyp(out.begin(), out.begin() + 24);
    EXPECT_EQ(ftyp, box("ftyp", cat({text("isom"), u32(512), text("isom"), text("mp41")})));
  }
}

TEST(Update, MovieHeaderRewrittenIntoTheGapsAndSamplesStillRead) {
  TempDir dir;
  std::string path = dir.path("movie.mp4");
  HandTrack t;
  t.sizes = {5, 6, 7};
  t.stts = {{3, 10}};
  Bytes original = hand_made_file({t});
  write_file(path, original);
  OpenParams p = params_for(path);
  MediaFile* file = nullptr;
  ASSERT_EQ(media_open(&file, &p, kOpenUpdate), ErrorCode::Ok);
  ASSERT_EQ(file->free_regions.count, 2u);
  EXPECT_EQ(file->free_regions[0].start, 20u);  // after 'ftyp'
  ASSERT_EQ(media_close(file), ErrorCode::Ok);

  Bytes updated = read_whole_file(path);
  std::vector<TopBox> boxes = top_level(updated);
  ASSERT_GE(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].type, "ftyp");
  // Where the movie box was there is a movie box again (or a 'free' box and
  // the movie box after the media data).
  bool front = boxes[1].type == "moov";
  EXPECT_TRUE(front || boxes[1].type == "free");
  MediaFile* again = nullptr;
  OpenParams r = params_for(path);
  ASSERT_EQ(media_open(&again, &r, kOpenRead), ErrorCode::Ok);
  uint8_t buf[16];
  for (uint32_t i = 0; i < 3; ++i) {
    SampleRead s{};
    s.buffer = buf;
    s.capacity = sizeof buf;
    ASSERT_EQ(read_next_sample(again, 1, &s), ErrorCode::Ok);
    EXPECT_EQ(s.size, 5 + i);
    EXPECT_EQ(buf[0], i + 1);
  }
  media_close(again);
}

TEST(Update, AFileThatFailsToOpenIsLeftUntouched) {
  TempDir dir;
  std::string path = dir.path("broken.mp4");
  HandTrack t;
  t.sizes = {5};
  t.stts = {{1, 10}};
  Bytes bytes = hand_made_file({t});
  // A 64-bit box size of 0 after the movie: the read fails.
  Bytes broken = cat({bytes, u32(1), text("free"), u64(0)});
  write_file(path, broken);
  OpenParams p = params_for(path);
  MediaFile* file = nullptr;
  EXPECT_EQ(media_open(&file, &p, kOpenUpdate), ErrorCode::Malformed);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(read_whole_file(path), broken);
}

TEST(Open, MissingFilesAndBadArguments) {
  std::string missing = "/nonexistent/dir/file.mp4";
  OpenParams p = params_for(missing);
  MediaFile* file = nullptr;
  EXPECT_EQ(media_open(&file, &p, kOpenRead), ErrorCode::Io);
  EXPECT_EQ(media_open(&file, &p, 4), ErrorCode::BadArgument);
  EXPECT_EQ(media_open(nullptr, &p, kOpenRead), ErrorCode::BadArgument);
  EXPECT_EQ(media_close(nullptr), ErrorCode::BadArgument);
}

}  // namespace
}  // namespace vantorel
