#pragma once
// The remux engine's entry point and the callbacks its caller provides.
#include <cstdint>

#include "io/error.h"
#include "io/fourcc.h"
#include "io/io_routines.h"
#include "mediafile/mediafile.h"

namespace vantorel {

// Hands out output file names. Called with a null name and a byte-count
// pointer, it stores the size of the next name with its terminator; called
// with a buffer (of that size) and a null count, it writes the name and
// advances to the next one. Returns 1 when it produced a name or a length.
using OutputNamer = uint32_t (*)(char* name, uint32_t* byte_count, void* user);

// Progress of a pass in tenths of a per cent (0 to 1000). Returns 1 to go on,
// 0 to stop the pass.
using ProgressCallback = uint32_t (*)(uint32_t permille, void* user);

enum SplitMode : uint32_t { kSplitNone = 0, kSplitBySize = 1, kSplitByDuration = 2 };

// What the outputs are: MP4 files, QuickTime movies (names ending in .mov),
// or MP4 files named for audio (.m4a), which get the 'M4A ' brand when they
// hold only sound.
enum OutputForm : uint32_t { kOutputMp4 = 0, kOutputQuickTime = 1, kOutputAudioMp4 = 2 };
const char* drop_reason_text(uint32_t reason);

// How the outputs are cut into parts.
struct SplitOptions {
  SplitMode mode = kSplitNone;
  // Bytes (by size) or milliseconds (by duration); the caller's array, read
  // during the run only.
  const uint64_t* limits = nullptr;
  uint32_t limit_count = 0;
  // false: the first limit holds for every part; true: limit k for part k,
  // and no split after the last limit.
  bool per_file_limits = false;
};

// The kinds of track a selection can name: bits, so one pick can name several.
enum TrackKindBit : uint32_t { kTrackVideo = 1, kTrackAudio = 2, kTrackSubtitle = 4, kTrackData = 8 };

// One item of a track selection: a track by its id (as the input numbers
// it; `kinds` 0), or every track of the `kinds` (`track_id` 0).
struct TrackPick {
  uint32_t track_id;
  uint32_t kinds;
};

// Which input tracks the output keeps. Chapter tracks follow the movie:
// kinds neither keep nor drop them, only their id does.
struct TrackSelection {
  bool drop = false;  // false: only the picked tracks; true: all but them
  // The caller's array, read during the run only; no picks: every track.
  const TrackPick* picks = nullptr;
  uint32_t pick_count = 0;
};

// The kind a selection names a track of a handler kind by (TrackKindBit).
uint32_t track_kind_bit(uint32_t handler_kind);

// Whether `selection` keeps a track. A chapter track is kept unless its
// own id is picked to be dropped.
bool track_selection_keeps(const TrackSelection& selection, uint32_t track_id, uint32_t handler_kind,
                           bool chapter_track);

// A stretch of the input's presentation (its edit lists applied) that the
// output shows, every track cut to it: the video stored from the sync
// sample before its start and the lead-in hidden by an edit.
enum RangeUnit : uint32_t {
  kRangeNanoseconds = 0,
  kRangeFrames = 1,  // frames of the first video track, in presentation order from 0
};
struct RangeOptions {
  bool set = false;
  RangeUnit unit = kRangeNanoseconds;
  uint64_t start = 0;
  uint64_t end = UINT64_MAX;  // UINT64_MAX: to the end; past the end: cut at the end
  // Starts at that sync sample instead, with no hidden lead-in: for players
  // that ignore edit lists.
  bool keyframe = false;
};

// Where a range was placed, in nanoseconds of the input's presentation.
struct RangePlacement {
  uint64_t asked_start;
  uint64_t start;  // earlier than asked with RangeOptions::keyframe
  uint64_t asked_end;  // none64: to the end
  uint64_t end;
  bool end_clamped;  // the end asked lies past the input's end
};

// What the run is asked to do; one constant record for the whole run.
struct RemuxOptions {
  SplitOptions split;
  TrackSelection tracks;
  // The writing pass puts each part's movie header, as the measuring pass
  // built it, before the media data.
  bool measure_headers = true;
  OutputForm output_form = kOutputMp4;
  // Carries what a truncated input still holds (each cut track reported
  // by the `truncated` event) instead of failing with Truncated.
  bool salvage = false;
  // Reads every output back after writing it and compares it with the
  // input (remux/verify.h); a difference fails the run with Differs.
  bool verify = false;
  // With `fixed_time_set`, every time field the run writes holds
  // `fixed_time` (seconds since 1970) instead of the clock's time.
  bool fixed_time_set = false;
  uint64_t fixed_time = 0;
  // Reads and writes each sample by itself, as the library's per-sample
  // calls do, instead of planning the reads of each group.
  bool per_sample = false;
  // The program of a transport stream input (0: the one with the most packets).
  uint32_t program_number = 0;
  // With `range.set`, one output of that stretch (no split goes with it).
  RangeOptions range;
  // Inputs played after the first, back to back, in one movie (names as
  // the routines' open takes them; the caller's array, read during the run
  // only). No range goes with them.
  const void* const* joined = nullptr;
  uint32_t joined_count = 0;
  // With joined inputs: a chapter title for each input, the first
  // included (joined_count + 1), each chapter at the input's start; null: none.
  const char* const* join_titles = nullptr;
};

// The two passes of a run: the measuring pass writes nothing (its outputs
// are simulated), the writing pass creates the files.
enum class Pass : uint32_t { Measure = 0, Write = 1 };

// What the engine tells its caller while it runs; every member may be null.
struct RemuxEvents {
  // Each pass reports how far it got at every cut point, and 1000 at its end.
  ProgressCallback progress;
  // An input track that the output will not have.
  // `handler` is the track's handler type as the file gives it.
  void (*track_dropped)(uint32_t track_id, FourCC handler, FourCC fourcc, uint32_t reason, void* user);
  // Something the input's import left out, as a sentence.
  void (*input_note)(const char* text, void* user);
  // The survey is done: `kept` tracks will be carried. Returning 0 stops the
  // run before any output is written (remux_run then returns Ok).
  uint32_t (*surveyed)(uint32_t kept, void* user);
  // A pass begins.
  void (*pass_started)(Pass pass, void* user);
  // A kept track whose last `missing` of `total` samples lie wholly or partly
  // past the end of the input; `missing_ms` is their duration. Reported in
  // the survey, before the run fails (or, salvaging, carries the rest).
  void (*truncated)(uint32_t track_id, FourCC handler, uint32_t missing, uint32_t total, uint64_t missing_ms,
                    void* user);
  // The measuring pass found `count` output files. Returning 0 stops the run
  // with NoName before the writing pass creates any file.
  uint32_t (*outputs_planned)(uint32_t count, void* user);
  // Output file `index` of the writing pass goes past the split limit
  // because the input has no cut point that would keep it: `value` and
  // `limit` are bytes (split by size) or milliseconds (by duration).
  void (*part_over_limit)(uint32_t index, uint32_t split_mode, uint64_t value, uint64_t limit, void* user);
  // The survey placed the range of RemuxOptions::range.
  void (*range_placed)(const RangePlacement& placement, void* user);
  // Joined inputs whose movie metadata (tags) differs from the first
  // input's, which the output keeps: `count` of them, the first `input`
  // (1-based, counting the first input). Once, after the survey.
  void (*joined_metadata_differs)(uint32_t input, uint32_t count, void* user);
  // With joined inputs: the input (1-based, counting the first) whose
  // survey the next events (`truncated`, `input_note`) are about; 1 again
  // once the joined inputs are surveyed.
  void (*input_surveyed)(uint32_t input, void* user);
};

// What --verify compared, or the first difference it found.
struct VerifyReport {
  uint32_t tracks;   // carried tracks compared
  uint64_t samples;  // samples compared
  // The first difference found (when verify_remux returns Differs).
  uint32_t part;       // 0-based output file
  uint32_t track_id;   // the input's track id; 0 for the movie
  uint32_t sample;     // 1-based, in the input's numbering; 0 when the difference is not in a sample
  const char* field;   // "size", "data", "duration", "composition offset", "sync", "format", "metadata", ...
};

// What a run leaves its caller besides its ErrorCode (zeroed when it starts).
struct RemuxResult {
  // When the run fails on the input, where in it (box path, offset, reason).
  ErrorDetail input_failure;
  // With `verify`, what was compared or the first difference.
  VerifyReport verify;
  // A track selection that cannot be met fails the run with BadArgument
  // before any output is written: a pick whose id no input track has, or
  // a selection that leaves no track.
  uint32_t selection_fault;  // SelectionFault
  uint32_t selection_pick;   // with kSelectionUnknownId: the index of that pick
  // A range that does not fit the input fails the run with BadArgument
  // before any output is written (RangeFault).
  uint32_t range_fault;
  // Joined inputs whose tracks do not match the first input's fail the run
  // with Unsupported before any output is written (JoinFault): the input
  // (1-based; 2 is the first joined one) and the first input's track id
  // (for a missing track, the first one the input lacks).
  uint32_t join_fault;
  uint32_t join_input;
  uint32_t join_track;
  // The joined input (1-based, counting the first) that failed to open or
  // be surveyed; 0 for the first input or none.
  uint32_t failed_input;
};
enum JoinFault : uint32_t {
  kJoinMet = 0,
  kJoinTrackCount = 1,     // another number of tracks
  kJoinKind = 2,           // a track of another kind
  kJoinCodec = 3,          // a track of another codec
  kJoinMatrix = 4,         // a track turned another way
  kJoinTimescale = 5,      // a track counting time in other units
  kJoinConfiguration = 6,  // another configuration where the descriptions cannot be kept apart
  kJoinTiming = 7,         // pictures that start too far into their media to be shifted into place
};
enum RangeFault : uint32_t {
  kRangeMet = 0,
  kRangeStartPastEnd = 1,  // it starts at or past the input's end
  kRangeNoVideo = 2,       // frames asked of an input without video
  kRangeEmpty = 3,         // it ends at or before its start
};
enum SelectionFault : uint32_t { kSelectionMet = 0, kSelectionUnknownId = 1, kSelectionEmpty = 2 };

// Whether the remux would carry a track of a file open in read mode: 0, or
// the DropReason that leaves it out. The same decision remux_run makes.
// `as_stored`, when given, tells a track carried as stored: a format the
// remux does not rebuild, carried whole under its own handler.
ErrorCode remux_track_verdict(MediaFile* input, uint32_t track_id, uint32_t* drop_reason, bool* as_stored = nullptr);

// The samples of a track of a file open in read mode that lie wholly or
// partly past the end of the file (a file cut short): `missing` of `total`,
// lasting `missing_ms`; the figures the `truncated` event gives. All zero
// for a whole track.
ErrorCode remux_track_shortfall(MediaFile* input, uint32_t track_id, TrackShortfall* out);

// Remuxes `input_name` (handed to the routines' open) into one or more MP4
// files named by `namer`. With null routines the C-stream routines are used;
// null options are the defaults of RemuxOptions; `events` and `result` may
// be null. `user` goes to the namer, the events and the routines.
ErrorCode remux_run(const void* input_name, OutputNamer namer, const IoRoutines* routines, const RemuxOptions* options,
                    const RemuxEvents* events, void* user, RemuxResult* result);

}  // namespace vantorel
