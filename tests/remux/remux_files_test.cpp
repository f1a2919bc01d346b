// The program run on real inputs made by ffmpeg: the output must be read by
// ffmpeg without complaint and carry every kept stream's packets unchanged.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/compare.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

// Writes an AMR storage file: its magic, then `frames` frames of `frame`.
std::string amr_file(const TempDir& dir, const std::string& name, const std::string& magic,
                     const std::vector<uint8_t>& frame, int frames) {
  std::string path = dir.path(name);
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(magic.data(), 1, magic.size(), f);
  for (int i = 0; i < frames; ++i) std::fwrite(frame.data(), 1, frame.size(), f);
  std::fclose(f);
  return path;
}

std::string subtitles(const TempDir& dir) {
  std::string path = dir.path("subs.srt");
  FILE* f = std::fopen(path.c_str(), "w");
  std::fputs("1\n00:00:00,000 --> 00:00:00,800\nHello\n\n2\n00:00:01,000 --> 00:00:01,500\nWorld\n\n", f);
  std::fclose(f);
  return path;
}

struct Case {
  std::string name;
  std::string file;
  std::string args;
  std::vector<int> carried;  // input streams the output carries, in order
};

TEST(RemuxFiles, OutputsCarryEveryKeptPacket) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string video = "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 ";
  const std::string audio = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 ";
  std::vector<uint8_t> amr_frame(32, 0);
  amr_frame[0] = 0x3C;
  std::string amr = amr_file(dir, "nb.amr", "#!AMR\n", amr_frame, 100);
  std::string amr_wb = amr_file(dir, "wb.amr", "#!AMR-WB\n", {0x7C}, 100);
  std::vector<Case> cases = {
      {"H.264 with B-frames and AAC", "avc.mp4",
       video + audio + "-c:v libx264 -bf 2 -pix_fmt yuv420p -c:a aac", {0, 1}},
      {"H.264 GOP 12 at 25 fps", "gop12.mp4", video + audio + "-c:v libx264 -g 12 -keyint_min 12 -sc_threshold 0 -pix_fmt yuv420p -c:a aac",
       {0, 1}},
      {"MPEG-4 Visual and MP3", "mp4v.mp4", video + audio + "-c:v mpeg4 -c:a libmp3lame", {0, 1}},
      // 'mp4v' also carries MPEG-2 video: its object type must survive.
      {"MPEG-2 video", "mpeg2.mp4", video + audio + "-c:v mpeg2video -c:a aac", {0, 1}},
      {"H.263 and AMR-NB", "amrnb.3gp",
       "-f lavfi -i testsrc=size=176x144:rate=15:duration=2 -i " + shell_quote(amr) + " -c:v h263 -c:a copy -shortest",
       {0, 1}},
      {"H.263 and AMR-WB without 'damr'", "amrwb.3gp",
       "-f lavfi -i testsrc=size=176x144:rate=15:duration=2 -i " + shell_quote(amr_wb) + " -c:v h263 -c:a copy -shortest",
       {0, 1}},
      {"Motion JPEG and big-endian PCM", "mjpeg.mov", video + audio + "-c:v mjpeg -pix_fmt yuvj420p -c:a pcm_s16be",
       {0, 1}},
      {"little-endian PCM", "sowt.mov", audio + "-c:a pcm_s16le", {0}},
      {"8-bit PCM", "raw.mov", audio + "-c:a pcm_u8", {0}},
      {"8-bit big-endian PCM", "twos8.mov", audio + "-c:a pcm_s8", {0}},
      {"AC-3", "ac3.mp4", video + audio + "-c:v libx264 -pix_fmt yuv420p -c:a ac3", {0, 1}},
      {"E-AC-3", "eac3.mp4", video + audio + "-c:v libx264 -pix_fmt yuv420p -c:a eac3", {0, 1}},
      {"audio only", "audio.m4a", audio + "-c:a aac", {0}},
      {"timed text", "text.mp4",
       video + "-i " + shell_quote(subtitles(dir)) + " -map 0 -map 1 -c:v libx264 -pix_fmt yuv420p -c:s mov_text",
       {0, 1}},
      {"audio starting after the video", "late.mp4",
       video + "-f lavfi -i sine=sample_rate=48000:duration=1 -filter_complex [1:a]adelay=700:all=1[a] -map 0:v -map [a] "
               "-c:v libx264 -pix_fmt yuv420p -c:a aac",
       {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    std::string in = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(in.empty()) << error;
    std::string out = dir.path("out-" + c.file + ".mp4");
    std::string said;
    ASSERT_EQ(remux_command(in, out, &said), 0) << said;
    // ffmpeg decodes the output without a word.
    std::string decoded;
    EXPECT_EQ(run_command("ffmpeg -nostdin -v error -i " + shell_quote(out) + " -f null - 2>&1", &decoded), 0);
    EXPECT_EQ(decoded, "");
    // The movie box fills the room measured for it: no 'free' filler, even
    // where every video sample is a sync sample and the sync table is dropped.
    EXPECT_EQ(top_level_types(out), std::vector<std::string>({"ftyp", "moov", "mdat"}));
    std::vector<ProbePacket> in_packets, out_packets;
    std::vector<ProbeStream> in_streams, out_streams;
    ASSERT_TRUE(probe_packets(in, &in_packets, "-ignore_editlist 1", true, &error)) << error;
    ASSERT_TRUE(probe_packets(out, &out_packets, "-ignore_editlist 1", true, &error)) << error;
    ASSERT_TRUE(probe_streams(in, &in_streams, "", &error)) << error;
    ASSERT_TRUE(probe_streams(out, &out_streams, "", &error)) << error;
    ASSERT_EQ(out_streams.size(), c.carried.size());
    for (size_t k = 0; k < c.carried.size(); ++k) {
      const ProbeStream& s = in_streams[static_cast<size_t>(c.carried[k])];
      SCOPED_TRACE("stream " + std::to_string(s.index) + " " + s.codec_name);
      EXPECT_EQ(out_streams[k].codec_name, s.codec_name);
      CompareOptions options;
      options.pcm = s.codec_tag == "twos" || s.codec_tag == "sowt" || s.codec_tag == "raw ";
      // The same samples decoded.
      std::string in_md5, out_md5;
      run_command("ffmpeg -nostdin -v error -i " + shell_quote(in) + " -map 0:" + std::to_string(s.index) + " -f md5 -",
                  &in_md5);
      run_command("ffmpeg -nostdin -v error -i " + shell_quote(out) + " -map 0:" + std::to_string(k) + " -f md5 -",
                  &out_md5);
      if (s.codec_type == "audio") {
        EXPECT_EQ(out_md5, in_md5);
      }
      EXPECT_TRUE(probe_packets_equal(packets_of(in_packets, s.index), packets_of(out_packets, static_cast<int>(k)),
                                      options));
    }
  }
}

}  // namespace
}  // namespace vantorel
