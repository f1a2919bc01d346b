#pragma once
// Builders for hand-made box bytes, and a MediaFile over memory, so that
// golden and malformed inputs are one line each.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "mediafile/media_file.h"

namespace vantorel::test {

using Bytes = std::vector<uint8_t>;

Bytes u8(uint8_t v);
Bytes u16(uint16_t v);
Bytes u24(uint32_t v);
Bytes u32(uint32_t v);
Bytes u64(uint64_t v);
Bytes u16le(uint16_t v);
Bytes u32le(uint32_t v);
Bytes u64le(uint64_t v);
Bytes text(const std::string& s);            // the characters, no NUL
Bytes cstr(const std::string& s);            // the characters and a NUL
Bytes zeros(size_t n);
Bytes cat(std::initializer_list<Bytes> parts);

// A box with a 32-bit size field equal to its length.
Bytes box(const std::string& type, const Bytes& payload);
// A full box: version, flags, then the payload.
Bytes full_box(const std::string& type, uint8_t version, uint32_t flags, const Bytes& payload);
// A box whose 32-bit size field is given explicitly (may lie).
Bytes box_sized(uint32_t size_field, const std::string& type, const Bytes& payload);
// A box with size field 1 and the given 64-bit size (may lie).
Bytes box64(const std::string& type, uint64_t size, const Bytes& payload);
Bytes uuid_box(const uint8_t* extended_type, const Bytes& payload);
// The payload of the first box of this type found anywhere in `file` (by
// its type's four characters, not by walking the tree); empty when there is
// none or its 32-bit size does not fit.
Bytes first_box_payload(const Bytes& file, const std::string& type);

// A MediaFile attached to memory: a read-only view of `bytes`, or (mode 2 or 3)
// a growable stream that starts with `bytes`.
class MemoryFile {
 public:
  explicit MemoryFile(const Bytes& bytes, uint32_t mode = 0);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  MediaFile* get() { return &file_; }
  MediaFile* operator->() { return &file_; }
  // Everything the stream holds now.
  Bytes contents() const;

 private:
  Bytes bytes_;
  MediaFile file_{};
};

}  // namespace vantorel::test
