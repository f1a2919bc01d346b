// The program's options, run as a user runs them: help and version, bad
// lines, names that begin with "-", split outputs, progress on a terminal,
// and --info against ffprobe and the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "mediafile/mediafile.h"
#include "support/asf_builder.h"
#include "support/compare.h"
#include "support/ffprobe.h"
#include "support/json.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

const std::string kSample = std::string(VANTOREL_SOURCE_DIR) + "/samples/sample.mp4";

bool exists(const std::string& path) { return std::filesystem::exists(path); }

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The file's bytes with the header time stamps zeroed: each run stamps the
// clock's second, and two runs may straddle one.
std::string without_time_stamps(const std::string& path) {
  std::string bytes = slurp(path);
  for (const char* type : {"mvhd", "tkhd", "mdhd"}) {
    for (size_t p = bytes.find(type); p != std::string::npos; p = bytes.find(type, p + 4)) {
      size_t width = bytes.size() > p + 4 && bytes[p + 4] == 1 ? 8 : 4;
      if (p + 8 + 2 * width <= bytes.size()) bytes.replace(p + 8, 2 * width, 2 * width, '\0');
    }
  }
  return bytes;
}

// Runs --info --json on `path` and parses what it printed.
::testing::AssertionResult info_json(const TempDir& dir, const std::string& path, Json* doc) {
  RunResult r = run_program(dir, {"--info", "--json", path});
  if (r.status != 0) return ::testing::AssertionFailure() << "status " << r.status << ": " << r.err;
  if (!r.err.empty()) return ::testing::AssertionFailure() << "stderr: " << r.err;
  std::string error;
  if (!json_parse(r.out, doc, &error)) return ::testing::AssertionFailure() << error << "\n" << r.out;
  return ::testing::AssertionSuccess();
}

TEST(ProgramOptions, HelpListsEveryOption) {
  TempDir dir;
  for (const char* flag : {"--help", "-h"}) {
    SCOPED_TRACE(flag);
    RunResult r = run_program(dir, {flag});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::vector<std::string> lines = lines_of(r.out);
    ASSERT_GT(lines.size(), 5u);
    // The banner and usage come first, as without options.
    EXPECT_EQ(lines[0].rfind(std::string("Vantorel ") + VANTOREL_VERSION + " ", 0), 0u);
    EXPECT_EQ(lines[2].rfind("Build: ", 0), 0u);
    EXPECT_EQ(lines[2].find("2009"), std::string::npos);
    EXPECT_EQ(lines[4], "Usage: vantorel <in> <out.mp4>");
    for (const char* option : {"--split-size SIZE", "--split-duration SECONDS", "--salvage", "--quiet", "--info",
                               "--json", "-h, --help", "-y, --force", "--version", "  -- ", "WebM"})
      EXPECT_NE(r.out.find(option), std::string::npos) << option;
  }
}

TEST(ProgramOptions, VersionIsTheBannersNameAndVersion) {
  TempDir dir;
  RunResult r = run_program(dir, {"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("Vantorel ") + VANTOREL_VERSION + "\n");
  EXPECT_EQ(r.err, "");
  RunResult banner = run_program(dir, {});
  EXPECT_EQ(banner.out.rfind(std::string("Vantorel ") + VANTOREL_VERSION + " ", 0), 0u);
}

TEST(ProgramOptions, BadLinesExitWithTwoAndTheUsage) {
  TempDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus", kSample, dir.path("out.mp4")},
      {"--split-size", "0", kSample, dir.path("out.mp4")},
      {"--split-size", "ten", kSample, dir.path("out.mp4")},
      {"--split-duration", "-1", kSample, dir.path("out.mp4")},
      {"--split-duration", "99999999999999999999", kSample, dir.path("out.mp4")},
      {"--split-size", "1M", "--split-duration", "5", kSample, dir.path("out.mp4")},
      {"--quiet", kSample},
      {"--quiet", kSample, dir.path("out.mp4"), dir.path("more.mp4")},
      {"--json", kSample, dir.path("out.mp4")},
      {"--info", kSample, dir.path("out.mp4")},
      {kSample, dir.path("out.mp4"), "--split-size"},
  };
  for (const auto& args : cases) {
    std::string trace;
    for (const auto& a : args) trace += a + " ";
    SCOPED_TRACE(trace);
    RunResult r = run_program(dir, args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    std::vector<std::string> err = lines_of(r.err);
    ASSERT_GE(err.size(), 6u) << r.err;
    EXPECT_EQ(err[0].rfind("Vantorel: ", 0), 0u) << err[0];
    // A wrong count of names shows the banner before the usage.
    bool count = err[0].find("file name") != std::string::npos;
    EXPECT_EQ(err[count ? 5 : 1], "Usage: vantorel <in> <out.mp4>");
    EXPECT_NE(r.err.find("--split-size SIZE"), std::string::npos);
    EXPECT_FALSE(exists(dir.path("out.mp4")));
  }
}

TEST(ProgramOptions, NamesBeginningWithADashAfterTheEndOfOptions) {
  TempDir dir;
  std::filesystem::copy_file(kSample, dir.path("-in.mp4"));
  RunOptions here;
  here.cwd = dir.dir();
  RunResult refused = run_program(dir, {"-in.mp4", "-out.mp4"}, here);
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("unknown option '-in.mp4'"), std::string::npos) << refused.err;

  RunResult r = run_program(dir, {"--quiet", "--", "-in.mp4", "-out.mp4"}, here);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");  // --quiet: nothing on success
  EXPECT_GT(slurp(dir.path("-out.mp4")).size(), 50000u);

  RunResult info = run_program(dir, {"--info", "--", "-in.mp4"}, here);
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("File: -in.mp4\n"), std::string::npos) << info.out;
}

TEST(ProgramOptions, ProgressOnlyOnATerminalWithPassLabels) {
  TempDir dir;
  RunOptions terminal;
  terminal.stdout_on_terminal = true;
  auto started = std::chrono::steady_clock::now();
  RunResult shown = run_program(dir, {kSample, dir.path("a.mp4")}, terminal);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (shown.no_terminal) GTEST_SKIP() << "no pseudo-terminal on this machine";
  ASSERT_EQ(shown.status, 0) << shown.err;
  size_t analysing = shown.out.find("analysing 0.0 % \r");
  size_t writing = shown.out.find("writing 0.0 % \r");
  size_t done = shown.out.find("Done.\r\n");  // the terminal turns the line feed into both
  ASSERT_NE(analysing, std::string::npos) << shown.out;
  ASSERT_NE(writing, std::string::npos) << shown.out;
  ASSERT_NE(done, std::string::npos) << shown.out;
  EXPECT_LT(analysing, writing);
  EXPECT_LT(writing, done);
  EXPECT_EQ(shown.out.find("analysing", writing), std::string::npos);
  // Each pass's first figure at once, then at most ten a second.
  std::vector<std::string> painted;
  for (size_t at = 0, end; (end = shown.out.find('\r', at)) < done; at = end + 1)
    painted.push_back(shown.out.substr(at, end - at));
  ASSERT_GE(painted.size(), 3u) << shown.out;
  std::string blanks = painted.back();
  painted.pop_back();
  EXPECT_LE(painted.size(), 2 + static_cast<size_t>(seconds * 10) + 2) << seconds << " s:\n" << shown.out;
  // The line is blanked before the closing line, as wide as the widest
  // figure, so no figure is left over.
  size_t widest = 0;
  for (const std::string& line : painted) widest = std::max(widest, line.size());
  EXPECT_EQ(blanks, std::string(widest, ' ')) << shown.out;

  RunResult quiet = run_program(dir, {"--quiet", kSample, dir.path("b.mp4")}, terminal);
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out, "");  // no progress, no closing line

  RunResult redirected = run_program(dir, {kSample, dir.path("c.mp4")});
  ASSERT_EQ(redirected.status, 0) << redirected.err;
  EXPECT_EQ(redirected.out, "Done.\n");  // off a terminal: no blanks after it
  // The three outputs are the same file, but for when each was made.
  std::string redirected_bytes = without_time_stamps(dir.path("c.mp4"));
  EXPECT_EQ(without_time_stamps(dir.path("a.mp4")), redirected_bytes);
  EXPECT_EQ(without_time_stamps(dir.path("b.mp4")), redirected_bytes);
}

// out.mp4, out_1.mp4, ... as far as they go.
std::vector<std::string> split_parts(const TempDir& dir, const std::string& stem) {
  std::vector<std::string> parts;
  for (int i = 0;; ++i) {
    std::string path = dir.path(stem + (i == 0 ? "" : "_" + std::to_string(i)) + ".mp4");
    if (!exists(path)) break;
    parts.push_back(path);
  }
  return parts;
}

void expect_parts_hold_the_input(const std::string& input, const std::vector<std::string>& parts) {
  EXPECT_TRUE(split_parts_hold_input(input, parts, 2));
  for (const std::string& p : parts) {
    std::vector<ProbePacket> mine;
    ASSERT_TRUE(probe_packets(p, &mine, "-ignore_editlist 1", false));
    ASSERT_FALSE(packets_of(mine, 0).empty()) << p;
    EXPECT_TRUE(packets_of(mine, 0).front().key) << p;  // each part starts at a sync sample
  }
}

TEST(ProgramOptions, SplitOutputsTogetherHoldEveryPacket) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string input = make_media(dir, "long.mp4",
                                 "-f lavfi -i testsrc=size=160x120:rate=25:duration=12 "
                                 "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=12 "
                                 "-c:v libx264 -bf 0 -g 25 -keyint_min 25 -sc_threshold 0 -pix_fmt yuv420p -c:a aac",
                                 &error);
  ASSERT_FALSE(input.empty()) << error;

  {
    SCOPED_TRACE("by duration");
    RunResult r = run_program(dir, {"--split-duration", "4.5", input, dir.path("time.mp4")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Done.\n");
    std::vector<std::string> parts = split_parts(dir, "time");
    ASSERT_EQ(parts.size(), 3u);  // 4 s, 4 s and the last 4 s: a fifth second would pass 4.5
    expect_parts_hold_the_input(input, parts);
  }
  {
    SCOPED_TRACE("by size");
    uint64_t size = read_whole_file(input).size();
    uint64_t limit_k = size / 3 / 1024;
    RunResult r = run_program(dir, {input, dir.path("size.mp4"), "--split-size", std::to_string(limit_k) + "K"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> parts = split_parts(dir, "size");
    ASSERT_GE(parts.size(), 3u);
    ASSERT_LE(parts.size(), 5u);
    // The engine's estimate leaves out a few hundred bytes of header, and the
    // last part takes the rest of the input whatever its size.
    for (size_t i = 0; i + 1 < parts.size(); ++i)
      EXPECT_LE(read_whole_file(parts[i]).size(), limit_k * 1024 * 102 / 100) << parts[i];
    expect_parts_hold_the_input(input, parts);
  }
}

// ffprobe's view of one stream: its packets' span in seconds.
double probe_seconds(const std::vector<ProbePacket>& packets, const ProbeStream& s) {
  if (packets.empty() || s.time_base_den == 0) return 0;
  int64_t end = packets.back().dts + packets.back().duration;
  return static_cast<double>(end - packets.front().dts) * s.time_base_num / s.time_base_den;
}

// ffprobe writes unprintable tag bytes as "[n]"; the four bytes it means.
std::string tag_bytes(const std::string& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    size_t close = text.find(']', i);
    if (text[i] == '[' && close != std::string::npos) {
      bytes.push_back(static_cast<char>(std::stoi(text.substr(i + 1, close - i - 1))));
      i = close;
    } else {
      bytes.push_back(text[i]);
    }
  }
  return bytes;
}

TEST(ProgramOptions, InfoAgreesWithFfprobe) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string video = "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 ";
  const std::string audio = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 ";
  struct Case {
    const char* name;
    const char* flavour;
    std::string args;
  };
  const Case cases[] = {
      {"h264.mp4", "mp4", video + audio + "-c:v libx264 -bf 2 -pix_fmt yuv420p -c:a aac -ac 2"},
      {"mpeg4.mp4", "mp4", video + audio + "-c:v mpeg4 -c:a libmp3lame -ac 1"},
      {"mono.m4a", "mp4", audio + "-c:a aac -ac 1"},
      {"surround.m4a", "mp4", audio + "-c:a aac -ac 6"},
      {"h264.mov", "quicktime", video + audio + "-c:v libx264 -pix_fmt yuv420p -c:a aac"},
      {"mjpeg.mov", "quicktime", video + audio + "-c:v mjpeg -pix_fmt yuvj420p -c:a pcm_s16be -ac 2"},
      {"mpeg4.avi", "avi", video + audio + "-c:v mpeg4 -c:a libmp3lame -ac 2"},
      {"mjpeg.avi", "avi", video + audio + "-c:v mjpeg -pix_fmt yuvj420p -c:a pcm_s16le -ac 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    std::string path = make_media(dir, c.name, c.args, &error);
    ASSERT_FALSE(path.empty()) << error;
    std::vector<ProbeStream> streams;
    std::vector<ProbePacket> packets;
    ASSERT_TRUE(probe_streams(path, &streams, "-ignore_editlist 1", &error)) << error;
    ASSERT_TRUE(probe_packets(path, &packets, "-ignore_editlist 1", false, &error)) << error;
    Json doc;
    ASSERT_TRUE(info_json(dir, path, &doc));
    EXPECT_EQ(doc["flavour"].text, c.flavour);
    EXPECT_FALSE(doc["headers_only"].boolean);
    const auto& tracks = doc["tracks"].items;
    ASSERT_EQ(tracks.size(), streams.size());
    for (size_t i = 0; i < streams.size(); ++i) {
      const ProbeStream& s = streams[i];
      const Json& t = tracks[i];
      SCOPED_TRACE(s.codec_name);
      std::string format = t["format"].text;
      if (t.get("format_tag") != nullptr) {
        // A WAVE format tag: ffprobe shows it as the little-endian code.
        std::string theirs = tag_bytes(s.codec_tag);
        ASSERT_EQ(theirs.size(), 4u);
        EXPECT_EQ(t["format_tag"].u64(), static_cast<uint8_t>(theirs[0]) | static_cast<uint8_t>(theirs[1]) << 8);
      } else if (std::string(c.flavour) == "avi") {
        // AVI streams are described in the form the import gives them.
        const std::map<std::string, std::string> forms = {
            {"mpeg4", "mp4v"}, {"mp3", "mp4a"}, {"mjpeg", "jpeg"}, {"pcm_s16le", "twos"}};
        ASSERT_EQ(forms.count(s.codec_name), 1u);
        EXPECT_EQ(format, forms.at(s.codec_name));
      } else {
        EXPECT_EQ(format, s.codec_tag);
      }
      std::vector<ProbePacket> mine = packets_of(packets, static_cast<int>(i));
      double ours = static_cast<double>(t["duration"].u64()) / static_cast<double>(t["time_scale"].u64());
      EXPECT_NEAR(ours, probe_seconds(mine, s), 1e-6) << "media duration";
      EXPECT_NEAR(t["duration_seconds"].number(), ours, 1e-6);
      if (s.codec_type == "video") {
        EXPECT_EQ(t["width"].u64(), static_cast<uint64_t>(s.width));
        EXPECT_EQ(t["height"].u64(), static_cast<uint64_t>(s.height));
      } else {
        EXPECT_EQ(t["sample_rate"].u64(), static_cast<uint64_t>(s.sample_rate));
        EXPECT_EQ(t["channels"].u64(), static_cast<uint64_t>(s.channels));
      }
      // PCM samples are grouped per chunk (QuickTime) or are the chunks
      // (AVI), where ffprobe counts single frames: the duration says enough.
      bool pcm = format == "twos" || (t.get("format_tag") != nullptr && t["format_tag"].u64() == 1);
      if (!pcm) {
        // An AVI may hold empty chunks (dropped frames, no samples), which
        // ffprobe counts in nb_frames but does not list as packets.
        uint64_t theirs = s.nb_frames >= 0 && std::string(c.flavour) != "avi" ? static_cast<uint64_t>(s.nb_frames)
                                                                              : mine.size();
        EXPECT_EQ(t["sample_count"].u64(), theirs);
      }
      // Measured over the samples: every track has some, so both rates are known and ordered.
      EXPECT_GT(t["average_bit_rate"].u64(), 0u);
      EXPECT_GE(t["maximum_bit_rate"].u64() * 1.001, static_cast<double>(t["average_bit_rate"].u64()));
      EXPECT_EQ(t["carried"].type, Json::Bool);
    }
  }
}

TEST(ProgramOptions, InfoOnTheSampleNamesChaptersTagsAndLeftOutTracks) {
  TempDir dir;
  Json doc;
  ASSERT_TRUE(info_json(dir, kSample, &doc));
  EXPECT_EQ(doc["flavour"].text, "mp4");
  EXPECT_EQ(doc["major_brand"].text, "isom");
  const auto& tracks = doc["tracks"].items;
  ASSERT_EQ(tracks.size(), 3u);
  EXPECT_EQ(tracks[0]["format"].text, "avc1");
  EXPECT_EQ(tracks[0]["width"].u64(), 320u);
  EXPECT_TRUE(tracks[0]["carried"].boolean);
  EXPECT_EQ(tracks[1]["format"].text, "mp4a");
  EXPECT_EQ(tracks[1]["sample_rate"].u64(), 48000u);
  EXPECT_TRUE(tracks[1]["carried"].boolean);
  // The chapter text track is carried too, as the remux does without a warning.
  EXPECT_EQ(tracks[2]["format"].text, "text");
  EXPECT_TRUE(tracks[2]["carried"].boolean);
  EXPECT_EQ(tracks[2].get("left_out_because"), nullptr);
  TempDir run_dir;
  RunResult remux = run_program(run_dir, {kSample, run_dir.path("out.mp4")});
  EXPECT_EQ(remux.err.find("left out"), std::string::npos) << remux.err;

  const auto& chapters = doc["chapters"].items;
  ASSERT_EQ(chapters.size(), 2u);
  EXPECT_EQ(chapters[0]["title"].text, "Opening");
  EXPECT_EQ(chapters[1]["title"].text, "Closing");
  EXPECT_EQ(chapters[1]["start_seconds"].text, "2.000000");
  bool title = false;
  for (const Json& tag : doc["tags"].items) {
    if (tag["name"].text == "title") {
      title = true;
      ASSERT_EQ(tag["values"].items.size(), 1u);
      EXPECT_EQ(tag["values"].items[0].text, "Vantorel sample");
    }
  }
  EXPECT_TRUE(title);

  // The text form tells the same.
  RunResult text = run_program(dir, {"--info", kSample});
  ASSERT_EQ(text.status, 0) << text.err;
  const std::string parts[] = {"Format: MP4, major brand isom",
                               "Track 1: handler vide, format avc1 (H.264), entry boxes avcC pasp btrt, 320x240",
                               "Track 3: handler text, format text",
                               "  2.000000 s  Closing\n",
                               "  title: Vantorel sample\n"};
  for (const std::string& part : parts)
    EXPECT_NE(text.out.find(part), std::string::npos) << part << "\n" << text.out;
}

TEST(ProgramOptions, InfoOnAsfHeadersMatchesInspectMode) {
  TempDir dir;
  std::string path = dir.path("hand.asf");
  write_file(path, asf_file());
  Json doc;
  ASSERT_TRUE(info_json(dir, path, &doc));
  EXPECT_EQ(doc["flavour"].text, "asf");
  EXPECT_TRUE(doc["headers_only"].boolean);

  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  ASSERT_EQ(media_open(&file, &params, kOpenInspect), ErrorCode::Ok);
  MovieInfo movie;
  ASSERT_EQ(movie_info(file, &movie), ErrorCode::Ok);
  EXPECT_EQ(doc["movie"]["duration"].u64(), movie.duration);
  const auto& tracks = doc["tracks"].items;
  ASSERT_EQ(tracks.size(), movie.track_count);
  TrackIterator* it = track_iterator_new(file, 0, 0);
  TrackInfo info;
  for (const Json& t : tracks) {
    ASSERT_EQ(track_iterator_next(it, &info), ErrorCode::Ok);
    SCOPED_TRACE(info.track_id);
    EXPECT_EQ(t["id"].u64(), info.track_id);
    EXPECT_EQ(t["format"].text, std::string(info.fourcc.c, 4));
    EXPECT_EQ(t["time_scale"].u64(), info.timescale);
    EXPECT_EQ(t["duration"].u64(), info.media_duration);
    if (t.get("width") != nullptr) {
      EXPECT_EQ(t["width"].u64(), info.width);
      EXPECT_EQ(t["height"].u64(), info.height);
    } else {
      EXPECT_EQ(t["sample_rate"].u64(), info.sample_rate);
      EXPECT_EQ(t["channels"].u64(), info.channel_count);
    }
    EXPECT_TRUE(t["sample_count"].is_null());
    EXPECT_TRUE(t["average_bit_rate"].is_null());
    EXPECT_FALSE(t["carried"].boolean);
  }
  EXPECT_EQ(track_iterator_next(it, &info), ErrorCode::NoMore);
  track_iterator_free(it);
  media_close(file);

  // The remux itself refuses the file.
  RunResult r = run_program(dir, {path, dir.path("out.mp4")});
  EXPECT_EQ(r.status, 1);
}

TEST(ProgramOptions, InfoFailuresExitWithOne) {
  TempDir dir;
  std::string junk = dir.path("junk.bin");
  write_file(junk, text("neither a movie nor anything else"));
  struct Case {
    std::string path;
    std::string in_message;
  };
  const Case cases[] = {
      {dir.path("missing.mp4"), std::strerror(ENOENT)},
      {dir.dir(), std::strerror(EISDIR)},
      // Named from its first bytes, not just "not a supported file".
      {junk, "is a text file; Vantorel reads MP4, QuickTime, AVI, Matroska, MPEG-TS and MPEG-PS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    for (const char* form : {"--info", "--json"}) {
      std::vector<std::string> args = {"--info", c.path};
      if (std::string(form) == "--json") args.insert(args.begin(), "--json");
      RunResult r = run_program(dir, args);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "");
      std::vector<std::string> err = lines_of(r.err);
      ASSERT_EQ(err.size(), 1u) << r.err;
      EXPECT_NE(err[0].find(c.in_message), std::string::npos) << err[0];
    }
  }
}

}  // namespace
}  // namespace vantorel
