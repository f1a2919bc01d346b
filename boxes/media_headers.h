#pragma once
// The media headers of 'minf', one per kind of media: 'vmhd' (video),
// 'smhd' (sound), 'hmhd' (hint) and 'nmhd' (everything else).
#include "boxes/box_tree.h"
#include "boxes/owned_block.h"

namespace vantorel {

struct VmhdRecord {
  uint8_t version;
  uint32_t flags;
  uint16_t graphics_mode;
  uint16_t opcolor[3];
};

struct SmhdRecord {
  uint8_t version;
  uint32_t flags;
  uint16_t balance;  // 8.8
};

struct HmhdRecord {
  uint8_t version;
  uint32_t flags;
  uint16_t max_pdu_size;
  uint16_t avg_pdu_size;
  uint32_t max_bitrate;
  uint32_t avg_bitrate;
};

struct NmhdRecord {
  uint8_t version;
  uint32_t flags;
};

// A box carried as its payload bytes, read and written as they are.
struct RawBoxRecord {
  OwnedBlock payload;
};

// 'gmhd', QuickTime's base media header of text and time code tracks: its
// children ('gmin', 'text', 'tmcd') travel as read.
void gmhd_release(BoxFile* file, void* context);
ErrorCode gmhd_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode gmhd_write(BoxFile* file, void* context);
uint64_t gmhd_size(BoxFile* file, void* context);

// 'sthd', the subtitle media header, carried as read.
void sthd_release(BoxFile* file, void* context);
ErrorCode sthd_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode sthd_write(BoxFile* file, void* context);
uint64_t sthd_size(BoxFile* file, void* context);

// The media header a new track of a handler kind gets.
BoxTypeId media_header_for_kind(uint32_t kind);

void vmhd_init(BoxFile* file, void* context);
ErrorCode vmhd_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode vmhd_write(BoxFile* file, void* context);
uint64_t vmhd_size(BoxFile* file, void* context);

ErrorCode smhd_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode smhd_write(BoxFile* file, void* context);
uint64_t smhd_size(BoxFile* file, void* context);

ErrorCode hmhd_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode hmhd_write(BoxFile* file, void* context);
uint64_t hmhd_size(BoxFile* file, void* context);

ErrorCode nmhd_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode nmhd_write(BoxFile* file, void* context);
uint64_t nmhd_size(BoxFile* file, void* context);

}  // namespace vantorel
