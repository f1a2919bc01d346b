#pragma once
// Console progress: one line, overwritten in place, in tenths of a per cent,
// labelled with what the current pass does.
#include <cstdint>
#include <cstdio>

#include "app/run_state.h"

namespace vantorel::app {

// Prints "47.3 % \r" for 473 to `out` ("writing 47.3 % \r" with a label),
// unless `permille` is the value printed last in this pass, or the line was
// painted less than the state's interval ago (but for a pass's first
// value); the carriage return lets the next value overwrite it.
void progress_print(std::FILE* out, uint32_t permille, ProgressState* progress);

// A pass begins (0 measuring, 1 writing): its label is set and its first
// value is printed even when it equals the last one of the previous pass.
void progress_begin_pass(ProgressState* progress, uint32_t pass);

// Blanks the progress line, if one was printed, and returns to its start,
// so the next text starts on a clean line.
void progress_clear(ProgressState* progress);

// The engine's ProgressCallback; `user` is the RunState. Prints to the
// state's stream (nothing when it has none) and returns 1: go on.
uint32_t progress_report(uint32_t permille, void* user);

// The engine's pass_started event; `user` is the RunState.
void progress_pass_started(uint32_t pass, void* user);

// Where progress goes: the output stream when it is a terminal, else the
// error stream when that is one, else nowhere (null); nowhere when quiet.
std::FILE* progress_stream(std::FILE* out, std::FILE* err, bool quiet);

// The closing line of a successful run (the progress line, if any, was
// cleared before it). False when it could not be written, with the
// system's reason in *error_number (0 when not known; may be null).
bool print_done(std::FILE* out, int* error_number = nullptr);

}  // namespace vantorel::app
