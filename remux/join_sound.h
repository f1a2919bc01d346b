#pragma once
// Joined sound (join_sound.cpp): what the join plan asks of each sound track.
#include <cstdint>

#include "remux/track_plan.h"

namespace vantorel {

// Gapless sound: an edit per input, each from its priming on, when every
// input's track has its priming edit; else the track keeps the first
// input's edit.
ErrorCode plan_gapless(TrackPlan* plan, const TrackPlan* later, uint32_t later_count, uint32_t i,
                       const SampleSource* sources);
// Each input's sound kept beside its pictures (track `reference`, whose
// inputs start at `starts`): samples past the next input's start dropped
// (`*dropped` of them), gaps filled by hidden lead-in or an empty edit.
ErrorCode align_sound(TrackPlan* plan, const TrackPlan* later, uint32_t later_count, uint32_t i, uint32_t reference,
                      const uint64_t* starts, SampleSource* sources, uint32_t* dropped);

}  // namespace vantorel
