#pragma once
// Joining inputs back to back: each later input's survey matched track by
// track to the first input's, its samples added as further sources of the
// same planned tracks.
#include <cstdint>

#include "remux/remux.h"
#include "remux/track_plan.h"

namespace vantorel {

// Why a later input cannot follow the first (JoinFault), which input
// (1-based, counting the first) and which of the first input's tracks.
struct JoinMismatch {
  uint32_t fault;
  uint32_t input;
  uint32_t track_id;
};

// Appends the tracks of `later` (surveyed plans, one source a track, in
// play order) to `plan`'s, so each planned track walks its inputs one after
// the other: decode times go on, video composition offsets are shifted so
// each input presents from where the previous one ends, each distinct
// sample entry gets its own description (byte-identical ones shared).
// Unsupported with `*mismatch` filled when the tracks do not match; nothing
// of `plan` is changed then.
ErrorCode join_plan_apply(TrackPlan* plan, const TrackPlan* later, uint32_t later_count, JoinMismatch* mismatch);

// The sample entries of an 'stsd' as read, `count` of them in `bytes`: the
// offset and size of entry `index`, false when the entries do not fit.
bool sample_entry_at(const uint8_t* bytes, uint32_t size, uint32_t count, uint32_t index, uint32_t* at,
                     uint32_t* length);

}  // namespace vantorel
