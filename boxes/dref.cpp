#include "boxes/dref.h"

#include <cstdlib>
#include <cstring>

namespace vantorel {

namespace {

// Longer names and locations are cut; the rest of the entry is skipped.
constexpr uint64_t kMaxDrefText = 4096;
// Header, version and flags of an entry.
constexpr uint64_t kDrefEntryMinimum = 12;

DrefRecord* dref_of(void* context) { return track_record<DrefRecord>(static_cast<TrackBoxes*>(context), BoxTypeId::Dref); }

char* copy_text(const char* s, size_t n) {
  char* p = static_cast<char*>(std::malloc(n + 1));
  if (p == nullptr) return nullptr;
  std::memcpy(p, s, n);
  p[n] = '\0';
  return p;
}

void release_entry(DrefEntry* e) {
  std::free(e->name);
  std::free(e->location);
  e->name = nullptr;
  e->location = nullptr;
}

// Reads the strings of an entry from `length` bytes; the last byte is
// taken as the terminating NUL whatever it holds.
ErrorCode read_entry_text(BoxFile* file, DrefEntry* entry, uint64_t length) {
  uint64_t take = length < kMaxDrefText ? length : kMaxDrefText;
  auto* bytes = static_cast<char*>(std::malloc(take));
  if (bytes == nullptr) return ErrorCode::OutOfMemory;
  if (read_bytes(file, bytes, static_cast<uint32_t>(take)) != ErrorCode::Ok) {
    std::free(bytes);
    return ErrorCode::Io;
  }
  bytes[take - 1] = '\0';
  size_t first = std::strlen(bytes);
  ErrorCode e = ErrorCode::Ok;
  if (entry->kind == kDrefUrl) {
    entry->location = copy_text(bytes, first);
    if (entry->location == nullptr) e = ErrorCode::OutOfMemory;
  } else {
    entry->name = copy_text(bytes, first);
    if (entry->name == nullptr) e = ErrorCode::OutOfMemory;
    if (e == ErrorCode::Ok && first + 1 < take) {
      const char* rest = bytes + first + 1;
      entry->location = copy_text(rest, std::strlen(rest));
      if (entry->location == nullptr) e = ErrorCode::OutOfMemory;
    }
  }
  std::free(bytes);
  return e;
}

bool self_contained(const DrefEntry* e) { return (e->flags & kDrefSelfContained) != 0; }

uint64_t entry_payload_size(const DrefEntry* e) {
  if (e->kind == kDrefUrl) return self_contained(e) || e->location == nullptr ? 4 : 4 + std::strlen(e->location) + 1;
  if (e->kind == kDrefUrn) {
    uint64_t size = 4 + (e->name != nullptr ? std::strlen(e->name) + 1 : 0);
    if (e->location != nullptr) size += std::strlen(e->location) + 1;
    return size;
  }
  return 4;
}

ErrorCode write_text(BoxFile* file, const char* s) {
  return write_bytes(file, s, static_cast<uint32_t>(std::strlen(s) + 1));
}

ErrorCode entry_write(BoxFile* file, void* context) {
  const auto* e = static_cast<const DrefEntry*>(context);
  VT_TRY(write_u8(file, e->version));
  VT_TRY(write_u24be(file, e->flags));
  if (e->kind == kDrefUrl) {
    if (!self_contained(e)) VT_TRY(write_text(file, e->location));
    return ErrorCode::Ok;
  }
  VT_TRY(write_text(file, e->name));
  if (e->location != nullptr) VT_TRY(write_text(file, e->location));
  return ErrorCode::Ok;
}

}  // namespace

DrefEntry* add_data_reference(TrackBoxes* track) {
  DrefRecord* d = track_record<DrefRecord>(track, BoxTypeId::Dref);
  if (d == nullptr) return nullptr;
  DrefEntry* e = nullptr;
  if (d->entries.append_zeroed(&e) != ErrorCode::Ok) return nullptr;
  e->kind = kDrefUrl;
  e->flags = kDrefSelfContained;
  return e;
}

void dref_release(BoxFile*, void* context) {
  DrefRecord* d = dref_of(context);
  if (d == nullptr) return;
  for (DrefEntry& e : d->entries) release_entry(&e);
  d->entries.release();
}

ErrorCode dref_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  DrefRecord* d = dref_of(context);
  if (d == nullptr) return ErrorCode::Missing;
  d->version = read_u8(file);
  d->flags = read_u24be(file);
  uint32_t count = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (!box_holds(file, header, count, kDrefEntryMinimum)) return malformed(file, "more data references than the box holds");
  for (uint32_t i = 0; i < count; ++i) {
    BoxHeader h;
    VT_TRY(read_box_header(file, &h));
    if (io_failed(file)) return ErrorCode::Io;
    if (h.size < kDrefEntryMinimum) return malformed(file, "data reference smaller than 12 bytes");
    if (h.end > header->end) return malformed(file, "data reference runs past its box");
    DrefEntry* e = nullptr;
    VT_TRY(d->entries.append_zeroed(&e));
    e->version = read_u8(file);
    e->flags = read_u24be(file);
    if (h.type == "url ") e->kind = kDrefUrl;
    else if (h.type == "urn ") e->kind = kDrefUrn;
    uint64_t text = box_bytes_left(file, &h);  // after a 16-byte header too
    bool has_text = (e->kind == kDrefUrl && !self_contained(e)) || e->kind == kDrefUrn;
    if (has_text && text > 0) VT_TRY(read_entry_text(file, e, text));
    // Whatever an entry holds beyond what is understood is skipped.
    VT_TRY(file_seek(file, h.end));
  }
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

ErrorCode dref_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  DrefRecord* d = dref_of(context);
  if (d == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u8(file, d->version));
  VT_TRY(write_u24be(file, d->flags));
  VT_TRY(write_u32be(file, d->entries.count));
  for (DrefEntry& e : d->entries) {
    FourCC type;
    if (e.kind == kDrefUrl) {
      if (!self_contained(&e) && e.location == nullptr) return ErrorCode::Missing;
      type = FourCC::of("url ");
    } else if (e.kind == kDrefUrn) {
      if (e.name == nullptr) return ErrorCode::Missing;
      type = FourCC::of("urn ");
    } else {
      return ErrorCode::Missing;
    }
    VT_TRY(write_box(file, type, nullptr, entry_payload_size(&e), entry_write, &e));
  }
  return ErrorCode::Ok;
}

uint64_t dref_size(BoxFile*, void* context) {
  DrefRecord* d = dref_of(context);
  if (d == nullptr) return 0;
  uint64_t size = 8;
  for (const DrefEntry& e : d->entries) size += entry_payload_size(&e) + 8;
  return size;
}

}  // namespace vantorel
