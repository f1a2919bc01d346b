#pragma once
// Which input tracks a run keeps (--tracks, --drop): a track is picked by
// its id or its kind, chapter tracks follow the movie, and a pick that
// names no track of the input, or a selection that keeps none, fails the
// run before anything is written.
#include <cstdint>

#include "io/grow_array.h"
#include "remux/remux.h"

namespace vantorel {

struct MediaFile;
struct TrackPlan;

// track_kind_bit and track_selection_keeps are public, in remux/remux.h.

// The survey's bookkeeping: which picks met a track and whether any track
// besides chapter tracks was kept.
struct SelectionCheck {
  const TrackSelection* selection;
  GrowArray<uint8_t> matched;       // per pick: 1 once a track of the input has its id
  GrowArray<uint32_t> chapter_ids;  // sorted: the tracks other tracks name as their chapters
  uint32_t kept;                    // kept tracks that are not chapter tracks
};

ErrorCode selection_check_start(SelectionCheck* check, const TrackSelection& selection, MediaFile* input);
bool selection_is_chapter_track(const SelectionCheck& check, uint32_t track_id);
// Whether the track is kept; counts it and the picks it meets.
bool selection_check_track(SelectionCheck* check, uint32_t track_id, uint32_t handler_kind);
// Once every track is seen: kSelectionMet, or the fault (with the index of
// the pick whose id no track has in `*pick`).
uint32_t selection_check_finish(const SelectionCheck& check, uint32_t* pick);
void selection_check_release(SelectionCheck* check);

// A kept chapter track whose every referring track is left out would be a
// stray text track: the first kept video track (else sound track) without
// references of another type names it as its chapters instead.
ErrorCode plan_chapter_hosts(TrackPlan* plan, const SelectionCheck& check);

}  // namespace vantorel
