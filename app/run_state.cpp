#include "app/run_state.h"

#include <cstdlib>
#include <cstring>

#include "app/output_namer.h"

namespace vantorel::app {

void run_state_init(RunState* state, const char* input_path, const char* output_path, std::FILE* progress_out) {
  *state = RunState{};
  state->input_path = input_path;
  name_state_init(&state->names, input_path, output_path);
  state->progress.out = progress_out;
  state->progress.interval_ms = kProgressIntervalMs;
}

void run_state_release(RunState* state) {
  if (state == nullptr) return;
  std::free(state->failure.path);
  state->failure.path = nullptr;
  name_state_release(&state->names);
  std::free(state->existing_name);
  state->existing_name = nullptr;
  std::free(state->scanned_directory);
  state->scanned_directory = nullptr;
  output_set_abort(&state->outputs);
  output_set_release(&state->outputs);
}

void io_failure_record(IoFailure* failure, const char* operation, const char* path, int error_number) {
  if (failure == nullptr) return;
  std::free(failure->path);
  failure->path = path != nullptr ? strdup(path) : nullptr;
  failure->set = 1;
  failure->operation = operation;
  failure->error_number = error_number;
}

}  // namespace vantorel::app
