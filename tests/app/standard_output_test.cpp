// The output named "-": the MP4 streamed to standard output with its header
// first, the console text kept out of it, reproducible bytes with
// SOURCE_DATE_EPOCH, and a reader that goes away mid-stream.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using test::read_whole_file;
using test::run_command;
using test::shell_quote;
using test::TempDir;

const std::string kEpoch = "SOURCE_DATE_EPOCH=1700000000 ";

std::string program() { return shell_quote(VANTOREL_EXE); }

// H.264 with B-frames and AAC, interleaved as ffmpeg writes it, header last.
std::string make_movie(const TempDir& dir) {
  std::string said;
  std::string path = dir.path("movie.mp4");
  int status = run_command("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=12 -f lavfi "
                           "-i sine=frequency=440:sample_rate=44100:duration=12 -c:v libx264 -bf 2 -g 50 -c:a aac "
                           "-b:a 64k " + shell_quote(path) + " 2>&1",
                           &said);
  return status == 0 ? path : "";
}

// Every packet as ffprobe reads it from `source` (a file name, or "-" for
// its standard input, fed by `feed`): stream, times, size, flags and hash.
std::string packets(const std::string& feed, const std::string& source) {
  std::string out;
  std::string command = feed + "ffprobe -v error -show_data_hash MD5 -show_entries "
                               "packet=stream_index,pts,dts,size,flags,data_hash -of csv " + source;
  if (run_command(command, &out) != 0) return "";
  return out;
}

int exit_status(const std::string& status_file) {
  std::string text = test::slurp(status_file);
  return text.empty() ? -1 : std::atoi(text.c_str());
}

TEST(StandardOutput, StreamedBytesAreTheFileBytesAndReproducible) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string movie = make_movie(dir);
  ASSERT_FALSE(movie.empty());
  std::string a = dir.path("a.mp4"), b = dir.path("b.mp4"), piped = dir.path("piped.mp4");
  std::string err = dir.path("err.txt"), out = dir.path("out.txt");
  std::string said;
  ASSERT_EQ(run_command(kEpoch + program() + " " + shell_quote(movie) + " " + shell_quote(a) + " > " +
                            shell_quote(out) + " 2>&1",
                        &said),
            0);
  ASSERT_EQ(run_command(kEpoch + program() + " --quiet " + shell_quote(movie) + " " + shell_quote(b), &said), 0);
  ASSERT_EQ(run_command(kEpoch + program() + " " + shell_quote(movie) + " - > " + shell_quote(piped) + " 2> " +
                            shell_quote(err),
                        &said),
            0);
  std::vector<uint8_t> file_bytes = read_whole_file(a);
  ASSERT_FALSE(file_bytes.empty());
  EXPECT_EQ(read_whole_file(b), file_bytes);      // two runs, one result
  EXPECT_EQ(read_whole_file(piped), file_bytes);  // standard output holds the media and nothing else
  EXPECT_NE(test::slurp(err).find("Done."), std::string::npos);
  EXPECT_NE(test::slurp(out).find("Done."), std::string::npos);

  // Through a pipe, a reader gets every packet the file holds.
  std::string from_file = packets("", shell_quote(a));
  ASSERT_FALSE(from_file.empty());
  EXPECT_EQ(packets(kEpoch + program() + " --quiet " + shell_quote(movie) + " - | ", "-"), from_file);
}

TEST(StandardOutput, AFileNamedForStandardOutputKeepsTheConsoleTextOut) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string movie = make_movie(dir);
  ASSERT_FALSE(movie.empty());
  std::string a = dir.path("a.mp4"), through = dir.path("through.mp4"), err = dir.path("err.txt");
  std::string said;
  ASSERT_EQ(run_command(kEpoch + program() + " --quiet " + shell_quote(movie) + " " + shell_quote(a), &said), 0);
  ASSERT_EQ(run_command(kEpoch + program() + " " + shell_quote(movie) + " /dev/stdout > " + shell_quote(through) +
                            " 2> " + shell_quote(err),
                        &said),
            0);
  EXPECT_EQ(read_whole_file(through), read_whole_file(a));
  EXPECT_NE(test::slurp(err).find("Done."), std::string::npos);
}

TEST(StandardOutput, AReaderThatLeavesFailsTheRun) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string movie = make_movie(dir);
  ASSERT_FALSE(movie.empty());
  std::string err = dir.path("err.txt"), status = dir.path("status.txt");
  std::string said;
  // Larger than any pipe holds (the output's may be 1 MiB), so the writer is
  // still writing when the reader leaves.
  const std::string padded = dir.path("padded.mp4");
  ASSERT_EQ(run_command("ffmpeg -nostdin -v error -y -i " + shell_quote(movie) + " -f lavfi -i anoisesrc=d=30:r=48000 "
                        "-map 0 -map 1 -c:v copy -c:a:0 copy -c:a:1 alac " + shell_quote(padded) + " 2>&1",
                        &said),
            0)
      << said;
  movie = padded;
  // SIGPIPE ignored: the write fails with EPIPE, which must not pass for success.
  std::string command = "trap '' PIPE; (" + program() + " " + shell_quote(movie) + " - 2> " + shell_quote(err) +
                        "; echo $? > " + shell_quote(status) + ") | head -c 100 > /dev/null";
  run_command("sh -c " + shell_quote(command), &said);
  EXPECT_EQ(exit_status(status), 1);
  std::string message = test::slurp(err);
  EXPECT_NE(message.find("standard output"), std::string::npos) << message;
  EXPECT_NE(message.find("Broken pipe"), std::string::npos) << message;
  EXPECT_EQ(message.find("Done."), std::string::npos) << message;
}

TEST(StandardOutput, AMalformedSourceDateEpochIsRefused) {
  TempDir dir;
  std::string said;
  std::string err = dir.path("err.txt");
  int status = run_command("SOURCE_DATE_EPOCH=yesterday " + program() + " in.mp4 out.mp4 2> " + shell_quote(err), &said);
  EXPECT_EQ(status, 2);
  EXPECT_NE(test::slurp(err).find("SOURCE_DATE_EPOCH 'yesterday'"), std::string::npos);
}

TEST(StandardOutput, SplitsAndStandardInputAreRefused) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    const char* said;
  };
  const Case cases[] = {
      {{"--split-size", "1M", "in.mp4", "-"}, "cannot go to standard output"},
      {{"--split-duration", "10", "in.mp4", "-"}, "cannot go to standard output"},
      {{"-", "out.mp4"}, "cannot be standard input"},
  };
  for (const Case& c : cases) {
    test::RunResult r = test::run_program(dir, c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
}  // namespace vantorel
