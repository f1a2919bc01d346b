// What describes a Matroska file's frames reaches the MP4: colour, the
// mastering display and light levels, Dolby Vision records, track names,
// the recording date, chapters in both forms, SubRip cue times, and the
// sound of ACM, DTS and TrueHD tracks. Inputs come from mkvmerge and ffmpeg,
// or are built here where neither can make them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "import/matroska/matroska_builder.h"
#include "mediafile/media_file.h"
#include "mediafile/mediafile.h"
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

#define VT_REQUIRE_MKVMERGE()                                          \
  do {                                                                 \
    if (!have_mkvmerge()) GTEST_SKIP() << "mkvmerge absent";           \
  } while (0)

std::string write(const TempDir& dir, const std::string& name, const Bytes& b) {
  std::string path = dir.path(name);
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
  return path;
}

std::string probe_text(const std::string& what, const std::string& path) {
  std::string out;
  run_command("ffprobe -v error " + what + " -of default=nw=1 " + shell_quote(path), &out);
  return out;
}

Bytes from_hex(const char* s) {
  Bytes b;
  for (int nibbles = 0, v = 0; *s != '\0'; ++s) {
    if (*s == ' ') continue;
    v = v * 16 + (*s <= '9' ? *s - '0' : (*s | 0x20) - 'a' + 10);
    if (++nibbles % 2 == 0) b.push_back(static_cast<uint8_t>(v)), v = 0;
  }
  return b;
}

// The payload of the first box of `type` in the file, found by its type and
// the size before it; empty when there is none.
Bytes box_payload(const Bytes& file, const char* type) {
  for (size_t at = 4; at + 4 <= file.size(); ++at) {
    if (std::memcmp(file.data() + at, type, 4) != 0) continue;
    const uint32_t size = (uint32_t{file[at - 4]} << 24) | (file[at - 3] << 16) | (file[at - 2] << 8) | file[at - 1];
    if (size >= 8 && at - 4 + size <= file.size()) return Bytes(file.begin() + at + 4, file.begin() + at - 4 + size);
  }
  return {};
}

// A value of ffprobe's "key=value" lines, rationals divided out; NaN when absent.
double probe_value(const std::string& text, const std::string& key) {
  const size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) return std::nan("");
  const char* p = text.c_str() + at + key.size() + 2;
  char* end = nullptr;
  double v = std::strtod(p, &end);
  if (*end == '/') v /= std::strtod(end + 1, nullptr);
  return v;
}

// Colour from mkvmerge's options becomes 'colr' in every codec (and stays
// consistent with VP9's 'vpcC'); the mastering display and light levels
// come back from ffprobe as set.
TEST(MatroskaFidelity, ColourMasteringAndLightLevels) {
  VT_REQUIRE_FFMPEG();
  VT_REQUIRE_MKVMERGE();
  TempDir dir;
  const std::string video = "-f lavfi -i testsrc2=size=160x120:rate=25:duration=0.2 ";
  const std::string hdr10 =
      "--colour-matrix 0:9 --colour-range 0:1 --colour-transfer-characteristics 0:16 --colour-primaries 0:9 "
      "--max-content-light 0:1000 --max-frame-light 0:400 --chromaticity-coordinates "
      "0:0.708,0.292,0.170,0.797,0.131,0.046 --white-colour-coordinates 0:0.3127,0.3290 --max-luminance 0:1000 "
      "--min-luminance 0:0.005 ";
  struct Case {
    const char* name;
    const char* encoder;
    std::string args;
    std::string colour;  // mkvmerge options
    const char* colr;    // the payload expected
    bool hdr;
  };
  const Case cases[] = {
      {"HEVC Main10 HDR10", "libx265", "-c:v libx265 -x265-params log-level=none -pix_fmt yuv420p10le", hdr10,
       "6e636c78 0009 0010 0009 00", true},
      {"VP9 profile 2 HDR10", "libvpx-vp9", "-c:v libvpx-vp9 -deadline realtime -pix_fmt yuv420p10le -profile:v 2",
       hdr10, "6e636c78 0009 0010 0009 00", true},
      {"AV1 full range BT.709", "libaom-av1", "-c:v libaom-av1 -cpu-used 8",
       "--colour-matrix 0:1 --colour-range 0:2 --colour-transfer-characteristics 0:1 --colour-primaries 0:1 ",
       "6e636c78 0001 0001 0001 80", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string encoders;
    run_command("ffmpeg -v error -hide_banner -encoders", &encoders);
    if (encoders.find(std::string(" ") + c.encoder + " ") == std::string::npos) continue;
    std::string error;
    const std::string plain = make_media(dir, "plain.mkv", video + c.args, &error);
    ASSERT_FALSE(plain.empty()) << error;
    const std::string in = dir.path("colour.mkv"), out = dir.path("colour.mp4");
    std::remove(out.c_str());
    ASSERT_EQ(run_command("mkvmerge -q -o " + shell_quote(in) + " " + c.colour + shell_quote(plain), nullptr), 0);
    std::string said;
    ASSERT_EQ(remux_command(in, out, &said), 0) << said;
    const Bytes file = read_whole_file(out);
    EXPECT_EQ(box_payload(file, "colr"), from_hex(c.colr));
    // A QuickTime movie takes the colour as 'nclc', which has no range flag;
    // an MP4's 'nclx', read back, travels into one as it is.
    const std::string mov = dir.path("colour.mov"), carried = dir.path("carried.mov");
    std::remove(mov.c_str());
    std::remove(carried.c_str());
    ASSERT_EQ(remux_command(in, mov, &said), 0) << said;
    ASSERT_EQ(remux_command(out, carried, &said), 0) << said;
    Bytes nclc = from_hex(c.colr);
    nclc.pop_back();
    nclc[3] = 'c';
    EXPECT_EQ(box_payload(read_whole_file(mov), "colr"), nclc);
    EXPECT_EQ(box_payload(read_whole_file(carried), "colr"), from_hex(c.colr));
    // ffprobe lets the decoder's reading of the stream override the
    // container's, so what it reads back is compared, not set values.
    const std::string codes = "-select_streams v -show_entries stream=color_primaries,color_transfer,color_space";
    EXPECT_EQ(probe_text(codes, mov), probe_text(codes, out));
    EXPECT_EQ(probe_text(codes, mov), probe_text(codes, in));
    // The boxes after it are whole: the mastering display and light levels.
    const std::string side_data = "-select_streams v -show_entries stream_side_data";
    EXPECT_EQ(probe_text(side_data, mov), probe_text(side_data, out));
    const Bytes vpcc = box_payload(file, "vpcC");
    if (!vpcc.empty()) {
      ASSERT_GE(vpcc.size(), 10u);
      EXPECT_EQ(Bytes(vpcc.begin() + 7, vpcc.begin() + 10), Bytes({9, 16, 9}));  // primaries, transfer, matrix
      EXPECT_EQ(vpcc[6] & 1, 0);  // limited range, as 'colr' says
    }
    if (!c.hdr) {
      EXPECT_TRUE(box_payload(file, "mdcv").empty());
      continue;
    }
    const std::string side = "\n" + probe_text("-select_streams v -show_entries stream_side_data", out);
    const struct {
      const char* key;
      double value, within;
    } expected[] = {
        {"red_x", 0.708, 1e-5},          {"red_y", 0.292, 1e-5},        {"green_x", 0.170, 1e-5},
        {"green_y", 0.797, 1e-5},        {"blue_x", 0.131, 1e-5},       {"blue_y", 0.046, 1e-5},
        {"white_point_x", 0.3127, 1e-5}, {"white_point_y", 0.329, 1e-5}, {"max_luminance", 1000, 1e-4},
        {"min_luminance", 0.005, 1e-4},  {"max_content", 1000, 0},      {"max_average", 400, 0},
    };
    for (const auto& e : expected) EXPECT_NEAR(probe_value(side, e.key), e.value, e.within) << e.key << side;
  }
}

// A Dolby Vision configuration record of `profile`.
Bytes dolby_record(uint32_t profile, uint32_t compatibility) {
  Bytes r(24, 0);
  r[0] = 1;
  r[2] = static_cast<uint8_t>(profile << 1);
  r[3] = static_cast<uint8_t>((6 << 3) | 0x5);  // level 6, RPU and base layer
  r[4] = static_cast<uint8_t>(compatibility << 4);
  return r;
}

// The record goes into the visual entry byte for byte, in a box of its
// BlockAddIDType; the entry type follows the profile.
TEST(MatroskaFidelity, DolbyVisionRecordByProfile) {
  TempDir dir;
  const Bytes hvcc_all = cat({Bytes{1}, Bytes(20, 0), Bytes{0x03, 3},  // 4-byte lengths, three arrays
                              Bytes{0x20, 0, 1, 0, 2, 0x40, 0x01}, Bytes{0x21, 0, 1, 0, 2, 0x42, 0x01},
                              Bytes{0x22, 0, 1, 0, 2, 0x44, 0x01}});
  const Bytes hvcc_none = cat({Bytes{1}, Bytes(20, 0), Bytes{0x03, 0}});
  const Bytes avcc = {1, 0x64, 0, 0x1F, 0xFF, 0xE0, 0};
  const Bytes av1c = {0x81, 0x00, 0x0C, 0x00};
  struct Case {
    const char* name;
    const char* codec;
    Bytes config;
    const char* type;  // BlockAddIDType
    uint32_t profile, compatibility;
    const char* entry;
    bool kept;
  };
  const Case cases[] = {
      {"profile 5, parameter sets out of band", "V_MPEGH/ISO/HEVC", hvcc_all, "dvcC", 5, 0, "dvh1", true},
      {"profile 5, parameter sets in band", "V_MPEGH/ISO/HEVC", hvcc_none, "dvcC", 5, 0, "dvhe", true},
      {"profile 8.1 keeps the HEVC entry", "V_MPEGH/ISO/HEVC", hvcc_all, "dvvC", 8, 1, "hvc1", true},
      {"profile 9 keeps the H.264 entry", "V_MPEG4/ISO/AVC", avcc, "dvvC", 9, 2, "avc1", true},
      {"profile 10.0 is 'dav1'", "V_AV1", av1c, "dvvC", 10, 0, "dav1", true},
      {"profile 10.1 keeps 'av01'", "V_AV1", av1c, "dvvC", 10, 1, "av01", true},
      {"profile 7 is dual layer: the base layer alone", "V_MPEGH/ISO/HEVC", hvcc_all, "dvcC", 7, 6, "hvc1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes record = dolby_record(c.profile, c.compatibility);
    const uint64_t type = (uint64_t{static_cast<uint8_t>(c.type[0])} << 24) | (c.type[1] << 16) | (c.type[2] << 8) |
                          static_cast<uint8_t>(c.type[3]);
    const Bytes mapping = el(0x41E4, cat({text_el(0x41A4, "Dolby Vision configuration"), uint_el(0x41E7, type),
                                          el(0x41ED, record)}));
    const Bytes entry = el(0xAE, cat({uint_el(0xD7, 1), uint_el(0x83, 1), text_el(0x86, c.codec), el(0x63A2, c.config),
                                      el(0xE0, cat({uint_el(0xB0, 64), uint_el(0xBA, 48)})), mapping}));
    const Bytes file =
        cat({header(), el(0x18538067, cat({info(), el(0x1654AE6B, entry),
                                           el(0x1F43B675, cat({uint_el(0xE7, 0), simple_block(0, 0x80, frame(40, 1)),
                                                               simple_block(40, 0x00, frame(30, 2)),
                                                               simple_block(80, 0x00, frame(30, 3))}))}))});
    const std::string in = write(dir, "dolby.mkv", file), out = dir.path("dolby.mp4");
    std::remove(out.c_str());
    std::string said;
    ASSERT_EQ(remux_command(in, out, &said), 0) << said;
    const Bytes written = read_whole_file(out);
    EXPECT_FALSE(box_payload(written, c.entry).empty()) << said;
    EXPECT_EQ(box_payload(written, c.type), c.kept ? record : Bytes{});
    // A record left out is noted for the user.
    OpenParams params{};
    params.routines = std_routines();
    params.path = in.c_str();
    MediaFile* opened = nullptr;
    ASSERT_EQ(media_open(&opened, &params, kOpenRead), ErrorCode::Ok);
    std::string notes;
    for (uint32_t i = 0; const char* note = import_note(opened, i); ++i) notes += note;
    media_close(opened);
    EXPECT_EQ(notes.find("Dolby Vision profile 7") != std::string::npos, !c.kept) << notes;
  }
}

// A screen recording remuxed by mkvmerge, with named sound tracks, a date,
// chapters and SubRip cues: the names reach each track's 'udta' 'name', the
// date the creation time, the chapters both 'chpl' and a chapter track, and
// every cue keeps its start and end.
TEST(MatroskaFidelity, ScreenRecordingNamesDateChaptersAndCues) {
  VT_REQUIRE_FFMPEG();
  VT_REQUIRE_MKVMERGE();
  TempDir dir;
  const std::string srt = dir.path("cues.srt"), metadata = dir.path("chapters.txt");
  {
    FILE* f = std::fopen(srt.c_str(), "w");
    std::fputs("1\n00:00:00,500 --> 00:00:01,200\nHello\n\n2\n00:00:02,000 --> 00:00:02,700\nLast cue\n\n", f);
    std::fclose(f);
    f = std::fopen(metadata.c_str(), "w");
    std::fputs(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=Intro\n"
               "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=3000\ntitle=Zweite\n",
               f);
    std::fclose(f);
  }
  std::string error;
  const std::string recorded = make_media(
      dir, "recorded.mkv",
      "-f lavfi -i testsrc2=size=160x120:rate=30:duration=3 -f lavfi -i sine=duration=3.4 -f lavfi -i "
      "sine=frequency=880:duration=3.4 -i " + shell_quote(metadata) +
          " -map 0 -map 1 -map 2 -map_chapters 3 -c:v mpeg4 -c:a aac -metadata:s:a:0 title=Microphone "
          "-metadata:s:a:1 \"title=Desktop audio\"",
      &error);
  ASSERT_FALSE(recorded.empty()) << error;
  const std::string in = dir.path("screen.mkv"), out = dir.path("screen.mp4");
  ASSERT_EQ(run_command("mkvmerge -q -o " + shell_quote(in) + " " + shell_quote(recorded) + " " + shell_quote(srt),
                        nullptr),
            0);
  std::string said;
  ASSERT_EQ(remux_command(in, out, &said), 0) << said;

  OpenParams params{};
  params.routines = std_routines();
  params.path = out.c_str();
  MediaFile* file = nullptr;
  ASSERT_EQ(media_open(&file, &params, kOpenRead), ErrorCode::Ok);
  const char* names[] = {nullptr, "Microphone", "Desktop audio", nullptr};
  for (uint32_t id = 1; id <= 4; ++id) {
    char name[64];
    const ErrorCode e = track_name(file, id, name, sizeof name);
    if (names[id - 1] == nullptr) {
      EXPECT_EQ(e, ErrorCode::Missing) << id;
    } else {
      ASSERT_EQ(e, ErrorCode::Ok) << id;
      EXPECT_STREQ(name, names[id - 1]);
    }
  }
  media_close(file);

  const std::string date = "-show_entries format_tags=creation_time";
  EXPECT_EQ(probe_text(date, out), probe_text(date, in));
  EXPECT_NE(probe_text(date, out), "");
  const std::string chapters = "-show_entries chapter=start_time,end_time:chapter_tags=title";
  EXPECT_EQ(probe_text(chapters, out), probe_text(chapters, in));
  const Bytes written = read_whole_file(out);
  EXPECT_FALSE(box_payload(written, "chpl").empty());
  EXPECT_EQ(box_payload(written, "chap").size(), 4u);  // the chapter track's id, in 'tref'

  // The cues with their times; the output's empty samples between them aside.
  auto cues = [](const std::string& path) {
    std::string text;
    run_command("ffprobe -v error -select_streams s -show_entries packet=pts_time,duration_time,size -of csv=p=0 " +
                    shell_quote(path),
                &text);
    std::string kept;
    for (const std::string& line : lines_of(text)) {
      const size_t comma = line.rfind(',');
      if (std::atoi(line.c_str() + comma + 1) > 2) kept += line.substr(0, comma) + "\n";
    }
    return kept;
  };
  EXPECT_EQ(cues(out), "0.500000,0.700000\n2.000000,0.700000\n");
  EXPECT_EQ(cues(out), cues(in));
}

// An A_MS/ACM track (built here: mkvmerge writes PCM as A_PCM) goes the way
// its WAVEFORMATEX's tag says and decodes as the input does.
TEST(MatroskaFidelity, AcmSoundDecodesTheSame) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  struct Case {
    const char* name;
    uint16_t tag;
    uint16_t bits;
    bool extensible;
    const char* output;
    const char* decoded;  // ffmpeg's raw format of the input's samples
  };
  const Case cases[] = {
      {"16-bit PCM", 1, 16, false, "acm.mp4", "s16le"},
      {"32-bit float", 3, 32, false, "acm.mov", "f32le"},
      {"24-bit PCM in WAVE_FORMAT_EXTENSIBLE", 1, 24, true, "acm.mov", "s24le"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint16_t channels = 2, align = static_cast<uint16_t>(channels * c.bits / 8);
    const uint32_t rate = 48000;
    auto le16 = [](uint32_t v) { return Bytes{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; };
    auto le32 = [&](uint32_t v) { return cat({le16(v), le16(v >> 16)}); };
    Bytes wave = cat({le16(c.extensible ? 0xFFFE : c.tag), le16(channels), le32(rate), le32(rate * align),
                      le16(align), le16(c.bits), le16(c.extensible ? 22 : 0)});
    if (c.extensible)  // valid bits, channel mask, then the PCM subformat GUID
      wave = cat({wave, le16(c.bits), le32(3), le16(c.tag),
                  Bytes{0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}});
    // Four blocks of 20 ms; floats kept small so every value is a number.
    std::vector<Bytes> blocks;
    Bytes all;
    for (int b = 0; b < 4; ++b) {
      Bytes block = frame(960 * align, static_cast<uint8_t>(b + 1));
      if (c.tag == 3)
        for (size_t i = 3; i < block.size(); i += 4) block[i] = 0x3E;
      blocks.push_back(block);
      all.insert(all.end(), block.begin(), block.end());
    }
    const Bytes audio = el(0xE1, cat({el(0xB5, {0x47, 0x3B, 0x80, 0x00}), uint_el(0x9F, channels)}));
    const Bytes entry =
        el(0xAE, cat({uint_el(0xD7, 1), uint_el(0x83, 2), text_el(0x86, "A_MS/ACM"), el(0x63A2, wave), audio}));
    const Bytes file = cat(
        {header(), el(0x18538067, cat({info(), el(0x1654AE6B, entry),
                                       el(0x1F43B675, cat({uint_el(0xE7, 0), simple_block(0, 0x80, blocks[0]),
                                                           simple_block(20, 0x80, blocks[1]),
                                                           simple_block(40, 0x80, blocks[2]),
                                                           simple_block(60, 0x80, blocks[3])}))}))});
    const std::string in = write(dir, "acm.mkv", file), out = dir.path(c.output), raw = dir.path("decoded.raw");
    std::remove(out.c_str());
    std::string said;
    ASSERT_EQ(remux_command(in, out, &said), 0) << said;
    ASSERT_EQ(run_command("ffmpeg -v error -y -i " + shell_quote(out) + " -f " + c.decoded + " " + shell_quote(raw),
                          nullptr),
              0);
    EXPECT_EQ(read_whole_file(raw), all);
  }
}

// DTS (core only) and TrueHD from ffmpeg's encoders decode the same after
// the remux, as 'dtsc' and 'mlpa'.
TEST(MatroskaFidelity, DtsAndTrueHdDecodeTheSame) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const struct {
    const char* encoder;
    const char* entry;
  } cases[] = {{"dca", "dtsc"}, {"truehd", "mlpa"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoder);
    std::string error;
    const std::string in = make_media(dir, std::string(c.encoder) + ".mkv",
                                      "-f lavfi -i sine=duration=0.5:sample_rate=48000 -ac 2 -strict -2 -c:a " +
                                          std::string(c.encoder),
                                      &error);
    if (in.empty()) continue;  // an ffmpeg without the encoder
    const std::string out = dir.path(std::string(c.encoder) + ".mp4");
    std::string said;
    ASSERT_EQ(remux_command(in, out, &said), 0) << said;
    EXPECT_EQ(probe_text("-show_entries stream=codec_tag_string", out), std::string("codec_tag_string=") + c.entry + "\n");
    std::string a, b;
    ASSERT_EQ(run_command("ffmpeg -v error -i " + shell_quote(in) + " -f s32le - | md5sum", &a), 0);
    ASSERT_EQ(run_command("ffmpeg -v error -i " + shell_quote(out) + " -f s32le - | md5sum", &b), 0);
    EXPECT_EQ(a, b);
    EXPECT_NE(a.substr(0, 32), "d41d8cd98f00b204e9800998ecf8427e");  // not nothing
  }
}

}  // namespace
}  // namespace vantorel
