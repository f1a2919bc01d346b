// The front end's system interface over the Win32 API.
#include "app/platform.h"

#include <windows.h>

#include <io.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/output_commit.h"
#include "app/windows_routines.h"

namespace vantorel::app {

namespace {

char* copy_of(const char* text) { return text != nullptr ? strdup(text) : nullptr; }

// Closes the handle when it goes out of scope.
struct HandleOwner {
  HANDLE handle;
  ~HandleOwner() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// `path` opened only to be asked about (directories and devices included);
// INVALID_HANDLE_VALUE when it cannot be.
HANDLE open_for_query(const char* path) {
  if (path == nullptr) return INVALID_HANDLE_VALUE;
  int error_number = 0;
  wchar_t* wide = windows_path(path, &error_number);
  if (wide == nullptr) return INVALID_HANDLE_VALUE;
  HANDLE handle = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  std::free(wide);
  return handle;
}

bool identity_of(HANDLE handle, FileIdentity* out) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return false;
  *out = FileIdentity{info.dwVolumeSerialNumber,
                      (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return true;
}

HANDLE handle_of(std::FILE* stream) {
  int fd = stream != nullptr ? _fileno(stream) : -1;
  if (fd < 0) return INVALID_HANDLE_VALUE;
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// The console `stream` shows, or null when it is a file or pipe.
HANDLE console_of(std::FILE* stream) {
  HANDLE handle = handle_of(stream);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) return nullptr;
  return handle;
}

// A character cut by the end of one write waits for the next (file_info
// prints text a byte at a time): bytes held per console stream.
struct PendingText {
  std::FILE* stream;
  char bytes[4];
  size_t length;
};
PendingText g_pending[2] = {};

PendingText* pending_for(std::FILE* stream) {
  for (PendingText& p : g_pending)
    if (p.stream == stream) return &p;
  for (PendingText& p : g_pending)
    if (p.stream == nullptr) {
      p.stream = stream;
      return &p;
    }
  return nullptr;
}

// How many of the last bytes of `text` begin a UTF-8 character that is not
// complete yet.
size_t incomplete_tail(const char* text, size_t length) {
  for (size_t back = 1; back <= 3 && back <= length; ++back) {
    auto c = static_cast<unsigned char>(text[length - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    size_t needed = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return needed > back ? back : 0;
  }
  return 0;
}

// UTF-8 to the console as UTF-16; false when the console refused it.
bool write_console(HANDLE console, const char* text, size_t length) {
  if (length == 0) return true;
  if (length > INT32_MAX) return false;
  int wide_length = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0);
  if (wide_length <= 0) return false;
  auto* wide = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * static_cast<size_t>(wide_length)));
  if (wide == nullptr) return false;
  bool ok = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), wide, wide_length) == wide_length;
  for (int done = 0; ok && done < wide_length;) {
    DWORD n = 0;
    ok = WriteConsoleW(console, wide + done, static_cast<DWORD>(wide_length - done), &n, nullptr) && n > 0;
    done += static_cast<int>(n);
  }
  std::free(wide);
  return ok;
}

// The set the console control handler cleans up; changed only while held.
struct CleanupLock {
  CRITICAL_SECTION section;
  CleanupLock() { InitializeCriticalSection(&section); }
};
CleanupLock& cleanup_lock() {
  static CleanupLock lock;
  return lock;
}
OutputSet* g_set = nullptr;
const char* g_program = "vantorel";
bool g_err_is_console = false;
bool g_installed = false;

BOOL WINAPI on_console_event(DWORD event) {
  // Held until the process ends: no output is added or renamed meanwhile.
  EnterCriticalSection(&cleanup_lock().section);
  uint32_t removed = 0;
  if (g_set != nullptr) {
    for (uint32_t i = 0; i < g_set->count; ++i) {
      const OutputEntry& e = g_set->items[i];
      if (e.write_name == nullptr) continue;
      // Open temporaries allow deletion: they vanish with their last handle.
      if (!e.in_place && remove_file(e.write_name) == 0) ++removed;
      if (e.in_place && e.empty_on_failure && empty_file(e.write_name) == 0) ++removed;
    }
  }
  const char* name = event == CTRL_C_EVENT       ? "Ctrl+C"
                     : event == CTRL_BREAK_EVENT ? "Ctrl+Break"
                     : event == CTRL_CLOSE_EVENT ? "the console closing"
                                                 : "the session ending";
  console_printf(stderr, "%s%s: stopped by %s: %s\n", g_err_is_console ? "\r" : "", g_program, name,
                 removed != 0 ? "no output written, temporary files removed" : "no output written");
  std::fflush(stderr);
  // The status an interrupted console program has.
  ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  return TRUE;
}

}  // namespace

const IoRoutines& platform_routines() { return windows_routines(); }

bool file_identity(const char* path, FileIdentity* out) {
  if (out == nullptr) return false;
  HandleOwner file{open_for_query(path)};
  return identity_of(file.handle, out);
}

bool names_stream_file(const char* path, std::FILE* stream) {
  FileIdentity named{}, open{};
  HANDLE handle = handle_of(stream);
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) return false;
  return file_identity(path, &named) && identity_of(handle, &open) && named.volume == open.volume &&
         named.index == open.index;
}

bool is_stream_path(const char* path) {
  HandleOwner file{open_for_query(path)};
  if (file.handle == INVALID_HANDLE_VALUE) return false;
  DWORD type = GetFileType(file.handle);
  return type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR;
}

bool path_present(const char* path) {
  if (path == nullptr) return false;
  int error_number = 0;
  wchar_t* wide = windows_path(path, &error_number);
  if (wide == nullptr) return false;
  bool present = GetFileAttributesW(wide) != INVALID_FILE_ATTRIBUTES;
  std::free(wide);
  return present;
}

bool stream_is_terminal(std::FILE* stream) { return console_of(stream) != nullptr; }

void console_write(std::FILE* stream, const char* text, size_t length) {
  HANDLE console = console_of(stream);
  PendingText* pending = console != nullptr ? pending_for(stream) : nullptr;
  if (pending == nullptr) {
    std::fwrite(text, 1, length, stream);
    return;
  }
  // What the stream buffered comes first.
  std::fflush(stream);
  // Complete the character a previous write left open.
  while (pending->length != 0 && pending->length < sizeof pending->bytes && length != 0) {
    pending->bytes[pending->length++] = *text++;
    --length;
    if (incomplete_tail(pending->bytes, pending->length) == 0 || pending->length == sizeof pending->bytes) {
      if (!write_console(console, pending->bytes, pending->length)) std::fwrite(pending->bytes, 1, pending->length, stream);
      pending->length = 0;
    }
  }
  size_t tail = incomplete_tail(text, length);
  if (!write_console(console, text, length - tail)) std::fwrite(text, 1, length - tail, stream);
  std::memcpy(pending->bytes, text + length - tail, tail);
  pending->length += tail;
}

int console_printf(std::FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n;
  if (console_of(stream) == nullptr) {
    n = std::vfprintf(stream, format, args);
  } else {
    char small[512];
    va_list again;
    va_copy(again, args);
    n = std::vsnprintf(small, sizeof small, format, args);
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
      console_write(stream, small, static_cast<size_t>(n));
    } else if (n >= 0) {
      auto* large = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
      if (large == nullptr) {
        n = -1;
      } else {
        std::vsnprintf(large, static_cast<size_t>(n) + 1, format, again);
        console_write(stream, large, static_cast<size_t>(n));
        std::free(large);
      }
    }
    va_end(again);
  }
  va_end(args);
  return n;
}

int console_puts(const char* text, std::FILE* stream) {
  if (console_of(stream) == nullptr) return std::fputs(text, stream);
  console_write(stream, text, std::strlen(text));
  return 0;
}

int console_putc(int c, std::FILE* stream) {
  if (console_of(stream) == nullptr) return std::fputc(c, stream);
  char byte = static_cast<char>(c);
  console_write(stream, &byte, 1);
  return static_cast<unsigned char>(byte);
}

char* resolve_links(const char* path) {
  if (path == nullptr) return nullptr;
  int error_number = 0;
  wchar_t* wide = windows_path(path, &error_number);
  if (wide == nullptr) return copy_of(path);
  DWORD attributes = GetFileAttributesW(wide);
  std::free(wide);
  // Only a link is replaced by its target's name: renaming over the link
  // itself would turn it into a plain file.
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return copy_of(path);
  HandleOwner file{open_for_query(path)};
  if (file.handle == INVALID_HANDLE_VALUE) return copy_of(path);
  DWORD length = GetFinalPathNameByHandleW(file.handle, nullptr, 0, FILE_NAME_NORMALIZED);
  if (length == 0) return copy_of(path);
  auto* target = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * (static_cast<size_t>(length) + 1)));
  if (target == nullptr) return nullptr;
  DWORD written = GetFinalPathNameByHandleW(file.handle, target, length + 1, FILE_NAME_NORMALIZED);
  char* resolved = written != 0 && written <= length ? utf8_from_wide(target) : copy_of(path);
  std::free(target);
  return resolved;
}

PathKind path_kind(const char* path) {
  HandleOwner file{open_for_query(path)};
  if (file.handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    // Present but not to be opened: the temporary file's creation says why.
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::Missing : PathKind::Regular;
  }
  if (GetFileType(file.handle) != FILE_TYPE_DISK) return PathKind::Other;  // NUL, CON, a pipe
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.handle, &info)) return PathKind::Regular;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Other;
  return info.nFileSizeHigh == 0 && info.nFileSizeLow == 0 ? PathKind::Empty : PathKind::Regular;
}

int create_new_file(const char* path) {
  int error_number = 0;
  wchar_t* wide = windows_path(path, &error_number);
  if (wide == nullptr) return error_number;
  HANDLE handle = CreateFileW(wide, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = GetLastError();
  std::free(wide);
  if (handle == INVALID_HANDLE_VALUE)
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST : errno_from_windows(error);
  if (!CloseHandle(handle)) {
    error_number = errno_from_windows(GetLastError());
    remove_file(path);
    return error_number;
  }
  return 0;
}

int empty_file(const char* path) {
  int error_number = 0;
  wchar_t* wide = windows_path(path, &error_number);
  if (wide == nullptr) return error_number;
  HANDLE handle = CreateFileW(wide, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = GetLastError();
  std::free(wide);
  if (handle == INVALID_HANDLE_VALUE) return errno_from_windows(error);
  CloseHandle(handle);
  return 0;
}

int replace_file(const char* from, const char* to) {
  int error_number = 0;
  wchar_t* wide_from = windows_path(from, &error_number);
  if (wide_from == nullptr) return error_number;
  wchar_t* wide_to = windows_path(to, &error_number);
  if (wide_to == nullptr) {
    std::free(wide_from);
    return error_number;
  }
  BOOL moved = MoveFileExW(wide_from, wide_to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  DWORD error = GetLastError();
  std::free(wide_from);
  std::free(wide_to);
  return moved ? 0 : errno_from_windows(error);
}

int remove_file(const char* path) {
  int error_number = 0;
  wchar_t* wide = windows_path(path, &error_number);
  if (wide == nullptr) return error_number;
  BOOL removed = DeleteFileW(wide);
  DWORD error = GetLastError();
  std::free(wide);
  return removed ? 0 : errno_from_windows(error);
}

uint64_t current_process_id() { return GetCurrentProcessId(); }

bool process_running(uint64_t pid) {
  if (pid == 0 || pid > 0xFFFFFFFFu) return true;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
  DWORD code = 0;
  bool running = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

void host_name(char* out, size_t capacity) {
  if (capacity == 0) return;
  out[0] = '\0';
  wchar_t wide[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(wide, &length)) return;
  char* text = utf8_from_wide(wide);
  if (text == nullptr) return;
  std::snprintf(out, capacity, "%s", text);
  std::free(text);
}

bool list_directory(const char* dir, void (*visit)(const char* name, void* user), void* user) {
  if (dir == nullptr) return false;
  size_t length = std::strlen(dir);
  auto* pattern = static_cast<char*>(std::malloc(length + 3));
  if (pattern == nullptr) return false;
  std::memcpy(pattern, dir, length);
  bool separated = length > 0 && (dir[length - 1] == '/' || dir[length - 1] == '\\');
  std::memcpy(pattern + length, separated ? "*" : "\\*", separated ? 2 : 3);
  int error_number = 0;
  wchar_t* wide = windows_path(pattern, &error_number);
  std::free(pattern);
  if (wide == nullptr) return false;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(wide, &found);
  std::free(wide);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    char* name = utf8_from_wide(found.cFileName);
    if (name != nullptr && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) visit(name, user);
    std::free(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return true;
}

// Windows has no SIGPIPE: a write to a closed pipe fails already.
void broken_pipe_fails_writes() {}

const char* last_path_separator(const char* path) {
  const char* slash = std::strrchr(path, '/');
  const char* backslash = std::strrchr(path, '\\');
  return slash == nullptr || (backslash != nullptr && backslash > slash) ? backslash : slash;
}

void interrupt_cleanup_hold() { EnterCriticalSection(&cleanup_lock().section); }

void interrupt_cleanup_release() { LeaveCriticalSection(&cleanup_lock().section); }

void interrupt_cleanup_forget(OutputSet* set) {
  if (g_set == set) g_set = nullptr;
}

void interrupt_cleanup_install(OutputSet* set, const char* program_name) {
  interrupt_cleanup_hold();
  g_set = set;
  if (program_name != nullptr) g_program = program_name;
  g_err_is_console = console_of(stderr) != nullptr;
  if (!g_installed) {
    if (SetConsoleCtrlHandler(on_console_event, TRUE)) {
      g_installed = true;
    } else {
      console_printf(stderr, "%s: warning: cannot watch for Ctrl+C (error %lu): an interrupt would leave temporary files\n",
                     g_program, static_cast<unsigned long>(GetLastError()));
    }
  }
  interrupt_cleanup_release();
}

void interrupt_cleanup_restore() {
  interrupt_cleanup_hold();
  if (g_installed && SetConsoleCtrlHandler(on_console_event, FALSE)) g_installed = false;
  g_set = nullptr;
  interrupt_cleanup_release();
}

}  // namespace vantorel::app
