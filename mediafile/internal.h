#pragma once
// Steps of the library shared between its files, not part of its interface.
#include "mediafile/media_file.h"

namespace vantorel {

// Writes 'ftyp' and the reserved 'free' box of a file opened for creating.
ErrorCode start_output(MediaFile* file, const OpenParams* params);
// The finalisation steps close runs in create and update mode.
ErrorCode finalise_output(MediaFile* file);
// Fills every track's decoder configuration, 'btrt' and profile entry with
// its bit rates and largest sample.
void update_bit_rates(MediaFile* file);
// Adds the file-level parts a new file's flags ask for (profile box, user
// data, Streaming Extension track).
ErrorCode add_flagged_parts(MediaFile* file);

// One read cursor per track, each at its track's first sync sample.
ErrorCode create_read_cursors(MediaFile* file);
ReadCursor* find_cursor(MediaFile* file, uint32_t track_id);

// The payload of child box `type` of the track's first sample entry as read
// (also inside a QuickTime 'wave'); null when there is none.
const uint8_t* entry_child(TrackBoxes* track, const char* type, uint32_t* payload_size);

// Removes a sync table that lists no sample or every sample, and a
// composition table of a single entry, on every track.
void clean_up_tables(MediaFile* file);
// The bytes those removals will take off the movie box as it stands.
uint64_t clean_up_saving(MediaFile* file);

}  // namespace vantorel
