#pragma once
// The platform file routines on Windows: the seven IoRoutines over Win32
// file handles, with the contract, buffer sizes and failure records of the
// POSIX ones (posix_routines.h). Failures are recorded with errno values,
// mapped from the system's error codes, so the messages read the same.
//
// Names are UTF-8 paths; long ones are made absolute and given the prefix
// "\\?\", so no 260-character limit applies.
#include <cstdint>

#include "app/buffered_file.h"
#include "app/platform.h"
#include "io/io_routines.h"

namespace vantorel::app {

constexpr uint32_t kWindowsReadBuffer = kFileReadBuffer;
constexpr uint32_t kWindowsWriteBuffer = kFileWriteBuffer;

ErrorCode windows_open(const void* path, void** out_handle, uint32_t mode, void* user);

// Its other routines are buffered_file.h's. A write of at least the
// buffer's size after waiting bytes tops the buffer up and sends it, then
// the rest goes in one call: two calls, not one, as Win32 has no gathering
// write for ordinary files.
const IoRoutines& windows_routines();

// The errno value closest to a Win32 error code (EIO when none is).
int errno_from_windows(unsigned long error);

// `path` (UTF-8) as a wide path CreateFileW accepts, \\?\-prefixed when
// too long for the classic limit; malloc'd, or null with *error_number set
// (EILSEQ for text that is not UTF-8).
wchar_t* windows_path(const char* path, int* error_number);

// Wide text as UTF-8, malloc'd; null when it cannot be converted.
char* utf8_from_wide(const wchar_t* text);

}  // namespace vantorel::app
