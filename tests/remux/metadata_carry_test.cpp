// Metadata survives the remux: files tagged by ffmpeg come out with the same
// format tags, stream tags, chapters and cover art, each part of a split too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mediafile/mediafile.h"
#include "mediafile/media_file.h"
#include "meta/chapters.h"
#include "meta/tags.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

std::string run_tool(const std::string& command) {
  std::string out;
  EXPECT_EQ(run_command(command, &out), 0) << command;
  return out;
}

// ffprobe's tags of the file and of each stream, as sorted lines. The brand
// fields are the output's own; a language of "und" and none mean the same.
std::vector<std::string> probe_tags(const std::string& path) {
  std::string out = run_tool("ffprobe -v error -show_entries format_tags:stream_tags -of flat " + shell_quote(path));
  std::vector<std::string> lines;
  for (const std::string& line : lines_of(out)) {
    if (line.find("major_brand") != std::string::npos || line.find("minor_version") != std::string::npos ||
        line.find("compatible_brands") != std::string::npos || line.find("language=\"und\"") != std::string::npos)
      continue;
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

struct Chapter {
  double start;
  std::string title;
  bool operator==(const Chapter& o) const { return std::abs(start - o.start) < 0.002 && title == o.title; }
};

// Chapters as ffprobe reads them (from the chapter track where there is one).
std::vector<Chapter> probe_chapters(const std::string& path) {
  std::string out = run_tool("ffprobe -v error -show_entries chapter=start_time:chapter_tags=title -of csv=p=0 " +
                             shell_quote(path));
  std::vector<Chapter> chapters;
  for (const std::string& line : lines_of(out)) {
    size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    chapters.push_back({std::atof(line.substr(0, comma).c_str()), line.substr(comma + 1)});
  }
  return chapters;
}

// Chapters as the library reads them from 'chpl'.
std::vector<Chapter> list_chapters(const std::string& path) {
  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  std::vector<Chapter> chapters;
  if (media_open(&file, &params, kOpenRead) != ErrorCode::Ok) return chapters;
  MetadataCounts counts{};
  metadata_counts(file, &counts);
  for (uint32_t i = 0; i < counts.chapter_count; ++i) {
    ChapterInfo c{};
    if (get_chapter(file, i, &c) == ErrorCode::Ok) chapters.push_back({c.start_time / 1e7, c.title});
  }
  media_close(file);
  return chapters;
}

double probe_duration(const std::string& path) {
  return std::atof(run_tool("ffprobe -v error -show_entries format=duration -of csv=p=0 " + shell_quote(path)).c_str());
}
double first_stream_duration(const std::string& path) {
  return std::atof(
      run_tool("ffprobe -v error -select_streams 0 -show_entries stream=duration -of csv=p=0 " + shell_quote(path)).c_str());
}

std::vector<uint8_t> cover_of(const TempDir& dir, const std::string& path) {
  std::string picture = dir.path("cover-" + std::to_string(std::rand()) + ".bin");
  run_tool("ffmpeg -nostdin -v error -y -i " + shell_quote(path) + " -map 0:v -c copy -f image2 " + shell_quote(picture));
  return read_whole_file(picture);
}

std::string atomic_tags(const std::string& path) {
  return run_tool("AtomicParsley " + shell_quote(path) + " -t 2>&1");
}

int remux(const TempDir& dir, std::vector<std::string> args) {
  RunResult r = run_program(dir, args);
  EXPECT_EQ(r.status, 0) << r.err;
  return r.status;
}

std::vector<std::string> parts_of(const std::string& first) {
  std::vector<std::string> parts{first};
  std::string stem = first.substr(0, first.rfind('.'));
  std::string ext = first.substr(first.rfind('.'));
  for (int i = 1;; ++i) {
    std::string p = stem + "_" + std::to_string(i) + ext;
    if (std::FILE* f = std::fopen(p.c_str(), "rb")) {
      std::fclose(f);
      parts.push_back(p);
    } else {
      break;
    }
  }
  return parts;
}

TEST(MetadataCarry, TagsCoverArtAndChaptersSurvive) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string cover = make_media(dir, "cover.png", "-f lavfi -i color=red:size=32x32 -frames:v 1", &error);
  ASSERT_FALSE(cover.empty()) << error;
  std::string chapters = dir.path("chapters.txt");
  {
    std::FILE* f = std::fopen(chapters.c_str(), "w");
    std::fputs(";FFMETADATA1\ntitle=Chaptered\nartist=Someone\n", f);
    for (int i = 0; i < 3; ++i)
      std::fprintf(f, "[CHAPTER]\nTIMEBASE=1/1000\nSTART=%d\nEND=%d\ntitle=Part %c\n", i * 2000, i * 2000 + 2000,
                   'A' + i);
    std::fclose(f);
  }
  const std::string video = "-f lavfi -i testsrc=size=64x64:rate=10:duration=6 ";
  const std::string audio = "-f lavfi -i sine=duration=6 ";
  struct Case {
    const char* name;
    std::string file, args, output;
    bool has_cover;
    bool mp4_input;  // the tag tool reads no QuickTime movie
  };
  const Case cases[] = {
      {"audio tags and cover art", "tagged.m4a",
       audio + "-i " + shell_quote(cover) +
           " -map 0 -map 1 -c:a aac -c:v copy -disposition:v attached_pic -metadata title=T\xC3\xAFtle"
           " -metadata artist=Art -metadata album_artist=AA -metadata composer=Comp -metadata album=Alb"
           " -metadata date=2024 -metadata track=3/12 -metadata disc=1/2 -metadata genre=Rock -metadata comment=Cmt"
           " -metadata encoder=Enc -metadata copyright=CR -metadata description=Desc -metadata grouping=Grp"
           " -metadata lyrics=Lyr",
       "tagged-out.m4a", true, true},
      {"QuickTime user data and a track title", "titled.mov",
       video + audio + "-c:v mpeg4 -g 10 -c:a aac -metadata title=MovTitle -metadata comment=MovCmt"
                       " -metadata:s:v title=TrackTitle -metadata:s:a title=Sound",
       "titled-out.mp4", false, false},
      {"QuickTime metadata keys", "keyed.mov",
       video + "-c:v mpeg4 -g 10 -movflags use_metadata_tags -metadata com.apple.quicktime.make=Acme"
               " -metadata com.apple.quicktime.model=X1 -metadata com.apple.quicktime.location.ISO6709=+12.3+045.6/"
               " -metadata custom_key=val",
       "keyed-out.mov", false, false},
      {"chapters with their track", "chaptered.mp4",
       video + audio + "-i " + shell_quote(chapters) + " -map 0 -map 1 -map_metadata 2 -c:v mpeg4 -g 10 -c:a aac",
       "chaptered-out.mp4", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string in = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(in.empty()) << error;
    std::string out = dir.path(c.output);
    ASSERT_EQ(remux(dir, {in, out}), 0);
    EXPECT_EQ(probe_tags(out), probe_tags(in));
    EXPECT_EQ(probe_chapters(out), probe_chapters(in));
    EXPECT_EQ(list_chapters(out), list_chapters(in));
    if (c.has_cover) {
      std::vector<uint8_t> picture = cover_of(dir, in);
      EXPECT_FALSE(picture.empty());
      EXPECT_EQ(cover_of(dir, out), picture);
    }
    if (c.mp4_input && have_tool("AtomicParsley")) {
      EXPECT_EQ(atomic_tags(out), atomic_tags(in));
    }

    // Every part of a split carries the movie's tags and the chapters that
    // start in it, in both forms.
    std::string split = dir.path(std::string("split-") + c.output);
    ASSERT_EQ(remux(dir, {"--split-duration", "2", in, split}), 0);
    std::vector<std::string> parts = parts_of(split);
    EXPECT_GE(parts.size(), 2u);
    std::vector<Chapter> joined;
    double offset = 0;
    for (const std::string& part : parts) {
      SCOPED_TRACE(part);
      EXPECT_EQ(probe_tags(part), probe_tags(in));
      std::vector<Chapter> from_track = probe_chapters(part);
      EXPECT_EQ(list_chapters(part), from_track);
      for (Chapter ch : from_track) joined.push_back({ch.start + offset, ch.title});
      if (c.has_cover) {
        EXPECT_EQ(cover_of(dir, part), cover_of(dir, in));
      }
      if (c.mp4_input && have_tool("AtomicParsley")) {
        EXPECT_EQ(atomic_tags(part), atomic_tags(in));
      }
      // No chapter outlasts its part.
      EXPECT_NEAR(probe_duration(part), first_stream_duration(part), 0.05);
      offset += first_stream_duration(part);
    }
    EXPECT_EQ(joined, probe_chapters(in));
  }
}

// A file tagged in place keeps every byte of its media.
TEST(MetadataCarry, TaggingInPlaceKeepsTheMediaAndTheOtherTags) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string in = make_media(dir, "song.m4a",
                              "-f lavfi -i sine=duration=2 -c:a aac -metadata title=Song -metadata track=3/12"
                              " -metadata album=Alb",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  std::string copy = dir.path("song-tagged.m4a");
  run_tool("cp " + shell_quote(in) + " " + shell_quote(copy));
  OpenParams params{};
  params.routines = std_routines();
  params.path = copy.c_str();
  MediaFile* file = nullptr;
  ASSERT_EQ(media_open(&file, &params, kOpenUpdate), ErrorCode::Ok);
  EXPECT_EQ(remove_tag(file, "album", kMovieTags), ErrorCode::Ok);
  EXPECT_EQ(add_tag(file, "composer", 0, 0, kMovieTags), ErrorCode::Ok);
  EXPECT_EQ(add_tag_value(file, "composer", "Someone\0", 8, kMovieTags), ErrorCode::Ok);
  ASSERT_EQ(media_close(file), ErrorCode::Ok);

  std::vector<ProbePacket> before, after;
  ASSERT_TRUE(probe_packets(in, &before, "", true, &error)) << error;
  ASSERT_TRUE(probe_packets(copy, &after, "", true, &error)) << error;
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(after[i].data_hash, before[i].data_hash);
    EXPECT_EQ(after[i].pts, before[i].pts);
  }
  std::vector<std::string> tags = probe_tags(copy);
  auto has = [&](const std::string& line) { return std::find(tags.begin(), tags.end(), line) != tags.end(); };
  EXPECT_TRUE(has("format.tags.title=\"Song\""));
  EXPECT_TRUE(has("format.tags.track=\"3/12\""));
  EXPECT_TRUE(has("format.tags.composer=\"Someone\""));
  EXPECT_FALSE(has("format.tags.album=\"Alb\""));
}

}  // namespace
}  // namespace vantorel
