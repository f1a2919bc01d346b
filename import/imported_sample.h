#pragma once
// The hand-over of an imported track: its samples, described as neutral
// records, become the track's tables (one builder for every importer), and
// the file keeps how the reader gets the bytes of the samples that are not
// one range of the input.
#include <cstdint>

#include "boxes/box_tree.h"
#include "import/import_file.h"
#include "sampletables/tables_from_samples.h"

namespace vantorel {

// Builds the track's tables from `samples` (tables_from_samples) and keeps
// `source` for the reader when some sample is not one range:
// - pieces: `source` holds pieces for every sample of the track, in sample
//   order, the pieces of each making exactly its size (a sample of one range
//   is then its one copy piece); a located piece needs the expander;
// - located: every sample is located, `source` has no pieces and an
//   expander; each locator stays in the chunk offsets.
// `source` (may be null when every sample is one range) is taken over
// whatever the outcome: kept by the file or released, and left empty.
// BadArgument when the samples and `source` do not fit together; the
// builder's errors otherwise. Called once per track.
ErrorCode import_track_samples(ImportFile* file, TrackBoxes* track, const ImportedSample* samples, uint32_t count,
                               ConvertedTrack* source);

}  // namespace vantorel
