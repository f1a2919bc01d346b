// Blu-ray LPCM in M2TS files made by ffmpeg: the samples decode exactly as
// ffmpeg decodes the M2TS, in 32 bits and channel by channel, with the
// padding channel of odd counts gone and 5.1 in the MP4 order. DTS in
// transport streams as a core 'dtsc' track.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/compare.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

// The first audio stream decoded to interleaved 32-bit samples, hashed.
std::string decoded_audio(const std::string& path) {
  std::string out;
  if (run_command("ffmpeg -v error -i " + shell_quote(path) + " -map 0:a:0 -f s32le - | md5sum", &out) != 0) return "";
  return out;
}

TEST(TsLpcm, BlurayLpcmDecodesAsTheM2tsDoes) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  struct Case {
    std::string name, pan, format, out, fourcc;
    uint32_t channels;
  };
  // Each channel a different loudness, so that an order mixed up shows.
  const std::vector<Case> cases = {
      {"mono, padded to two", "mono|c0=0.5*c0", "s16", "mono.mp4", "twos", 1},
      {"stereo", "stereo|c0=0.2*c0|c1=0.4*c0", "s16", "stereo.mp4", "twos", 2},
      {"5.1 reordered", "5.1|c0=0.1*c0|c1=0.2*c0|c2=0.3*c0|c3=0.4*c0|c4=0.5*c0|c5=0.6*c0", "s16", "six.mp4", "twos", 6},
      {"5.0, padded to six", "5.0|c0=0.1*c0|c1=0.2*c0|c2=0.3*c0|c3=0.4*c0|c4=0.5*c0", "s16", "five.mp4", "twos", 5},
      {"24-bit 5.1 into a .mov", "5.1|c0=0.1*c0|c1=0.2*c0|c2=0.3*c0|c3=0.4*c0|c4=0.5*c0|c5=0.6*c0", "s32", "six24.mov",
       "in24", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error, said;
    const std::string in = make_media(dir, c.out + ".m2ts",
                                      "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 "
                                      "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 "
                                      "-c:v libx264 -preset ultrafast -af \"pan=" + c.pan + "\" -sample_fmt " + c.format +
                                          " -c:a pcm_bluray -mpegts_m2ts_mode 1 -f mpegts",
                                      &error);
    ASSERT_FALSE(in.empty()) << error;
    const std::string out = dir.path(c.out);
    ASSERT_EQ(run_command(std::string(VANTOREL_EXE) + " " + shell_quote(in) + " " + shell_quote(out) + " 2>&1", &said), 0)
        << said;
    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[1].fourcc, c.fourcc);
    EXPECT_EQ(tracks[1].channel_count, c.channels);
    const std::string expected = decoded_audio(in);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(decoded_audio(out), expected);
  }
}

// DTS cores: one sample per frame, lasting its samples, decoded as ffmpeg
// decodes the transport stream.
TEST(TsLpcm, DtsDecodesAsTheTransportStreamDoes) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  struct Case {
    std::string name, codec, out, fourcc;
    uint32_t channels, duration;
  };
  const std::vector<Case> cases = {
      {"DTS in TS", "-c:a dca -strict -2 -ac 2 -f mpegts", "dts.mp4", "dtsc", 2, 512},
      {"DTS in M2TS", "-c:a dca -strict -2 -ac 2 -mpegts_m2ts_mode 1 -f mpegts", "dts2.mp4", "dtsc", 2, 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error, said;
    const std::string in = make_media(dir, c.out + ".ts",
                                      "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 "
                                      "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 "
                                      "-c:v libx264 -preset ultrafast " + c.codec,
                                      &error);
    ASSERT_FALSE(in.empty()) << error;
    const std::string out = dir.path(c.out);
    ASSERT_EQ(run_command(std::string(VANTOREL_EXE) + " " + shell_quote(in) + " " + shell_quote(out) + " 2>&1", &said), 0)
        << said;
    EXPECT_EQ(said.find("warning"), std::string::npos) << said;
    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[1].fourcc, c.fourcc);
    EXPECT_EQ(tracks[1].channel_count, c.channels);
    EXPECT_GT(tracks[1].packets.size(), 20u);
    for (const LibraryPacket& p : tracks[1].packets) ASSERT_EQ(p.duration, c.duration);
    const std::string expected = decoded_audio(in);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(decoded_audio(out), expected);
  }
}

}  // namespace
}  // namespace vantorel
