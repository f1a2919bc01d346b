#pragma once
// A routine table over a simulated file that keeps every small written block
// but only advances its position and size over large ones (sample data), so
// files past 4 GiB can be written and their headers read back in a test.
#include <cstdint>
#include <utility>
#include <vector>

#include "io/io_routines.h"

namespace vantorel::test {

struct SparseFile {
  std::vector<std::pair<uint64_t, std::vector<uint8_t>>> writes;  // kept writes, in order
  uint64_t position = 0;
  uint64_t size = 0;
  uint32_t keep_limit = 64 * 1024;  // writes larger than this are not kept

  // The byte at `at`: the latest kept write that covers it, else 0.
  uint8_t byte_at(uint64_t at) const;
  std::vector<uint8_t> bytes(uint64_t at, uint64_t count) const;
};

// Routines whose open ignores the name and hands out the SparseFile given as
// the user value.
const IoRoutines& sparse_routines();

}  // namespace vantorel::test
