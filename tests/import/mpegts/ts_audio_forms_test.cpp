// Blu-ray LPCM in M2TS files made by ffmpeg: the samples decode exactly as
// ffmpeg decodes the M2TS, in 32 bits and channel by channel, with the
// padding channel of odd counts gone and 5.1 in the MP4 order. DTS in
// transport streams as a core 'dtsc' track. TrueHD with its AC-3 core on
// one PID as two tracks. Opus without its control headers, trimmed as the
// same packets in an Ogg file are.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "codecs/eac3_frames.h"
#include "import/mpegts/ts_builder.h"
#include "sampletables/stsd_support.h"
#include "support/box_builder.h"
#include "support/compare.h"
#include "support/decoded.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
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

// The frames of an elementary stream as ffprobe splits them.
std::vector<ts::Bytes> frames_of(const std::string& path) {
  std::vector<ProbePacket> packets;
  std::vector<ts::Bytes> frames;
  if (!probe_packets(path, &packets, "", false)) return frames;
  const std::vector<uint8_t> bytes = read_whole_file(path);
  for (const ProbePacket& p : packets)
    if (p.pos >= 0 && static_cast<uint64_t>(p.pos) + p.size <= bytes.size())
      frames.emplace_back(bytes.begin() + p.pos, bytes.begin() + p.pos + static_cast<int64_t>(p.size));
  return frames;
}

// Blu-ray TrueHD: each AC-3 frame in a unit of its own, followed by a unit
// of the TrueHD access units of the same span (40 samples each), as discs
// interleave them on one PID.
TEST(TsTrueHd, TrueHdAndItsAc3CoreBecomeTwoTracks) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  struct Case {
    std::string name, layout;
    uint32_t channels;
  };
  const std::vector<Case> cases = {{"stereo", "stereo", 2}, {"5.1", "5.1", 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error, said;
    const std::string tone = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 -af \"pan=" + c.layout +
                             "|c0=0.5*c0|c1=0.3*c0" + (c.channels > 2 ? "|c2=0.2*c0|c3=0.1*c0|c4=0.4*c0|c5=0.6*c0" : "") +
                             "\" ";
    const std::string thd = make_media(dir, c.name + ".thd", tone + "-c:a truehd -strict -2 -f truehd", &error);
    ASSERT_FALSE(thd.empty()) << error;
    const std::string ac3 = make_media(dir, c.name + ".ac3", tone + "-c:a ac3 -f ac3", &error);
    ASSERT_FALSE(ac3.empty()) << error;
    const std::vector<ts::Bytes> units = frames_of(thd), cores = frames_of(ac3);
    ASSERT_GT(units.size(), 1000u);
    ASSERT_GT(cores.size(), 20u);
    constexpr uint16_t kPid = 0x1100;
    ts::Writer w;
    w.table(0, ts::pat({{1, 0x100}}));
    w.table(0x100, ts::pmt(1, kPid, {{0x83, kPid, {}}}, ts::registration("HDMV")));
    size_t next = 0;
    for (size_t i = 0; i < cores.size(); ++i) {
      ts::PesFields fields;
      fields.stream_id = 0xFD;
      fields.pts = 90000 + static_cast<int64_t>(i) * 2880;
      w.unit(kPid, ts::pes(fields, cores[i]));
      ts::Bytes run;
      fields.pts = 90000 + static_cast<int64_t>(next) * 75;
      for (; next < units.size() && next * 40 < (i + 1) * 1536; ++next)
        run.insert(run.end(), units[next].begin(), units[next].end());
      if (!run.empty()) w.unit(kPid, ts::pes(fields, run));
    }
    const ts::Bytes file = w.bytes(192);
    const std::string in = dir.path(c.name + ".m2ts"), out = dir.path(c.name + ".mp4");
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                              static_cast<std::streamsize>(file.size()));
    ASSERT_EQ(run_command(std::string(VANTOREL_EXE) + " " + shell_quote(in) + " " + shell_quote(out) + " 2>&1", &said), 0)
        << said;
    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].fourcc, "mlpa");
    EXPECT_EQ(tracks[0].channel_count, c.channels);
    EXPECT_EQ(tracks[0].sample_rate, 48000u);
    EXPECT_EQ(tracks[0].packets.size(), next);
    for (const LibraryPacket& p : tracks[0].packets) ASSERT_EQ(p.duration, 40);
    EXPECT_EQ(tracks[1].fourcc, "ac-3");  // its entry's channel count is 2 whatever 'dac3' says
    EXPECT_EQ(tracks[1].packets.size(), cores.size());
    // Each decodes as its elementary stream does.
    std::vector<DecodedStream> ours, truehd, core;
    ASSERT_TRUE(decode_streams(out, {}, &ours, &error)) << error;
    ASSERT_TRUE(decode_streams(thd, {}, &truehd, &error)) << error;
    ASSERT_TRUE(decode_streams(ac3, {}, &core, &error)) << error;
    ASSERT_EQ(ours.size(), 2u);
    EXPECT_TRUE(decoded_equal(truehd[0], ours[0]));
    EXPECT_TRUE(decoded_equal(core[0], ours[1]));
    EXPECT_EQ(probe_errors(out), "");
  }
}

// E-AC-3 7.1 as Blu-ray primary (0x84) and secondary (0xA1) audio and as
// DVB/ATSC's 0x87: each access unit (a 5.1 frame and the dependent frame
// that adds the back pair) one sample, 'dec3' naming the dependent.
TEST(TsEac3, DependentSubstreamsStayInTheSampleAndInDec3) {
  TempDir dir;
  const ts::Bytes five_one = eac3_frame(0, 0, 512, 7, 1);
  const ts::Bytes back_pair = eac3_frame(1, 0, 256, 6, 0, 1 << 12 | 1 << 11 | 1 << 9);  // Ls Rs Lrs/Rrs
  struct Case {
    std::string name;
    uint8_t stream_type;
    bool hdmv, dependent;
    ts::Bytes dec3;
  };
  const std::vector<Case> cases = {
      {"0x84 on a Blu-ray", 0x84, true, true, {0x0C, 0x00, 0x20, 0x0F, 0x02, 0x02}},
      {"0xA1 secondary audio", 0xA1, true, true, {0x0C, 0x00, 0x20, 0x0F, 0x02, 0x02}},
      {"0x87", 0x87, false, true, {0x0C, 0x00, 0x20, 0x0F, 0x02, 0x02}},
      {"5.1 alone", 0x84, true, false, {0x08, 0x00, 0x20, 0x0F, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ts::Writer w;
    w.table(0, ts::pat({{1, 0x100}}));
    w.table(0x100, ts::pmt(1, 0x1100, {{c.stream_type, 0x1100, {}}}, c.hdmv ? ts::registration("HDMV") : ts::Bytes{}));
    ts::Bytes unit = five_one;
    if (c.dependent) unit.insert(unit.end(), back_pair.begin(), back_pair.end());
    for (int k = 0; k < 6; ++k) {
      ts::PesFields fields;
      fields.stream_id = 0xFD;
      fields.pts = 90000 + k * 2880;
      w.unit(0x1100, ts::pes(fields, unit));
    }
    const ts::Bytes file = w.bytes(c.hdmv ? 192 : 188);
    const std::string in = dir.path("in.m2ts"), out = dir.path("out.mp4");
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                              static_cast<std::streamsize>(file.size()));
    std::string said, error;
    ASSERT_EQ(run_command(std::string(VANTOREL_EXE) + " --force " + shell_quote(in) + " " + shell_quote(out) + " 2>&1",
                          &said),
              0)
        << said;
    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0].fourcc, "ec-3");
    ASSERT_EQ(tracks[0].packets.size(), 6u);
    for (const LibraryPacket& p : tracks[0].packets) EXPECT_EQ(p.size, unit.size());
    EXPECT_EQ(first_box_payload(read_whole_file(out), "dec3"), c.dec3);
  }
}

// What ffmpeg decodes from the first audio stream, as 16-bit samples.
std::vector<uint8_t> decoded_samples(const TempDir& dir, const std::string& path) {
  const std::string raw = dir.path("decoded.raw");
  if (run_command("ffmpeg -v error -y -i " + shell_quote(path) + " -map 0:a:0 -f s16le " + shell_quote(raw), nullptr) != 0)
    return {};
  return read_whole_file(raw);
}

// The same encoder's packets in an Ogg file say the pre-skip and the end
// trim in their own way (OpusHead, granule positions): the MP4 plays what
// it plays.
TEST(TsOpus, OpusPlaysAsTheSamePacketsInOgg) {
  VT_REQUIRE_FFMPEG();
  if (run_command("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libopus", nullptr) != 0)
    GTEST_SKIP() << "ffmpeg has no libopus";
  TempDir dir;
  struct Case {
    std::string name, pan;
    uint32_t channels;
  };
  const std::vector<Case> cases = {
      {"stereo", "stereo|c0=0.5*c0|c1=0.3*c0", 2},
      {"5.1", "5.1|c0=0.5*c0|c1=0.3*c0|c2=0.2*c0|c3=0.1*c0|c4=0.4*c0|c5=0.6*c0", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error, said;
    const std::string tone =
        "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 -af \"pan=" + c.pan + "\" -c:a libopus ";
    const std::string in = make_media(dir, c.name + ".ts", tone + "-f mpegts", &error);
    ASSERT_FALSE(in.empty()) << error;
    const std::string ogg = make_media(dir, c.name + ".opus", tone + "-f opus", &error);
    ASSERT_FALSE(ogg.empty()) << error;
    const std::string out = dir.path(c.name + ".mp4");
    ASSERT_EQ(run_command(std::string(VANTOREL_EXE) + " " + shell_quote(in) + " " + shell_quote(out) + " 2>&1", &said), 0)
        << said;
    EXPECT_EQ(said.find("warning"), std::string::npos) << said;
    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0].fourcc, "Opus");
    EXPECT_EQ(tracks[0].channel_count, c.channels);
    // The packets are the Ogg file's, byte for byte.
    std::vector<ProbePacket> theirs;
    ASSERT_TRUE(probe_packets(ogg, &theirs, "", true, &error)) << error;
    ASSERT_EQ(tracks[0].packets.size(), theirs.size());
    for (size_t i = 0; i < theirs.size(); ++i) ASSERT_EQ("MD5:" + tracks[0].packets[i].md5, theirs[i].data_hash) << i;
    // Every 20 ms packet is decoded from 4 packets before (80 ms).
    const std::vector<uint8_t> bytes = read_whole_file(out);
    const std::string roll("sgpd\x01\0\0\0roll\0\0\0\x02\0\0\0\x01\xFF\xFC", 22);
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find(roll), std::string::npos);
    // The pre-skip is left out as in Ogg. This ffmpeg plays an MP4 on past
    // its edit's end, so the end trim shows as at most a packet more.
    const std::vector<uint8_t> expected = decoded_samples(dir, ogg), got = decoded_samples(dir, out);
    ASSERT_FALSE(expected.empty());
    ASSERT_GE(got.size(), expected.size());
    EXPECT_LE(got.size(), expected.size() + 960u * 2 * c.channels);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin()));
  }
}

// ffmpeg's packets of an audio-only stream under a PMT of the test's own,
// whose Opus descriptor holds `opus` after its extension tag.
ts::Bytes with_opus_descriptor(const ts::Bytes& file, const ts::Bytes& opus) {
  constexpr uint16_t kPmtPid = 0x1000, kAudioPid = 0x100;  // ffmpeg's
  ts::Writer w;
  w.table(0, ts::pat({{1, kPmtPid}}));
  ts::Bytes descriptors = ts::registration("Opus");
  const ts::Bytes extension = ts::descriptor(0x7F, cat({u8(0x80), opus}));
  descriptors.insert(descriptors.end(), extension.begin(), extension.end());
  w.table(kPmtPid, ts::pmt(1, kAudioPid, {{0x06, kAudioPid, descriptors}}));
  for (size_t k = 0; k + 188 <= file.size(); k += 188) {
    const uint16_t pid = static_cast<uint16_t>((file[k + 1] & 0x1F) << 8 | file[k + 2]);
    if (pid != 0 && pid != kPmtPid && pid != 0x11) w.raw_packet(ts::Bytes(file.begin() + k, file.begin() + k + 188));
  }
  return w.bytes();
}

// Channel configurations ffmpeg does not write, put into the PMT of its
// stereo stream: the 'dOps' each gives, and the audio decoded from the MP4
// that of the stereo stream (with its channels swapped where the mapping
// swaps them), and that ffmpeg decodes from the transport stream where it
// reads the code.
TEST(TsOpus, DualMonoAndExplicitConfigurationsMapTheSamePackets) {
  VT_REQUIRE_FFMPEG();
  if (run_command("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libopus", nullptr) != 0)
    GTEST_SKIP() << "ffmpeg has no libopus";
  TempDir dir;
  std::string error, said;
  const std::string source =
      make_media(dir, "stereo.ts",
                 "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 -af \"pan=stereo|c0=0.5*c0|c1=0.2*c0\" "
                 "-c:a libopus -f mpegts",
                 &error);
  ASSERT_FALSE(source.empty()) << error;
  const std::string reference = dir.path("stereo.mp4");
  ASSERT_EQ(remux_command(source, reference, &said, true), 0) << said;
  const ts::Bytes reference_dops = first_box_payload(read_whole_file(reference), "dOps");
  ASSERT_GE(reference_dops.size(), 11u);
  const std::vector<uint8_t> stereo = decoded_samples(dir, reference);
  ASSERT_FALSE(stereo.empty());
  const uint32_t pre_skip = static_cast<uint32_t>(reference_dops[2] << 8 | reference_dops[3]);
  struct Case {
    std::string name;
    ts::Bytes descriptor;  // after the extension tag
    const char* mapping;   // the 'dOps' from its family on
    bool swapped;
    bool ffmpeg_reads;
  };
  const std::vector<Case> cases = {
      {"dual mono", hex("00"), "ff 01 01 0001", false, true},
      {"explicit discrete pair", hex("81 02 ff 44"), "ff 01 01 0001", false, false},
      {"explicit pair swapped", hex("81 02 01 50"), "01 01 01 0100", true, false},
  };
  const ts::Bytes original = read_whole_file(source);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ts::Bytes file = with_opus_descriptor(original, c.descriptor);
    const std::string in = dir.path(c.name + ".ts"), out = dir.path(c.name + ".mp4");
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                              static_cast<std::streamsize>(file.size()));
    ASSERT_EQ(remux_command(in, out, &said, true), 0) << said;
    const ts::Bytes expected_dops =
        cat({hex("00 02"), ts::Bytes(reference_dops.begin() + 2, reference_dops.begin() + 4), hex("0000bb80 0000"),
             hex(c.mapping)});
    EXPECT_EQ(first_box_payload(read_whole_file(out), "dOps"), expected_dops);
    std::vector<uint8_t> want = stereo;
    if (c.swapped)
      for (size_t i = 0; i + 4 <= want.size(); i += 4) std::swap_ranges(want.begin() + i, want.begin() + i + 2, want.begin() + i + 2);
    const std::vector<uint8_t> got = decoded_samples(dir, out);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
    if (!c.ffmpeg_reads) continue;
    // ffmpeg plays the transport stream's pre-skip; the MP4 leaves it out.
    const std::vector<uint8_t> theirs = decoded_samples(dir, in);
    ASSERT_EQ(theirs.size(), got.size() + pre_skip * 4u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), theirs.begin() + pre_skip * 4u));
  }
}

}  // namespace
}  // namespace vantorel
