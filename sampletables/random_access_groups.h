#pragma once
// Random access sample groups an importer derives from the stream: 'roll'
// for recovery points that take pictures to recover, 'rap ' for I
// pictures of open groups of pictures.
#include <cstdint>

#include "boxes/box_tree.h"
#include "io/grow_array.h"

namespace vantorel {

// A sample's value in add_random_access_groups: an open-GOP I picture.
constexpr uint32_t kRapGroup = UINT32_MAX;

// Gives the track the groups its samples' values say, one value a sample
// in decoding order: a recovery point's frame count (1 to 32767) for
// 'roll', kRapGroup for 'rap ', 0 for neither. Nothing when no sample is in
// a group.
ErrorCode add_random_access_groups(TrackBoxes* track, const GrowArray<uint32_t>& groups);

// The 'roll' group of sound that needs `preroll` ns decoded before what is
// shown (Opus): every one of the `samples` samples, of `frame` units of
// `timescale` each, recovers as many samples back as cover the pre-roll.
// Nothing when a value is 0 or the distance does not fit.
ErrorCode add_preroll_group(TrackBoxes* track, uint64_t preroll, uint32_t timescale, uint32_t frame, uint32_t samples);

}  // namespace vantorel
