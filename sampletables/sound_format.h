#pragma once
// What regrouping QuickTime PCM tables needs to know about a track's first
// sound sample entry.
#include <cstdint>

#include "io/error.h"
#include "io/fourcc.h"

namespace vantorel {

struct TrackBoxes;

struct SoundFormatInfo {
  FourCC format;
  uint16_t version;             // 0, 1 or 2
  uint16_t channel_count;
  uint16_t sample_size;         // bits per channel sample
  uint32_t samples_per_packet;  // version 1 fields
  uint32_t bytes_per_frame;
};

// The first sound entry's format; Missing when the track has none.
ErrorCode sound_format_of(TrackBoxes* track, SoundFormatInfo* out);

}  // namespace vantorel
