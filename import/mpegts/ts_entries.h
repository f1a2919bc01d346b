#pragma once
// Sample descriptions of transport-stream video built from bytes: one
// H.264 or HEVC entry per set of parameter sets the stream used, one VC-1
// entry per sequence header.
#include <cstdint>

#include "import/import_file.h"
#include "codecs/vc1.h"
#include "import/mpegts/ts_param_sets.h"

namespace vantorel {

// Replaces the track's sample descriptions with one 'avc1' or 'hvc1' entry
// ('avc3', 'hev1' when some sample carries a set of its own) per
// configuration listed in `used`, in that order. `*width` and `*height`:
// the first one's picture. BadArgument when a configuration cannot make
// an entry (no sequence or picture parameter set, a set that does not parse).
ErrorCode ts_set_nal_entries(ImportFile* file, TrackBoxes* track, const TsNalConfigs* configs, const uint32_t* used,
                             uint32_t count, uint32_t* width, uint32_t* height);

// Replaces the track's sample descriptions with one 'vc-1' entry per
// header block (a sequence header and an entry point) in `blocks`, in that
// order, each with its coded size and its 'dvc1'. `*width` and `*height`:
// the first one's display size. BadArgument when a block does not parse.
ErrorCode ts_set_vc1_entries(ImportFile* file, TrackBoxes* track, const OwnedBlock* const* blocks, uint32_t count,
                             const Vc1StreamFacts& facts, uint32_t* width, uint32_t* height);

}  // namespace vantorel
