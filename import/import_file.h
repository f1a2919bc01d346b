#pragma once
// The import part of an open file: what the ASF header import found about
// the packets, added to the metadata part.
#include <cstdint>

#include "import/converted_samples.h"
#include "meta/meta_file.h"

namespace vantorel {

// Packet geometry found by the ASF header import.
struct AsfImportState {
  uint64_t play_duration;  // 100 ns
  uint64_t preroll;        // ms
  uint32_t max_bitrate;
  uint32_t flags;
  uint64_t packet_count;
  uint64_t first_packet;
  uint32_t packet_size;
};

// What an import left out and why, in words for the user ("track 2
// (A_VORBIS) is left out: ...").
struct ImportNote {
  char text[192];
};
constexpr uint32_t kMaxImportNotes = 8;

struct ImportFile : MetaFile {
  AsfImportState asf;
  // Tracks whose samples are not read whole: gathered from pieces, or
  // expanded from locators by their importer.
  GrowArray<ConvertedTrack> converted;
  ImportNote notes[kMaxImportNotes];
  uint32_t note_count;
};

// The converted track of that id, or null when its samples are read whole.
const ConvertedTrack* find_converted(const ImportFile* file, uint32_t track_id);
void release_converted(ImportFile* file);

}  // namespace vantorel
