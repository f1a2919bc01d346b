#pragma once
// Checking a remux's outputs against its input, as the remux read it.
#include <cstdint>

#include "io/error.h"
#include "io/io_routines.h"
#include "remux/remux.h"

namespace vantorel {

// Opens the input and the outputs (in order; the parts of a split) through
// `routines` and compares: every carried track's samples in order (size, a
// 64-bit hash of the data, duration, composition offset, sync flag; PCM as
// its whole bytes and duration), each track's format, and the movie's and
// tracks' carried metadata in every part. Differs with the first difference
// in `report`. With `salvage`, tracks may end early (a truncated input).
// With a `selection`, only the tracks it keeps are looked for.
ErrorCode verify_remux(const void* input_name, const char* const* outputs, uint32_t output_count,
                       const IoRoutines* routines, void* user, uint32_t salvage, VerifyReport* report,
                       const TrackSelection* selection = nullptr, uint32_t program_number = 0);

}  // namespace vantorel
