#pragma once
// The sample entry formats the library carries, each with the kind of track
// it belongs to: one table for the sample description reader (a track
// without a handler takes its kind from its first entry) and the remux
// (which formats it carries).
#include <cstdint>

#include "io/fourcc.h"

namespace vantorel {

// The handler kind a carried format's track has (video, sound, text,
// subtitle or time code; "other" for formats carried as stored under a
// handler of their own), kHandlerUnknown for a format not in the table.
uint32_t format_kind(FourCC format);

// Whether a track of handler kind `track_kind` can hold a format of kind
// `format_kind`: the same kind, or any text-like kind for text.
bool kinds_agree(uint32_t track_kind, uint32_t format_kind);

// True for the formats whose tracks are carried with their sample entries
// whole, every child box as read, rather than rebuilt from parsed fields.
bool format_carried_whole(FourCC format);

// True for the formats only a QuickTime movie holds (ProRes, DV, the
// QuickTime PCM forms).
bool format_quicktime_only(FourCC format);

// The common name of a format's codec ("HEVC", "Opus", ...), with the
// object type telling the codecs of 'mp4a' and 'mp4v' apart; null when the
// format is not known.
const char* format_codec_name(FourCC format, uint32_t object_type);

// The PCM forms whose written tables count one sample of size 1 per frame
// (big-endian, little-endian and 8-bit unsigned).
bool pcm_counts_frames(FourCC format);

// The compatible brand an 'ftyp' lists for a file that holds the format;
// zero when it needs none.
FourCC format_brand(FourCC format);

}  // namespace vantorel
