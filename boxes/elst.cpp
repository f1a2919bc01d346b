#include "boxes/elst.h"

#include "boxes/fields.h"

namespace vantorel {

namespace {

ElstRecord* elst_of(void* context) { return track_record<ElstRecord>(static_cast<TrackBoxes*>(context), BoxTypeId::Elst); }

bool fits_s32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

uint64_t entry_size(const ElstRecord* e) { return e->version == 1 ? 20 : 12; }

}  // namespace

ErrorCode add_edit(BoxFile* file, TrackBoxes* track, uint64_t segment_duration, int64_t media_time,
                   int16_t rate_integer, uint16_t rate_fraction) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  ElstRecord* e = elst_of(track);
  if (e == nullptr) return ErrorCode::Missing;
  ElstEntry entry{segment_duration, media_time, rate_integer, rate_fraction};
  VT_TRY(e->entries.append(entry));
  if (!fits_u32(segment_duration) || (media_time != kEmptyEdit && !fits_s32(media_time))) e->version = 1;
  return ErrorCode::Ok;
}

ErrorCode set_last_edit_duration(TrackBoxes* track, uint64_t duration) {
  if (track == nullptr) return ErrorCode::BadArgument;
  ElstRecord* e = elst_of(track);
  if (e == nullptr) return ErrorCode::Missing;
  uint32_t n = e->entries.count;
  if ((n != 1 && n != 2) || e->entries[n - 1].media_time != 0) return ErrorCode::Ok;
  e->entries[n - 1].segment_duration = duration;
  if (!fits_u32(duration)) e->version = 1;
  return ErrorCode::Ok;
}

ErrorCode set_presentation_edit_duration(TrackBoxes* track, uint64_t presentation_end, uint32_t media_timescale,
                                         uint32_t movie_timescale) {
  if (track == nullptr) return ErrorCode::BadArgument;
  ElstRecord* e = elst_of(track);
  if (e == nullptr) return ErrorCode::Missing;
  if (e->entries.count == 0) return ErrorCode::Ok;
  ElstEntry& last = e->entries[e->entries.count - 1];
  if (last.media_time < 0) return ErrorCode::Ok;  // an empty edit has its own duration
  // The edit shows the media from its media time to where the last sample's
  // presentation ends.
  auto start = static_cast<uint64_t>(last.media_time);
  uint64_t shown = presentation_end > start ? presentation_end - start : 0;
  last.segment_duration = media_timescale == 0 ? 0 : rescale(shown, media_timescale, movie_timescale);
  if (!fits_u32(last.segment_duration)) e->version = 1;
  return ErrorCode::Ok;
}

uint64_t initial_empty_duration(TrackBoxes* track) {
  ElstRecord* e = elst_of(track);
  if (e == nullptr || e->entries.count == 0 || e->entries[0].media_time != kEmptyEdit) return 0;
  return e->entries[0].segment_duration;
}

int64_t first_media_time(TrackBoxes* track) {
  ElstRecord* e = elst_of(track);
  if (e == nullptr) return 0;
  for (const ElstEntry& entry : e->entries)
    if (entry.media_time >= 0) return entry.media_time;
  return 0;
}

int64_t single_edit_media_end(TrackBoxes* track, uint32_t movie_timescale, uint32_t media_timescale) {
  ElstRecord* e = elst_of(track);
  if (e == nullptr || movie_timescale == 0) return 0;
  uint32_t i = 0;
  if (e->entries.count == 2 && e->entries[0].media_time == kEmptyEdit) i = 1;
  if (e->entries.count != i + 1) return 0;
  const ElstEntry& edit = e->entries[i];
  if (edit.media_time < 0 || edit.segment_duration == 0 || edit.media_rate_integer != 1) return 0;
  const unsigned __int128 scaled =
      (static_cast<unsigned __int128>(edit.segment_duration) * media_timescale + movie_timescale - 1) / movie_timescale;
  if (scaled > static_cast<unsigned __int128>(INT64_MAX - edit.media_time)) return 0;
  return edit.media_time + static_cast<int64_t>(scaled);
}

uint64_t total_edit_duration(TrackBoxes* track) {
  ElstRecord* e = elst_of(track);
  if (e == nullptr) return 0;
  uint64_t total = 0;
  for (const ElstEntry& entry : e->entries) total += entry.segment_duration;
  return total;
}

void elst_release(BoxFile*, void* context) {
  ElstRecord* e = elst_of(context);
  if (e != nullptr) e->entries.release();
}

namespace {

// The box's own fields; the entries follow, each in the box's version.
struct ElstHead {
  uint8_t version;
  uint32_t flags;
  uint32_t count;
};
constexpr Field kElstHeadLayout[] = {version_field(offsetof(ElstHead, version)), flags_field(offsetof(ElstHead, flags)),
                                     u32_field(offsetof(ElstHead, count))};
constexpr Field kEditLayout[] = {
    time_field(offsetof(ElstEntry, segment_duration)),
    signed_time_field(offsetof(ElstEntry, media_time)),  // -1 is an empty edit
    u16_field(offsetof(ElstEntry, media_rate_integer)),
    u16_field(offsetof(ElstEntry, media_rate_fraction)),
};

}  // namespace

ErrorCode elst_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  ElstRecord* e = elst_of(context);
  if (e == nullptr) return ErrorCode::Missing;
  if (e->entries.count != 0) return ErrorCode::Missing;
  ElstHead head{};
  VT_TRY(read_fields(file, header, kElstHeadLayout, &head, "'elst' shorter than its fields"));
  e->version = head.version;
  e->flags = head.flags;
  if (!box_holds(file, header, head.count, entry_size(e))) return malformed(file, "more edits than the box holds");
  VT_TRY(e->entries.reserve(head.count));
  for (uint32_t i = 0; i < head.count && !io_failed(file); ++i) {
    ElstEntry entry{};
    VT_TRY(read_fields(file, header, kEditLayout, &entry, "more edits than the box holds", e->version));
    VT_TRY(e->entries.append(entry));
  }
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

ErrorCode elst_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  ElstRecord* e = elst_of(context);
  if (e == nullptr || e->entries.items == nullptr) return ErrorCode::Missing;
  ElstHead head{e->version, e->flags, e->entries.count};
  VT_TRY(write_fields(file, kElstHeadLayout, &head));
  for (const ElstEntry& entry : e->entries) VT_TRY(write_fields(file, kEditLayout, &entry, e->version));
  return ErrorCode::Ok;
}

uint64_t elst_size(BoxFile*, void* context) {
  ElstRecord* e = elst_of(context);
  if (e == nullptr) return 0;
  return uint64_t{e->entries.count} * entry_size(e) + 8;
}

}  // namespace vantorel
