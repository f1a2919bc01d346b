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
  // Colour, as the video's colour configuration codes them (2: unspecified).
  uint64_t primaries;
  uint64_t transfer;
  uint64_t matrix;
  uint64_t range;  // 0 unspecified, 1 broadcast, 2 full
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
  // Movie tags by MP4 item, in the order of kMkvTagItems; empty when not given.
  char tags[16][256];
  uint32_t part_number;
  OwnedBlock cover;
  uint32_t cover_type;       // 13 JPEG, 14 PNG; 0 while there is no cover
  uint32_t cover_named;      // the cover came from a file named cover.*
  uint32_t chapters_read;    // the first edition wins
};

ErrorCode mkv_read_tags(MkvImport* imp, const EbmlElement* tags);
ErrorCode mkv_read_chapters(MkvImport* imp, const EbmlElement* chapters);
ErrorCode mkv_read_attachments(MkvImport* imp, const EbmlElement* attachments);
// The title, tags and cover as the movie's 'udta' 'meta', read back as an
// MP4 reader reads one.
ErrorCode mkv_add_movie_tags(MkvImport* imp);

// Walks the children of `parent`, calling `visit` for each, and stops at
// the end of the file when the parent is open.
template <class Visit>
ErrorCode mkv_walk(MkvImport* imp, const EbmlElement* parent, Visit visit) {
  ImportFile* file = imp->file;
  const bool open = parent->unknown_size || parent->cut;
  VT_TRY(file_seek(file, parent->data));
  while (!io_failed(file)) {
    EbmlElement e;
    bool got = false;
    VT_TRY(ebml_next(file, parent->end, open, &e, &got));
    if (!got) break;
    VT_TRY(visit(&e));
    if (e.cut) break;
    VT_TRY(file_seek(file, e.end));
  }
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

// The track whose TrackNumber is `number`, or null.
MkvTrack* mkv_track_by_number(MkvImport* imp, uint64_t number);

// Reads one SimpleBlock or Block payload: its frames are appended to their
// track (frames of a track not imported are passed over).
ErrorCode mkv_read_block(MkvImport* imp, const EbmlElement* block, int64_t cluster_time, bool simple, bool keyframe);

// Builds the MP4 track of every imported Matroska track from its frames.
ErrorCode mkv_build_tracks(MkvImport* imp);

}  // namespace vantorel
