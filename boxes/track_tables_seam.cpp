// Placeholder until the sample description and sample tables join the box
// table: a new track gets an empty 'stbl'. TO BE REPLACED BY THE LEAD with
// the real step (stsd with the kind's first entry, the sound entry's rate,
// stts, stsc, stsz, stco, and stss for the video-like kinds).
#include "boxes/track_builder.h"

namespace vantorel {

ErrorCode populate_sample_tables(MediaFile* file, TrackBoxes* track, uint32_t, uint32_t) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  return ErrorCode::Ok;
}

}  // namespace vantorel
