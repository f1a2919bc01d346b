#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
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

// The banner: title, what the tool does, the build date, an empty line and
// the usage with the name the program was called by.
void expect_banner(const std::vector<std::string>& lines, size_t first) {
  ASSERT_GE(lines.size(), first + 5);
  EXPECT_EQ(lines[first].rfind(std::string("Vantorel ") + VANTOREL_VERSION + " ", 0), 0u);
  EXPECT_NE(lines[first].find("remultiplexing utility"), std::string::npos);
  EXPECT_FALSE(lines[first + 1].empty());
  // The real build date, as the compiler gives it ("Dec 7 2026"), not 2009.
  EXPECT_EQ(lines[first + 2].rfind("Build: ", 0), 0u);
  EXPECT_EQ(lines[first + 2].find("2009"), std::string::npos);
  EXPECT_EQ(lines[first + 2].find("  "), std::string::npos);
  EXPECT_EQ(lines[first + 3], "");
  EXPECT_EQ(lines[first + 4], "Usage: vantorel <in> <out.mp4>");
}

TEST(CommandLine, NoArgumentsPrintBannerAndUsage) {
  test::TempDir dir;
  RunResult r = run_program(dir, {});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::vector<std::string> out = lines_of(r.out);
  ASSERT_EQ(out.size(), 5u) << r.out;
  expect_banner(out, 0);
  EXPECT_EQ(r.out.back(), '\n');
}

TEST(CommandLine, WrongNameCountIsAMistakeWithBannerAndUsageOnStderr) {
  test::TempDir dir;
  const std::vector<std::vector<std::string>> lines = {{"in.mp4"}, {"a", "b", "c"}};
  for (const auto& args : lines) {
    SCOPED_TRACE(args.size());
    RunResult r = run_program(dir, args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    std::vector<std::string> err = lines_of(r.err);
    // The banner and usage, then the options.
    ASSERT_GT(err.size(), 6u) << r.err;
    EXPECT_NE(r.err.find("--split-size SIZE"), std::string::npos);
    EXPECT_EQ(err[0], std::string("Vantorel: expected an input and an output file name, got ") +
                          std::to_string(args.size()) + " file name" + (args.size() == 1 ? "" : "s"));
    expect_banner(err, 1);
  }
}

TEST(CommandLine, TheUsageNamesTheProgramAsItWasCalled) {
  test::TempDir dir;
  std::string renamed = dir.path("remux-tool");
  ASSERT_EQ(symlink(VANTOREL_EXE, renamed.c_str()), 0);
  std::string said;
  ASSERT_EQ(test::run_command(test::shell_quote(renamed) + " 2>&1", &said), 0);
  EXPECT_NE(said.find("Usage: remux-tool <in> <out.mp4>\n"), std::string::npos) << said;
}

TEST(CommandLine, FailuresExitWithOneAndOneLineOnStderr) {
  test::TempDir dir;
  std::string input = dir.path("in.mp4");
  { std::ofstream(input, std::ios::binary) << "not much of a movie"; }
  ASSERT_EQ(link(input.c_str(), dir.path("alias.mp4").c_str()), 0);
  struct Case {
    const char* name;
    std::string input;
    std::string output;
    std::vector<std::string> expected_in_message;
  };
  const Case cases[] = {
      {"missing input", dir.path("missing.mp4"), dir.path("out.mp4"),
       {dir.path("missing.mp4"), std::strerror(ENOENT)}},
      {"input is a directory", dir.dir(), dir.path("out.mp4"), {dir.dir(), std::strerror(EISDIR)}},
      {"output is the input", input, input, {"refusing", input}},
      {"output is a link to the input", input, dir.path("alias.mp4"), {"refusing", dir.path("alias.mp4")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult r = run_program(dir, {c.input, c.output});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");  // in particular no "Done."
    std::vector<std::string> err = lines_of(r.err);
    ASSERT_EQ(err.size(), 1u) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
    for (const std::string& part : c.expected_in_message) EXPECT_NE(err[0].find(part), std::string::npos) << err[0];
  }
  EXPECT_EQ(slurp(input), "not much of a movie");
}

TEST(CommandLine, TheSampleRemuxesAndTheInputStaysAsItWas) {
  test::TempDir dir;
  std::string input = std::string(VANTOREL_SOURCE_DIR) + "/samples/sample.mp4";
  std::string before = slurp(input);
  ASSERT_FALSE(before.empty());
  RunResult r = run_program(dir, {input, dir.path("out.mp4")});
  EXPECT_EQ(r.status, 0) << r.err;
  // Progress, then the closing line; every track, the chapter text track
  // too, is carried without a warning.
  EXPECT_NE(r.out.find("Done.\n"), std::string::npos);
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
  EXPECT_GT(slurp(dir.path("out.mp4")).size(), 50000u);
  EXPECT_EQ(slurp(input), before);
}

TEST(CommandLine, AnInputWithoutCarriedTracksWritesNothing) {
  test::TempDir dir;
  // A movie whose only track is ProRes, which an MP4 cannot hold.
  std::string input = dir.path("prores.mov");
  std::string said;
  if (test::run_command("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=5:duration=1 -c:v prores_ks " +
                            test::shell_quote(input) + " 2>&1",
                        &said) != 0)
    GTEST_SKIP() << "ffmpeg cannot make the input: " << said;
  RunResult r = run_program(dir, {input, dir.path("out.mp4")});
  EXPECT_EQ(r.status, 1);
  // The message says what would keep the track.
  EXPECT_NE(r.err.find("no track an MP4 file can hold"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("name the output .mov"), std::string::npos) << r.err;
  EXPECT_TRUE(slurp(dir.path("out.mp4")).empty());
  EXPECT_EQ(r.out.find("Done."), std::string::npos);
}

}  // namespace
}  // namespace vantorel
