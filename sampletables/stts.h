#pragma once
// 'stts': decode durations as runs of equal deltas.
#include <cstdint>

#include "boxes/box_tree.h"
#include "sampletables/stts_total.h"

namespace vantorel {

struct TimeToSampleEntry {
  uint32_t sample_count;
  uint32_t sample_delta;
};

struct TimeToSampleTable {
  uint8_t version;
  uint32_t flags;
  GrowArray<TimeToSampleEntry> entries;  // count is the box's entry_count
};

void stts_release(BoxFile* file, void* context);
ErrorCode stts_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode stts_write(BoxFile* file, void* context);
uint64_t stts_size(BoxFile* file, void* context);

// Adds n samples of delta d, merging with the last run when its delta is d.
// BadArgument without a table, OutOfMemory (the table unchanged). n = 0 adds nothing.
ErrorCode stts_append(BoxFile* file, TrackBoxes* track, uint32_t n, uint32_t d);
// The same on a table already found: a writer adding sample after sample.
ErrorCode stts_append(TimeToSampleTable* table, uint32_t n, uint32_t d);

// The run holding sample k (1-based) and k's 0-based place in it. BadArgument when k
// is 0 or beyond the table, Missing without a table or without entries.
ErrorCode stts_locate(TrackBoxes* track, uint32_t k, uint32_t* entry_index, uint32_t* index_in_entry);

// Sum of the deltas of samples 1 .. k-1; the whole duration when k is beyond
// the last sample; 0 for k = 0 or without a table.
uint64_t stts_decode_time(TrackBoxes* track, uint32_t k);

// The sample whose interval [start, start + delta) holds t (a zero-delta
// sample starting exactly at t counts too); 0 when t is at or beyond the
// end, 1 without a table.
uint32_t stts_sample_at_time(TrackBoxes* track, uint64_t t);

}  // namespace vantorel
