// AVI files made by ffmpeg, remuxed by the program into MP4 files: every
// carried stream decodes to the same frames at the same times and to the
// same sound; streams the program cannot carry are named in a warning.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mediafile/media_file.h"
#include "sampletables/sample_groups.h"
#include "sampletables/stss.h"
#include "support/decoded.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

const std::string kPicture = "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 ";
const std::string kTone48 = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 ";
const std::string kTone44 = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 ";
const std::string kTone22 = "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=2 ";

// Decoders named after the input's codecs, so that both files are decoded
// by the same one (an MP4 file names MPEG audio of any layer "mp3").
std::vector<std::string> decoders_of(const std::vector<DecodedStream>& input) {
  std::vector<std::string> names;
  for (const DecodedStream& s : input) names.push_back(s.codec.rfind("pcm_", 0) == 0 ? std::string() : s.codec);
  return names;
}

struct Case {
  const char* name;
  const char* file;
  std::string args;
  std::vector<int> carried;     // input streams the output holds, in order
  const char* warning = "";     // what the program says about the others
  const char* output = "out.mp4";
};

void remux_and_compare(const Case& c) {
  SCOPED_TRACE(c.name);
  TempDir dir;
  std::string error;
  const std::string in = make_media(dir, c.file, c.args, &error);
  ASSERT_FALSE(in.empty()) << error;
  const std::string out = dir.path(c.output);
  RunResult run = run_program(dir, {in, out});
  ASSERT_EQ(run.status, 0) << run.err;
  if (*c.warning != '\0') {
    EXPECT_NE(run.err.find(c.warning), std::string::npos) << run.err;
  } else {
    EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
  }
  EXPECT_EQ(probe_errors(out), "");
  std::vector<DecodedStream> theirs, ours;
  ASSERT_TRUE(decode_streams(in, {}, &theirs, &error)) << error;
  std::vector<std::string> decoders;
  for (int k : c.carried) decoders.push_back(decoders_of(theirs)[static_cast<size_t>(k)]);
  ASSERT_TRUE(decode_streams(in, decoders_of(theirs), &theirs, &error)) << error;
  ASSERT_TRUE(decode_streams(out, decoders, &ours, &error)) << error;
  ASSERT_EQ(ours.size(), c.carried.size());
  for (size_t i = 0; i < c.carried.size(); ++i) {
    SCOPED_TRACE("stream " + std::to_string(c.carried[i]) + " " + theirs[static_cast<size_t>(c.carried[i])].codec);
    EXPECT_TRUE(decoded_equal(theirs[static_cast<size_t>(c.carried[i])], ours[i]));
  }
}

TEST(AviRemux, VideoAndSoundDecodeAsTheInputDoes) {
  VT_REQUIRE_FFMPEG();
  const Case cases[] = {
      {"Xvid and MP3", "xvid_mp3.avi", kPicture + kTone44 + "-c:v mpeg4 -vtag XVID -c:a libmp3lame -b:a 128k", {0, 1}},
      {"Xvid with B-frames and VBR MP3", "xvid_bf.avi",
       kPicture + kTone44 + "-c:v mpeg4 -vtag XVID -bf 2 -c:a libmp3lame -q:a 4", {0, 1}},
      {"DivX 5 and AAC", "dx50_aac.avi", kPicture + kTone48 + "-c:v mpeg4 -vtag DX50 -c:a aac", {0, 1}},
      {"Motion JPEG and 16-bit PCM", "mjpeg_pcm.avi",
       kPicture + kTone48 + "-c:v mjpeg -pix_fmt yuvj420p -c:a pcm_s16le", {0, 1}},
      {"MPEG-4 and MP2", "mp2.avi", kPicture + kTone48 + "-c:v mpeg4 -c:a mp2", {0, 1}},
      {"MP3 at an MPEG-2 rate", "mp3_22k.avi", kPicture + kTone22 + "-c:v mpeg4 -c:a libmp3lame", {0, 1}},
      {"MPEG-4 and AC-3", "ac3.avi", kPicture + kTone48 + "-c:v mpeg4 -c:a ac3", {0, 1}},
      {"a dropped frame", "dropped.avi",
       kPicture + "-vf select='not(eq(n\\,5))' -fps_mode passthrough -c:v mpeg4", {0}},
      {"24-bit PCM into an MP4", "pcm24.avi", kPicture + kTone48 + "-c:v mpeg4 -c:a pcm_s24le", {0},
       "track 2 (handler soun, format in24) is left out: its codec needs a QuickTime movie (an output named .mov"},
  };
  for (const Case& c : cases) remux_and_compare(c);
}

// PCM wider than 16 bits stays little-endian, in the entry form only a
// QuickTime movie has.
TEST(AviRemux, WidePcmGoesIntoAQuickTimeMovie) {
  VT_REQUIRE_FFMPEG();
  const Case cases[] = {
      {"24-bit", "pcm24.avi", kPicture + kTone48 + "-c:v mpeg4 -c:a pcm_s24le", {0, 1}, "", "out.mov"},
      {"32-bit", "pcm32.avi", kPicture + kTone48 + "-c:v mpeg4 -c:a pcm_s32le", {0, 1}, "", "out.mov"},
      {"32-bit float", "f32.avi", kPicture + kTone48 + "-c:v mpeg4 -c:a pcm_f32le", {0, 1}, "", "out.mov"},
      {"16-bit", "pcm16.avi", kPicture + kTone44 + "-c:v mpeg4 -c:a pcm_s16le -ac 2", {0, 1}, "", "out.mov"},
      {"8-bit", "pcm8.avi", kTone44 + "-c:a pcm_u8", {0}, "", "out.mp4"},
  };
  for (const Case& c : cases) remux_and_compare(c);
}

TEST(AviRemux, H264AccessUnitsBecomeLengthPrefixed) {
  VT_REQUIRE_FFMPEG();
  if (run_command("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libx264", nullptr) != 0)
    GTEST_SKIP() << "ffmpeg has no libx264 encoder";
  const Case cases[] = {
      {"H.264 with B-frames and AC-3", "h264_ac3.avi", kPicture + kTone48 + "-c:v libx264 -bf 3 -c:a ac3", {0, 1}},
      {"H.264 without B-frames", "h264.avi", kPicture + "-c:v libx264 -bf 0", {0}},
      {"H.264 with open groups of pictures", "h264_open.avi",
       kPicture + "-c:v libx264 -bf 2 -x264-params open_gop=1:keyint=10", {0}},
      {"H.264 High 4:4:4", "h264_444.avi", kPicture + "-c:v libx264 -pix_fmt yuv444p -bf 2", {0}},
  };
  for (const Case& c : cases) remux_and_compare(c);
}

// Recovery points that take frames to recover (periodic intra refresh) go
// into 'roll' groups, and are no sync samples.
TEST(AviRemux, H264RecoveryPointsBecomeRollGroups) {
  VT_REQUIRE_FFMPEG();
  if (run_command("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libx264", nullptr) != 0)
    GTEST_SKIP() << "ffmpeg has no libx264 encoder";
  const Case c{"H.264 with intra refresh", "refresh.avi", kPicture + "-c:v libx264 -bf 0 -x264-params intra-refresh=1:keyint=10", {0}};
  remux_and_compare(c);
  TempDir dir;
  std::string error;
  const std::string in = make_media(dir, c.file, c.args, &error);
  ASSERT_FALSE(in.empty()) << error;
  const std::string out = dir.path("out.mp4");
  ASSERT_EQ(run_program(dir, {in, out}).status, 0);
  OpenParams params{};
  params.routines = std_routines();
  params.path = out.c_str();
  MediaFile* file = nullptr;
  ASSERT_EQ(media_open(&file, &params, kOpenRead), ErrorCode::Ok);
  TrackBoxes* track = track_at(file->root, 0);
  SampleGroupsRecord* groups = sample_groups(track);
  ASSERT_NE(groups, nullptr);
  ASSERT_EQ(groups->groupings.count, 1u);
  const SampleGrouping& roll = groups->groupings[0];
  EXPECT_TRUE(FourCC::from_u32(roll.grouping_type) == "roll");
  ASSERT_EQ(groups->descriptions.count, 1u);
  uint32_t sample = 1, in_group = 0;
  for (const GroupRun& run : roll.runs) {
    for (uint32_t i = 0; i < run.sample_count; ++i, ++sample) {
      if (run.group_index == 0) continue;
      ++in_group;
      EXPECT_EQ(stss_sync_at_or_after(track, sample) == sample, false) << "sample " << sample;
    }
  }
  EXPECT_GT(in_group, 2u);
  media_close(file);
}

TEST(AviRemux, UnmappedVideoIsNamedInTheWarning) {
  VT_REQUIRE_FFMPEG();
  remux_and_compare({"MS MPEG-4 version 2 and AC-3", "mp42.avi", kPicture + kTone48 + "-c:v msmpeg4v2 -c:a ac3", {1},
                     "track 1 (handler vide, format MP42) is left out: its codec is not carried"});
}

}  // namespace
}  // namespace vantorel
