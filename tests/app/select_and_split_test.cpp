// Track selection and split parts with the built program and files made by
// ffmpeg: --tracks and --drop as ffprobe sees the outputs, the lists the
// program refuses, and split parts that each start with a picture and play.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

std::vector<std::string> mp4s_in(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.size() > 4 && n.compare(n.size() - 4, 4, ".mp4") == 0) names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> stream_kinds(const std::string& path) {
  std::vector<ProbeStream> streams;
  std::vector<std::string> kinds;
  if (!probe_streams(path, &streams)) return {"(ffprobe failed)"};
  for (const ProbeStream& s : streams) kinds.push_back(s.codec_type);
  return kinds;
}

size_t warning_lines(const std::string& err) {
  size_t n = 0;
  for (const std::string& line : lines_of(err)) n += line.find("warning:") != std::string::npos;
  return n;
}

// Video (track 1), two sound tracks (2, 3), timed text (4) and the
// chapter track ffmpeg adds (5), which every other track names.
std::string make_five_tracks(const TempDir& dir) {
  std::string chapters = dir.path("chapters.txt"), subtitles = dir.path("s.srt");
  std::string said;
  std::string write = "printf ';FFMETADATA1\\n[CHAPTER]\\nTIMEBASE=1/1000\\nSTART=0\\nEND=1000\\ntitle=One\\n"
                      "[CHAPTER]\\nTIMEBASE=1/1000\\nSTART=1000\\nEND=2000\\ntitle=Two\\n' > " +
                      shell_quote(chapters) +
                      " && printf '1\\n00:00:00,000 --> 00:00:01,000\\nhello\\n\\n2\\n00:00:01,000 --> "
                      "00:00:02,000\\nworld\\n' > " +
                      shell_quote(subtitles);
  if (run_command(write, &said) != 0) return "";
  return make_media(dir, "five.mp4",
                    "-f lavfi -i testsrc=size=64x48:rate=10:duration=2 -f lavfi -i sine=frequency=440:duration=2 "
                    "-f lavfi -i sine=frequency=880:duration=2 -i " +
                        shell_quote(subtitles) + " -i " + shell_quote(chapters) +
                        " -map 0 -map 1 -map 2 -map 3 -map_chapters 4 -c:v libx264 -c:a aac -c:s mov_text",
                    &said);
}

TEST(SelectAndSplit, TracksAndDropKeepTracksByIdAndByKind) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string in = make_five_tracks(dir);
  if (in.empty()) GTEST_SKIP() << "ffmpeg cannot make the input";
  ASSERT_EQ(stream_kinds(in), (std::vector<std::string>{"video", "audio", "audio", "subtitle", "data"}));
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> kinds;  // the output's streams, as ffprobe lists them
  };
  const Case cases[] = {
      {{}, {"video", "audio", "audio", "subtitle", "data"}},
      {{"--tracks", "1"}, {"video", "data"}},
      {{"--tracks", "audio"}, {"audio", "audio", "data"}},
      {{"--tracks=video,3"}, {"video", "audio", "data"}},
      {{"--tracks", "Subtitle,2"}, {"audio", "subtitle", "data"}},
      {{"--drop", "video"}, {"audio", "audio", "subtitle", "data"}},
      {{"--drop", "2,subtitle"}, {"video", "audio", "data"}},
      {{"--drop", "5"}, {"video", "audio", "audio", "subtitle"}},
      {{"--drop", "data"}, {"video", "audio", "audio", "subtitle", "data"}},  // the chapter track stays
  };
  for (const Case& c : cases) {
    std::string name;
    for (const std::string& o : c.options) name += o + " ";
    SCOPED_TRACE(name);
    TempDir out;
    std::vector<std::string> args = c.options;
    args.push_back("--verify");  // the kept tracks, every sample, and no other track
    args.push_back(in);
    args.push_back(out.path("out.mp4"));
    RunResult r = run_program(out, args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(warning_lines(r.err), 0u) << r.err;
    EXPECT_EQ(stream_kinds(out.path("out.mp4")), c.kinds);
    EXPECT_NE(r.out.find("verified: " + std::to_string(c.kinds.size()) + " tracks"), std::string::npos) << r.out;
    // The chapters are still the movie's, whichever tracks named them.
    std::string chapters;
    run_command("ffprobe -v error -show_entries chapter=start_time -of csv=p=0 " + shell_quote(out.path("out.mp4")),
                &chapters);
    EXPECT_EQ(lines_of(chapters).size(), 2u) << chapters;
    // References rewritten or moved still make a file that plays.
    if (&c == &cases[6]) {
      std::string said;
      EXPECT_EQ(
          run_command("ffmpeg -nostdin -v error -i " + shell_quote(out.path("out.mp4")) + " -f null - 2>&1", &said), 0);
      EXPECT_EQ(said, "");
    }
  }
}

// An audio name warns of video only when the output keeps some.
TEST(SelectAndSplit, AnAudioNameWarnsOfTheVideoKept) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string in = make_five_tracks(dir);
  if (in.empty()) GTEST_SKIP() << "ffmpeg cannot make the input";
  const struct {
    const char* option;
    const char* list;
    size_t warnings;
  } cases[] = {{"--drop", "video", 0}, {"--tracks", "audio", 0}, {"--tracks", "1,2", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    TempDir out;
    RunResult r = run_program(out, {c.option, c.list, in, out.path("out.m4a")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(warning_lines(r.err), c.warnings) << r.err;
  }
}

TEST(SelectAndSplit, ListsThatCannotBeMetAreMistakes) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string in = make_five_tracks(dir);
  if (in.empty()) GTEST_SKIP() << "ffmpeg cannot make the input";
  struct Case {
    std::vector<std::string> options;
    std::string said;  // in the message
  };
  const Case cases[] = {
      {{"--tracks", "9"}, "has no track 9 (--tracks 9)"},
      {{"--drop", "audio,12"}, "has no track 12 (--drop audio,12)"},
      {{"--drop", "video,audio,subtitle"}, "--drop video,audio,subtitle leaves no track of"},
      {{"--tracks", "5"}, "--tracks 5 leaves no track of"},  // the chapter track alone
      {{"--tracks", "sound"}, "bad track 'sound' for --tracks"},
      {{"--drop", "1,,2"}, "bad track '' for --drop"},
      {{"--tracks", "0"}, "bad track '0' for --tracks"},
      {{"--tracks", "4294967296"}, "bad track '4294967296'"},
      {{"--tracks", "1", "--drop", "2"}, "give --tracks or --drop, once"},
      {{"--info", "--drop", "2"}, "--info describes every track, so it takes no --drop"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    TempDir out;
    std::vector<std::string> args = c.options;
    args.push_back(in);
    if (c.options[0] != "--info") args.push_back(out.path("out.mp4"));
    RunResult r = run_program(out, args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_EQ(mp4s_in(out.dir()), std::vector<std::string>{});
  }
}

// Every part starts with a video sync sample, holds video and decodes
// without a word from ffmpeg.
void expect_playable_parts(const TempDir& out, const std::vector<std::string>& parts) {
  for (const std::string& part : parts) {
    SCOPED_TRACE(part);
    std::vector<ProbePacket> packets;
    std::vector<ProbeStream> streams;
    ASSERT_TRUE(probe_packets(out.path(part), &packets, "", false));
    ASSERT_TRUE(probe_streams(out.path(part), &streams));
    int video = -1;
    for (const ProbeStream& s : streams)
      if (s.codec_type == "video") video = s.index;
    ASSERT_NE(video, -1) << "no video stream";
    std::vector<ProbePacket> pictures = packets_of(packets, video);
    ASSERT_FALSE(pictures.empty());
    EXPECT_TRUE(pictures.front().key);
    std::string said;
    EXPECT_EQ(run_command("ffmpeg -nostdin -v error -i " + shell_quote(out.path(part)) + " -f null - 2>&1", &said), 0);
    EXPECT_EQ(said, "");
  }
}

TEST(SelectAndSplit, EveryPartStartsWithAPictureAndPlays) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string said;
  // Sound 21 ms ahead of the first picture, as recorders write it; a key
  // frame each second, or one for the whole file.
  auto recording = [&](const char* name, const char* gop) {
    return make_media(dir, name,
                      std::string("-itsoffset 0.021 -f lavfi -i testsrc=size=160x120:rate=25:duration=4 -f lavfi -i "
                                  "sine=frequency=440:sample_rate=48000:duration=4.021 -c:v libx264 -b:v 400k ") +
                          gop + " -sc_threshold 0 -c:a aac",
                      &said);
  };
  const std::string ahead = recording("ahead.mkv", "-g 25 -keyint_min 25");
  const std::string single = recording("single.mkv", "-g 1000 -keyint_min 1000");
  if (ahead.empty() || single.empty()) GTEST_SKIP() << "ffmpeg cannot make the inputs: " << said;
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> option;
    size_t parts;
    // The one warning: what comes before the first part's name and after
    // it; null for no warning.
    const char* before;
    const char* after;
  };
  const Case cases[] = {
      // The first part holds the sound before the first picture and the
      // first second of pictures: just above the limit, as are parts whose
      // last sound frame reaches past the next picture.
      {"sound ahead, by 1 s", ahead, {"--split-duration", "1"}, 4, "parts 1 ('", "', 1.0"},
      {"sound ahead, by 2 s", ahead, {"--split-duration", "2"}, 3, nullptr, nullptr},
      {"sound ahead, by size", ahead, {"--split-size", "60K"}, 4, nullptr, nullptr},
      {"one key frame, by size", single, {"--split-size", "100K"}, 1, "part 1 ('", "') is "},
      {"one key frame, by duration", single, {"--split-duration", "1"}, 1, "part 1 ('", "') lasts 4."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir out;
    std::vector<std::string> args = c.option;
    args.push_back(c.input);
    args.push_back(out.path("part.mp4"));
    RunResult r = run_program(out, args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> parts = mp4s_in(out.dir());
    EXPECT_EQ(parts.size(), c.parts);
    expect_playable_parts(out, parts);
    EXPECT_EQ(warning_lines(r.err), c.before != nullptr ? 1u : 0u) << r.err;
    if (c.before != nullptr) {
      EXPECT_NE(r.err.find("warning: " + std::string(c.before) + out.path("part.mp4") + c.after), std::string::npos)
          << r.err;
      EXPECT_NE(r.err.find(c.option[0] + " limit of"), std::string::npos) << r.err;
    }
  }
}

// Groups of pictures longer than the limit: every part is above it, and one
// warning names them all with their durations.
TEST(SelectAndSplit, PartsAboveTheLimitAreNamedInOneWarning) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string said;
  const std::string in = make_media(dir, "gop.mp4",
                                    "-f lavfi -i testsrc=size=64x48:rate=25:duration=6 -c:v libx264 -bf 0 -g 50 "
                                    "-keyint_min 50 -sc_threshold 0",
                                    &said);
  if (in.empty()) GTEST_SKIP() << "ffmpeg cannot make the input: " << said;
  TempDir out;
  RunResult r = run_program(out, {"--split-duration", "1", in, out.path("p.mp4")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(mp4s_in(out.dir()).size(), 3u);
  EXPECT_EQ(warning_lines(r.err), 1u) << r.err;
  const std::string expected = "warning: parts 1 ('" + out.path("p.mp4") + "', 2.000 s), 2 ('" + out.path("p_1.mp4") +
                               "', 2.000 s) and 3 ('" + out.path("p_2.mp4") +
                               "', 2.000 s) are above the --split-duration limit of 1.000 s";
  EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vantorel
