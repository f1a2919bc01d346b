// Program map tables that change while the stream runs: a stream a new
// version adds becomes a track that starts later, one it drops ends its
// track there, and a version that changes nothing else changes nothing.
// The inputs are ffmpeg's packets with their tables replaced.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "import/mpegts/ts_builder.h"
#include "support/compare.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;
using ts::Bytes;

constexpr uint16_t kPmtPid = 0x1000;  // ffmpeg's
constexpr uint16_t kVideoPid = 0x100;
constexpr uint16_t kAudioPid = 0x101;

uint16_t pid_of(const uint8_t* p) { return static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]); }
bool unit_start(const uint8_t* p) { return (p[1] & 0x40) != 0; }
uint32_t payload_at(const uint8_t* p) { return (p[3] & 0x20) != 0 ? 5u + p[4] : 4u; }

// The PTS of a packet that starts a PES packet with one; -1 otherwise.
int64_t pes_pts(const uint8_t* p) {
  const uint32_t at = payload_at(p);
  if (!unit_start(p) || at + 14 > 188 || (p[at + 7] & 0x80) == 0) return -1;
  const uint8_t* t = p + at + 9;
  return (int64_t{t[0] >> 1 & 7} << 30) | (int64_t{t[1]} << 22) | (int64_t{t[2] >> 1} << 15) | (int64_t{t[3]} << 7) |
         (t[4] >> 1);
}

// The stream entries of ffmpeg's PMT (one section in one packet).
std::vector<ts::EsEntry> pmt_entries(const Bytes& file) {
  std::vector<ts::EsEntry> out;
  for (size_t k = 0; k + 188 <= file.size(); k += 188) {
    const uint8_t* p = file.data() + k;
    if (pid_of(p) != kPmtPid || !unit_start(p)) continue;
    const uint8_t* s = p + payload_at(p) + 1 + p[payload_at(p)];
    const uint32_t length = (s[1] & 0x0F) << 8 | s[2];
    const uint32_t info = (s[10] & 0x0F) << 8 | s[11];
    for (uint32_t at = 12 + info; at + 5 <= 3 + length - 4;) {
      const uint32_t es_info = (s[at + 3] & 0x0F) << 8 | s[at + 4];
      out.push_back({s[at], static_cast<uint16_t>((s[at + 1] & 0x1F) << 8 | s[at + 2]),
                     Bytes(s + at + 5, s + at + 5 + es_info)});
      at += 5 + es_info;
    }
    break;
  }
  return out;
}

struct Rewritten {
  Bytes file;
  int64_t change_pts = -1;  // the first audio unit after the second PMT
};

// ffmpeg's packets without its tables: `first` lists the streams at the
// start, `second` (as version `version`) from the first audio unit whose
// PTS is at least `after` past the first audio unit's.
Rewritten rewrite(const Bytes& file, const std::vector<ts::EsEntry>& all, const std::vector<uint16_t>& first,
                  const std::vector<uint16_t>& second, uint8_t version, int64_t after) {
  auto listing = [&](const std::vector<uint16_t>& pids) {
    std::vector<ts::EsEntry> out;
    for (const ts::EsEntry& e : all)
      for (uint16_t pid : pids)
        if (e.pid == pid) out.push_back(e);
    return out;
  };
  ts::Writer w;
  w.table(0, ts::pat({{1, kPmtPid}}));
  w.table(kPmtPid, ts::pmt(1, kVideoPid, listing(first)));
  Rewritten r;
  int64_t first_audio = -1;
  for (size_t k = 0; k + 188 <= file.size(); k += 188) {
    const uint8_t* p = file.data() + k;
    const uint16_t pid = pid_of(p);
    if (pid == 0 || pid == kPmtPid || pid == 0x11) continue;  // the tables, and ffmpeg's service description
    const int64_t pts = pid == kAudioPid ? pes_pts(p) : -1;
    if (pts >= 0 && first_audio < 0) first_audio = pts;
    if (pts >= 0 && r.change_pts < 0 && pts - first_audio >= after) {
      r.change_pts = pts;
      w.table(0, ts::pat({{1, kPmtPid}}));
      w.table(kPmtPid, ts::pmt(1, kVideoPid, listing(second), {}, version));
    }
    w.raw_packet(Bytes(p, p + 188));
  }
  r.file = w.bytes();
  return r;
}

std::string write_file(const TempDir& dir, const std::string& name, const Bytes& bytes) {
  const std::string path = dir.path(name);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  return path;
}

int remux(const std::string& in, const std::string& out, std::string* said) { return remux_command(in, out, said, true); }

double start_of(const std::string& path, int stream) {
  std::string out;
  run_command("ffprobe -v error -select_streams " + std::to_string(stream) +
                  " -show_entries stream=start_time -of csv=p=0 " + shell_quote(path),
              &out);
  return std::atof(out.c_str());
}

TEST(TsPmtChanges, StreamsAddedAndDroppedStartAndEndTheirTracks) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error, said;
  const std::string source = make_media(dir, "source.ts",
                                        "-f lavfi -i testsrc2=size=160x120:rate=25:duration=3 "
                                        "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 "
                                        "-c:v libx264 -preset ultrafast -g 25 -c:a ac3 -f mpegts",
                                        &error);
  ASSERT_FALSE(source.empty()) << error;
  const Bytes original = read_whole_file(source);
  const std::vector<ts::EsEntry> entries = pmt_entries(original);
  ASSERT_EQ(entries.size(), 2u);
  ASSERT_EQ(entries[1].pid, kAudioPid);
  std::vector<ProbePacket> packets;
  ASSERT_TRUE(probe_packets(source, &packets, "", true, &error)) << error;
  const std::vector<ProbePacket> video = packets_of(packets, 0), audio = packets_of(packets, 1);
  ASSERT_FALSE(video.empty());
  ASSERT_FALSE(audio.empty());
  int64_t video_start = video[0].pts;
  for (const ProbePacket& p : video) video_start = std::min(video_start, p.pts);

  // Where a version only repeats the streams, the movie is that of the
  // file without a change, byte for byte.
  const std::string plain_out = dir.path("plain.mp4");
  const std::string plain =
      write_file(dir, "plain.ts", rewrite(original, entries, {kVideoPid, kAudioPid}, {kVideoPid, kAudioPid}, 0, 90000).file);
  ASSERT_EQ(remux(plain, plain_out, &said), 0) << said;

  struct Case {
    std::string name;
    std::vector<uint16_t> first, second;
    uint8_t version;
    bool audio_from_change;  // else: audio up to the change; the same as `plain` when both list it
  };
  const std::vector<Case> cases = {
      {"a version that changes nothing else", {kVideoPid, kAudioPid}, {kVideoPid, kAudioPid}, 1, false},
      {"audio added", {kVideoPid}, {kVideoPid, kAudioPid}, 3, true},
      {"audio dropped", {kVideoPid, kAudioPid}, {kVideoPid}, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Rewritten r = rewrite(original, entries, c.first, c.second, c.version, 90000);
    ASSERT_GT(r.change_pts, 0);
    const std::string in = write_file(dir, "in" + std::to_string(c.version) + ".ts", r.file);
    const std::string out = dir.path("out" + std::to_string(c.version) + ".mp4");
    ASSERT_EQ(remux(in, out, &said), 0) << said;
    if (c.second == c.first) {
      EXPECT_EQ(read_whole_file(out), read_whole_file(plain_out));
      continue;
    }
    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].sample_count, video.size());
    // The audio frames of the units on the right side of the change, and no other.
    std::vector<std::string> expected;
    for (const ProbePacket& p : audio)
      if ((p.pts >= r.change_pts) == c.audio_from_change) expected.push_back(p.data_hash);
    ASSERT_EQ(tracks[1].packets.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ("MD5:" + tracks[1].packets[i].md5, expected[i]) << i;
    // An added stream starts as far after the pictures as it came.
    const double gap = start_of(out, 1) - start_of(out, 0);
    const double want = c.audio_from_change ? static_cast<double>(r.change_pts - video_start) / 90000 : start_of(plain_out, 1) - start_of(plain_out, 0);
    EXPECT_NEAR(gap, want, 0.002);
  }
}

}  // namespace
}  // namespace vantorel
