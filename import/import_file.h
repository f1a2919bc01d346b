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

struct ImportFile : MetaFile {
  AsfImportState asf;
};

}  // namespace vantorel
