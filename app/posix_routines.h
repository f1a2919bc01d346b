#pragma once
// The platform file routines over POSIX file descriptors, with 64-bit
// positions and the buffering of buffered_file.h, so that the many small
// reads and writes of a remux (box fields, adjacent samples) cost few
// system calls. The name given to open is a NUL-terminated path.
#include <cstdint>

#include "app/buffered_file.h"
#include "app/platform.h"
#include "io/io_routines.h"

namespace vantorel::app {

constexpr uint32_t kPosixReadBuffer = kFileReadBuffer;
constexpr uint32_t kPosixWriteBuffer = kFileWriteBuffer;
// The most bytes one system call writes to a file (not to a pipe): why, in
// posix_routines.cpp.
constexpr uint32_t kPosixWriteCall = 256 * 1024;

// Standard output (kStandardOutputName) is written in order, as are FIFOs,
// sockets and character devices: a seek elsewhere than the current
// position, a read and a size fail (ESPIPE).

// Modes 0 and 1 open an existing file for reading (a directory is refused),
// 2 creates or truncates one for writing (permissions 0666 less the umask),
// 3 opens an existing one for reading and writing. Null pointers and
// unknown modes: BadArgument. A failed open: Io.
ErrorCode posix_open(const void* path, void** out_handle, uint32_t mode, void* user);
// The bytes from `position` on into the pieces in turn (preadv, a call per
// 1024 pieces) or 3; the handle's position stays.
ErrorCode posix_read_pieces_at(void* handle, uint64_t position, const IoPiece* pieces, uint32_t count, void* user);

// A read-only mapping of part of a regular file (Unsupported for pipes and
// where the system refuses: the bytes are then read); a range past the
// file's current end is Io.
ErrorCode posix_view_at(void* handle, uint64_t position, uint64_t count, IoView* out, void* user);
ErrorCode posix_unview(void* handle, IoView* view, void* user);

// Sets aside room for a file being created (Linux: fallocate, keeping its
// size); nothing for pipes or where the system cannot. Room left unwritten
// is given back when the file is closed. Never fails but for a null handle.
ErrorCode posix_reserve(void* handle, uint64_t size, void* user);

// Its close, seek, tell, size, read, write, read_at and write_pieces are buffered_file.h's.
const IoRoutines& posix_routines();

}  // namespace vantorel::app
