#pragma once
// Verify's checks of a whole joined movie's own edits and chapters.
#include "io/grow_array.h"
#include "mediafile/mediafile.h"
#include "remux/verify.h"
#include "remux/verify_reader.h"

namespace vantorel {

// A track's edit list.
ErrorCode edits_of(MediaFile* file, uint32_t track_id, GrowArray<TrackEdit>* out);

// Joined sound with edits of its own: `*track_id` the first input track
// whose sound does not present beside its pictures (0: all do).
ErrorCode check_joined_sound(const VerifyJoin& join, VerifyReader& first, VerifyReader* readers, MediaFile* out,
                             uint32_t* track_id);
// A whole joined movie's chapters: `*placed` false at the first that
// breaks their rule.
ErrorCode check_joined_chapters(const VerifyJoin& join, VerifyReader& first, VerifyReader* readers, MediaFile* out, bool* placed);

}  // namespace vantorel
