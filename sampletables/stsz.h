#pragma once
// 'stsz' and 'stz2': the size of every sample, or one size for all.
#include <cstdint>

#include "boxes/box_tree.h"

namespace vantorel {

struct SampleSizeTable {
  uint8_t version;
  uint32_t flags;
  uint32_t sample_size;  // with no list: the size of every sample
  uint32_t sample_count;
  GrowArray<uint32_t> sizes;  // absent (null) in constant-size mode; else sample_count sizes
};

// True when the table lists one size per sample.
inline bool stsz_is_listed(const SampleSizeTable* t) { return t != nullptr && t->sizes.items != nullptr; }

void stsz_release(BoxFile* file, void* context);
ErrorCode stsz_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode stsz_write(BoxFile* file, void* context);
uint64_t stsz_size(BoxFile* file, void* context);
// Reads the compact form into the same record; written back as 'stsz'.
ErrorCode stz2_read(BoxFile* file, const BoxHeader* header, void* context);

// Records n further samples of size s, staying in constant-size mode while
// every sample has one size. BadArgument without a table, OutOfMemory when out of memory or past
// 2^32 - 1 samples (the table unchanged). n = 0 adds nothing.
ErrorCode stsz_append(BoxFile* file, TrackBoxes* track, uint32_t s, uint32_t n);
// The same on a table already found.
ErrorCode stsz_append(SampleSizeTable* table, uint32_t s, uint32_t n);

// Size of sample i (0-based); 0 when i is beyond the table or without one.
uint32_t stsz_sample_size(const SampleSizeTable* table, uint32_t i);

// The size table's sample count; 0 without one.
uint32_t sample_count(TrackBoxes* track);

}  // namespace vantorel
