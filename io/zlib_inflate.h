#pragma once
// One-shot inflation of a zlib stream held in memory (compressed movie
// headers, zlib-encoded Matroska frames and codec data).
#include <cstdint>

#include "io/error.h"

namespace vantorel {

// Inflates a zlib stream into a new buffer (the caller frees it) of at most
// min(declared, cap) bytes, grown as output arrives, so a declared size larger
// than the real output costs nothing. Inflate when the stream is corrupt,
// ends early or needs more room than that; OutOfMemory when memory runs out.
ErrorCode zlib_inflate(const uint8_t* input, uint32_t input_size, uint32_t declared, uint32_t cap, uint8_t** out,
                       uint32_t* out_size);

}  // namespace vantorel
