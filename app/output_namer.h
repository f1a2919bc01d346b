#pragma once
// Names of the output files: the first is the user's path as given, the
// n-th further one has "_n" put before the extension, in the same directory.
#include <cstdint>

#include "app/run_state.h"

namespace vantorel::app {

// Keeps the output path and records the identity of the input, if it
// exists, so that a name naming the input is never handed out.
void name_state_init(OutputNameState* names, const char* input_path, const char* output_path);
void name_state_release(OutputNameState* names);

// True when `path` names the input file (same device and inode). A path
// that does not exist yet is never the input.
bool names_input(const OutputNameState* names, const char* path);

// Records that `name` was withheld because it is the input; the first
// refusal is kept.
void name_state_refuse(OutputNameState* names, const char* name);

// The name of output file `counter` (0 the user's path, n its "_n" part),
// allocated; null without memory.
char* output_part_name(const char* path, int32_t counter);

// The engine's OutputNamer; `user` is the RunState. With a null name and a
// byte count it stores the next name's length + 1 and returns 1. With a
// buffer of that size it writes the name, advances the counter and returns
// 1 -- unless the name is the input, which is refused: 0, recorded in the
// state. Null state, or both pointers null: 0. When the state's outputs are
// atomic, the name handed out is the temporary file the output is written
// to (created by the length call), renamed over the real name at the end.
uint32_t output_namer(char* name, uint32_t* byte_count, void* user);

}  // namespace vantorel::app
