#pragma once
// Upkeep of the movie when a file is opened and closed: durations,
// modification times and the next track id.
#include "boxes/box_tree.h"

namespace vantorel {

// Recomputes the media durations from the sample tables (not in inspect
// mode), the track durations in the movie time scale (through a fill-in
// edit list when there is one) and the movie duration as the longest track.
// Fields that outgrow 32 bits switch their box to version 1. Missing when the
// movie has no mvhd.
ErrorCode update_durations(BoxFile* file, FileBoxes* root);
// Sets the modification times of the tracks written to, and of the movie
// when tracks were added, to now, and clears the marks.
ErrorCode touch_modified_tracks(BoxFile* file, FileBoxes* root);
// mvhd next track id := the largest track id + 1. Missing when a track has no
// tkhd or the movie no mvhd.
ErrorCode set_next_track_id(FileBoxes* root);

}  // namespace vantorel
