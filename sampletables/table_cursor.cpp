#include "sampletables/table_cursor.h"

#include "sampletables/ctts.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"

namespace vantorel {

namespace {

// Moves a run position past runs of zero samples, staying on the last run.
template <class Entries>
void skip_empty_runs(const Entries& entries, RunPosition* at) {
  while (at->entry + 1 < entries.count && entries[at->entry].sample_count == 0) ++at->entry;
}

// One sample further along a run table: the next place in the run, or the
// start of the next non-empty run; the last run is never left, so samples
// past the table keep its last value.
template <class Entries>
void advance_run(const Entries& entries, RunPosition* at) {
  if (at->entry >= entries.count) return;
  ++at->in_entry;
  if (at->in_entry < entries[at->entry].sample_count) return;
  if (at->entry + 1 >= entries.count) return;
  ++at->entry;
  at->in_entry = 0;
  skip_empty_runs(entries, at);
}

// Makes the cursor's chunk the one at chunk_index: its offset, and the
// sample-to-chunk entry that covers it. False past the chunk table.
bool enter_chunk(TableCursor* c) {
  const auto& entries = c->stsc->entries;
  while (c->stsc_entry + 1 < entries.count && c->chunk_index + 1 >= entries[c->stsc_entry + 1].first_chunk)
    ++c->stsc_entry;
  if (c->chunk_index >= c->chunk_offsets->offsets.count) return false;
  c->offset = c->chunk_offsets->offsets[c->chunk_index];
  return true;
}

// Steps over chunks the current sample does not fit in (chunks of zero
// samples among them). False when the chunk table ends first.
bool settle_chunk(TableCursor* c) {
  const auto& entries = c->stsc->entries;
  while (c->stsc_entry < entries.count && c->index_in_chunk >= entries[c->stsc_entry].samples_per_chunk) {
    c->index_in_chunk = 0;
    ++c->chunk_index;
    if (!enter_chunk(c)) return false;
  }
  return true;
}

bool is_sync(const TableCursor& c) {
  return c.stss == nullptr || (c.next_sync < c.stss->samples.count && c.stss->samples[c.next_sync] == c.current);
}

uint32_t duration_of(const TableCursor& c) {
  const auto& runs = c.stts->entries;
  return c.stts_at.entry < runs.count ? runs[c.stts_at.entry].sample_delta : 0;
}

void attach(TableCursor* c, TrackBoxes* track, bool chunks) {
  *c = TableCursor{};
  c->stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  c->ctts = track_record<CompositionOffsetTable>(track, BoxTypeId::Ctts);
  c->sizes = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
  c->stss = track_record<SyncSampleTable>(track, BoxTypeId::Stss);
  if (chunks) {
    c->stsc = track_record<SampleToChunkTable>(track, BoxTypeId::Stsc);
    c->chunk_offsets = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco);
  }
  c->sample_count = sample_count(track);
}

// The index in 'stss' of the first sync sample at or after sample n.
uint32_t sync_index_from(TrackBoxes* track, const TableCursor& c, uint32_t n) {
  return c.stss != nullptr ? stss_index_of(track, stss_sync_at_or_after(track, n)) : 0;
}

}  // namespace

void table_cursor_begin(TableCursor* c, TrackBoxes* track, bool chunks) {
  attach(c, track, chunks);
  if (c->stts == nullptr || c->sizes == nullptr || c->sample_count == 0) return;
  if (chunks) {
    if (c->stsc == nullptr || c->chunk_offsets == nullptr || c->stsc->entries.count == 0) return;
    if (!enter_chunk(c) || !settle_chunk(c)) return;
  }
  skip_empty_runs(c->stts->entries, &c->stts_at);
  if (c->ctts != nullptr) skip_empty_runs(c->ctts->entries, &c->ctts_at);
  c->next_sync = sync_index_from(track, *c, 1);
  c->current = 1;
  c->size = stsz_sample_size(c->sizes, 0);
}

ErrorCode table_cursor_seek(TableCursor* c, BoxFile* file, TrackBoxes* track, uint32_t n) {
  attach(c, track, true);
  if (n == 0 || n > c->sample_count) return ErrorCode::NoMore;
  if (c->stsc == nullptr || c->chunk_offsets == nullptr || c->sizes == nullptr || c->stts == nullptr)
    return ErrorCode::Missing;
  ChunkPosition where{};
  ErrorCode e = stsc_locate(file, track, n, &where);
  if (e == ErrorCode::Ok) e = stts_locate(track, n, &c->stts_at.entry, &c->stts_at.in_entry);
  if (e == ErrorCode::Ok && c->ctts != nullptr) e = ctts_locate(track, n, &c->ctts_at.entry, &c->ctts_at.in_entry);
  if (e == ErrorCode::Ok && where.chunk_index >= c->chunk_offsets->offsets.count) e = ErrorCode::Malformed;
  if (e != ErrorCode::Ok) {
    // A sample the tables cannot place is not read.
    return e == ErrorCode::BadArgument ? ErrorCode::Malformed : e;
  }
  c->time = stts_decode_time(track, n);
  c->stsc_entry = where.entry_index;
  c->chunk_index = where.chunk_index;
  c->index_in_chunk = where.index_in_chunk;
  c->offset = c->chunk_offsets->offsets[where.chunk_index];
  for (uint32_t s = where.first_sample; s < n; ++s) c->offset += stsz_sample_size(c->sizes, s - 1);
  c->next_sync = sync_index_from(track, *c, n);
  c->current = n;
  c->size = stsz_sample_size(c->sizes, n - 1);
  return ErrorCode::Ok;
}

void table_cursor_sample(const TableCursor& c, TableSample* out) {
  out->time = c.time;
  out->duration = duration_of(c);
  out->composition_offset = 0;
  if (c.ctts != nullptr && c.ctts_at.entry < c.ctts->entries.count)
    out->composition_offset = c.ctts->entries[c.ctts_at.entry].sample_offset;
  out->size = c.size;
  out->description_index = 1;
  if (c.stsc != nullptr && c.stsc_entry < c.stsc->entries.count)
    out->description_index = c.stsc->entries[c.stsc_entry].sample_description_index;
  out->sync = is_sync(c);
  out->offset = c.offset;
}

void table_cursor_limit(TableCursor* c, uint32_t count) {
  if (count < c->sample_count) c->sample_count = count;
  if (c->current > c->sample_count) c->current = 0;
}

bool table_cursor_next(TableCursor* c) {
  if (c->current == 0) return false;
  if (c->current >= c->sample_count) {
    c->current = 0;
    return false;
  }
  const bool sync = is_sync(*c);
  ++c->current;
  if (c->stsc != nullptr) {
    c->offset += c->size;
    ++c->index_in_chunk;
    if (!settle_chunk(c)) {
      // The chunk table ends before the samples do: the track ends here.
      c->sample_count = c->current - 1;
      c->current = 0;
      return false;
    }
  }
  c->time += duration_of(*c);
  advance_run(c->stts->entries, &c->stts_at);
  if (c->ctts != nullptr) advance_run(c->ctts->entries, &c->ctts_at);
  if (sync && c->stss != nullptr && c->next_sync + 1 < c->stss->samples.count) ++c->next_sync;
  c->size = stsz_sample_size(c->sizes, c->current - 1);
  return true;
}

}  // namespace vantorel
