#include "io/file_io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vantorel {

namespace {

bool table_complete(const IoRoutines& r, uint32_t mode) {
  if (r.open == nullptr || r.close == nullptr || r.seek == nullptr || r.tell == nullptr || r.size == nullptr ||
      r.read == nullptr)
    return false;
  if ((mode == kOpenCreate || mode == kOpenUpdate) && r.write == nullptr) return false;
  return true;
}

char* copy_string(const char* s) {
  size_t n = std::strlen(s);
  char* p = static_cast<char*>(std::malloc(n + 1));
  if (p != nullptr) std::memcpy(p, s, n + 1);
  return p;
}

}  // namespace

ErrorCode attach(FileIo* file, const IoOpenParams* params, uint32_t mode) {
  if (file == nullptr || params == nullptr) return ErrorCode::BadArgument;
  file->io_error = 0;
  file->mode = mode;
  // Never a mix of the caller's routines and ours.
  file->base.routines = table_complete(params->routines, mode) ? params->routines : std_routines();
  file->base.handle = nullptr;
  file->user = params->user;
  VT_TRY(file->base.routines.open(params->path, &file->base.handle, mode, file->user));
  file->current = file->base;
  const char* name = params->writer_name != nullptr && params->writer_name[0] != '\0' ? params->writer_name
                                                                                      : kDefaultWriterName;
  file->writer_name = copy_string(name);
  if (file->writer_name == nullptr) return ErrorCode::OutOfMemory;
  return ErrorCode::Ok;
}

ErrorCode detach(FileIo* file) {
  if (file == nullptr) return ErrorCode::Ok;
  ErrorCode result = ErrorCode::Ok;
  if (file->base.routines.close != nullptr && file->base.handle != nullptr)
    result = file->base.routines.close(file->base.handle, file->user);
  file->base.handle = nullptr;
  file->current.handle = nullptr;
  std::free(file->writer_name);
  file->writer_name = nullptr;
  return result;
}

void set_error_reason(FileIo* file, const char* reason) {
  if (file == nullptr || file->detail.reason != nullptr) return;
  file->detail.reason = reason;
}

void set_error_at(FileIo* file, uint64_t offset, const char* reason) {
  if (file == nullptr || file->detail.set) return;
  file->detail.set = 1;
  file->detail.offset = offset;
  file->detail.path[0] = '\0';
  if (file->detail.reason == nullptr) file->detail.reason = reason;
}

ErrorCode ScopedMemoryStream::open(const MemoryPair* pair, uint32_t mode) {
  close();
  void* handle = nullptr;
  VT_TRY(mem_open(pair, &handle, mode, nullptr));
  handle_ = handle;
  saved_ = file_->current;
  file_->current.routines = memory_routines();
  file_->current.handle = handle_;
  return ErrorCode::Ok;
}

ErrorCode ScopedMemoryStream::open_view(const void* data, uint32_t length) {
  MemoryPair pair{data, length};
  return open(&pair, kOpenRead);
}

ErrorCode ScopedMemoryStream::open_writable() {
  MemoryPair pair{nullptr, 0};
  return open(&pair, kOpenCreate);
}

void ScopedMemoryStream::close() {
  if (handle_ == nullptr) return;
  file_->current = saved_;
  mem_close(handle_, nullptr);
  handle_ = nullptr;
}

}  // namespace vantorel
