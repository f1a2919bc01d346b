#pragma once
// The output files of a pass, one open at a time: naming, opening with the
// planned tracks, closing, and what the measuring pass learns of each part
// for the writing pass.
#include <cstdint>
#include <span>

#include "io/grow_array.h"
#include "mediafile/mediafile.h"
#include "remux/remux.h"
#include "remux/stream_routines.h"
#include "remux/track_plan.h"

namespace vantorel {

struct OutputMeasure {
  uint64_t total_sample_bytes;
  uint32_t header_reserve;
  uint64_t file_size;    // the whole file: 'ftyp', movie header, 'mdat'
  uint64_t duration_ms;  // its movie header's duration
  HeaderBlock header;    // its movie header, as the writing pass puts it first
};

// A part's stretch of the movie, as the scheduler saw it (movie units).
struct PartSpan {
  uint64_t start_time;       // where the part starts
  uint64_t cut_time;         // where the next one starts; none64 once every track is finished
  uint64_t queued_end_time;  // how far its samples reach
  uint64_t duration;         // its movie header's duration
};

// An input of a join as its chapters see it: where it starts in the
// movie (100 ns units) and, with a title, a chapter of its own there.
struct ChapterInput {
  MediaFile* input;
  uint64_t start;
  const char* title;
};

struct OutputParts {
  MediaFile* input;
  // Joined inputs, the first included: chapters come from all of them.
  const ChapterInput* chapter_inputs;
  uint32_t chapter_input_count;
  const JoinEdit* joined_edits;  // the plan's: tracks with an edit per input
  const SampleSource* sources;   // the plan's: a joined track's sample groups come from each
  MediaFile* output;      // the open part, or null
  StreamContext* stream;  // the routines' user value: the pass and the caller's user value
  OutputNamer namer;
  const RemuxOptions* options;
  const RemuxEvents* events;
  uint32_t movie_timescale;
  GrowArray<uint32_t> output_track_ids;  // one per planned track, in the open part
  GrowArray<OutputMeasure> measures;     // one per part, from the measuring pass
  GrowArray<char*> written_names;        // the writing pass's output names, in order (owned)
  HeaderBlock captured_header;           // filled by closing a measuring-pass output
  // A range cut: the stretch of the input's presentation the output shows,
  // nanoseconds; its chapters are shifted to it.
  bool range_cut;
  uint64_t range_start;
  uint64_t range_end;
};

// Opens part `index` (named by the namer in the writing pass) with the
// planned `tracks`; a `continuation` (every part after the first) starts
// its tracks' media time again.
ErrorCode parts_open(OutputParts* parts, uint32_t index, bool continuation, std::span<const PlannedTrack> tracks);
// Closes part `index`, which holds `span` of the movie: its chapters, the
// end of its text tracks, and in the measuring pass its measure.
ErrorCode parts_close(OutputParts* parts, uint32_t index, const PartSpan& span, std::span<const PlannedTrack> tracks);
// The open part's 'ftyp' and movie header as they stand, in bytes.
ErrorCode parts_header_size(OutputParts* parts, uint64_t* size);
void parts_release(OutputParts* parts);

// What each part carries of the input (part_contents.cpp): its brands, into
// `params` (the list kept in `brands`); and, once it is open, the movie's
// presentation and metadata and the planned tracks.
ErrorCode part_brands(const OutputParts& parts, std::span<const PlannedTrack> tracks, OpenParams* params,
                      GrowArray<FourCC>* brands);
ErrorCode part_carry(OutputParts* parts, bool continuation, std::span<const PlannedTrack> tracks);

}  // namespace vantorel
