#pragma once
// The media file record: one open file of the library, joining the parts of
// each layer (I/O, box tree, metadata, import) with the reading cursors and
// the writer's state that this layer keeps.
#include <cstdint>

#include "boxes/box_tree.h"
#include "import/import_file.h"
#include "mediafile/box_registry.h"
#include "mediafile/mediafile.h"
#include "sampletables/table_cursor.h"

namespace vantorel {

// A track's reading position, and where its samples' bytes come from.
struct ReadCursor {
  uint32_t track_id;
  TableCursor table;
  // From decode times to the track's timeline: its start delay less the
  // media time its first edit starts at (both in media units), modulo 2^64.
  uint64_t time_shift;
  // The track's sample source, looked up once a seek: null when each sample
  // is one range of the file; else its pieces and held bytes, or its
  // importer's locators.
  const ConvertedTrack* converted;
};

// A walk over a track's samples apart from its reading position; a closed
// one's place is taken by the next opened.
struct SampleWalkSlot {
  TableCursor table;
  bool open;
};

// The track samples were last written to, and its time and table records:
// every sample would otherwise look all three up again. Trusted only while
// the track list still holds that track at `index` with those records.
struct WriteTarget {
  uint32_t track_id;
  uint32_t index;
  MdhdRecord* mdhd;
  StblRecord* stbl;
};

struct MediaFile : ImportFile {
  GrowArray<ReadCursor> cursors;
  GrowArray<SampleWalkSlot> walks;
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
  WriteTarget write_target;
  // Header first (see OpenParams).
  uint32_t header_first;
  HeaderBlock* header_out;
  const uint8_t* stored_header;
  uint32_t stored_header_size;
};

}  // namespace vantorel
