// Matroska and WebM files made by ffmpeg, remuxed: every packet carried with
// its bytes and key flag, shown within 1 ms of the input's time, and video
// recorded at a standard rate given its exact frame durations.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/compare.h"
#include "support/md5.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

int remux(const std::string& in, const std::string& out, const std::string& options, std::string* said) {
  return run_command(std::string(VANTOREL_EXE) + " " + options + shell_quote(in) + " " + shell_quote(out) + " 2>&1",
                     said);
}

double seconds(int64_t t, const ProbeStream& s) {
  return s.time_base_den == 0 ? 0 : static_cast<double>(t) * s.time_base_num / s.time_base_den;
}

// Packet for packet: size, bytes and key flag equal, presentation within 1 ms.
::testing::AssertionResult same_packets(const std::vector<ProbePacket>& in, const ProbeStream& in_stream,
                                        const std::vector<ProbePacket>& out, const ProbeStream& out_stream) {
  if (in.size() != out.size()) return ::testing::AssertionFailure() << out.size() << " packets, input " << in.size();
  for (size_t i = 0; i < in.size(); ++i) {
    auto fail = [&]() { return ::testing::AssertionFailure() << "packet " << i << ": "; };
    if (in[i].size != out[i].size) return fail() << "size " << out[i].size << ", input " << in[i].size;
    if (in[i].data_hash != out[i].data_hash) return fail() << "data differs";
    if (in[i].key != out[i].key) return fail() << "key " << out[i].key << ", input " << in[i].key;
    double a = seconds(in[i].pts, in_stream), b = seconds(out[i].pts, out_stream);
    if (std::fabs(a - b) > 0.001 + 1e-9) return fail() << "pts " << b << " s, input " << a << " s";
  }
  return ::testing::AssertionSuccess();
}

struct Case {
  std::string name, file, args;
  std::vector<std::string> codecs;  // of the output's streams, in order
  std::string needs;                // an encoder that must be there, or empty
};

bool have_encoder(const std::string& name) {
  std::string out;
  run_command("ffmpeg -v error -hide_banner -encoders 2>/dev/null", &out);
  return out.find(" " + name + " ") != std::string::npos;
}

TEST(MatroskaFiles, EveryPacketCarriedAtItsTime) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string video = "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 ";
  const std::string ntsc = "-f lavfi -i testsrc2=size=160x120:rate=30000/1001:duration=3 ";
  const std::string audio = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 ";
  const std::string x265 = "-c:v libx265 -x265-params log-level=none -pix_fmt yuv420p ";
  const std::vector<Case> cases = {
      {"H.264 with B-frames at 30000/1001 and AAC", "h264.mkv",
       ntsc + audio + "-c:v libx264 -bf 2 -g 30 -pix_fmt yuv420p -c:a aac", {"h264", "aac"}, "libx264"},
      {"VP9 with its colour and Opus in WebM", "vp9.webm",
       video + audio + "-c:v libvpx-vp9 -deadline realtime -color_primaries bt709 -color_trc bt709 "
                       "-colorspace bt709 -c:a libopus",
       {"vp9", "opus"}, "libvpx-vp9"},
      {"HEVC and Opus", "hevc.mkv", video + audio + x265 + "-c:a libopus", {"hevc", "opus"}, "libx265"},
      {"AV1 and Opus in WebM", "av1.webm", video + audio + "-c:v libaom-av1 -cpu-used 8 -c:a libopus",
       {"av1", "opus"}, "libaom-av1"},
      {"VP8 and MP3", "vp8.mkv", video + audio + "-c:v libvpx -deadline realtime -c:a libmp3lame",
       {"vp8", "mp3"}, "libmp3lame"},
      {"MPEG-4 Visual, MP3 and E-AC-3 in two languages", "mpeg4.mkv",
       video + audio + audio +
           "-map 0 -map 1 -map 2 -c:v mpeg4 -c:a:0 libmp3lame -c:a:1 eac3 -metadata:s:a:0 language=eng "
           "-metadata:s:a:1 language=ger -disposition:a:1 0",
       {"mpeg4", "mp3", "eac3"}, "libmp3lame"},
      {"Motion JPEG and ALAC", "mjpeg.mkv", video + audio + "-c:v mjpeg -c:a alac", {"mjpeg", "alac"}, ""},
      {"H.264, AC-3 and FLAC", "ac3.mkv",
       video + audio + audio + "-map 0 -map 1 -map 2 -c:v libx264 -pix_fmt yuv420p -c:a:0 ac3 -c:a:1 flac",
       {"h264", "ac3", "flac"}, "libx264"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.needs.empty() && !have_encoder(c.needs)) continue;
    std::string error;
    std::string in = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(in.empty()) << error;
    std::string out = dir.path(c.file + ".mp4");
    std::string said;
    ASSERT_EQ(remux(in, out, "", &said), 0) << said;
    std::vector<ProbeStream> in_streams, out_streams;
    std::vector<ProbePacket> in_packets, out_packets;
    ASSERT_TRUE(probe_streams(in, &in_streams, "", &error)) << error;
    ASSERT_TRUE(probe_streams(out, &out_streams, "", &error)) << error;
    ASSERT_TRUE(probe_packets(in, &in_packets, "", true, &error)) << error;
    ASSERT_TRUE(probe_packets(out, &out_packets, "", true, &error)) << error;
    ASSERT_EQ(out_streams.size(), c.codecs.size());
    ASSERT_EQ(in_streams.size(), c.codecs.size());
    for (size_t k = 0; k < out_streams.size(); ++k) {
      SCOPED_TRACE(c.codecs[k]);
      EXPECT_EQ(out_streams[k].codec_name, c.codecs[k]);
      EXPECT_EQ(out_streams[k].width, in_streams[k].width);
      EXPECT_EQ(out_streams[k].sample_rate, in_streams[k].sample_rate);
      EXPECT_EQ(out_streams[k].channels, in_streams[k].channels);
      EXPECT_TRUE(same_packets(packets_of(in_packets, static_cast<int>(k)), in_streams[k],
                               packets_of(out_packets, static_cast<int>(k)), out_streams[k]));
    }
    const std::string colour = "-show_entries stream=color_range,color_space,color_transfer,color_primaries";
    std::string colour_in, colour_out;
    run_command("ffprobe -v error " + colour + " -of csv=p=0 " + shell_quote(in), &colour_in);
    run_command("ffprobe -v error " + colour + " -of csv=p=0 " + shell_quote(out), &colour_out);
    // The video's colour, where the input states it (stream 0; a stream's
    // side data may add empty lines after it).
    if (c.args.find("-colorspace") != std::string::npos) {
      EXPECT_EQ(colour_out.substr(0, colour_out.find('\n')), colour_in.substr(0, colour_in.find('\n')));
    }
    std::string languages_in, languages_out;
    run_command("ffprobe -v error -show_entries stream_tags=language -of csv=p=0 " + shell_quote(in), &languages_in);
    run_command("ffprobe -v error -show_entries stream_tags=language -of csv=p=0 " + shell_quote(out), &languages_out);
    // ffprobe lists no language for a Matroska track of "und", and trailing
    // commas for tags it does not print.
    auto plain = [](std::string text) {
      std::string out;
      for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        while (!line.empty() && line.back() == ',') line.pop_back();
        out += (line == "und" ? "" : line) + "\n";
        at = end + 1;
      }
      return out;
    };
    EXPECT_EQ(plain(languages_out), plain(languages_in));
    std::string decoded;
    EXPECT_EQ(run_command("ffmpeg -nostdin -v error -i " + shell_quote(out) + " -f null - 2>&1", &decoded), 0);
    EXPECT_EQ(decoded, "");
  }
}

// Matroska keeps milliseconds: the 30000/1001 video must come back with
// every frame exactly 1001/30000 s long, not 33 or 34 ms.
TEST(MatroskaFiles, NtscVideoGetsExactFrameDurations) {
  VT_REQUIRE_FFMPEG();
  if (!have_encoder("libx264")) GTEST_SKIP() << "no libx264";
  TempDir dir;
  std::string error;
  std::string in = make_media(dir, "ntsc.mkv",
                              "-f lavfi -i testsrc2=size=160x120:rate=30000/1001:duration=4 -c:v libx264 -bf 3 "
                              "-pix_fmt yuv420p",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  std::string out = dir.path("ntsc.mp4");
  std::string said;
  ASSERT_EQ(remux(in, out, "", &said), 0) << said;
  std::vector<ProbeStream> streams;
  std::vector<ProbePacket> packets;
  ASSERT_TRUE(probe_streams(out, &streams, "", &error)) << error;
  ASSERT_TRUE(probe_packets(out, &packets, "", false, &error)) << error;
  ASSERT_EQ(streams.size(), 1u);
  ASSERT_EQ(packets.size(), 120u);
  // Shown in order, each frame follows the one before by 1001/30000 s.
  std::vector<double> shown;
  for (const ProbePacket& p : packets) shown.push_back(seconds(p.pts, streams[0]));
  std::sort(shown.begin(), shown.end());
  for (size_t i = 1; i < shown.size(); ++i) EXPECT_NEAR(shown[i] - shown[i - 1], 1001.0 / 30000, 1e-9) << i;
  for (const ProbePacket& p : packets)
    EXPECT_NEAR(seconds(p.duration, streams[0]), 1001.0 / 30000, 1e-9);
}

}  // namespace
}  // namespace vantorel

namespace vantorel {
namespace {

using namespace test;

std::string probe_text(const std::string& what, const std::string& path) {
  std::string out;
  run_command("ffprobe -v error " + what + " -of default=nw=1 " + shell_quote(path), &out);
  return out;
}

// Chapters, tags and a cover attachment of a Matroska file come through as
// ffprobe reads them, the cover byte for byte.
TEST(MatroskaFiles, ChaptersTagsAndCoverCarried) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string metadata = dir.path("meta.txt");
  {
    FILE* f = std::fopen(metadata.c_str(), "w");
    std::fputs(";FFMETADATA1\ntitle=A title\nartist=Some Artist\nalbum=The Album\ngenre=Rock\ncomment=Nice\n"
               "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=First\n"
               "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Zweite \xC3\x9C" "bung\n",
               f);
    std::fclose(f);
  }
  std::string error;
  std::string cover = make_media(dir, "cover.jpg", "-f lavfi -i testsrc2=size=64x64:rate=25 -frames:v 1", &error);
  ASSERT_FALSE(cover.empty()) << error;
  std::string in = make_media(dir, "tagged.mkv",
                              "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -i " + shell_quote(metadata) +
                                  " -map_metadata 1 -map_chapters 1 -attach " + shell_quote(cover) +
                                  " -metadata:s:t mimetype=image/jpeg -metadata:s:t filename=cover.jpg -c:v mpeg4",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  std::string out = dir.path("tagged.mp4");
  std::string said;
  ASSERT_EQ(remux(in, out, "", &said), 0)
      << said;
  const std::string chapters = "-show_entries chapter=start_time:chapter_tags=title";
  EXPECT_EQ(probe_text(chapters, out), probe_text(chapters, in));
  EXPECT_NE(probe_text(chapters, out).find("Zweite"), std::string::npos);
  // Matroska names its tags in capitals, MP4 items in small letters.
  auto key_lowered = [](std::string s) {
    for (size_t i = 0; i < s.size() && s[i] != '='; ++i) s[i] = static_cast<char>(std::tolower(s[i]));
    return s;
  };
  for (const char* tag : {"title", "artist", "album", "genre", "comment", "encoder"}) {
    const std::string entry = std::string("-show_entries format_tags=") + tag;
    EXPECT_EQ(key_lowered(probe_text(entry, out)), key_lowered(probe_text(entry, in))) << tag;
    EXPECT_FALSE(probe_text(entry, out).empty()) << tag;
  }
  std::string picture = dir.path("picture.jpg");
  ASSERT_EQ(run_command("ffmpeg -v error -y -i " + shell_quote(out) + " -map 0:1 -c copy -f image2 " + shell_quote(picture),
                        nullptr),
            0);
  EXPECT_EQ(read_whole_file(picture), read_whole_file(cover));
}

// Two audio tracks, the second not the default, in German and named: the
// output shows the same default, languages and name.
TEST(MatroskaFiles, DefaultLanguageAndNameOfEachTrack) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string in = make_media(dir, "two.mkv",
                              "-f lavfi -i sine=duration=1 -f lavfi -i sine=frequency=880:duration=1 -map 0 -map 1 "
                              "-c:a aac -disposition:a:1 0 -metadata:s:a:1 language=ger -metadata:s:a:1 title=Zweite",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  std::string out = dir.path("two.mp4");
  std::string said;
  ASSERT_EQ(remux(in, out, "", &said), 0)
      << said;
  EXPECT_EQ(probe_text("-show_entries stream_disposition=default:stream_tags=language", out),
            "DISPOSITION:default=1\nTAG:language=und\nDISPOSITION:default=0\nTAG:language=ger\n");
  EXPECT_NE(probe_text("-show_entries stream_tags=handler_name", out).find("handler_name=Zweite"), std::string::npos);
}

// HEVC goes out as 'hvc1' when CodecPrivate holds its parameter sets and
// the frames do not, as 'hev1' when the frames repeat them.
TEST(MatroskaFiles, HevcEntryByWhereTheParameterSetsAre) {
  VT_REQUIRE_FFMPEG();
  std::string encoders;
  run_command("ffmpeg -v error -hide_banner -encoders 2>/dev/null", &encoders);
  if (encoders.find(" libx265 ") == std::string::npos) GTEST_SKIP() << "no libx265";
  TempDir dir;
  struct Case {
    const char* params;
    const char* tag;
  };
  for (const Case& c : {Case{"log-level=none", "hvc1"}, Case{"log-level=none:repeat-headers=1", "hev1"}}) {
    SCOPED_TRACE(c.params);
    std::string error;
    std::string in = make_media(dir, "h.mkv",
                                std::string("-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -c:v libx265 "
                                            "-pix_fmt yuv420p -x265-params ") +
                                    c.params,
                                &error);
    ASSERT_FALSE(in.empty()) << error;
    std::string out = dir.path("h.mp4");
    std::string said;
    ASSERT_EQ(remux(in, out, "--force ", &said),
              0)
        << said;
    std::vector<ProbeStream> streams;
    ASSERT_TRUE(probe_streams(out, &streams, "", &error)) << error;
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].codec_tag, c.tag);
  }
}

// A track of a codec without an MP4 form is left out with a warning that
// names its CodecID; --info names it too; the rest is carried.
TEST(MatroskaFiles, VorbisIsLeftOutByName) {
  VT_REQUIRE_FFMPEG();
  std::string encoders;
  run_command("ffmpeg -v error -hide_banner -encoders 2>/dev/null", &encoders);
  if (encoders.find(" libvpx-vp9 ") == std::string::npos || encoders.find(" libvorbis ") == std::string::npos)
    GTEST_SKIP() << "no libvpx-vp9 or libvorbis";
  TempDir dir;
  std::string error;
  std::string in = make_media(dir, "vorbis.webm",
                              "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -f lavfi -i sine=duration=1 "
                              "-c:v libvpx-vp9 -deadline realtime -c:a libvorbis",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  std::string out = dir.path("vorbis.mp4");
  std::string said;
  ASSERT_EQ(remux(in, out, "", &said), 0)
      << said;
  EXPECT_NE(said.find("warning: Matroska track 2 (A_VORBIS) is left out"), std::string::npos) << said;
  std::vector<ProbeStream> streams;
  ASSERT_TRUE(probe_streams(out, &streams, "", &error)) << error;
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].codec_name, "vp9");
  std::string info;
  run_command(std::string(VANTOREL_EXE) + " --info " + shell_quote(in) + " 2>&1", &info);
  EXPECT_NE(info.find("Note: Matroska track 2 (A_VORBIS) is left out"), std::string::npos) << info;
  run_command(std::string(VANTOREL_EXE) + " --info --json " + shell_quote(in) + " 2>&1", &info);
  EXPECT_NE(info.find("\"notes\": [\n    \"Matroska track 2 (A_VORBIS) is left out"), std::string::npos) << info;
}


// SubRip and WebVTT tracks become 'tx3g' and 'wvtt' tracks: each cue's text
// (SubRip without its styling) at its time, empty samples between cues; a
// forced SubRip track says so in its entry.
TEST(MatroskaFiles, SubtitleCuesKeepTheirTextAndTimes) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string srt = dir.path("a.srt"), vtt = dir.path("a.vtt");
  {
    FILE* f = std::fopen(srt.c_str(), "w");
    std::fputs("1\n00:00:00,500 --> 00:00:01,200\n<i>H\xC3\xA9llo</i> w\xC3\xB6rld\n\n"
               "2\n00:00:01,500 --> 00:00:02,000\n{\\an8}Second <b>line</b>\nand more\n\n", f);
    std::fclose(f);
    f = std::fopen(vtt.c_str(), "w");
    std::fputs("WEBVTT\n\n00:00:00.500 --> 00:00:01.200\nHello <b>vtt</b>\n\n00:00:01.500 --> 00:00:02.000\nSecond\n\n", f);
    std::fclose(f);
  }
  auto tx3g = [](const std::string& text) {
    std::string b = {static_cast<char>(text.size() >> 8), static_cast<char>(text.size())};
    return b + text;
  };
  auto box = [](const char* type, const std::string& payload) {
    const size_t n = payload.size() + 8;
    return std::string{0, 0, static_cast<char>(n >> 8), static_cast<char>(n)} + type + payload;
  };
  const std::string video = "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -c:v mpeg4 ";
  struct Case {
    std::string file, args, fourcc;
    std::vector<std::string> samples;  // between them: 500, 700, 300 and 500 ms
    bool forced;
  };
  const std::vector<Case> cases = {
      {"srt.mkv", video + "-i " + shell_quote(srt) + " -c:s srt -disposition:s:0 forced", "tx3g",
       {tx3g(""), tx3g("H\xC3\xA9llo w\xC3\xB6rld"), tx3g(""), tx3g("Second line\nand more")}, true},
      {"srt-plain.mkv", video + "-i " + shell_quote(srt) + " -c:s srt", "tx3g",
       {tx3g(""), tx3g("H\xC3\xA9llo w\xC3\xB6rld"), tx3g(""), tx3g("Second line\nand more")}, false},
      {"vtt.webm", "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -c:v libvpx -i " + shell_quote(vtt) +
                       " -c:s webvtt", "wvtt",
       {box("vtte", ""), box("vttc", box("payl", "Hello <b>vtt</b>")), box("vtte", ""), box("vttc", box("payl", "Second"))},
       false},
  };
  const int64_t durations[] = {500, 700, 300, 500};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string error;
    std::string in = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(in.empty()) << error;
    std::string out = dir.path(c.file + ".mp4"), said;
    ASSERT_EQ(remux(in, out, "", &said), 0)
        << said;
    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
    ASSERT_EQ(tracks.size(), 2u);
    const LibraryTrack& text = tracks[1];
    EXPECT_EQ(text.fourcc, c.fourcc);
    ASSERT_EQ(text.packets.size(), c.samples.size());
    for (size_t i = 0; i < c.samples.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(text.packets[i].md5,
                md5_hex(reinterpret_cast<const uint8_t*>(c.samples[i].data()), c.samples[i].size()));
      EXPECT_EQ(text.packets[i].duration * 1000 / text.timescale, durations[i]);
    }
    // SubRip read back by ffmpeg: the input's text and times, unstyled.
    if (c.fourcc == "tx3g") {
      std::string srt_in, srt_out;
      run_command("ffmpeg -nostdin -v error -i " + shell_quote(in) + " -map 0:s -f srt -", &srt_in);
      run_command("ffmpeg -nostdin -v error -i " + shell_quote(out) + " -map 0:s -f srt -", &srt_out);
      std::string unstyled;
      for (size_t i = 0; i < srt_in.size(); ++i) {
        const char close = srt_in[i] == '<' ? '>' : (srt_in[i] == '{' ? '}' : 0);
        const size_t end = close != 0 ? srt_in.find(close, i) : std::string::npos;
        if (end != std::string::npos) {
          i = end;
          continue;
        }
        unstyled += srt_in[i];
      }
      EXPECT_EQ(srt_out, unstyled);
      EXPECT_NE(srt_out.find("00:00:01,500 --> 00:00:02,000"), std::string::npos) << srt_out;
    }
    // The 'tx3g' display flags follow the entry's 8 bytes of reserved and
    // reference fields.
    const std::vector<uint8_t> whole = read_whole_file(out);
    const std::string bytes(whole.begin(), whole.end());
    const size_t entry = bytes.find("tx3g");
    if (c.fourcc == "tx3g") {
      ASSERT_NE(entry, std::string::npos);
      ASSERT_LE(entry + 16, bytes.size());
      EXPECT_EQ(static_cast<uint8_t>(bytes[entry + 12]), c.forced ? 0x80 : 0x00);
    }
  }
}

// PCM in every byte order and width Matroska stores decodes to the same
// sound from the QuickTime movie.
TEST(MatroskaFiles, PcmOfEveryLayoutDecodesTheSame) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  for (const char* codec : {"pcm_s16le", "pcm_s16be", "pcm_s24le", "pcm_s32le", "pcm_f32le", "pcm_f64le", "pcm_u8"}) {
    SCOPED_TRACE(codec);
    std::string error;
    std::string in = make_media(dir, std::string(codec) + ".mkv",
                                std::string("-f lavfi -i sine=sample_rate=48000:duration=1 -ac 2 -c:a ") + codec, &error);
    ASSERT_FALSE(in.empty()) << error;
    std::string out = dir.path(std::string(codec) + ".mov"), said;
    ASSERT_EQ(remux(in, out, "", &said), 0)
        << said;
    std::string a, b;
    ASSERT_EQ(run_command("ffmpeg -nostdin -v error -i " + shell_quote(in) + " -f s32le - | md5sum", &a), 0);
    ASSERT_EQ(run_command("ffmpeg -nostdin -v error -i " + shell_quote(out) + " -f s32le - | md5sum", &b), 0);
    EXPECT_EQ(a, b);
  }
}

// Opus: the last block's DiscardPadding shortens the edit, so the movie
// lasts as long as the recording; SeekPreRoll becomes a 'roll' group of
// four 20 ms frames.
TEST(MatroskaFiles, OpusEndsWhereItsPaddingStarts) {
  VT_REQUIRE_FFMPEG();
  if (!have_encoder("libopus")) GTEST_SKIP() << "no libopus";
  TempDir dir;
  std::string error;
  std::string in = make_media(dir, "o.webm", "-f lavfi -i sine=sample_rate=48000:duration=1.013 -c:a libopus", &error);
  ASSERT_FALSE(in.empty()) << error;
  std::string out = dir.path("o.mp4"), said;
  ASSERT_EQ(remux(in, out, "", &said), 0)
      << said;
  EXPECT_EQ(probe_text("-show_entries format=duration", out), "duration=1.013000\n");
  const std::vector<uint8_t> whole = read_whole_file(out);
  const std::string bytes(whole.begin(), whole.end());
  const size_t roll = bytes.find(std::string("sgpd\x01\0\0\0roll", 12));
  ASSERT_NE(roll, std::string::npos);
  ASSERT_LE(roll + 22, bytes.size());
  EXPECT_EQ(bytes.substr(roll + 12, 10), std::string("\0\0\0\x02\0\0\0\x01\xFF\xFC", 10));
}


// A live recording (segment and clusters of unknown size) cut inside a
// cluster, as a crash leaves it: refused naming --salvage, and with
// --salvage every frame the file holds whole is carried, none other.
TEST(MatroskaFiles, ALiveRecordingCutMidClusterIsSalvaged) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string whole = make_media(dir, "live.mkv",
                                 "-f lavfi -i testsrc2=size=160x120:rate=25:duration=3 -f lavfi -i sine=duration=3 "
                                 "-c:v mpeg4 -g 10 -c:a aac -f matroska -live 1",
                                 &error);
  ASSERT_FALSE(whole.empty()) << error;
  std::vector<uint8_t> bytes = read_whole_file(whole);
  const size_t cut = bytes.size() * 2 / 3;
  const std::string in = dir.path("cut.mkv");
  {
    FILE* f = std::fopen(in.c_str(), "wb");
    std::fwrite(bytes.data(), 1, cut, f);
    std::fclose(f);
  }
  const std::string out = dir.path("cut.mp4");
  std::string said;
  EXPECT_NE(remux(in, out, "", &said), 0);
  EXPECT_NE(said.find("--salvage"), std::string::npos) << said;
  ASSERT_EQ(remux(in, out, "--salvage ", &said),
            0)
      << said;
  std::vector<ProbePacket> all, carried;
  ASSERT_TRUE(probe_packets(whole, &all, "", true, &error)) << error;
  ASSERT_TRUE(probe_packets(out, &carried, "", true, &error)) << error;
  for (int stream = 0; stream < 2; ++stream) {
    SCOPED_TRACE(stream);
    std::vector<ProbePacket> in_stream = packets_of(all, stream), out_stream = packets_of(carried, stream);
    size_t held = 0;
    for (const ProbePacket& p : in_stream)
      if (p.pos >= 0 && static_cast<uint64_t>(p.pos) + p.size <= cut) ++held;
    ASSERT_EQ(out_stream.size(), held);
    EXPECT_GT(held, 0u);
    for (size_t i = 0; i < held; ++i) {
      EXPECT_EQ(out_stream[i].size, in_stream[i].size) << i;
      EXPECT_EQ(out_stream[i].data_hash, in_stream[i].data_hash) << i;
    }
  }
}

}  // namespace
}  // namespace vantorel
