#pragma once
// FLAC: the frame header's block size, and 'dfLa', the FLAC specific box,
// built from the stream's metadata blocks and written.
#include <cstdint>

#include "boxes/owned_block.h"

namespace vantorel {

// Samples per channel in the frame whose header is at `frame`; 0 when the
// bytes are no frame header or end before the block size.
uint32_t flac_frame_samples(const uint8_t* frame, uint32_t size);

struct FlacConfigRecord {
  // The metadata blocks, STREAMINFO first, as the stream holds them after
  // its "fLaC" marker.
  OwnedBlock metadata_blocks;
};

// From the bytes a stream starts with ("fLaC", then the metadata blocks):
// Malformed when they are no such start or too short for a STREAMINFO block.
ErrorCode dfla_from_stream_header(const uint8_t* header, uint32_t size, FlacConfigRecord* out);
void dfla_release(FlacConfigRecord* dfla);
ErrorCode dfla_write(BoxFile* file, const FlacConfigRecord* dfla);
uint64_t dfla_size(BoxFile* file, const FlacConfigRecord* dfla);
// The channel count of the STREAMINFO block a 'dfLa' payload starts with;
// 0 when it has none.
uint32_t dfla_payload_channels(const uint8_t* payload, uint32_t size);

}  // namespace vantorel
