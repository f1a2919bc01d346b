#pragma once
// Describing an ASF file from its header objects: one track per audio or
// video stream with its sample entry, codec data, bit rates and durations,
// but no samples. Only files opened for inspection are imported.
#include <cstdint>

#include "boxes/box_tree.h"
#include "import/import_file.h"

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

// The file's packet geometry; null when the file is not an imported ASF file.
const AsfImportState* asf_state(const ImportFile* file);

// True when the object at the current position is an ASF Header Object. The
// position is set back to 0 in every case.
bool asf_probe(ImportFile* file);
// Builds the movie in `root` (the file's root) and keeps the packet geometry (asf_state). Unsupported
// for variable-size data packets or no readable header object, BadArgument for a stream
// numbered 0.
ErrorCode asf_import(ImportFile* file, FileBoxes* root);

// Seconds since 1601-01-01 to seconds since 1904-01-01.
constexpr uint64_t kAsfEpochTo1904 = 9561628800u;

}  // namespace vantorel
