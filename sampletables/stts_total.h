#pragma once
// The track's decode and presentation extents from its time tables, for the
// code that maintains media and movie durations.
#include <cstdint>

namespace vantorel {

struct TrackBoxes;

// Sum of count x delta over the runs, in 64 bits; 0 without a table. Runs are
// counted only up to the size table's sample count.
uint64_t stts_total_duration(TrackBoxes* track);

// Where the track's presentation ends on its media timeline: the latest
// decode time + composition offset + duration of any sample (the decode
// duration without composition offsets).
uint64_t presentation_end_time(TrackBoxes* track);

}  // namespace vantorel
