#include "app/front_end.h"

#include "app/banner.h"
#include "app/failure_message.h"
#include "app/output_namer.h"
#include "app/posix_routines.h"
#include "app/progress.h"
#include "remux/remux.h"

#include <string>

namespace vantorel::app {

namespace {

std::string printable(FourCC f) {
  if (f.is_zero()) return "none";
  return fourcc_text(f).text;
}

void report_dropped_track(uint32_t track_id, FourCC handler, FourCC fourcc, uint32_t reason, void* user) {
  auto* state = static_cast<RunState*>(user);
  if (state->warnings == nullptr) return;
  std::fprintf(state->warnings, "%s: warning: track %u (handler %s, format %s) is left out: %s\n", kProgramName,
               track_id, printable(handler).c_str(), printable(fourcc).c_str(), drop_reason_text(reason));
}

uint32_t surveyed(uint32_t kept, void* user) {
  auto* state = static_cast<RunState*>(user);
  state->kept_tracks = kept;
  // An output without tracks helps nobody: stop before writing one.
  if (kept == 0) state->nothing_to_carry = 1;
  return kept != 0 ? 1 : 0;
}

}  // namespace

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
  events.input_failure = &state->detail;
  uint64_t no_limit = 0;
  ErrorCode e = remux_run_with_events(args->input_path, output_namer, progress_report, kSplitNone, &no_limit, 0, 0, 1,
                                      routines, state, &events);
  if (e == ErrorCode::Ok && !state->nothing_to_carry) *out_written = 1;
  return e;
}

int app_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  if (argc != 3) {
    print_banner_and_usage(out);
    return kExitSuccess;
  }
  CommandLine args{argv[1], argv[2]};
  RunState state;
  run_state_init(&state, args.input_path, args.output_path, out);
  IoRoutines routines = posix_routines();
  state.warnings = err;
  uint32_t written = 0;
  ErrorCode result = run_remux(&args, &routines, &state, &written);
  int status = kExitSuccess;
  if (result != ErrorCode::Ok) {
    print_failure_message(err, result, &state, &state.detail);
    status = kExitFailure;
  } else if (state.nothing_to_carry) {
    std::fprintf(err, "%s: '%s' has no track that can be carried into an MP4 file; nothing was written\n",
                 kProgramName, args.input_path);
    status = kExitFailure;
  } else if (written) {
    print_done(out);
  }
  run_state_release(&state);
  return status;
}

}  // namespace vantorel::app
