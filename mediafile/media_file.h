#pragma once
// The media file record: one open file of the library, joining the parts of
// each layer (I/O, box tree, metadata, import) with the reading cursors and
// the writer's state that this layer keeps.
#include <cstdint>

#include "boxes/box_tree.h"
#include "import/import_file.h"
#include "mediafile/box_registry.h"
#include "mediafile/mediafile.h"

namespace vantorel {

struct ReadCursor {
  uint32_t track_id;
  uint32_t current;  // 1-based number of the next sample to read; 0 for none
  uint32_t sample_count;
  SampleToChunkTable* stsc;
  ChunkOffsetTable* chunk_offsets;
  SampleSizeTable* sizes;
  uint32_t stsc_entry;
  uint32_t chunk_index;
  uint32_t index_in_chunk;
  uint64_t offset;
  TimeToSampleTable* stts;
  CompositionOffsetTable* ctts;
  uint32_t stts_entry;
  uint32_t stts_in_entry;
  uint32_t ctts_entry;
  uint32_t ctts_in_entry;
  uint64_t time;  // media units, on the track's timeline
  SyncSampleTable* stss;
  uint32_t next_sync;
};

struct MediaFile : ImportFile {
  GrowArray<ReadCursor> cursors;
  // The chunk being written: its track and how many samples it holds.
  uint32_t chunk_track;
  uint32_t chunk_samples;
  uint32_t chunk_description;  // 1-based
  BoxHeader mdat;  // the open 'mdat' of a file being written
  uint64_t planned_mdat_size;
  uint32_t flavour;  // FileFlavour
  uint32_t strx_track;
  uint32_t samples_per_chunk;
  uint64_t unwritten_bytes;  // recorded samples whose bytes are still to come
  // Header first (see OpenParams).
  uint32_t header_first;
  HeaderBlock* header_out;
  const uint8_t* stored_header;
  uint32_t stored_header_size;
};

}  // namespace vantorel
