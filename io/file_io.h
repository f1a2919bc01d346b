#pragma once
// The I/O part of an open file: its mode, error latch, routine tables,
// writer name and where a failure happened. The layers above add their own
// parts to it (the box tree, metadata, imports, cursors); this layer knows
// only its own.
#include <cstdint>

#include "io/error.h"
#include "io/fourcc.h"
#include "io/grow_array.h"
#include "io/io_routines.h"

namespace vantorel {

struct RoutineTable {
  IoRoutines routines;
  void* handle;
};

// Where a failure happened, for messages the user can act on.
struct ErrorDetail {
  uint32_t set;          // 1 once a failure has been located
  uint64_t offset;       // start of the failing box
  char path[200];        // moov/trak[2]/mdia/minf/stbl/stsz
  const char* reason;    // static text, or null
};

struct FileIo {
  uint32_t mode;
  uint32_t io_error;  // sticky latch: set by any failed routine, never cleared
  void* user;
  RoutineTable base;
  RoutineTable current;
  char* writer_name;
  uint32_t header_buffering_off;
  ErrorDetail detail;
};

constexpr const char* kDefaultWriterName = "tq4f ";

// What attach takes from the caller.
struct IoOpenParams {
  IoRoutines routines;
  const void* path;
  void* user;
  const char* writer_name;  // null or empty: kDefaultWriterName
};

// Takes the routines, name, user value and writer name and opens the
// stream. A table with a missing routine (or without `write` for modes 2 and
// 3) is replaced as a whole by the C-stream table.
ErrorCode attach(FileIo* file, const IoOpenParams* params, uint32_t mode);
// Closes the base handle and frees the writer name; the close routine's result.
ErrorCode detach(FileIo* file);

// True while the current routines are not the file's own (parsing from memory).
inline bool parsing_from_substitute(const FileIo* file) { return file->current.handle != file->base.handle; }

// Records why a read failed, for the message; the first reason wins.
void set_error_reason(FileIo* file, const char* reason);
// Records a failure at a file offset outside the box tree (a sample read, say).
void set_error_at(FileIo* file, uint64_t offset, const char* reason);

// Redirects the file's current routines for a scope and restores the table
// that was current before, on every path, so redirects can nest.
class RoutineRedirect {
 public:
  RoutineRedirect(FileIo* file, const IoRoutines& routines, void* handle) : file_(file), saved_(file->current) {
    file->current.routines = routines;
    file->current.handle = handle;
  }
  ~RoutineRedirect() { file_->current = saved_; }
  RoutineRedirect(const RoutineRedirect&) = delete;
  RoutineRedirect& operator=(const RoutineRedirect&) = delete;

 private:
  FileIo* file_;
  RoutineTable saved_;
};

// A memory stream that the file's I/O goes through for a scope: a read-only
// view of a buffer, or a growable stream to assemble output in. The previous
// routines are restored before the stream is closed.
class ScopedMemoryStream {
 public:
  explicit ScopedMemoryStream(FileIo* file) : file_(file) {}
  ~ScopedMemoryStream() { close(); }
  ScopedMemoryStream(const ScopedMemoryStream&) = delete;
  ScopedMemoryStream& operator=(const ScopedMemoryStream&) = delete;

  ErrorCode open_view(const void* data, uint32_t length);
  ErrorCode open_writable();
  MemoryStream* stream() const { return static_cast<MemoryStream*>(handle_); }
  // Restores the routines and closes the stream; safe to call twice.
  void close();

 private:
  ErrorCode open(const MemoryPair* pair, uint32_t mode);
  FileIo* file_;
  void* handle_ = nullptr;
  RoutineTable saved_{};
};

}  // namespace vantorel
