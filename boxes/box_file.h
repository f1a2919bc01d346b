#pragma once
// The box tree's part of an open file: the tree's root, the registry of box
// kinds it reads and writes through, the path of the box being read, the
// file's flags and the regions an output's movie header may go into.
#include <cstdint>

#include "io/file_io.h"
#include "io/grow_array.h"
#include "io/media_kinds.h"

namespace vantorel {

struct FileBoxes;    // the tree's root
struct ChildList;    // one container's rows of the registry

// In-memory form of one box header; also used for region bookkeeping.
struct BoxHeader {
  uint64_t start;  // position of the size field
  uint64_t end;    // start + size
  uint64_t size;   // whole box, header included
  FourCC type;
  uint8_t extended_type[16];  // meaningful for "uuid" only
};

// The containers of the registry, each with its list of rows.
enum class BoxLevel : uint32_t {
  Top, Moov, Udta, MovieUsmt, Trak, TrackUsmt, Edts, Mdia, Minf, Dinf, Stbl, Count
};

// Every box kind the tree knows, by container: handed to the tree engine by
// the layer that knows every box family.
struct BoxRegistry {
  const ChildList* lists[static_cast<uint32_t>(BoxLevel::Count)];
};

constexpr uint32_t kMaxBoxDepth = 24;
struct BoxPath {
  uint32_t depth;
  FourCC type[kMaxBoxDepth];
  uint32_t index[kMaxBoxDepth];  // 1-based position among siblings of that type for 'trak', else 0
  uint64_t start[kMaxBoxDepth];
  uint64_t base_offset;  // added to positions while a box is parsed from a memory copy
};

// A track left out while reading, and why.
struct DroppedTrack {
  uint32_t track_id;   // 0 when its header was what failed
  const char* reason;  // static text
  // A foreign stream whose data does not parse as its codec: its handler
  // and format. Zero for a track left out for a box.
  FourCC handler;
  FourCC format;
};

struct BoxFile : FileIo {
  const BoxRegistry* registry;
  FileBoxes* root;
  uint32_t flags;  // MediaFileFlags
  BoxPath path;
  // Output regions that the movie header may take (create and update mode).
  GrowArray<BoxHeader> free_regions;
  // Which tracks were written to, for their modification times.
  uint32_t tracks_changed;
  GrowArray<uint32_t> track_changed;
  // Boxes refused as cut inside their fixed fields, and the tracks that
  // were left out because they held one (read and inspect mode only).
  uint32_t short_boxes;
  GrowArray<DroppedTrack> dropped_tracks;
};

// The list of a container, or null without a registry.
inline const ChildList* level_list(const BoxFile* file, BoxLevel level) {
  return file != nullptr && file->registry != nullptr ? file->registry->lists[static_cast<uint32_t>(level)] : nullptr;
}

}  // namespace vantorel
