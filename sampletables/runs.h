#pragma once
// Walks over run-length tables ('stts', 'ctts') a run at a time, so their
// cost is in entries, never in samples: a run may claim 2^32 - 1 samples.
#include <cstdint>

#include "boxes/box_tree.h"

namespace vantorel {

// Finds the run holding sample k (1-based). Runs of 0 samples hold nothing.
template <class Entry>
bool run_locate(const Entry* entries, uint32_t count, uint32_t k, uint32_t* entry_index, uint32_t* index_in_entry) {
  if (k == 0) return false;
  uint64_t before = 0;  // samples in the runs passed; always below k
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t run = entries[i].sample_count;
    if (run >= k - before) {
      *entry_index = i;
      *index_in_entry = static_cast<uint32_t>(k - 1 - before);
      return true;
    }
    before += run;
  }
  return false;
}

// How many samples the time tables may describe: the size table's count when
// there is one, else every sample number a 32-bit table can give. A run that
// claims more is cut there, which keeps 64-bit time sums from wrapping.
uint64_t sample_limit(TrackBoxes* track);

}  // namespace vantorel
