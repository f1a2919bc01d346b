#pragma once
// 'cmov': a movie header stored deflated ('dcom' "zlib", then 'cmvd' with the
// inflated size and the zlib stream). It is inflated into memory and the
// 'moov' inside is read in place of the outer one; it is never written.
#include "boxes/box_tree.h"
#include "meta/meta_file.h"

namespace vantorel {

// No inflated movie header may be larger than this, whatever its box declares.
constexpr uint32_t kMaxInflatedMovie = 256u << 20;

// Row operation of the movie list; the context is the root.
ErrorCode cmov_read(MetaFile* file, const BoxHeader* header, void* context);

// Inflates a zlib stream into a new buffer (the caller frees it) of at most
// min(declared, cap) bytes, grown as output arrives, so a declared size larger
// than the real output costs nothing. Inflate when the stream is corrupt,
// ends early or needs more room than that; OutOfMemory when memory runs out.
ErrorCode cmov_inflate(const uint8_t* input, uint32_t input_size, uint32_t declared, uint32_t cap, uint8_t** out,
                       uint32_t* out_size);

}  // namespace vantorel
