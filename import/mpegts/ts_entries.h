#pragma once
// Sample descriptions of transport-stream video built from bytes: one
// HEVC entry per set of parameter sets the stream used.
#include <cstdint>

#include "import/import_file.h"
#include "import/mpegts/ts_hevc.h"

namespace vantorel {

// Replaces the track's sample descriptions with one 'hvc1' entry ('hev1'
// when some sample carries a set of its own) per configuration listed in
// `used`, in that order. `*width` and `*height`: the first one's picture.
ErrorCode ts_set_hevc_entries(ImportFile* file, TrackBoxes* track, const TsHevcConfigs* configs, const uint32_t* used,
                              uint32_t count, uint32_t* width, uint32_t* height);

}  // namespace vantorel
