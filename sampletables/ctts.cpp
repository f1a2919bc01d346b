#include "sampletables/ctts.h"

#include "sampletables/runs.h"
#include "sampletables/table_io.h"

namespace vantorel {

namespace {

CompositionOffsetTable* ctts_of(void* context) {
  return track_record<CompositionOffsetTable>(static_cast<TrackBoxes*>(context), BoxTypeId::Ctts);
}

}  // namespace

void ctts_release(MediaFile*, void* context) {
  CompositionOffsetTable* t = ctts_of(context);
  if (t != nullptr) t->entries.release();
}

ErrorCode ctts_read(MediaFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  CompositionOffsetTable* t = ctts_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  if (tables_skipped(file)) return ErrorCode::Ok;
  TableHead head;
  VT_TRY(read_table_head(file, header, 8, &head));
  t->version = head.version;
  t->flags = head.flags;
  uint32_t count = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (!box_holds(file, header, count, 8)) return malformed(file, "'ctts' entry count larger than the box");
  if (count == 0) return ErrorCode::Ok;
  VT_TRY(t->entries.reserve(count));
  static_assert(sizeof(CompositionOffsetEntry) == 8);
  VT_TRY(read_u32_block(file, reinterpret_cast<uint32_t*>(t->entries.items), uint64_t{count} * 2));
  t->entries.count = count;
  return ErrorCode::Ok;
}

ErrorCode ctts_write(MediaFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  CompositionOffsetTable* t = ctts_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u8(file, t->version));
  VT_TRY(write_u24be(file, t->flags));
  VT_TRY(write_u32be(file, t->entries.count));
  return write_u32_block(file, reinterpret_cast<const uint32_t*>(t->entries.items), uint64_t{t->entries.count} * 2);
}

uint64_t ctts_size(MediaFile*, void* context) {
  CompositionOffsetTable* t = ctts_of(context);
  if (t == nullptr) return 0;
  return 8 + 8 * uint64_t{t->entries.count};
}

ErrorCode ctts_append(MediaFile* file, TrackBoxes* track, uint32_t n, int32_t o) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  CompositionOffsetTable* t = ctts_of(track);
  if (t == nullptr) return ErrorCode::BadArgument;
  if (n == 0) return ErrorCode::Ok;
  if (t->entries.count > 0) {
    CompositionOffsetEntry& last = t->entries.back();
    if (last.sample_offset == o && n <= UINT32_MAX - last.sample_count) {
      last.sample_count += n;
      return ErrorCode::Ok;
    }
  }
  return t->entries.append_doubling(CompositionOffsetEntry{n, o});
}

ErrorCode ctts_locate(TrackBoxes* track, uint32_t k, uint32_t* entry_index, uint32_t* index_in_entry) {
  if (track == nullptr || entry_index == nullptr || index_in_entry == nullptr) return ErrorCode::BadArgument;
  *entry_index = 0;
  *index_in_entry = 0;
  CompositionOffsetTable* t = ctts_of(track);
  if (t == nullptr || t->entries.count == 0) return ErrorCode::Missing;
  if (!run_locate(t->entries.items, t->entries.count, k, entry_index, index_in_entry)) return ErrorCode::BadArgument;
  return ErrorCode::Ok;
}

}  // namespace vantorel
