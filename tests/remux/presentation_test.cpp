// What the remux must not change: when each packet is presented, how tracks
// are oriented and grouped, and the brands of movies without 'ftyp'.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/output_namer.h"
#include "app/run_state.h"
#include "mediafile/hand_made.h"
#include "mediafile/mediafile.h"
#include "remux/remux.h"
#include "support/compare.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

struct Presented {
  std::string hash;
  double pts;  // seconds, edit lists honoured
  bool discarded;
};

// ffprobe's packets with edit lists honoured, per stream, in decode order.
std::vector<std::vector<Presented>> presented(const std::string& path) {
  std::string text;
  run_command("ffprobe -v error -show_data_hash MD5 -show_entries packet=stream_index,pts_time,flags,data_hash "
              "-of compact=p=0:nk=0 " +
                  shell_quote(path),
              &text);
  std::vector<std::vector<Presented>> streams;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    std::map<std::string, std::string> f;
    size_t at = 0;
    while (at < line.size()) {
      size_t bar = line.find('|', at);
      if (bar == std::string::npos) bar = line.size();
      std::string kv = line.substr(at, bar - at);
      size_t eq = kv.find('=');
      if (eq != std::string::npos) f[kv.substr(0, eq)] = kv.substr(eq + 1);
      at = bar + 1;
    }
    if (!f.count("stream_index") || f["pts_time"] == "N/A") continue;
    size_t s = static_cast<size_t>(std::stoi(f["stream_index"]));
    if (streams.size() <= s) streams.resize(s + 1);
    streams[s].push_back({f["data_hash"], std::stod(f["pts_time"]), f["flags"].find('D') != std::string::npos});
  }
  return streams;
}

double start_time(const std::string& path, size_t stream) {
  std::string text;
  run_command("ffprobe -v error -show_entries stream=start_time -of csv=p=0 " + shell_quote(path), &text);
  std::vector<double> starts;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string v = text.substr(at, end - at);
    starts.push_back(v.empty() || v == "N/A" ? 0 : std::stod(v));
    at = end + 1;
  }
  return stream < starts.size() ? starts[stream] : -1;
}

// Every packet of an output part is presented at the time the input presents
// it, less one shift per part (0 for an unsplit output); discarded packets stay
// discarded. Packets are matched by their data, in order.
::testing::AssertionResult presented_alike(const std::vector<std::vector<Presented>>& input,
                                           const std::vector<std::vector<Presented>>& part, size_t reference_stream,
                                           double tolerance, double* shift_out) {
  std::vector<size_t> first(part.size(), 0);
  for (size_t s = 0; s < part.size(); ++s) {
    if (part[s].empty()) continue;
    size_t i = 0;
    while (i < input[s].size() && input[s][i].hash != part[s][0].hash) ++i;
    if (i == input[s].size()) return ::testing::AssertionFailure() << "stream " << s << ": first packet not in input";
    first[s] = i;
  }
  if (part[reference_stream].empty()) return ::testing::AssertionFailure() << "no reference packets";
  double shift = input[reference_stream][first[reference_stream]].pts - part[reference_stream][0].pts;
  for (size_t s = 0; s < part.size(); ++s) {
    for (size_t k = 0; k < part[s].size(); ++k) {
      const Presented& in = input[s][first[s] + k];
      const Presented& out = part[s][k];
      if (in.hash != out.hash) return ::testing::AssertionFailure() << "stream " << s << " packet " << k << ": data";
      if (std::fabs(in.pts - shift - out.pts) > tolerance)
        return ::testing::AssertionFailure() << "stream " << s << " packet " << k << ": presented at " << out.pts
                                             << ", input " << in.pts << " less " << shift;
      if (in.discarded != out.discarded)
        return ::testing::AssertionFailure() << "stream " << s << " packet " << k << ": discard flag";
    }
  }
  if (shift_out != nullptr) *shift_out = shift;
  return ::testing::AssertionSuccess();
}

int run_program(const std::string& in, const std::string& out, const std::string& options = "") {
  std::string said;
  int status = run_command(std::string(VANTOREL_EXE) + " " + options + " " + shell_quote(in) + " " + shell_quote(out) +
                               " >/dev/null 2>&1",
                           &said);
  return status;
}

struct Case {
  const char* name;
  const char* file;
  std::string args;
};

TEST(Presentation, EveryPacketIsPresentedWhenTheInputPresentsIt) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string video = "-f lavfi -i testsrc=size=96x64:rate=25:duration=3 ";
  const std::string audio = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 ";
  const Case cases[] = {
      {"H.264 with B-frames and AAC", "avc.mp4", video + audio + "-c:v libx264 -bf 2 -pix_fmt yuv420p -c:a aac"},
      {"negative composition offsets", "negcts.mp4",
       video + audio + "-c:v libx264 -bf 2 -pix_fmt yuv420p -c:a aac -movflags negative_cts_offsets"},
      {"MPEG-4 Visual with B-frames and MP3", "mp4v.mp4", video + audio + "-c:v mpeg4 -bf 1 -c:a libmp3lame"},
      {"QuickTime", "movie.mov", video + audio + "-c:v libx264 -bf 2 -pix_fmt yuv420p -c:a aac"},
      {"audio starting later", "late.mp4",
       video + "-f lavfi -i sine=sample_rate=48000:duration=2 -filter_complex [1:a]adelay=700:all=1[a] -map 0:v -map [a] "
               "-c:v libx264 -pix_fmt yuv420p -c:a aac"},
      {"fragmented", "frag.mp4",
       video + audio + "-c:v libx264 -bf 2 -g 25 -pix_fmt yuv420p -c:a aac -movflags frag_keyframe+empty_moov"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    std::string in = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(in.empty()) << error;
    std::string out = dir.path(std::string("out-") + c.file + ".mp4");
    ASSERT_EQ(run_program(in, out), 0);
    auto input = presented(in);
    auto output = presented(out);
    ASSERT_EQ(output.size(), input.size());
    double shift = 0;
    // One tick of a millisecond movie time scale.
    EXPECT_TRUE(presented_alike(input, output, 0, 0.0011, &shift));
    EXPECT_NEAR(shift, 0, 0.0011);
    for (size_t s = 0; s < input.size(); ++s) EXPECT_NEAR(start_time(out, s), start_time(in, s), 0.0011) << s;
    // Without edit lists the packets are the input's, except that a track
    // with negative composition offsets is presented later by the shift that
    // made them non-negative.
    std::vector<ProbePacket> raw_in, raw_out;
    ASSERT_TRUE(probe_packets(in, &raw_in, "-ignore_editlist 1"));
    ASSERT_TRUE(probe_packets(out, &raw_out, "-ignore_editlist 1"));
    for (int s = 0; s < static_cast<int>(input.size()); ++s) {
      SCOPED_TRACE(s);
      std::vector<ProbePacket> a = packets_of(raw_in, s), b = packets_of(raw_out, s);
      ASSERT_FALSE(a.empty());
      ASSERT_FALSE(b.empty());
      int64_t shift = b[0].pts - a[0].pts;
      if (std::string(c.file) == "negcts.mp4" && s == 0) {
        EXPECT_GT(shift, 0);  // the input really had negative offsets
      } else {
        EXPECT_EQ(shift, 0);
      }
      // ffprobe does not shift the input's decode times the same way: compare
      // presentation times and what else the packets carry.
      ASSERT_EQ(a.size(), b.size());
      for (size_t k = 0; k < a.size(); ++k) {
        EXPECT_EQ(a[k].size, b[k].size) << k;
        EXPECT_EQ(a[k].data_hash, b[k].data_hash) << k;
        EXPECT_EQ(a[k].key, b[k].key) << k;
        EXPECT_EQ(a[k].pts + shift, b[k].pts) << k;
        // ffprobe takes a fragment's first and last durations from elsewhere.
        if (std::string(c.file) != "frag.mp4") {
          EXPECT_EQ(a[k].duration, b[k].duration) << k;
        }
      }
    }
  }
}

TEST(Presentation, SplitPartsKeepTheirTracksApart) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string in = make_media(dir, "long.mp4",
                              "-f lavfi -i testsrc=size=32x32:rate=25:duration=20 -f lavfi -i sine=sample_rate=48000:"
                              "duration=20 -c:v libx264 -bf 2 -g 50 -keyint_min 50 -sc_threshold 0 -pix_fmt yuv420p "
                              "-c:a aac",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  app::RunState state{};
  std::string out = dir.path("part.mp4");
  app::run_state_init(&state, in.c_str(), out.c_str(), nullptr);
  // Milliseconds: a part's duration is its movie header's, and the audio of
  // the 8 s from 8 s on runs 21 ms past them; 8.1 s keeps the cuts at 8 s
  // and 16 s, where audio frames and pictures meet.
  uint64_t limit = 8100;
  RemuxOptions options{};
  options.split = SplitOptions{kSplitByDuration, &limit, 1, false};
  ASSERT_EQ(remux_run(in.c_str(), app::output_namer, nullptr, &options, nullptr, &state, nullptr), ErrorCode::Ok);
  app::run_state_release(&state);
  auto input = presented(in);
  for (const char* name : {"part.mp4", "part_1.mp4", "part_2.mp4"}) {
    SCOPED_TRACE(name);
    auto part = presented(dir.path(name));
    ASSERT_EQ(part.size(), 2u);
    double shift = 0;
    EXPECT_TRUE(presented_alike(input, part, 0, 0.0011, &shift));
    // Each part starts its own timeline: its earliest stream starts at 0.
    double earliest = std::min(start_time(dir.path(name), 0), start_time(dir.path(name), 1));
    EXPECT_NEAR(earliest, 0, 0.0011);
  }
}

// Byte offset of the n-th occurrence of a box type.
size_t find_box_at(const std::vector<uint8_t>& b, const char* type, int n) {
  for (size_t i = 4; i + 4 <= b.size(); ++i)
    if (b[i] == type[0] && b[i + 1] == type[1] && b[i + 2] == type[2] && b[i + 3] == type[3] && n-- == 0) return i - 4;
  return std::string::npos;
}

void write_bytes_to(const std::string& path, const std::vector<uint8_t>& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

TEST(Presentation, OrientationGroupsAndEnabledFlagsSurvive) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string made = make_media(dir, "two.mp4",
                                "-f lavfi -i testsrc=size=64x48:duration=1 -f lavfi -i sine=duration=1 -f lavfi -i "
                                "sine=frequency=300:duration=1 -map 0 -map 1 -map 2 -c:v libx264 -pix_fmt yuv420p "
                                "-c:a aac -disposition:a:0 default -disposition:a:1 0",
                                &error);
  ASSERT_FALSE(made.empty()) << error;
  std::string rotated = make_media(dir, "rotated.mp4", "-i " + shell_quote(made) + " -map 0 -c copy -metadata:s:v:0 rotate=90",
                                   &error);
  ASSERT_FALSE(rotated.empty()) << error;
  // Put both audio tracks into alternate group 1 (tkhd version 0: the group
  // is 34 bytes into the box's payload).
  std::vector<uint8_t> b = read_whole_file(rotated);
  for (int n : {1, 2}) {
    size_t tkhd = find_box_at(b, "tkhd", n);
    ASSERT_NE(tkhd, std::string::npos);
    ASSERT_EQ(b[tkhd + 8], 0);
    b[tkhd + 8 + 34] = 0;
    b[tkhd + 8 + 35] = 1;
  }
  write_bytes_to(rotated, b);
  std::string out = dir.path("out.mp4");
  ASSERT_EQ(run_program(rotated, out), 0);
  std::vector<uint8_t> o = read_whole_file(out);
  for (int n : {0, 1, 2}) {
    SCOPED_TRACE(n);
    size_t a = find_box_at(b, "tkhd", n);
    size_t z = find_box_at(o, "tkhd", n);
    ASSERT_NE(z, std::string::npos);
    // Flags, layer, alternate group, volume and matrix, width and height.
    EXPECT_EQ(o[z + 11], b[a + 11]);
    EXPECT_EQ(std::vector<uint8_t>(o.begin() + static_cast<long>(z) + 8 + 32, o.begin() + static_cast<long>(z) + 8 + 84),
              std::vector<uint8_t>(b.begin() + static_cast<long>(a) + 8 + 32, b.begin() + static_cast<long>(a) + 8 + 84));
  }
  std::string text;
  run_command("ffprobe -v error -show_entries stream_side_data=rotation -of csv=p=0 " + shell_quote(out), &text);
  EXPECT_NE(text.find("90"), std::string::npos) << text;
}

TEST(Presentation, AMovieWithoutFileTypeRemuxes) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string in = make_media(dir, "movie.mov",
                              "-f lavfi -i testsrc=size=64x48:duration=1 -f lavfi -i sine=duration=1 -c:v mjpeg "
                              "-pix_fmt yuvj420p -c:a pcm_s16be",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  std::vector<uint8_t> b = read_whole_file(in);
  ASSERT_EQ(std::string(b.begin() + 4, b.begin() + 8), "ftyp");
  b[4] = 'f';
  b[5] = 'r';
  b[6] = 'e';
  b[7] = 'e';  // no offset moves
  write_bytes_to(in, b);
  std::string out = dir.path("out.mp4");
  ASSERT_EQ(run_program(in, out), 0);
  std::vector<uint8_t> o = read_whole_file(out);
  // An MP4 output never takes QuickTime's brand: it gets the MP4 defaults.
  EXPECT_EQ(std::string(o.begin() + 4, o.begin() + 12), "ftypisom");
  std::vector<ProbePacket> in_packets, out_packets;
  ASSERT_TRUE(probe_packets(in, &in_packets, "-ignore_editlist 1"));
  ASSERT_TRUE(probe_packets(out, &out_packets, "-ignore_editlist 1"));
  EXPECT_TRUE(probe_packets_equal(packets_of(in_packets, 0), packets_of(out_packets, 0), CompareOptions{}));
  CompareOptions pcm;
  pcm.pcm = true;
  EXPECT_TRUE(probe_packets_equal(packets_of(in_packets, 1), packets_of(out_packets, 1), pcm));
}


// A start delay shorter than one tick of the track's time scale (7/600 s
// before 1/25 s frames) comes through whole, and so does one of several ticks.
TEST(Presentation, StartDelaysFinerThanTheTrackScaleSurvive) {
  TempDir dir;
  for (uint64_t delay : {uint64_t{7}, uint64_t{30}, uint64_t{601}}) {
    SCOPED_TRACE(delay);
    HandTrack video;
    video.timescale = 25;
    for (uint32_t i = 0; i < 5; ++i) video.sizes.push_back(100 + i);
    video.stts = {{5, 1}};
    video.edits = {{delay, -1}, {200, 0}};  // movie time scale 600
    const std::string in = dir.path("delayed.mp4"), out = dir.path("out.mp4");
    write_bytes_to(in, hand_made_file({video}));
    ASSERT_EQ(run_program(in, out, "--force"), 0);
    OpenParams params{};
    params.routines = std_routines();
    params.path = out.c_str();
    MediaFile* file = nullptr;
    ASSERT_EQ(media_open(&file, &params, kOpenRead), ErrorCode::Ok);
    MovieInfo movie{};
    TrackInfo track{};
    ASSERT_EQ(movie_info(file, &movie), ErrorCode::Ok);
    ASSERT_EQ(track_info(file, 1, &track), ErrorCode::Ok);
    media_close(file);
    ASSERT_GT(movie.timescale, 0u);
    EXPECT_NEAR(static_cast<double>(track.start_delay) / movie.timescale, delay / 600.0, 0.5 / movie.timescale);
  }
}

}  // namespace
}  // namespace vantorel
