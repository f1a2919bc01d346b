// The sample description and empty sample tables of a new track.
#include "boxes/hdlr.h"
#include "sampletables/track_builder.h"
#include "sampletables/stsd.h"

namespace vantorel {

ErrorCode populate_sample_tables(BoxFile* file, TrackBoxes* track, uint32_t kind, uint32_t timescale) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  VT_TRY(add_track_box(file, track, BoxTypeId::Stsd));
  VT_TRY(stsd_add_entry(file, track, kind));
  if (kind == kHandlerSound) {
    SoundSampleEntry* entry = sound_entry(file, track, 0);
    if (entry == nullptr) return ErrorCode::Missing;
    // A 16.16 rate cannot say 65536 Hz or more: such rates are left 0 and
    // taken from the media time scale.
    entry->sample_rate = timescale <= 0xFFFF ? timescale << 16 : 0;
  }
  for (BoxTypeId id : {BoxTypeId::Stts, BoxTypeId::Stsc, BoxTypeId::Stsz, BoxTypeId::Stco})
    VT_TRY(add_track_box(file, track, id));
  if (handler_is_video_like(kind)) VT_TRY(add_track_box(file, track, BoxTypeId::Stss));
  return ErrorCode::Ok;
}

}  // namespace vantorel
