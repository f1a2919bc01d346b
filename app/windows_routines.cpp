#include "app/windows_routines.h"

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "app/buffered_file.h"

namespace vantorel::app {

namespace {

// Paths this long may meet the classic MAX_PATH limit (less room for a
// file name in a directory that is created).
constexpr size_t kClassicPathLimit = MAX_PATH - 12;

ErrorCode fail_last(void* user, const char* operation, const char* path) {
  return file_failure(user, operation, path, errno_from_windows(GetLastError()));
}

HANDLE handle_of(BufferedFile* f) { return static_cast<HANDLE>(f->handle); }

OVERLAPPED at_offset(uint64_t at) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
  where.OffsetHigh = static_cast<DWORD>(at >> 32);
  return where;
}

// Reads until `count` bytes came or the file ended; the bytes read, or -1
// with the errno value in *error_number.
int64_t read_at(BufferedFile* f, uint8_t* data, uint32_t count, uint64_t at, int* error_number) {
  uint32_t done = 0;
  while (done < count) {
    f->stats.system_reads++;
    // The offset travels with each call, so the handle's own pointer never matters.
    OVERLAPPED where = at_offset(at + done);
    DWORD n = 0;
    if (!ReadFile(handle_of(f), data + done, count - done, &n, &where)) {
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
int write_at(BufferedFile* f, const uint8_t* data, uint32_t count, uint64_t at) {
  uint32_t done = 0;
  while (done < count) {
    f->stats.system_writes++;
    DWORD n = 0;
    BOOL ok;
    if (f->sequential) {
      ok = WriteFile(handle_of(f), data + done, count - done, &n, nullptr);
    } else {
      OVERLAPPED where = at_offset(at + done);
      ok = WriteFile(handle_of(f), data + done, count - done, &n, &where);
    }
    if (!ok) return errno_from_windows(GetLastError());
    if (n == 0) return EIO;  // no progress and no reason: do not spin
    done += n;
  }
  return 0;
}

int size_of(BufferedFile* f, uint64_t* out) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle_of(f), &size)) return errno_from_windows(GetLastError());
  if (size.QuadPart < 0) return EOVERFLOW;
  *out = static_cast<uint64_t>(size.QuadPart);
  return 0;
}

int close_file(BufferedFile* f) { return CloseHandle(handle_of(f)) ? 0 : errno_from_windows(GetLastError()); }

// Win32 has no gathering write for ordinary files: no write_pair.
constexpr SystemCalls kWindowsCalls{read_at, write_at, nullptr, nullptr, size_of, close_file};

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
    if (wide == nullptr) return file_failure(user, "open", name, error_number);
    // A directory opens only with backup semantics, and then fails every
    // read; say so now, as the POSIX routines do.
    DWORD attributes = GetFileAttributesW(wide);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      std::free(wide);
      return file_failure(user, "open", name, EISDIR);
    }
    // Sharing delete lets an interrupt remove a temporary file still open.
    handle = CreateFileW(wide, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    std::free(wide);
    if (handle == INVALID_HANDLE_VALUE) return file_failure(user, "open", name, errno_from_windows(error));
  }
  uint32_t sequential = 0;
  if (mode == kOpenCreate) {
    SetLastError(NO_ERROR);
    DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) {
      int error_number = errno_from_windows(GetLastError());
      CloseHandle(handle);
      return file_failure(user, "open", standard_output ? "standard output" : name, error_number);
    }
    if (standard_output || type != FILE_TYPE_DISK) sequential = 1;
  }
  BufferedFile* f = buffered_file_new(&kWindowsCalls, mode, sequential, standard_output ? "standard output" : name);
  if (f == nullptr) {
    CloseHandle(handle);
    return ErrorCode::OutOfMemory;
  }
  f->handle = handle;
  *out_handle = f;
  return ErrorCode::Ok;
}

const IoRoutines& windows_routines() {
  static constexpr IoRoutines table{windows_open,  buffered_close, buffered_seek,    buffered_tell, buffered_size,
                                    buffered_read, buffered_write, buffered_read_at, nullptr, nullptr, nullptr, nullptr,
                                    nullptr};
  return table;
}

}  // namespace vantorel::app
