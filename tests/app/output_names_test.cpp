// What the program does with the names it writes to, run as a user runs
// it: existing files are not replaced without --force, output names of
// other kinds are mistakes, standard output's names are standard output,
// the closing line comes after the outputs are in place, and temporary
// files of killed runs are removed.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "app/temporary_files.h"
#include "support/ffprobe.h"
#include "support/md5.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using test::run_command;
using test::run_program;
using test::RunResult;
using test::shell_quote;
using test::slurp;
using test::TempDir;

const std::string kSample = std::string(VANTOREL_SOURCE_DIR) + "/samples/sample.mp4";
const std::string kEpoch = "SOURCE_DATE_EPOCH=1700000000 ";

std::string program() { return shell_quote(VANTOREL_EXE); }

std::string checksum(const std::string& path) {
  std::string bytes = slurp(path);
  return test::md5_hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void write_file(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != ".." && n != "stdout.txt" && n != "stderr.txt") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The major brand of the file's 'ftyp', or "" when it does not start with one.
std::string major_brand(const std::string& path) {
  std::string b = slurp(path);
  return b.size() >= 12 && b.compare(4, 4, "ftyp") == 0 ? b.substr(8, 4) : "";
}

// Two short recordings of one kind, as a camera or a screen recorder leaves them.
bool make_pair(const TempDir& dir, const std::string& a, const std::string& b, const std::string& codecs) {
  for (const std::string& name : {a, b}) {
    std::string error;
    if (test::make_media(dir, name,
                         "-f lavfi -i testsrc=size=96x64:rate=10:duration=1 -f lavfi -i "
                         "sine=frequency=440:sample_rate=8000:duration=1 " + codecs,
                         &error)
            .empty())
      return false;
  }
  return true;
}

TEST(OutputNames, AnExistingFileIsNotReplacedWithoutForce) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  ASSERT_TRUE(make_pair(dir, "rec1.mkv", "rec2.mkv", "-c:v mpeg4 -c:a aac"));
  ASSERT_TRUE(make_pair(dir, "CAM1.MP4", "CAM2.MP4", "-c:v mpeg4 -c:a aac"));
  write_file(dir.path("notes.mp4"), "a list of things to do\n");
  struct Case {
    const char* input;
    const char* output;  // what `vantorel *.mkv` and `vantorel *.MP4` make of two files
    const char* kind;
  };
  const Case cases[] = {
      {"rec1.mkv", "rec2.mkv", "a Matroska file"},
      {"CAM1.MP4", "CAM2.MP4", "an MP4 file"},
      {"CAM1.MP4", "notes.mp4", "a text file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    const std::string in = dir.path(c.input), out = dir.path(c.output);
    const std::string in_sum = checksum(in), out_sum = checksum(out);
    const std::vector<std::string> before = entries(dir.dir());
    RunResult refused = run_program(dir, {in, out});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Vantorel: '" + out + "' exists (" + c.kind + "): not replaced; use --force\n");
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(checksum(in), in_sum);
    EXPECT_EQ(checksum(out), out_sum);
    EXPECT_EQ(entries(dir.dir()), before);  // no temporary file either
  }
  // --force (or -y) replaces it; the input stays as it was.
  for (const char* force : {"--force", "-y"}) {
    SCOPED_TRACE(force);
    const std::string in = dir.path("CAM1.MP4"), out = dir.path("CAM2.MP4");
    write_file(out, "what an earlier run left");
    const std::string in_sum = checksum(in), out_sum = checksum(out);
    RunResult r = run_program(dir, {force, in, out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(checksum(in), in_sum);
    EXPECT_NE(checksum(out), out_sum);
    EXPECT_EQ(major_brand(out), "isom");
  }
  // Forced even under a name of another kind, which then holds an MP4.
  RunResult forced = run_program(dir, {"--force", dir.path("rec1.mkv"), dir.path("rec2.mkv")});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_FALSE(major_brand(dir.path("rec2.mkv")).empty());
}

TEST(OutputNames, APartOfASplitIsCheckedTooAndAnEmptyFileIsWrittenInPlace) {
  TempDir dir;
  write_file(dir.path("part_1.mp4"), "an earlier part");
  RunResult refused = run_program(dir, {"--split-duration", "1", kSample, dir.path("part.mp4")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("'" + dir.path("part_1.mp4") + "' exists (a text file): not replaced; use --force"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(entries(dir.dir()), std::vector<std::string>({"part_1.mp4"}));
  EXPECT_EQ(slurp(dir.path("part_1.mp4")), "an earlier part");

  // An empty file, as `> out.mp4` or mktemp leaves one: nothing to lose, so
  // no --force; it keeps its inode (and so its links and owner).
  write_file(dir.path("empty.mp4"), "");
  ASSERT_EQ(link(dir.path("empty.mp4").c_str(), dir.path("twin.mp4").c_str()), 0);
  RunResult r = run_program(dir, {"--quiet", kSample, dir.path("empty.mp4")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_GT(slurp(dir.path("empty.mp4")).size(), 50000u);
  EXPECT_EQ(slurp(dir.path("twin.mp4")), slurp(dir.path("empty.mp4")));
}

TEST(OutputNames, NamesOfOtherKindsAreMistakes) {
  TempDir dir;
  struct Case {
    const char* name;
    bool force;
    int status;
    const char* brand;  // of what was written; null when nothing was
  };
  const Case cases[] = {
      {"out.mkv", false, 2, nullptr},  {"out.webm", false, 2, nullptr}, {"out.AVI", false, 2, nullptr},
      {"out.mp4.part", false, 2, nullptr}, {"out.mkv", true, 0, "isom"},  {"out.MP4", false, 0, "isom"},
      {"out.m4v", false, 0, "isom"},   {"out.3gp", false, 0, "isom"},    {"out.3G2", false, 0, "isom"},
      {"out", false, 0, "isom"},       {"out.mov", false, 0, "qt  "},    {"out.QT", false, 0, "qt  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.force ? " --force" : ""));
    const std::string out = dir.path(c.name);
    std::vector<std::string> args = {"--quiet", kSample, out};
    if (c.force) args.insert(args.begin(), "--force");
    RunResult r = run_program(dir, args);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.brand == nullptr) {
      EXPECT_NE(r.err.find("name it .mp4, .m4v, .m4a, .m4b, .mov, .qt, .3gp or .3g2, or give --force"),
                std::string::npos)
          << r.err;
      EXPECT_NE(r.err.find("Usage: "), std::string::npos) << r.err;
      EXPECT_FALSE(std::ifstream(out).good());
    } else {
      EXPECT_EQ(major_brand(out), c.brand);
      std::remove(out.c_str());
    }
  }
  // An audio name for an input with video: written, with a warning that
  // says how the video would be left out.
  RunResult audio = run_program(dir, {"--quiet", kSample, dir.path("sound.m4a")});
  EXPECT_EQ(audio.status, 0) << audio.err;
  EXPECT_NE(audio.err.find("warning: '" + dir.path("sound.m4a") + "' is named for audio, but '" + kSample +
                           "' has video"),
            std::string::npos)
      << audio.err;
  EXPECT_NE(audio.err.find("--drop video"), std::string::npos) << audio.err;
}

TEST(OutputNames, StandardOutputsNamesAreStandardOutputWhateverItIs) {
  TempDir dir;
  const std::string dash = dir.path("dash.mp4");
  std::string said;
  ASSERT_EQ(run_command(kEpoch + program() + " --quiet " + shell_quote(kSample) + " - | cat > " + shell_quote(dash),
                        &said),
            0);
  const std::string expected = slurp(dash);
  ASSERT_GT(expected.size(), 50000u);
  struct Case {
    const char* what;
    std::string command;  // writes the output to `got`
  };
  const std::string got = dir.path("got.mp4");
  const std::string run = kEpoch + program() + " --quiet " + shell_quote(kSample) + " ";
  const Case cases[] = {
      {"/dev/stdout, a pipe", run + "/dev/stdout | cat > " + shell_quote(got)},
      {"/dev/fd/1, a pipe", run + "/dev/fd/1 | cat > " + shell_quote(got)},
      {"/proc/self/fd/1, a pipe", run + "/proc/self/fd/1 | cat > " + shell_quote(got)},
      {"/dev/stdout, a file", run + "/dev/stdout > " + shell_quote(got)},
      {"/dev/stdout, a file appended to", run + "/dev/stdout >> " + shell_quote(got)},
      {"a process substitution", "bash -c " + shell_quote(run + ">(cat > " + shell_quote(got) + "); wait")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove(got.c_str());
    EXPECT_EQ(run_command(c.command + " 2>&1", &said), 0) << said;
    // A process substitution's reader may still be writing when bash returns.
    for (int i = 0; i < 100 && slurp(got).size() < expected.size(); ++i) usleep(20000);
    EXPECT_EQ(slurp(got), expected);
  }
  // Standard output's names are refused with a split, as "-" is.
  RunResult split = run_program(dir, {"--split-size", "1M", kSample, "/dev/stdout"});
  EXPECT_EQ(split.status, 2);
  EXPECT_NE(split.err.find("cannot go to standard output ('/dev/stdout')"), std::string::npos) << split.err;
}

TEST(OutputNames, TheClosingLineComesAfterTheOutputsAreInPlace) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  TempDir dir;
  const std::string reference = dir.path("reference.mp4"), out = dir.path("out.mp4");
  std::string said;
  ASSERT_EQ(run_command(kEpoch + program() + " --quiet " + shell_quote(kSample) + " " + shell_quote(reference), &said),
            0);
  // "Done." cannot be written: the outputs are complete all the same.
  const std::string err = dir.path("err.txt");
  int status = run_command(kEpoch + program() + " " + shell_quote(kSample) + " " + shell_quote(out) +
                               " > /dev/full 2> " + shell_quote(err),
                           &said);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(slurp(out), slurp(reference));
  EXPECT_EQ(slurp(err),
            "Vantorel: warning: cannot write the closing line (No space left on device); the outputs are complete\n");
  // --verify's summary comes before: losing it fails the run, and nothing
  // new is left behind.
  status = run_command(kEpoch + program() + " --verify " + shell_quote(kSample) + " " + shell_quote(dir.path("v.mp4")) +
                           " > /dev/full 2> " + shell_quote(err),
                       &said);
  EXPECT_EQ(status, 1);
  EXPECT_NE(slurp(err).find("cannot write to standard output: No space left on device; nothing was written"),
            std::string::npos)
      << slurp(err);
  EXPECT_EQ(entries(dir.dir()), std::vector<std::string>({"err.txt", "out.mp4", "reference.mp4"}));
}

TEST(OutputNames, TemporariesOfKilledRunsOnThisHostAreRemoved) {
  TempDir dir;
  // A process that has ended, and one that runs (this one).
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  const std::string host = app::temporary_host();
  const std::string dead = std::to_string(child), live = std::to_string(getpid());
  struct Case {
    std::string leaf;
    bool removed;
  };
  const Case cases[] = {
      {".out.mp4.vantorel-" + host + "-" + dead + "-0", true},
      {".out_2.mp4.vantorel-" + host + "-" + dead + "-200", true},
      {".out.mp4.vantorel-" + host + "-" + live + "-0", false},
      {".out.mp4.vantorel-elsewhere" + host + "-" + dead + "-0", false},
      {".out.mp4.vantorel-" + dead + "-0", false},
  };
  for (const Case& c : cases) write_file(dir.path(c.leaf), std::string(1000, 'x'));
  RunResult r = run_program(dir, {"--quiet", kSample, dir.path("out.mp4")});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.leaf);
    struct stat info {};
    EXPECT_EQ(stat(dir.path(c.leaf).c_str(), &info) != 0, c.removed);
    EXPECT_EQ(r.err.find("removed '" + dir.path(c.leaf) + "'") != std::string::npos, c.removed) << r.err;
  }
  EXPECT_GT(slurp(dir.path("out.mp4")).size(), 50000u);
}

}  // namespace
}  // namespace vantorel
