#pragma once
// All or nothing: every output that is a regular file with bytes (or a new
// name) is written to a temporary file in the directory of the file it will
// replace, and renamed over its name only when the whole run has succeeded;
// a split renames all its parts at the end, in order. Devices, FIFOs,
// standard output and empty files are written in place; an empty file is
// emptied again when the run fails. On a failure, and on SIGINT, SIGTERM
// and SIGHUP (on Windows a console control event: Ctrl+C, Ctrl+Break,
// closing), the temporary files are removed, so existing files stay exactly
// as they were.
#include <cstdint>

#include "io/error.h"

namespace vantorel::app {

struct IoFailure;

struct OutputEntry {
  char* final_name;  // the name the user sees (a symbolic link is kept as such)
  char* target;      // the file it names: symbolic links followed
  char* write_name;  // the temporary file, or the target itself when in place
  uint32_t in_place;  // 1: a device, FIFO, standard output or empty file, written where it is
  uint32_t empty_on_failure;  // 1: an empty file written in place, emptied again if the run fails
};

struct OutputSet {
  OutputEntry* items;
  uint32_t count;
  uint32_t capacity;
  uint32_t atomic;  // 1: outputs go through temporary files (the program); 0: written as named
};

// Adds output `final_name` and creates its temporary file (empty, with the
// mode a new file gets), registered for removal on a signal. Io (recorded
// in `failure` with the final name) when it cannot be created.
ErrorCode output_set_add(OutputSet* set, const char* final_name, IoFailure* failure);

// Renames every temporary file over its target, in order. On a failure the
// rest are removed; Io recorded in `failure`.
ErrorCode output_set_commit(OutputSet* set, IoFailure* failure);

// Removes every temporary file not yet renamed and empties again the empty
// files written in place.
void output_set_abort(OutputSet* set);

// Frees the names; the set must be committed or aborted first.
void output_set_release(OutputSet* set);

// While installed, SIGINT, SIGTERM and SIGHUP remove the temporary files of
// the registered set, print what happened on standard error and re-raise
// the signal with its default action, so the exit status is the one shells
// expect (130 for SIGINT). On Windows a console control event does the same
// and ends the program with STATUS_CONTROL_C_EXIT.
void cleanup_signals_install(OutputSet* set, const char* program_name);
void cleanup_signals_restore();

}  // namespace vantorel::app
