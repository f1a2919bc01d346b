// The front end's system interface over POSIX (every system but Windows).
#define _FILE_OFFSET_BITS 64

#include "app/platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/output_commit.h"
#include "app/posix_routines.h"

namespace vantorel::app {

namespace {

// Links followed before giving up (as the kernel's ELOOP limit).
constexpr int kMaxLinks = 40;

char* copy_of(const char* text) { return text != nullptr ? strdup(text) : nullptr; }

// `dir_of` (up to its last '/') joined with `name`.
char* join_dir(const char* dir_of, const char* name) {
  const char* slash = std::strrchr(dir_of, '/');
  size_t dir_length = slash != nullptr ? static_cast<size_t>(slash - dir_of) + 1 : 0;
  size_t name_length = std::strlen(name);
  auto* out = static_cast<char*>(std::malloc(dir_length + name_length + 1));
  if (out == nullptr) return nullptr;
  std::memcpy(out, dir_of, dir_length);
  std::memcpy(out + dir_length, name, name_length + 1);
  return out;
}

// The set the signal handler cleans up; changed only with the signals blocked.
OutputSet* volatile g_set = nullptr;
const char* volatile g_program = "vantorel";
volatile sig_atomic_t g_err_is_terminal = 0;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];
volatile sig_atomic_t g_installed = 0;
// Holds nest: the mask of the outermost one is restored by its release.
sigset_t g_held_mask;
int g_hold_depth = 0;

void write_text(const char* text) {
  size_t n = std::strlen(text);
  while (n > 0) {
    ssize_t w = write(STDERR_FILENO, text, n);
    if (w <= 0) return;
    text += w;
    n -= static_cast<size_t>(w);
  }
}

void on_cleanup_signal(int signal_number) {
  int saved = errno;
  OutputSet* set = g_set;
  uint32_t removed = 0;
  if (set != nullptr) {
    for (uint32_t i = 0; i < set->count; ++i) {
      const OutputEntry& e = set->items[i];
      if (e.write_name == nullptr) continue;
      if (!e.in_place && unlink(e.write_name) == 0) ++removed;
      if (e.in_place && e.empty_on_failure && empty_file(e.write_name) == 0) ++removed;
    }
  }
  const char* name = signal_number == SIGINT ? "SIGINT" : signal_number == SIGTERM ? "SIGTERM" : "SIGHUP";
  // Over the progress line, when there is one.
  if (g_err_is_terminal) write_text("\r");
  write_text(g_program);
  write_text(": stopped by ");
  write_text(name);
  write_text(removed != 0 ? ": no output written, temporary files removed\n" : ": no output written\n");
  // The default action now: the shell sees the signal (status 128 + n).
  signal(signal_number, SIG_DFL);
  sigset_t set_of_one;
  sigemptyset(&set_of_one);
  sigaddset(&set_of_one, signal_number);
  sigprocmask(SIG_UNBLOCK, &set_of_one, nullptr);
  raise(signal_number);
  errno = saved;
}

bool stat_stream(std::FILE* stream, struct stat* info) {
  int fd = stream != nullptr ? fileno(stream) : -1;
  return fd >= 0 && fstat(fd, info) == 0;
}

}  // namespace

const IoRoutines& platform_routines() { return posix_routines(); }

bool file_identity(const char* path, FileIdentity* out) {
  struct stat info {};
  if (path == nullptr || out == nullptr || stat(path, &info) != 0) return false;
  *out = FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  return true;
}

bool names_stream_file(const char* path, std::FILE* stream) {
  struct stat named {}, open {};
  if (path == nullptr || stat(path, &named) != 0 || !stat_stream(stream, &open)) return false;
  return named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

const char* last_path_separator(const char* path) { return std::strrchr(path, '/'); }

bool is_stream_path(const char* path) {
  struct stat info {};
  if (path == nullptr || stat(path, &info) != 0) return false;
  return S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || S_ISCHR(info.st_mode);
}

bool path_present(const char* path) {
  struct stat info {};
  return path != nullptr && lstat(path, &info) == 0;
}

bool stream_is_terminal(std::FILE* stream) {
  if (stream == nullptr) return false;
  int fd = fileno(stream);
  return fd >= 0 && isatty(fd) == 1;
}

void console_write(std::FILE* stream, const char* text, size_t length) { std::fwrite(text, 1, length, stream); }

int console_printf(std::FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = std::vfprintf(stream, format, args);
  va_end(args);
  return n;
}

int console_puts(const char* text, std::FILE* stream) { return std::fputs(text, stream); }
int console_putc(int c, std::FILE* stream) { return std::fputc(c, stream); }

char* resolve_links(const char* path) {
  char* current = copy_of(path);
  for (int i = 0; current != nullptr && i < kMaxLinks; ++i) {
    struct stat info {};
    if (lstat(current, &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    char link[PATH_MAX + 1];
    ssize_t n = readlink(current, link, PATH_MAX);
    if (n < 0) return current;
    link[n] = '\0';
    char* next = link[0] == '/' ? copy_of(link) : join_dir(current, link);
    std::free(current);
    current = next;
  }
  return current;
}

PathKind path_kind(const char* path) {
  struct stat info {};
  if (path == nullptr || stat(path, &info) != 0) return PathKind::Missing;
  if (!S_ISREG(info.st_mode)) return PathKind::Other;
  return info.st_size == 0 ? PathKind::Empty : PathKind::Regular;
}

int create_new_file(const char* path) {
  int fd;
  do {
    fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

int empty_file(const char* path) {
  // open, not truncate: only the former may be called from a signal handler.
  int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

int replace_file(const char* from, const char* to) { return rename(from, to) == 0 ? 0 : errno; }

int remove_file(const char* path) { return unlink(path) == 0 ? 0 : errno; }

uint64_t current_process_id() { return static_cast<uint64_t>(getpid()); }

bool process_running(uint64_t pid) {
  // Beyond what a pid_t holds it cannot be asked about: leave it be.
  if (pid == 0 || pid > static_cast<uint64_t>(INT_MAX)) return true;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

void host_name(char* out, size_t capacity) {
  if (capacity == 0) return;
  out[0] = '\0';
  if (gethostname(out, capacity) != 0) out[0] = '\0';
  out[capacity - 1] = '\0';  // a name cut to fit need not be terminated
}

bool list_directory(const char* dir, void (*visit)(const char* name, void* user), void* user) {
  DIR* d = opendir(dir);
  if (d == nullptr) return false;
  while (const dirent* entry = readdir(d)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    visit(entry->d_name, user);
  }
  closedir(d);
  return true;
}

void broken_pipe_fails_writes() { signal(SIGPIPE, SIG_IGN); }

void interrupt_cleanup_hold() {
  sigset_t set, old;
  sigemptyset(&set);
  for (int s : kCleanupSignals) sigaddset(&set, s);
  sigprocmask(SIG_BLOCK, &set, &old);
  if (g_hold_depth++ == 0) g_held_mask = old;
}

void interrupt_cleanup_release() {
  if (g_hold_depth == 0) return;
  if (--g_hold_depth == 0) sigprocmask(SIG_SETMASK, &g_held_mask, nullptr);
}

void interrupt_cleanup_forget(OutputSet* set) {
  if (g_set == set) g_set = nullptr;
}

void interrupt_cleanup_install(OutputSet* set, const char* program_name) {
  interrupt_cleanup_hold();
  g_set = set;
  if (program_name != nullptr) g_program = program_name;
  g_err_is_terminal = isatty(STDERR_FILENO) == 1 ? 1 : 0;
  if (!g_installed) {
    for (size_t i = 0; i < 3; ++i) {
      // A signal the caller ignores (nohup) stays ignored.
      sigaction(kCleanupSignals[i], nullptr, &g_previous[i]);
      if (g_previous[i].sa_handler == SIG_IGN) continue;
      struct sigaction action {};
      action.sa_handler = on_cleanup_signal;
      sigemptyset(&action.sa_mask);
      for (int s : kCleanupSignals) sigaddset(&action.sa_mask, s);
      sigaction(kCleanupSignals[i], &action, &g_previous[i]);
    }
    g_installed = 1;
  }
  interrupt_cleanup_release();
}

void interrupt_cleanup_restore() {
  interrupt_cleanup_hold();
  if (g_installed) {
    for (size_t i = 0; i < 3; ++i) sigaction(kCleanupSignals[i], &g_previous[i], nullptr);
    g_installed = 0;
  }
  g_set = nullptr;
  interrupt_cleanup_release();
}

}  // namespace vantorel::app
