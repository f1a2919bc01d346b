#pragma once
// Fix-ups that rewrite a track's sample tables as a whole, run when a file
// has been read and before a written file's movie box goes out.
#include <cstdint>

#include "boxes/box_tree.h"
#include "sampletables/sound_format.h"

namespace vantorel {

// Shifts every composition offset up by the most negative one (taken as
// signed 32-bit, runs of 0 samples ignored) so that none is negative.
// `shift` receives what was added (0 when nothing was negative). A track
// without 'ctts' is left alone and succeeds.
ErrorCode ctts_normalise(BoxFile* file, TrackBoxes* track, int64_t* shift);
// The same, with what was added kept in the track's extra values (the
// composition shift the reader subtracts again).
ErrorCode ctts_normalise_track(BoxFile* file, TrackBoxes* track);

// The tests behind the two removals below, for whoever must know beforehand
// what the clean-up of a written file will leave out.
bool ctts_is_single_zero(TrackBoxes* track);
bool stss_is_redundant(TrackBoxes* track);

// Removes a 'ctts' of exactly one entry whose offset is 0. A single non-zero
// offset is kept: it moves every sample's presentation. Nothing to do
// without a table.
ErrorCode ctts_drop_if_single(BoxFile* file, TrackBoxes* track);

// Removes an 'stss' that has no entries or as many entries as the track has
// samples (every sample is then a sync sample). Nothing to do without one.
ErrorCode stss_drop_if_redundant(BoxFile* file, TrackBoxes* track);

// Moves one sample from the first run of 'stts' to the last run (subpicture
// tracks). Leading runs of 0 samples are dropped first; fewer than two runs
// leave the table alone. Missing without 'stts'.
ErrorCode stts_shift_first_to_last(BoxFile* file, TrackBoxes* track);

// Regroups QuickTime PCM tables that count one sample per PCM frame (one
// 'stts' run of delta 1 over every sample, a constant sample size of 1 or of
// the format's bytes per frame) into one sample per chunk, with the single
// 'stsc' entry {1, 1, 1}. Only sound tracks of a known format change.
// Missing without the 'stts', 'stsz', 'stsc' or chunk-offset table; Malformed for an 'stsc'
// that does not describe the chunks (tables then unchanged).
ErrorCode sound_tables_per_chunk(BoxFile* file, TrackBoxes* track, const SoundFormatInfo* format);

}  // namespace vantorel
