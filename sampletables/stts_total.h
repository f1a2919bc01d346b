#pragma once
// The media duration of a track as its time-to-sample table gives it.
#include <cstdint>

namespace vantorel {

struct TrackBoxes;

// Sum of sample count x sample delta over the track's 'stts' runs; 0 when
// the track has no table.
uint64_t stts_total_duration(TrackBoxes* track);

}  // namespace vantorel
