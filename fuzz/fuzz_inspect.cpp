// Fuzz target: a file opened for inspection from memory (this mode also takes
// ASF headers), every sample read.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "io/io_routines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantorel::fuzz::read_everything(data, size, vantorel::kOpenInspect);
  return 0;
}
