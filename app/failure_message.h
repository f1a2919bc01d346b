#pragma once
// The one line that tells the user why a run failed.
#include <cstdio>

#include "app/run_state.h"
#include "io/error.h"

namespace vantorel::app {

// Prints "Vantorel: <what went wrong>\n" to `out`: a refused output name
// first (the input's, or an existing file's: it is the cause whatever code
// followed); for an I/O failure the operation, file and system reason the
// routines recorded; otherwise the input and the code's meaning. `detail` (may be null) adds where in the
// input the failure was found. Nothing for Ok.
void print_failure_message(std::FILE* out, ErrorCode code, const RunState* state, const ErrorDetail* detail);

// "track 1 (vide) lacks its last 752 of 1500 samples (30.080 s)"
void print_truncated_track(std::FILE* out, const TruncatedTrack* track);

}  // namespace vantorel::app
