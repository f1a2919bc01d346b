#include "sampletables/stco.h"

#include "sampletables/table_io.h"

namespace vantorel {

namespace {

ChunkOffsetTable* stco_of(void* context) {
  return track_record<ChunkOffsetTable>(static_cast<TrackBoxes*>(context), BoxTypeId::Stco);
}

bool needs_64bit(const ChunkOffsetTable* t) {
  if (t == nullptr || t->offsets.count == 0) return false;
  // Written files append chunks in file order, so the last offset decides;
  // the scan keeps a table read in another order from being cut to 32 bits.
  if (!fits_u32(t->offsets[t->offsets.count - 1])) return true;
  for (uint64_t offset : t->offsets)
    if (!fits_u32(offset)) return true;
  return false;
}

ErrorCode read_offsets(BoxFile* file, const BoxHeader* header, void* context, uint32_t width) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  ChunkOffsetTable* t = stco_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  if (tables_skipped(file)) return ErrorCode::Ok;
  TableHead head;
  VT_TRY(read_table_head(file, header, 8, &head));
  t->version = head.version;
  t->flags = head.flags;
  uint32_t count = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (!box_holds(file, header, count, width))
    return malformed(file, width == 8 ? "'co64' entry count larger than the box"
                                      : "'stco' entry count larger than the box");
  if (count == 0) return ErrorCode::Ok;
  VT_TRY(t->offsets.reserve(count));
  if (width == 8) {
    VT_TRY(read_u64_block(file, t->offsets.items, count));
  } else {
    VT_TRY(read_u32_block_wide(file, t->offsets.items, count));
  }
  t->offsets.count = count;
  return ErrorCode::Ok;
}

}  // namespace

void stco_release(BoxFile*, void* context) {
  ChunkOffsetTable* t = stco_of(context);
  if (t != nullptr) t->offsets.release();
}

ErrorCode stco_read(BoxFile* file, const BoxHeader* header, void* context) {
  return read_offsets(file, header, context, 4);
}

ErrorCode co64_read(BoxFile* file, const BoxHeader* header, void* context) {
  return read_offsets(file, header, context, 8);
}

uint64_t stco_size(BoxFile*, void* context) {
  ChunkOffsetTable* t = stco_of(context);
  if (t == nullptr) return 0;
  return 8 + (needs_64bit(t) ? 8 : 4) * uint64_t{t->offsets.count};
}

ErrorCode chunk_offsets_write(BoxFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  ChunkOffsetTable* t = stco_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u8(file, t->version));
  VT_TRY(write_u24be(file, t->flags));
  VT_TRY(write_u32be(file, t->offsets.count));
  if (needs_64bit(t)) return write_u64_block(file, t->offsets.items, t->offsets.count);
  return write_u32_block_narrow(file, t->offsets.items, t->offsets.count);
}

bool chunk_offsets_need_64bit(TrackBoxes* track) { return needs_64bit(stco_of(track)); }

ErrorCode stco_append(BoxFile* file, TrackBoxes* track, uint64_t offset) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  ChunkOffsetTable* t = stco_of(track);
  if (t == nullptr) return ErrorCode::BadArgument;
  return t->offsets.append_doubling(offset);
}

}  // namespace vantorel
