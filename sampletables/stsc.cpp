#include "sampletables/stsc.h"

#include <cstring>

#include "sampletables/stco.h"
#include "sampletables/table_io.h"

namespace vantorel {

namespace {

SampleToChunkTable* stsc_of(void* context) {
  return track_record<SampleToChunkTable>(static_cast<TrackBoxes*>(context), BoxTypeId::Stsc);
}

// Entry i's first chunk is a valid continuation of the entries before it.
bool first_chunk_fits(const SampleToChunkTable* t, uint32_t i, uint64_t chunk_count) {
  uint32_t f = t->entries[i].first_chunk;
  if (f == 0 || f > chunk_count) return false;
  return i == 0 || f > t->entries[i - 1].first_chunk;
}

}  // namespace

void stsc_release(BoxFile*, void* context) {
  SampleToChunkTable* t = stsc_of(context);
  if (t != nullptr) t->entries.release();
}

ErrorCode stsc_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  SampleToChunkTable* t = stsc_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  if (tables_skipped(file)) return ErrorCode::Ok;
  return read_word_table(file, header, &t->version, &t->flags, &t->entries, "'stsc' entry count larger than the box");
}

ErrorCode stsc_write(BoxFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  SampleToChunkTable* t = stsc_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  return write_word_table(file, t->version, t->flags, t->entries);
}

uint64_t stsc_size(BoxFile*, void* context) {
  SampleToChunkTable* t = stsc_of(context);
  if (t == nullptr) return 0;
  return word_table_size(t->entries);
}

ErrorCode stsc_append(BoxFile* file, TrackBoxes* track, uint32_t first_chunk, uint32_t samples_per_chunk,
                      uint32_t sample_description_index) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  SampleToChunkTable* t = stsc_of(track);
  if (t == nullptr) return ErrorCode::Missing;
  return t->entries.append_doubling(SampleToChunkEntry{first_chunk, samples_per_chunk, sample_description_index});
}

ErrorCode stsc_check(BoxFile* file, const SampleToChunkTable* table, uint64_t chunk_count, uint64_t samples) {
  if (table == nullptr) return ErrorCode::BadArgument;
  if (table->entries.count == 0)
    return samples == 0 ? ErrorCode::Ok : malformed(file, "'stsc' without entries for a track with samples");
  for (uint32_t i = 0; i < table->entries.count; ++i)
    if (!first_chunk_fits(table, i, chunk_count))
      return malformed(file, "'stsc' first chunks that do not increase or pass the chunk count");
  return ErrorCode::Ok;
}

ErrorCode stsc_locate(BoxFile* file, TrackBoxes* track, uint32_t k, ChunkPosition* out) {
  if (file == nullptr || track == nullptr || out == nullptr) return ErrorCode::BadArgument;
  std::memset(out, 0, sizeof *out);
  if (k == 0) return ErrorCode::BadArgument;
  SampleToChunkTable* t = stsc_of(track);
  if (t == nullptr) return ErrorCode::Missing;
  const ChunkOffsetTable* offsets = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco);
  const uint64_t chunk_count = offsets != nullptr ? offsets->offsets.count : none64();
  // The whole table is checked, so that a broken run is an error whichever
  // sample is asked for.
  VT_TRY(stsc_check(file, t, chunk_count, k));
  const uint32_t n = t->entries.count;

  uint64_t before = 0;  // samples in the entries passed; always below k
  for (uint32_t i = 0; i < n; ++i) {
    // The first entry covers chunk 1 on, whatever its first chunk says.
    uint64_t start = i == 0 ? 1 : t->entries[i].first_chunk;
    bool open_ended = false;
    uint64_t chunks = 0;
    if (i + 1 < n) {
      chunks = t->entries[i + 1].first_chunk - start;
    } else if (chunk_count != none64()) {
      chunks = chunk_count + 1 - start;
    } else {
      open_ended = true;
    }
    uint64_t per_chunk = t->entries[i].samples_per_chunk;
    if (per_chunk == 0) continue;
    uint64_t need = k - before;
    if (open_ended || chunks * per_chunk >= need) {
      uint64_t chunk_in_run = (need - 1) / per_chunk;
      uint64_t chunk_index = start - 1 + chunk_in_run;
      if (chunk_index > UINT32_MAX - 1) return malformed(file, "sample beyond the last chunk");
      out->entry_index = i;
      out->chunk_index = static_cast<uint32_t>(chunk_index);
      out->index_in_chunk = static_cast<uint32_t>((need - 1) % per_chunk);
      out->first_sample = static_cast<uint32_t>(before + chunk_in_run * per_chunk + 1);
      return ErrorCode::Ok;
    }
    before += chunks * per_chunk;
  }
  return malformed(file, "sample beyond the last chunk");
}

}  // namespace vantorel
