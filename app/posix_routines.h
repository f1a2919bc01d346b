#pragma once
// The platform file routines: the seven IoRoutines over POSIX file
// descriptors, with 64-bit positions and a read and a write buffer per
// handle, so that the many small reads and writes of a remux (box fields,
// adjacent samples) cost few system calls.
//
// The name given to open is a NUL-terminated path. The user value is the
// RunState or null; when it is set, every failure is recorded there with
// the operation, the file's path and errno, for the message the user sees.
#include <cstdint>

#include "app/platform.h"
#include "io/io_routines.h"

namespace vantorel::app {

// Reads of at least this size bypass the read buffer, and so do writes of
// at least the write buffer's size (in one call with the bytes waiting
// before them). Smaller writes leave in blocks of exactly the buffer's
// size, but for the last.
constexpr uint32_t kPosixReadBuffer = 512 * 1024;
constexpr uint32_t kPosixWriteBuffer = 1024 * 1024;

// Standard output (kStandardOutputName) is written in order, as are FIFOs,
// sockets and character devices: a seek elsewhere than the current
// position, a read and a size fail (ESPIPE).

// Modes 0 and 1 open an existing file for reading (a directory is refused),
// 2 creates or truncates one for writing (permissions 0666 less the umask),
// 3 opens an existing one for reading and writing. Null pointers and
// unknown modes: BadArgument. A failed open: Io.
ErrorCode posix_open(const void* path, void** out_handle, uint32_t mode, void* user);
// Writes what is buffered and closes; Io when that or any earlier buffered
// write failed, so data lost at the end is never reported as success.
ErrorCode posix_close(void* handle, void* user);
// A handle keeps its own position: tell never flushes, nor does a seek to
// where it is. Buffered writes are flushed before other seeks and size. A
// position above the largest file offset is 1.
ErrorCode posix_seek(void* handle, const uint64_t* position, void* user);
ErrorCode posix_tell(void* handle, uint64_t* out, void* user);
ErrorCode posix_size(void* handle, uint64_t* out, void* user);
// Exactly `count` bytes or 3 (a read past the end included). Buffered
// writes are flushed first, so a read sees everything written before it.
ErrorCode posix_read(void* handle, void* buffer, uint32_t count, void* user);
ErrorCode posix_write(void* handle, const void* buffer, uint32_t count, void* user);
// Exactly `count` bytes from `position`, straight into `buffer` (one pread
// as a rule, past the read buffer) or 3; the handle's position stays.
ErrorCode posix_read_at(void* handle, uint64_t position, void* buffer, uint32_t count, void* user);
// The bytes from `position` on into the pieces in turn (preadv, a call per
// 1024 pieces) or 3; the handle's position stays.
ErrorCode posix_read_pieces_at(void* handle, uint64_t position, const IoPiece* pieces, uint32_t count, void* user);

const IoRoutines& posix_routines();

// System calls a handle has made for data, to check the buffering.
struct PosixFileStats {
  uint32_t system_reads;
  uint32_t system_writes;
};
ErrorCode posix_file_stats(const void* handle, PosixFileStats* out);

}  // namespace vantorel::app
