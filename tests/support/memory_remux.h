#pragma once
// A whole remux with its input and its one output in memory, through the
// engine's public entry point. The output is bounded: past the bound a write
// fails as on a full disk. Used by the tests and by the remux fuzz target.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mediafile/media_file.h"

namespace vantorel::test {

struct MemoryRemuxResult {
  ErrorCode result;
  std::vector<uint8_t> output;  // the last output file opened, as written
  uint32_t outputs_opened;
  uint32_t tracks_dropped;
  ErrorDetail failure;  // where the input failed, when it did
};

constexpr uint64_t kMemoryRemuxBound = 64u << 20;

// With `salvage`, a truncated input is carried as far as it goes instead of
// failing with Truncated.
MemoryRemuxResult remux_in_memory(const uint8_t* data, size_t size, uint64_t output_bound = kMemoryRemuxBound,
                                  bool salvage = false);

}  // namespace vantorel::test
