#pragma once
// Building a complete, empty track of a handler kind.
#include "boxes/box_tree.h"

namespace vantorel {

// What a new track is made from. Null strings and zero values mean "the
// default": the kind's handler name, language "und", the movie's next
// track id, no track reference.
struct TrackSetup {
  uint32_t kind;       // HandlerKind, 1-18
  FourCC handler_type;  // kHandlerOther: the handler type to write
  uint32_t timescale;  // media time scale
  const char* handler_name;
  const char* language;  // the first three characters are taken
  uint32_t track_id;
  uint32_t reference_type;  // ReferenceType; 0 for none
  uint32_t reference_count;
  const uint32_t* reference_ids;
};

// Creates a track with tkhd, tref (when asked for), mdia, mdhd, hdlr, the
// kind's media header, minf, dinf, a dref with one self-contained entry,
// stbl and its tables, then moves the movie's next track id on. Null for an
// unknown kind (0 or above 14), a track id already in use, a movie without
// mvhd, or any failure on the way; no part of a failed track is left behind.
// The returned pointer is valid until tracks are next added or removed.
TrackBoxes* create_track(BoxFile* file, const TrackSetup* setup);

// Adds the sample description with the first entry for the kind, sets a
// sound entry's rate from the time scale, and adds the sample tables (with
// a sync-sample table for the video-like kinds). Called by create_track
// once the track's structure is in place.
ErrorCode populate_sample_tables(BoxFile* file, TrackBoxes* track, uint32_t kind, uint32_t timescale);

}  // namespace vantorel
