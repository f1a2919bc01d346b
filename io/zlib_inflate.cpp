#include "io/zlib_inflate.h"

#include <zlib.h>

#include <cstdlib>

namespace vantorel {

namespace {

// Output starts this large and doubles up to its limit.
constexpr uint32_t kFirstOutputGuess = 64u << 10;

}  // namespace

ErrorCode zlib_inflate(const uint8_t* input, uint32_t input_size, uint32_t declared, uint32_t cap, uint8_t** out,
                       uint32_t* out_size) {
  if (input == nullptr || out == nullptr || out_size == nullptr) return ErrorCode::BadArgument;
  *out = nullptr;
  *out_size = 0;
  uint32_t limit = declared < cap ? declared : cap;
  if (limit == 0 || input_size == 0) return ErrorCode::Inflate;
  z_stream zs{};
  int r = inflateInit(&zs);
  if (r != Z_OK) return r == Z_MEM_ERROR ? ErrorCode::OutOfMemory : ErrorCode::Inflate;
  uint32_t capacity = limit < kFirstOutputGuess ? limit : kFirstOutputGuess;
  auto* buffer = static_cast<uint8_t*>(std::malloc(capacity));
  ErrorCode e = buffer != nullptr ? ErrorCode::Ok : ErrorCode::OutOfMemory;
  zs.next_in = const_cast<Bytef*>(input);
  zs.avail_in = input_size;
  while (e == ErrorCode::Ok) {
    zs.next_out = buffer + zs.total_out;
    zs.avail_out = capacity - static_cast<uint32_t>(zs.total_out);
    r = inflate(&zs, Z_NO_FLUSH);
    if (r == Z_STREAM_END) break;
    if (r == Z_MEM_ERROR) {
      e = ErrorCode::OutOfMemory;
    } else if (r != Z_OK && r != Z_BUF_ERROR) {
      e = ErrorCode::Inflate;  // corrupt data, a preset dictionary
    } else if (zs.avail_out == 0 && capacity < limit) {
      uint32_t grown = capacity > limit / 2 ? limit : capacity * 2;
      void* p = std::realloc(buffer, grown);
      if (p == nullptr) {
        e = ErrorCode::OutOfMemory;
      } else {
        buffer = static_cast<uint8_t*>(p);
        capacity = grown;
      }
    } else if (r == Z_BUF_ERROR) {
      e = ErrorCode::Inflate;  // no progress: the output is full at its limit, or the stream ended early
    }
  }
  uint32_t produced = static_cast<uint32_t>(zs.total_out);
  inflateEnd(&zs);
  if (e != ErrorCode::Ok) {
    std::free(buffer);
    return e;
  }
  *out = buffer;
  *out_size = produced;
  return ErrorCode::Ok;
}

}  // namespace vantorel
