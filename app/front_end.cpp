#include "app/front_end.h"

#include "app/banner.h"
#include "app/failure_message.h"
#include "app/output_namer.h"
#include "app/posix_routines.h"
#include "app/progress.h"

namespace vantorel::app {

ErrorCode run_remux(const CommandLine* args, const IoRoutines* routines, RunState* state, uint32_t* out_written) {
  if (args == nullptr || routines == nullptr || state == nullptr || out_written == nullptr)
    return ErrorCode::BadArgument;
  *out_written = 0;
  // The namer refuses this too, but only after a whole measuring pass.
  if (names_input(&state->names, args->output_path)) {
    name_state_refuse(&state->names, args->output_path);
    return ErrorCode::NoName;
  }
  // Until the engine is wired in, a run checks that the input can be read.
  // The engine call replaces this block: remux_run(args->input_path,
  // output_namer, progress_report, kSplitNone, &limit, 0, 0, 1, routines,
  // state), and *out_written = 1 when it returns Ok.
  void* input = nullptr;
  VT_TRY(routines->open(args->input_path, &input, kOpenRead, state));
  return routines->close(input, state);
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
  uint32_t written = 0;
  ErrorCode result = run_remux(&args, &routines, &state, &written);
  int status = kExitSuccess;
  if (result != ErrorCode::Ok) {
    print_failure_message(err, result, &state, &state.detail);
    status = kExitFailure;
  } else if (written) {
    print_done(out);
  }
  run_state_release(&state);
  return status;
}

}  // namespace vantorel::app
