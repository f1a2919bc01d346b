#include "app/windows_routines.h"

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "app/run_state.h"

namespace vantorel::app {

namespace {

constexpr uint64_t kMaxOffset = static_cast<uint64_t>(INT64_MAX);
// Paths this long may meet the classic MAX_PATH limit (less room for a
// file name in a directory that is created).
constexpr size_t kClassicPathLimit = MAX_PATH - 12;

struct WindowsFile {
  HANDLE handle;
  uint32_t mode;
  uint64_t position;  // where the next read or write goes
  // Bytes [read_start, read_start + read_length) of the file.
  uint8_t* read_data;
  uint64_t read_start;
  uint32_t read_length;
  // Bytes not yet written, due at [write_start, write_start + write_length).
  uint8_t* write_data;
  uint64_t write_start;
  uint32_t write_length;
  uint32_t sequential;    // 1: written in order: a pipe, a console, standard output
  uint32_t write_failed;  // 1 once buffered data was lost
  int write_errno;
  PlatformFileStats stats;
  char* path;
};

ErrorCode fail(void* user, const char* operation, const char* path, int error_number) {
  if (user != nullptr) io_failure_record(&static_cast<RunState*>(user)->failure, operation, path, error_number);
  return ErrorCode::Io;
}

ErrorCode fail_last(void* user, const char* operation, const char* path) {
  return fail(user, operation, path, errno_from_windows(GetLastError()));
}

OVERLAPPED at_offset(uint64_t at) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
  where.OffsetHigh = static_cast<DWORD>(at >> 32);
  return where;
}

// Reads until `count` bytes came or the file ended; the bytes read, or -1
// with the errno value in *error_number.
int64_t read_at(WindowsFile* f, uint8_t* data, uint32_t count, uint64_t at, int* error_number) {
  uint32_t done = 0;
  while (done < count) {
    f->stats.system_reads++;
    // The offset travels with each call, so the handle's own pointer never matters.
    OVERLAPPED where = at_offset(at + done);
    DWORD n = 0;
    if (!ReadFile(f->handle, data + done, count - done, &n, &where)) {
      DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      *error_number = errno_from_windows(error);
      return -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

// Writes all `count` bytes; 0, or the errno value of the failure.
int write_at(WindowsFile* f, const uint8_t* data, uint32_t count, uint64_t at) {
  uint32_t done = 0;
  while (done < count) {
    f->stats.system_writes++;
    DWORD n = 0;
    BOOL ok;
    if (f->sequential) {
      ok = WriteFile(f->handle, data + done, count - done, &n, nullptr);
    } else {
      OVERLAPPED where = at_offset(at + done);
      ok = WriteFile(f->handle, data + done, count - done, &n, &where);
    }
    if (!ok) return errno_from_windows(GetLastError());
    if (n == 0) return EIO;  // no progress and no reason: do not spin
    done += n;
  }
  return 0;
}

ErrorCode note_write_failure(WindowsFile* f, int error_number, void* user) {
  f->write_failed = 1;
  f->write_errno = error_number;
  return fail(user, "write", f->path, error_number);
}

ErrorCode flush_writes(WindowsFile* f, void* user) {
  if (f->write_length == 0) return ErrorCode::Ok;
  uint32_t length = f->write_length;
  f->write_length = 0;  // kept or lost, these bytes are done with
  int error_number = write_at(f, f->write_data, length, f->write_start);
  if (error_number != 0) return note_write_failure(f, error_number, user);
  return ErrorCode::Ok;
}

// A write over buffered input makes those bytes stale.
void drop_read_overlap(WindowsFile* f, uint64_t at, uint32_t count) {
  if (f->read_length == 0) return;
  if (at < f->read_start + f->read_length && f->read_start < at + count) f->read_length = 0;
}

// Lazily, so a file only read or only written carries one buffer; without
// memory for it, I/O goes straight to the file.
bool ensure_buffer(uint8_t** data, uint32_t size) {
  if (*data == nullptr) *data = static_cast<uint8_t*>(std::malloc(size));
  return *data != nullptr;
}

ErrorCode read_direct(WindowsFile* f, uint8_t* out, uint32_t count, void* user) {
  int error_number = 0;
  int64_t got = read_at(f, out, count, f->position, &error_number);
  if (got < 0) return fail(user, "read", f->path, error_number);
  f->position += static_cast<uint64_t>(got);
  if (static_cast<uint64_t>(got) < count) return fail(user, "read", f->path, 0);
  return ErrorCode::Ok;
}

// A copy of standard output's handle: closing ours leaves the stream to main.
HANDLE duplicate_standard_output() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
  if (out == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);  // a process started without one
    return INVALID_HANDLE_VALUE;
  }
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (!DuplicateHandle(GetCurrentProcess(), out, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return INVALID_HANDLE_VALUE;
  return copy;
}

}  // namespace

int errno_from_windows(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CURRENT_DIRECTORY: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED: return EPIPE;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_FILE_TOO_LARGE: return EFBIG;
    case ERROR_NEGATIVE_SEEK:
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_NO_UNICODE_TRANSLATION: return EILSEQ;
    default: return EIO;
  }
}

wchar_t* windows_path(const char* path, int* error_number) {
  *error_number = 0;
  int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (length <= 0) {
    *error_number = errno_from_windows(GetLastError());
    return nullptr;
  }
  auto* wide = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * static_cast<size_t>(length)));
  if (wide == nullptr) {
    *error_number = ENOMEM;
    return nullptr;
  }
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, length) != length) {
    *error_number = errno_from_windows(GetLastError());
    std::free(wide);
    return nullptr;
  }
  if (static_cast<size_t>(length - 1) < kClassicPathLimit || std::wcsncmp(wide, L"\\\\?\\", 4) == 0) return wide;

  // Too long for the classic limit: the \\?\ form takes only absolute paths
  // with backslashes, which GetFullPathNameW makes (the count includes the NUL).
  DWORD full_length = GetFullPathNameW(wide, 0, nullptr, nullptr);
  if (full_length == 0) {
    *error_number = errno_from_windows(GetLastError());
    std::free(wide);
    return nullptr;
  }
  // "\\?\UNC\" replaces the leading "\\" of a network path: room for 8.
  auto* full = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * (static_cast<size_t>(full_length) + 8)));
  if (full == nullptr) {
    *error_number = ENOMEM;
    std::free(wide);
    return nullptr;
  }
  wchar_t* body = full + 8;
  DWORD written = GetFullPathNameW(wide, full_length, body, nullptr);
  std::free(wide);
  if (written == 0 || written >= full_length) {
    *error_number = written == 0 ? errno_from_windows(GetLastError()) : ENAMETOOLONG;
    std::free(full);
    return nullptr;
  }
  const wchar_t* prefix = L"\\\\?\\";
  if (body[0] == L'\\' && body[1] == L'\\') {
    prefix = L"\\\\?\\UNC";  // \\server\share -> \\?\UNC\server\share
    body += 1;
  }
  size_t prefix_length = std::wcslen(prefix);
  std::memmove(full, body, sizeof(wchar_t) * (std::wcslen(body) + 1));
  std::memmove(full + prefix_length, full, sizeof(wchar_t) * (std::wcslen(full) + 1));
  std::memcpy(full, prefix, sizeof(wchar_t) * prefix_length);
  return full;
}

char* utf8_from_wide(const wchar_t* text) {
  int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return nullptr;
  auto* out = static_cast<char*>(std::malloc(static_cast<size_t>(length)));
  if (out == nullptr) return nullptr;
  if (WideCharToMultiByte(CP_UTF8, 0, text, -1, out, length, nullptr, nullptr) != length) {
    std::free(out);
    return nullptr;
  }
  return out;
}

ErrorCode windows_open(const void* path, void** out_handle, uint32_t mode, void* user) {
  if (path == nullptr || out_handle == nullptr) return ErrorCode::BadArgument;
  *out_handle = nullptr;
  DWORD access = 0;
  DWORD disposition = 0;
  switch (mode) {
    case kOpenRead:
    case kOpenInspect: access = GENERIC_READ; disposition = OPEN_EXISTING; break;
    case kOpenCreate: access = GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
    case kOpenUpdate: access = GENERIC_READ | GENERIC_WRITE; disposition = OPEN_EXISTING; break;
    default: return ErrorCode::BadArgument;
  }
  const char* name = static_cast<const char*>(path);
  bool standard_output = mode == kOpenCreate && is_standard_output_name(name);
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (standard_output) {
    handle = duplicate_standard_output();
    if (handle == INVALID_HANDLE_VALUE) return fail_last(user, "open", "standard output");
  } else {
    int error_number = 0;
    wchar_t* wide = windows_path(name, &error_number);
    if (wide == nullptr) return fail(user, "open", name, error_number);
    // A directory opens only with backup semantics, and then fails every
    // read; say so now, as the POSIX routines do.
    DWORD attributes = GetFileAttributesW(wide);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      std::free(wide);
      return fail(user, "open", name, EISDIR);
    }
    // Sharing delete lets an interrupt remove a temporary file still open.
    handle = CreateFileW(wide, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    std::free(wide);
    if (handle == INVALID_HANDLE_VALUE) return fail(user, "open", name, errno_from_windows(error));
  }
  uint32_t sequential = 0;
  if (mode == kOpenCreate) {
    SetLastError(NO_ERROR);
    DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) {
      int error_number = errno_from_windows(GetLastError());
      CloseHandle(handle);
      return fail(user, "open", standard_output ? "standard output" : name, error_number);
    }
    if (standard_output || type != FILE_TYPE_DISK) sequential = 1;
  }
  auto* f = static_cast<WindowsFile*>(std::calloc(1, sizeof(WindowsFile)));
  char* copy = strdup(standard_output ? "standard output" : name);
  if (f == nullptr || copy == nullptr) {
    std::free(f);
    std::free(copy);
    CloseHandle(handle);
    return ErrorCode::OutOfMemory;
  }
  f->handle = handle;
  f->mode = mode;
  f->sequential = sequential;
  f->path = copy;
  *out_handle = f;
  return ErrorCode::Ok;
}

ErrorCode windows_close(void* handle, void* user) {
  if (handle == nullptr) return ErrorCode::BadArgument;
  auto* f = static_cast<WindowsFile*>(handle);
  ErrorCode result = flush_writes(f, user);
  if (!CloseHandle(f->handle)) result = fail_last(user, "close", f->path);
  if (f->write_failed && result == ErrorCode::Ok) result = fail(user, "write", f->path, f->write_errno);
  std::free(f->read_data);
  std::free(f->write_data);
  std::free(f->path);
  std::free(f);
  return result;
}

ErrorCode windows_seek(void* handle, const uint64_t* position, void* user) {
  if (handle == nullptr || position == nullptr) return ErrorCode::BadArgument;
  if (*position > kMaxOffset) return ErrorCode::BadArgument;
  auto* f = static_cast<WindowsFile*>(handle);
  if (*position == f->position) return ErrorCode::Ok;
  if (f->sequential) return fail(user, "seek", f->path, ESPIPE);
  f->position = *position;
  return flush_writes(f, user);
}

ErrorCode windows_tell(void* handle, uint64_t* out, void* /*user*/) {
  if (handle == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = static_cast<WindowsFile*>(handle)->position;
  return ErrorCode::Ok;
}

ErrorCode windows_size(void* handle, uint64_t* out, void* user) {
  if (handle == nullptr || out == nullptr) return ErrorCode::BadArgument;
  auto* f = static_cast<WindowsFile*>(handle);
  if (f->sequential) return fail(user, "size", f->path, ESPIPE);
  VT_TRY(flush_writes(f, user));
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(f->handle, &size)) return fail_last(user, "size", f->path);
  if (size.QuadPart < 0) return fail(user, "size", f->path, EOVERFLOW);
  *out = static_cast<uint64_t>(size.QuadPart);
  return ErrorCode::Ok;
}

ErrorCode windows_read(void* handle, void* buffer, uint32_t count, void* user) {
  if (handle == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  auto* f = static_cast<WindowsFile*>(handle);
  if (count == 0) return ErrorCode::Ok;
  if (f->sequential) return fail(user, "read", f->path, ESPIPE);
  VT_TRY(flush_writes(f, user));
  if (f->position > kMaxOffset - count) return fail(user, "read", f->path, EOVERFLOW);

  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t left = count;
  if (f->read_length != 0 && f->position >= f->read_start && f->position - f->read_start < f->read_length) {
    uint64_t offset = f->position - f->read_start;
    uint32_t n = static_cast<uint32_t>(f->read_length - offset) < left ? static_cast<uint32_t>(f->read_length - offset)
                                                                       : left;
    std::memcpy(out, f->read_data + offset, n);
    out += n;
    left -= n;
    f->position += n;
  }
  if (left == 0) return ErrorCode::Ok;
  if (left >= kWindowsReadBuffer || !ensure_buffer(&f->read_data, kWindowsReadBuffer)) {
    return read_direct(f, out, left, user);
  }

  f->read_length = 0;
  int error_number = 0;
  int64_t got = read_at(f, f->read_data, kWindowsReadBuffer, f->position, &error_number);
  if (got < 0) return fail(user, "read", f->path, error_number);
  f->read_start = f->position;
  f->read_length = static_cast<uint32_t>(got);
  uint32_t n = f->read_length < left ? f->read_length : left;
  std::memcpy(out, f->read_data, n);
  f->position += n;
  if (n < left) return fail(user, "read", f->path, 0);  // the file ended first
  return ErrorCode::Ok;
}

ErrorCode windows_write(void* handle, const void* buffer, uint32_t count, void* user) {
  if (handle == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  auto* f = static_cast<WindowsFile*>(handle);
  if (count == 0) return ErrorCode::Ok;
  if (f->mode == kOpenRead || f->mode == kOpenInspect) return fail(user, "write", f->path, EBADF);
  if (f->position > kMaxOffset - count) return fail(user, "write", f->path, EFBIG);
  const auto* data = static_cast<const uint8_t*>(buffer);
  drop_read_overlap(f, f->position, count);

  // Data that does not follow the buffered bytes (a seek came between) sends
  // them first.
  if (f->write_length != 0 && f->position != f->write_start + f->write_length) VT_TRY(flush_writes(f, user));
  if (f->write_length != 0 && count >= kWindowsWriteBuffer) {
    // The waiting bytes leave as a whole block, the rest straight after it.
    uint32_t room = kWindowsWriteBuffer - f->write_length;
    std::memcpy(f->write_data + f->write_length, data, room);
    f->write_length = kWindowsWriteBuffer;
    f->position += room;
    VT_TRY(flush_writes(f, user));
    int error_number = write_at(f, data + room, count - room, f->position);
    if (error_number != 0) return note_write_failure(f, error_number, user);
    f->position += count - room;
    return ErrorCode::Ok;
  }
  while (count > 0) {
    if (f->write_length == 0 &&
        (count >= kWindowsWriteBuffer || !ensure_buffer(&f->write_data, kWindowsWriteBuffer))) {
      int error_number = write_at(f, data, count, f->position);
      if (error_number != 0) return note_write_failure(f, error_number, user);
      f->position += count;
      return ErrorCode::Ok;
    }
    if (f->write_length == 0) f->write_start = f->position;
    uint32_t room = kWindowsWriteBuffer - f->write_length;
    uint32_t n = count < room ? count : room;
    std::memcpy(f->write_data + f->write_length, data, n);
    f->write_length += n;
    f->position += n;
    data += n;
    count -= n;
    // A full buffer leaves at once: every block but the last is whole.
    if (f->write_length == kWindowsWriteBuffer) VT_TRY(flush_writes(f, user));
  }
  return ErrorCode::Ok;
}

ErrorCode windows_read_at(void* handle, uint64_t position, void* buffer, uint32_t count, void* user) {
  if (handle == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  auto* f = static_cast<WindowsFile*>(handle);
  if (count == 0) return ErrorCode::Ok;
  if (f->sequential) return fail(user, "read", f->path, ESPIPE);
  if (position > kMaxOffset - count) return fail(user, "read", f->path, EOVERFLOW);
  // Written bytes still buffered must be on the file before it is read.
  if (f->write_length != 0 && position < f->write_start + f->write_length && f->write_start < position + count)
    VT_TRY(flush_writes(f, user));
  int error_number = 0;
  int64_t got = read_at(f, static_cast<uint8_t*>(buffer), count, position, &error_number);
  if (got < 0) return fail(user, "read", f->path, error_number);
  if (static_cast<uint64_t>(got) < count) return fail(user, "read", f->path, 0);  // the file ended first
  return ErrorCode::Ok;
}

const IoRoutines& windows_routines() {
  static constexpr IoRoutines table{windows_open, windows_close, windows_seek,  windows_tell,
                                    windows_size, windows_read,  windows_write, windows_read_at, nullptr};
  return table;
}

ErrorCode windows_file_stats(const void* handle, PlatformFileStats* out) {
  if (handle == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = static_cast<const WindowsFile*>(handle)->stats;
  return ErrorCode::Ok;
}

}  // namespace vantorel::app
