#pragma once
// The import part of an open file, added to the metadata part: what the
// import left out, samples gathered from pieces, and the format's own record.
#include <cstdint>

#include "import/converted_samples.h"
#include "meta/meta_file.h"

namespace vantorel {

// What an import left out and why, in words for the user ("track 2
// (A_VORBIS) is left out: ...").
struct ImportNote {
  char text[192];
};
constexpr uint32_t kMaxImportNotes = 8;

struct ImportFile : MetaFile {
  // The record an importer keeps about the open file beyond its movie (ASF:
  // its packets), freed by `format_state_release` when the file is.
  void* format_state;
  void (*format_state_release)(void* state);
  // Tracks whose samples are not read whole: gathered from pieces, or
  // expanded from locators by their importer.
  GrowArray<ConvertedTrack> converted;
  ImportNote notes[kMaxImportNotes];
  uint32_t note_count;
  // The program a transport stream is read for; 0: the one with the most packets.
  uint32_t program_number;
};

// The converted track of that id, or null when its samples are read whole.
const ConvertedTrack* find_converted(const ImportFile* file, uint32_t track_id);
void release_converted(ImportFile* file);

inline void release_format_state(ImportFile* file) {
  if (file->format_state != nullptr && file->format_state_release != nullptr)
    file->format_state_release(file->format_state);
  file->format_state = nullptr;
}

}  // namespace vantorel
