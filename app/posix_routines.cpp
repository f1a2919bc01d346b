// Full 64-bit offsets also where off_t would default to 32 bits.
#define _FILE_OFFSET_BITS 64

#include "app/posix_routines.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include "app/run_state.h"

namespace vantorel::app {

static_assert(sizeof(off_t) == 8, "file offsets must be 64 bits");

namespace {

constexpr uint64_t kMaxOffset = static_cast<uint64_t>(INT64_MAX);

struct PosixFile {
  int fd;
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
  uint32_t sequential;    // 1: written in order with write(2): a pipe, standard output
  uint32_t write_failed;  // 1 once buffered data was lost
  int write_errno;
  PosixFileStats stats;
  char* path;
};

ErrorCode fail(void* user, const char* operation, const char* path, int error_number) {
  if (user != nullptr) io_failure_record(&static_cast<RunState*>(user)->failure, operation, path, error_number);
  return ErrorCode::Io;
}

// Reads until `count` bytes came or the file ended; the bytes read, or -1
// with errno set.
int64_t read_at(PosixFile* f, uint8_t* data, size_t count, uint64_t at) {
  size_t done = 0;
  while (done < count) {
    f->stats.system_reads++;
    ssize_t n = pread(f->fd, data + done, count - done, static_cast<off_t>(at + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

// Writes all `count` bytes; 0, or the errno of the failure.
int write_at(PosixFile* f, const uint8_t* data, size_t count, uint64_t at) {
  size_t done = 0;
  while (done < count) {
    f->stats.system_writes++;
    ssize_t n = f->sequential ? write(f->fd, data + done, count - done)
                              : pwrite(f->fd, data + done, count - done, static_cast<off_t>(at + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;  // no progress and no reason: do not spin
    done += static_cast<size_t>(n);
  }
  return 0;
}

// Writes `a` then `b`, contiguous at `at`, in one call as a rule; 0 or the errno.
int write_pair(PosixFile* f, const uint8_t* a, size_t na, const uint8_t* b, size_t nb, uint64_t at) {
  iovec pieces[2] = {{const_cast<uint8_t*>(a), na}, {const_cast<uint8_t*>(b), nb}};
  ssize_t n;
  do {
    f->stats.system_writes++;
    n = f->sequential ? writev(f->fd, pieces, 2) : pwritev(f->fd, pieces, 2, static_cast<off_t>(at));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno;
  // A short write: the rest goes piece by piece.
  auto done = static_cast<size_t>(n);
  if (done < na) {
    int error_number = write_at(f, a + done, na - done, at + done);
    if (error_number != 0) return error_number;
    done = na;
  }
  return write_at(f, b + (done - na), nb - (done - na), at + done);
}

ErrorCode note_write_failure(PosixFile* f, int error_number, void* user) {
  f->write_failed = 1;
  f->write_errno = error_number;
  return fail(user, "write", f->path, error_number);
}

ErrorCode flush_writes(PosixFile* f, void* user) {
  if (f->write_length == 0) return ErrorCode::Ok;
  uint32_t length = f->write_length;
  f->write_length = 0;  // kept or lost, these bytes are done with
  int error_number = write_at(f, f->write_data, length, f->write_start);
  if (error_number != 0) return note_write_failure(f, error_number, user);
  return ErrorCode::Ok;
}

// A write over buffered input makes those bytes stale.
void drop_read_overlap(PosixFile* f, uint64_t at, uint32_t count) {
  if (f->read_length == 0) return;
  if (at < f->read_start + f->read_length && f->read_start < at + count) f->read_length = 0;
}

// Lazily, so a file only read or only written carries one buffer; without
// memory for it, I/O goes straight to the file.
bool ensure_buffer(uint8_t** data, uint32_t size) {
  if (*data == nullptr) *data = static_cast<uint8_t*>(std::malloc(size));
  return *data != nullptr;
}

ErrorCode read_direct(PosixFile* f, uint8_t* out, uint32_t count, void* user) {
  int64_t got = read_at(f, out, count, f->position);
  if (got < 0) return fail(user, "read", f->path, errno);
  f->position += static_cast<uint64_t>(got);
  if (static_cast<uint64_t>(got) < count) return fail(user, "read", f->path, 0);
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode posix_open(const void* path, void** out_handle, uint32_t mode, void* user) {
  if (path == nullptr || out_handle == nullptr) return ErrorCode::BadArgument;
  *out_handle = nullptr;
  int flags = O_CLOEXEC;
  switch (mode) {
    case kOpenRead:
    case kOpenInspect: flags |= O_RDONLY; break;
    // Emptied below only when it holds bytes: truncating an empty file
    // makes some file systems (ext4) flush the whole new file when it is
    // closed, which costs a large output a disk write's time.
    case kOpenCreate: flags |= O_WRONLY | O_CREAT; break;
    case kOpenUpdate: flags |= O_RDWR; break;
    default: return ErrorCode::BadArgument;
  }
  const char* name = static_cast<const char*>(path);
  int fd;
  bool standard_output = mode == kOpenCreate && is_standard_output_name(name);
  do {
    // A copy of standard output: closing the handle leaves the stream to main.
    fd = standard_output ? fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0) : open(name, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail(user, "open", standard_output ? "standard output" : name, errno);
  uint32_t sequential = 0;
  if (mode == kOpenCreate) {
    struct stat info {};
    const bool known = fstat(fd, &info) == 0;
    if (standard_output || (known && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || S_ISCHR(info.st_mode))))
      sequential = 1;
    if (!standard_output && (!known || (S_ISREG(info.st_mode) && info.st_size > 0)) && ftruncate(fd, 0) != 0) {
      int error_number = errno;
      close(fd);
      return fail(user, "truncate", name, error_number);
    }
  }
  if (mode != kOpenCreate) {
    // A directory opens for reading but fails every read; say so now.
    struct stat info {};
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
      int error_number = S_ISDIR(info.st_mode) ? EISDIR : errno;
      close(fd);
      return fail(user, "open", name, error_number);
    }
  }
  auto* f = static_cast<PosixFile*>(std::calloc(1, sizeof(PosixFile)));
  char* copy = strdup(standard_output ? "standard output" : name);
  if (f == nullptr || copy == nullptr) {
    std::free(f);
    std::free(copy);
    close(fd);
    return ErrorCode::OutOfMemory;
  }
  f->fd = fd;
  f->mode = mode;
  f->sequential = sequential;
  f->path = copy;
  *out_handle = f;
  return ErrorCode::Ok;
}

ErrorCode posix_close(void* handle, void* user) {
  if (handle == nullptr) return ErrorCode::BadArgument;
  auto* f = static_cast<PosixFile*>(handle);
  ErrorCode result = flush_writes(f, user);
  if (close(f->fd) != 0) result = fail(user, "close", f->path, errno);
  if (f->write_failed && result == ErrorCode::Ok) result = fail(user, "write", f->path, f->write_errno);
  std::free(f->read_data);
  std::free(f->write_data);
  std::free(f->path);
  std::free(f);
  return result;
}

ErrorCode posix_seek(void* handle, const uint64_t* position, void* user) {
  if (handle == nullptr || position == nullptr) return ErrorCode::BadArgument;
  if (*position > kMaxOffset) return ErrorCode::BadArgument;
  auto* f = static_cast<PosixFile*>(handle);
  if (*position == f->position) return ErrorCode::Ok;
  if (f->sequential) return fail(user, "seek", f->path, ESPIPE);
  f->position = *position;
  return flush_writes(f, user);
}

ErrorCode posix_tell(void* handle, uint64_t* out, void* /*user*/) {
  if (handle == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = static_cast<PosixFile*>(handle)->position;
  return ErrorCode::Ok;
}

ErrorCode posix_size(void* handle, uint64_t* out, void* user) {
  if (handle == nullptr || out == nullptr) return ErrorCode::BadArgument;
  auto* f = static_cast<PosixFile*>(handle);
  if (f->sequential) return fail(user, "size", f->path, ESPIPE);
  VT_TRY(flush_writes(f, user));
  struct stat info {};
  if (fstat(f->fd, &info) != 0) return fail(user, "size", f->path, errno);
  *out = static_cast<uint64_t>(info.st_size);
  return ErrorCode::Ok;
}

ErrorCode posix_read(void* handle, void* buffer, uint32_t count, void* user) {
  if (handle == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  auto* f = static_cast<PosixFile*>(handle);
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
  if (left >= kPosixReadBuffer || !ensure_buffer(&f->read_data, kPosixReadBuffer)) {
    return read_direct(f, out, left, user);
  }

  f->read_length = 0;
  int64_t got = read_at(f, f->read_data, kPosixReadBuffer, f->position);
  if (got < 0) return fail(user, "read", f->path, errno);
  f->read_start = f->position;
  f->read_length = static_cast<uint32_t>(got);
  uint32_t n = f->read_length < left ? f->read_length : left;
  std::memcpy(out, f->read_data, n);
  f->position += n;
  if (n < left) return fail(user, "read", f->path, 0);  // the file ended first
  return ErrorCode::Ok;
}

ErrorCode posix_write(void* handle, const void* buffer, uint32_t count, void* user) {
  if (handle == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  auto* f = static_cast<PosixFile*>(handle);
  if (count == 0) return ErrorCode::Ok;
  if (f->mode == kOpenRead || f->mode == kOpenInspect) return fail(user, "write", f->path, EBADF);
  if (f->position > kMaxOffset - count) return fail(user, "write", f->path, EFBIG);
  const auto* data = static_cast<const uint8_t*>(buffer);
  drop_read_overlap(f, f->position, count);

  // Data that does not follow the buffered bytes (a seek came between) sends
  // them first.
  if (f->write_length != 0 && f->position != f->write_start + f->write_length) VT_TRY(flush_writes(f, user));
  if (f->write_length != 0 && count >= kPosixWriteBuffer) {
    // The waiting bytes and a large write leave together, copied nowhere.
    uint32_t length = f->write_length;
    f->write_length = 0;
    int error_number = write_pair(f, f->write_data, length, data, count, f->write_start);
    if (error_number != 0) return note_write_failure(f, error_number, user);
    f->position += count;
    return ErrorCode::Ok;
  }
  while (count > 0) {
    if (f->write_length == 0 && (count >= kPosixWriteBuffer || !ensure_buffer(&f->write_data, kPosixWriteBuffer))) {
      int error_number = write_at(f, data, count, f->position);
      if (error_number != 0) return note_write_failure(f, error_number, user);
      f->position += count;
      return ErrorCode::Ok;
    }
    if (f->write_length == 0) f->write_start = f->position;
    uint32_t room = kPosixWriteBuffer - f->write_length;
    uint32_t n = count < room ? count : room;
    std::memcpy(f->write_data + f->write_length, data, n);
    f->write_length += n;
    f->position += n;
    data += n;
    count -= n;
    // A full buffer leaves at once: every block but the last is whole.
    if (f->write_length == kPosixWriteBuffer) VT_TRY(flush_writes(f, user));
  }
  return ErrorCode::Ok;
}

ErrorCode posix_read_at(void* handle, uint64_t position, void* buffer, uint32_t count, void* user) {
  if (handle == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  auto* f = static_cast<PosixFile*>(handle);
  if (count == 0) return ErrorCode::Ok;
  if (f->sequential) return fail(user, "read", f->path, ESPIPE);
  if (position > kMaxOffset - count) return fail(user, "read", f->path, EOVERFLOW);
  // Written bytes still buffered must be on the file before it is read.
  if (f->write_length != 0 && position < f->write_start + f->write_length && f->write_start < position + count)
    VT_TRY(flush_writes(f, user));
  int64_t got = read_at(f, static_cast<uint8_t*>(buffer), count, position);
  if (got < 0) return fail(user, "read", f->path, errno);
  if (static_cast<uint64_t>(got) < count) return fail(user, "read", f->path, 0);  // the file ended first
  return ErrorCode::Ok;
}

ErrorCode posix_read_pieces_at(void* handle, uint64_t position, const IoPiece* pieces, uint32_t count, void* user) {
  if (handle == nullptr || (pieces == nullptr && count > 0)) return ErrorCode::BadArgument;
  auto* f = static_cast<PosixFile*>(handle);
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (pieces[i].buffer == nullptr && pieces[i].count > 0) return ErrorCode::BadArgument;
    total += pieces[i].count;
  }
  if (total == 0) return ErrorCode::Ok;
  if (f->sequential) return fail(user, "read", f->path, ESPIPE);
  if (total > kMaxOffset || position > kMaxOffset - total) return fail(user, "read", f->path, EOVERFLOW);
  if (f->write_length != 0 && position < f->write_start + f->write_length && f->write_start < position + total)
    VT_TRY(flush_writes(f, user));
  // As many pieces a call as the system takes; a short read goes on from
  // where it stopped.
  constexpr uint32_t kPiecesPerCall = 1024;
  iovec vectors[kPiecesPerCall];
  uint32_t next = 0;      // first piece not yet filled
  uint32_t filled = 0;    // bytes of it already there
  while (next < count) {
    uint32_t n = 0;
    for (uint32_t i = next; i < count && n < kPiecesPerCall; ++i) {
      const uint32_t skip = i == next ? filled : 0;
      if (pieces[i].count == skip) continue;
      vectors[n].iov_base = static_cast<uint8_t*>(pieces[i].buffer) + skip;
      vectors[n].iov_len = pieces[i].count - skip;
      ++n;
    }
    if (n == 0) break;
    f->stats.system_reads++;
    ssize_t got = preadv(f->fd, vectors, static_cast<int>(n), static_cast<off_t>(position));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(user, "read", f->path, errno);
    if (got == 0) return fail(user, "read", f->path, 0);  // the file ended first
    position += static_cast<uint64_t>(got);
    uint64_t left = static_cast<uint64_t>(got);
    while (next < count && left >= pieces[next].count - filled) {
      left -= pieces[next].count - filled;
      filled = 0;
      ++next;
    }
    filled += static_cast<uint32_t>(left);
  }
  return ErrorCode::Ok;
}

const IoRoutines& posix_routines() {
  static constexpr IoRoutines table{posix_open, posix_close, posix_seek,  posix_tell,          posix_size,
                                    posix_read, posix_write, posix_read_at, posix_read_pieces_at};
  return table;
}

ErrorCode posix_file_stats(const void* handle, PosixFileStats* out) {
  if (handle == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = static_cast<const PosixFile*>(handle)->stats;
  return ErrorCode::Ok;
}

}  // namespace vantorel::app
