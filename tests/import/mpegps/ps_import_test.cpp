// Program streams made by ffmpeg (MPEG-1 system streams and DVD VOBs with
// MPEG audio, AC-3, DTS and LPCM), remuxed by the program: pictures and sound
// decode as the program stream's do, video packets are ffmpeg's own copy's;
// damaged files are carried as far as they are whole.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/compare.h"
#include "support/decoded.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

int remux(const std::string& in, const std::string& out, std::string* said) { return remux_command(in, out, said, true); }

const std::string kPal = "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 ";
const std::string kTone = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 ";

void write_bytes(const std::string& path, const std::vector<uint8_t>& b) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

TEST(PsImport, FfmpegProgramStreamsDecodeEqual) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  struct Case {
    std::string name, file, args, out;
    const char* video_codec;  // ffprobe's name of the output's video; null: no video
    std::string audio_fourcc;
    uint32_t audio_channels;
    const char* decoder = "";  // the audio decoder both sides use
  };
  const std::vector<Case> cases = {
      {"MPEG-1 system stream, MPEG-1 video and MP2", "m1.mpg",
       kPal + kTone + "-c:v mpeg1video -bf 2 -g 12 -c:a mp2 -f mpeg", "m1.mp4", "mpeg1video", "mp4a", 1, "mp2"},
      {"VOB, MPEG-2 video and AC-3", "ac3.vob", kPal + kTone + "-c:v mpeg2video -bf 2 -g 12 -c:a ac3 -ac 2 -f vob",
       "ac3.mp4", "mpeg2video", "ac-3", 2},
      {"VOB, 16-bit LPCM", "pcm16.vob", kPal + kTone + "-c:v mpeg2video -bf 2 -g 12 -c:a pcm_dvd -ac 2 -f vob",
       "pcm16.mp4", "mpeg2video", "twos", 2},
      // 24-bit samples only a QuickTime movie holds.
      {"VOB, 24-bit LPCM 5.1 into a .mov", "pcm24.vob",
       kPal + kTone + "-c:v mpeg2video -g 12 -af aformat=sample_fmts=flt,volume=0.77 -c:a pcm_dvd -sample_fmt s32 -ac 6 -f vob",
       "pcm24.mov", "mpeg2video",
       "in24", 6},
      {"VOB, DTS", "dts.vob", kPal + kTone + "-c:v mpeg2video -g 12 -c:a dca -strict -2 -ac 2 -f vob", "dts.mp4",
       "mpeg2video", "dtsc", 2},
      {"MP2 alone", "alone.mpg", kTone + "-c:a mp2 -f mpeg", "alone.mp4", nullptr, "mp4a", 1, "mp2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error, said;
    const std::string in = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(in.empty()) << error;
    const std::string out = dir.path(c.out);
    ASSERT_EQ(remux(in, out, &said), 0) << said;
    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
    const size_t audio = c.video_codec != nullptr ? 1 : 0;
    ASSERT_EQ(tracks.size(), audio + 1);
    EXPECT_EQ(tracks[audio].fourcc, c.audio_fourcc);
    EXPECT_EQ(tracks[audio].channel_count, c.audio_channels);
    std::vector<DecodedStream> a, b;
    const std::vector<std::string> decoders =
        c.video_codec != nullptr ? std::vector<std::string>{"", c.decoder} : std::vector<std::string>{c.decoder};
    ASSERT_TRUE(decode_streams(in, decoders, &a, &error)) << error;
    ASSERT_TRUE(decode_streams(out, decoders, &b, &error)) << error;
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(decoded_equal(a[i], b[i])) << i;
    EXPECT_EQ(probe_errors(out), "");
    if (c.video_codec == nullptr) continue;
    std::vector<ProbeStream> streams;
    ASSERT_TRUE(probe_streams(out, &streams, "", &error)) << error;
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].codec_name, c.video_codec);
    EXPECT_EQ(streams[0].width, 160);
    // Each picture is the packet ffmpeg's parser splits off, with its key flag.
    std::vector<ProbePacket> ours, theirs;
    ASSERT_TRUE(probe_packets(out, &ours, "", true, &error)) << error;
    ASSERT_TRUE(probe_packets(in, &theirs, "", true, &error)) << error;
    const std::vector<ProbePacket> video = packets_of(ours, 0), copied = packets_of(theirs, 0);
    ASSERT_EQ(video.size(), copied.size());
    for (size_t i = 0; i < video.size(); ++i) {
      EXPECT_EQ(video[i].data_hash, copied[i].data_hash) << i;
      EXPECT_EQ(video[i].key, copied[i].key) << i;
    }
  }
}

// A 24-bit track has no place in an MP4: left out with a warning that
// names .mov, the video carried.
TEST(PsImport, TwentyFourBitLpcmInAnMp4IsLeftOutNamingMov) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error, said;
  const std::string in =
      make_media(dir, "in.vob", kPal + kTone + "-t 1 -c:v mpeg2video -c:a pcm_dvd -sample_fmt s32 -f vob", &error);
  ASSERT_FALSE(in.empty()) << error;
  ASSERT_EQ(remux(in, dir.path("out.mp4"), &said), 0) << said;
  EXPECT_NE(said.find(".mov"), std::string::npos) << said;
  std::vector<LibraryTrack> tracks;
  ASSERT_TRUE(read_with_library(dir.path("out.mp4"), &tracks, &error)) << error;
  ASSERT_EQ(tracks.size(), 1u);
  EXPECT_EQ(tracks[0].fourcc, "mp4v");
}

// Damage: a file cut inside a pack, a packet whose length runs into the
// next pack, garbage between packs. Each is carried as far as it is whole,
// says what it met, and decodes without errors.
TEST(PsImport, DamagedProgramStreamsAreCarriedAsFarAsTheyAreWhole) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  const std::string in =
      make_media(dir, "in.vob", kPal + kTone + "-c:v mpeg2video -bf 2 -g 12 -c:a ac3 -ac 2 -f vob", &error);
  ASSERT_FALSE(in.empty()) << error;
  const std::vector<uint8_t> whole = read_whole_file(in);
  ASSERT_GT(whole.size(), 40000u);
  // The first video packet past the middle.
  size_t packet = 0;
  for (size_t i = whole.size() / 2; i + 4 < whole.size() && packet == 0; ++i)
    if (whole[i] == 0 && whole[i + 1] == 0 && whole[i + 2] == 1 && whole[i + 3] == 0xE0) packet = i;
  ASSERT_NE(packet, 0u);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* note;
  };
  std::vector<Case> cases;
  cases.push_back({"cut inside a pack", std::vector<uint8_t>(whole.begin(), whole.begin() + packet + 700),
                   "the file ends inside the item at byte"});
  std::vector<uint8_t> overrun = whole;
  overrun[packet + 4] = 0x0F;  // its length now reaches well into the packs after it
  cases.push_back({"a packet past its pack", overrun, "runs past the start of the next pack"});
  std::vector<uint8_t> garbage = whole;
  garbage.insert(garbage.begin() + static_cast<std::ptrdiff_t>(packet), 3000, 0x5A);
  cases.push_back({"garbage between packs", garbage, "3000 bytes that are no program stream packs"});
  std::vector<DecodedStream> full;
  ASSERT_TRUE(decode_streams(in, {}, &full, &error)) << error;
  ASSERT_EQ(full.size(), 2u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.path(std::string(c.name) + ".vob"), out = dir.path(std::string(c.name) + ".mp4");
    write_bytes(path, c.bytes);
    std::string said;
    ASSERT_EQ(remux(path, out, &said), 0) << said;
    EXPECT_NE(said.find(c.note), std::string::npos) << said;
    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(probe_errors(out), "");
    std::vector<DecodedStream> got;
    ASSERT_TRUE(decode_streams(out, {}, &got, &error)) << error;
    ASSERT_EQ(got.size(), 2u);
    EXPECT_LT(got[0].hashes.size(), full[0].hashes.size() + 1);
    EXPECT_GT(got[0].hashes.size(), full[0].hashes.size() / 3);
  }
}

}  // namespace
}  // namespace vantorel
