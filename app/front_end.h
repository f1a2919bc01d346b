#pragma once
// The command line: what main does, kept here so tests can drive it.
#include <cstdint>
#include <cstdio>

#include "app/command_line.h"
#include "app/run_state.h"
#include "io/error.h"
#include "io/io_routines.h"

namespace vantorel::app {

// Exit statuses. The banner shown for a wrong argument count is not a
// failure; a failed run is.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitBadOptions = 2;

// The OutputForm an output name asks for: .mov and .qt (any case) a
// QuickTime movie, .m4a and .m4b an audio MP4, anything else an MP4.
uint32_t output_form_of(const char* output_path);

// SOURCE_DATE_EPOCH: decimal seconds since 1970, digits only. False for
// anything else (empty, signs, blanks, values far beyond any date).
bool parse_source_date_epoch(const char* text, uint64_t* out);

// Runs the job for `args` (its paths and split limit) with the platform
// routines and the run state as the engine's user value. Sets *out_written
// to 1 once output files were written: with atomic outputs they are then
// complete under their temporary names, which output_set_commit gives them
// their own (after the caller's last reports); on a failure they are
// removed. Refused before anything is opened: an output path that names the
// input (NoName, the refusal recorded in the state) and, without --force, an
// output name held by a file with bytes (Exists, recorded likewise).
ErrorCode run_remux(const CommandLine* args, const IoRoutines* routines, RunState* state, uint32_t* out_written);

// --info: describes `args->input_path` on `out` (as text, or JSON with
// args->json); an open failure goes to `err`. Returns the exit status.
int run_info(const CommandLine* args, const IoRoutines* routines, std::FILE* out, std::FILE* err);

// The whole program: arguments as main got them, console streams given.
// Returns the exit status.
int app_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace vantorel::app
