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

// A track the file lists more samples of than it holds, where the import
// could not hand the missing ones over as samples past the end (a stream
// rebuilt from its chunks keeps only the whole ones).
struct ImportCut {
  uint32_t track_id;
  uint32_t missing;  // samples, as the index lists them
  uint32_t total;
  uint64_t missing_ms;
};
constexpr uint32_t kMaxImportCuts = 64;

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
  // The file is shorter than its own declarations say (a size, an index or
  // a duration reaching past its end): a cut file, whatever its tracks hold.
  uint32_t cut;
  // When the file says its presentation ends, in ms from its start; 0 when
  // it does not say.
  uint64_t declared_end_ms;
  ImportCut cuts[kMaxImportCuts];
  uint32_t cut_count;
  // The program a transport stream is read for; 0: the one with the most packets.
  uint32_t program_number;
};

// Adds a note for the user (printf format); notes past the last are dropped.
void import_note_add(ImportFile* file, const char* format, ...);
// The cut record of a track, or null.
const ImportCut* import_cut_of(const ImportFile* file, uint32_t track_id);

// The converted track of that id, or null when its samples are read whole.
const ConvertedTrack* find_converted(const ImportFile* file, uint32_t track_id);
void release_converted(ImportFile* file);

inline void release_format_state(ImportFile* file) {
  if (file->format_state != nullptr && file->format_state_release != nullptr)
    file->format_state_release(file->format_state);
  file->format_state = nullptr;
}

}  // namespace vantorel
