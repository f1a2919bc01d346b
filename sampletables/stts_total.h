#pragma once
// The track's decode duration from its time-to-sample table, for the code
// that maintains media and movie durations.
#include <cstdint>

namespace vantorel {

struct TrackBoxes;

// Sum of count x delta over the runs, in 64 bits; 0 without a table. Runs are
// counted only up to the size table's sample count.
uint64_t stts_total_duration(TrackBoxes* track);

}  // namespace vantorel
