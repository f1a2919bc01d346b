#pragma once
// The import part of an open file: what the ASF header import found about
// the packets, added to the metadata part.
#include <cstdint>

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
  char text[128];
};
constexpr uint32_t kMaxImportNotes = 8;

struct ImportFile : MetaFile {
  AsfImportState asf;
  ImportNote notes[kMaxImportNotes];
  uint32_t note_count;
};

}  // namespace vantorel
