#pragma once
// Where a planned track's samples come from, and the one walk over their
// time, size and sync tables through which the scheduler sees them. The
// engine reads these tables nowhere else.
#include <cstdint>

#include "io/error.h"

namespace vantorel {

struct MediaFile;
struct TrackBoxes;
struct TimeToSampleTable;
struct CompositionOffsetTable;
struct SampleSizeTable;
struct SyncSampleTable;

// One stretch of a planned track: samples of track `track_id` of `input`.
struct SampleSource {
  MediaFile* input;
  uint32_t track_id;
  uint32_t sample_count;  // the samples its tables describe consistently and the file holds
  // The decode times (the track's units) it covers; the whole track is 0 to
  // none64, the only span the walk takes yet.
  uint64_t span_start;
  uint64_t span_end;
};

// A sample as the scheduler sees it.
struct SourceSample {
  uint64_t decode_time;  // track units, counted from the planned track's first sample
  uint32_t duration;     // track units
  int32_t composition_offset;
  uint32_t size;
  bool sync;
};

// A walk over a planned track's sources, one after the other; decode times
// go on from where the previous source ended.
struct TrackCursor {
  const SampleSource* sources;
  uint32_t source_count;
  uint32_t source;  // the source walked
  uint32_t index;   // its next sample, 0-based
  uint64_t time;    // decode time of the next sample
  const TimeToSampleTable* stts;
  uint32_t stts_entry;
  uint32_t stts_in_entry;
  const CompositionOffsetTable* ctts;  // may be null
  uint32_t ctts_entry;
  uint32_t ctts_in_entry;
  const SampleSizeTable* sizes;
  const SyncSampleTable* stss;  // null: every sample is a sync sample
  uint32_t stss_index;
};

// Starts a walk at the first sample of `sources` (kept by the caller while
// the walk lasts). Unsupported for a span short of a whole track.
ErrorCode track_source_start(TrackCursor* cursor, const SampleSource* sources, uint32_t count);
// The next sample into `out`; false once every source is walked.
bool track_source_next(TrackCursor* cursor, SourceSample* out);

// How many of a track's samples its tables describe consistently and the
// file holds, and the largest of them; `described` is the count the tables
// describe, and `past_end` is set when the walk stopped at a sample that
// lies wholly or partly past the file's end (`file_length`).
uint32_t track_source_deliverable(MediaFile* file, TrackBoxes* track, uint64_t file_length, uint32_t* largest,
                                  uint32_t* described, bool* past_end);
// The size its tables give sample `index` (0-based) of a track; 0 past the last.
uint32_t track_source_sample_size(TrackBoxes* track, uint32_t index);
// The duration, in milliseconds, of samples [from, to) of a track.
uint64_t track_source_duration_ms(TrackBoxes* track, uint32_t timescale, uint32_t from, uint32_t to);

}  // namespace vantorel
