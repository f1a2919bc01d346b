#pragma once
// Where a planned track's samples come from, and the walk over their times,
// sizes and sync flags through which the scheduler sees them: the library
// walks the tables, the engine asks it for each next sample.
#include <cstdint>

#include "io/error.h"

namespace vantorel {

struct MediaFile;

// One stretch of a planned track: samples of track `track_id` of `input`.
struct SampleSource {
  MediaFile* input;
  uint32_t track_id;
  uint32_t sample_count;  // the samples its tables describe consistently and the file holds
  // The samples [first_sample, end_sample) it takes (a range cut), of the
  // `sample_count`; the whole track is 0 to sample_count.
  uint32_t first_sample;
  uint32_t end_sample;
  // Track units taken off the start of its first sample and the end of its
  // last: a text sample that straddles a cut is shortened, not hidden.
  uint32_t head_trim;
  uint32_t tail_trim;
  // Joined inputs: added to each composition offset, so the presentation
  // goes on where the previous input's ends; and where its sample
  // descriptions' output numbers start in the plan's map (0: as read).
  int32_t composition_shift;
  uint32_t description_map;
  // Joined inputs counting time in other units: durations and offsets
  // times scale_to / scale_from, which the join checked to be exact (0: as read).
  uint32_t scale_from;
  uint32_t scale_to;
  // Track units added to its last sample: a time code sample lengthened
  // by the inputs whose time code goes on from it.
  uint32_t tail_extend;
};

// `units` of a source in the planned track's units (saturating far past
// any time a track holds).
int64_t source_units(const SampleSource& source, int64_t units);
// A composition offset of a source as the planned track has it: converted
// and shifted (held within 32 bits).
int32_t source_offset(const SampleSource& source, int32_t offset);

// A sample as the scheduler sees it, and where the writer finds it: the
// walk that times it locates it too, so its tables are walked once.
struct SourceSample {
  uint64_t decode_time;  // track units, counted from the planned track's first sample
  uint32_t duration;     // track units, trimmed and extended as its source says
  int32_t composition_offset;  // converted and shifted as its source says
  uint32_t size;
  bool sync;
  uint32_t index;              // in its source's track, 0-based
  uint32_t description_index;  // as read (1-based)
  uint64_t offset;             // where its bytes lie, as the library locates them
};

// The output's description number of sample description `index` (1-based,
// as read) of `source`, through `map` (the plan's).
uint32_t source_description(const SampleSource& source, const uint32_t* map, uint32_t map_count, uint32_t index);

// A walk over a planned track's sources, one after the other; decode times
// go on from where the previous source ended.
struct TrackCursor {
  const SampleSource* sources;
  uint32_t source_count;
  uint32_t source;  // the source walked
  uint64_t time;    // decode time of the next sample
  uint32_t walk;    // the library's walk over the source walked
  uint32_t index;   // of the next sample in the source walked
  bool walking;     // while that walk is open
  ErrorCode failure;  // what ended the walk early, if anything did
};

// Starts a walk at the first sample of `sources` (kept by the caller while
// the walk lasts). BadArgument for a span outside its samples.
ErrorCode track_source_start(TrackCursor* cursor, const SampleSource* sources, uint32_t count);
// The next sample into `out`; false once every source is walked, or when
// the library failed (`failure`).
bool track_source_next(TrackCursor* cursor, SourceSample* out);
// Lets the library's walk go (a cursor never started or done is fine).
void track_source_release(TrackCursor* cursor);

}  // namespace vantorel
