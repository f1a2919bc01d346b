#pragma once
// 'ctts': composition offsets as runs of equal offsets.
#include <cstdint>

#include "boxes/box_tree.h"

namespace vantorel {

struct CompositionOffsetEntry {
  uint32_t sample_count;
  int32_t sample_offset;  // version 0 stores it unsigned; both are kept as the same 32 bits
};

struct CompositionOffsetTable {
  uint8_t version;
  uint32_t flags;
  GrowArray<CompositionOffsetEntry> entries;
};

void ctts_release(BoxFile* file, void* context);
ErrorCode ctts_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode ctts_write(BoxFile* file, void* context);
uint64_t ctts_size(BoxFile* file, void* context);

// Adds n samples of offset o, merging with the last run when its offset is o.
// BadArgument without a table, OutOfMemory. n = 0 adds nothing.
ErrorCode ctts_append(BoxFile* file, TrackBoxes* track, uint32_t n, int32_t o);
// The same on a table already found.
ErrorCode ctts_append(CompositionOffsetTable* table, uint32_t n, int32_t o);

// The run holding sample k (1-based); as stts_locate.
ErrorCode ctts_locate(TrackBoxes* track, uint32_t k, uint32_t* entry_index, uint32_t* index_in_entry);

}  // namespace vantorel
