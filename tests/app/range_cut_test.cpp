// --range on a real source: 12 s at 30000/1001 with a key frame every 60
// frames and two B-frames, AAC at 48 kHz, a timed text cue over 2.5-3.5 s,
// chapters at 0, 2 and 5 s and a time code track from 01:00:00:00. What
// ffmpeg decodes from each cut is compared with what it decodes from the
// source.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "mediafile/media_file.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using test::run_command;
using test::shell_quote;

std::vector<std::string> frame_hashes(const std::string& path) {
  std::string out;
  run_command("ffmpeg -v error -i " + shell_quote(path) + " -map 0:v:0 -f framemd5 - 2>/dev/null", &out);
  std::vector<std::string> hashes;
  for (const std::string& line : test::lines_of(out)) {
    if (line.empty() || line[0] == '#') continue;
    hashes.push_back(line.substr(line.rfind(',') + 1));
  }
  return hashes;
}

// The first audio track decoded to mono 16-bit samples.
std::string decoded_audio(const std::string& path) {
  std::string out;
  run_command("ffmpeg -v error -i " + shell_quote(path) + " -map 0:a:0 -ac 1 -f s16le - 2>/dev/null", &out);
  return out;
}

std::string probe_value(const std::string& path, const std::string& entries) {
  std::string out;
  run_command("ffprobe -v error -show_entries " + entries + " -of csv=p=0 " + shell_quote(path), &out);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// The edits of the first track of `handler` kind in `path`, as the library reads them.
std::vector<ElstEntry> edits_of(const std::string& path, uint32_t kind, uint32_t* sample_count = nullptr) {
  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  std::vector<ElstEntry> edits;
  if (media_open(&file, &params, kOpenRead) != ErrorCode::Ok) return edits;
  for (uint32_t i = 0; i < track_count(file->root); ++i) {
    TrackBoxes* track = track_at(file->root, i);
    if (handler_kind_of(track) != kind) continue;
    if (auto* elst = track_record<ElstRecord>(track, BoxTypeId::Elst))
      for (const ElstEntry& e : elst->entries) edits.push_back(e);
    if (sample_count != nullptr) *sample_count = track_sample_count(track);
    break;
  }
  media_close(file);
  return edits;
}

class RangeCut : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::have_ffmpeg()) return;
    dir_ = new test::TempDir;
    const std::string cue = dir_->path("cue.srt"), chapters = dir_->path("chapters.txt");
    run_command("printf '1\\n00:00:02,500 --> 00:00:03,500\\nthe cue\\n\\n' > " + shell_quote(cue), nullptr);
    run_command("printf ';FFMETADATA1\\n[CHAPTER]\\nTIMEBASE=1/1000\\nSTART=0\\nEND=2000\\ntitle=one\\n[CHAPTER]\\n"
                "TIMEBASE=1/1000\\nSTART=2000\\nEND=5000\\ntitle=two\\n[CHAPTER]\\nTIMEBASE=1/1000\\nSTART=5000\\n"
                "END=12000\\ntitle=three\\n' > " + shell_quote(chapters), nullptr);
    std::string error;
    source_ = new std::string(test::make_media(
        *dir_, "src.mp4",
        "-f lavfi -i testsrc2=size=160x120:rate=30000/1001 -f lavfi -i sine=sample_rate=48000 -i " +
            shell_quote(cue) + " -i " + shell_quote(chapters) +
            " -map 0 -map 1 -map 2 -map_chapters 3 -t 12 -c:v libx264 -g 60 -bf 2 -c:a aac -c:s mov_text"
            " -timecode 01:00:00:00",
        &error));
    if (!source_->empty()) {
      source_frames_ = new std::vector<std::string>(frame_hashes(*source_));
      source_audio_ = new std::string(decoded_audio(*source_));
    }
  }
  static void TearDownTestSuite() {
    delete source_frames_;
    delete source_audio_;
    delete source_;
    delete dir_;
    source_frames_ = nullptr;
    source_audio_ = nullptr;
    source_ = nullptr;
    dir_ = nullptr;
  }
  void SetUp() override {
    VT_REQUIRE_FFMPEG();
    ASSERT_NE(source_, nullptr);
    ASSERT_FALSE(source_->empty());
    ASSERT_EQ(source_frames_->size(), 360u);
  }
  std::vector<std::string> source_frames(size_t from, size_t to) const {
    return {source_frames_->begin() + static_cast<std::ptrdiff_t>(from),
            source_frames_->begin() + static_cast<std::ptrdiff_t>(to)};
  }
  test::RunResult cut(const std::vector<std::string>& options, const std::string& out) {
    std::vector<std::string> args = options;
    args.push_back(*source_);
    args.push_back(out);
    return test::run_program(work_, args);
  }

  test::TempDir work_;
  static test::TempDir* dir_;
  static std::string* source_;
  static std::vector<std::string>* source_frames_;
  static std::string* source_audio_;
};
test::TempDir* RangeCut::dir_ = nullptr;
std::string* RangeCut::source_ = nullptr;
std::vector<std::string>* RangeCut::source_frames_ = nullptr;
std::string* RangeCut::source_audio_ = nullptr;

TEST_F(RangeCut, ThreeToSevenSecondsShowsExactlyThoseFrames) {
  const std::string out = work_.path("cut.mp4");
  test::RunResult r = cut({"--quiet", "--verify", "--range", "3.0-7.0"}, out);
  ASSERT_EQ(r.status, 0) << r.err;
  // Frames #90 to #209 (#89 is shown for its last 3 ms, which ffmpeg drops).
  EXPECT_EQ(frame_hashes(out), source_frames(90, 210));
  EXPECT_NEAR(std::atof(probe_value(out, "format=duration").c_str()), 4.0, 0.001);
  // 192,000 samples, equal to the source's from sample 144,000 (to the
  // last bit but for the decoder's rounding). ffmpeg 5.1 skips the hidden
  // lead-in but decodes the last frame whole, as it does the source's (576,512
  // samples for 576,000): up to one frame more.
  const std::string audio = decoded_audio(out);
  EXPECT_GE(audio.size() / 2, 192000u - 48);
  EXPECT_LT(audio.size() / 2, 192000u + 1024);
  ASSERT_GE(source_audio_->size(), 2 * (144000 + 192000u));
  const size_t compared = std::min<size_t>(audio.size() / 2, 192000u);
  size_t differing = 0;
  for (size_t i = 0; i < compared; ++i) {
    const auto a = static_cast<int16_t>(static_cast<uint8_t>(audio[2 * i]) | static_cast<uint8_t>(audio[2 * i + 1]) << 8);
    const size_t j = 2 * (144000 + i);
    const auto b = static_cast<int16_t>(static_cast<uint8_t>((*source_audio_)[j]) |
                                        static_cast<uint8_t>((*source_audio_)[j + 1]) << 8);
    if (std::abs(a - b) > 1) ++differing;
  }
  EXPECT_EQ(differing, 0u);

  // The video is stored from the sync sample before the first picture shown
  // through the last picture shown, in decode order (ffprobe's count).
  std::vector<test::ProbePacket> packets;
  ASSERT_TRUE(test::probe_packets(*source_, &packets, "", false));
  std::vector<test::ProbePacket> video = test::packets_of(packets, 0);
  size_t first = video.size(), last = 0;
  for (size_t i = 0; i < video.size(); ++i) {
    if (video[i].pts >= 210000 || video[i].pts + video[i].duration <= 90000) continue;
    first = std::min(first, i);
    last = i;
  }
  while (first > 0 && !video[first].key) --first;
  uint32_t stored = 0;
  const std::vector<ElstEntry> edits = edits_of(out, kHandlerVideo, &stored);
  EXPECT_EQ(stored, last - first + 1);
  ASSERT_EQ(edits.size(), 1u);
  EXPECT_EQ(edits[0].segment_duration, 120000u);  // 4 s in the video's own time scale

  // The cue over 0.0-0.5 s; chapters at 0 and 2 s; the time code of the first frame shown.
  std::vector<test::ProbePacket> out_packets;
  ASSERT_TRUE(test::probe_packets(out, &out_packets, "", false));
  bool cue_seen = false;
  for (const test::ProbePacket& p : out_packets) {
    if (p.codec_type != "subtitle" || p.size <= 2) continue;
    cue_seen = true;
    EXPECT_EQ(p.pts, 0);
    EXPECT_EQ(p.duration, 500000);  // 0.5 s in the track's time scale of 1/1000000
  }
  EXPECT_TRUE(cue_seen);
  EXPECT_EQ(probe_value(out, "chapter=start_time"), "0.000000\n2.000000");
  EXPECT_EQ(probe_value(out, "stream_tags=timecode").find("01:00:03:00"), 0u);
}

TEST_F(RangeCut, FramesAndKeyFrameStartsNeedNoLeadIn) {
  const std::string frames = work_.path("frames.mp4"), on_key = work_.path("key.mp4");
  test::RunResult r = cut({"--quiet", "--range", "f90-f210"}, frames);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(frame_hashes(frames), source_frames(90, 210));
  // 4.004 s is frame #120, a sync sample: nothing hidden before it.
  r = cut({"--quiet", "--range", "4.004-6.006"}, on_key);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(frame_hashes(on_key), source_frames(120, 180));
  const std::vector<ElstEntry> edits = edits_of(on_key, kHandlerVideo);
  ASSERT_EQ(edits.size(), 1u);
  EXPECT_EQ(edits[0].media_time, 2002);  // the B-frame delay only
}

TEST_F(RangeCut, KeyFrameModeStartsAtTheSyncSampleAndSaysSo) {
  const std::string out = work_.path("key.mp4");
  test::RunResult r = cut({"--range-mode", "keyframe", "--range", "3.0-7.0"}, out);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("starts at 2.002 s, the key frame before 3.000 s"), std::string::npos) << r.err;
  EXPECT_EQ(frame_hashes(out), source_frames(60, 210));
  EXPECT_EQ(probe_value(out, "stream_tags=timecode").find("01:00:02:00"), 0u);
}

TEST_F(RangeCut, EachRangeIsAnOutputNamedAsSplitPartsAre) {
  const std::string out = work_.path("two.mp4");
  test::RunResult r = cut({"--quiet", "--range", "1-2", "--range", "5-6"}, out);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(frame_hashes(out), source_frames(30, 60));
  EXPECT_EQ(frame_hashes(work_.path("two_1.mp4")), source_frames(150, 180));
  // An end past the input's end is cut there, with a warning.
  const std::string tail = work_.path("tail.mp4");
  r = cut({"--range", "10-20"}, tail);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("ends past the end"), std::string::npos) << r.err;
  EXPECT_EQ(frame_hashes(tail), source_frames(300, 360));
}

// The same pictures from other sources: the source in Matroska; the source
// with its text track turned into camera telemetry, which is cut to the
// span like every other track; a cut of the source, whose own edit starts
// 1.5 s into its media, cut again (the two edits composed).
TEST_F(RangeCut, OtherSourcesAreCutToTheSameSpan) {
  const std::string mkv = work_.path("src.mkv"), telemetry = work_.path("telemetry.mp4"),
                    composed = work_.path("composed.mp4");
  ASSERT_EQ(run_command("ffmpeg -v error -i " + shell_quote(*source_) + " -map 0:v -map 0:a -c copy " +
                            shell_quote(mkv) + " 2>/dev/null",
                        nullptr),
            0);
  std::string bytes = test::slurp(*source_);
  const size_t handler = bytes.find("sbtl"), entry = bytes.find("tx3g");
  ASSERT_NE(handler, std::string::npos);
  ASSERT_NE(entry, std::string::npos);
  bytes.replace(handler, 4, "meta");
  bytes.replace(entry, 4, "gpmd");
  {
    FILE* f = std::fopen(telemetry.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
  }
  test::RunResult r = cut({"--quiet", "--range", "1.5-11"}, composed);
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_FALSE(edits_of(composed, kHandlerVideo).empty());
  ASSERT_GT(edits_of(composed, kHandlerVideo)[0].media_time, 0);

  struct Case {
    const char* name;
    std::string input;
    const char* range;
    size_t first_frame, end_frame;
    double seconds;
  };
  const Case cases[] = {
      {"matroska", mkv, "3.0-7.0", 90, 210, 4.0},
      {"telemetry track", telemetry, "3.0-7.0", 90, 210, 4.0},
      // 1.5 + 2.504 s is frame #120, 1.5 + 4.506 s frame #180.
      {"own edit composed", composed, "2.504-4.506", 120, 180, 2.002},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = work_.path(std::string("other-") + c.name + ".mp4");
    r = test::run_program(work_, {"--quiet", "--verify", "--range", c.range, c.input, out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(frame_hashes(out), source_frames(c.first_frame, c.end_frame));
    // No track keeps the input's length: picture and sound last the span,
    // the telemetry (the cue's track, which ends at 3.5 s) at most that.
    std::vector<std::string> durations = test::lines_of(probe_value(out, "stream=codec_type,duration"));
    EXPECT_GE(durations.size(), 2u);
    for (const std::string& line : durations) {
      SCOPED_TRACE(line);
      const double seconds = std::atof(line.substr(line.find(',') + 1).c_str());
      EXPECT_LT(seconds, c.seconds + 0.05);
      EXPECT_GT(seconds, line.rfind("data", 0) == 0 ? 0.0 : c.seconds - 0.05);
    }
  }
}

TEST_F(RangeCut, RangesTheInputCannotGiveAreRefused) {
  struct Case {
    std::vector<std::string> options;
    const char* said;
  };
  const Case cases[] = {
      {{"--range", "12.5-13"}, "'12.5-13'"},
      {{"--range", "f360-"}, "'f360-'"},
      {{"--range", "7-3"}, "'7-3'"},
      {{"--range", "3-x"}, "'3-x'"},
      {{"--range", "1-2", "--split-duration", "1"}, "'1-2'"},
  };
  for (const Case& c : cases) {
    test::RunResult r = cut(c.options, work_.path("refused.mp4"));
    EXPECT_EQ(r.status, 2) << c.options[1];
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_TRUE(test::slurp(work_.path("refused.mp4")).empty());
  }
  std::vector<std::string> to_console = {"--range", "1-2", "--range", "3-4", *source_, "-"};
  EXPECT_EQ(test::run_program(work_, to_console).status, 2);
}

}  // namespace
}  // namespace vantorel
