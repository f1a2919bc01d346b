#include "support/box_builder.h"

#include <cstring>
#include <stdexcept>

#include "boxes/box_tree.h"
#include "io/byte_io.h"
#include "meta/chapters.h"

namespace vantorel::test {

Bytes u8(uint8_t v) { return {v}; }
Bytes u16(uint16_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
Bytes u24(uint32_t v) { return {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
Bytes u32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
          static_cast<uint8_t>(v)};
}
Bytes u64(uint64_t v) { return cat({u32(static_cast<uint32_t>(v >> 32)), u32(static_cast<uint32_t>(v))}); }
Bytes u16le(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
Bytes u32le(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
Bytes u64le(uint64_t v) { return cat({u32le(static_cast<uint32_t>(v)), u32le(static_cast<uint32_t>(v >> 32))}); }
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes cstr(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}
Bytes zeros(size_t n) { return Bytes(n, 0); }

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

static Bytes type_bytes(const std::string& type) {
  if (type.size() != 4) throw std::invalid_argument("box type must have four characters");
  return text(type);
}

Bytes box(const std::string& type, const Bytes& payload) {
  return cat({u32(static_cast<uint32_t>(payload.size() + 8)), type_bytes(type), payload});
}

Bytes full_box(const std::string& type, uint8_t version, uint32_t flags, const Bytes& payload) {
  return box(type, cat({u8(version), u24(flags), payload}));
}

Bytes box_sized(uint32_t size_field, const std::string& type, const Bytes& payload) {
  return cat({u32(size_field), type_bytes(type), payload});
}

Bytes first_box_payload(const Bytes& file, const std::string& type) {
  const std::string text(file.begin(), file.end());
  const size_t at = text.find(type);
  if (at == std::string::npos || at < 4) return {};
  const size_t size = load_u32be(file.data() + at - 4);
  if (size < 8 || at - 4 + size > file.size()) return {};
  return Bytes(file.begin() + static_cast<long>(at + 4), file.begin() + static_cast<long>(at - 4 + size));
}

Bytes box64(const std::string& type, uint64_t size, const Bytes& payload) {
  return cat({u32(1), type_bytes(type), u64(size), payload});
}

Bytes uuid_box(const uint8_t* extended_type, const Bytes& payload) {
  Bytes ext(extended_type, extended_type + 16);
  return cat({u32(static_cast<uint32_t>(payload.size() + 24)), text("uuid"), ext, payload});
}

MemoryFile::MemoryFile(const Bytes& bytes, uint32_t mode) : bytes_(bytes) {
  IoOpenParams params{};
  params.routines = memory_routines();
  static MemoryPair pair;
  pair = MemoryPair{bytes_.data(), static_cast<uint32_t>(bytes_.size())};
  params.path = &pair;
  bool writable = mode == kOpenCreate || mode == kOpenUpdate;
  if (attach(&file_, &params, writable ? kOpenCreate : mode) != ErrorCode::Ok)
    throw std::runtime_error("cannot attach a memory stream");
  file_.mode = mode;
  file_.registry = box_registry();
  if (writable && !bytes_.empty()) {
    write_bytes(&file_, bytes_.data(), static_cast<uint32_t>(bytes_.size()));
    file_seek(&file_, 0);
  }
}

MemoryFile::~MemoryFile() {
  release_root(&file_);
  clear_all_metadata(&file_);
  file_.free_regions.release();
  file_.dropped_tracks.release();
  file_.track_changed.release();
  detach(&file_);
}

Bytes MemoryFile::contents() const {
  const auto* stream = static_cast<const MemoryStream*>(file_.base.handle);
  return Bytes(stream->data, stream->data + stream->size);
}

}  // namespace vantorel::test
