#include "remux/track_selection.h"

#include <algorithm>

#include "mediafile/mediafile.h"
#include "remux/track_plan.h"

namespace vantorel {

uint32_t track_kind_bit(uint32_t handler_kind) {
  switch (handler_kind) {
    case kHandlerVideo:
    case kHandlerInterleaved: return kTrackVideo;
    case kHandlerSound: return kTrackAudio;
    case kHandlerSubpicture:
    case kHandlerSubtitle:
    case kHandlerText:
    case kHandlerSbtl: return kTrackSubtitle;
    default: return kTrackData;
  }
}

bool track_selection_keeps(const TrackSelection& selection, uint32_t track_id, uint32_t handler_kind,
                           bool chapter_track) {
  if (selection.pick_count == 0 || selection.picks == nullptr) return true;
  const uint32_t kind = track_kind_bit(handler_kind);
  bool picked = false;
  for (uint32_t i = 0; i < selection.pick_count && !picked; ++i) {
    const TrackPick& pick = selection.picks[i];
    if (pick.track_id != 0) {
      picked = pick.track_id == track_id;
    } else if (!chapter_track) {
      picked = (pick.kinds & kind) != 0;
    }
  }
  if (chapter_track) return !(selection.drop && picked);
  return selection.drop ? !picked : picked;
}

ErrorCode selection_check_start(SelectionCheck* check, const TrackSelection& selection, MediaFile* input) {
  check->selection = &selection;
  for (uint32_t i = 0; i < selection.pick_count; ++i) VT_TRY(check->matched.append_doubling(0));
  MovieInfo movie{};
  VT_TRY(movie_info(input, &movie));
  for (uint32_t i = 0; i < movie.track_count; ++i) {
    const uint32_t* ids = nullptr;
    const uint32_t count = track_chapter_ids(input, movie_track_id(input, i), &ids);
    for (uint32_t k = 0; k < count; ++k) VT_TRY(check->chapter_ids.append_doubling(ids[k]));
  }
  std::sort(check->chapter_ids.begin(), check->chapter_ids.end());
  return ErrorCode::Ok;
}

bool selection_is_chapter_track(const SelectionCheck& check, uint32_t track_id) {
  return std::binary_search(check.chapter_ids.begin(), check.chapter_ids.end(), track_id);
}

bool selection_check_track(SelectionCheck* check, uint32_t track_id, uint32_t handler_kind) {
  const TrackSelection& selection = *check->selection;
  for (uint32_t i = 0; i < selection.pick_count; ++i)
    if (selection.picks[i].track_id != 0 && selection.picks[i].track_id == track_id) check->matched[i] = 1;
  const bool chapter = selection_is_chapter_track(*check, track_id);
  const bool kept = track_selection_keeps(selection, track_id, handler_kind, chapter);
  if (kept && !chapter) ++check->kept;
  return kept;
}

uint32_t selection_check_finish(const SelectionCheck& check, uint32_t* pick) {
  *pick = 0;
  const TrackSelection& selection = *check.selection;
  for (uint32_t i = 0; i < selection.pick_count; ++i) {
    if (selection.picks[i].track_id != 0 && check.matched[i] == 0) {
      *pick = i;
      return kSelectionUnknownId;
    }
  }
  // Without a selection an input without tracks is the survey's to report.
  if (selection.pick_count > 0 && check.kept == 0) return kSelectionEmpty;
  return kSelectionMet;
}

void selection_check_release(SelectionCheck* check) {
  check->matched.release();
  check->chapter_ids.release();
}

ErrorCode plan_chapter_hosts(TrackPlan* plan, const SelectionCheck& check) {
  // The chapter tracks the kept tracks name, sorted: one walk over their
  // references, however many tracks the movie has.
  GrowArray<uint32_t> referred{};
  for (const PlannedTrack& row : plan->tracks) {
    const uint32_t* ids = nullptr;
    const uint32_t count = track_chapter_ids(plan->input, row.input_track_id, &ids);
    for (uint32_t k = 0; k < count; ++k) {
      ErrorCode e = referred.append_doubling(ids[k]);
      if (e != ErrorCode::Ok) {
        referred.release();
        return e;
      }
    }
  }
  std::sort(referred.begin(), referred.end());
  bool orphans = false;
  for (PlannedTrack& row : plan->tracks) {
    row.chapter_orphan = selection_is_chapter_track(check, row.input_track_id) &&
                         !std::binary_search(referred.begin(), referred.end(), row.input_track_id);
    orphans = orphans || row.chapter_orphan;
  }
  referred.release();
  if (!orphans) return ErrorCode::Ok;
  PlannedTrack* host = nullptr;
  for (int pass = 0; pass < 2 && host == nullptr; ++pass) {
    for (PlannedTrack& row : plan->tracks) {
      // Any track can host them: its other reference boxes stay beside 'chap'.
      if (!(pass == 0 ? row.video : row.audio)) continue;
      host = &row;
      break;
    }
  }
  if (host != nullptr) host->chapter_host = true;
  return ErrorCode::Ok;
}

}  // namespace vantorel
