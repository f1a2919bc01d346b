#pragma once
// The box tree engine: box headers, the descriptor rows that describe each
// box kind, the container records, and the generic routines that read,
// write, size, add and remove children through the descriptor table.
//
// Every box kind contributes five payload operations (init, release, read,
// write, size). They receive the BoxFile and a context: the FileBoxes root
// for the top level, the movie level, the user-data level and the movie-level
// USMT, and the track's TrackBoxes for the track level and everything below
// it. An operation finds its own record through find_box().
#include <cstddef>
#include <cstdint>

#include "io/byte_io.h"
#include "boxes/box_file.h"
#include "io/value64.h"

namespace vantorel {

enum class BoxTypeId : uint32_t {
  Ftyp = 1, Moov = 2, Moof = 3, Mdat = 5, Prof = 8,
  Cmov = 128, Iods = 129, Mvhd = 130, Mvex = 132, Udta = 137, Usmt = 138,
  Tkhd = 256, Tref = 257, Edts = 258, Mdia = 259, Mtdf = 265, Mtdt = 266,
  Chpl = 267, Tags = 268, Meta = 269, Tdrm = 270, Strx = 271, MovieMeta = 272,
  Elst = 512, Mdhd = 513, Hdlr = 514, Minf = 515,
  Vmhd = 1024, Smhd = 1025, Hmhd = 1026, Nmhd = 1027, Gmhd = 1028, Sthd = 1029, Dinf = 1035, Stbl = 1036,
  Dref = 2048, Stsd = 2049, Stts = 2050, Ctts = 2051, Stsc = 2052, Stsz = 2053,
  Stz2 = 2054, Stco = 2055, Co64 = 2056, Stss = 2057, Sgpd = 2064, Sbgp = 2065, Sdtp = 2066, Subs = 2067,
};

// Payload records of the box families, named here for the containers.
struct FileTypeRecord;
struct ProfRecord;
struct MvhdRecord;
struct IodsRecord;
struct MvexRecord;
struct TkhdRecord;
struct TrefRecord;
struct ElstRecord;
struct MdhdRecord;
struct HdlrRecord;
struct VmhdRecord;
struct SmhdRecord;
struct HmhdRecord;
struct NmhdRecord;
struct DrefRecord;
struct SampleDescriptionTable;
struct TimeToSampleTable;
struct CompositionOffsetTable;
struct SampleToChunkTable;
struct SampleSizeTable;
struct ChunkOffsetTable;
struct SyncSampleTable;
struct MtdfRecord;
struct MtdtRecord;
struct StrxRecord;
struct TdrmRecord;

// Container records: pointer fields, null when the child is absent.
struct UsmtRecord {
  MtdfRecord* mtdf;
  MtdtRecord* mtdt;
};
struct CarriedBoxes;
struct UdtaRecord {
  TdrmRecord* tdrm;
  StrxRecord* strx;
  CarriedBoxes* carried;  // every other child but 'chpl', as read; owned
};
struct EdtsRecord {
  ElstRecord* elst;
};
struct DinfRecord {
  DrefRecord* dref;
};
struct SampleGroupsRecord;
struct RawBoxRecord;
struct StblRecord {
  SampleDescriptionTable* stsd;
  TimeToSampleTable* stts;
  CompositionOffsetTable* ctts;
  SampleToChunkTable* stsc;
  SampleSizeTable* sample_sizes;    // stsz or stz2
  ChunkOffsetTable* chunk_offsets;  // stco or co64
  SyncSampleTable* stss;
  SampleGroupsRecord* groups;  // sample groups and dependencies; owned, created on demand
};
struct MinfRecord {
  VmhdRecord* vmhd;
  SmhdRecord* smhd;
  HmhdRecord* hmhd;
  NmhdRecord* nmhd;
  DinfRecord* dinf;
  StblRecord* stbl;
  RawBoxRecord* gmhd;  // QuickTime's base media header, carried as read
  RawBoxRecord* sthd;  // the subtitle media header, carried as read
};
struct MdiaRecord {
  MdhdRecord* mdhd;
  HdlrRecord* hdlr;
  MinfRecord* minf;
};

// Per-track values the library keeps beside the boxes.
struct TrackExtra {
  int64_t composition_shift;  // what normalising composition offsets added
  uint64_t first_fragment_time;  // decode time of the first fragment ('tfdt'), none64 when unknown
  int64_t presentation_start;    // media time the writer's edit list starts the track at; 0 for none
  uint32_t writer_edit_list;     // 1: the edit list was made by the writer, its last edit is filled at close
  int64_t presentation_end;      // media time the writer's last edit ends by at the latest; 0: the samples' end
  // PCM stored one sample per frame: the 'stsz' size of a frame as read
  // (1, or the bytes of a frame) before the tables were regrouped into one
  // sample per chunk; 0 for any other track.
  uint32_t pcm_frame_size;
  // What the writer records for each PCM frame of a block written as one
  // sample: that many frames of this size; 0: the block as one sample.
  uint32_t write_frame_size;
  // 1: the sample entries' 'colr' was built by an import, not read, so it
  // takes the form of the output ('nclc' in a QuickTime movie).
  uint32_t colour_built;
};

// One track, held by value in the moov's array. The array moves when tracks
// are added or removed: hold track ids, not TrackBoxes pointers, across that.
struct TrackBoxes {
  TkhdRecord* tkhd;
  TrefRecord* tref;
  EdtsRecord* edts;
  MdiaRecord* mdia;
  UsmtRecord* usmt;
  TrackExtra* extra;  // owned; created on demand
  CarriedBoxes* carried;  // the track's 'udta' and 'meta', as read; owned
};

struct MoovRecord {
  MvhdRecord* mvhd;
  IodsRecord* iods;
  GrowArray<TrackBoxes> tracks;
  MvexRecord* mvex;
  UsmtRecord* usmt;
  UdtaRecord* udta;
  CarriedBoxes* carried;  // the movie-level 'meta', as read; owned
};

// The root of a file's tree.
struct FileBoxes {
  FileTypeRecord* ftyp;
  ProfRecord* prof;
  MoovRecord* moov;
};

// Payload operations of a descriptor row.
using BoxInitOp = void (*)(BoxFile* file, void* context);
using BoxReleaseOp = void (*)(BoxFile* file, void* context);
using BoxReadOp = ErrorCode (*)(BoxFile* file, const BoxHeader* header, void* context);
using BoxWriteOp = ErrorCode (*)(BoxFile* file, void* context);
using BoxSizeOp = uint64_t (*)(BoxFile* file, void* context);  // payload bytes
// For a row without a record of its own: whether the box is to be written.
using BoxPresentOp = bool (*)(BoxFile* file, void* context);

constexpr size_t kNoSlot = SIZE_MAX;

struct BoxDescriptor {
  FourCC type;
  uint8_t extended_type[16];  // for "uuid" rows
  BoxTypeId id;
  uint32_t record_size;  // 0: the box has no record of its own
  size_t slot;           // offset of the pointer field in the parent record
  BoxInitOp init;
  BoxReleaseOp release;
  BoxReadOp read;  // every row has one
  BoxWriteOp write;
  BoxSizeOp size;
  BoxPresentOp present;  // rows without a record that write what others keep
};

using ParentAccessor = void* (*)(void* context);
struct ChildList {
  ParentAccessor parent;
  uint32_t count;
  const BoxDescriptor* first;
};

// Called for a child that no row of the list matches.
using ChildFallback = ErrorCode (*)(BoxFile* file, const BoxHeader* header, void* context);

// The three published uuid extended types.
extern const uint8_t kUsmtUuid[16];
extern const uint8_t kProfUuid[16];
extern const uint8_t kStrxUuid[16];

// ---- Headers -------------------------------------------------------------

// Reads one header at the current position. Sizes below the header's own
// length, a 64-bit size of 0 and sizes that overflow are Malformed.
ErrorCode read_box_header(BoxFile* file, BoxHeader* out);
// Writes a header from type, extended type and estimated size.
ErrorCode begin_box(BoxFile* file, BoxHeader* header);
// Corrects the size field in place when the payload's length differs from
// the estimate, widening to a 64-bit size when needed.
ErrorCode finish_box(BoxFile* file, BoxHeader* header);
void make_box_header(BoxHeader* out, FourCC type, const uint8_t* extended_type, uint64_t start, uint64_t end,
                     uint64_t size);
ErrorCode skip_to_box_end(BoxFile* file, const BoxHeader* header);
bool box_type_is(const BoxHeader* header, FourCC type);
bool box_matches(const BoxHeader* header, FourCC type, const uint8_t* extended_type);
// Header bytes a box of this type and size takes (8, 16, +16 for "uuid").
uint64_t box_header_length(FourCC type, uint64_t payload_size);

// Bytes between the current position and the end of the box (0 past it).
uint64_t box_bytes_left(BoxFile* file, const BoxHeader* header);
// True when `count` entries of `entry_size` bytes fit in what is left of the box.
bool box_holds(BoxFile* file, const BoxHeader* header, uint64_t count, uint64_t entry_size);
// Records why a box is malformed and returns ErrorCode::Malformed.
ErrorCode malformed(BoxFile* file, const char* reason);

// ---- Records --------------------------------------------------------------

// Index look-up from a BoxTypeId to the record, or null.
void* find_box(FileBoxes* root, BoxTypeId id);
void* find_box(TrackBoxes* track, BoxTypeId id);

template <class R>
R* movie_record(FileBoxes* root, BoxTypeId id) {
  return static_cast<R*>(find_box(root, id));
}
template <class R>
R* track_record(TrackBoxes* track, BoxTypeId id) {
  return static_cast<R*>(find_box(track, id));
}

// Generic routines over one child list.
ErrorCode add_child(BoxFile* file, void* context, const ChildList* list, BoxTypeId id);
void remove_child(BoxFile* file, void* context, const ChildList* list, BoxTypeId id);
void remove_all_children(BoxFile* file, void* context, const ChildList* list);
ErrorCode read_children(BoxFile* file, const BoxHeader* parent, void* context, const ChildList* list,
                        ChildFallback fallback);
ErrorCode write_children(BoxFile* file, void* context, const ChildList* list);
uint64_t children_size(BoxFile* file, void* context, const ChildList* list);

// Adds or removes a box by id under the list of its level that carries it:
// the movie levels for the root, the track levels for a track.
ErrorCode add_movie_box(BoxFile* file, BoxTypeId id);
void remove_movie_box(BoxFile* file, BoxTypeId id);
ErrorCode add_track_box(BoxFile* file, TrackBoxes* track, BoxTypeId id);
void remove_track_box(BoxFile* file, TrackBoxes* track, BoxTypeId id);

// Writes one box: header from the descriptor's type and size, payload, fix-up.
ErrorCode write_box(BoxFile* file, FourCC type, const uint8_t* extended_type, uint64_t payload_estimate,
                    BoxWriteOp write, void* context);

// ---- Track list -------------------------------------------------------------

// Adds a zeroed track: before the first track with a greater id, at the end for
// id 0, a duplicate id or no greater id. Null when out of memory.
TrackBoxes* add_track(BoxFile* file, uint32_t track_id);
void remove_track(BoxFile* file, TrackBoxes* track);
TrackBoxes* find_track(FileBoxes* root, uint32_t track_id);
uint32_t track_index_of(FileBoxes* root, uint32_t track_id);
TrackBoxes* track_at(FileBoxes* root, uint32_t index);
uint32_t track_count(FileBoxes* root);
uint32_t track_id_of(TrackBoxes* track);  // tkhd track id, 0 without tkhd
// The per-track values beside the boxes, created on first use (null: no memory).
TrackExtra* track_extra(TrackBoxes* track);

// ---- Root -------------------------------------------------------------------

ErrorCode create_root(BoxFile* file);
void release_root(BoxFile* file);
uint64_t top_level_size(BoxFile* file);

// ---- Output regions ----------------------------------------------------------

ErrorCode append_region(BoxFile* file, uint64_t position);
void set_last_region_start(BoxFile* file, uint64_t position);
void set_last_region_end(BoxFile* file, uint64_t position);
// Writes a 'free' box of exactly header->size bytes at the current position,
// its payload the writer-name string repeated and cut to fit.
ErrorCode write_free_box(BoxFile* file, const BoxHeader* header);
// Places the top-level boxes with a write operation (PROF, then moov) into the
// free regions, filling what is left with 'free' boxes.
ErrorCode write_top_level_into_regions(BoxFile* file);
// Writes every top-level box the tree holds, one after the other, at the
// current position: the movie header of a file laid out header first.
ErrorCode write_top_level_boxes(BoxFile* file);

// ---- Diagnostics --------------------------------------------------------------

// Formats the box path of the last located failure ("moov/trak[2]/mdia").
void push_box_path(BoxFile* file, const BoxHeader* header);
void pop_box_path(BoxFile* file);
void locate_failure(BoxFile* file);

// Count of boxes whose written length differed from their size operation
// (zero in a correct build; tests assert it).
uint32_t size_mismatch_count();
void reset_size_mismatch_count();

// ---- Child walks -------------------------------------------------------------

// Reads the children of `parent` from the current position, one at a time:
// each header is cut at the parent's end and named in the box path while
// `visit(const BoxHeader*)` reads it, and the walk goes on at the child's
// end. A tail too short for a header ends the walk inside a box; at the end
// of the file it is a header cut short, read as far as it goes, which sets
// the I/O latch. The latch ends the walk. A failure is located at the child
// and returned.
template <typename Visit>
ErrorCode walk_children(BoxFile* file, const BoxHeader* parent, Visit visit) {
  for (;;) {
    uint64_t left = box_bytes_left(file, parent);
    if (left == 0 || io_failed(file) || (left < 8 && parent->end < file_size(file))) break;
    BoxHeader h;
    ErrorCode e = read_box_header(file, &h);
    push_box_path(file, &h);
    if (e == ErrorCode::Ok && !io_failed(file)) {
      if (h.end > parent->end) {
        h.end = parent->end;
        h.size = h.end - h.start;
      }
      e = visit(&h);
    }
    if (e != ErrorCode::Ok) {
      locate_failure(file);
      pop_box_path(file);
      return e;
    }
    pop_box_path(file);
    if (io_failed(file)) break;
    VT_TRY(file_seek(file, h.end));
  }
  return ErrorCode::Ok;
}

}  // namespace vantorel
