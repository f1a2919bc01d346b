// MPEG-2 video with MP2 audio from ffmpeg, with a DVB subtitle stream put
// into its program map by the test: video and audio carried packet for
// packet as ffmpeg's own copy into MP4, pictures decoded equal, the
// subtitles named in a warning; and the same stream in 204-byte packets
// giving the same MP4.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/hevc.h"
#include "codecs/nal_units.h"
#include "import/mpegts/ts_builder.h"
#include "support/compare.h"
#include "support/decoded.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

int remux(const std::string& in, const std::string& out, std::string* said) { return remux_command(in, out, said, true); }

void write_file(const std::string& path, const ts::Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f != nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
}

uint16_t pid_of(const uint8_t* packet) { return static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]); }

// ffmpeg's stream with its PMT (PID 0x1000) replaced by one that also
// lists DVB subtitles on PID 0x0102, and one subtitle unit after it.
ts::Bytes with_dvb_subtitles(const std::vector<uint8_t>& in) {
  const ts::Bytes subtitling = ts::descriptor(0x59, {'e', 'n', 'g', 0x10, 0x00, 0x01, 0x00, 0x01});
  const ts::Bytes table = ts::pmt(1, 0x100, {{0x02, 0x100, {}}, {0x03, 0x101, {}}, {0x06, 0x102, subtitling}});
  ts::Bytes out;
  uint8_t subtitle_cc = 0;
  for (size_t at = 0; at + 188 <= in.size(); at += 188) {
    const uint8_t* p = in.data() + at;
    if (pid_of(p) != 0x1000) {
      out.insert(out.end(), p, p + 188);
      continue;
    }
    ts::PacketFields pmt_packet;
    pmt_packet.pid = 0x1000;
    pmt_packet.unit_start = true;
    pmt_packet.cc = p[3] & 0x0F;
    pmt_packet.payload = ts::cat({{0}, table});
    const ts::Bytes b = ts::packet(pmt_packet);
    out.insert(out.end(), b.begin(), b.end());
    // A display segment set: data identifier 0x20, stream 0, one end-of-display segment.
    ts::PesFields pes;
    pes.stream_id = 0xBD;
    pes.pts = 126000;
    ts::PacketFields sub;
    sub.pid = 0x102;
    sub.unit_start = true;
    sub.cc = subtitle_cc++ & 0x0F;
    sub.payload = ts::pes(pes, {0x20, 0x00, 0x0F, 0x80, 0x00, 0x01, 0x00, 0x00, 0xFF});
    const ts::Bytes s = ts::packet(sub);
    out.insert(out.end(), s.begin(), s.end());
  }
  return out;
}

TEST(TsVideo, Mpeg2VideoAndMp2BesideDvbSubtitles) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error, said;
  const std::string made = make_media(dir, "made.ts",
                                      "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 "
                                      "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 "
                                      "-c:v mpeg2video -bf 2 -g 12 -c:a mp2 -f mpegts",
                                      &error);
  ASSERT_FALSE(made.empty()) << error;
  const std::string in = dir.path("in.ts");
  write_file(in, with_dvb_subtitles(read_whole_file(made)));
  const std::string out = dir.path("out.mp4");
  ASSERT_EQ(remux(in, out, &said), 0) << said;
  EXPECT_NE(said.find("DVB subtitles"), std::string::npos) << said;
  // ffmpeg's own copy of the video and audio into MP4.
  const std::string copy = make_media(dir, "copy.mp4", "-i " + shell_quote(in) + " -map 0:v -map 0:a -c copy", &error);
  ASSERT_FALSE(copy.empty()) << error;
  std::vector<ProbeStream> streams;
  ASSERT_TRUE(probe_streams(out, &streams, "", &error)) << error;
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].codec_name, "mpeg2video");
  EXPECT_EQ(streams[1].codec_tag, "mp4a");
  std::vector<ProbePacket> ours, theirs;
  ASSERT_TRUE(probe_packets(out, &ours, "", true, &error)) << error;
  ASSERT_TRUE(probe_packets(copy, &theirs, "", true, &error)) << error;
  CompareOptions relative;
  relative.relative = true;
  EXPECT_TRUE(probe_packets_equal(packets_of(theirs, 1), packets_of(ours, 1), relative));
  // The video's time scales differ: every picture's bytes and key flag.
  const std::vector<ProbePacket> v_ours = packets_of(ours, 0), v_theirs = packets_of(theirs, 0);
  ASSERT_EQ(v_ours.size(), v_theirs.size());
  for (size_t i = 0; i < v_ours.size(); ++i) {
    EXPECT_EQ(v_ours[i].data_hash, v_theirs[i].data_hash) << i;
    EXPECT_EQ(v_ours[i].key, v_theirs[i].key) << i;
  }
  std::vector<DecodedStream> a, b;
  ASSERT_TRUE(decode_streams(copy, {"", "mp2"}, &a, &error)) << error;
  ASSERT_TRUE(decode_streams(out, {"", "mp2"}, &b, &error)) << error;
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(decoded_equal(a[i], b[i])) << i;
  EXPECT_EQ(probe_errors(out), "");

  // The same packets of 204 bytes, 16 check bytes after each, make the same movie.
  const std::vector<uint8_t> packets = read_whole_file(in);
  ts::Bytes wide;
  for (size_t at = 0; at + 188 <= packets.size(); at += 188) {
    wide.insert(wide.end(), packets.begin() + static_cast<std::ptrdiff_t>(at),
                packets.begin() + static_cast<std::ptrdiff_t>(at + 188));
    for (uint8_t k = 0; k < 16; ++k) wide.push_back(static_cast<uint8_t>(0x5A ^ k ^ packets[at + 4 + k]));
  }
  const std::string in204 = dir.path("in204.ts");
  write_file(in204, wide);
  ASSERT_EQ(remux(in204, dir.path("out204.mp4"), &said), 0) << said;
  EXPECT_TRUE(read_whole_file(dir.path("out204.mp4")) == read_whole_file(out));
}

// The bytes of every box of a type in a file, in order (found by name: the
// types looked for do not occur in the sample data of these small files).
std::vector<std::string> boxes_named(const std::string& path, const char* type) {
  const std::vector<uint8_t> bytes = read_whole_file(path);
  const std::string d(bytes.begin(), bytes.end());
  std::vector<std::string> found;
  for (size_t at = d.find(type); at != std::string::npos && at >= 4; at = d.find(type, at + 4)) {
    const auto* p = reinterpret_cast<const uint8_t*>(d.data() + at - 4);
    const size_t size = size_t{p[0]} << 24 | size_t{p[1]} << 16 | size_t{p[2]} << 8 | p[3];
    if (size >= 8 && at - 4 + size <= d.size()) found.push_back(d.substr(at - 4, size));
  }
  return found;
}

// Periodic intra refresh: no IDR picture after the first, recovery points
// that take frames to recover. They become the same 'roll' groups as the
// AVI import makes of the same stream.
TEST(TsVideo, RecoveryPointsBecomeRollGroupsAsFromAvi) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error, said;
  const std::string ts = make_media(dir, "refresh.ts",
                                    "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -c:v libx264 -preset "
                                    "ultrafast -x264-params intra-refresh=1:keyint=10 -f mpegts",
                                    &error);
  ASSERT_FALSE(ts.empty()) << error;
  const std::string avi = make_media(dir, "refresh.avi", "-i " + shell_quote(ts) + " -c copy -f avi", &error);
  ASSERT_FALSE(avi.empty()) << error;
  ASSERT_EQ(remux(ts, dir.path("ts.mp4"), &said), 0) << said;
  ASSERT_EQ(remux(avi, dir.path("avi.mp4"), &said), 0) << said;
  const std::vector<std::string> groups = boxes_named(dir.path("ts.mp4"), "sgpd");
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].substr(12, 4), "roll");
  EXPECT_EQ(groups, boxes_named(dir.path("avi.mp4"), "sgpd"));
  EXPECT_EQ(boxes_named(dir.path("ts.mp4"), "sbgp"), boxes_named(dir.path("avi.mp4"), "sbgp"));
  EXPECT_EQ(boxes_named(dir.path("ts.mp4"), "sbgp").size(), 1u);
}

// A stream whose pictures change size: two H.264 streams of different
// sizes one after the other, so the second's sequence parameter set
// redefines the first's. Each size gets its own sample description, and
// the pictures decode as from the stream.
TEST(TsVideo, RedefinedParameterSetsStartADescription) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error, said;
  std::vector<uint8_t> joined;
  for (const char* size : {"160x120", "320x240"}) {
    const std::string part = make_media(dir, std::string(size) + ".h264",
                                        "-f lavfi -i testsrc2=size=" + std::string(size) +
                                            ":rate=25:duration=1 -pix_fmt yuv420p -c:v libx264 -preset ultrafast -f h264",
                                        &error);
    ASSERT_FALSE(part.empty()) << error;
    const std::vector<uint8_t> bytes = read_whole_file(part);
    joined.insert(joined.end(), bytes.begin(), bytes.end());
  }
  write_file(dir.path("joined.h264"), joined);
  const std::string ts = make_media(dir, "joined.ts", "-r 25 -i " + shell_quote(dir.path("joined.h264")) + " -c copy -f mpegts", &error);
  ASSERT_FALSE(ts.empty()) << error;
  ASSERT_EQ(remux(ts, dir.path("out.mp4"), &said), 0) << said;
  const std::vector<std::string> entries = boxes_named(dir.path("out.mp4"), "avc1");
  ASSERT_EQ(entries.size(), 2u);
  const char* const sizes[] = {"\x00\xa0\x00\x78", "\x01\x40\x00\xf0"};  // 160x120, 320x240
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(entries[i].substr(32, 4), std::string(sizes[i], 4)) << i;
  std::string from_ts, from_mp4;
  run_command("ffmpeg -v error -i " + shell_quote(ts) + " -f framemd5 - | grep -v '^#'", &from_ts);
  run_command("ffmpeg -v error -i " + shell_quote(dir.path("out.mp4")) + " -f framemd5 - | grep -v '^#'", &from_mp4);
  EXPECT_EQ(lines_of(from_mp4).size(), 50u);
  EXPECT_EQ(from_mp4, from_ts);
}

// AAC in LATM, as DVB broadcasts carry it (ffmpeg's mpegts 'latm' flag):
// the payloads become the samples and the StreamMuxConfig's
// AudioSpecificConfig the 'esds'; the audio decodes as from the stream.
TEST(TsVideo, LatmAudioDecodesAsFromTheStream) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  for (const char* layout : {"mono", "5.1"}) {
    SCOPED_TRACE(layout);
    std::string error, said;
    const std::string ts = make_media(dir, std::string("latm-") + layout + ".ts",
                                      "-f lavfi -i sine=sample_rate=48000:duration=1 -af aformat=channel_layouts=" +
                                          std::string(layout) + " -c:a aac -f mpegts -mpegts_flags latm",
                                      &error);
    ASSERT_FALSE(ts.empty()) << error;
    const std::string out = dir.path(std::string("latm-") + layout + ".mp4");
    ASSERT_EQ(remux(ts, out, &said), 0) << said;
    std::string codec, from_ts, from_mp4;
    run_command("ffprobe -v error -show_entries stream=codec_name,channels -of csv=p=0 " + shell_quote(out), &codec);
    EXPECT_EQ(codec, std::string("aac,") + (layout[0] == 'm' ? "1" : "6") + "\n");
    run_command("ffmpeg -v error -i " + shell_quote(ts) + " -f s16le - | md5sum", &from_ts);
    run_command("ffmpeg -v error -i " + shell_quote(out) + " -f s16le - | md5sum", &from_mp4);
    EXPECT_EQ(from_mp4, from_ts);
  }
}

// Two HEVC recordings joined, the second cut in the middle of an open
// GOP (a broadcast recording): after the jump back in time the pictures up
// to the first sync sample and that CRA picture's leading pictures are
// dropped, and the CRA is marked as the splice it is, so that the output
// decodes without an error.
TEST(TsVideo, HevcRecordingsJoinedDecodeWithoutErrors) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error, said;
  const std::string whole = make_media(dir, "whole.ts",
                                       "-f lavfi -i testsrc2=size=160x120:rate=25:duration=4 -c:v libx265 -x265-params "
                                       "log-level=none:keyint=25:open-gop=1:bframes=3 -f mpegts",
                                       &error);
  ASSERT_FALSE(whole.empty()) << error;
  const std::vector<uint8_t> bytes = read_whole_file(whole);
  ASSERT_GT(bytes.size(), 200u * 188);
  std::vector<uint8_t> joined = bytes;
  joined.insert(joined.end(), bytes.begin() + 200 * 188, bytes.end());
  write_file(dir.path("joined.ts"), joined);
  write_file(dir.path("tail.ts"), std::vector<uint8_t>(bytes.begin() + 200 * 188, bytes.end()));
  const std::string out = dir.path("joined.mp4");
  ASSERT_EQ(remux(dir.path("joined.ts"), out, &said), 0) << said;
  std::string errors;
  run_command("ffmpeg -v error -i " + shell_quote(out) + " -f null - 2>&1", &errors);
  EXPECT_EQ(errors, "");
  auto hashes = [](const std::string& path) {
    std::string text;
    run_command("ffmpeg -v error -i " + shell_quote(path) + " -f framemd5 - 2>/dev/null | grep -v '^#'", &text);
    std::vector<std::string> lines;
    for (const std::string& line : lines_of(text)) lines.push_back(line.substr(line.rfind(',') + 1));
    return lines;
  };
  const std::vector<std::string> first = hashes(whole), second = hashes(dir.path("tail.ts")), both = hashes(out);
  ASSERT_EQ(first.size(), 100u);
  ASSERT_GT(second.size(), 40u);
  ASSERT_GT(both.size(), 140u);
  // The first recording up to its last pictures, which the join cut (the
  // second's first packets continue them); the second's pictures from its
  // first sync sample on, as decoded from it alone.
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + 95, both.begin()));
  EXPECT_TRUE(std::equal(second.end() - 40, second.end(), both.end() - 40));
}

// HEVC with recovery point messages 10 pictures ahead on every tenth
// picture (put into an x265 stream by the test): those pictures are no sync
// samples but a 'roll' group of distance 10, as H.264's are.
TEST(TsVideo, HevcRecoveryPointsBecomeRollGroups) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error, said;
  const std::string coded = make_media(dir, "in.hevc",
                                       "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -c:v libx265 "
                                       "-x265-params log-level=none:keyint=100:bframes=0 -f hevc",
                                       &error);
  ASSERT_FALSE(coded.empty()) << error;
  const std::vector<uint8_t> in = read_whole_file(coded);
  // A prefix SEI: recovery_poc_cnt 10, exact match and broken link 0.
  const std::vector<uint8_t> sei = {0, 0, 0, 1, 0x4E, 0x01, 0x06, 0x02, 0x0A, 0x10, 0x80};
  std::vector<uint8_t> out;
  uint32_t code = 0, begin = 0, end = 0, pictures = 0;
  ASSERT_TRUE(annexb_first_start_code(in.data(), static_cast<uint32_t>(in.size()), &code));
  while (annexb_next_unit(in.data(), static_cast<uint32_t>(in.size()), &code, &begin, &end)) {
    if (hevc_is_slice(hevc_nal_type(in.data() + begin)) && pictures++ % 10 == 0 && pictures > 1)
      out.insert(out.end(), sei.begin(), sei.end());
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), in.begin() + begin, in.begin() + end);
  }
  ASSERT_EQ(pictures, 50u);
  write_file(dir.path("marked.hevc"), out);
  const std::string ts =
      make_media(dir, "marked.ts", "-r 25 -i " + shell_quote(dir.path("marked.hevc")) + " -c copy -f mpegts", &error);
  ASSERT_FALSE(ts.empty()) << error;
  ASSERT_EQ(remux(ts, dir.path("out.mp4"), &said), 0) << said;
  const std::vector<std::string> groups = boxes_named(dir.path("out.mp4"), "sgpd");
  ASSERT_EQ(groups.size(), 1u);
  // 'roll', one entry of distance 10.
  EXPECT_EQ(groups[0].substr(12, 4), "roll");
  EXPECT_EQ(groups[0].substr(groups[0].size() - 2), std::string("\x00\x0a", 2));
  // Pictures 10, 20, 30 and 40 in it.
  const std::vector<std::string> maps = boxes_named(dir.path("out.mp4"), "sbgp");
  ASSERT_EQ(maps.size(), 1u);
  EXPECT_EQ(maps[0].size(), 20u + 9 * 8);
}

}  // namespace
}  // namespace vantorel
