#pragma once
// The media file library's public interface: opening and closing files, the
// movie and track summaries, sample reading by cursor, adding tracks and
// writing samples.
#include <cstdint>

#include "io/error.h"
#include "io/file_io.h"
#include "io/fourcc.h"
#include "io/media_kinds.h"
#include "io/io_routines.h"

namespace vantorel {

struct MediaFile;  // one open file
struct FileBoxes;  // its box tree
struct TrackBoxes;
struct DecoderConfigVc1;
struct Dec3Record;

// What a file was read as.
enum FileFlavour : uint32_t { kFlavourNone = 0, kFlavourMp4 = 1, kFlavourQuickTime = 2, kFlavourAvi = 3, kFlavourAsf = 4,
                               kFlavourMatroska = 5, kFlavourMpegTs = 6, kFlavourMpegPs = 7 };
// A flavour's short name ("avi") and its title ("AVI"); "unknown" for none.
const char* media_format_name(uint32_t flavour);
const char* media_format_title(uint32_t flavour);

// What a caller fills to open a file.
// A movie header serialised to memory; `data` is malloc'd. A measuring
// file also tells the bytes its 'mdat' holds after its 16-byte header room:
// the size to plan (PCM tables count frames, not bytes).
struct HeaderBlock {
  uint8_t* data;
  uint32_t size;
  uint64_t media_data_size;
};

struct OpenParams {
  IoRoutines routines;
  const void* path;
  uint32_t header_buffering_off;
  FourCC major_brand;
  uint32_t minor_version;
  uint32_t compatible_brand_count;
  const FourCC* compatible_brands;
  uint32_t movie_timescale;
  uint32_t flags;  // MediaFileFlags
  uint32_t reserved_header_space;
  uint64_t planned_mdat_size;
  // Create mode: the size the file is expected to reach (0: not known). Its
  // room is asked of the routines before anything is written.
  uint64_t planned_file_size;
  const char* writer_name;  // null: kDefaultWriterName
  uint32_t samples_per_chunk;
  void* user;
  ErrorDetail* failure_detail;  // when set, where a failed open failed
  // Header first (create mode): the movie header goes right after 'ftyp',
  // before the media data, and nothing is ever written twice, so the output
  // may be a pipe. A measuring run names `header_out`: close fills it with
  // the header this file would have with its samples moved behind it (the
  // caller frees the data). The writing run hands that header back in
  // `stored_header` and `planned_mdat_size` must be exact; close then fails
  // with Overrun when the file's own header would differ from it.
  uint32_t header_first;
  HeaderBlock* header_out;
  const uint8_t* stored_header;
  uint32_t stored_header_size;
  // Reading a transport stream: the program to take (its program_number);
  // 0 takes the one with the most packets.
  uint32_t program_number;
};

// ---- Opening and closing -------------------------------------------------------

// Opens a file in mode 0 (read), 1 (inspect), 2 (create) or 3 (update). On
// failure nothing is stored in `out` and everything allocated is released.
ErrorCode media_open(MediaFile** out, const OpenParams* params, uint32_t mode);
// Finalises a file in create or update mode, closes its stream and frees it.
// The result of a failed finalisation step or of the stream's close.
ErrorCode media_close(MediaFile* file);
// Frees the tree, metadata, cursors and lists, and the object (after detach).
void media_release(MediaFile* file);

// ---- Movie and tracks --------------------------------------------------------------

enum MovieFlags : uint32_t {
  kMovieBrandMsnv = 0x001,
  kMovieHasTdrm = 0x002,
  kMovieHasAvcUuid = 0x040,
  kMovieHasStrx = 0x080,
  kMovieLongDescriptorLengths = 0x100,
};

struct MovieInfo {
  FileBoxes* root;
  uint32_t timescale;
  uint64_t duration;  // movie units
  uint32_t flavour;
  uint32_t flags;     // MovieFlags, aligned with MediaFileFlags
  uint32_t track_count;
  uint32_t video_count;
  uint32_t first_video_id;
  uint32_t sound_count;
  uint32_t first_sound_id;
  uint32_t subpicture_count;
  uint32_t first_subpicture_id;
  uint32_t subtitle_count;
  uint32_t first_subtitle_id;
  // 1 for a recording found cut short: the file says it holds more than it does.
  uint32_t found_cut;
};

struct TrackInfo {
  TrackBoxes* track;  // valid until tracks are added or removed
  uint32_t track_id;
  uint32_t tkhd_flags;
  uint16_t layer;
  uint32_t kind;             // HandlerKind
  FourCC fourcc;             // first sample entry's format; zero when none
  uint32_t object_type;      // first entry's esds objectTypeIndication, 0 if none
  const char* handler_name;  // the hdlr's string, or null
  char language[4];
  uint32_t timescale;
  int32_t first_composition_offset;
  uint64_t start_delay;      // movie units: a leading empty edit
  // Media units: where the edit list ends the presentation when that is
  // before the last sample ends (audio padding); 0 when it runs to the end.
  int64_t media_end;
  uint64_t media_duration;   // media units
  uint32_t sample_count;
  uint32_t max_sample_size;
  uint32_t entry_count;      // sample entries in 'stsd'
  // Video and subpicture: picture size in pixels; 'avc1': NAL length size.
  uint32_t width;
  uint32_t height;
  uint32_t nal_length_size;
  // Sound.
  uint32_t sample_rate;  // Hz
  uint32_t sample_bits;
  uint32_t channel_count;
  uint32_t avg_bitrate;
  uint32_t max_bitrate;
  const uint8_t* decoder_info;
  uint32_t decoder_info_size;
  // What carrying the track into a new file keeps of how it is stored.
  FourCC handler_type;            // as stored; zero without one
  int64_t first_edit_media_time;  // media units: where its first edit starts the media
  // Media units the import added to every composition offset (to make
  // them non-negative); the presentation starts that much later in the media.
  int64_t composition_shift;
  // A fragmented file's: the first fragment's decode time, media units; all ones otherwise.
  uint64_t first_fragment_time;
  uint32_t has_sample_groups;  // 1 when its samples carry sample groups, dependencies or sub-samples
};

ErrorCode movie_info(MediaFile* file, MovieInfo* out);
ErrorCode track_info(MediaFile* file, uint32_t track_id, TrackInfo* out);
// The distance of the track's 'roll' sample group in samples (negative:
// the samples before one that decoding it needs, as AAC and Opus give);
// false when the track has no such group.
bool track_roll_distance(MediaFile* file, uint32_t track_id, int16_t* distance);
// The types of the child boxes of a track's first sample entry, in order (at
// most `capacity` into `out`; `count` says how many there are). None for
// entries whose fields the library does not know.
ErrorCode track_entry_boxes(MediaFile* file, uint32_t track_id, FourCC* out, uint32_t capacity, uint32_t* count);
// Metadata carried as read from one file to a file being created: the
// movie's user data (all but the chapter list, which the chapters make) and
// movie-level 'meta'; a track's 'udta' and 'meta'.
ErrorCode copy_movie_metadata(MediaFile* from, MediaFile* to);
ErrorCode copy_track_metadata(MediaFile* from, uint32_t from_track, MediaFile* to, uint32_t to_track);
// Note `index` of what opening the file left out (a track whose codec has no
// MP4 form, say), as a sentence; null past the last.
const char* import_note(MediaFile* file, uint32_t index);
// The track's title from its user data; Missing when it has none.
ErrorCode track_name(MediaFile* file, uint32_t track_id, char* out, uint32_t capacity);
// The channels a decoder gives for a sound track: from the AAC configuration,
// or (files open for reading) the first MPEG audio frame header, else the
// sample entry's count, which ISO files fix at 2.
uint32_t track_decoded_channels(MediaFile* file, const TrackInfo* info);

struct TrackIterator {
  MediaFile* file;
  uint32_t filter;
  uint32_t kind;
  uint32_t position;
};

// Null when out of memory or without a file.
TrackIterator* track_iterator_new(MediaFile* file, uint32_t filter, uint32_t kind);
// Ok with the record filled; NoMore after the last track.
ErrorCode track_iterator_next(TrackIterator* iterator, TrackInfo* out);
void track_iterator_free(TrackIterator* iterator);

struct SizeEstimate {
  uint32_t ftyp_size;    // whole 'ftyp' box
  uint32_t header_size;  // the top-level boxes the tree holds: 'ftyp', PROF, 'moov'
  uint64_t total_sample_bytes;
};
enum SizeEstimateParts : uint32_t { kEstimateHeader = 0x1, kEstimateSamples = 0x2 };
ErrorCode size_estimate(MediaFile* file, SizeEstimate* out, uint32_t what);

// ---- Track statistics ---------------------------------------------------------------

uint32_t track_sample_count(TrackBoxes* track);
uint32_t track_chunk_count(TrackBoxes* track);
uint32_t track_max_sample_size(TrackBoxes* track);
uint32_t track_min_delta(TrackBoxes* track);  // all ones without entries
bool track_delta_varies(TrackBoxes* track);
uint64_t track_total_bytes(TrackBoxes* track);
uint32_t track_avg_bitrate(TrackBoxes* track);
uint32_t track_max_bitrate(TrackBoxes* track);

// ---- Reading samples ---------------------------------------------------------------

struct SampleRead {
  uint8_t* buffer;  // in
  uint32_t capacity;
  uint32_t size;  // out
  uint32_t index;  // 0-based
  uint64_t time;
  uint32_t duration;
  uint32_t description_index;
  int32_t composition_offset;
  uint32_t sync;
};

// Positions a track's cursor by 0-based sample index or by time (media units),
// optionally snapping to a sync sample. NoMore when there is nothing to read.
ErrorCode track_seek(MediaFile* file, uint32_t track_id, uint32_t by_time, uint32_t* index, uint64_t* time,
                     uint32_t snap, uint32_t forward);
ErrorCode read_next_sample(MediaFile* file, uint32_t track_id, SampleRead* sample);
// The same without reading the bytes: the sample's description, its size
// and in `offset` where its bytes lie in the file (the buffer is not used).
ErrorCode locate_next_sample(MediaFile* file, uint32_t track_id, SampleRead* sample, uint64_t* offset);

// ---- Locating and timing samples -------------------------------------------------
// One table cursor behind these and the reading calls above.

// What a track of a file open for reading can deliver: the samples its
// tables describe consistently and the file holds, up to the first that
// lies wholly or partly past the file's end (a recording cut short) or that
// claims more PCM frames than it has bytes.
struct ReadableSamples {
  uint32_t count;      // samples that can be read
  uint32_t described;  // samples the time and size tables describe
  uint32_t largest;    // bytes, of the samples that can be read
  bool past_end;       // the count stops at a sample past the file's end
};
ErrorCode track_readable_samples(MediaFile* file, uint32_t track_id, ReadableSamples* out);
// The duration (media units) of samples [from, to) of a track, 0-based.
uint64_t track_samples_duration(MediaFile* file, uint32_t track_id, uint32_t from, uint32_t to);
// The size its tables give sample `index` (0-based) of a track; 0 past the last.
uint32_t track_sample_size(MediaFile* file, uint32_t track_id, uint32_t index);

// A walk over the first `count` samples of a track, apart from its reading
// position: for a caller that plans from the samples' times, sizes and sync
// flags before reading them (`count` at most what track_readable_samples
// gives). `*walk` names it until closed; closing the file closes it too.
// A walk that `locates` follows the chunks too, for the samples' places and
// descriptions (a little more work a step).
ErrorCode sample_walk_open(MediaFile* file, uint32_t track_id, uint32_t count, uint32_t* walk, bool locates = false);
// The walk's next sample: its index, time (decode time from the track's
// first sample, media units), duration, composition offset, size and sync
// flag, the buffer unused; where the walk locates, its description and,
// given `offset`, where its bytes lie as locate_next_sample says (else 1
// and 0). NoMore past the walk's last.
ErrorCode sample_walk_next(MediaFile* file, uint32_t walk, SampleRead* out, uint64_t* offset = nullptr);
void sample_walk_close(MediaFile* file, uint32_t walk);

// A sample located by locate_next_sample, for laying it out later: the
// `offset` it gave, its 0-based index and its size.
struct SamplePlace {
  uint64_t offset;
  uint32_t index;
  uint32_t size;
};
// A stretch of the file that makes part of a sample: `size` bytes at file
// `offset`, due at `at` within the sample; once read, each pair of its bytes
// is swapped when `swap16` is set.
struct SampleRange {
  uint64_t offset;
  uint32_t size;
  uint32_t at;
  bool swap16;
};
using SampleRangeSink = ErrorCode (*)(void* user, const SampleRange* range);
// For a caller that reads many samples at once: puts into `out` (room for
// the sample's size) the bytes of a located sample that are not read from
// the file as they lie (bytes the import holds or makes, or expands from
// its locators), and hands `sink` each stretch of the file the rest is read
// from, in sample order. A sample read whole is one stretch.
ErrorCode lay_out_located_sample(MediaFile* file, uint32_t track_id, const SamplePlace* place, uint8_t* out,
                                 SampleRangeSink sink, void* user);

// ---- Adding tracks ---------------------------------------------------------------------

// The codec kinds a track can be built for.
enum TrackKind : uint32_t {
  kKindMpeg4Visual = 0,
  kKindAvc = 1,
  kKindH263 = 2,
  kKindMpeg4Audio = 3,
  kKindAmr = 4,
  kKindSubpicture = 5,
  kKindAc3 = 6,
  kKindVc1 = 7,
  kKindStreamingExtension = 8,
  kKindMpeg1Audio = 9,
  kKindMotionJpeg = 10,
  kKindPcm = 11,
  kKindEac3 = 12,
  kKindWhole = 13,  // any carried format: the input's sample entries as they are
};

// What a writer fills (zeroed first) to add a track: a codec part whose
// meaning depends on the kind, then the common part.
struct TrackSpec {
  uint32_t kind;   // TrackKind
  uint32_t width;          // video: pixels
  uint32_t height;
  uint32_t sample_rate;    // sound: Hz
  uint32_t channel_count;  // sound
  // Sound stored one sample per PCM frame: the 'stsz' size of a frame (1,
  // or the bytes of a frame); each block written is then one chunk of
  // SampleWrite::duration frames. 0: by the kind (PCM: the bytes of a frame).
  uint32_t pcm_frame_size;
  union {
    struct {
      const uint8_t* decoder_info;  // visual object sequence and video object layer headers
      uint32_t decoder_info_size;
      uint8_t object_type;  // objectTypeIndication; 0 for MPEG-4 Visual (0x20)
    } mpeg4_visual;
    struct {
      uint8_t nal_length_minus_one;
      uint8_t sps_count;
      uint32_t sps_size;
      const uint8_t* sps;  // each set preceded by its 16-bit big-endian length
      uint32_t pps_count;
      uint32_t pps_size;
      const uint8_t* pps;
      const uint8_t* trailing;  // the configuration's bytes after the last picture parameter set
      uint32_t trailing_size;
    } avc;
    struct {
      uint32_t vendor;
      uint8_t decoder_version;
      uint8_t level;
      uint8_t profile;
    } h263;
    struct {
      uint32_t audio_level;  // the profile level of the profile box
      const uint8_t* decoder_info;  // AudioSpecificConfig
      uint32_t decoder_info_size;
    } mpeg4_audio;
    struct {
      uint32_t variant;  // 0 "samr", 1 "sawb", 2 "sawp"
      uint32_t vendor;
      uint8_t decoder_version;
      uint16_t mode_set;
      uint8_t mode_change_period;
      uint8_t frames_per_sample;
    } amr;
    struct {
      const uint8_t* decoder_info;
      uint32_t decoder_info_size;
    } subpicture;
    struct {
      uint32_t variant;  // 0 "ac-3", else "sac3"
      uint32_t packed;   // the 'dac3' fields packed from the least significant bit
    } ac3;
    struct {
      const DecoderConfigVc1* config;  // profile, level and the profile's fields
      const uint8_t* header;           // advanced profile: sequence and entry-point headers
      uint32_t header_size;
    } vc1;
    struct {
      uint32_t variant;  // 0 "jpeg", 1 "mjpa", 2 "mjpb"
      uint8_t interlaced;
      uint8_t field_a;
      uint8_t field_b;
    } mjpeg;
    struct {
      const Dec3Record* config;
    } eac3;
    struct {
      uint8_t object_type;  // 0x69 for the MPEG-2 rates; 0 for MPEG-1 audio (0x6B)
    } mpeg1_audio;
    struct {
      FourCC format;  // 'twos' (also when zero), 'sowt' or 'raw '
      uint32_t sample_bits;  // 0: 16
    } pcm;
    struct {
      uint32_t handler_kind;  // HandlerKind of the track
      const uint8_t* entries;  // the sample entry boxes, as an 'stsd' holds them after its count
      uint32_t entries_size;
      uint32_t entry_count;
      const uint8_t* base_media_header;  // a media header's payload to carry in place of the kind's
      uint32_t base_media_header_size;
      FourCC base_media_header_type;  // 'gmhd' (also when zero) or 'sthd'
      FourCC handler_type;  // kHandlerOther: the handler type as read
    } whole;
  } codec;

  // Common part.
  uint32_t timescale;  // media time scale; for sound also the sample rate
  char language[4];    // three letters; empty for "und"
  const char* handler_name;  // null: the handler kind's default name
  uint32_t track_id;   // 0: the movie's next track id
  uint32_t reference_type;  // ReferenceType of a 'tref', 0 for none
  uint32_t reference_count;
  const uint32_t* reference_ids;
  // Media time (media units) at which the track's presentation starts: the
  // first edit of an input track plus what normalising its composition
  // offsets added. 0 for none.
  int64_t media_time;
  // Media time the presentation ends by at the latest (TrackInfo::media_end,
  // in the track's media time); 0: where the samples end.
  int64_t media_end;
};

// Adds a track to a file open for creating or updating: the track's id, or 0
// on any failure (a half-built track is removed again).
uint32_t media_add_track(MediaFile* file, const TrackSpec* track_spec);

// ---- Carrying tracks from one file into another ----------------------------------

// Why an input track is not carried into the output.
enum DropReason : uint32_t {
  kDropCodec = 1,             // a codec the remux does not carry
  kDropConfiguration = 2,     // its codec configuration is missing or unusable
  kDropDescriptions = 3,      // its samples use sample descriptions that differ
  kDropTables = 4,            // its sample tables are missing
  kDropObjectType = 5,        // an 'mp4a' track of an object type the remux does not carry
  kDropMalformed = 6,         // a box of the track is cut inside its fields
  kDropNeedsQuickTime = 7,    // a codec only a QuickTime movie holds, and the output is an MP4
  kDropStreamUnreadable = 8,  // an imported stream whose data does not parse as its codec
  kDropOutsideRange = 9,      // it shows nothing within the range cut out
};

// How a track of a file open for reading goes into a new file: its sample
// entries as read, or rebuilt from what the library knows of its codec.
struct TrackCarry {
  bool whole;           // its sample entries go out as read
  bool as_stored;       // a format the library does not rebuild, carried whole under its own handler
  bool derived_config;  // a missing configuration record is derived
  bool video;
  bool audio;
  bool subpicture;
  uint32_t ac3_packed;  // the 'dac3' fields of an AC-3 track (from its first frame when needed)
};
// Whether the track `info` summarises can go into an MP4 or (`quicktime`) a
// QuickTime movie: `*drop_reason` is 0, or the DropReason it cannot.
ErrorCode track_carry(MediaFile* in, const TrackInfo* info, bool quicktime, TrackCarry* out, uint32_t* drop_reason);
// The new file's track for it: `shape` filled but for media times and
// references, or `*drop_reason` set when it cannot be built.
ErrorCode track_carry_shape(MediaFile* in, const TrackInfo* info, const TrackCarry* carry, TrackSpec* shape,
                            uint32_t* drop_reason);
// The brand a carried format asks the output's 'ftyp' for; zero for none.
FourCC carried_format_brand(FourCC format);

// How much of a track a cut recording lacks: samples past the end of the
// file, samples its import could not carry whole, or, in a file found cut,
// a track ending well before the file's declared end.
struct TrackShortfall {
  uint32_t missing;  // samples
  uint32_t total;
  uint64_t missing_ms;
};
// `readable` (when given) gets the track's readable samples; `*past_end` is
// whether anything is missing (then `out` is filled).
ErrorCode track_shortfall(MediaFile* file, uint32_t track_id, TrackShortfall* out, ReadableSamples* readable,
                          bool* past_end);

// A track the reading left out: its id (0 when its header failed), and for
// a stream whose data does not parse as its codec, its handler type and
// format (zero for a track left out for a box). NoMore past the last.
struct DroppedTrackFacts {
  uint32_t track_id;
  FourCC handler;
  FourCC format;
};
ErrorCode dropped_track(MediaFile* file, uint32_t index, DroppedTrackFacts* out);
// The handler kind of a handler type; kHandlerUnknown for types the library does not know.
uint32_t handler_kind_of_type(FourCC type);
// Marks the file malformed for `reason` (what media_failure_detail then
// tells): returns Malformed.
ErrorCode media_malformed(MediaFile* file, const char* reason);

// Whether a track refers to others ('tref').
bool track_has_references(MediaFile* file, uint32_t track_id);
// The track ids a track's 'chap' reference names (pointing into the file);
// 0 when it has none.
uint32_t track_chapter_ids(MediaFile* file, uint32_t track_id, const uint32_t** ids);
// Adds to a new file's track's 'chap' reference the ids it does not list yet.
ErrorCode add_track_chapter_ids(MediaFile* file, uint32_t track_id, const uint32_t* ids, uint32_t count);
// Copies a track's references into a new file's track, in order, without
// ids other than the `kept` ones (the tracks the new file carries; ids stay
// as read).
ErrorCode copy_track_references(MediaFile* from, uint32_t from_track, MediaFile* to, uint32_t to_track,
                                const uint32_t* kept, uint32_t kept_count);
// How a movie and a track are presented survives a remux: the movie's matrix
// and creation time; a track's orientation, alternate group, enabled flags,
// layer, volume, display size and creation times. Modification times stay "now".
void copy_movie_presentation(MediaFile* from, MediaFile* to);
void copy_track_presentation(MediaFile* from, uint32_t from_track, MediaFile* to, uint32_t to_track);
// A new file's track takes the sample groups of a track whose samples it
// will carry (their descriptions; the samples map as they are written).
ErrorCode start_sample_groups(MediaFile* from, uint32_t from_track, MediaFile* to, uint32_t to_track);
// A 'colr' the import built (not one read) takes a QuickTime movie's form in
// a new file's track carrying the entries whole.
void carry_built_colour_as_quicktime(MediaFile* from, uint32_t from_track, MediaFile* to, uint32_t to_track);
// A time code track's sample `index` (its frame number) re-counted by the
// frames `media_time` (media units of `timescale`) passes over, big-endian
// into `out`; false when the track's entry or sample is not one it can count.
bool recount_timecode_sample(MediaFile* file, uint32_t track_id, uint32_t index, uint64_t media_time,
                             uint32_t timescale, uint8_t out[4]);
// Whether two files' movie tags are the same, item by item.
bool movie_tags_equal(MediaFile* a, MediaFile* b);

// A track's sample entries as read, as an 'stsd' holds them after its
// count; Missing when they were not kept (an imported track's).
ErrorCode track_whole_entries(MediaFile* file, uint32_t track_id, const uint8_t** entries, uint32_t* size,
                              uint32_t* count);
// Whether the tracks two summaries describe have entries built from the
// same configuration (for tracks whose entries are not kept as read): an
// AAC configuration agrees by object type, channels and frame length.
bool track_configs_agree(const TrackInfo* a, const TrackInfo* b);
// The track header's matrix (nine 32-bit values as stored).
ErrorCode track_matrix(MediaFile* file, uint32_t track_id, uint32_t out[9]);
// The handler kind of a track, also of one track_info cannot summarise.
uint32_t track_handler_kind(MediaFile* file, uint32_t track_id);
// The frame number a time code track's sample of value `frame` reads
// `elapsed` media units (of `timescale`) later; false when the track's
// entry is not a time code it can count.
bool track_timecode_advance(MediaFile* file, uint32_t track_id, uint32_t frame, uint64_t elapsed, uint32_t timescale,
                            uint32_t* out);

// An edit of a track's list: where in the media it starts (-1: an empty
// edit), for how long (movie units), at what rate.
struct TrackEdit {
  int64_t media_time;
  uint64_t duration;
  int16_t rate_integer;
  uint16_t rate_fraction;
};
// The track's edits, at most `capacity` into `out`; returns how many it has.
uint32_t track_edits(MediaFile* file, uint32_t track_id, TrackEdit* out, uint32_t capacity);
// Puts `count` edits (at rate 1) in place of a new file's track's list.
ErrorCode set_track_edits(MediaFile* file, uint32_t track_id, const TrackEdit* edits, uint32_t count);
// Adds a chapter to a new file's movie at `start_time` (100 ns units); the
// title is cut to 255 bytes.
ErrorCode add_movie_chapter(MediaFile* file, uint64_t start_time, const char* title);
// Gives a new file's track a 'roll' group over all its samples written so
// far, each decoded right after the `-distance` before it, unless it has a
// 'roll' grouping already.
ErrorCode add_roll_group(MediaFile* file, uint32_t track_id, int16_t distance);
// A track's box tree, for calls made once a sample (valid until tracks are
// added or removed); null when there is no such track.
TrackBoxes* media_track(MediaFile* file, uint32_t track_id);
// Records that the `count` samples just written to `to` are samples `index`
// on (0-based) of `from`: their groups in each grouping, their dependency
// bytes and their sub-samples.
ErrorCode follow_sample_groups(TrackBoxes* to, TrackBoxes* from, uint32_t index, uint32_t count);
// Whether a file being written mirrors every sample (the Streaming
// Extension): its samples cannot be written as planned runs of bytes.
bool media_mirrors_samples(MediaFile* file);
// Whether a format's tables count PCM frames rather than samples.
bool format_counts_frames(FourCC format);
// A hash of metadata carried as read: the movie's ('meta' and user data)
// for track 0, else that track's.
uint64_t carried_metadata_hash(MediaFile* file, uint32_t track_id);
// The file's byte stream, for reading bytes where they lie (io/byte_io.h,
// io/file_io.h).
FileIo* media_io(MediaFile* file);
// A new file's track takes the sample groups of another input's track whose
// samples follow in it: descriptions joined entry by entry (identical ones
// shared), groupings by type and parameter; dependencies and sub-samples follow.
ErrorCode join_sample_groups(MediaFile* from, uint32_t from_track, MediaFile* to, uint32_t to_track);
// Whether an edit of a sound track starting at `media_time` (media units)
// skips what its encoder put before the sound: AAC's priming (1024 or 2112
// samples), Opus's pre-skip as its 'dOps' says.
bool edit_skips_priming(MediaFile* file, uint32_t track_id, int64_t media_time);

// ---- Writing samples ------------------------------------------------------------------

enum SampleFlags : uint32_t { kSampleSync = 0x1 };

struct SampleWrite {
  const uint8_t* data;
  uint32_t size;
  uint64_t start_delay;  // movie units; looked at for a track's first sample only
  uint32_t duration;     // media units; for 'twos', the PCM frames in the data
  int32_t composition_offset;
  uint32_t flags;  // SampleFlags
  uint32_t description_index;  // 1-based sample description; 0 counts as 1
};

ErrorCode write_sample(MediaFile* file, uint32_t track_id, const SampleWrite* sample);
// Records a sample in the tables as write_sample does, but leaves its bytes
// to the caller: they follow, in recording order, through
// write_recorded_bytes (the data pointer may be null). BadArgument with the
// Streaming Extension on, whose mirror records go between the samples.
ErrorCode record_sample(MediaFile* file, uint32_t track_id, const SampleWrite* sample);
// Writes bytes of samples recorded and not yet written; BadArgument for
// more than are owed. Closing a file that still owes bytes fails (Overrun).
ErrorCode write_recorded_bytes(MediaFile* file, const void* data, uint32_t count);
// The same for bytes gathered from several places (`total` their sum).
ErrorCode write_recorded_pieces(MediaFile* file, const IoConstPiece* pieces, uint32_t count, uint64_t total);
// Ends the chunk being written.
ErrorCode close_chunk(MediaFile* file);
// Shortens the track's last sample so that the track ends by `movie_end`
// (movie units from the start of the file); a text track's last sample can
// outlast the stretch of the movie the file holds.
ErrorCode trim_track_end(MediaFile* file, uint32_t track_id, uint64_t movie_end);

}  // namespace vantorel

namespace vantorel {

// ---- Describing a file --------------------------------------------------------------
// What a description of a file shows beyond what reading and writing need.
// Texts and lists point into the open file and live as long as it.

// Where in the file the last failure on it was found (box path, offset,
// reason): what a failed call after the open can add to its code.
void media_failure_detail(MediaFile* file, ErrorDetail* out);

// The id of the movie's track `index` (0-based, in file order), also of a
// track track_info cannot summarise; 0 past the last.
uint32_t movie_track_id(MediaFile* file, uint32_t index);

// The brands of the file's 'ftyp'.
struct FileBrands {
  FourCC major_brand;
  uint32_t minor_version;
  uint32_t brand_count;
  const FourCC* compatible_brands;
};
// Missing when the file has no 'ftyp'.
ErrorCode file_brands(MediaFile* file, FileBrands* out);

// A 'colr' box: coded colour properties ('nclx', 'nclc') or an ICC profile
// ('prof', 'rICC'). The codes are those of the video standards' tables.
struct ColourFacts {
  FourCC colour_type;  // zero when the entry has no 'colr'
  uint16_t primaries;
  uint16_t transfer;
  uint16_t matrix;
  uint32_t range_known;  // 1 for 'nclx', which says whether the range is full
  uint32_t full_range;
  uint32_t profile_size;  // bytes of an ICC profile
};
// An 'mdcv' box: the mastering display's primaries (green, blue, red as
// stored) and white point in 0.00002 units, its luminance in 0.0001 cd/m2.
struct MasteringDisplayFacts {
  uint32_t present;
  uint16_t primary_x[3];
  uint16_t primary_y[3];
  uint16_t white_x;
  uint16_t white_y;
  uint32_t max_luminance;
  uint32_t min_luminance;
};
// A 'clli' box: the content's light levels in cd/m2.
struct LightLevelFacts {
  uint32_t present;
  uint16_t max_content;
  uint16_t max_frame_average;
};
// A 'dvcC' or 'dvvC' box: the Dolby Vision configuration.
struct DolbyVisionFacts {
  FourCC box;  // zero when the entry has neither
  uint8_t version_major;
  uint8_t version_minor;
  uint8_t profile;
  uint8_t level;
  uint8_t rpu_present;
  uint8_t el_present;
  uint8_t bl_present;
  uint8_t compatibility_id;
};

// What a description adds to TrackInfo.
struct TrackDetails {
  FourCC handler_type;      // as stored; an imported track's kind's type
  const char* codec_name;   // the codec's common name, or null
  uint32_t has_picture;     // 1 when width and height describe a picture (video, subpictures)
  uint32_t is_sound;
  uint32_t counts_frames;   // PCM whose tables count frames: the sample count is the duration
  // Measured from the sample tables (files open for reading): bytes, bit/s
  // over the media duration (as stored, priming and all), and bit/s over
  // any one-second window, never below the average (a track shorter than a
  // second).
  uint64_t total_bytes;
  uint32_t avg_bitrate;
  uint32_t max_bitrate;
  // The picture's turn in whole degrees, as the track header's matrix gives
  // it: counter-clockwise, from -180 to 180, 0 without a turn.
  int32_t rotation;
  // The presentation's length in movie units with the edit list applied
  // (its edits that show media); the media duration without a list.
  uint64_t played_duration;
  uint32_t edit_count;      // edits in the list, empty ones included
  ColourFacts colour;
  MasteringDisplayFacts mastering_display;
  LightLevelFacts light_level;
  DolbyVisionFacts dolby_vision;
};
ErrorCode track_details(MediaFile* file, uint32_t track_id, TrackDetails* out);
// The track's name for a description: its user data title, else the
// handler's name; Missing when it has neither.
ErrorCode track_display_name(MediaFile* file, uint32_t track_id, char* out, uint32_t capacity);

// A chapter of the movie: where it starts (in 100 ns units) and its title.
struct ChapterMark {
  uint64_t start_time;
  char title[256];
};
uint32_t movie_chapter_count(MediaFile* file);
// NoMore past the last.
ErrorCode movie_chapter(MediaFile* file, uint32_t index, ChapterMark* out);

// A tag of the movie as a person reads it.
struct TagFacts {
  const char* name;        // the tag's name ("title", "cover", ...)
  const char* key;         // a keyed ('mdta') or freeform item's key; null otherwise
  const char* mean;        // a freeform item's namespace; null otherwise
  const char* full_name;   // the key where there is one, else the name
  char item[16];           // the 'ilst' item type as text ("\xC2\xA9nam"); empty for keyed items
  uint32_t value_count;
};
// One value of a tag: text as stored, numbers and track numbers formatted,
// pictures and other binary values by kind and size.
struct TagValueText {
  const char* text;  // what to show (in the file or in `buffer`); null for a binary value
  uint32_t length;
  const char* kind;  // "text", "utf16", "integer", "jpeg", "png", "bmp", "binary", ...
  uint32_t bytes;    // the value's size as stored (text without its NUL)
  char buffer[256];  // holds formatted or converted text: copy the record, and `text` may point into the old one
};
uint32_t movie_tag_count(MediaFile* file);
// NoMore past the last tag or value.
ErrorCode movie_tag(MediaFile* file, uint32_t index, TagFacts* out);
ErrorCode movie_tag_value(MediaFile* file, uint32_t index, uint32_t value, TagValueText* out);

// A QuickTime text entry of the movie's user data ('\xA9nam', '\xA9cmt', ...).
struct UserDataText {
  FourCC type;
  char type_name[16];  // the type as text, 0xA9 as the copyright sign; empty when it does not print
  const char* text;
  uint32_t length;
};
// Calls `visit` for each entry in order; stops early when it returns false.
ErrorCode movie_user_texts(MediaFile* file, bool (*visit)(const UserDataText& text, void* user), void* user);

}  // namespace vantorel
