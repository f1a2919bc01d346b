#pragma once
// The Matroska codecs the import carries, one row each: CodecID to the
// sample entry built from CodecPrivate (and the first frame where the
// configuration lives there), with what the entry tells the track.
#include <cstdint>

#include "import/matroska/matroska_internal.h"

namespace vantorel {

constexpr uint64_t kNanos = 1000000000;

// What the codec table gives a track.
struct EntryPlan {
  uint32_t kind;       // HandlerKind
  uint32_t timescale;  // media time scale; for sound the sample rate
  uint32_t frame_samples;  // per frame, when every frame has as many
  uint32_t opus_pre_skip;
  uint32_t (*samples_of)(const uint8_t* frame, uint32_t n);  // per frame from its first bytes; 0 when unknown
  uint32_t bytes_per_frame;  // PCM: a frame's duration is its size over this
  uint32_t swap16;           // PCM: little-endian 16-bit samples stored big-endian
  uint32_t vfw;              // Video for Windows frames: converted as AVI's, which sets the entry
};

using EntryBuilder = bool (*)(MkvImport* imp, const MkvTrack* t, const uint8_t* first, uint32_t first_n, MkvBytes* out,
                              EntryPlan* plan);

// A codec with a null builder is a subtitle format, converted as text.
struct Codec {
  const char* id;
  EntryBuilder build;
};

// The row of a CodecID, or null when the import does not carry it.
const Codec* codec_of(const char* id);
// The track's sampling frequency as a whole number of hertz (0 when unusable).
uint32_t rate_of(const MkvTrack* t);

}  // namespace vantorel
