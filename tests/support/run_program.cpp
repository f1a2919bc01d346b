#include "support/run_program.h"
#include "support/ffprobe.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace vantorel::test {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

RunResult run_program(const TempDir& dir, const std::vector<std::string>& args, const RunOptions& options) {
  std::string out_path = dir.path("stdout.txt");
  std::string err_path = dir.path("stderr.txt");
  RunResult result;
  int master = -1;
  std::string slave_name;
  if (options.stdout_on_terminal) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname(master) == nullptr) {
      if (master >= 0) close(master);
      result.no_terminal = true;
      return result;
    }
    slave_name = ptsname(master);
  }
  pid_t child = fork();
  if (child == 0) {
    int out = options.stdout_on_terminal ? open(slave_name.c_str(), O_RDWR | O_NOCTTY)
                                         : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    if (master >= 0) close(master);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    std::string program = VANTOREL_EXE;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (child < 0) {
    if (master >= 0) close(master);
    return result;
  }
  if (master >= 0) {
    // Read while the program runs, so a full terminal buffer never stops it;
    // the read fails once the last holder of the terminal has closed it.
    char buffer[4096];
    while (true) {
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) {
        result.out.append(buffer, static_cast<size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;
      }
    }
    close(master);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return result;
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (!options.stdout_on_terminal) result.out = slurp(out_path);
  result.err = slurp(err_path);
  return result;
}

int remux_command(const std::string& in, const std::string& out, std::string* said, bool fixed_time) {
  std::string text;
  int status = run_command(std::string(fixed_time ? "SOURCE_DATE_EPOCH=1000000000 " : "") + VANTOREL_EXE + " " +
                               shell_quote(in) + " " + shell_quote(out) + " 2>&1",
                           &text);
  if (said != nullptr) *said = text;
  return status;
}

}  // namespace vantorel::test
