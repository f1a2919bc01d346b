#include "app/front_end.h"

#include "app/banner.h"
#include "app/chapter_set.h"
#include "app/failure_message.h"
#include "app/file_info.h"
#include "app/output_checks.h"
#include "app/output_namer.h"
#include "app/part_reports.h"
#include "app/path_split.h"
#include "app/platform.h"
#include "app/progress.h"
#include "app/range_option.h"
#include "app/track_list.h"
#include "remux/remux.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vantorel::app {

namespace {

void report_dropped_track(uint32_t track_id, FourCC handler, FourCC fourcc, uint32_t reason, void* user) {
  auto* state = static_cast<RunState*>(user);
  if (reason == kDropNeedsQuickTime) state->needs_quicktime = 1;
  if (state->warnings == nullptr) return;
  console_printf(state->warnings, "%s: warning: track %u (handler ", kProgramName, track_id);
  print_code(state->warnings, handler);
  console_puts(", format ", state->warnings);
  print_code(state->warnings, fourcc);
  console_printf(state->warnings, ") is left out: %s\n", drop_reason_text(reason));
}

void report_input_note(const char* text, void* user) {
  auto* state = static_cast<RunState*>(user);
  if (state->warnings != nullptr) console_printf(state->warnings, "%s: warning: %s\n", kProgramName, text);
}

uint32_t surveyed(uint32_t kept, void* user) {
  auto* state = static_cast<RunState*>(user);
  state->kept_tracks = kept;
  // An output without tracks helps nobody: stop before writing one.
  if (kept == 0) state->nothing_to_carry = 1;
  return kept != 0 ? 1 : 0;
}

void report_truncated(uint32_t track_id, FourCC handler, uint32_t missing, uint32_t total, uint64_t missing_ms,
                      void* user) {
  auto* state = static_cast<RunState*>(user);
  if (state->truncated_count < kTruncatedShown)
    state->truncated[state->truncated_count] = TruncatedTrack{track_id, handler, missing, total, missing_ms};
  ++state->truncated_count;
  if (!state->salvage || state->warnings == nullptr) return;
  console_printf(state->warnings, "%s: warning: '%s' is truncated: ", kProgramName, state->input_path);
  print_truncated_track(state->warnings, &state->truncated[state->truncated_count <= kTruncatedShown
                                                                ? state->truncated_count - 1
                                                                : kTruncatedShown - 1]);
  console_puts("; writing what it holds (--salvage)\n", state->warnings);
}

// Every output name is known after the measuring pass: none may be the
// input, none a file with bytes (without --force), and temporaries killed
// runs left beside any of them go.
uint32_t check_planned_outputs(uint32_t count, void* user) {
  auto* state = static_cast<RunState*>(user);
  state->planned_outputs = count;
  // Earlier runs of the command (its other ranges) named the first outputs.
  const auto first = static_cast<uint32_t>(state->names.counter);
  for (uint32_t i = first; i - first < count && i < static_cast<uint32_t>(INT32_MAX); ++i) {
    char* name = output_part_name(state->names.output_path, static_cast<int32_t>(i));
    if (name == nullptr) return 0;
    bool refused = names_input(&state->names, name);
    if (refused) name_state_refuse(&state->names, name);
    if (!refused) {
      remove_stale_temporaries_for(state, name);
      refused = refuse_existing_output(state, name) != ErrorCode::Ok;
    }
    std::free(name);
    if (refused) return 0;
  }
  return 1;
}

// Parts above the limit are named together, in one warning at the end.
void report_part_over_limit(uint32_t index, uint32_t split_mode, uint64_t value, uint64_t limit, void* user) {
  record_part_over_limit(static_cast<RunState*>(user), index, split_mode, value, limit);
}

// Where a range was placed: a range cut at the input's end, and with
// --range-mode keyframe where the output really starts.
void report_range_placed(const RangePlacement& placed, void* user) {
  auto* state = static_cast<RunState*>(user);
  if (state->warnings == nullptr) return;
  char at[32], asked[32];
  if (placed.end_clamped) {
    format_range_seconds(placed.end, at, sizeof at);
    console_printf(state->warnings, "%s: warning: range '%s' ends past the end of '%s': cut at its end, %s s\n",
                   kProgramName, state->range_text, state->input_path, at);
  }
  if (state->range_keyframe) {
    format_range_seconds(placed.start, at, sizeof at);
    format_range_seconds(placed.asked_start, asked, sizeof asked);
    if (placed.start < placed.asked_start)
      console_printf(state->warnings, "%s: range '%s' starts at %s s, the key frame before %s s\n", kProgramName,
                     state->range_text, at, asked);
    else
      console_printf(state->warnings, "%s: range '%s' starts at %s s, a key frame\n", kProgramName, state->range_text,
                     at);
  }
}

// Joined inputs whose movie tags differ: the output has the first input's.
void report_joined_metadata(uint32_t input, uint32_t count, void* user) {
  auto* state = static_cast<RunState*>(user);
  if (state->warnings == nullptr || state->joined == nullptr || input < 2 || input - 2 >= state->joined_count) return;
  console_printf(state->warnings, "%s: warning: the movie metadata of '%s'", kProgramName,
                 state->joined[input - 2]);
  if (count > 1) console_printf(state->warnings, " and %u more joined input%s", count - 1, count == 2 ? "" : "s");
  console_printf(state->warnings, " differs from that of '%s', which the output keeps\n", state->input_path);
}

// Why a joined input cannot follow the first, naming it and the track.
void print_join_mismatch(std::FILE* err, const CommandLine* args, const RunState& state) {
  static const char* const kWhy[] = {"",
                                      "has no counterpart: the inputs hold different numbers of tracks",
                                      "is of another kind",
                                      "has another codec",
                                      "is rotated or mirrored another way",
                                      "counts time in other units",
                                      ("has another codec configuration, which only sample descriptions read from "
                                       "MP4 or QuickTime inputs keep apart"),
                                      "starts its pictures too far into its media to follow on"};
  const uint32_t fault = state.join_fault < 8 ? state.join_fault : 6;
  const char* input = state.join_input >= 2 && state.join_input - 2 < args->joined_count
                          ? args->joined[state.join_input - 2]
                          : "";
  console_printf(err, "%s: cannot join '%s' after '%s': track %u %s; nothing was written\n", kProgramName, input,
                 args->input_path, state.join_track, kWhy[fault]);
}

// A pipe, FIFO, socket or character device: the remux reads its input twice
// and seeks in it, which only a file allows.
bool is_stream(const char* path) { return is_stream_path(path); }

// Parts of an earlier, longer split beside the new ones: named, never deleted.
void warn_stale_parts(const CommandLine* args, RunState* state) {
  if (state->warnings == nullptr || state->names.counter <= 0) return;
  for (int32_t k = state->names.counter; k < INT32_MAX; ++k) {
    char* name = output_part_name(args->output_path, k);
    if (name == nullptr) return;
    bool present = path_present(name);
    if (present)
      console_printf(state->warnings,
                   "%s: warning: '%s' is left from an earlier run (this one wrote %d part%s); it was not deleted\n",
                   kProgramName, name, static_cast<int>(state->names.counter), state->names.counter == 1 ? "" : "s");
    std::free(name);
    if (!present) return;
  }
}

// Whether the output goes where `out` goes: standard output ("-"), or a
// name for the same file (/dev/stdout). The console text then keeps out of it.
bool output_is_console_out(const char* output_path, std::FILE* out) {
  if (output_path == nullptr) return false;
  if (is_standard_output_name(output_path)) return true;
  return names_stream_file(output_path, out);
}

bool ends_with(const char* name, const char* suffix) {
  size_t n = std::strlen(name), m = std::strlen(suffix);
  if (n < m) return false;
  for (size_t i = 0; i < m; ++i)
    if (std::tolower(static_cast<unsigned char>(name[n - m + i])) != suffix[i]) return false;
  return true;
}

}  // namespace

bool parse_source_date_epoch(const char* text, uint64_t* out) {
  if (text == nullptr || out == nullptr || *text == '\0') return false;
  uint64_t value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    uint64_t digit = static_cast<uint64_t>(*p - '0');
    // Box times count from 1904 in 64 bits: leave room for the shift.
    if (value > (UINT64_MAX / 4 - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *out = value;
  return true;
}

uint32_t output_form_of(const char* output_path) {
  if (output_path == nullptr) return kOutputMp4;
  if (ends_with(output_path, ".mov") || ends_with(output_path, ".qt")) return kOutputQuickTime;
  if (ends_with(output_path, ".m4a") || ends_with(output_path, ".m4b")) return kOutputAudioMp4;
  return kOutputMp4;
}

ErrorCode run_remux(const CommandLine* args, const IoRoutines* routines, RunState* state, uint32_t* out_written) {
  if (args == nullptr || routines == nullptr || state == nullptr || out_written == nullptr)
    return ErrorCode::BadArgument;
  *out_written = 0;
  if (is_stream(args->input_path)) {
    state->input_not_seekable = 1;
    return ErrorCode::Unsupported;
  }
  for (uint32_t i = 0; i < args->joined_count; ++i) {
    if (!is_stream(args->joined[i])) continue;
    state->input_path = args->joined[i];
    state->input_not_seekable = 1;
    return ErrorCode::Unsupported;
  }
  state->names.joined = args->joined;
  state->names.joined_count = args->joined_count;
  state->joined = args->joined;
  state->joined_count = args->joined_count;
  state->first_input = args->input_path;
  // The namer refuses this too, but only after a whole measuring pass; the
  // other parts of a split are checked once the pass has named them.
  if (names_input(&state->names, args->output_path)) {
    name_state_refuse(&state->names, args->output_path);
    return ErrorCode::NoName;
  }
  state->force = args->force;
  remove_stale_temporaries_for(state, args->output_path);
  VT_TRY(refuse_existing_output(state, args->output_path));
  TrackList tracks{};
  char error[kCommandErrorCapacity];
  if (args->track_list != nullptr && !parse_track_list(args->track_list, "--tracks", &tracks, error))
    return ErrorCode::BadArgument;  // checked with the command line
  RemuxOptions options{};
  options.tracks.drop = args->track_list_drop != 0;
  options.tracks.picks = tracks.picks;
  options.tracks.pick_count = tracks.count;
  warn_audio_name_with_video(state, args->input_path, args->output_path, routines, &options.tracks);
  state->salvage = args->salvage;
  uint64_t limit = args->split_limit;
  options.split.mode = static_cast<SplitMode>(args->split_mode);
  options.split.limits = &limit;
  options.split.limit_count = args->split_mode != kSplitNone ? 1 : 0;
  options.output_form = static_cast<OutputForm>(output_form_of(args->output_path));
  options.salvage = args->salvage != 0;
  options.verify = args->verify != 0;
  options.program_number = args->program_number;
  options.fixed_time_set = state->fixed_time_set != 0;
  options.fixed_time = state->fixed_time;
  const void* joined[kMaxJoined];
  for (uint32_t i = 0; i < args->joined_count && i < kMaxJoined; ++i) joined[i] = args->joined[i];
  options.joined = joined;
  options.joined_count = args->joined_count;
  // --join-chapters: each input's chapter is named after its file, without
  // directory or extension.
  std::string titles[kMaxJoined + 1];
  const char* title_of[kMaxJoined + 1];
  for (uint32_t i = 0; args->join_chapters && i <= args->joined_count && i <= kMaxJoined; ++i) {
    const char* path = i == 0 ? args->input_path : args->joined[i - 1];
    const PathParts parts = path_split(path);
    titles[i].assign(path + parts.stem_start, parts.extension_start - parts.stem_start);
    title_of[i] = titles[i].c_str();
  }
  if (args->join_chapters) options.join_titles = title_of;
  RemuxEvents events{};
  events.progress = progress_report;
  events.track_dropped = report_dropped_track;
  events.input_note = report_input_note;
  events.surveyed = surveyed;
  events.pass_started = [](Pass pass, void* user) { progress_pass_started(pass == Pass::Write ? 1 : 0, user); };
  events.truncated = report_truncated;
  events.outputs_planned = check_planned_outputs;
  events.part_over_limit = report_part_over_limit;
  events.range_placed = report_range_placed;
  events.joined_metadata_differs = report_joined_metadata;
  events.input_surveyed = [](uint32_t input, void* user) {
    auto* state = static_cast<RunState*>(user);
    // The warnings about an input's survey name that input.
    if (input == 1) state->input_path = state->first_input;
    else if (input >= 2 && input - 2 < state->joined_count) state->input_path = state->joined[input - 2];
  };
  state->range_keyframe = args->range_keyframe;
  // One run a range, each naming the next output; without ranges one run.
  ErrorCode e = ErrorCode::Ok;
  VerifyReport verified{};
  for (uint32_t i = 0; e == ErrorCode::Ok && !state->nothing_to_carry && (i == 0 || i < args->range_count); ++i) {
    if (args->range_count > 0) {
      const RangeValue& range = args->ranges[i];
      options.range.set = true;
      options.range.unit = range.unit == kRangeValueFrames ? kRangeFrames : kRangeNanoseconds;
      options.range.start = range.start;
      options.range.end = range.end;
      options.range.keyframe = args->range_keyframe != 0;
      state->range_text = range.text;
    }
    RemuxResult result{};
    // The run numbers its outputs from 0; earlier ranges named the first ones.
    const auto first_output = static_cast<uint32_t>(state->names.counter);
    e = remux_run(args->input_path, output_namer, routines, &options, &events, state, &result);
    state->detail = result.input_failure;
    state->verify_report = result.verify;
    state->verify_report.part += first_output;
    state->selection_fault = result.selection_fault;
    state->selection_pick = result.selection_pick;
    state->range_fault = result.range_fault;
    state->join_fault = result.join_fault;
    state->join_input = result.join_input;
    state->join_track = result.join_track;
    // A joined input that failed is the one the message names.
    if (result.failed_input >= 2 && result.failed_input - 2 < args->joined_count)
      state->input_path = args->joined[result.failed_input - 2];
    verified.tracks += result.verify.tracks;
    verified.samples += result.verify.samples;
  }
  if (e == ErrorCode::Ok) {
    state->verify_report.tracks = verified.tracks;
    state->verify_report.samples = verified.samples;
  }
  if (e != ErrorCode::Ok || state->nothing_to_carry) output_set_abort(&state->outputs);
  if (e == ErrorCode::Ok && !state->nothing_to_carry) *out_written = 1;
  return e;
}

int run_info(const CommandLine* args, const IoRoutines* routines, std::FILE* out, std::FILE* err) {
  if (args == nullptr || routines == nullptr || args->input_path == nullptr) return kExitBadOptions;
  RunState state;
  run_state_init(&state, args->input_path, nullptr, nullptr);
  if (is_stream(args->input_path)) {
    state.input_not_seekable = 1;
    print_failure_message(err, ErrorCode::Unsupported, &state, nullptr);
    run_state_release(&state);
    return kExitFailure;
  }
  FileDescription description;
  ErrorCode e = describe_file(args->input_path, args->input_path, routines, &state, &state.detail, &description,
                              args->program_number);
  int status = kExitSuccess;
  if (e != ErrorCode::Ok) {
    print_failure_message(err, e, &state, &state.detail);
    status = kExitFailure;
  } else {
    if (args->json) {
      print_description_json(out, &description);
    } else {
      print_description_text(out, &description);
    }
    std::fflush(out);
  }
  file_description_release(&description);
  run_state_release(&state);
  return status;
}

namespace {

// Flushes `stream`: false when that or an earlier write to it failed, with
// the system's reason in *error_number (0 when it is not known).
bool stream_delivered(std::FILE* stream, int* error_number) {
  errno = 0;
  bool failed = std::fflush(stream) != 0;
  *error_number = failed ? errno : 0;
  return !failed && std::ferror(stream) == 0;
}

const char* write_reason(int error_number) { return error_number != 0 ? std::strerror(error_number) : "write error"; }

// The end of a run whose outputs are complete under their temporary names:
// the reports that can still fail come first, then the outputs take their
// names, then the closing line, whose loss no longer changes the outcome.
int finish_written_run(const CommandLine* args, RunState* state, std::FILE* console, std::FILE* err) {
  // A reader gone from a pipe makes a write fail, not end the program
  // with the outputs half done.
  broken_pipe_fails_writes();
  if (args->split_mode != kSplitNone || args->range_count > 1) warn_stale_parts(args, state);
  print_over_limit_warning(state->warnings, state);
  if (args->verify && !args->quiet)
    console_printf(console, "verified: %u track%s, %llu samples\n", state->verify_report.tracks,
                   state->verify_report.tracks == 1 ? "" : "s",
                   static_cast<unsigned long long>(state->verify_report.samples));
  int console_errno = 0, err_errno = 0;
  bool console_ok = stream_delivered(console, &console_errno);
  bool err_ok = stream_delivered(err, &err_errno);
  if (!console_ok || !err_ok) {
    output_set_abort(&state->outputs);
    if (!console_ok && console != err)
      console_printf(err, "%s: cannot write to standard output: %s; nothing was written\n", kProgramName,
                     write_reason(console_errno));
    return kExitFailure;
  }
  if (state->outputs.atomic) {
    ErrorCode e = output_set_commit(&state->outputs, &state->failure);
    if (e != ErrorCode::Ok) {
      print_failure_message(err, e, state, &state->detail);
      return kExitFailure;
    }
  }
  // The outputs are in place: an interrupt now is an ordinary one, not
  // "no output written".
  cleanup_signals_restore();
  if (args->quiet) return kExitSuccess;
  if (!print_done(console, &console_errno)) {
    console_printf(err, "%s: warning: cannot write the closing line (%s); the outputs are complete\n", kProgramName,
                   write_reason(console_errno));
    std::fflush(err);
  }
  return kExitSuccess;
}

// `*settled` is set once the outputs are in place: what happens to the
// console after that no longer changes the exit status.
int run_remux_command(const CommandLine* args, std::FILE* out, std::FILE* err, bool* settled) {
  uint64_t fixed_time = 0;
  uint32_t fixed_time_set = 0;
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch != nullptr) {
    // A malformed value must not quietly give output that is not reproducible.
    if (!parse_source_date_epoch(epoch, &fixed_time)) {
      console_printf(err, "%s: SOURCE_DATE_EPOCH '%s' is not a number of seconds since 1970\n", kProgramName, epoch);
      return kExitBadOptions;
    }
    fixed_time_set = 1;
  }
  // With the media going to standard output, every line goes to the errors.
  std::FILE* console = output_is_console_out(args->output_path, out) ? err : out;
  RunState state;
  run_state_init(&state, args->input_path, args->output_path, progress_stream(console, err, args->quiet != 0));
  state.fixed_time_set = fixed_time_set;
  state.fixed_time = fixed_time;
  IoRoutines routines = platform_routines();
  state.warnings = err;
  // Standard output sent to the input file would grow it while it is read.
  if (is_standard_output_name(args->output_path) && names_stream_file(args->input_path, out)) {
    console_printf(err, "%s: refusing to write '%s': standard output is the input file '%s'\n", kProgramName,
                   args->output_path, args->input_path);
    run_state_release(&state);
    return kExitFailure;
  }
  // Outputs are written under temporary names and renamed at the end; a
  // signal removes them.
  state.outputs.atomic = 1;
  cleanup_signals_install(&state.outputs, kProgramName);
  uint32_t written = 0;
  ErrorCode result = run_remux(args, &routines, &state, &written);
  progress_clear(&state.progress);
  int status = kExitSuccess;
  if (result == ErrorCode::Differs) {
    const VerifyReport& r = state.verify_report;
    char* part = output_part_name(args->output_path, static_cast<int32_t>(r.part));
    console_printf(err, "%s: verification failed: '%s'", kProgramName, part != nullptr ? part : args->output_path);
    std::free(part);
    if (r.track_id != 0) console_printf(err, ", track %u", r.track_id);
    if (r.sample != 0) console_printf(err, ", sample %u", r.sample);
    console_printf(err, ": %s differs from the input; nothing was written\n", r.field != nullptr ? r.field : "content");
    status = kExitFailure;
  } else if (result == ErrorCode::BadArgument && state.range_fault != kRangeMet) {
    // The range does not fit the input: a mistake on the command line.
    static const char* const kWhy[] = {"", "starts at or past the end of", "counts frames, and there is no video in",
                                       "holds no time of"};
    const uint32_t fault = state.range_fault < 4 ? state.range_fault : 3;
    console_printf(err, "%s: bad range '%s' for --range: it %s '%s'; nothing was written\n", kProgramName,
                   state.range_text != nullptr ? state.range_text : "", kWhy[fault], args->input_path);
    print_usage(err);
    status = kExitBadOptions;
  } else if (result == ErrorCode::Unsupported && state.join_fault != kJoinMet) {
    print_join_mismatch(err, args, state);
    status = kExitFailure;
  } else if (result == ErrorCode::BadArgument && state.selection_fault != kSelectionMet) {
    // The list does not fit the input: a mistake on the command line.
    print_selection_fault(err, &state, args->track_list_drop ? "--drop" : "--tracks", args->track_list);
    print_usage(err);
    status = kExitBadOptions;
  } else if (result != ErrorCode::Ok) {
    print_failure_message(err, result, &state, &state.detail);
    status = kExitFailure;
  } else if (state.nothing_to_carry && state.needs_quicktime) {
    console_printf(err,
                 "%s: '%s' has no track an MP4 file can hold; its tracks need a QuickTime movie: name the output "
                 ".mov to keep them; nothing was written\n",
                 kProgramName, args->input_path);
    status = kExitFailure;
  } else if (state.nothing_to_carry) {
    console_printf(err, "%s: '%s' has no track that can be carried into an MP4 file; nothing was written\n",
                 kProgramName, args->input_path);
    status = kExitFailure;
  } else if (written) {
    status = finish_written_run(args, &state, console, err);
    *settled = status == kExitSuccess;
  }
  // Not before: an interrupt while the reports are written still removes
  // the temporary files.
  cleanup_signals_restore();
  run_state_release(&state);
  return status;
}

// Whatever was printed must have reached the console: a failed write or
// flush of either stream is a failure of the run -- unless the run's
// outputs are already in place (`settled`), which nothing undoes.
int check_console(int status, std::FILE* out, std::FILE* err, bool settled) {
  if (settled) {
    std::fflush(out);
    std::fflush(err);
    return status;
  }
  int out_errno = 0;
  bool out_ok = stream_delivered(out, &out_errno);
  if (!out_ok) {
    console_printf(err, "%s: cannot write to standard output: %s\n", kProgramName, write_reason(out_errno));
    if (status == kExitSuccess) status = kExitFailure;
  }
  int err_errno = 0;
  if (!stream_delivered(err, &err_errno) && status == kExitSuccess) status = kExitFailure;
  return status;
}

// --join with one camera chapter file: the chapters after it, beside it,
// become the joined inputs (names kept in `found`), and the run says which.
bool find_chapter_set(CommandLine* args, std::string (&found)[kMaxJoined], std::FILE* out, std::FILE* err) {
  ChapterName name{};
  if (!camera_chapter_name(args->input_path, &name)) return false;
  for (uint32_t chapter = name.chapter + 1; chapter <= 99 && args->joined_count < kMaxJoined; ++chapter) {
    std::string next = camera_chapter_path(args->input_path, name, chapter);
    if (path_kind(next.c_str()) != PathKind::Regular) break;
    found[args->joined_count] = std::move(next);
    args->joined[args->joined_count] = found[args->joined_count].c_str();
    ++args->joined_count;
  }
  if (args->joined_count == 0) {
    console_printf(err, "%s: found no chapter after '%s' to join (%s); nothing was written\n", kProgramName,
                   args->input_path, camera_chapter_path(args->input_path, name, name.chapter + 1).c_str());
    return false;
  }
  std::FILE* console = output_is_console_out(args->output_path, out) ? err : out;
  if (!args->quiet) {
    console_printf(console, "%s: joining '%s' with the %u chapter%s after it:", kProgramName, args->input_path,
                   args->joined_count, args->joined_count == 1 ? "" : "s");
    for (uint32_t i = 0; i < args->joined_count; ++i) console_printf(console, " '%s'", args->joined[i]);
    console_putc('\n', console);
  }
  return true;
}

int dispatch(int argc, const char* const* argv, std::FILE* out, std::FILE* err, bool* settled) {
  CommandLine args;
  char error[kCommandErrorCapacity];
  if (!parse_command_line(argc, argv, &args, error)) {
    console_printf(err, "%s: %s\n", kProgramName, error);
    // A name forgotten or one too many: the banner and usage, as for no
    // arguments, but as a mistake.
    if (args.wrong_name_count) {
      print_help(err);
    } else {
      print_usage(err);
    }
    return kExitBadOptions;
  }
  // An output name of another kind is a mistake -- but a file with bytes
  // under that name (`vantorel *.mkv`) is refused as existing first, so no
  // message suggests the --force that would replace it.
  if (args.action == kActionRemux && !args.force && !output_name_accepted(args.output_path) &&
      path_kind(args.output_path) != PathKind::Regular) {
    format_output_name_mistake(args.output_path, error);
    console_printf(err, "%s: %s\n", kProgramName, error);
    print_usage(err);
    return kExitBadOptions;
  }
  switch (args.action) {
    case kActionRemux: {
      if (!args.join || args.joined_count > 0) return run_remux_command(&args, out, err, settled);
      std::string found[kMaxJoined];
      if (!find_chapter_set(&args, found, out, err)) return kExitFailure;
      return run_remux_command(&args, out, err, settled);
    }
    case kActionInfo: {
      IoRoutines routines = platform_routines();
      return run_info(&args, &routines, out, err);
    }
    case kActionHelp: print_help(out); return kExitSuccess;
    case kActionVersion: print_version(out); return kExitSuccess;
    default: print_banner_and_usage(out); return kExitSuccess;
  }
}

}  // namespace

int app_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  if (argc > 0 && argv != nullptr) banner_set_invoked_name(argv[0]);
  bool settled = false;
  int status = dispatch(argc, argv, out, err, &settled);
  return check_console(status, out, err, settled);
}

}  // namespace vantorel::app
