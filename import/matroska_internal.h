#pragma once
// The importer's records for one Matroska or WebM file: the tracks as the
// track entries describe them, with every frame the clusters hold. They
// live only while the file is imported.
#include <cstdint>

#include "boxes/box_tree.h"
#include "boxes/owned_block.h"
#include "import/import_file.h"
#include "import/matroska_ebml.h"
#include "io/grow_array.h"

namespace vantorel {

// Track entries beyond this many are not imported.
constexpr uint32_t kMatroskaMaxTracks = 64;

enum MatroskaTrackType : uint64_t { kMkvVideo = 1, kMkvAudio = 2, kMkvSubtitle = 17 };

struct MkvFrame {
  uint64_t offset;
  uint32_t size;
  uint32_t key;
  int64_t time;  // TimestampScale units
};

struct MkvTrack {
  uint64_t number;
  uint64_t type;
  uint64_t enabled;
  uint64_t is_default;
  uint64_t default_duration;  // ns, 0 when not given
  uint64_t codec_delay;       // ns
  uint64_t seek_preroll;      // ns
  char name[256];
  char language[16];
  char codec_id[64];
  OwnedBlock codec_private;
  uint64_t width;
  uint64_t height;
  double sampling_frequency;
  uint64_t channels;
  uint64_t bit_depth;
  uint32_t encoded;  // has ContentEncodings: not imported
  GrowArray<MkvFrame> frames;
};

struct MkvImport {
  ImportFile* file;
  FileBoxes* root;
  uint64_t file_size;
  uint64_t timestamp_scale;  // ns per tick
  char title[256];
  MkvTrack* tracks[kMatroskaMaxTracks];
  uint32_t track_count;
  uint32_t tracks_read;       // the first Tracks element wins
  uint32_t cut_track;         // index + 1 of the track whose block the file cuts, 0 when none
  uint64_t max_frames;        // no track holds more frames than the file has bytes
};

// The track whose TrackNumber is `number`, or null.
MkvTrack* mkv_track_by_number(MkvImport* imp, uint64_t number);

// Reads one SimpleBlock or Block payload: its frames are appended to their
// track (frames of a track not imported are passed over).
ErrorCode mkv_read_block(MkvImport* imp, const EbmlElement* block, int64_t cluster_time, bool simple, bool keyframe);

// Builds the MP4 track of every imported Matroska track from its frames.
ErrorCode mkv_build_tracks(MkvImport* imp);

}  // namespace vantorel
