#pragma once
// Console progress: one line, overwritten in place, in tenths of a per cent.
#include <cstdint>
#include <cstdio>

#include "app/run_state.h"

namespace vantorel::app {

// Prints "47.3 % \r" for 473 to `out`, unless `permille` is the value
// printed last; the carriage return lets the next value overwrite it.
void progress_print(std::FILE* out, uint32_t permille, ProgressState* progress);

// The engine's ProgressCallback; `user` is the RunState. Prints to the
// state's stream (nothing when it has none) and returns 1: go on.
uint32_t progress_report(uint32_t permille, void* user);

// The closing line of a successful run; its blanks cover the last figure.
void print_done(std::FILE* out);

}  // namespace vantorel::app
