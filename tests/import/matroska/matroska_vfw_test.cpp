// Video for Windows tracks in Matroska (V_MS/VFW/FOURCC, as mkvmerge writes
// an AVI's video) are carried as the AVI import carries the same stream; and
// what the import says of the tracks it cuts or leaves out reaches the
// remux's warnings.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "import/matroska/matroska_builder.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;
using namespace test::mkv;

bool have_mkvmerge() {
  static const bool found = run_command("mkvmerge --version >/dev/null 2>&1", nullptr) == 0;
  return found;
}

std::string command_output(const std::string& command) {
  std::string out;
  run_command(command, &out);
  return out;
}

// Every video packet: times in seconds (the time scales may differ), size,
// flags and the MD5 of its bytes.
std::string video_packets(const std::string& path) {
  return command_output("ffprobe -v error -select_streams v -show_data_hash MD5 -show_entries "
                        "packet=pts_time,dts_time,size,flags,data_hash -of csv=p=0 " + shell_quote(path));
}

// The MD5 of every decoded picture, in order, without its time.
std::string decoded_pictures(const std::string& path) {
  const std::string text = command_output("ffmpeg -v error -i " + shell_quote(path) + " -map 0:v -f framemd5 -");
  std::string hashes;
  for (const std::string& line : lines_of(text))
    if (!line.empty() && line[0] != '#') hashes += line.substr(line.rfind(',') + 1) + "\n";
  return hashes;
}

// mkvmerge keeps an AVI's MPEG-4 Visual and Motion JPEG video (and H.264
// when told to) as V_MS/VFW/FOURCC: the remux carries each as it carries
// the AVI, packet for packet, and every picture decodes the same.
TEST(MatroskaVfw, CarriedAsFromTheAvi) {
  VT_REQUIRE_FFMPEG();
  if (!have_mkvmerge()) GTEST_SKIP() << "mkvmerge absent";
  TempDir dir;
  const struct {
    const char* name;
    const char* encode;
    const char* mkvmerge;
    const char* entry;
  } cases[] = {
      {"MPEG-4 Visual with B-frames", "-c:v mpeg4 -vtag XVID -bf 2 -g 12", "", "mp4v"},
      {"H.264 with B-frames", "-c:v libx264 -bf 2 -g 12", "--engage allow_avc_in_vfw_mode ", "avc1"},
      {"Motion JPEG", "-c:v mjpeg", "", "jpeg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    const std::string avi = make_media(
        dir, "video.avi", std::string("-f lavfi -i testsrc=size=128x96:rate=25:duration=0.6 ") + c.encode, &error);
    ASSERT_FALSE(avi.empty()) << error;
    const std::string mkv = dir.path("video.mkv"), from_mkv = dir.path("from_mkv.mp4"), from_avi = dir.path("from_avi.mp4");
    for (const std::string& old : {mkv, from_mkv, from_avi}) std::remove(old.c_str());
    ASSERT_EQ(run_command("mkvmerge -q " + std::string(c.mkvmerge) + "-o " + shell_quote(mkv) + " " + shell_quote(avi),
                          nullptr),
              0);
    const Bytes file = read_whole_file(mkv);
    ASSERT_NE(std::string(file.begin(), file.end()).find("V_MS/VFW/FOURCC"), std::string::npos);
    std::string said;
    ASSERT_EQ(remux_command(mkv, from_mkv, &said), 0) << said;
    ASSERT_EQ(remux_command(avi, from_avi, &said), 0) << said;
    EXPECT_EQ(command_output("ffprobe -v error -show_entries stream=codec_tag_string -of csv=p=0 " +
                             shell_quote(from_mkv)),
              std::string(c.entry) + "\n");
    const std::string packets = video_packets(from_mkv);
    EXPECT_EQ(lines_of(packets).size(), 15u) << packets;
    EXPECT_EQ(packets, video_packets(from_avi));
    const std::string pictures = decoded_pictures(mkv);
    EXPECT_EQ(lines_of(pictures).size(), 15u);
    EXPECT_EQ(decoded_pictures(from_mkv), pictures);
  }
}

Bytes le16(uint32_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
Bytes le32(uint32_t v) { return cat({le16(v), le16(v >> 16)}); }

// A block of track 2.
Bytes block2(int16_t time, const Bytes& payload) {
  Bytes p = {0x82, static_cast<uint8_t>(time >> 8), static_cast<uint8_t>(time), 0x80};
  p.insert(p.end(), payload.begin(), payload.end());
  return el(0xA3, p);
}

// A DTS core frame of 1024 bytes, 48 kHz stereo, whose header says the
// frame holds an extension (EXT_AUDIO with EXT_AUDIO_ID 0, XCh).
Bytes dts_frame_with_xch() {
  const struct {
    uint32_t bits, value;
  } fields[] = {{32, 0x7FFE8001}, {1, 1}, {5, 31}, {1, 0}, {7, 15}, {14, 1023}, {6, 2}, {4, 13}, {5, 15},
                {5, 0},           {3, 0}, {1, 1},  {1, 0}, {2, 0},  {1, 0},     {1, 0}, {4, 0}, {2, 0}, {3, 0}};
  Bytes b(1024, 0);
  uint32_t at = 0;
  for (const auto& f : fields)
    for (uint32_t i = f.bits; i-- > 0; ++at)
      if ((f.value >> i) & 1) b[at / 8] |= static_cast<uint8_t>(0x80 >> (at % 8));
  return b;
}

// What the Matroska import says of a track it leaves out or cuts short is
// among the remux's warnings (not only in --info), and the file is still
// remuxed with its other track.
TEST(MatroskaVfw, ImportNotesReachTheRemuxWarnings) {
  TempDir dir;
  const Bytes hvcc = cat({Bytes{1}, Bytes(20, 0), Bytes{0x03, 3}, Bytes{0x20, 0, 1, 0, 2, 0x40, 0x01},
                          Bytes{0x21, 0, 1, 0, 2, 0x42, 0x01}, Bytes{0x22, 0, 1, 0, 2, 0x44, 0x01}});
  Bytes profile7(24, 0);
  profile7[0] = 1, profile7[2] = 7 << 1, profile7[3] = (6 << 3) | 0x5, profile7[4] = 6 << 4;
  const Bytes video = el(0xE0, cat({uint_el(0xB0, 64), uint_el(0xBA, 48)}));
  const Bytes audio = el(0xE1, cat({el(0xB5, {0x47, 0x3B, 0x80, 0x00}), uint_el(0x9F, 2)}));
  const Bytes bitmap = cat({le32(40), le32(64), le32(48), le16(1), le16(24), Bytes{'A', 'B', 'C', 'D'}, le32(64 * 48 * 3),
                            le32(0), le32(0), le32(0), le32(0)});
  const Bytes wave = cat({le16(0x1234), le16(2), le32(48000), le32(192000), le16(4), le16(16), le16(0)});
  struct Case {
    const char* name;
    uint64_t type;
    const char* codec;
    Bytes private_data;
    Bytes more;  // further children of the track entry
    Bytes frame;
    const char* warning;
    int tracks_out;
  };
  const Case cases[] = {
      {"Dolby Vision profile 7: the base layer alone", 1, "V_MPEGH/ISO/HEVC", hvcc,
       cat({video, el(0x41E4, cat({uint_el(0x41E7, 0x64766343), el(0x41ED, profile7)}))}), frame(40, 1),
       "Matroska track 2 (V_MPEGH/ISO/HEVC): its Dolby Vision profile 7 has no single-track form", 2},
      {"DTS with an extension", 2, "A_DTS", {}, audio, dts_frame_with_xch(),
       "Matroska track 2 (A_DTS) is left out: its DTS stream has an extension (XCh)", 1},
      {"an ACM format tag without an MP4 form", 2, "A_MS/ACM", wave, audio, frame(64, 2),
       "Matroska track 2 (A_MS/ACM) is left out: its ACM format tag 0x1234 has no MP4 form", 1},
      {"a FOURCC without an MP4 form", 1, "V_MS/VFW/FOURCC", bitmap, video, frame(64, 3),
       "Matroska track 2 (V_MS/VFW/FOURCC) is left out: its FOURCC 'ABCD' has no MP4 form", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes mp3 = el(0xAE, cat({uint_el(0xD7, 1), uint_el(0x83, 2), text_el(0x86, "A_MPEG/L3"), audio}));
    Bytes entry = cat({uint_el(0xD7, 2), uint_el(0x83, c.type), text_el(0x86, c.codec), c.more});
    if (!c.private_data.empty()) entry = cat({entry, el(0x63A2, c.private_data)});
    const Bytes cluster = el(0x1F43B675, cat({uint_el(0xE7, 0), simple_block(0, 0x80, frame(20, 1)), block2(0, c.frame),
                                              simple_block(24, 0x80, frame(20, 2)), block2(40, c.frame),
                                              simple_block(48, 0x80, frame(20, 3))}));
    const Bytes file = cat({header(), el(0x18538067, cat({info(), el(0x1654AE6B, cat({mp3, el(0xAE, entry)})), cluster}))});
    const std::string in = dir.path("notes.mkv"), out = dir.path("notes.mp4");
    std::remove(out.c_str());
    FILE* f = std::fopen(in.c_str(), "wb");
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    const RunResult r = run_program(dir, {in, out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(std::string("warning: ") + c.warning), std::string::npos) << r.err;
    // Said once, not again in other words.
    EXPECT_EQ(r.err.find("Matroska track 2", r.err.find("Matroska track 2") + 1), std::string::npos) << r.err;
    if (have_ffmpeg()) {
      const std::string streams =
          command_output("ffprobe -v quiet -show_entries stream=index -of csv=p=0 " + shell_quote(out));
      EXPECT_EQ(lines_of(streams).size(), static_cast<size_t>(c.tracks_out));
    }
  }
}

}  // namespace
}  // namespace vantorel
