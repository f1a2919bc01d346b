#pragma once
// Verify's sample comparison: each output's samples against the input's.
#include <cstdint>

#include "io/grow_array.h"
#include "remux/verify_tracks.h"

namespace vantorel {

// Compares part `part`'s samples, in the order the output holds them (so
// that each file is read once from start to end, not once a track), with
// the listed tracks' next input samples: size, data, sync flag, composition
// offset and duration (a join's and a range's as they convert and trim
// them; a join's descriptions too). PCM is hashed, for the end.
ErrorCode verify_part_samples(const VerifyInputs& inputs, GrowArray<VerifyTrack>* tracks, VerifyReader& out, uint32_t part,
                              GrowArray<VerifyLane>* lanes, VerifyReport* report);

// After the last part: each PCM track's input bytes and duration against
// what the outputs held, and every other track's samples all found (not
// with `salvage`: a truncated input's tracks may end early).
ErrorCode verify_track_ends(const VerifyInputs& inputs, GrowArray<VerifyTrack>* tracks, uint32_t output_count, uint32_t salvage,
                            VerifyReport* report);

}  // namespace vantorel
