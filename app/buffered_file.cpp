#include "app/buffered_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/run_state.h"

namespace vantorel::app {

namespace {

BufferedFile* file_of(void* handle) { return static_cast<BufferedFile*>(handle); }

ErrorCode note_write_failure(BufferedFile* f, int error_number, void* user) {
  f->write_failed = 1;
  f->write_errno = error_number;
  return file_failure(user, "write", f->path, error_number);
}

// A write over buffered input makes those bytes stale.
void drop_read_overlap(BufferedFile* f, uint64_t at, uint32_t count) {
  if (f->read_length == 0) return;
  if (at < f->read_start + f->read_length && f->read_start < at + count) f->read_length = 0;
}

// Lazily, so a file only read or only written carries one buffer; without
// memory for it, I/O goes straight to the file.
bool ensure_buffer(uint8_t** data, uint32_t size) {
  if (*data == nullptr) *data = static_cast<uint8_t*>(std::malloc(size));
  return *data != nullptr;
}

// Exactly `count` bytes at `at`, or a failure naming the file.
ErrorCode read_exactly(BufferedFile* f, uint8_t* out, uint32_t count, uint64_t at, void* user) {
  int error_number = 0;
  int64_t got = f->calls->read_at(f, out, count, at, &error_number);
  if (got < 0) return file_failure(user, "read", f->path, error_number);
  if (static_cast<uint64_t>(got) < count) return file_failure(user, "read", f->path, 0);  // the file ended first
  return ErrorCode::Ok;
}

}  // namespace

BufferedFile* buffered_file_new(const SystemCalls* calls, uint32_t mode, uint32_t sequential, const char* path) {
  auto* f = static_cast<BufferedFile*>(std::calloc(1, sizeof(BufferedFile)));
  char* copy = path != nullptr ? strdup(path) : nullptr;
  if (f == nullptr || copy == nullptr) {
    std::free(f);
    std::free(copy);
    return nullptr;
  }
  f->calls = calls;
  f->fd = -1;
  f->mode = mode;
  f->sequential = sequential;
  f->path = copy;
  return f;
}

ErrorCode file_failure(void* user, const char* operation, const char* path, int error_number) {
  if (user != nullptr) io_failure_record(&static_cast<RunState*>(user)->failure, operation, path, error_number);
  return ErrorCode::Io;
}

ErrorCode buffered_flush(BufferedFile* f, void* user) {
  if (f->write_length == 0) return ErrorCode::Ok;
  uint32_t length = f->write_length;
  f->write_length = 0;  // kept or lost, these bytes are done with
  int error_number = f->calls->write_at(f, f->write_data, length, f->write_start);
  if (error_number != 0) return note_write_failure(f, error_number, user);
  return ErrorCode::Ok;
}

ErrorCode buffered_close(void* handle, void* user) {
  if (handle == nullptr) return ErrorCode::BadArgument;
  BufferedFile* f = file_of(handle);
  ErrorCode result = buffered_flush(f, user);
  if (int error_number = f->calls->close(f); error_number != 0) result = file_failure(user, "close", f->path, error_number);
  if (f->write_failed && result == ErrorCode::Ok) result = file_failure(user, "write", f->path, f->write_errno);
  std::free(f->read_data);
  std::free(f->write_data);
  std::free(f->path);
  std::free(f);
  return result;
}

ErrorCode buffered_seek(void* handle, const uint64_t* position, void* user) {
  if (handle == nullptr || position == nullptr) return ErrorCode::BadArgument;
  if (*position > kMaxFileOffset) return ErrorCode::BadArgument;
  BufferedFile* f = file_of(handle);
  if (*position == f->position) return ErrorCode::Ok;
  if (f->sequential) return file_failure(user, "seek", f->path, ESPIPE);
  f->position = *position;
  return buffered_flush(f, user);
}

ErrorCode buffered_tell(void* handle, uint64_t* out, void* /*user*/) {
  if (handle == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = file_of(handle)->position;
  return ErrorCode::Ok;
}

ErrorCode buffered_size(void* handle, uint64_t* out, void* user) {
  if (handle == nullptr || out == nullptr) return ErrorCode::BadArgument;
  BufferedFile* f = file_of(handle);
  if (f->sequential) return file_failure(user, "size", f->path, ESPIPE);
  VT_TRY(buffered_flush(f, user));
  if (int error_number = f->calls->size(f, out); error_number != 0)
    return file_failure(user, "size", f->path, error_number);
  return ErrorCode::Ok;
}

ErrorCode buffered_read(void* handle, void* buffer, uint32_t count, void* user) {
  if (handle == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  BufferedFile* f = file_of(handle);
  if (count == 0) return ErrorCode::Ok;
  if (f->sequential) return file_failure(user, "read", f->path, ESPIPE);
  VT_TRY(buffered_flush(f, user));
  if (f->position > kMaxFileOffset - count) return file_failure(user, "read", f->path, EOVERFLOW);

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
  if (left >= kFileReadBuffer || !ensure_buffer(&f->read_data, kFileReadBuffer)) {
    int error_number = 0;
    int64_t got = f->calls->read_at(f, out, left, f->position, &error_number);
    if (got < 0) return file_failure(user, "read", f->path, error_number);
    f->position += static_cast<uint64_t>(got);
    if (static_cast<uint64_t>(got) < left) return file_failure(user, "read", f->path, 0);
    return ErrorCode::Ok;
  }

  f->read_length = 0;
  int error_number = 0;
  int64_t got = f->calls->read_at(f, f->read_data, kFileReadBuffer, f->position, &error_number);
  if (got < 0) return file_failure(user, "read", f->path, error_number);
  f->read_start = f->position;
  f->read_length = static_cast<uint32_t>(got);
  uint32_t n = f->read_length < left ? f->read_length : left;
  std::memcpy(out, f->read_data, n);
  f->position += n;
  if (n < left) return file_failure(user, "read", f->path, 0);  // the file ended first
  return ErrorCode::Ok;
}

ErrorCode buffered_write(void* handle, const void* buffer, uint32_t count, void* user) {
  if (handle == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  BufferedFile* f = file_of(handle);
  if (count == 0) return ErrorCode::Ok;
  if (f->mode == kOpenRead || f->mode == kOpenInspect) return file_failure(user, "write", f->path, EBADF);
  if (f->position > kMaxFileOffset - count) return file_failure(user, "write", f->path, EFBIG);
  const auto* data = static_cast<const uint8_t*>(buffer);
  drop_read_overlap(f, f->position, count);

  // Data that does not follow the buffered bytes (a seek came between) sends
  // them first.
  if (f->write_length != 0 && f->position != f->write_start + f->write_length) VT_TRY(buffered_flush(f, user));
  if (f->write_length != 0 && count >= kFileWriteBuffer) {
    if (f->calls->write_pair != nullptr) {
      // The waiting bytes and a large write leave together, copied nowhere.
      uint32_t length = f->write_length;
      f->write_length = 0;
      int error_number = f->calls->write_pair(f, f->write_data, length, data, count, f->write_start);
      if (error_number != 0) return note_write_failure(f, error_number, user);
      f->position += count;
      return ErrorCode::Ok;
    }
    // No gathering write: the waiting bytes leave as a whole block, the
    // rest straight after it.
    uint32_t room = kFileWriteBuffer - f->write_length;
    std::memcpy(f->write_data + f->write_length, data, room);
    f->write_length = kFileWriteBuffer;
    f->position += room;
    VT_TRY(buffered_flush(f, user));
    int error_number = f->calls->write_at(f, data + room, count - room, f->position);
    if (error_number != 0) return note_write_failure(f, error_number, user);
    f->position += count - room;
    return ErrorCode::Ok;
  }
  while (count > 0) {
    if (f->write_length == 0 && (count >= kFileWriteBuffer || !ensure_buffer(&f->write_data, kFileWriteBuffer))) {
      int error_number = f->calls->write_at(f, data, count, f->position);
      if (error_number != 0) return note_write_failure(f, error_number, user);
      f->position += count;
      return ErrorCode::Ok;
    }
    if (f->write_length == 0) f->write_start = f->position;
    uint32_t room = kFileWriteBuffer - f->write_length;
    uint32_t n = count < room ? count : room;
    std::memcpy(f->write_data + f->write_length, data, n);
    f->write_length += n;
    f->position += n;
    data += n;
    count -= n;
    // A full buffer leaves at once: every block but the last is whole.
    if (f->write_length == kFileWriteBuffer) VT_TRY(buffered_flush(f, user));
  }
  return ErrorCode::Ok;
}

ErrorCode buffered_write_pieces(void* handle, const IoConstPiece* pieces, uint32_t count, void* user) {
  if (handle == nullptr || (pieces == nullptr && count > 0)) return ErrorCode::BadArgument;
  BufferedFile* f = file_of(handle);
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (pieces[i].buffer == nullptr && pieces[i].count > 0) return ErrorCode::BadArgument;
    total += pieces[i].count;
  }
  if (total == 0) return ErrorCode::Ok;
  if (f->mode == kOpenRead || f->mode == kOpenInspect) return file_failure(user, "write", f->path, EBADF);
  if (f->calls->write_pieces == nullptr || total < kFileWriteBuffer / 4 || total > UINT32_MAX) {
    for (uint32_t i = 0; i < count; ++i)
      if (pieces[i].count > 0) VT_TRY(buffered_write(handle, pieces[i].buffer, pieces[i].count, user));
    return ErrorCode::Ok;
  }
  if (f->position > kMaxFileOffset - total) return file_failure(user, "write", f->path, EFBIG);
  drop_read_overlap(f, f->position, static_cast<uint32_t>(total));
  if (f->write_length != 0 && f->position != f->write_start + f->write_length) VT_TRY(buffered_flush(f, user));
  // The waiting bytes go first, in the same call.
  const uint32_t waiting = f->write_length;
  const uint64_t at = waiting != 0 ? f->write_start : f->position;
  f->write_length = 0;
  int error_number = f->calls->write_pieces(f, f->write_data, waiting, pieces, count, at);
  if (error_number != 0) return note_write_failure(f, error_number, user);
  f->position += total;
  return ErrorCode::Ok;
}

ErrorCode buffered_read_at(void* handle, uint64_t position, void* buffer, uint32_t count, void* user) {
  if (handle == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  BufferedFile* f = file_of(handle);
  if (count == 0) return ErrorCode::Ok;
  if (f->sequential) return file_failure(user, "read", f->path, ESPIPE);
  if (position > kMaxFileOffset - count) return file_failure(user, "read", f->path, EOVERFLOW);
  // Written bytes still buffered must be on the file before it is read.
  if (f->write_length != 0 && position < f->write_start + f->write_length && f->write_start < position + count)
    VT_TRY(buffered_flush(f, user));
  return read_exactly(f, static_cast<uint8_t*>(buffer), count, position, user);
}

ErrorCode platform_file_stats(const void* handle, PlatformFileStats* out) {
  if (handle == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = static_cast<const BufferedFile*>(handle)->stats;
  return ErrorCode::Ok;
}

}  // namespace vantorel::app
