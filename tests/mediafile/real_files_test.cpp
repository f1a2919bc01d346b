// Files made by ffmpeg, read sample by sample with the library and compared
// with ffprobe's packets and stream listing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/compare.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

struct RealCase {
  const char* name;
  const char* file;
  std::string args;
};

std::string chapters_file(const TempDir& dir) {
  std::string path = dir.path("chapters.txt");
  FILE* f = std::fopen(path.c_str(), "w");
  std::fputs(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n"
             "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Two\n",
             f);
  std::fclose(f);
  return path;
}

std::string subtitles_file(const TempDir& dir) {
  std::string path = dir.path("subs.srt");
  FILE* f = std::fopen(path.c_str(), "w");
  std::fputs("1\n00:00:00,000 --> 00:00:00,800\nHello\n\n2\n00:00:01,000 --> 00:00:01,500\nWorld\n\n", f);
  std::fclose(f);
  return path;
}

const char* kVideo = "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 ";
const char* kAudio = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 ";

TEST(RealFiles, EverySampleMatchesFfprobe) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::vector<RealCase> cases = {
      {"H.264 with B-frames and AAC", "avc.mp4",
       std::string(kVideo) + kAudio + "-c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p -c:a aac -ac 2"},
      {"MPEG-4 Visual and MP3", "mp4v.mp4", std::string(kVideo) + kAudio + "-c:v mpeg4 -c:a libmp3lame -ac 2"},
      {"Motion JPEG and big-endian PCM", "mjpeg.mov",
       std::string(kVideo) + kAudio + "-c:v mjpeg -pix_fmt yuvj420p -c:a pcm_s16be -ac 2"},
      {"AAC alone", "audio.m4a", std::string(kAudio) + "-c:a aac -ac 2"},
      {"timed text", "text.mp4",
       std::string(kVideo) + "-i " + subtitles_file(dir) + " -map 0 -map 1 -c:v libx264 -pix_fmt yuv420p -c:s mov_text"},
      {"chapters", "chapters.mp4",
       std::string(kVideo) + kAudio + "-i " + chapters_file(dir) +
           " -map 0:v -map 1:a -map_chapters 2 -c:v libx264 -pix_fmt yuv420p -c:a aac -ac 2"},
  };
  for (const RealCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    std::string path = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(path.empty()) << error;
    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(path, &tracks, &error)) << error;
    std::vector<ProbePacket> packets;
    std::vector<ProbeStream> streams;
    ASSERT_TRUE(probe_packets(path, &packets, "-ignore_editlist 1", true, &error)) << error;
    ASSERT_TRUE(probe_streams(path, &streams, "", &error)) << error;
    ASSERT_EQ(tracks.size(), streams.size());
    for (size_t i = 0; i < streams.size(); ++i) {
      const ProbeStream& s = streams[i];
      const LibraryTrack& t = tracks[i];
      SCOPED_TRACE("stream " + std::to_string(i) + " " + s.codec_name);
      std::vector<ProbePacket> theirs = packets_of(packets, s.index);
      if (theirs.empty()) {
        // ffmpeg's chapter text track is listed without packets.
        EXPECT_EQ(static_cast<int64_t>(t.sample_count), s.nb_frames);
        continue;
      }
      CompareOptions options;
      options.pcm = s.codec_tag == "twos";
      EXPECT_TRUE(packets_equal(t, theirs, options));
      if (s.codec_type == "video") {
        EXPECT_EQ(t.fourcc, s.codec_tag);
        EXPECT_EQ(t.width, static_cast<uint32_t>(s.width));
        EXPECT_EQ(t.height, static_cast<uint32_t>(s.height));
      } else if (s.codec_type == "audio") {
        EXPECT_EQ(t.fourcc, s.codec_tag);
        EXPECT_EQ(t.sample_rate, static_cast<uint32_t>(s.sample_rate));
        EXPECT_EQ(t.channel_count, static_cast<uint32_t>(s.channels));
      }
    }
  }
}

}  // namespace
}  // namespace vantorel
