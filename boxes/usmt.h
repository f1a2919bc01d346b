#pragma once
// The portable player's metadata: the USMT "uuid" box, at movie level and
// in each track, holding fixed-size entries ('MTDF') and entries of any
// size ('MTDT').
#include "boxes/box_tree.h"

namespace vantorel {

constexpr uint16_t kMtdfMaxData = 32;
constexpr uint16_t kMetadataEntryHeader = 10;  // size, type, language, encoding

struct MtdfEntry {
  uint16_t entry_size;  // 11-42: header and data
  uint32_t type;
  char language[4];     // three letters and a NUL
  uint16_t encoding;
  uint8_t data[kMtdfMaxData];
};

struct MtdfRecord {
  GrowArray<MtdfEntry> entries;
};

struct MtdtEntry {
  uint16_t entry_size;  // at least 10: header and data
  uint32_t type;
  uint8_t flag;         // bit 15 of the language word
  char language[4];
  uint16_t encoding;
  uint8_t* data;        // owned, entry_size - 10 bytes
};

struct MtdtRecord {
  GrowArray<MtdtEntry> entries;
};

// Append a zeroed entry and return it (null when out of memory or without a
// record). The pointer is valid until the next append to the same record.
MtdtEntry* add_metadata_entry(MtdtRecord* mtdt);
MtdfEntry* add_fixed_metadata_entry(MtdfRecord* mtdf);
// Replaces the entry's data with a copy of `length` bytes; entry_size
// becomes length + 10. BadArgument for null arguments or a length the 16-bit entry
// size cannot hold, OutOfMemory.
ErrorCode set_metadata_data(BoxFile* file, MtdtEntry* entry, const void* bytes, uint32_t length);

// Rows of the movie level (context: the root) and of a track (context: the
// track).
void mtdf_movie_release(BoxFile* file, void* context);
ErrorCode mtdf_movie_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode mtdf_movie_write(BoxFile* file, void* context);
uint64_t mtdf_movie_size(BoxFile* file, void* context);
void mtdt_movie_release(BoxFile* file, void* context);
ErrorCode mtdt_movie_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode mtdt_movie_write(BoxFile* file, void* context);
uint64_t mtdt_movie_size(BoxFile* file, void* context);

void mtdf_track_release(BoxFile* file, void* context);
ErrorCode mtdf_track_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode mtdf_track_write(BoxFile* file, void* context);
uint64_t mtdf_track_size(BoxFile* file, void* context);
void mtdt_track_release(BoxFile* file, void* context);
ErrorCode mtdt_track_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode mtdt_track_write(BoxFile* file, void* context);
uint64_t mtdt_track_size(BoxFile* file, void* context);

}  // namespace vantorel
