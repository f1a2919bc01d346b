#include "sampletables/ctts.h"

#include "sampletables/runs.h"
#include "sampletables/table_io.h"

namespace vantorel {

namespace {

CompositionOffsetTable* ctts_of(void* context) {
  return track_record<CompositionOffsetTable>(static_cast<TrackBoxes*>(context), BoxTypeId::Ctts);
}

}  // namespace

void ctts_release(BoxFile*, void* context) {
  CompositionOffsetTable* t = ctts_of(context);
  if (t != nullptr) t->entries.release();
}

ErrorCode ctts_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  CompositionOffsetTable* t = ctts_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  if (tables_skipped(file)) return ErrorCode::Ok;
  return read_word_table(file, header, &t->version, &t->flags, &t->entries, "'ctts' entry count larger than the box");
}

ErrorCode ctts_write(BoxFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  CompositionOffsetTable* t = ctts_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  return write_word_table(file, t->version, t->flags, t->entries);
}

uint64_t ctts_size(BoxFile*, void* context) {
  CompositionOffsetTable* t = ctts_of(context);
  if (t == nullptr) return 0;
  return word_table_size(t->entries);
}

ErrorCode ctts_append(BoxFile* file, TrackBoxes* track, uint32_t n, int32_t o) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  return ctts_append(ctts_of(track), n, o);
}

ErrorCode ctts_append(CompositionOffsetTable* t, uint32_t n, int32_t o) {
  if (t == nullptr) return ErrorCode::BadArgument;
  // Version 0 cannot hold an offset below 0.
  if (o < 0) t->version = 1;
  return append_run(&t->entries, n, &CompositionOffsetEntry::sample_offset, o);
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
