// Sequential sample reading through one cursor per track, and positioning by
// sample number or by time. A cursor walks its tables entry by entry, so
// reading in order costs the same for every sample.
#include <cstring>

#include "boxes/elst.h"
#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "mediafile/internal.h"
#include "sampletables/ctts.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"

namespace vantorel {

namespace {

// Moves a run index past runs of zero samples, staying on the last run.
template <class Entries>
void skip_empty_runs(const Entries& entries, uint32_t* entry) {
  while (*entry + 1 < entries.count && entries[*entry].sample_count == 0) ++*entry;
}

// One sample further along a run table: the next index in the run, or the
// start of the next non-empty run; the last run is never left.
template <class Entries>
void advance_run(const Entries& entries, uint32_t* entry, uint32_t* in_entry) {
  if (*entry >= entries.count) return;
  ++*in_entry;
  if (*in_entry < entries[*entry].sample_count) return;
  if (*entry + 1 >= entries.count) return;  // stay on the last entry
  ++*entry;
  *in_entry = 0;
  skip_empty_runs(entries, entry);
}

// Makes the cursor's chunk the one at chunk_index: its offset, and the
// sample-to-chunk entry that covers it. False past the chunk table.
bool enter_chunk(ReadCursor* c) {
  const auto& entries = c->stsc->entries;
  while (c->stsc_entry + 1 < entries.count && c->chunk_index + 1 >= entries[c->stsc_entry + 1].first_chunk)
    ++c->stsc_entry;
  if (c->chunk_index >= c->chunk_offsets->offsets.count) return false;
  c->offset = c->chunk_offsets->offsets[c->chunk_index];
  return true;
}

ErrorCode read_whole_sample(MediaFile* file, const ReadCursor* c, uint8_t* buffer, uint32_t size) {
  VT_TRY(file_seek(file, c->offset));
  ErrorCode e = read_bytes(file, buffer, size);
  if (e != ErrorCode::Ok) set_error_at(file, c->offset, "sample data beyond the end of the file");
  return e;
}

}  // namespace

ReadCursor* find_cursor(MediaFile* file, uint32_t track_id) {
  for (ReadCursor& c : file->cursors)
    if (c.track_id == track_id) return &c;
  return nullptr;
}

ErrorCode create_read_cursors(MediaFile* file) {
  FileBoxes* root = file->root;
  for (uint32_t i = 0; i < track_count(root); ++i) {
    TrackBoxes* track = track_at(root, i);
    if (track->tkhd == nullptr) return ErrorCode::Missing;
    ReadCursor* cursor = nullptr;
    VT_TRY(file->cursors.append_zeroed(&cursor));
    cursor->track_id = track_id_of(track);
  }
  for (uint32_t i = 0; i < track_count(root); ++i) {
    uint32_t index = 0;
    uint64_t time = 0;
    ErrorCode e = track_seek(file, track_id_of(track_at(root, i)), 0, &index, &time, 1, 1);
    if (e != ErrorCode::Ok && e != ErrorCode::NoMore) return e;
  }
  return ErrorCode::Ok;
}

ErrorCode track_seek(MediaFile* file, uint32_t track_id, uint32_t by_time, uint32_t* index, uint64_t* time,
                     uint32_t snap, uint32_t forward) {
  if (file == nullptr || index == nullptr || time == nullptr) return ErrorCode::BadArgument;
  TrackBoxes* track = find_track(file->root, track_id);
  ReadCursor* c = find_cursor(file, track_id);
  auto* mvhd = movie_record<MvhdRecord>(file->root, BoxTypeId::Mvhd);
  auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
  if (track == nullptr || c == nullptr || mvhd == nullptr || mdhd == nullptr) return ErrorCode::Missing;
  uint64_t delay = rescale(initial_empty_duration(track), mvhd->timescale, mdhd->timescale);
  auto media_start = static_cast<uint64_t>(first_media_time(track));
  uint32_t n;
  if (by_time == 0) {
    n = *index + 1;
  } else if (by_time == 1) {
    n = *time < delay ? 1 : stts_sample_at_time(track, *time - delay + media_start);
  } else {
    return ErrorCode::BadArgument;
  }
  if (snap != 0 && n != 0) n = forward != 0 ? stss_sync_at_or_after(track, n) : stss_sync_at_or_before(track, n);

  std::memset(static_cast<void*>(c), 0, sizeof *c);
  c->track_id = track_id;
  c->stsc = track_record<SampleToChunkTable>(track, BoxTypeId::Stsc);
  c->chunk_offsets = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco);
  c->sizes = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
  c->stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  c->ctts = track_record<CompositionOffsetTable>(track, BoxTypeId::Ctts);
  c->stss = track_record<SyncSampleTable>(track, BoxTypeId::Stss);
  c->current = n;
  c->sample_count = sample_count(track);
  if (n == 0 || n > c->sample_count) return ErrorCode::NoMore;
  if (c->stsc == nullptr || c->chunk_offsets == nullptr || c->sizes == nullptr || c->stts == nullptr) {
    c->current = 0;
    return ErrorCode::Missing;
  }

  uint64_t t = stts_decode_time(track, n) - media_start + delay;
  *index = n - 1;
  *time = t;
  c->time = t;
  ChunkPosition where{};
  ErrorCode e = stsc_locate(file, track, n, &where);
  if (e == ErrorCode::Ok) e = stts_locate(track, n, &c->stts_entry, &c->stts_in_entry);
  if (e == ErrorCode::Ok && c->ctts != nullptr) e = ctts_locate(track, n, &c->ctts_entry, &c->ctts_in_entry);
  if (e == ErrorCode::Ok && where.chunk_index >= c->chunk_offsets->offsets.count) e = ErrorCode::Malformed;
  if (e != ErrorCode::Ok) {
    // A sample the tables cannot place is not read.
    c->current = 0;
    if (e == ErrorCode::BadArgument) e = ErrorCode::Malformed;
    return e;
  }
  c->stsc_entry = where.entry_index;
  c->chunk_index = where.chunk_index;
  c->index_in_chunk = where.index_in_chunk;
  c->offset = c->chunk_offsets->offsets[where.chunk_index];
  for (uint32_t s = where.first_sample; s < n; ++s) c->offset += stsz_sample_size(c->sizes, s - 1);
  c->next_sync = c->stss != nullptr ? stss_index_of(track, stss_sync_at_or_after(track, n)) : 0;
  return ErrorCode::Ok;
}

namespace {

// The next sample of a track, its bytes read into the caller's buffer or,
// without `offset` null, only located.
ErrorCode next_sample(MediaFile* file, uint32_t track_id, SampleRead* sample, uint64_t* offset) {
  if (file == nullptr || sample == nullptr) return ErrorCode::BadArgument;
  ReadCursor* c = find_cursor(file, track_id);
  if (c == nullptr) return ErrorCode::Missing;
  if (c->current == 0 || c->current > c->sample_count) return ErrorCode::NoMore;
  uint32_t size = stsz_sample_size(c->sizes, c->current - 1);
  if (offset != nullptr) *offset = c->offset;
  if (offset == nullptr && size > sample->capacity) return ErrorCode::OutOfMemory;
  if (offset == nullptr && size > 0) {
    if (sample->buffer == nullptr) return ErrorCode::BadArgument;
    if (const ConvertedTrack* converted = find_converted(file, track_id)) {
      VT_TRY(converted_read(file, converted, c->current - 1, c->offset, sample->buffer, size));
    } else {
      VT_TRY(read_whole_sample(file, c, sample->buffer, size));
    }
  }
  const auto& stts = c->stts->entries;
  sample->size = size;
  sample->index = c->current - 1;
  sample->time = c->time;
  sample->duration = c->stts_entry < stts.count ? stts[c->stts_entry].sample_delta : 0;
  sample->description_index =
      c->stsc_entry < c->stsc->entries.count ? c->stsc->entries[c->stsc_entry].sample_description_index : 1;
  sample->composition_offset = 0;
  if (c->ctts != nullptr && c->ctts_entry < c->ctts->entries.count)
    sample->composition_offset = c->ctts->entries[c->ctts_entry].sample_offset;
  bool sync = c->stss == nullptr ||
              (c->next_sync < c->stss->samples.count && c->stss->samples[c->next_sync] == c->current);
  sample->sync = sync ? 1 : 0;

  // Move on to the next sample.
  ++c->current;
  if (c->current > c->sample_count) return ErrorCode::Ok;
  c->offset += size;
  ++c->index_in_chunk;
  const auto& stsc = c->stsc->entries;
  while (c->stsc_entry < stsc.count && c->index_in_chunk >= stsc[c->stsc_entry].samples_per_chunk) {
    // Chunks of zero samples are stepped over.
    c->index_in_chunk = 0;
    ++c->chunk_index;
    if (!enter_chunk(c)) {
      // The chunk table ends before the samples do: the track ends here.
      c->sample_count = c->current - 1;
      break;
    }
  }
  c->time += sample->duration;
  advance_run(stts, &c->stts_entry, &c->stts_in_entry);
  if (c->ctts != nullptr) advance_run(c->ctts->entries, &c->ctts_entry, &c->ctts_in_entry);
  if (sync && c->stss != nullptr && c->next_sync + 1 < c->stss->samples.count) ++c->next_sync;
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode read_next_sample(MediaFile* file, uint32_t track_id, SampleRead* sample) {
  return next_sample(file, track_id, sample, nullptr);
}

ErrorCode locate_next_sample(MediaFile* file, uint32_t track_id, SampleRead* sample, uint64_t* offset) {
  if (offset == nullptr) return ErrorCode::BadArgument;
  return next_sample(file, track_id, sample, offset);
}

}  // namespace vantorel
