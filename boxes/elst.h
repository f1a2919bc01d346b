#pragma once
// 'elst': the edit list inside a track's 'edts', which maps the movie's
// timeline onto the track's media (an initial delay, a start offset).
#include "boxes/box_tree.h"

namespace vantorel {

constexpr int64_t kEmptyEdit = -1;  // media time of an edit that shows nothing

struct ElstEntry {
  uint64_t segment_duration;  // movie time scale
  int64_t media_time;         // media time scale; kEmptyEdit for an empty edit
  int16_t media_rate_integer;
  uint16_t media_rate_fraction;
};

struct ElstRecord {
  uint8_t version;
  uint32_t flags;
  GrowArray<ElstEntry> entries;
};

// Appends an edit to the track's 'elst' (the caller adds 'edts' and 'elst'
// first); the list becomes version 1 when the edit needs 64-bit fields.
ErrorCode add_edit(BoxFile* file, TrackBoxes* track, uint64_t segment_duration, int64_t media_time,
                   int16_t rate_integer, uint16_t rate_fraction);
// Fills in the duration of the last edit of a list of one or two edits whose
// last edit starts at media time 0 (the form a delayed or profiled track is
// given while it is written); any other list is left as it is.
ErrorCode set_last_edit_duration(TrackBoxes* track, uint64_t duration);
// Fills in the duration of the last edit of a list the writer made: from the
// media time that edit starts at to `presentation_end` (media units, where
// the last sample's presentation ends), in the movie time scale; not below 0.
ErrorCode set_presentation_edit_duration(TrackBoxes* track, uint64_t presentation_end, uint32_t media_timescale,
                                         uint32_t movie_timescale);
// The duration of a leading empty edit, 0 without one.
uint64_t initial_empty_duration(TrackBoxes* track);
// The media time of the first edit that shows media, 0 without one.
int64_t first_media_time(TrackBoxes* track);
// Media time the presentation ends at when the list is one edit, after an
// empty one or not: its media time plus its duration at `media_timescale`,
// rounded up so no shown sample is cut. 0 for other lists and none.
int64_t single_edit_media_end(TrackBoxes* track, uint32_t movie_timescale, uint32_t media_timescale);
// The sum of all edit durations, 0 without an edit list.
uint64_t total_edit_duration(TrackBoxes* track);

void elst_release(BoxFile* file, void* context);
ErrorCode elst_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode elst_write(BoxFile* file, void* context);
uint64_t elst_size(BoxFile* file, void* context);

}  // namespace vantorel
