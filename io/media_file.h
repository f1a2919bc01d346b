#pragma once
// The MediaFile record: one open media file of the library. Its I/O part
// (mode, error latch, routine tables, writer name) is served by this layer;
// the fields after it belong to the layers above, which know the records
// that are only named here.
#include <cstdint>

#include "io/error.h"
#include "io/fourcc.h"
#include "io/grow_array.h"
#include "io/io_routines.h"

namespace vantorel {

struct FileBoxes;     // the box tree's root
struct ReadCursor;    // per-track reading state
struct TagRecord;     // metadata
struct ChapterRecord;

// In-memory form of one box header; also used for region bookkeeping.
struct BoxHeader {
  uint64_t start;  // position of the size field
  uint64_t end;    // start + size
  uint64_t size;   // whole box, header included
  FourCC type;
  uint8_t extended_type[16];  // meaningful for "uuid" only
};

// What a file was read as.
enum FileFlavour : uint32_t { kFlavourNone = 0, kFlavourMp4 = 1, kFlavourQuickTime = 2, kFlavourAvi = 3, kFlavourAsf = 4 };

// MediaFileFlags: set on create from OpenParams, set by readers on reading.
enum MediaFileFlags : uint32_t {
  kFlagPsp = 0x001,              // PROF profile box
  kFlagTdrm = 0x002,             // 'udta' with 'tdrm' on create; 'tags'/'chpl' read
  kFlagUdta = 0x004,             // 'udta' on create; 'meta' read
  kFlagNoSubpictureAdjust = 0x008,
  kFlagVideoOption10 = 0x010,    // strip MPEG-4 visual user data
  kFlagVideoOption20 = 0x020,    // lower the Simple-profile level
  kFlagVideoOption40 = 0x040,    // 'uuid' extension box in AVC entries
  kFlagStreamingExtension = 0x080,
  kFlagLongDescriptorLengths = 0x100,
};

struct RoutineTable {
  IoRoutines routines;
  void* handle;
};

// Where a failure happened, for messages the user can act on.
constexpr uint32_t kMaxBoxDepth = 24;
struct ErrorDetail {
  uint32_t set;          // 1 once a failure has been located
  uint64_t offset;       // start of the failing box
  char path[200];        // moov/trak[2]/mdia/minf/stbl/stsz
  const char* reason;    // static text, or null
};
struct BoxPath {
  uint32_t depth;
  FourCC type[kMaxBoxDepth];
  uint32_t index[kMaxBoxDepth];  // 1-based position among siblings of that type for 'trak', else 0
  uint64_t start[kMaxBoxDepth];
  uint64_t base_offset;  // added to positions while a box is parsed from a memory copy
};

// Metadata block: movie tags and chapters.
enum MetadataSource : uint32_t { kMetaNone = 0, kMetaFromMeta = 2, kMetaFromTags = 4 };
struct MetadataBlock {
  uint32_t source_kind;
  GrowArray<TagRecord> tags;
  GrowArray<ChapterRecord> chapters;
};

// Packet geometry found by the ASF header import.
struct AsfImportState {
  uint64_t play_duration;  // 100 ns
  uint64_t preroll;        // ms
  uint32_t max_bitrate;
  uint32_t flags;
  uint64_t packet_count;
  uint64_t first_packet;
  uint32_t packet_size;
};

struct MediaFile {
  uint32_t mode;
  uint32_t io_error;  // sticky latch: set by any failed routine, never cleared
  void* user;
  RoutineTable base;
  RoutineTable current;
  char* writer_name;
  uint32_t header_buffering_off;
  GrowArray<ReadCursor> cursors;
  uint32_t chunk_track;
  uint32_t chunk_samples;
  uint32_t tracks_changed;
  GrowArray<uint32_t> track_changed;
  GrowArray<BoxHeader> free_regions;
  BoxHeader mdat;
  uint64_t planned_mdat_size;
  uint32_t flavour;
  MetadataBlock meta;
  uint32_t flags;
  uint32_t strx_track;
  uint32_t samples_per_chunk;
  AsfImportState asf;
  FileBoxes* root;
  // Diagnostics and reader limits.
  BoxPath path;
  ErrorDetail detail;
};

// What a caller fills to open a file.
struct OpenParams {
  IoRoutines routines;
  const void* path;
  uint32_t header_buffering_off;
  FourCC major_brand;
  uint32_t minor_version;
  uint32_t compatible_brand_count;
  const FourCC* compatible_brands;
  uint32_t movie_timescale;
  uint32_t flags;
  uint32_t reserved_header_space;
  uint64_t planned_mdat_size;
  const char* writer_name;  // null: "tq4f "
  uint32_t samples_per_chunk;
  void* user;
  ErrorDetail* failure_detail;  // when set, where a failed open failed
};

constexpr const char* kDefaultWriterName = "tq4f ";

// Takes the routines, name, user value and writer name from params and opens
// the stream. A table with a missing routine (or without `write` for modes
// 2 and 3) is replaced as a whole by the C-stream table.
ErrorCode attach(MediaFile* file, const OpenParams* params, uint32_t mode);
// Closes the base handle and frees the writer name; the close routine's result.
ErrorCode detach(MediaFile* file);

// True while the current routines are not the file's own (parsing from memory).
inline bool parsing_from_substitute(const MediaFile* file) { return file->current.handle != file->base.handle; }

// Records why a read failed, for the message; the first reason wins.
void set_error_reason(MediaFile* file, const char* reason);
// Records a failure at a file offset outside the box tree (a sample read, say).
void set_error_at(MediaFile* file, uint64_t offset, const char* reason);

// Redirects the file's current routines for a scope and restores the table
// that was current before, on every path, so redirects can nest.
class RoutineRedirect {
 public:
  RoutineRedirect(MediaFile* file, const IoRoutines& routines, void* handle) : file_(file), saved_(file->current) {
    file->current.routines = routines;
    file->current.handle = handle;
  }
  ~RoutineRedirect() { file_->current = saved_; }
  RoutineRedirect(const RoutineRedirect&) = delete;
  RoutineRedirect& operator=(const RoutineRedirect&) = delete;

 private:
  MediaFile* file_;
  RoutineTable saved_;
};

// A memory stream that the file's I/O goes through for a scope: a read-only
// view of a buffer, or a growable stream to assemble output in. The previous
// routines are restored before the stream is closed.
class ScopedMemoryStream {
 public:
  explicit ScopedMemoryStream(MediaFile* file) : file_(file) {}
  ~ScopedMemoryStream() { close(); }
  ScopedMemoryStream(const ScopedMemoryStream&) = delete;
  ScopedMemoryStream& operator=(const ScopedMemoryStream&) = delete;

  ErrorCode open_view(const void* data, uint32_t length);
  ErrorCode open_writable();
  MemoryStream* stream() const { return static_cast<MemoryStream*>(handle_); }
  // Restores the routines and closes the stream; safe to call twice.
  void close();

 private:
  ErrorCode open(const MemoryPair* pair, uint32_t mode);
  MediaFile* file_;
  void* handle_ = nullptr;
  RoutineTable saved_{};
};

}  // namespace vantorel
