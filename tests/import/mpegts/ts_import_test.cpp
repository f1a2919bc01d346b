// Transport streams made by ffmpeg, remuxed by the program: audio packet
// for packet as ffmpeg's own copy into MP4 holds them, pictures decoded
// equal, times on the stream's grid and tracks kept at their distance; the
// same content as TS and M2TS gives the same MP4; wraps, joined recordings
// and starts in mid-GOP.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/compare.h"
#include "support/decoded.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

int remux(const std::string& in, const std::string& out, std::string* said, const std::string& options = "") {
  return run_command("SOURCE_DATE_EPOCH=1000000000 " + std::string(VANTOREL_EXE) + " " + options + shell_quote(in) +
                         " " + shell_quote(out) + " 2>&1",
                     said);
}

// ffprobe's start time of each stream, in seconds, by stream index (a
// transport stream's streams are listed under their program too).
std::vector<double> start_times(const std::string& path) {
  std::string out;
  run_command("ffprobe -v error -show_entries stream=index,start_time -of csv=p=0 " + shell_quote(path), &out);
  std::vector<double> times;
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    const size_t comma = line.find(',');
    if (comma != std::string::npos) {
      const size_t index = static_cast<size_t>(std::atoi(line.c_str()));
      if (index == times.size()) times.push_back(std::atof(line.c_str() + comma + 1));
    }
    at = end + 1;
  }
  return times;
}

const std::string kNtsc = "-f lavfi -i testsrc2=size=160x120:rate=30000/1001:duration=2 ";
const std::string kPal = "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 ";
const std::string kTone = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 ";
const std::string kX264 = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p ";

struct Case {
  std::string name, file, args;
  uint32_t video_timescale, video_duration;  // 0: no video track
  uint32_t audio_duration;
  const char* decoder = "";  // the audio decoder both sides use; empty: ffmpeg's choice
};

TEST(TsImport, FfmpegStreamsCarriedPacketForPacket) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::vector<Case> cases = {
      {"H.264 with B-frames at 30000/1001 and AC-3", "ac3.ts",
       kNtsc + kTone + kX264 + "-x264-params bframes=2 -g 30 -c:a ac3 -f mpegts", 30000, 1001, 1536},
      // Whole frames a second count in a multiple of 1000: 25 fps in ms.
      {"H.264 at 25 and AAC in ADTS", "aac.ts", kPal + kTone + kX264 + "-g 12 -c:a aac -f mpegts", 1000, 40, 1024},
      {"H.264 and E-AC-3 as M2TS", "eac3.m2ts",
       kPal + kTone + kX264 + "-g 25 -c:a eac3 -mpegts_m2ts_mode 1 -f mpegts", 1000, 40, 1536},
      // ffmpeg reads MPEG-1 audio in MP4 as MP3 unless told.
      {"H.264 and MP2", "mp2.ts", kNtsc + kTone + kX264 + "-c:a mp2 -f mpegts", 30000, 1001, 1152, "mp2"},
      {"AAC alone", "alone.ts", kTone + "-c:a aac -f mpegts", 0, 0, 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error, said;
    const std::string in = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(in.empty()) << error;
    const std::string out = dir.path(c.file + ".mp4");
    ASSERT_EQ(remux(in, out, &said), 0) << said;
    // ffmpeg's own copy into MP4: the audio as MP4 holds it.
    const std::string copy = make_media(dir, c.file + ".copy.mp4", "-i " + shell_quote(in) + " -c copy", &error);
    ASSERT_FALSE(copy.empty()) << error;
    std::vector<ProbeStream> streams;
    std::vector<ProbePacket> ours, theirs;
    ASSERT_TRUE(probe_streams(out, &streams, "", &error)) << error;
    ASSERT_TRUE(probe_packets(out, &ours, "", true, &error)) << error;
    ASSERT_TRUE(probe_packets(copy, &theirs, "", true, &error)) << error;
    const int audio = c.video_timescale != 0 ? 1 : 0;
    ASSERT_EQ(streams.size(), static_cast<size_t>(audio + 1));
    CompareOptions relative;
    relative.relative = true;
    EXPECT_TRUE(probe_packets_equal(packets_of(theirs, audio), packets_of(ours, audio), relative));
    // Every sample lasts as long as its frame, as the tables say.
    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
    ASSERT_EQ(tracks.size(), static_cast<size_t>(audio + 1));
    for (const LibraryPacket& p : tracks[audio].packets) ASSERT_EQ(p.duration, c.audio_duration);
    if (c.video_timescale == 0) continue;
    EXPECT_EQ(tracks[0].timescale, c.video_timescale);
    for (const LibraryPacket& p : tracks[0].packets) ASSERT_EQ(p.duration, c.video_duration);
    const std::vector<ProbePacket> video = packets_of(ours, 0);
    const std::vector<ProbePacket> copied = packets_of(theirs, 0);
    ASSERT_EQ(video.size(), copied.size());
    for (size_t i = 0; i < video.size(); ++i) EXPECT_EQ(video[i].key, copied[i].key) << i;
    // Every picture decodes as the transport stream's does.
    std::vector<DecodedStream> a, b;
    ASSERT_TRUE(decode_streams(in, {"", c.decoder}, &a, &error)) << error;
    ASSERT_TRUE(decode_streams(out, {"", c.decoder}, &b, &error)) << error;
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(decoded_equal(a[i], b[i])) << i;
    EXPECT_EQ(probe_errors(out), "");
    // The audio starts as far from the video as it does in the input: the
    // edits hold it exactly; ffprobe gives it in the video's time scale.
    const std::vector<double> t_in = start_times(in), t_out = start_times(out);
    ASSERT_EQ(t_in.size(), 2u);
    ASSERT_EQ(t_out.size(), 2u);
    EXPECT_NEAR(t_out[1] - t_out[0], t_in[1] - t_in[0], 1.0 / c.video_timescale + 1.0 / 90000 + 1e-9);
  }
}

// The same content as TS and as M2TS, and moved across the 33-bit wrap,
// gives the same movie.
TEST(TsImport, M2tsAndWrappedTimesGiveTheSameMovie) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error, said;
  const std::string ts = make_media(dir, "in.ts", kNtsc + kTone + kX264 + "-x264-params bframes=2 -c:a ac3 -f mpegts",
                                    &error);
  ASSERT_FALSE(ts.empty()) << error;
  const std::string m2ts =
      make_media(dir, "in.m2ts", "-i " + shell_quote(ts) + " -c copy -mpegts_m2ts_mode 1 -f mpegts", &error);
  ASSERT_FALSE(m2ts.empty()) << error;
  // 95441 s is 2^33 ticks of 90 kHz less a fraction of a second: the times wrap early on.
  const std::string wrapped =
      make_media(dir, "wrapped.ts", "-i " + shell_quote(ts) + " -c copy -output_ts_offset 95443.5 -f mpegts", &error);
  ASSERT_FALSE(wrapped.empty()) << error;
  ASSERT_EQ(remux(ts, dir.path("ts.mp4"), &said), 0) << said;
  ASSERT_EQ(remux(m2ts, dir.path("m2ts.mp4"), &said), 0) << said;
  ASSERT_EQ(remux(wrapped, dir.path("wrapped.mp4"), &said), 0) << said;
  EXPECT_TRUE(read_whole_file(dir.path("ts.mp4")) == read_whole_file(dir.path("m2ts.mp4")));
  std::vector<ProbePacket> a, b;
  ASSERT_TRUE(probe_packets(dir.path("ts.mp4"), &a, "", true, &error)) << error;
  ASSERT_TRUE(probe_packets(dir.path("wrapped.mp4"), &b, "", true, &error)) << error;
  for (int stream = 0; stream < 2; ++stream)
    EXPECT_TRUE(probe_packets_equal(packets_of(a, stream), packets_of(b, stream), CompareOptions{})) << stream;
}

// Two recordings back to back: the second's times start again below the
// first's. The stretches are joined without changing a frame's duration.
TEST(TsImport, JoinedRecordingsFollowEachOther) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error, said;
  const std::string one = make_media(dir, "one.ts", kNtsc + kTone + kX264 + "-c:a ac3 -f mpegts", &error);
  ASSERT_FALSE(one.empty()) << error;
  const std::string joined = dir.path("joined.ts");
  ASSERT_EQ(run_command("cat " + shell_quote(one) + " " + shell_quote(one) + " > " + shell_quote(joined), nullptr), 0);
  const std::string out = dir.path("joined.mp4");
  ASSERT_EQ(remux(joined, out, &said), 0) << said;
  EXPECT_NE(said.find("timestamps jump back at byte"), std::string::npos) << said;
  std::vector<ProbePacket> once, twice;
  ASSERT_EQ(remux(one, dir.path("one.mp4"), &said), 0) << said;
  ASSERT_TRUE(probe_packets(dir.path("one.mp4"), &once, "", true, &error)) << error;
  ASSERT_TRUE(probe_packets(out, &twice, "", true, &error)) << error;
  const std::vector<ProbePacket> v1 = packets_of(once, 0), v2 = packets_of(twice, 0);
  const std::vector<ProbePacket> a1 = packets_of(once, 1), a2 = packets_of(twice, 1);
  std::vector<LibraryTrack> tracks;
  ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
  ASSERT_EQ(tracks.size(), 2u);
  // The first recording's last picture has no length and the packets' counters
  // jump where the second begins: packets that ended it may have been lost, so
  // it is dropped.
  ASSERT_EQ(v2.size(), 2 * v1.size() - 1);
  ASSERT_EQ(a2.size(), 2 * a1.size());
  for (const LibraryPacket& p : tracks[0].packets) ASSERT_EQ(p.duration, 1001);
  for (const LibraryPacket& p : tracks[1].packets) ASSERT_EQ(p.duration, 1536);
  // The second stretch starts where the first ends.
  const size_t second = v1.size() - 1;
  EXPECT_EQ(v2[second].dts, v2[second - 1].dts + 1001);
  EXPECT_EQ(v2[second].data_hash, v1[0].data_hash);
  EXPECT_EQ(a2[a1.size()].dts, a2[a1.size() - 1].dts + 1536);
  EXPECT_EQ(a2[a1.size()].data_hash, a1[0].data_hash);
}

// A file cut in mid-GOP: the video starts at its first sync sample, the
// audio keeps its first frame, and the video waits for it in an empty edit.
TEST(TsImport, AStartInMidGopBeginsAtASyncSample) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error, said;
  const std::string whole =
      make_media(dir, "whole.ts", kNtsc + kTone + kX264 + "-x264-params bframes=2 -g 30 -c:a ac3 -f mpegts", &error);
  ASSERT_FALSE(whole.empty()) << error;
  const std::string cut = dir.path("cut.ts");
  ASSERT_EQ(run_command("dd if=" + shell_quote(whole) + " of=" + shell_quote(cut) + " bs=188 skip=150 2>/dev/null",
                        nullptr),
            0);
  const std::string out = dir.path("cut.mp4");
  ASSERT_EQ(remux(cut, out, &said), 0) << said;
  std::vector<ProbePacket> packets;
  ASSERT_TRUE(probe_packets(out, &packets, "", true, &error)) << error;
  const std::vector<ProbePacket> video = packets_of(packets, 0);
  ASSERT_FALSE(video.empty());
  EXPECT_TRUE(video[0].key);
  std::string complaints;
  EXPECT_EQ(run_command("ffmpeg -v error -i " + shell_quote(out) + " -f null - 2>&1", &complaints), 0);
  EXPECT_EQ(complaints, "");
  const std::vector<double> times = start_times(out);
  ASSERT_EQ(times.size(), 2u);
  EXPECT_GT(times[0], times[1]);  // the video waits for its first sync sample
}

// The 'hvcC' payload of the first HEVC entry of an MP4: empty when none.
std::string hvcc_of(const std::string& mp4) {
  const std::vector<uint8_t> bytes = read_whole_file(mp4);
  const std::string d(bytes.begin(), bytes.end());
  const size_t at = d.find("hvcC");
  if (at == std::string::npos || at < 4) return "";
  const auto* p = reinterpret_cast<const uint8_t*>(d.data() + at - 4);
  const size_t size = size_t{p[0]} << 24 | size_t{p[1]} << 16 | size_t{p[2]} << 8 | p[3];
  return size >= 8 && at - 4 + size <= d.size() ? d.substr(at + 4, size - 8) : "";
}

// The record's fixed fields before numOfArrays, and each array's kind and
// sets (without array_completeness, which ffmpeg leaves at 0).
std::string hvcc_fields_and_sets(const std::string& p) {
  if (p.size() < 23) return "short";
  std::string out = p.substr(0, 22);
  size_t at = 23;
  for (int i = 0; i < static_cast<uint8_t>(p[22]) && at + 3 <= p.size(); ++i) {
    out += static_cast<char>(p[at] & 0x3F);
    const size_t count = size_t{static_cast<uint8_t>(p[at + 1])} << 8 | static_cast<uint8_t>(p[at + 2]);
    at += 3;
    for (size_t k = 0; k < count && at + 2 <= p.size(); ++k) {
      const size_t n = size_t{static_cast<uint8_t>(p[at])} << 8 | static_cast<uint8_t>(p[at + 1]);
      out += p.substr(at, 2 + n);
      at += 2 + n;
    }
  }
  return out;
}

// HEVC with open GOPs, whole and cut in mid-GOP: there the first picture a
// decoder can start at is a CRA picture whose RASL pictures reference what
// the cut took away; they are dropped, as a decoder drops them.
TEST(TsImport, HevcWithOpenGopsKeepsItsPicturesAndSyncSamples) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error, said;
  const std::string whole = make_media(
      dir, "whole.ts",
      kPal + "-c:v libx265 -preset ultrafast -x265-params keyint=12:min-keyint=12:open-gop=1:bframes=3:log-level=error "
             "-f mpegts",
      &error);
  ASSERT_FALSE(whole.empty()) << error;
  const std::string cut = dir.path("cut.ts");
  ASSERT_EQ(run_command("dd if=" + shell_quote(whole) + " of=" + shell_quote(cut) + " bs=188 skip=60 2>/dev/null",
                        nullptr),
            0);
  for (const std::string& in : {whole, cut}) {
    SCOPED_TRACE(in);
    const std::string out = in + ".mp4";
    ASSERT_EQ(remux(in, out, &said), 0) << said;
    std::vector<DecodedStream> a, b;
    ASSERT_TRUE(decode_streams(in, {}, &a, &error)) << error;
    ASSERT_TRUE(decode_streams(out, {}, &b, &error)) << error;
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    if (in == whole) {
      EXPECT_TRUE(decoded_equal(a[0], b[0]));
    } else {
      // ffmpeg also shows what it makes of the pictures before the first
      // it can start at; from there on the pictures are the same.
      ASSERT_LE(b[0].hashes.size(), a[0].hashes.size());
      const size_t skip = a[0].hashes.size() - b[0].hashes.size();
      EXPECT_TRUE(std::equal(b[0].hashes.begin(), b[0].hashes.end(), a[0].hashes.begin() + static_cast<std::ptrdiff_t>(skip)));
    }
    EXPECT_EQ(probe_errors(out), "");
    // Sync samples where ffprobe flags the input's keys: from the first
    // key on, less the pictures that lead it.
    std::vector<ProbePacket> input, ours;
    ASSERT_TRUE(probe_packets(in, &input, "", false, &error)) << error;
    ASSERT_TRUE(probe_packets(out, &ours, "", false, &error)) << error;
    std::vector<bool> expected;
    size_t i = 0;
    while (i < input.size() && !input[i].key) ++i;
    ASSERT_LT(i, input.size());
    const int64_t first_key_pts = input[i].pts;
    expected.push_back(true);
    for (++i; i < input.size() && input[i].pts < first_key_pts; ++i) {
    }
    for (; i < input.size(); ++i) expected.push_back(input[i].key);
    std::vector<bool> got;
    for (const ProbePacket& p : ours) got.push_back(p.key);
    EXPECT_EQ(got, expected);
    EXPECT_GT(std::count(got.begin(), got.end(), true), 2);
    // The 'hvcC' holds the stream's parameter sets and describes them as
    // ffmpeg's own copy into MP4 does.
    const std::string copy = make_media(dir, "copy.mp4", "-i " + shell_quote(in) + " -c copy", &error);
    ASSERT_FALSE(copy.empty()) << error;
    const std::string theirs = hvcc_of(copy), mine = hvcc_of(out);
    ASSERT_FALSE(mine.empty());
    EXPECT_EQ(static_cast<uint8_t>(mine[23]), 0xA0);  // complete VPS array first
    EXPECT_EQ(hvcc_fields_and_sets(mine), hvcc_fields_and_sets(theirs));
    if (in == whole) {
      EXPECT_EQ(said.find("warning"), std::string::npos) << said;
    }
  }
}

}  // namespace
}  // namespace vantorel
