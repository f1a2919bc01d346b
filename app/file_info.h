#pragma once
// What --info tells about a file: the facts are gathered once into a
// FileDescription, and a text and a JSON printer show the same record.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "io/error.h"
#include "io/fourcc.h"
#include "io/grow_array.h"
#include "io/io_routines.h"
#include "mediafile/mediafile.h"
#include "remux/remux.h"

namespace vantorel::app {

struct TrackDescription {
  uint32_t track_id;
  ErrorCode failure;  // Ok, or why the library could not summarise the track; then only id and handler are set
  FourCC handler;     // handler type; zero when the track has none
  uint32_t has_picture;  // width and height describe a picture (video, subpictures)
  uint32_t is_sound;
  FourCC fourcc;      // first sample entry's format; zero when none
  const char* codec;  // the codec's common name, or null
  static constexpr uint32_t kMaxEntryBoxes = 16;
  FourCC entry_boxes[kMaxEntryBoxes];  // the first entry's child boxes, in order
  uint32_t entry_box_count;            // may exceed kMaxEntryBoxes: the rest are not listed
  uint32_t width, height;                        // video and subpicture tracks
  uint32_t sample_rate, sample_bits, channels;   // sound tracks
  uint32_t timescale;        // media time scale
  uint64_t media_duration;   // media units
  uint64_t played_duration;  // movie units, the edit list applied
  uint32_t counts_known;     // 1 when the sample tables were read: count and bit rates below are measured
  uint32_t sample_count;
  uint32_t avg_bitrate;      // bit/s
  uint32_t max_bitrate;      // bit/s over any one-second window
  uint64_t start_delay;      // movie units
  char language[4];
  char name[128];            // the track's title from its user data, else its handler's name; empty when none
  int32_t rotation;          // degrees counter-clockwise, as ffprobe gives them
  TrackDetails details;      // colour and display boxes (the rest is copied above)
  TrackShortfall shortfall;  // samples past the end of a cut file
  uint32_t verdict_known;    // 1 when the remux's decision is known
  uint32_t carried;          // 1 when the remux carries the track
  uint32_t as_stored;        // 1 when it is carried as stored: a format the remux does not rebuild
  const char* left_out_because;  // static text when not carried
};

struct FileDescription {
  const char* path;    // as the user gave it; may be null
  MediaFile* file;     // open while the description lives: the brands and tags point into it
  uint32_t open_mode;  // kOpenRead, or kOpenInspect for files only that mode reads
  uint32_t flavour;    // FileFlavour
  const FileBrands* ftyp;  // null without 'ftyp'; else `brands`
  FileBrands brands;
  uint32_t movie_timescale;
  uint64_t movie_duration;  // movie units
  GrowArray<TrackDescription> tracks;
  GrowArray<ChapterMark> chapters;
  // The movie's tags are read from `file` as they are printed.
  GrowArray<UserDataText> user_texts;  // QuickTime text entries of the movie's user data
};

// Opens `name` through `routines` (read mode, or inspect mode when read mode
// finds the format unsupported) and gathers what --info prints; `path` is
// the name as the user gave it, for the printers (may be null). `user` goes
// to the routines; `detail` (may be null) receives where a failed open
// failed. On failure nothing stays open and `out` is zeroed.
ErrorCode describe_file(const void* name, const char* path, const IoRoutines* routines, void* user,
                        ErrorDetail* detail, FileDescription* out, uint32_t program_number = 0);
// Closes the file and frees the lists.
void file_description_release(FileDescription* description);

void print_description_text(std::FILE* out, const FileDescription* description);
void print_description_json(std::FILE* out, const FileDescription* description);


// A four-character code as its characters, each byte that does not print as
// \xNN; "none" for a zero code; a WAVE format tag also by its number.
void print_code(std::FILE* out, FourCC f);
// ticks / scale as a decimal rounded to six places ("4.011000"); false for scale 0.
bool format_seconds(uint64_t ticks, uint32_t scale, char (&text)[32]);

}  // namespace vantorel::app
