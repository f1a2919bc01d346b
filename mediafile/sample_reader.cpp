// Sequential sample reading through one cursor per track, and positioning by
// sample number or by time. The table cursor steps through the tables entry
// by entry, so reading in order costs the same for every sample; where the
// bytes come from is the track's sample source, looked up once a seek.
#include <cstring>

#include "boxes/elst.h"
#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "mediafile/internal.h"
#include "sampletables/stss.h"
#include "sampletables/stts.h"

namespace vantorel {

namespace {

ErrorCode read_whole_sample(MediaFile* file, uint64_t offset, uint8_t* buffer, uint32_t size) {
  VT_TRY(file_seek(file, offset));
  ErrorCode e = read_bytes(file, buffer, size);
  if (e != ErrorCode::Ok) set_error_at(file, offset, "sample data beyond the end of the file");
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
  c->converted = find_converted(file, track_id);
  ErrorCode e = table_cursor_seek(&c->table, file, track, n);
  if (e == ErrorCode::NoMore || e == ErrorCode::Missing) return e;
  // Both are given for a sample the tables cannot place too.
  c->time_shift = delay - media_start;
  *index = n - 1;
  *time = (e == ErrorCode::Ok ? c->table.time : stts_decode_time(track, n)) + c->time_shift;
  return e;
}

namespace {

// The next sample of a track, its bytes read into the caller's buffer or,
// without `offset` null, only located.
ErrorCode next_sample(MediaFile* file, uint32_t track_id, SampleRead* sample, uint64_t* offset) {
  if (file == nullptr || sample == nullptr) return ErrorCode::BadArgument;
  ReadCursor* c = find_cursor(file, track_id);
  if (c == nullptr) return ErrorCode::Missing;
  if (c->table.current == 0) return ErrorCode::NoMore;
  TableSample at;
  table_cursor_sample(c->table, &at);
  if (offset != nullptr) *offset = at.offset;
  if (offset == nullptr && at.size > sample->capacity) return ErrorCode::OutOfMemory;
  if (offset == nullptr && at.size > 0) {
    if (sample->buffer == nullptr) return ErrorCode::BadArgument;
    if (c->converted != nullptr) {
      VT_TRY(converted_read(file, c->converted, c->table.current - 1, at.offset, sample->buffer, at.size));
    } else {
      VT_TRY(read_whole_sample(file, at.offset, sample->buffer, at.size));
    }
  }
  sample->size = at.size;
  sample->index = c->table.current - 1;
  sample->time = at.time + c->time_shift;
  sample->duration = at.duration;
  sample->description_index = at.description_index;
  sample->composition_offset = at.composition_offset;
  sample->sync = at.sync ? 1 : 0;
  table_cursor_next(&c->table);
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

namespace {

struct RangeRelay {
  SampleRangeSink sink;
  void* user;
};

ErrorCode relay_range(void* user, const FileStretch& stretch) {
  auto* relay = static_cast<RangeRelay*>(user);
  const SampleRange range{stretch.offset, stretch.size, stretch.at, stretch.swap16};
  return relay->sink(relay->user, &range);
}

}  // namespace

ErrorCode lay_out_located_sample(MediaFile* file, uint32_t track_id, const SamplePlace* place, uint8_t* out,
                                 SampleRangeSink sink, void* user) {
  if (file == nullptr || place == nullptr || sink == nullptr) return ErrorCode::BadArgument;
  ReadCursor* c = find_cursor(file, track_id);
  if (c == nullptr) return ErrorCode::Missing;
  if (place->size == 0) return ErrorCode::Ok;
  if (c->converted == nullptr) {
    const SampleRange whole{place->offset, place->size, 0, false};
    return sink(user, &whole);
  }
  if (out == nullptr) return ErrorCode::BadArgument;
  RangeRelay relay{sink, user};
  return converted_lay_out(file, c->converted, place->index, place->offset, out, place->size, relay_range, &relay);
}

ErrorCode sample_walk_open(MediaFile* file, uint32_t track_id, uint32_t count, uint32_t* walk, bool locates) {
  if (file == nullptr || walk == nullptr) return ErrorCode::BadArgument;
  TrackBoxes* track = find_track(file->root, track_id);
  if (track == nullptr) return ErrorCode::Missing;
  uint32_t i = 0;
  while (i < file->walks.count && file->walks[i].open) ++i;
  if (i == file->walks.count) {
    SampleWalkSlot* added = nullptr;
    VT_TRY(file->walks.append_zeroed(&added));
  }
  SampleWalkSlot& slot = file->walks[i];
  table_cursor_begin(&slot.table, track, locates);
  table_cursor_limit(&slot.table, count);
  slot.open = true;
  *walk = i;
  return ErrorCode::Ok;
}

ErrorCode sample_walk_next(MediaFile* file, uint32_t walk, SampleRead* out, uint64_t* offset) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  if (walk >= file->walks.count || !file->walks[walk].open) return ErrorCode::BadArgument;
  TableCursor& table = file->walks[walk].table;
  if (table.current == 0) return ErrorCode::NoMore;
  TableSample at;
  table_cursor_sample(table, &at);
  if (offset != nullptr) *offset = at.offset;
  out->size = at.size;
  out->index = table.current - 1;
  out->time = at.time;
  out->duration = at.duration;
  out->description_index = at.description_index;
  out->composition_offset = at.composition_offset;
  out->sync = at.sync ? 1 : 0;
  table_cursor_next(&table);
  return ErrorCode::Ok;
}

void sample_walk_close(MediaFile* file, uint32_t walk) {
  if (file != nullptr && walk < file->walks.count) file->walks[walk].open = false;
}

}  // namespace vantorel
