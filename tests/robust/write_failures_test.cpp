// The program writing to a full disk or past a file-size limit: it ends with
// status 1 and a message naming the output, and the input stays as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/ffprobe.h"
#include "support/md5.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

std::string hash_of(const std::string& path) {
  std::vector<uint8_t> bytes = read_whole_file(path);
  return std::to_string(bytes.size()) + ":" + md5_hex(bytes.data(), bytes.size());
}

struct ProgramRun {
  int status;
  std::string output;  // standard output and error together
};

// Runs the program in a child bash whose file-size limit is `limit_kib`
// (0: none), so the limit cannot touch the test itself.
ProgramRun run_program(const std::string& in, const std::string& out, unsigned limit_kib = 0) {
  std::string command = "bash -c " +
                        shell_quote(std::string(limit_kib != 0 ? "ulimit -f " + std::to_string(limit_kib) + "; " : "") +
                                    "exec \"$0\" \"$@\" 2>&1") +
                        " " + shell_quote(VANTOREL_EXE) + " " + shell_quote(in) + " " + shell_quote(out);
  ProgramRun r{};
  r.status = run_command(command, &r.output);
  return r;
}

TEST(WriteFailures, FullDiskAndFileSizeLimitEndWithStatusOneAndNameTheOutput) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  // About 100 KiB: well past the limit below, so the samples hit it.
  std::string in = make_media(dir, "in.mp4",
                              "-f lavfi -i testsrc=size=320x240:rate=25:duration=4 -f lavfi -i sine=duration=4 "
                              "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  ASSERT_GT(read_whole_file(in).size(), 64u * 1024);
  const std::string before = hash_of(in);

  struct Case {
    const char* name;
    std::string out;
    unsigned limit_kib;
    const char* cause;  // the system's reason in the message
  };
  std::vector<Case> cases = {
      {"past a file-size limit", dir.path("limited.mp4"), 32, "File too large"},
      {"in a folder that does not exist", dir.path("missing/out.mp4"), 0, "No such file or directory"},
  };
  if (access("/dev/full", W_OK) == 0) cases.push_back({"on a full disk", "/dev/full", 0, "No space left on device"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramRun r = run_program(in, c.out, c.limit_kib);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("'" + c.out + "'"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(c.cause), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Done."), std::string::npos) << r.output;
    EXPECT_EQ(hash_of(in), before);
    if (c.limit_kib != 0) {
      // Nothing was written past the limit.
      EXPECT_LE(read_whole_file(c.out).size(), size_t{c.limit_kib} * 1024);
    }
  }
  // With room enough the same input remuxes, and is still untouched.
  ProgramRun ok = run_program(in, dir.path("fine.mp4"), 4096);
  EXPECT_EQ(ok.status, 0) << ok.output;
  EXPECT_EQ(hash_of(in), before);
}

}  // namespace
}  // namespace vantorel
