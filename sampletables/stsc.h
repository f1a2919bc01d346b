#pragma once
// 'stsc': how many samples each chunk holds, as runs of chunks.
#include <cstdint>

#include "boxes/box_tree.h"

namespace vantorel {

struct SampleToChunkEntry {
  uint32_t first_chunk;  // 1-based
  uint32_t samples_per_chunk;
  uint32_t sample_description_index;  // 1-based
};

struct SampleToChunkTable {
  uint8_t version;
  uint32_t flags;
  GrowArray<SampleToChunkEntry> entries;
};

void stsc_release(BoxFile* file, void* context);
ErrorCode stsc_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode stsc_write(BoxFile* file, void* context);
uint64_t stsc_size(BoxFile* file, void* context);

// Appends one entry, never merging. Missing without a table, OutOfMemory.
ErrorCode stsc_append(BoxFile* file, TrackBoxes* track, uint32_t first_chunk, uint32_t samples_per_chunk,
                      uint32_t sample_description_index);

// Where a sample lies in the chunks.
struct ChunkPosition {
  uint32_t entry_index;     // 0-based 'stsc' entry
  uint32_t chunk_index;     // 0-based chunk
  uint32_t index_in_chunk;  // 0-based
  uint32_t first_sample;    // 1-based number of the chunk's first sample
};

// Locates sample k (1-based), a run of chunks at a time. BadArgument when k is
// 0, Missing without a table; Malformed when the table has no entries, its first chunks do not
// increase or pass the chunk count, or sample k lies beyond the last chunk.
// Chunks of 0 samples are stepped over.
ErrorCode stsc_locate(BoxFile* file, TrackBoxes* track, uint32_t k, ChunkPosition* out);

// Checks the run structure against `chunk_count` chunks (none64 when there is
// no chunk table): at least one entry when `samples` is not 0, first chunks
// from 1 up, strictly increasing and within the chunk count. 6 otherwise.
ErrorCode stsc_check(BoxFile* file, const SampleToChunkTable* table, uint64_t chunk_count, uint64_t samples);

}  // namespace vantorel
