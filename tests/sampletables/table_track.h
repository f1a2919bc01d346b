#pragma once
// A bare track (moov, trak, mdia with hdlr, minf, stbl) to hang sample
// tables on, and the reading and writing of an 'stbl' payload through it.
#include <cstdint>

#include "boxes/box_tree.h"
#include "support/box_builder.h"

namespace vantorel::test {

// Adds the skeleton to `file`'s tree (creating root and moov when needed).
TrackBoxes* make_track(MediaFile* file, uint32_t handler_kind);

// Adds each table box of the given ids to the track.
void add_tables(MediaFile* file, TrackBoxes* track, std::initializer_list<BoxTypeId> ids);

// Reads the whole stream of `file` as the payload of the track's 'stbl'.
ErrorCode read_stbl_payload(MediaFile* file, TrackBoxes* track);

// Writes the track's 'stbl' payload to a fresh memory stream; also checks
// that the size operation predicted the written length.
Bytes write_stbl_payload(TrackBoxes* track, ErrorCode* result = nullptr);

}  // namespace vantorel::test
