#pragma once
// What is checked about the output names before anything is written: a file
// with bytes under an output's name is not replaced without --force, the
// temporary files killed runs left beside the outputs are removed, and an
// audio name for an output that will hold video is pointed out.
#include <cstddef>
#include <cstdio>

#include "app/run_state.h"
#include "io/error.h"
#include "io/io_routines.h"

namespace vantorel::app {

// What the file `path` is, as a phrase ("a Matroska file", "an MP4 file",
// "a PNG image"), from the library's reading of it; empty when it cannot be told.
void describe_existing_file(const char* path, const IoRoutines* routines, char* out, size_t capacity);

// Exists when `name` is a regular file with bytes (symbolic links followed)
// and the run has no --force: the name and what the file is are recorded in
// the state for the message. Ok for new names, empty files, devices, FIFOs
// and standard output.
ErrorCode refuse_existing_output(RunState* state, const char* name);

// Removes the stale temporary files (temporary_files.h) in the directory of
// the file `name` will replace, saying so on the state's warnings stream.
// A directory just searched is not searched again.
void remove_stale_temporaries_for(RunState* state, const char* name);

// An output named .m4a or .m4b promises audio: when the input has video,
// which the output will hold too, a warning says so.
void warn_audio_name_with_video(RunState* state, const char* input_path, const char* output_path,
                                const IoRoutines* routines);

}  // namespace vantorel::app
