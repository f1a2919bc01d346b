#pragma once
// The one walk over a track's sample tables: from a sample on, one sample
// at a time, its decode time, duration, composition offset, size, sample
// description, sync flag and place in the file. Each step costs the same
// whatever the tables' lengths, and each table is read once per sample.
#include <cstdint>

#include "boxes/box_tree.h"

namespace vantorel {

struct TimeToSampleTable;
struct CompositionOffsetTable;
struct SampleToChunkTable;
struct ChunkOffsetTable;
struct SampleSizeTable;
struct SyncSampleTable;

// Where a walk stands in a run table ('stts', 'ctts'): the run, and the
// sample's place in it.
struct RunPosition {
  uint32_t entry;
  uint32_t in_entry;
};

struct TableCursor {
  const TimeToSampleTable* stts;
  const CompositionOffsetTable* ctts;  // null: every offset is 0
  // Null when the walk does not follow the chunks: every offset is then 0
  // and every sample uses the first sample description.
  const SampleToChunkTable* stsc;
  const ChunkOffsetTable* chunk_offsets;
  const SampleSizeTable* sizes;
  const SyncSampleTable* stss;  // null: every sample is a sync sample
  uint32_t current;       // 1-based number of the sample the cursor is on; 0 past the last
  uint32_t sample_count;  // the size table's, cut where the chunk table ends
  RunPosition stts_at;
  RunPosition ctts_at;
  uint32_t stsc_entry;
  uint32_t chunk_index;  // 0-based
  uint32_t index_in_chunk;
  uint64_t offset;     // in the file, of the current sample
  uint64_t time;       // decode time of the current sample
  uint32_t size;       // of the current sample
  uint32_t next_sync;  // index in 'stss' of the next sync sample
};

// What the tables say of the sample a cursor is on.
struct TableSample {
  uint64_t time;  // decode time
  uint32_t duration;
  int32_t composition_offset;
  uint32_t size;
  uint32_t description_index;  // 1-based
  bool sync;
  uint64_t offset;
};

// Puts the cursor on the track's first sample, stepping over runs and
// chunks of no samples; following the chunks or not. With no sample to be
// on (no time or size table, no samples, or no chunk to hold them when
// following chunks) the cursor is past the last.
void table_cursor_begin(TableCursor* cursor, TrackBoxes* track, bool chunks);
// Puts the cursor on sample n (1-based) through the tables' look-ups,
// following the chunks. NoMore when there is no sample n; Missing without a
// time, size, sample-to-chunk or chunk-offset table; Malformed when the
// tables cannot place it. On failure the cursor is past the last.
ErrorCode table_cursor_seek(TableCursor* cursor, BoxFile* file, TrackBoxes* track, uint32_t n);

// The current sample; the cursor must be on one.
void table_cursor_sample(const TableCursor& cursor, TableSample* out);
// Ends the walk after the first `count` samples (1-based numbers up to
// `count`); past the last at once when the cursor is beyond them.
void table_cursor_limit(TableCursor* cursor, uint32_t count);
// Steps to the next sample: false past the last, or when the chunk table
// ends before the samples do (the track ends there).
bool table_cursor_next(TableCursor* cursor);

}  // namespace vantorel
