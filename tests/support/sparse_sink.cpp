#include "support/sparse_sink.h"

#include <cstring>

namespace vantorel::test {

uint8_t SparseFile::byte_at(uint64_t at) const {
  // The latest kept write that covers the byte wins.
  for (auto it = writes.rbegin(); it != writes.rend(); ++it)
    if (at >= it->first && at - it->first < it->second.size()) return it->second[at - it->first];
  return 0;
}

std::vector<uint8_t> SparseFile::bytes(uint64_t at, uint64_t count) const {
  std::vector<uint8_t> out(count);
  for (uint64_t i = 0; i < count; ++i) out[i] = byte_at(at + i);
  return out;
}

namespace {

SparseFile* of(void* h) { return static_cast<SparseFile*>(h); }

ErrorCode s_open(const void*, void** out, uint32_t, void* user) {
  if (out == nullptr || user == nullptr) return ErrorCode::BadArgument;
  *out = user;
  return ErrorCode::Ok;
}
ErrorCode s_close(void*, void*) { return ErrorCode::Ok; }
ErrorCode s_seek(void* h, const uint64_t* p, void*) {
  of(h)->position = *p;
  return ErrorCode::Ok;
}
ErrorCode s_tell(void* h, uint64_t* out, void*) {
  *out = of(h)->position;
  return ErrorCode::Ok;
}
ErrorCode s_size(void* h, uint64_t* out, void*) {
  *out = of(h)->size;
  return ErrorCode::Ok;
}
ErrorCode s_read(void* h, void* buffer, uint32_t count, void*) {
  SparseFile* f = of(h);
  if (f->position + count > f->size) return ErrorCode::Io;
  std::vector<uint8_t> b = f->bytes(f->position, count);
  if (count != 0) std::memcpy(buffer, b.data(), count);
  f->position += count;
  return ErrorCode::Ok;
}
ErrorCode s_write(void* h, const void* buffer, uint32_t count, void*) {
  SparseFile* f = of(h);
  if (count <= f->keep_limit) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    f->writes.emplace_back(f->position, std::vector<uint8_t>(p, p + count));
  }
  f->position += count;
  if (f->position > f->size) f->size = f->position;
  return ErrorCode::Ok;
}

}  // namespace

const IoRoutines& sparse_routines() {
  static constexpr IoRoutines table{s_open, s_close, s_seek, s_tell, s_size, s_read, s_write, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  return table;
}

}  // namespace vantorel::test
