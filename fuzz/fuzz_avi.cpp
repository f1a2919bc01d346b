// Fuzz target: AVI files, seeded only with them (damaged ones among them), so
// that the mutations work on RIFF chunks and indexes: each input is read
// sample by sample and remuxed whole in memory.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "io/io_routines.h"
#include "support/memory_remux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantorel::fuzz::read_everything(data, size, vantorel::kOpenRead);
  vantorel::test::remux_in_memory(data, size, vantorel::test::kMemoryRemuxBound, true);
  return 0;
}
