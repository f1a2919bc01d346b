#pragma once
// The part of a track that imports fill alike: from AVI and ASF streams the
// first sample entry from the bitmap header or wave format, the track
// header's picture size and the codec data kept in an 'esds'; and sample
// entries an import wrote as bytes.
#include <cstdint>

#include "boxes/box_tree.h"
#include "boxes/owned_block.h"
#include "import/format_headers.h"
#include "import/import_file.h"

namespace vantorel {

struct StreamEntry {
  uint32_t kind;  // kHandlerSound; any other kind has a visual entry
  // Visual.
  FourCC format;
  uint16_t width;
  uint16_t height;
  uint16_t depth;
  // Sound.
  const WaveFormat* wave;
  const OwnedBlock* codec_data;  // may be empty
};

// Fills the track's first entry (created with the track) and its 'esds'.
ErrorCode fill_stream_entry(ImportFile* file, TrackBoxes* track, const StreamEntry* stream);

// Gives the track the `count` sample entries in `entries` (whole boxes,
// `size` bytes), read as an MP4 reader reads an 'stsd': each entry both
// parsed and kept whole. Its earlier entries go.
ErrorCode set_entries_from_bytes(ImportFile* file, TrackBoxes* track, const uint8_t* entries, uint32_t size,
                                 uint32_t count);

// A size field of 16 bits from a larger value.
inline uint16_t clamp16(uint32_t v) { return v > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(v); }

}  // namespace vantorel
