#pragma once
// 'stco' and 'co64': where each chunk starts, kept as 64-bit offsets.
#include <cstdint>

#include "boxes/box_tree.h"

namespace vantorel {

struct ChunkOffsetTable {
  uint8_t version;
  uint32_t flags;
  GrowArray<uint64_t> offsets;
};

void stco_release(BoxFile* file, void* context);
ErrorCode stco_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode co64_read(BoxFile* file, const BoxHeader* header, void* context);
// Payload size as written: 8 + 4n, or 8 + 8n when 64-bit offsets are needed.
uint64_t stco_size(BoxFile* file, void* context);
// Writes the payload of the box the 'stbl' writer opens as "co64" or "stco".
ErrorCode chunk_offsets_write(BoxFile* file, void* context);

// True when an offset of the table needs more than 32 bits.
bool chunk_offsets_need_64bit(TrackBoxes* track);

// Appends one chunk offset. BadArgument without a table, OutOfMemory.
ErrorCode stco_append(BoxFile* file, TrackBoxes* track, uint64_t offset);

}  // namespace vantorel
