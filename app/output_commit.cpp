#include "app/output_commit.h"

#include "app/posix_routines.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/run_state.h"

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

// The file `path` names with every symbolic link followed; the path itself
// when it is not a link (or does not exist). Null without memory.
char* follow_links(const char* path) {
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

// ".<name>.vantorel-<pid>-<n>" beside `target`, created empty with O_EXCL;
// null with errno set when it cannot be.
char* create_temporary(const char* target, uint32_t index) {
  const char* slash = std::strrchr(target, '/');
  const char* base = slash != nullptr ? slash + 1 : target;
  for (uint32_t attempt = 0; attempt < 100; ++attempt) {
    char leaf[NAME_MAX + 1];
    // A long base name is shortened: the temporary must fit a directory entry.
    std::snprintf(leaf, sizeof leaf, ".%.200s.vantorel-%ld-%u", base, static_cast<long>(getpid()),
                  index * 100 + attempt);
    char* name = join_dir(target, leaf);
    if (name == nullptr) {
      errno = ENOMEM;
      return nullptr;
    }
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      return name;
    }
    int error_number = errno;
    std::free(name);
    if (error_number != EEXIST) {
      errno = error_number;
      return nullptr;
    }
  }
  errno = EEXIST;
  return nullptr;
}

// The set the signal handler cleans up; changed only with the signals blocked.
OutputSet* volatile g_set = nullptr;
const char* volatile g_program = "vantorel";
volatile sig_atomic_t g_err_is_terminal = 0;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];
volatile sig_atomic_t g_installed = 0;

void block_signals(sigset_t* old) {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kCleanupSignals) sigaddset(&set, s);
  sigprocmask(SIG_BLOCK, &set, old);
}
void unblock_signals(const sigset_t* old) { sigprocmask(SIG_SETMASK, old, nullptr); }

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
      if (!e.in_place && e.write_name != nullptr && unlink(e.write_name) == 0) ++removed;
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

}  // namespace

ErrorCode output_set_add(OutputSet* set, const char* final_name, IoFailure* failure) {
  if (set == nullptr || final_name == nullptr) return ErrorCode::BadArgument;
  OutputEntry entry{};
  entry.final_name = copy_of(final_name);
  entry.target = follow_links(final_name);
  if (entry.final_name == nullptr || entry.target == nullptr) {
    std::free(entry.final_name);
    std::free(entry.target);
    return ErrorCode::OutOfMemory;
  }
  struct stat info {};
  if (is_standard_output_name(final_name)) {
    entry.in_place = 1;
    entry.write_name = copy_of(final_name);
  } else if (stat(entry.target, &info) == 0 && !S_ISREG(info.st_mode)) {
    // /dev/null, a terminal, a FIFO: written where it is, never renamed over.
    entry.in_place = 1;
    entry.write_name = copy_of(entry.target);
  } else {
    entry.write_name = create_temporary(entry.target, set->count);
    if (entry.write_name == nullptr) {
      int error_number = errno;
      std::free(entry.final_name);
      std::free(entry.target);
      io_failure_record(failure, "create", final_name, error_number);
      return ErrorCode::Io;
    }
  }
  if (entry.write_name == nullptr) {
    std::free(entry.final_name);
    std::free(entry.target);
    return ErrorCode::OutOfMemory;
  }
  sigset_t old;
  block_signals(&old);
  ErrorCode e = ErrorCode::Ok;
  if (set->count == set->capacity) {
    uint32_t capacity = set->capacity == 0 ? 4 : set->capacity * 2;
    auto* grown = static_cast<OutputEntry*>(std::realloc(set->items, sizeof(OutputEntry) * capacity));
    if (grown == nullptr) {
      e = ErrorCode::OutOfMemory;
    } else {
      set->items = grown;
      set->capacity = capacity;
    }
  }
  if (e == ErrorCode::Ok) set->items[set->count++] = entry;
  unblock_signals(&old);
  if (e != ErrorCode::Ok) {
    if (!entry.in_place) unlink(entry.write_name);
    std::free(entry.final_name);
    std::free(entry.target);
    std::free(entry.write_name);
  }
  return e;
}

ErrorCode output_set_commit(OutputSet* set, IoFailure* failure) {
  if (set == nullptr) return ErrorCode::BadArgument;
  // A signal now would find some parts renamed: it waits until all are.
  sigset_t old;
  block_signals(&old);
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t i = 0; i < set->count; ++i) {
    OutputEntry& entry = set->items[i];
    if (entry.in_place) continue;
    if (rename(entry.write_name, entry.target) != 0) {
      io_failure_record(failure, "rename a temporary file to", entry.final_name, errno);
      e = ErrorCode::Io;
      break;
    }
    entry.in_place = 1;  // nothing left to remove
  }
  if (e != ErrorCode::Ok) output_set_abort(set);
  unblock_signals(&old);
  return e;
}

void output_set_abort(OutputSet* set) {
  if (set == nullptr) return;
  for (uint32_t i = 0; i < set->count; ++i) {
    OutputEntry& entry = set->items[i];
    if (entry.in_place || entry.write_name == nullptr) continue;
    unlink(entry.write_name);
    entry.in_place = 1;
  }
}

void output_set_release(OutputSet* set) {
  if (set == nullptr) return;
  sigset_t old;
  block_signals(&old);
  if (g_set == set) g_set = nullptr;
  for (uint32_t i = 0; i < set->count; ++i) {
    std::free(set->items[i].final_name);
    std::free(set->items[i].target);
    std::free(set->items[i].write_name);
  }
  std::free(set->items);
  set->items = nullptr;
  set->count = set->capacity = 0;
  unblock_signals(&old);
}

void cleanup_signals_install(OutputSet* set, const char* program_name) {
  sigset_t old;
  block_signals(&old);
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
  unblock_signals(&old);
}

void cleanup_signals_restore() {
  sigset_t old;
  block_signals(&old);
  if (g_installed) {
    for (size_t i = 0; i < 3; ++i) sigaction(kCleanupSignals[i], &g_previous[i], nullptr);
    g_installed = 0;
  }
  g_set = nullptr;
  unblock_signals(&old);
}

}  // namespace vantorel::app
