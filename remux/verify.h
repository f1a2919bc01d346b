#pragma once
// Checking a remux's outputs against its input, as the remux read it.
#include <cstdint>

#include "io/error.h"
#include "io/io_routines.h"
#include "remux/remux.h"
#include "remux/track_source.h"

namespace vantorel {

// Opens the input and the outputs (in order; the parts of a split) through
// `routines` and compares: every carried track's samples in order (size,
// data, duration, composition offset, sync flag; PCM as a 64-bit hash of
// its whole bytes, and its duration), each track's format, and the movie's and
// tracks' carried metadata in every part. Differs with the first difference
// in `report`. With `salvage`, tracks may end early (a truncated input).
// With a `selection`, only the tracks it keeps are looked for.
//
// With a `range` (one output), the tracks are those it lists, in order:
// each output track holds the input samples of its span (text samples
// shortened by the trims, a re-counted time code's first sample aside),
// and its edit shows media times [media_time, media_end).
struct VerifySpan {
  uint32_t input_track_id;
  uint32_t first_sample;
  uint32_t end_sample;
  uint32_t head_trim;
  uint32_t tail_trim;
  bool first_replaced;
  bool edited;  // an edit shows the span (not re-timed text)
  int64_t media_time;
  int64_t media_end;
};
struct VerifyRange {
  const VerifySpan* spans;
  uint32_t count;
};
//
// With a `join` (one output), output track k holds the samples of the
// segments of planned track k in turn, each from its input, with the
// joined times: durations and offsets converted and shifted as the join
// planned, a lengthened time code sample as long as the samples it stands
// for, and each sample under the description the join gave its own.
struct VerifySegment {
  uint32_t track;  // the planned track (0-based, the output's order)
  uint32_t input;  // into VerifyJoin::inputs
  // Its samples and times as the plan has them (the plan's input pointer
  // is not used: the inputs are opened again).
  SampleSource source;
};
struct VerifyJoin {
  const void* const* inputs;  // the first input's name included, first
  uint32_t input_count;
  const VerifySegment* segments;  // grouped by track, in order
  uint32_t segment_count;
  const uint32_t* description_map;
  uint32_t description_map_count;
};
ErrorCode verify_remux(const void* input_name, const char* const* outputs, uint32_t output_count,
                       const IoRoutines* routines, void* user, uint32_t salvage, VerifyReport* report,
                       const TrackSelection* selection = nullptr, uint32_t program_number = 0,
                       const VerifyRange* range = nullptr, const VerifyJoin* join = nullptr);

}  // namespace vantorel
