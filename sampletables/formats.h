#pragma once
// The sample entry formats the library carries, each with the kind of track
// it belongs to: one table for the sample description reader (a track
// without a handler takes its kind from its first entry) and the remux
// (which formats it carries).
#include <cstdint>

#include "io/fourcc.h"

namespace vantorel {

// kHandlerVideo or kHandlerSound for a carried format, kHandlerUnknown otherwise.
uint32_t format_kind(FourCC format);

// True for the formats whose tracks are carried with their sample entries
// whole, every child box as read, rather than rebuilt from parsed fields.
bool format_carried_whole(FourCC format);

// The compatible brand an 'ftyp' lists for a file that holds the format;
// zero when it needs none.
FourCC format_brand(FourCC format);

}  // namespace vantorel
