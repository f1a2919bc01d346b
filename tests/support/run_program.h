#pragma once
// Runs the built program as a user would, collecting its exit status and
// both console streams; optionally with standard output on a terminal.
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace vantorel::test {

struct RunResult {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
  bool no_terminal = false;  // a terminal was asked for and none could be had
};

struct RunOptions {
  std::string cwd;          // empty: the test's own directory
  bool stdout_on_terminal = false;  // a pseudo-terminal instead of a file
};

// Runs VANTOREL_EXE with `args`; the console streams go through files in
// `dir` (or a pseudo-terminal for standard output).
RunResult run_program(const TempDir& dir, const std::vector<std::string>& args, const RunOptions& options = {});

// Remuxes `in` into `out` through a shell, with the program's standard
// output and error in `said` (when given); the exit status. With
// `fixed_time` the output's dates are fixed (SOURCE_DATE_EPOCH), so two runs
// write the same bytes.
int remux_command(const std::string& in, const std::string& out, std::string* said = nullptr, bool fixed_time = false);

std::string slurp(const std::string& path);
std::vector<std::string> lines_of(const std::string& text);

}  // namespace vantorel::test
