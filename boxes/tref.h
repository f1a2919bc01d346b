#pragma once
// 'tref': a track's references to other tracks. Every reference box it
// holds is kept, of any type, in order; each lists track ids.
#include "boxes/box_tree.h"

namespace vantorel {

enum ReferenceType : uint32_t {
  kReferenceNone = 0,
  kReferenceHint = 1,  // "hint"
  kReferenceCdsc = 2,  // "cdsc"
  kReferenceDpnd = 3,  // "dpnd"
  kReferenceIpir = 4,  // "ipir"
  kReferenceMpod = 5,  // "mpod"
  kReferenceSync = 6,  // "sync"
  kReferenceTmcd = 7,  // "tmcd": a track's time code track
  kReferenceChap = 8,  // "chap": a track's chapter text track
};
constexpr uint32_t kReferenceTypeCount = 9;

// One reference box. Bytes past its last whole id (a box whose payload is
// not a multiple of four) travel as read.
struct TrefEntry {
  FourCC type;
  GrowArray<uint32_t> track_ids;
  uint8_t tail[3];
  uint8_t tail_size;
};

struct TrefRecord {
  GrowArray<TrefEntry> references;
};

// Box type of a reference type, zero for none or an unknown one.
FourCC reference_box_type(uint32_t type);
uint32_t reference_type_from_box(FourCC type);

// The first reference box of a type, null when the track has none.
const TrefEntry* find_reference(TrackBoxes* track, FourCC type);

// Starts a new reference box of a known type; add_reference appends ids to
// the last one. Missing without 'tref'; BadArgument for a type outside 1-8
// or ids with no reference box to go in.
ErrorCode set_reference_type(TrackBoxes* track, uint32_t type);
ErrorCode add_reference(BoxFile* file, TrackBoxes* track, uint32_t track_id);

// Gives `to` a 'tref' holding every reference box of `from`'s, as read. Ok
// and nothing added when `from` has none.
ErrorCode tref_copy(BoxFile* file, TrackBoxes* to, TrackBoxes* from);

// Removes the given ids from every reference box of the track (tracks left
// out of an output). A box left without ids is dropped, and the 'tref' when
// none is left; boxes that listed none to begin with stay as they were.
void tref_remove_ids(BoxFile* file, TrackBoxes* track, const uint32_t* ids, uint32_t count);

void tref_release(BoxFile* file, void* context);
ErrorCode tref_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode tref_write(BoxFile* file, void* context);
uint64_t tref_size(BoxFile* file, void* context);

}  // namespace vantorel
