#include "app/front_end.h"

#include "app/banner.h"
#include "app/failure_message.h"
#include "app/file_info.h"
#include "app/output_namer.h"
#include "app/posix_routines.h"
#include "app/progress.h"
#include "remux/remux.h"

#include <cctype>
#include <cstring>
#include <string>

namespace vantorel::app {

namespace {

void report_dropped_track(uint32_t track_id, FourCC handler, FourCC fourcc, uint32_t reason, void* user) {
  auto* state = static_cast<RunState*>(user);
  if (reason == kDropNeedsQuickTime) state->needs_quicktime = 1;
  if (state->warnings == nullptr) return;
  std::fprintf(state->warnings, "%s: warning: track %u (handler ", kProgramName, track_id);
  print_code(state->warnings, handler);
  std::fputs(", format ", state->warnings);
  print_code(state->warnings, fourcc);
  std::fprintf(state->warnings, ") is left out: %s\n", drop_reason_text(reason));
}

uint32_t surveyed(uint32_t kept, void* user) {
  auto* state = static_cast<RunState*>(user);
  state->kept_tracks = kept;
  // An output without tracks helps nobody: stop before writing one.
  if (kept == 0) state->nothing_to_carry = 1;
  return kept != 0 ? 1 : 0;
}

bool ends_with(const char* name, const char* suffix) {
  size_t n = std::strlen(name), m = std::strlen(suffix);
  if (n < m) return false;
  for (size_t i = 0; i < m; ++i)
    if (std::tolower(static_cast<unsigned char>(name[n - m + i])) != suffix[i]) return false;
  return true;
}

}  // namespace

uint32_t output_form_of(const char* output_path) {
  if (output_path == nullptr) return kOutputMp4;
  if (ends_with(output_path, ".mov")) return kOutputQuickTime;
  if (ends_with(output_path, ".m4a")) return kOutputAudioMp4;
  return kOutputMp4;
}

ErrorCode run_remux(const CommandLine* args, const IoRoutines* routines, RunState* state, uint32_t* out_written) {
  if (args == nullptr || routines == nullptr || state == nullptr || out_written == nullptr)
    return ErrorCode::BadArgument;
  *out_written = 0;
  // The namer refuses this too, but only after a whole measuring pass.
  if (names_input(&state->names, args->output_path)) {
    name_state_refuse(&state->names, args->output_path);
    return ErrorCode::NoName;
  }
  RemuxEvents events{};
  events.track_dropped = report_dropped_track;
  events.surveyed = surveyed;
  events.pass_started = progress_pass_started;
  events.input_failure = &state->detail;
  events.output_form = output_form_of(args->output_path);
  uint64_t limit = args->split_limit;
  uint32_t limit_count = args->split_mode != kSplitNone ? 1 : 0;
  ErrorCode e = remux_run_with_events(args->input_path, output_namer, progress_report, args->split_mode, &limit,
                                      limit_count, 0, 1, routines, state, &events);
  if (e == ErrorCode::Ok && !state->nothing_to_carry) *out_written = 1;
  return e;
}

int run_info(const CommandLine* args, const IoRoutines* routines, std::FILE* out, std::FILE* err) {
  if (args == nullptr || routines == nullptr || args->input_path == nullptr) return kExitBadOptions;
  RunState state;
  run_state_init(&state, args->input_path, nullptr, nullptr);
  FileDescription description;
  ErrorCode e = describe_file(args->input_path, args->input_path, routines, &state, &state.detail, &description);
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

int run_remux_command(const CommandLine* args, std::FILE* out, std::FILE* err) {
  RunState state;
  run_state_init(&state, args->input_path, args->output_path, progress_stream(out, err, args->quiet != 0));
  IoRoutines routines = posix_routines();
  state.warnings = err;
  uint32_t written = 0;
  ErrorCode result = run_remux(args, &routines, &state, &written);
  progress_clear(&state.progress);
  int status = kExitSuccess;
  if (result != ErrorCode::Ok) {
    print_failure_message(err, result, &state, &state.detail);
    status = kExitFailure;
  } else if (state.nothing_to_carry && state.needs_quicktime) {
    std::fprintf(err,
                 "%s: '%s' has no track an MP4 file can hold; its tracks need a QuickTime movie: name the output "
                 ".mov to keep them; nothing was written\n",
                 kProgramName, args->input_path);
    status = kExitFailure;
  } else if (state.nothing_to_carry) {
    std::fprintf(err, "%s: '%s' has no track that can be carried into an MP4 file; nothing was written\n",
                 kProgramName, args->input_path);
    status = kExitFailure;
  } else if (written) {
    print_done(out);
  }
  run_state_release(&state);
  return status;
}

}  // namespace

int app_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  CommandLine args;
  char error[kCommandErrorCapacity];
  if (!parse_command_line(argc, argv, &args, error)) {
    std::fprintf(err, "%s: %s\n", kProgramName, error);
    print_usage(err);
    return kExitBadOptions;
  }
  switch (args.action) {
    case kActionRemux: return run_remux_command(&args, out, err);
    case kActionInfo: {
      IoRoutines routines = posix_routines();
      return run_info(&args, &routines, out, err);
    }
    case kActionHelp: print_help(out); return kExitSuccess;
    case kActionVersion: print_version(out); return kExitSuccess;
    default: print_banner_and_usage(out); return kExitSuccess;
  }
}

}  // namespace vantorel::app
