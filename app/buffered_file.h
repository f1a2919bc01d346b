#pragma once
// What the platform file routines share: a handle's own position (tell
// never asks the system), a read buffer and a write buffer, and the rules
// for when bytes leave. Each platform brings its system calls (positional
// reads and writes, size, close) and its open; the rest of the IoRoutines
// are the ones here.
//
// The user value is the RunState or null; when it is set, every failure is
// recorded there with the operation, the file's path and an errno value,
// for the message the user sees.
#include <cstdint>

#include "app/platform.h"
#include "io/io_routines.h"

namespace vantorel::app {

// Reads of at least this size bypass the read buffer, and so do writes of
// at least the write buffer's size (with the bytes waiting before them).
// Smaller writes leave in blocks of exactly the buffer's size, but for the
// last.
constexpr uint32_t kFileReadBuffer = 512 * 1024;
constexpr uint32_t kFileWriteBuffer = 1024 * 1024;

struct BufferedFile;

// The system's side of a file. Each call counts its system calls in the
// file's stats.
struct SystemCalls {
  // Reads until `count` bytes came or the file ended: the bytes read, or -1
  // with *error_number set.
  int64_t (*read_at)(BufferedFile* f, uint8_t* data, uint32_t count, uint64_t at, int* error_number);
  // Writes all `count` bytes at `at` (in order, where the file is
  // sequential): 0, or the errno value of the failure.
  int (*write_at)(BufferedFile* f, const uint8_t* data, uint32_t count, uint64_t at);
  // `a` then `b`, contiguous at `at`, in one call as a rule: 0 or an errno
  // value. Null where the system has no gathering write: the write buffer
  // is topped up and sent, then the rest.
  int (*write_pair)(BufferedFile* f, const uint8_t* a, uint32_t na, const uint8_t* b, uint32_t nb, uint64_t at);
  // `head` (may be empty) then the pieces in turn, contiguous at `at` (in
  // order, where the file is sequential), in as few calls as the system
  // takes: 0 or an errno value. Null where the system has no gathering
  // write: a write a piece.
  int (*write_pieces)(BufferedFile* f, const uint8_t* head, uint32_t head_count, const IoConstPiece* pieces,
                      uint32_t count, uint64_t at);
  // The file's size: 0 or an errno value.
  int (*size)(BufferedFile* f, uint64_t* out);
  // Closes the handle: 0 or an errno value.
  int (*close)(BufferedFile* f);
};

struct BufferedFile {
  const SystemCalls* calls;
  int fd;         // POSIX
  void* handle;   // Windows
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
  uint32_t reserved;      // 1: room was set aside ahead of the writes
  int write_errno;
  PlatformFileStats stats;
  char* path;
};

// The largest file offset.
constexpr uint64_t kMaxFileOffset = static_cast<uint64_t>(INT64_MAX);

// A record for a handle just opened (zero-filled, the path copied); null
// without memory.
BufferedFile* buffered_file_new(const SystemCalls* calls, uint32_t mode, uint32_t sequential, const char* path);

// Records the failure in the RunState `user` (when set); Io.
ErrorCode file_failure(void* user, const char* operation, const char* path, int error_number);

// Sends the waiting bytes; a failure is kept for the close to report too.
ErrorCode buffered_flush(BufferedFile* f, void* user);

// The IoRoutines after open. Close writes what is buffered; Io when that or
// any earlier buffered write failed, so data lost at the end is never
// reported as success. A seek to where the handle is, and tell, never
// flush; other seeks and size do. A position above the largest file offset
// is BadArgument. Reads give exactly `count` bytes or Io (a read past the
// end included), after flushing writes they overlap; read_at leaves the
// handle's position where it was.
ErrorCode buffered_close(void* handle, void* user);
ErrorCode buffered_seek(void* handle, const uint64_t* position, void* user);
ErrorCode buffered_tell(void* handle, uint64_t* out, void* user);
ErrorCode buffered_size(void* handle, uint64_t* out, void* user);
ErrorCode buffered_read(void* handle, void* buffer, uint32_t count, void* user);
ErrorCode buffered_write(void* handle, const void* buffer, uint32_t count, void* user);
ErrorCode buffered_read_at(void* handle, uint64_t position, void* buffer, uint32_t count, void* user);
// Small totals are buffered as writes are; larger ones leave with the
// waiting bytes in the system's gathering write, copied nowhere.
ErrorCode buffered_write_pieces(void* handle, const IoConstPiece* pieces, uint32_t count, void* user);

// platform_file_stats (platform.h) reads the stats of a BufferedFile.

}  // namespace vantorel::app
