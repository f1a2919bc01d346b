#include "boxes/usmt.h"

#include <cstdlib>
#include <cstring>

#include "boxes/mdhd.h"

namespace vantorel {

namespace {

constexpr uint16_t kMtdfMaxEntry = kMetadataEntryHeader + kMtdfMaxData;  // 42
constexpr uint16_t kLanguageFlag = 0x8000;

MtdfRecord* movie_mtdf(void* c) { return movie_record<MtdfRecord>(static_cast<FileBoxes*>(c), BoxTypeId::Mtdf); }
MtdtRecord* movie_mtdt(void* c) { return movie_record<MtdtRecord>(static_cast<FileBoxes*>(c), BoxTypeId::Mtdt); }
MtdfRecord* track_mtdf(void* c) { return track_record<MtdfRecord>(static_cast<TrackBoxes*>(c), BoxTypeId::Mtdf); }
MtdtRecord* track_mtdt(void* c) { return track_record<MtdtRecord>(static_cast<TrackBoxes*>(c), BoxTypeId::Mtdt); }

// ---- MTDF ---------------------------------------------------------------------

void mtdf_release(MtdfRecord* m) {
  if (m != nullptr) m->entries.release();
}

ErrorCode mtdf_read(BoxFile* file, const BoxHeader* header, MtdfRecord* m) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  if (m == nullptr) return ErrorCode::Missing;
  uint16_t count = read_u16be(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (!box_holds(file, header, count, kMetadataEntryHeader + 1)) return malformed(file, "more 'MTDF' entries than the box holds");
  for (uint16_t i = 0; i < count; ++i) {
    uint16_t size = read_u16be(file);
    if (io_failed(file)) return ErrorCode::Io;
    if (size <= kMetadataEntryHeader || size > kMtdfMaxEntry) return malformed(file, "'MTDF' entry size outside 11-42");
    if (!box_holds(file, header, 1, size - 2)) return malformed(file, "'MTDF' entry runs past its box");
    MtdfEntry* e = nullptr;
    VT_TRY(m->entries.append_zeroed(&e));
    e->entry_size = size;
    e->type = read_u32be(file);
    unpack_language(read_u16be(file) & ~kLanguageFlag, e->language);
    e->encoding = read_u16be(file);
    uint16_t data = size - kMetadataEntryHeader;
    VT_TRY(read_bytes(file, e->data, data));
    e->data[data - 1] = 0;  // the data is a string: always terminated
  }
  return ErrorCode::Ok;
}

ErrorCode mtdf_write(BoxFile* file, MtdfRecord* m) {
  if (file == nullptr) return ErrorCode::BadArgument;
  if (m == nullptr) return ErrorCode::Missing;
  // Checked first: an entry size outside what the entry holds would write
  // beyond its data.
  for (const MtdfEntry& e : m->entries)
    if (e.entry_size < kMetadataEntryHeader || e.entry_size > kMtdfMaxEntry) return ErrorCode::Missing;
  VT_TRY(write_u16be(file, static_cast<uint16_t>(m->entries.count)));
  for (const MtdfEntry& e : m->entries) {
    VT_TRY(write_u16be(file, e.entry_size));
    VT_TRY(write_u32be(file, e.type));
    VT_TRY(write_u16be(file, pack_language(e.language)));
    VT_TRY(write_u16be(file, e.encoding));
    VT_TRY(write_bytes(file, e.data, e.entry_size - kMetadataEntryHeader));
  }
  return ErrorCode::Ok;
}

uint64_t mtdf_size(const MtdfRecord* m) {
  if (m == nullptr) return 0;
  uint64_t size = 2;
  for (const MtdfEntry& e : m->entries) size += e.entry_size;
  return size;
}

// ---- MTDT ---------------------------------------------------------------------

void mtdt_release(MtdtRecord* m) {
  if (m == nullptr) return;
  for (MtdtEntry& e : m->entries) std::free(e.data);
  m->entries.release();
}

ErrorCode mtdt_read(BoxFile* file, const BoxHeader* header, MtdtRecord* m) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  if (m == nullptr) return ErrorCode::Missing;
  uint16_t count = read_u16be(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (!box_holds(file, header, count, kMetadataEntryHeader)) return malformed(file, "more 'MTDT' entries than the box holds");
  for (uint16_t i = 0; i < count; ++i) {
    uint16_t size = read_u16be(file);
    if (io_failed(file)) return ErrorCode::Io;
    if (size < kMetadataEntryHeader) return malformed(file, "'MTDT' entry smaller than 10 bytes");
    if (!box_holds(file, header, 1, size - 2)) return malformed(file, "'MTDT' entry runs past its box");
    MtdtEntry* e = nullptr;
    VT_TRY(m->entries.append_zeroed(&e));
    e->entry_size = size;
    e->type = read_u32be(file);
    uint16_t word = read_u16be(file);
    e->flag = (word & kLanguageFlag) != 0 ? 1 : 0;
    unpack_language(word & ~kLanguageFlag, e->language);
    e->encoding = read_u16be(file);
    uint16_t data = size - kMetadataEntryHeader;
    if (data > 0) {
      e->data = static_cast<uint8_t*>(std::malloc(data));
      if (e->data == nullptr) return ErrorCode::OutOfMemory;
      VT_TRY(read_bytes(file, e->data, data));
    }
  }
  return ErrorCode::Ok;
}

ErrorCode mtdt_write(BoxFile* file, MtdtRecord* m) {
  if (file == nullptr) return ErrorCode::BadArgument;
  if (m == nullptr) return ErrorCode::Missing;
  for (const MtdtEntry& e : m->entries) {
    if (e.entry_size < kMetadataEntryHeader) return ErrorCode::Missing;
    if (e.entry_size > kMetadataEntryHeader && e.data == nullptr) return ErrorCode::Missing;
  }
  VT_TRY(write_u16be(file, static_cast<uint16_t>(m->entries.count)));
  for (const MtdtEntry& e : m->entries) {
    VT_TRY(write_u16be(file, e.entry_size));
    VT_TRY(write_u32be(file, e.type));
    uint16_t word = pack_language(e.language);
    if (e.flag) word |= kLanguageFlag;
    VT_TRY(write_u16be(file, word));
    VT_TRY(write_u16be(file, e.encoding));
    if (e.entry_size > kMetadataEntryHeader) VT_TRY(write_bytes(file, e.data, e.entry_size - kMetadataEntryHeader));
  }
  return ErrorCode::Ok;
}

uint64_t mtdt_size(const MtdtRecord* m) {
  if (m == nullptr) return 0;
  uint64_t size = 2;
  for (const MtdtEntry& e : m->entries) size += e.entry_size;
  return size;
}

}  // namespace

MtdtEntry* add_metadata_entry(MtdtRecord* mtdt) {
  if (mtdt == nullptr) return nullptr;
  MtdtEntry* e = nullptr;
  return mtdt->entries.append_zeroed(&e) == ErrorCode::Ok ? e : nullptr;
}

MtdfEntry* add_fixed_metadata_entry(MtdfRecord* mtdf) {
  if (mtdf == nullptr) return nullptr;
  MtdfEntry* e = nullptr;
  return mtdf->entries.append_zeroed(&e) == ErrorCode::Ok ? e : nullptr;
}

ErrorCode set_metadata_data(BoxFile* file, MtdtEntry* entry, const void* bytes, uint32_t length) {
  if (file == nullptr || entry == nullptr || (bytes == nullptr && length > 0)) return ErrorCode::BadArgument;
  if (length > UINT16_MAX - kMetadataEntryHeader) return ErrorCode::BadArgument;
  uint8_t* copy = nullptr;
  if (length > 0) {
    copy = static_cast<uint8_t*>(std::malloc(length));
    if (copy == nullptr) return ErrorCode::OutOfMemory;
    std::memcpy(copy, bytes, length);
  }
  std::free(entry->data);
  entry->data = copy;
  entry->entry_size = static_cast<uint16_t>(length + kMetadataEntryHeader);
  return ErrorCode::Ok;
}

void mtdf_movie_release(BoxFile*, void* c) { mtdf_release(movie_mtdf(c)); }
ErrorCode mtdf_movie_read(BoxFile* f, const BoxHeader* h, void* c) { return c != nullptr ? mtdf_read(f, h, movie_mtdf(c)) : ErrorCode::BadArgument; }
ErrorCode mtdf_movie_write(BoxFile* f, void* c) { return c != nullptr ? mtdf_write(f, movie_mtdf(c)) : ErrorCode::BadArgument; }
uint64_t mtdf_movie_size(BoxFile*, void* c) { return mtdf_size(movie_mtdf(c)); }
void mtdt_movie_release(BoxFile*, void* c) { mtdt_release(movie_mtdt(c)); }
ErrorCode mtdt_movie_read(BoxFile* f, const BoxHeader* h, void* c) { return c != nullptr ? mtdt_read(f, h, movie_mtdt(c)) : ErrorCode::BadArgument; }
ErrorCode mtdt_movie_write(BoxFile* f, void* c) { return c != nullptr ? mtdt_write(f, movie_mtdt(c)) : ErrorCode::BadArgument; }
uint64_t mtdt_movie_size(BoxFile*, void* c) { return mtdt_size(movie_mtdt(c)); }

void mtdf_track_release(BoxFile*, void* c) { mtdf_release(track_mtdf(c)); }
ErrorCode mtdf_track_read(BoxFile* f, const BoxHeader* h, void* c) { return c != nullptr ? mtdf_read(f, h, track_mtdf(c)) : ErrorCode::BadArgument; }
ErrorCode mtdf_track_write(BoxFile* f, void* c) { return c != nullptr ? mtdf_write(f, track_mtdf(c)) : ErrorCode::BadArgument; }
uint64_t mtdf_track_size(BoxFile*, void* c) { return mtdf_size(track_mtdf(c)); }
void mtdt_track_release(BoxFile*, void* c) { mtdt_release(track_mtdt(c)); }
ErrorCode mtdt_track_read(BoxFile* f, const BoxHeader* h, void* c) { return c != nullptr ? mtdt_read(f, h, track_mtdt(c)) : ErrorCode::BadArgument; }
ErrorCode mtdt_track_write(BoxFile* f, void* c) { return c != nullptr ? mtdt_write(f, track_mtdt(c)) : ErrorCode::BadArgument; }
uint64_t mtdt_track_size(BoxFile*, void* c) { return mtdt_size(track_mtdt(c)); }

}  // namespace vantorel
