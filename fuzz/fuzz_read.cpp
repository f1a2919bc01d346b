// Fuzz target: a file opened for reading from memory, every sample read.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "io/io_routines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantorel::fuzz::read_everything(data, size, vantorel::kOpenRead);
  return 0;
}
