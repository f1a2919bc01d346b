// Outputs are all or nothing, and no failure is silent: truncated inputs,
// interrupted and failed runs, split limits, foreign inputs and console
// write failures, with the built program and real files made by ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using test::lines_of;
using test::run_program;
using test::RunResult;
using test::slurp;
using test::TempDir;

bool make_with_ffmpeg(const std::string& arguments, const std::string& output, std::string* said) {
  return test::run_command("ffmpeg -nostdin -v error -y " + arguments + " " + test::shell_quote(output) + " 2>&1",
                           said) == 0;
}

// H.264 with B-frames (a sync sample each second) and AAC, 20 s, faststart.
std::string make_movie(const TempDir& dir, const char* name = "movie.mp4", const char* extra = "-movflags +faststart") {
  std::string path = dir.path(name);
  std::string said;
  if (!make_with_ffmpeg(std::string("-f lavfi -i testsrc=size=160x120:rate=25:duration=20 -f lavfi -i "
                                    "sine=frequency=440:sample_rate=44100:duration=20 -c:v libx264 -bf 2 -g 25 "
                                    "-c:a aac -b:a 64k ") +
                            extra,
                        path, &said))
    return "";
  return path;
}

std::vector<std::string> directory_entries(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != ".." && n != "stdout.txt" && n != "stderr.txt") names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool has_temporary(const std::string& dir) {
  for (const std::string& n : directory_entries(dir))
    if (n.find(".vantorel-") != std::string::npos) return true;
  return false;
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

uint32_t be32(const std::string& b, size_t at) {
  return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
         (uint32_t(uint8_t(b[at + 2])) << 8) | uint32_t(uint8_t(b[at + 3]));
}

// The movie header's duration in seconds; -1 without one.
double mvhd_seconds(const std::string& file) {
  std::string b = slurp(file);
  for (size_t at = 0; at + 8 <= b.size();) {
    uint64_t size = be32(b, at);
    if (size < 8) return -1;
    if (b.compare(at + 4, 4, "moov") == 0) {
      for (size_t in = at + 8; in + 8 <= at + size;) {
        uint32_t child = be32(b, in);
        if (child < 8) return -1;
        if (b.compare(in + 4, 4, "mvhd") == 0) {
          bool v1 = b[in + 8] == 1;
          uint32_t timescale = be32(b, in + (v1 ? 28 : 20));
          uint64_t duration = v1 ? (uint64_t(be32(b, in + 32)) << 32 | be32(b, in + 36)) : be32(b, in + 24);
          return timescale != 0 ? double(duration) / timescale : -1;
        }
        in += child;
      }
      return -1;
    }
    at += size;
  }
  return -1;
}

// The program started with its streams in files, killed or waited for by the test.
struct Child {
  pid_t pid = -1;
};

Child start_program(const TempDir& dir, const std::vector<std::string>& args, rlim_t file_size_limit = RLIM_INFINITY,
                    const std::string& stdout_path = "") {
  Child c;
  std::string out_path = stdout_path.empty() ? dir.path("stdout.txt") : stdout_path;
  std::string err_path = dir.path("stderr.txt");
  c.pid = fork();
  if (c.pid == 0) {
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    if (file_size_limit != RLIM_INFINITY) {
      rlimit limit{file_size_limit, file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    // The test may run with signals blocked or ignored: the program starts clean.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
    std::vector<char*> argv;
    std::string program = VANTOREL_EXE;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return c;
}

int wait_raw(const Child& c) {
  int status = 0;
  while (waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// ---- Truncated inputs -----------------------------------------------------------------

TEST(AllOrNothing, TruncatedInputIsRefusedWithTheFiguresAndSalvaged) {
  TempDir dir;
  std::string movie = make_movie(dir);
  if (movie.empty()) GTEST_SKIP() << "ffmpeg cannot make the input";
  std::string whole = slurp(movie);
  struct Case {
    const char* name;
    size_t keep;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {"half", whole.size() / 2, {"track 1 (vide) lacks its last", "track 2 (soun) lacks its last", " s)"}},
      {"one byte", whole.size() - 1, {"track 2 (soun) lacks its last 1 of "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string cut = dir.path("cut.mp4");
    write_file(cut, whole.substr(0, c.keep));
    RunResult refused = run_program(dir, {cut, dir.path("out.mp4")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(lines_of(refused.err).size(), 1u) << refused.err;
    EXPECT_NE(refused.err.find("'" + cut + "' is truncated: "), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("nothing was written"), std::string::npos) << refused.err;
    for (const std::string& s : c.said) EXPECT_NE(refused.err.find(s), std::string::npos) << refused.err;
    EXPECT_EQ(directory_entries(dir.dir()), std::vector<std::string>({"cut.mp4", "movie.mp4"}));

    RunResult salvaged = run_program(dir, {"--salvage", cut, dir.path("out.mp4")});
    EXPECT_EQ(salvaged.status, 0) << salvaged.err;
    EXPECT_EQ(salvaged.out, "Done.\n");
    EXPECT_NE(salvaged.err.find("warning: '" + cut + "' is truncated: "), std::string::npos) << salvaged.err;
    for (const std::string& s : c.said) EXPECT_NE(salvaged.err.find(s), std::string::npos) << salvaged.err;
    // What the cut file holds, whole samples only: ffprobe reads the output.
    std::string probe_said;
    EXPECT_EQ(test::run_command("ffprobe -v error " + test::shell_quote(dir.path("out.mp4")) + " 2>&1", &probe_said),
              0)
        << probe_said;
    EXPECT_EQ(probe_said, "");
    std::remove(dir.path("out.mp4").c_str());
  }
  // Half of it: the figures add up to what the whole file has.
  write_file(dir.path("cut.mp4"), whole.substr(0, whole.size() / 2));
  RunResult r = run_program(dir, {dir.path("cut.mp4"), dir.path("out.mp4")});
  unsigned missing = 0, total = 0;
  size_t at = r.err.find("track 1 (vide) lacks its last ");
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(std::sscanf(r.err.c_str() + at, "track 1 (vide) lacks its last %u of %u", &missing, &total), 2);
  EXPECT_EQ(total, 500u);
  EXPECT_GT(missing, 100u);
  EXPECT_LT(missing, 400u);
}

TEST(AllOrNothing, AFileCutBeforeItsMovieHeaderSaysSo) {
  TempDir dir;
  std::string movie = make_movie(dir, "late.mp4", "");  // ffmpeg's default: the header at the end
  if (movie.empty()) GTEST_SKIP() << "ffmpeg cannot make the input";
  std::string whole = slurp(movie);
  ASSERT_NE(whole.find("moov"), std::string::npos);
  ASSERT_GT(whole.find("moov"), whole.find("mdat"));
  write_file(dir.path("cut.mp4"), whole.substr(0, whole.size() / 2));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{dir.path("cut.mp4"), dir.path("out.mp4")},
        std::vector<std::string>{"--info", dir.path("cut.mp4")}}) {
    RunResult r = run_program(dir, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no movie header ('moov'): the file may be truncated or still being written"),
              std::string::npos)
        << r.err;
  }
  EXPECT_FALSE(std::ifstream(dir.path("out.mp4")).good());
}

// ---- Interrupted and failed runs ------------------------------------------------------

// A long remux: about 150 MB of noise pictures, so that a signal finds it writing.
std::string make_large_movie(const TempDir& dir) {
  std::string small = dir.path("noise.mp4");
  std::string said;
  if (!make_with_ffmpeg("-f lavfi -i nullsrc=size=640x360:rate=25:duration=2 -vf 'geq=random(1)*255:128:128' "
                        "-c:v libx264 -preset ultrafast -qp 0 -g 25",
                        small, &said))
    return "";
  std::string large = dir.path("large.mp4");
  if (!make_with_ffmpeg("-stream_loop 12 -i " + test::shell_quote(small) + " -c copy -movflags +faststart", large,
                        &said))
    return "";
  std::remove(small.c_str());
  return large;
}

// Size of the temporary file in `dir`, -1 while there is none.
long long temporary_size(const std::string& dir) {
  for (const std::string& n : directory_entries(dir)) {
    if (n.find(".vantorel-") == std::string::npos) continue;
    struct stat info {};
    if (stat((dir + "/" + n).c_str(), &info) == 0) return info.st_size;
  }
  return -1;
}

TEST(AllOrNothing, ASignalLeavesTheEarlierOutputAsItWas) {
  TempDir dir;
  std::string input = make_large_movie(dir);
  if (input.empty()) GTEST_SKIP() << "ffmpeg cannot make the input";
  std::string output = dir.path("out.mp4");
  const std::string earlier = "an earlier output that must survive\n";
  struct Case {
    int signal_number;
    long long when;  // temporary file size to wait for: 0 the first write
  };
  const Case cases[] = {{SIGINT, 1}, {SIGTERM, 1}, {SIGHUP, 1}, {SIGINT, 40 << 20}, {SIGTERM, 80 << 20}};
  int signalled = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.signal_number)) + " at " + std::to_string(c.when));
    write_file(output, earlier);
    Child child = start_program(dir, {"--force", input, output});
    ASSERT_GT(child.pid, 0);
    bool seen = false;
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < give_up) {
      if (temporary_size(dir.dir()) >= c.when) {
        seen = true;
        break;
      }
      int status = 0;
      if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
        child.pid = -1;
        break;
      }
      // Not a busy wait: on a small machine that would take the core the run needs.
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    if (child.pid < 0 || !seen) {
      // The run ended first: then it must have succeeded whole.
      if (child.pid > 0) wait_raw(child);
      continue;
    }
    kill(child.pid, c.signal_number);
    int status = wait_raw(child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) continue;  // it was renaming already
    ++signalled;
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), c.signal_number);
    EXPECT_EQ(slurp(output), earlier);
    EXPECT_FALSE(has_temporary(dir.dir()));
    std::string err = slurp(dir.path("stderr.txt"));
    EXPECT_NE(err.find(std::string("stopped by ") + (c.signal_number == SIGINT    ? "SIGINT"
                                                     : c.signal_number == SIGTERM ? "SIGTERM"
                                                                                  : "SIGHUP")),
              std::string::npos)
        << err;
  }
  EXPECT_GT(signalled, 0) << "every run ended before its signal";
  // Left alone, the same run replaces the output.
  RunResult r = run_program(dir, {"--quiet", "--force", input, output});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_GT(slurp(output).size(), 1000000u);
  EXPECT_FALSE(has_temporary(dir.dir()));
}

TEST(AllOrNothing, AFullDiskLeavesNothingNewBehind) {
  TempDir dir;
  std::string input = make_movie(dir);
  if (input.empty()) GTEST_SKIP() << "ffmpeg cannot make the input";
  std::string output = dir.path("out.mp4");
  const std::string earlier = "an earlier output\n";
  write_file(output, earlier);
  // A file-size limit below the output's size: the write fails with EFBIG.
  Child child = start_program(dir, {"--force", input, output}, 100000);
  int status = wait_raw(child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::string err = slurp(dir.path("stderr.txt"));
  EXPECT_NE(err.find("cannot write '" + output + "'"), std::string::npos) << err;
  EXPECT_EQ(slurp(output), earlier);
  EXPECT_EQ(directory_entries(dir.dir()), std::vector<std::string>({"movie.mp4", "out.mp4"}));
  // A new name is not created at all.
  child = start_program(dir, {input, dir.path("new.mp4")}, 100000);
  status = wait_raw(child);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(directory_entries(dir.dir()), std::vector<std::string>({"movie.mp4", "out.mp4"}));
  // An empty file, written in place, is emptied again.
  write_file(dir.path("empty.mp4"), "");
  child = start_program(dir, {input, dir.path("empty.mp4")}, 100000);
  status = wait_raw(child);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(slurp(dir.path("empty.mp4")), "");
  EXPECT_EQ(directory_entries(dir.dir()), std::vector<std::string>({"empty.mp4", "movie.mp4", "out.mp4"}));
}

TEST(AllOrNothing, ARefusedThirdSplitNameLeavesNoPartBehind) {
  TempDir dir;
  std::string input = make_movie(dir);
  if (input.empty()) GTEST_SKIP() << "ffmpeg cannot make the input";
  ASSERT_EQ(link(input.c_str(), dir.path("part_2.mp4").c_str()), 0);
  std::string before = slurp(input);
  RunResult r = run_program(dir, {"--split-duration", "5", input, dir.path("part.mp4")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("refusing to write '" + dir.path("part_2.mp4") + "'"), std::string::npos) << r.err;
  EXPECT_EQ(directory_entries(dir.dir()), std::vector<std::string>({"movie.mp4", "part_2.mp4"}));
  EXPECT_EQ(slurp(input), before);
}

TEST(AllOrNothing, OutputsKeepTheirLinksAndDevicesAreWrittenInPlace) {
  TempDir dir;
  std::string input = make_movie(dir);
  if (input.empty()) GTEST_SKIP() << "ffmpeg cannot make the input";
  write_file(dir.path("target.mp4"), "old");
  ASSERT_EQ(symlink("target.mp4", dir.path("link.mp4").c_str()), 0);
  RunResult r = run_program(dir, {"--quiet", "--force", input, dir.path("link.mp4")});
  EXPECT_EQ(r.status, 0) << r.err;
  struct stat info {};
  ASSERT_EQ(lstat(dir.path("link.mp4").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_GT(slurp(dir.path("target.mp4")).size(), 100000u);
  RunResult null = run_program(dir, {"--quiet", input, "/dev/null"});
  EXPECT_EQ(null.status, 0) << null.err;
  EXPECT_EQ(null.out, "");
  EXPECT_FALSE(has_temporary("/dev"));
}

// ---- Split limits -----------------------------------------------------------------------

TEST(AllOrNothing, SplitPartsKeepTheirLimits) {
  TempDir dir;
  std::string movie = make_movie(dir);
  std::string audio = dir.path("audio.m4a");
  std::string gop = dir.path("gop.mp4");
  std::string said;
  if (movie.empty() ||
      !make_with_ffmpeg("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=5 -c:a aac -b:a 64k", audio,
                        &said) ||
      !make_with_ffmpeg("-f lavfi -i testsrc=size=160x120:rate=25:duration=6 -c:v libx264 -g 1000 -keyint_min 1000 "
                        "-sc_threshold 0",
                        gop, &said))
    GTEST_SKIP() << "ffmpeg cannot make the inputs: " << said;
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> option;
    uint64_t size_limit;    // 0: by duration
    double duration_limit;  // seconds
    size_t at_least_parts;
  };
  const Case cases[] = {
      {"audio by size", audio, {"--split-size", "8K"}, 8192, 0, 4},
      {"audio by duration", audio, {"--split-duration", "1.5"}, 0, 1.5, 3},
      {"video and audio by size", movie, {"--split-size", "40K"}, 40960, 0, 3},
      {"video and audio by duration", movie, {"--split-duration", "2"}, 0, 2.0, 9},
      {"video and audio by 3.5 s", movie, {"--split-duration", "3.5"}, 0, 3.5, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir out;
    std::vector<std::string> args = c.option;
    args.push_back(c.input);
    args.push_back(out.path("part.mp4"));
    RunResult r = run_program(out, args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> parts = directory_entries(out.dir());
    EXPECT_GE(parts.size(), c.at_least_parts);
    for (const std::string& p : parts) {
      SCOPED_TRACE(p);
      if (c.size_limit != 0) {
        EXPECT_LE(slurp(out.path(p)).size(), c.size_limit);
      } else {
        double seconds = mvhd_seconds(out.path(p));
        EXPECT_GT(seconds, 0);
        EXPECT_LE(seconds, c.duration_limit);
      }
    }
  }
  // One group of pictures longer than the limit: one part, and a warning.
  for (const std::vector<std::string>& option :
       {std::vector<std::string>{"--split-duration", "2"}, std::vector<std::string>{"--split-size", "8K"}}) {
    TempDir out;
    std::vector<std::string> args = option;
    args.push_back(gop);
    args.push_back(out.path("part.mp4"));
    RunResult r = run_program(out, args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(directory_entries(out.dir()), std::vector<std::string>({"part.mp4"}));
    EXPECT_NE(r.err.find("warning: part 1 ('" + out.path("part.mp4") + "')"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(option[0] == "--split-size" ? "above the --split-size limit of 8192 bytes"
                                                     : "lasts 6.000 s, above the --split-duration limit of 2.000 s"),
              std::string::npos)
        << r.err;
  }
}

TEST(AllOrNothing, PartsLeftFromAnEarlierSplitAreNamed) {
  TempDir dir;
  std::string movie = make_movie(dir);
  if (movie.empty()) GTEST_SKIP() << "ffmpeg cannot make the input";
  TempDir out;
  RunResult many = run_program(out, {"--split-duration", "2", movie, out.path("p.mp4")});
  ASSERT_EQ(many.status, 0) << many.err;
  size_t before = directory_entries(out.dir()).size();
  ASSERT_GE(before, 9u);
  RunResult fewer = run_program(out, {"--force", "--split-duration", "5", movie, out.path("p.mp4")});
  ASSERT_EQ(fewer.status, 0) << fewer.err;
  EXPECT_EQ(directory_entries(out.dir()).size(), before);  // nothing deleted
  size_t written = 0;
  while (fewer.err.find("'" + out.path("p_" + std::to_string(written + 1) + ".mp4") + "' is left") ==
         std::string::npos &&
         written < before)
    ++written;
  // Every part from the new count on is named, and none before it.
  EXPECT_GE(written, 3u);
  EXPECT_EQ(lines_of(fewer.err).size(), before - written - 1) << fewer.err;
  EXPECT_NE(fewer.err.find("is left from an earlier run"), std::string::npos) << fewer.err;
}

// ---- Inputs that are not ours ---------------------------------------------------------

TEST(AllOrNothing, ForeignInputsAreNamed) {
  TempDir dir;
  std::string movie = make_movie(dir);
  if (movie.empty()) GTEST_SKIP() << "ffmpeg cannot make the input";
  struct Case {
    const char* file;
    const char* ffmpeg;  // null: written by the test
    const char* said;
  };
  const Case cases[] = {
      {"f.wav", "-t 1 -vn", "is a WAV file"},
      {"f.mp3", "-t 1 -vn -c:a libmp3lame", "is an MP3 file"},
      {"f.flac", "-t 1 -vn", "is a FLAC file"},
      {"f.ogg", "-t 1 -vn -c:a libvorbis", "is an Ogg file"},
      {"f.png", "-frames:v 1", "is a PNG image"},
      {"f.jpg", "-frames:v 1", "is a JPEG image"},
      {"f.txt", nullptr, "is a text file"},
      {"f.empty", nullptr, "is an empty file"},
      {"f.random", nullptr, "is not a file Vantorel reads (MP4, QuickTime, AVI, Matroska, MPEG-TS or MPEG-PS)"},
  };
  write_file(dir.path("f.txt"), "a list of things to do\n1. remux\n");
  write_file(dir.path("f.empty"), "");
  std::string random_bytes;
  for (int i = 0; i < 4096; ++i) random_bytes += char((i * 2654435761u) >> 13);
  write_file(dir.path("f.random"), random_bytes);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string path = dir.path(c.file);
    std::string said;
    if (c.ffmpeg != nullptr && !make_with_ffmpeg("-i " + test::shell_quote(movie) + " " + c.ffmpeg, path, &said)) {
      ADD_FAILURE() << "ffmpeg: " << said;
      continue;
    }
    RunResult r = run_program(dir, {path, dir.path("out.mp4")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Vantorel: '" + path + "' " + c.said +
                         (std::string(c.said).rfind("is not", 0) == 0 ? "\n"
                                                                       : "; Vantorel reads MP4, QuickTime, AVI, Matroska, MPEG-TS and MPEG-PS\n"));
    RunResult info = run_program(dir, {"--info", path});
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.err.find(c.said), std::string::npos) << info.err;
  }
  EXPECT_FALSE(std::ifstream(dir.path("out.mp4")).good());
  // Transport and program streams are no longer foreign: they are read and remuxed.
  const Case streams[] = {{"f.ts", "-t 1 -c copy -f mpegts", nullptr},
                          {"f.mpg", "-t 1 -c:v mpeg2video -c:a mp2 -f vob", nullptr}};
  for (const Case& c : streams) {
    SCOPED_TRACE(c.file);
    std::string path = dir.path(c.file), said, out = dir.path(std::string(c.file) + ".mp4");
    ASSERT_TRUE(make_with_ffmpeg("-i " + test::shell_quote(movie) + " " + c.ffmpeg, path, &said)) << said;
    RunResult r = run_program(dir, {path, out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::ifstream(out).good());
  }
}

TEST(AllOrNothing, APipeIsNotSeekable) {
  TempDir dir;
  std::string fifo = dir.path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{fifo, dir.path("out.mp4")}, std::vector<std::string>{"--info", fifo}}) {
    RunResult r = run_program(dir, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Vantorel: '" + fifo + "': the input must be seekable (a file, not a pipe)\n");
  }
  EXPECT_FALSE(std::ifstream(dir.path("out.mp4")).good());
}

// ---- The console ----------------------------------------------------------------------

TEST(AllOrNothing, AFullConsoleIsAFailure) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  TempDir dir;
  std::string sample = std::string(VANTOREL_SOURCE_DIR) + "/samples/sample.mp4";
  // Where nothing is written but the console, losing it fails the run.
  const std::vector<std::vector<std::string>> lines = {
      {"--info", "--json", sample}, {"--info", sample}, {"--help"}, {"--version"}, {}};
  for (const auto& args : lines) {
    std::string trace;
    for (const auto& a : args) trace += a + " ";
    SCOPED_TRACE(trace);
    Child child = start_program(dir, args, RLIM_INFINITY, "/dev/full");
    int status = wait_raw(child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(slurp(dir.path("stderr.txt")).find("cannot write to standard output"), std::string::npos);
  }
}

TEST(AllOrNothing, QuietPrintsNothingOnSuccess) {
  TempDir dir;
  std::string sample = std::string(VANTOREL_SOURCE_DIR) + "/samples/sample.mp4";
  RunResult r = run_program(dir, {"--quiet", sample, dir.path("out.mp4")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_GT(slurp(dir.path("out.mp4")).size(), 50000u);
}

}  // namespace
}  // namespace vantorel

namespace vantorel {
namespace {

// ---- --info tells the truth ------------------------------------------------------------

// The file with every 'mdhd' language field set to `code`.
std::string with_language(std::string bytes, uint16_t code) {
  for (size_t at = bytes.find("mdhd"); at != std::string::npos; at = bytes.find("mdhd", at + 4)) {
    size_t box = at - 4;
    if (bytes[box + 8] != 0) continue;  // version 0 only
    bytes[box + 28] = static_cast<char>(code >> 8);
    bytes[box + 29] = static_cast<char>(code & 0xFF);
  }
  return bytes;
}

TEST(InfoTruth, ChannelsLanguagesPcmCountsAndBitRates) {
  TempDir dir;
  std::string said;
  // Channels by the codec configuration ('dac3', 'dec3', 'dOps', 'dfLa',
  // 'alac', 'chan'), whatever the sample entry's own count says.
  struct ChannelCase {
    const char* file;
    const char* codec;
    const char* layout;  // the channels, as ffmpeg options for the shell
    const char* shown;
  };
  const ChannelCase channel_cases[] = {
      {"ac3.mp4", "ac3", "-ac 1", ", 1 channel, "},
      {"ac3six.mp4", "ac3", "-af 'pan=5.1|c0=c0'", ", 6 channels, "},
      {"eac3.mp4", "eac3", "-ac 1", ", 1 channel, "},
      {"opus.mp4", "libopus", "-ac 1", ", 1 channel, "},
      {"flac.mp4", "flac -strict -2", "-ac 1", ", 1 channel, "},
      {"alac.m4a", "alac", "-ac 1", ", 1 channel, "},
      {"sowt.mov", "pcm_s16le", "-af 'pan=5.1|c0=c0'", ", 6 channels, "},
  };
  for (const ChannelCase& c : channel_cases) {
    SCOPED_TRACE(c.file);
    std::string path = dir.path(c.file);
    if (!make_with_ffmpeg(std::string("-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 ") + c.layout +
                              " -c:a " + c.codec,
                          path, &said)) {
      ADD_FAILURE() << "ffmpeg: " << said;
      continue;
    }
    RunResult r = run_program(dir, {"--info", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(c.shown), std::string::npos) << r.out;
  }
  std::string pcm = dir.path("pcm.mov");
  if (!make_with_ffmpeg("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 -ac 1 -c:a pcm_s16be", pcm,
                        &said))
    GTEST_SKIP() << "ffmpeg cannot make the input: " << said;
  // PCM counts its samples in frames: 3 s at 44.1 kHz.
  RunResult p = run_program(dir, {"--info", pcm});
  ASSERT_EQ(p.status, 0) << p.err;
  EXPECT_NE(p.out.find(", 132300 samples, "), std::string::npos) << p.out;
  // 16 bits of one channel at 44.1 kHz.
  EXPECT_NE(p.out.find(" 705600 bit/s average"), std::string::npos) << p.out;
  // Language 0 is the Macintosh code for English; 0x7FFF is QuickTime's unspecified.
  std::string bytes = slurp(pcm);
  struct Case {
    uint16_t code;
    const char* shown;
  };
  for (const Case& c : {Case{0, "language eng"}, Case{0x7FFF, "language und"}}) {
    SCOPED_TRACE(c.code);
    write_file(dir.path("lang.mov"), with_language(bytes, c.code));
    RunResult r = run_program(dir, {"--info", dir.path("lang.mov")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(c.shown), std::string::npos) << r.out;
  }
}

}  // namespace
}  // namespace vantorel
