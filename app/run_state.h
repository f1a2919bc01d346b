#pragma once
// The state main owns for one run. The engine hands one user value to the
// output namer, the progress callback and every file routine; this record is
// that value, so a failure deep inside a run can still be reported with the
// file it concerned and the system's reason.
#include <cstdint>
#include <cstdio>

#include "app/output_commit.h"
#include "io/fourcc.h"
#include "remux/remux.h"

namespace vantorel::app {

// The most recent failure of a file routine.
struct IoFailure {
  uint32_t set;           // 1 once a failure was recorded
  const char* operation;  // static text: "open", "read", "write", "close", ...
  char* path;             // owned copy of the file's path; null if it could not be copied
  int error_number;       // errno; 0 when a transfer came up short without one
};

struct OutputNameState {
  const char* output_path;  // the user's output path; not owned, lives for the run
  int32_t counter;          // names handed out so far
  uint32_t input_known;     // 1 when the input existed at the start of the run
  uint64_t input_device;
  uint64_t input_inode;
  uint32_t refused;     // 1 once a name was withheld because it is the input
  char* refused_name;   // owned copy of that name
  // --join: the inputs after the first (not owned), which no output may
  // name either, and the one a withheld name named (null: the first).
  const char* const* joined;
  uint32_t joined_count;
  const char* refused_input;
};

struct ProgressState {
  std::FILE* out;      // null: no progress is shown
  uint32_t printed;    // 1 once a value was printed in this pass
  uint32_t last;       // the value printed last
  const char* label;   // what the pass does ("analysing", "writing"); null: none
  uint32_t shown;      // 1 once anything was printed: the line needs clearing
  uint32_t width;      // characters of the line printed last
  // Repaints at most one per interval (0: every new value); the first value
  // of a pass is always shown. The clock is in milliseconds; null: the
  // system's steady clock.
  uint32_t interval_ms;
  uint64_t painted_ms;  // when the line was painted last
  uint64_t (*clock_ms)();
};
constexpr uint32_t kProgressIntervalMs = 100;  // ten repaints a second

// A track of a truncated input: its last `missing` of `total` samples lie
// past the end of the file.
struct TruncatedTrack {
  uint32_t track_id;
  FourCC handler;
  uint32_t missing;
  uint32_t total;
  uint64_t missing_ms;
};
constexpr uint32_t kTruncatedShown = 8;  // tracks named in the message

// A part above the split limit: bytes or milliseconds.
struct OverLimitPart {
  uint32_t index;  // 0-based
  uint64_t value;
};
constexpr uint32_t kOverLimitShown = 8;  // parts named in the warning

struct RunState {
  const char* input_path;  // not owned
  OutputNameState names;
  ProgressState progress;
  IoFailure failure;
  ErrorDetail detail;  // where in the input a failure was found, when known
  std::FILE* warnings;   // where warnings about the run go (null: nowhere)
  uint32_t kept_tracks;  // tracks the remux carries, once surveyed
  uint32_t nothing_to_carry;  // 1 when the survey found no track to carry
  uint32_t needs_quicktime;   // 1 when a track was left out because only a QuickTime movie holds it
  OutputSet outputs;          // the files written, under temporary names until the run succeeds
  uint32_t input_not_seekable;  // 1 when the input is a pipe, FIFO or other stream
  uint32_t salvage;             // --salvage: a truncated input is carried as far as it goes
  VerifyReport verify_report;   // --verify: what was compared, or the first difference
  TruncatedTrack truncated[kTruncatedShown];
  uint32_t truncated_count;     // tracks found cut, all of them (only the first few are kept)
  uint32_t planned_outputs;     // output files the measuring pass found
  uint32_t fixed_time_set;      // SOURCE_DATE_EPOCH was given: every time field holds fixed_time
  uint64_t fixed_time;          // seconds since 1970
  uint32_t force;               // --force: existing files are replaced
  char* existing_name;          // owned: the output name refused because a file with bytes has it
  char existing_kind[80];       // what that file is ("a Matroska file"); empty when unknown
  char* scanned_directory;      // owned: the directory last searched for stale temporary files
  uint32_t selection_fault;     // SelectionFault: why --tracks or --drop cannot be met
  uint32_t selection_pick;      // with an unknown id: the index of its item in the list
  // Parts the split limit could not hold (no picture to cut at sooner):
  // named in one warning before the outputs are kept.
  OverLimitPart over_limit[kOverLimitShown];
  uint32_t over_limit_count;    // all of them (only the first few are kept)
  uint32_t over_limit_mode;     // SplitMode
  uint64_t over_limit_limit;    // bytes or milliseconds
  // --range: the range of the run under way (its text as given), and why it
  // does not fit the input (RangeFault).
  const char* range_text;
  uint32_t range_fault;
  uint32_t range_keyframe;      // --range-mode keyframe: say where each output starts
  // --join: why a joined input cannot follow the first (JoinFault), which
  // input (1-based) and which track of the first input.
  uint32_t join_fault;
  uint32_t join_input;
  uint32_t join_track;
  const char* const* joined;  // the inputs after the first (not owned)
  uint32_t joined_count;
  const char* first_input;    // the first input, while input_path names the one surveyed
};

// Zeroes the state, keeps the two paths and records the input's identity so
// no output name can overwrite it.
void run_state_init(RunState* state, const char* input_path, const char* output_path, std::FILE* progress_out);
// Frees what the state owns.
void run_state_release(RunState* state);

// Replaces the recorded failure. A path that cannot be copied is left out.
void io_failure_record(IoFailure* failure, const char* operation, const char* path, int error_number);

}  // namespace vantorel::app
