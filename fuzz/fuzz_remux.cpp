// Fuzz target: a whole remux of an input held in memory into one simulated
// output, through the engine's public entry point.
#include <cstddef>
#include <cstdint>

#include "support/memory_remux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Salvaging: a cut input (most of what a fuzzer makes) still goes
  // through both passes instead of stopping at the survey.
  vantorel::test::remux_in_memory(data, size, vantorel::test::kMemoryRemuxBound, true);
  return 0;
}
