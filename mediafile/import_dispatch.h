#pragma once
// The one place where opening hands foreign containers to the importers.
#include "mediafile/media_file.h"

namespace vantorel {

// RIFF "AVI " at the current position (the position is set back to 0).
bool probe_avi(MediaFile* file);
ErrorCode import_avi(MediaFile* file);
// An EBML header of a Matroska or WebM file at offset 0 (set back to 0).
bool probe_matroska(MediaFile* file);
ErrorCode import_matroska(MediaFile* file);
// An ASF header object at the current position (set back to 0).
bool probe_asf(MediaFile* file);
ErrorCode import_asf(MediaFile* file);

// What a file that no importer takes is, from its first bytes, as the
// phrase for "X is ...": "an empty file", "a Matroska file", "an MPEG
// transport stream", ... Null when the bytes say nothing known. The
// position is set back to 0.
const char* identify_foreign(MediaFile* file);

}  // namespace vantorel
