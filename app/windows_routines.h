#pragma once
// The platform file routines on Windows: the seven IoRoutines over Win32
// file handles, with the contract, buffer sizes and failure records of the
// POSIX ones (posix_routines.h). Failures are recorded with errno values,
// mapped from the system's error codes, so the messages read the same.
//
// Names are UTF-8 paths; long ones are made absolute and given the prefix
// "\\?\", so no 260-character limit applies.
#include <cstdint>

#include "app/platform.h"
#include "io/io_routines.h"

namespace vantorel::app {

constexpr uint32_t kWindowsReadBuffer = 512 * 1024;
constexpr uint32_t kWindowsWriteBuffer = 1024 * 1024;

ErrorCode windows_open(const void* path, void** out_handle, uint32_t mode, void* user);
ErrorCode windows_close(void* handle, void* user);
ErrorCode windows_seek(void* handle, const uint64_t* position, void* user);
ErrorCode windows_tell(void* handle, uint64_t* out, void* user);
ErrorCode windows_size(void* handle, uint64_t* out, void* user);
ErrorCode windows_read(void* handle, void* buffer, uint32_t count, void* user);
// A write of at least the buffer's size after waiting bytes tops the buffer
// up and sends it, then the rest goes in one call: two calls, not one, as
// Win32 has no gathering write for ordinary files.
ErrorCode windows_write(void* handle, const void* buffer, uint32_t count, void* user);
ErrorCode windows_read_at(void* handle, uint64_t position, void* buffer, uint32_t count, void* user);

const IoRoutines& windows_routines();

ErrorCode windows_file_stats(const void* handle, PlatformFileStats* out);

// The errno value closest to a Win32 error code (EIO when none is).
int errno_from_windows(unsigned long error);

// `path` (UTF-8) as a wide path CreateFileW accepts, \\?\-prefixed when
// too long for the classic limit; malloc'd, or null with *error_number set
// (EILSEQ for text that is not UTF-8).
wchar_t* windows_path(const char* path, int* error_number);

// Wide text as UTF-8, malloc'd; null when it cannot be converted.
char* utf8_from_wide(const wchar_t* text);

}  // namespace vantorel::app
