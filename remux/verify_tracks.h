#pragma once
// Verify's tracks: the input's tracks as the outputs should hold them, and
// each output's tracks matched with them, part by part.
#include <cstdint>

#include "io/grow_array.h"
#include "remux/track_selection.h"
#include "remux/verify.h"
#include "remux/verify_reader.h"

namespace vantorel {

// The first difference, put in `report`: returns Differs.
ErrorCode verify_differs(VerifyReport* report, uint32_t part, uint32_t track_id, uint32_t sample, const char* field);

// The files compared against the outputs: the input and, for a join, the
// other inputs (by VerifySegment::input; index 0 is the input itself).
struct VerifyInputs {
  VerifyReader* first = nullptr;
  VerifyReader* joined = nullptr;  // join->input_count readers, or null
  const VerifyJoin* join = nullptr;
  const VerifyRange* range = nullptr;
  uint64_t movie_metadata = 0;  // the input movie's carried metadata, hashed
  VerifyReader& reader_of(const VerifySegment* segment) const {
    return segment == nullptr || segment->input == 0 ? *first : joined[segment->input];
  }
};

// An input track as the outputs should hold it, and how far they were compared.
struct VerifyTrack {
  uint32_t input_id;
  bool pcm;
  bool timed_media;  // video, sound or subpicture: durations are compared to the last sample
  bool subpicture;
  uint32_t next;     // input samples compared so far
  uint32_t count;    // input samples
  uint64_t input_bytes_hash, output_bytes_hash;  // PCM
  uint64_t input_duration, output_duration;
  const VerifySpan* span;  // a range cut's, or null
  const VerifySpan* joined_span;  // a range cut of joined inputs: its edit and first sample, or null
  // A join's: segments [first_segment, first_segment + segment_count), the
  // one compared and its samples left.
  uint32_t first_segment;
  uint32_t segment_count;
  uint32_t segment;
  uint32_t left;
};

// The tracks every output should hold, in the outputs' order: a join's
// planned tracks, a range's spans (each input track at its span's first
// sample), or else the input's carried tracks that `check` keeps.
ErrorCode verify_list_tracks(const VerifyInputs& inputs, SelectionCheck* check, GrowArray<VerifyTrack>* tracks);

// An output's track, matched with the listed track of the same place, and
// where its comparison stands.
struct VerifyLane {
  uint32_t out_id;
  uint32_t n;      // output samples compared
  uint32_t count;  // output samples
  bool first;
  bool located;    // `next` and `at` hold its next sample
  SampleRead next;
  uint64_t at;
};

// Matches part `part`'s tracks with `tracks`: their count, the movie's and
// each track's carried metadata, each format and a range's edit. A lane per
// track; room in `out` for its largest sample and in the input for each
// track's (not a join's: its readers have theirs).
ErrorCode verify_match_tracks(const VerifyInputs& inputs, const GrowArray<VerifyTrack>& tracks, VerifyReader& out, uint32_t part,
                              GrowArray<VerifyLane>* lanes, VerifyReport* report);

}  // namespace vantorel
