#pragma once
// A range cut (--range): which samples each planned track stores and the
// edits that show exactly the range, decided once in the survey.
#include <cstdint>

#include "remux/remux.h"
#include "remux/track_plan.h"

namespace vantorel {

// Cuts every planned track of `plan` (surveyed, one source a track) to
// `range`: the movie time scale becomes one the range is exact in (the
// first video track's, or the first sound track's), tracks that show
// nothing within it are left out (reported as kDropOutsideRange). BadArgument
// with `*fault` (RangeFault) for a range the input cannot give.
ErrorCode range_plan_apply(TrackPlan* plan, const RangeOptions& range, const RemuxEvents& events, void* user,
                           RangePlacement* placed, uint32_t* fault);

// The samples of a track in decode order as the range cut needs them.
struct RangeSample {
  uint64_t decode_time;  // track units from its first sample
  uint32_t duration;
  int32_t composition_offset;
  bool sync;
};

inline int64_t presentation_of(const RangeSample& s) {
  return static_cast<int64_t>(s.decode_time) + s.composition_offset;
}

// What the cut of one track stores and shows, in its units: samples
// [first, end), the media time (from the first stored sample's decode
// time) its edit starts and ends at, and what a text sample loses.
struct RangeCut {
  uint32_t first;
  uint32_t end;
  int64_t media_time;
  int64_t media_end;
  uint32_t head_trim;
  uint32_t tail_trim;
};

// How a track is cut: pictures that may be shown out of decode order,
// sound with a pre-roll of `preroll` units, text re-timed without an edit,
// or other timed data.
enum class RangeTrackKind : uint32_t { Video, Sound, Text, Data };

// The cut of `samples` for media times [media_start, media_end): the
// samples shown there, from the sync sample before the first (video) or
// with `preroll` units before it (sound). False when none is shown there.
bool range_cut_samples(const RangeSample* samples, uint32_t count, RangeTrackKind kind, uint64_t media_start,
                       uint64_t media_end, uint64_t preroll, RangeCut* cut);

}  // namespace vantorel
