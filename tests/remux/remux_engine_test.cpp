// The engine called directly: splitting, stopping, and the interleaving of
// audio ahead of video.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/output_namer.h"
#include "app/run_state.h"
#include "remux/remux.h"
#include "support/compare.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

struct EngineRun {
  app::RunState state{};
  std::string in, out;
  EngineRun(const std::string& input, const std::string& output) : in(input), out(output) {
    app::run_state_init(&state, in.c_str(), out.c_str(), nullptr);
  }
  ~EngineRun() { app::run_state_release(&state); }
  ErrorCode go(uint32_t mode, std::vector<uint64_t> limits, uint32_t per_file, ProgressCallback progress = nullptr) {
    RemuxOptions options{};
    options.split = SplitOptions{static_cast<SplitMode>(mode), limits.empty() ? nullptr : limits.data(),
                                 static_cast<uint32_t>(limits.size()), per_file != 0};
    RemuxEvents events{};
    events.progress = progress;
    return remux_run(in.c_str(), app::output_namer, nullptr, &options, &events, &state, nullptr);
  }
};

std::string long_input(const TempDir& dir, int seconds, int gop) {
  std::string error;
  std::string path = make_media(dir, "long.mp4",
                                "-f lavfi -i testsrc=size=32x32:rate=25:duration=" + std::to_string(seconds) +
                                    " -f lavfi -i sine=sample_rate=48000:duration=" + std::to_string(seconds) +
                                    " -c:v libx264 -preset ultrafast -g " + std::to_string(gop) + " -keyint_min " +
                                    std::to_string(gop) + " -sc_threshold 0 -pix_fmt yuv420p -c:a aac",
                                &error);
  EXPECT_FALSE(path.empty()) << error;
  return path;
}

double duration_of(const std::string& path, int stream) {
  std::vector<ProbePacket> packets;
  std::vector<ProbeStream> streams;
  probe_packets(path, &packets, "-ignore_editlist 1", false);
  probe_streams(path, &streams);
  std::vector<ProbePacket> mine = packets_of(packets, stream);
  if (mine.empty()) return 0;
  int64_t end = mine.back().dts + mine.back().duration;
  return static_cast<double>(end - mine.front().dts) * streams[static_cast<size_t>(stream)].time_base_num /
         streams[static_cast<size_t>(stream)].time_base_den;
}

TEST(RemuxEngine, SplitByDurationCutsAtSyncSamplesAndLosesNothing) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string in = long_input(dir, 150, 50);  // a sync sample every 2 s
  EngineRun run(in, dir.path("out.mp4"));
  ASSERT_EQ(run.go(kSplitByDuration, {60000}, 0), ErrorCode::Ok);
  std::vector<std::string> parts = {dir.path("out.mp4"), dir.path("out_1.mp4"), dir.path("out_2.mp4")};
  for (const std::string& p : parts) {
    SCOPED_TRACE(p);
    ASSERT_FALSE(read_whole_file(p).empty());
    EXPECT_LE(duration_of(p, 0), 60.0);
    std::vector<ProbePacket> packets;
    ASSERT_TRUE(probe_packets(p, &packets, "-ignore_editlist 1", false));
    ASSERT_FALSE(packets.empty());
    EXPECT_TRUE(packets_of(packets, 0).front().key);  // every part starts at a sync sample
  }
  EXPECT_TRUE(read_whole_file(dir.path("out_3.mp4")).empty());
  EXPECT_TRUE(split_parts_hold_input(in, parts, 2));
}

TEST(RemuxEngine, SplitBySizeWithPerFileLimits) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string in = long_input(dir, 20, 25);
  uint64_t size = read_whole_file(in).size();
  EngineRun run(in, dir.path("part.mp4"));
  // One limit for the first file only: the second takes all the rest.
  ASSERT_EQ(run.go(kSplitBySize, {size / 3}, 1), ErrorCode::Ok);
  uint64_t first = read_whole_file(dir.path("part.mp4")).size();
  uint64_t second = read_whole_file(dir.path("part_1.mp4")).size();
  EXPECT_LE(first, size / 3);
  EXPECT_GT(first, size / 6);
  EXPECT_GT(second, size / 2);
  EXPECT_TRUE(read_whole_file(dir.path("part_2.mp4")).empty());
}

uint32_t stop_at_once(uint32_t, void*) { return 0; }

TEST(RemuxEngine, AProgressCallbackThatStopsStillGivesAFinishedFile) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string in = long_input(dir, 4, 25);
  EngineRun run(in, dir.path("stopped.mp4"));
  ASSERT_EQ(run.go(kSplitNone, {}, 0, stop_at_once), ErrorCode::Ok);
  std::vector<ProbeStream> streams;
  std::string error;
  ASSERT_TRUE(probe_streams(dir.path("stopped.mp4"), &streams, "", &error)) << error;
  EXPECT_EQ(streams.size(), 2u);  // both tracks, without samples: the first sample is a cut point
  std::vector<ProbePacket> packets;
  ASSERT_TRUE(probe_packets(dir.path("stopped.mp4"), &packets, "", false));
  EXPECT_TRUE(packets.empty());
}

TEST(RemuxEngine, AudioOfABatchIsWrittenAheadOfItsVideo) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string in = long_input(dir, 3, 12);  // 25 fps, a sync sample every 12 frames
  EngineRun run(in, dir.path("order.mp4"));
  ASSERT_EQ(run.go(kSplitNone, {}, 0), ErrorCode::Ok);
  std::vector<ProbePacket> packets;
  ASSERT_TRUE(probe_packets(dir.path("order.mp4"), &packets, "-ignore_editlist 1", false));
  std::sort(packets.begin(), packets.end(), [](const ProbePacket& a, const ProbePacket& b) { return a.pos < b.pos; });
  // The first batch spans 12 frames (0.48 s): its audio (in two runs of a
  // quarter second) is written first, then its 12 video samples.
  size_t audio_in_batch = 0;
  for (const ProbePacket& p : packets)
    if (p.stream_index == 1 && p.dts < 48000 * 48 / 100) ++audio_in_batch;
  ASSERT_GT(audio_in_batch, 20u);
  for (size_t i = 0; i < audio_in_batch; ++i) EXPECT_EQ(packets[i].stream_index, 1) << i;
  for (size_t i = audio_in_batch; i < audio_in_batch + 12; ++i) EXPECT_EQ(packets[i].stream_index, 0) << i;
}

}  // namespace
}  // namespace vantorel

namespace vantorel {
namespace {

TEST(RemuxEngine, ALimitSmallerThanAGroupLeavesNoEmptyFile) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string in = long_input(dir, 3, 25);  // three groups of a second
  EngineRun run(in, dir.path("tiny.mp4"));
  ASSERT_EQ(run.go(kSplitBySize, {1000}, 0), ErrorCode::Ok);
  std::vector<std::string> parts = {dir.path("tiny.mp4"), dir.path("tiny_1.mp4"), dir.path("tiny_2.mp4")};
  for (const std::string& p : parts) {
    SCOPED_TRACE(p);
    std::vector<ProbePacket> packets;
    ASSERT_TRUE(probe_packets(p, &packets, "-ignore_editlist 1", false));
    EXPECT_FALSE(packets_of(packets, 0).empty());
  }
  EXPECT_TRUE(read_whole_file(dir.path("tiny_3.mp4")).empty());
  EXPECT_TRUE(split_parts_hold_input(in, parts, 1));
}

}  // namespace
}  // namespace vantorel
