// Fuzz target: a whole remux of an input held in memory into one simulated
// output, through the engine's public entry point.
#include <cstddef>
#include <cstdint>

#include "support/memory_remux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantorel::test::remux_in_memory(data, size);
  return 0;
}
