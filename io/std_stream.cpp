// Default routines over C streams, with 64-bit positions.
// off_t is 32 bits by default on 32-bit systems and on mingw-w64.
#define _FILE_OFFSET_BITS 64

#include <cstdio>
#include <sys/types.h>

#include "io/io_routines.h"

namespace vantorel {

static_assert(sizeof(off_t) == 8, "file offsets must be 64 bits");

ErrorCode std_open(const void* path, void** out_handle, uint32_t mode, void*) {
  if (path == nullptr || out_handle == nullptr || mode > kOpenUpdate) return ErrorCode::BadArgument;
  const char* how = mode == kOpenCreate ? "wb" : mode == kOpenUpdate ? "r+b" : "rb";
  std::FILE* f = std::fopen(static_cast<const char*>(path), how);
  if (f == nullptr) return ErrorCode::Io;
  *out_handle = f;
  return ErrorCode::Ok;
}

ErrorCode std_close(void* handle, void*) {
  if (handle == nullptr) return ErrorCode::BadArgument;
  return std::fclose(static_cast<std::FILE*>(handle)) == 0 ? ErrorCode::Ok : ErrorCode::Io;
}

ErrorCode std_seek(void* handle, const uint64_t* position, void*) {
  if (handle == nullptr || position == nullptr) return ErrorCode::BadArgument;
  if (*position > static_cast<uint64_t>(INT64_MAX)) return ErrorCode::BadArgument;
  return fseeko(static_cast<std::FILE*>(handle), static_cast<off_t>(*position), SEEK_SET) == 0 ? ErrorCode::Ok
                                                                                                : ErrorCode::Io;
}

ErrorCode std_tell(void* handle, uint64_t* out, void*) {
  if (handle == nullptr || out == nullptr) return ErrorCode::BadArgument;
  off_t at = ftello(static_cast<std::FILE*>(handle));
  if (at < 0) return ErrorCode::Io;
  *out = static_cast<uint64_t>(at);
  return ErrorCode::Ok;
}

ErrorCode std_size(void* handle, uint64_t* out, void*) {
  if (handle == nullptr || out == nullptr) return ErrorCode::BadArgument;
  auto* f = static_cast<std::FILE*>(handle);
  off_t at = ftello(f);
  if (at < 0) return ErrorCode::Io;
  if (fseeko(f, 0, SEEK_END) != 0) return ErrorCode::Io;
  off_t end = ftello(f);
  ErrorCode result = ErrorCode::Ok;
  if (end < 0) {
    result = ErrorCode::Io;
  } else {
    *out = static_cast<uint64_t>(end);
  }
  if (fseeko(f, at, SEEK_SET) != 0) result = ErrorCode::Io;
  return result;
}

ErrorCode std_read(void* handle, void* buffer, uint32_t count, void*) {
  if (handle == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  return std::fread(buffer, 1, count, static_cast<std::FILE*>(handle)) == count ? ErrorCode::Ok : ErrorCode::Io;
}

ErrorCode std_write(void* handle, const void* buffer, uint32_t count, void*) {
  if (handle == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  return std::fwrite(buffer, 1, count, static_cast<std::FILE*>(handle)) == count ? ErrorCode::Ok : ErrorCode::Io;
}

const IoRoutines& std_routines() {
  static constexpr IoRoutines table{std_open, std_close, std_seek, std_tell, std_size, std_read, std_write, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  return table;
}

}  // namespace vantorel
