#pragma once
// Block reads and writes of big-endian table entries, shared by the sample
// table families. Tables run to millions of entries, so they move through a
// small buffer instead of one routine call per field.
#include <cstdint>

#include "boxes/box_tree.h"
#include "io/grow_array.h"

namespace vantorel {

// Reads `count` big-endian 32-bit values into `out`.
ErrorCode read_u32_block(BoxFile* file, uint32_t* out, uint64_t count);
// Reads `count` big-endian 64-bit values into `out`.
ErrorCode read_u64_block(BoxFile* file, uint64_t* out, uint64_t count);
// Reads `count` big-endian 32-bit values into `out`, zero-extended.
ErrorCode read_u32_block_wide(BoxFile* file, uint64_t* out, uint64_t count);

// Writes `count` values big-endian; a null `values` writes zeros.
ErrorCode write_u32_block(BoxFile* file, const uint32_t* values, uint64_t count);
ErrorCode write_u64_block(BoxFile* file, const uint64_t* values, uint64_t count);
// Writes the low 32 bits of each value.
ErrorCode write_u32_block_narrow(BoxFile* file, const uint64_t* values, uint64_t count);

// Version, flags and a 32-bit count at the start of a table box, after
// checking that the box holds `fixed` bytes before its entries.
struct TableHead {
  uint8_t version;
  uint32_t flags;
};
ErrorCode read_table_head(BoxFile* file, const BoxHeader* header, uint64_t fixed, TableHead* out);

// A table box whose entries are big-endian 32-bit words: version, flags, the
// entry count (checked against the box before anything is allocated), then
// the entries. `too_many` says what is wrong when the count does not fit.
template <class Entry>
ErrorCode read_word_table(BoxFile* file, const BoxHeader* header, uint8_t* version, uint32_t* flags,
                          GrowArray<Entry>* entries, const char* too_many) {
  static_assert(sizeof(Entry) % 4 == 0 && alignof(Entry) == 4);
  TableHead head;
  VT_TRY(read_table_head(file, header, 8, &head));
  *version = head.version;
  *flags = head.flags;
  uint32_t count = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (!box_holds(file, header, count, sizeof(Entry))) return malformed(file, too_many);
  if (count == 0) return ErrorCode::Ok;
  VT_TRY(entries->reserve(count));
  VT_TRY(read_u32_block(file, reinterpret_cast<uint32_t*>(entries->items), uint64_t{count} * (sizeof(Entry) / 4)));
  entries->count = count;
  return ErrorCode::Ok;
}

template <class Entry>
ErrorCode write_word_table(BoxFile* file, uint8_t version, uint32_t flags, const GrowArray<Entry>& entries) {
  VT_TRY(write_u8(file, version));
  VT_TRY(write_u24be(file, flags));
  VT_TRY(write_u32be(file, entries.count));
  return write_u32_block(file, reinterpret_cast<const uint32_t*>(entries.items),
                         uint64_t{entries.count} * (sizeof(Entry) / 4));
}

template <class Entry>
uint64_t word_table_size(const GrowArray<Entry>& entries) {
  return 8 + sizeof(Entry) * uint64_t{entries.count};
}

// Appends n samples of one value to a run table: the last run grows when it
// has the same value (and would not pass 2^32 - 1 samples), else a run starts.
template <class Entry, class Value>
ErrorCode append_run(GrowArray<Entry>* entries, uint32_t n, Value Entry::*field, Value value) {
  if (n == 0) return ErrorCode::Ok;
  if (entries->count > 0) {
    Entry& last = entries->back();
    if (last.*field == value && n <= UINT32_MAX - last.sample_count) {
      last.sample_count += n;
      return ErrorCode::Ok;
    }
  }
  Entry run{};
  run.sample_count = n;
  run.*field = value;
  return entries->append_doubling(run);
}

// True when the file was opened for inspection only: the table readers then
// leave their records empty.
inline bool tables_skipped(const BoxFile* file) { return file->mode == kOpenInspect; }

}  // namespace vantorel
