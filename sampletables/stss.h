#pragma once
// 'stss': the sync samples, by 1-based sample number in ascending order.
#include <cstdint>

#include "boxes/box_tree.h"

namespace vantorel {

struct SyncSampleTable {
  uint8_t version;
  uint32_t flags;
  GrowArray<uint32_t> samples;
};

void stss_release(BoxFile* file, void* context);
ErrorCode stss_read(BoxFile* file, const BoxHeader* header, void* context);
uint64_t stss_size(BoxFile* file, void* context);
// Writes the payload of the "stss" box the 'stbl' writer opens.
ErrorCode sync_samples_write(BoxFile* file, void* context);

// Appends one sync sample. BadArgument without a table, OutOfMemory.
ErrorCode stss_append(BoxFile* file, TrackBoxes* track, uint32_t sample);
// The same on a table already found.
ErrorCode stss_append(SyncSampleTable* table, uint32_t sample);

// The last sync sample at or before k (the first one when all are after k);
// k itself when k is 0 or the table is missing or empty.
uint32_t stss_sync_at_or_before(TrackBoxes* track, uint32_t k);
// The first sync sample at or after k (the last one when all are before k);
// k itself when k is 0 or the table is missing or empty.
uint32_t stss_sync_at_or_after(TrackBoxes* track, uint32_t k);
// Index of k in the table; 0 when k is 0, not listed, or there is no table.
uint32_t stss_index_of(TrackBoxes* track, uint32_t k);

}  // namespace vantorel
