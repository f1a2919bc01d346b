#include <cstdlib>
#include <cstring>

#include "io/io_routines.h"

namespace vantorel {

ErrorCode mem_open(const void* pair, void** out_handle, uint32_t mode, void*) {
  if (pair == nullptr || out_handle == nullptr) return ErrorCode::BadArgument;
  auto* stream = static_cast<MemoryStream*>(std::calloc(1, sizeof(MemoryStream)));
  if (stream == nullptr) return ErrorCode::OutOfMemory;
  if (mode == kOpenCreate) {
    stream->data = static_cast<uint8_t*>(std::malloc(kMemoryStreamInitial));
    if (stream->data == nullptr) {
      std::free(stream);
      return ErrorCode::OutOfMemory;
    }
    stream->capacity = kMemoryStreamInitial;
  } else {
    const auto* p = static_cast<const MemoryPair*>(pair);
    // A read-only view: the buffer stays the caller's.
    stream->data = static_cast<uint8_t*>(const_cast<void*>(p->data));
    stream->size = p->length;
  }
  *out_handle = stream;
  return ErrorCode::Ok;
}

ErrorCode mem_close(void* handle, void*) {
  auto* stream = static_cast<MemoryStream*>(handle);
  if (stream == nullptr) return ErrorCode::Ok;
  if (stream->capacity != 0) std::free(stream->data);
  std::free(stream);
  return ErrorCode::Ok;
}

ErrorCode mem_seek(void* handle, const uint64_t* position, void*) {
  auto* stream = static_cast<MemoryStream*>(handle);
  if (stream == nullptr || position == nullptr) return ErrorCode::BadArgument;
  stream->position = *position > stream->size ? stream->size : static_cast<uint32_t>(*position);
  return ErrorCode::Ok;
}

ErrorCode mem_tell(void* handle, uint64_t* out, void*) {
  auto* stream = static_cast<MemoryStream*>(handle);
  if (stream == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = stream->position;
  return ErrorCode::Ok;
}

ErrorCode mem_size(void* handle, uint64_t* out, void*) {
  auto* stream = static_cast<MemoryStream*>(handle);
  if (stream == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = stream->size;
  return ErrorCode::Ok;
}

ErrorCode mem_read(void* handle, void* buffer, uint32_t count, void*) {
  auto* stream = static_cast<MemoryStream*>(handle);
  if (stream == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  // 64-bit sum: a count near 2^32 must not wrap past the check.
  if (uint64_t{stream->position} + count > stream->size) return ErrorCode::Io;
  if (count != 0) std::memcpy(buffer, stream->data + stream->position, count);
  stream->position += count;
  return ErrorCode::Ok;
}

ErrorCode mem_write(void* handle, const void* buffer, uint32_t count, void*) {
  auto* stream = static_cast<MemoryStream*>(handle);
  if (stream == nullptr || buffer == nullptr || stream->capacity == 0) return ErrorCode::BadArgument;
  uint64_t need = uint64_t{stream->position} + count;
  if (need > UINT32_MAX) return ErrorCode::OutOfMemory;
  if (need > stream->capacity) {
    uint64_t capacity = stream->capacity;
    while (capacity < need) capacity *= 2;
    if (capacity > UINT32_MAX) capacity = UINT32_MAX;
    void* grown = std::realloc(stream->data, capacity);
    if (grown == nullptr) return ErrorCode::OutOfMemory;  // old buffer kept
    stream->data = static_cast<uint8_t*>(grown);
    stream->capacity = static_cast<uint32_t>(capacity);
  }
  if (count != 0) std::memcpy(stream->data + stream->position, buffer, count);
  stream->position += count;
  if (stream->position > stream->size) stream->size = stream->position;
  return ErrorCode::Ok;
}

void mem_reserve(MemoryStream* stream, uint64_t bytes) {
  if (stream == nullptr || stream->capacity == 0 || bytes <= stream->capacity || bytes > UINT32_MAX) return;
  if (void* room = std::realloc(stream->data, bytes)) {
    stream->data = static_cast<uint8_t*>(room);
    stream->capacity = static_cast<uint32_t>(bytes);
  }
}

const IoRoutines& memory_routines() {
  static constexpr IoRoutines table{mem_open, mem_close, mem_seek, mem_tell, mem_size, mem_read, mem_write, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  return table;
}

}  // namespace vantorel
