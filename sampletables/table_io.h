#pragma once
// Block reads and writes of big-endian table entries, shared by the sample
// table families. Tables run to millions of entries, so they move through a
// small buffer instead of one routine call per field.
#include <cstdint>

#include "boxes/box_tree.h"

namespace vantorel {

// Reads `count` big-endian 32-bit values into `out`.
ErrorCode read_u32_block(MediaFile* file, uint32_t* out, uint64_t count);
// Reads `count` big-endian 64-bit values into `out`.
ErrorCode read_u64_block(MediaFile* file, uint64_t* out, uint64_t count);
// Reads `count` big-endian 32-bit values into `out`, zero-extended.
ErrorCode read_u32_block_wide(MediaFile* file, uint64_t* out, uint64_t count);

// Writes `count` values big-endian; a null `values` writes zeros.
ErrorCode write_u32_block(MediaFile* file, const uint32_t* values, uint64_t count);
ErrorCode write_u64_block(MediaFile* file, const uint64_t* values, uint64_t count);
// Writes the low 32 bits of each value.
ErrorCode write_u32_block_narrow(MediaFile* file, const uint64_t* values, uint64_t count);

// Version, flags and a 32-bit count at the start of a table box, after
// checking that the box holds `fixed` bytes before its entries.
struct TableHead {
  uint8_t version;
  uint32_t flags;
};
ErrorCode read_table_head(MediaFile* file, const BoxHeader* header, uint64_t fixed, TableHead* out);

// True when the file was opened for inspection only: the table readers then
// leave their records empty.
inline bool tables_skipped(const MediaFile* file) { return file->mode == kOpenInspect; }

}  // namespace vantorel
