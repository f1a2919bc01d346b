// Full 64-bit offsets also where off_t would default to 32 bits.
#define _FILE_OFFSET_BITS 64

#include "app/posix_routines.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include "app/buffered_file.h"

namespace vantorel::app {

static_assert(sizeof(off_t) == 8, "file offsets must be 64 bits");

namespace {

int64_t read_at(BufferedFile* f, uint8_t* data, uint32_t count, uint64_t at, int* error_number) {
  uint32_t done = 0;
  while (done < count) {
    f->stats.system_reads++;
    ssize_t n = pread(f->fd, data + done, count - done, static_cast<off_t>(at + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      *error_number = errno;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}

// A write to a file goes in calls of at most kPosixWriteCall bytes. The system
// backs a larger write with larger page-cache blocks, taken from the memory
// least recently used: on a virtual machine that hands free memory back to
// its host, those are the pages the host must first supply again, and the
// copy into them ran three to four times slower (measured: 788 MB written in
// calls of 1 MiB took 0.54-2.62 s, in calls of 256 KiB 0.21-0.43 s, `cat`
// 0.25-0.43 s). A pipe takes whole blocks.
int write_at(BufferedFile* f, const uint8_t* data, uint32_t count, uint64_t at) {
  uint32_t done = 0;
  while (done < count) {
    f->stats.system_writes++;
    ssize_t n = f->sequential ? write(f->fd, data + done, count - done)
                              : pwrite(f->fd, data + done, std::min(count - done, kPosixWriteCall),
                                       static_cast<off_t>(at + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;  // no progress and no reason: do not spin
    done += static_cast<uint32_t>(n);
  }
  return 0;
}

int size_of(BufferedFile* f, uint64_t* out) {
  struct stat info {};
  if (fstat(f->fd, &info) != 0) return errno;
  *out = static_cast<uint64_t>(info.st_size);
  return 0;
}

int close_file(BufferedFile* f) {
  // Room set aside and left unwritten goes back: a file keeps no more
  // blocks than its bytes take. It is cut from a byte longer, since some
  // file systems ignore a cut to the size a file has. A file that cannot
  // be lengthened keeps its blocks and loses nothing; one lengthened that
  // cannot be cut back holds a byte too many, and that is a failure.
  int error_number = 0;
  struct stat info {};
  if (f->reserved && fstat(f->fd, &info) == 0) {
    const uint64_t block = info.st_blksize > 0 ? static_cast<uint64_t>(info.st_blksize) : 4096;
    const uint64_t needed = (static_cast<uint64_t>(info.st_size) + block - 1) / block * block;
    if (static_cast<uint64_t>(info.st_blocks) * 512 > needed && ftruncate(f->fd, info.st_size + 1) == 0 &&
        ftruncate(f->fd, info.st_size) != 0)
      error_number = errno;
  }
  if (close(f->fd) != 0 && error_number == 0) error_number = errno;
  return error_number;
}

// As many pieces a call as the system takes; a short write goes on from
// where it stopped.
constexpr uint32_t kPiecesPerCall = 1024;

int write_pieces(BufferedFile* f, const uint8_t* head, uint32_t head_count, const IoConstPiece* pieces, uint32_t count,
                 uint64_t at) {
  iovec vectors[kPiecesPerCall];
  // Piece -1 is the head.
  int64_t next = head_count != 0 ? -1 : 0;
  uint32_t sent = 0;  // bytes of piece `next` already written
  auto piece = [&](int64_t i) {
    return i < 0 ? IoConstPiece{head, head_count} : pieces[i];
  };
  const uint64_t most = f->sequential ? UINT64_MAX : kPosixWriteCall;
  while (next < static_cast<int64_t>(count)) {
    int n = 0;
    uint64_t total = 0;
    for (int64_t i = next; i < static_cast<int64_t>(count) && n < static_cast<int>(kPiecesPerCall) && total < most;
         ++i) {
      const IoConstPiece p = piece(i);
      const uint32_t skip = i == next ? sent : 0;
      if (p.count == skip) continue;
      vectors[n].iov_base = const_cast<uint8_t*>(static_cast<const uint8_t*>(p.buffer) + skip);
      vectors[n].iov_len = static_cast<size_t>(std::min<uint64_t>(p.count - skip, most - total));
      total += vectors[n].iov_len;
      ++n;
    }
    if (n == 0) break;
    f->stats.system_writes++;
    ssize_t done = f->sequential ? writev(f->fd, vectors, n) : pwritev(f->fd, vectors, n, static_cast<off_t>(at));
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return errno;
    if (done == 0) return EIO;  // no progress and no reason: do not spin
    at += static_cast<uint64_t>(done);
    uint64_t left = static_cast<uint64_t>(done);
    while (next < static_cast<int64_t>(count) && left >= piece(next).count - sent) {
      left -= piece(next).count - sent;
      sent = 0;
      ++next;
    }
    sent += static_cast<uint32_t>(left);
  }
  return 0;
}

int write_pair(BufferedFile* f, const uint8_t* a, uint32_t na, const uint8_t* b, uint32_t nb, uint64_t at) {
  const IoConstPiece second{b, nb};
  return write_pieces(f, a, na, &second, 1, at);
}

constexpr SystemCalls kPosixCalls{read_at, write_at, write_pair, write_pieces, size_of, close_file};

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
  if (fd < 0) return file_failure(user, "open", standard_output ? "standard output" : name, errno);
  uint32_t sequential = 0;
  if (mode == kOpenCreate) {
    struct stat info {};
    const bool known = fstat(fd, &info) == 0;
    if (standard_output || (known && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || S_ISCHR(info.st_mode))))
      sequential = 1;
#ifdef F_SETPIPE_SZ
    // A pipe as large as a written block: the reader wakes once a block,
    // not sixteen times. Where the system says no, the pipe stays as it is.
    if (known && S_ISFIFO(info.st_mode)) fcntl(fd, F_SETPIPE_SZ, static_cast<int>(kFileWriteBuffer));
#endif
    if (!standard_output && (!known || (S_ISREG(info.st_mode) && info.st_size > 0)) && ftruncate(fd, 0) != 0) {
      int error_number = errno;
      close(fd);
      return file_failure(user, "truncate", name, error_number);
    }
  }
  if (mode != kOpenCreate) {
    // A directory opens for reading but fails every read; say so now.
    struct stat info {};
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
      int error_number = S_ISDIR(info.st_mode) ? EISDIR : errno;
      close(fd);
      return file_failure(user, "open", name, error_number);
    }
  }
  BufferedFile* f = buffered_file_new(&kPosixCalls, mode, sequential, standard_output ? "standard output" : name);
  if (f == nullptr) {
    close(fd);
    return ErrorCode::OutOfMemory;
  }
  f->fd = fd;
  *out_handle = f;
  return ErrorCode::Ok;
}

ErrorCode posix_read_pieces_at(void* handle, uint64_t position, const IoPiece* pieces, uint32_t count, void* user) {
  if (handle == nullptr || (pieces == nullptr && count > 0)) return ErrorCode::BadArgument;
  auto* f = static_cast<BufferedFile*>(handle);
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (pieces[i].buffer == nullptr && pieces[i].count > 0) return ErrorCode::BadArgument;
    total += pieces[i].count;
  }
  if (total == 0) return ErrorCode::Ok;
  if (f->sequential) return file_failure(user, "read", f->path, ESPIPE);
  if (total > kMaxFileOffset || position > kMaxFileOffset - total) return file_failure(user, "read", f->path, EOVERFLOW);
  if (f->write_length != 0 && position < f->write_start + f->write_length && f->write_start < position + total)
    VT_TRY(buffered_flush(f, user));
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
    if (got < 0) return file_failure(user, "read", f->path, errno);
    if (got == 0) return file_failure(user, "read", f->path, 0);  // the file ended first
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

// The writes then find their blocks set aside in one go instead of reserving
// them a page at a time: copying 788 MB in calls of 256 KiB took 0.28 s with
// the room set aside first, 0.31 s without (medians of nine, a sync before
// each run; the sync after took the same). Advice only: where the system
// cannot, the writes find their room as before.
ErrorCode posix_reserve(void* handle, uint64_t size, void* user) {
  (void)user;
  if (handle == nullptr) return ErrorCode::BadArgument;
  auto* f = static_cast<BufferedFile*>(handle);
  if (f->sequential || f->mode != kOpenCreate || size == 0 || size > kMaxFileOffset) return ErrorCode::Ok;
#if defined(__linux__) && defined(FALLOC_FL_KEEP_SIZE)
  // The file's size stays: a reservation larger than what is written adds
  // no bytes to it.
  if (fallocate(f->fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0) f->reserved = 1;
#endif
  return ErrorCode::Ok;
}

ErrorCode posix_view_at(void* handle, uint64_t position, uint64_t count, IoView* out, void* user) {
  if (handle == nullptr || out == nullptr || count == 0) return ErrorCode::BadArgument;
  auto* f = static_cast<BufferedFile*>(handle);
  *out = IoView{};
  if (f->sequential || count > kMaxFileOffset || position > kMaxFileOffset - count) return ErrorCode::Unsupported;
  // Pages past the end of a file fault when touched: the size now, not at open.
  struct stat info {};
  if (fstat(f->fd, &info) != 0) return file_failure(user, "read", f->path, errno);
  if (!S_ISREG(info.st_mode)) return ErrorCode::Unsupported;
  if (position + count > static_cast<uint64_t>(info.st_size)) return file_failure(user, "read", f->path, 0);
  if (f->write_length != 0 && position < f->write_start + f->write_length && f->write_start < position + count)
    VT_TRY(buffered_flush(f, user));
  static const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  const uint64_t start = position - position % page;
  const uint64_t length = count + (position - start);
  if (length > SIZE_MAX) return ErrorCode::Unsupported;
  int flags = MAP_SHARED;
#ifdef MAP_POPULATE
  flags |= MAP_POPULATE;  // the pages are mapped now, not a fault each when written out
#endif
  void* base = mmap(nullptr, static_cast<size_t>(length), PROT_READ, flags, f->fd, static_cast<off_t>(start));
  if (base == MAP_FAILED) return ErrorCode::Unsupported;  // read instead
  madvise(base, static_cast<size_t>(length), MADV_SEQUENTIAL);
  out->base = base;
  out->mapped = length;
  out->data = static_cast<const uint8_t*>(base) + (position - start);
  out->length = count;
  return ErrorCode::Ok;
}

ErrorCode posix_unview(void* handle, IoView* view, void* user) {
  (void)handle;
  (void)user;
  if (view == nullptr || view->base == nullptr) return ErrorCode::BadArgument;
  munmap(view->base, static_cast<size_t>(view->mapped));
  *view = IoView{};
  return ErrorCode::Ok;
}

const IoRoutines& posix_routines() {
  static constexpr IoRoutines table{posix_open,     buffered_close, buffered_seek,    buffered_tell,       buffered_size,
                                    buffered_read,  buffered_write, buffered_read_at, posix_read_pieces_at,
                                    posix_view_at,  posix_unview,   buffered_write_pieces, posix_reserve};
  return table;
}

}  // namespace vantorel::app
