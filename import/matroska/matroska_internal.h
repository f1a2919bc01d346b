#pragma once
// The importer's records for one Matroska or WebM file: the tracks as the
// track entries describe them, with every frame the clusters hold. They
// live only while the file is imported.
#include <cstdint>

#include "boxes/box_tree.h"
#include "boxes/owned_block.h"
#include "import/import_file.h"
#include "import/matroska/matroska_ebml.h"
#include "io/grow_array.h"

namespace vantorel {

// Bytes of a sample description being assembled.
struct MkvBytes {
  GrowArray<uint8_t> b;
  ErrorCode e;
  void put(const void* p, uint32_t n) {
    for (uint32_t i = 0; i < n && e == ErrorCode::Ok; ++i) e = b.append_doubling(static_cast<const uint8_t*>(p)[i], 256);
  }
  void u8(uint32_t v) {
    uint8_t x = static_cast<uint8_t>(v);
    put(&x, 1);
  }
  void u16(uint32_t v) { u8(v >> 8), u8(v); }
  void u32(uint32_t v) { u16(v >> 16), u16(v); }
  void zeros(uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) u8(0);
  }
  uint32_t open(const char* type) {
    uint32_t at = b.count;
    u32(0);
    put(type, 4);
    return at;
  }
  void close(uint32_t at) {
    if (e == ErrorCode::Ok) store_u32be(b.items + at, b.count - at);
  }
};

// Track entries beyond this many are not imported.
constexpr uint32_t kMatroskaMaxTracks = 64;

enum MatroskaTrackType : uint64_t { kMkvVideo = 1, kMkvAudio = 2, kMkvSubtitle = 17 };

struct MkvFrame {
  uint64_t offset;
  uint32_t size;
  uint32_t key;
  int64_t time;  // TimestampScale units
  uint64_t duration;  // BlockDuration, TimestampScale units; 0 when not given
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
  bool colour_given;     // a Colour element named primaries, transfer, matrix or range
  bool mastering_given;  // every chromaticity and the maximum luminance
  double mastering[10];  // red x, y, green x, y, blue x, y, white x, y, max and min cd/m2
  uint64_t max_cll;      // cd/m2, 0 when not given
  uint64_t max_fall;
  // The first BlockAdditionMapping of a Dolby Vision type, its record as it is.
  uint32_t addition_type;  // 'dvcC' or 'dvvC'; 0 when none
  OwnedBlock addition_record;
  double sampling_frequency;
  uint64_t channels;
  uint64_t bit_depth;
  uint64_t forced;
  char language_bcp47[36];
  // ContentEncodings: the one encoding this import undoes.
  uint32_t encodings;       // ContentEncoding elements
  uint64_t encoding_scope;  // 1 frames, 2 CodecPrivate, 4 the next encoding
  uint64_t encoding_type;   // 0 compression, 1 encryption
  uint64_t comp_algo;       // 0 zlib, 1 bzlib, 2 lzo1x, 3 header stripping
  OwnedBlock comp_settings; // the stripped header bytes
  int64_t discard_padding;  // ns the last block of frame `discard_frame` - 1 leaves out
  uint32_t discard_frame;
  GrowArray<MkvFrame> frames;
  const char* left_out;  // why the track cannot be carried (static text), or null
  uint32_t frames_cut;   // encoded frames the cut file lacks, taken off `frames`
  uint64_t cut_ms;       // and how long they last
};

struct MkvImport {
  ImportFile* file;
  FileBoxes* root;
  uint64_t file_size;
  uint64_t timestamp_scale;  // ns per tick
  char title[256];
  bool dated;          // DateUTC was given
  int64_t date_utc;    // ns since 2001-01-01
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
  uint64_t last_chapter_end; // ChapterTimeEnd of the edition's last chapter, 100 ns; 0 when not given
  // What the file declares of itself, to tell a cut file.
  double duration;            // Info's Duration in TimestampScale units; 0 when not given
  uint32_t segment_cut;       // the Segment's known size runs past the end of the file
  uint32_t cues_past_end;     // a cue points past the end of the file
  uint64_t segment_data;      // offset of the Segment's payload, where cue positions count from
  uint64_t stray_blocks;      // blocks of a track number no track entry has
};

ErrorCode mkv_read_tags(MkvImport* imp, const EbmlElement* tags);
ErrorCode mkv_read_chapters(MkvImport* imp, const EbmlElement* chapters);
ErrorCode mkv_read_attachments(MkvImport* imp, const EbmlElement* attachments);
// The title, tags and cover as the movie's 'udta' 'meta', read back as an
// MP4 reader reads one.
ErrorCode mkv_add_movie_tags(MkvImport* imp);
// The chapters as a QuickTime chapter text track too, which every track
// names through 'tref' 'chap'; players that do not read 'chpl' read it.
ErrorCode mkv_add_chapter_track(MkvImport* imp);

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
// `duration` is the group's BlockDuration (0 when not given). The block's
// track, when it is one imported, through `out_track` (may be null).
ErrorCode mkv_read_block(MkvImport* imp, const EbmlElement* block, int64_t cluster_time, bool simple, bool keyframe,
                         uint64_t duration = 0, MkvTrack** out_track = nullptr);

// The frames of an encoded track as the encoding leaves them undone: one
// sample of pieces a frame (the stripped header held before the frame's
// bytes, or the inflated frame held whole). When the track's encoding is
// one this import does not undo, `*why` says so and Ok is returned.
ErrorCode mkv_decode_frames(MkvImport* imp, MkvTrack* t, ConvertedTrack* out, const char** why);

// A subtitle track (SubRip or WebVTT) as 'tx3g' or 'wvtt' samples: each
// cue in order, empty samples filling the time between cues. `decoded` is
// the track's frames undone, or null when they are read whole. The track
// is made with `track_id`; `*why` as above.
ErrorCode mkv_build_text_track(MkvImport* imp, MkvTrack* t, const ConvertedTrack* decoded, uint32_t track_id,
                               const char** why);

// The track's Name as its 'udta' 'name', where QuickTime players look for a
// track's title (the handler name keeps it too).
ErrorCode mkv_add_track_name(TrackBoxes* track, const char* name);

// A V_MS/VFW/FOURCC track's frames (in decoding order, lasting `durations`
// media units each) converted as an AVI stream's: the track, made with its
// time scale, gets its entry and samples. `*why` says why they cannot be
// carried (the track is then to be removed), or is null.
ErrorCode mkv_convert_vfw_frames(MkvImport* imp, TrackBoxes* track, const MkvTrack* t, const uint32_t* durations,
                                 const char** why);

// Gives the track the sample entry `entry` holds (one whole box), read as an
// MP4 reader reads an 'stsd', so the entry is both parsed and kept whole.
ErrorCode mkv_set_entry(MkvImport* imp, TrackBoxes* track, const MkvBytes& entry);

// The track's language as three letters for 'mdhd': the BCP 47 tag's
// language when it has one of two or three letters, else Language.
void mkv_language(const MkvTrack* t, char out[4]);

// Builds the MP4 track of every imported Matroska track from its frames.
ErrorCode mkv_build_tracks(MkvImport* imp);

}  // namespace vantorel
