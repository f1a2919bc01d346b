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

}  // namespace vantorel
