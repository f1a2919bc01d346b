#pragma once
// RIFF chunk headers (AVI, WAVE): a four-character code and a little-endian
// 32-bit size; a 'LIST' chunk's list type takes the place of its code.
#include "boxes/box_tree.h"

namespace vantorel {

// RIFF form: little-endian size + 8, "LIST" replaced by its list type.
ErrorCode read_riff_chunk_header(BoxFile* file, BoxHeader* out);
ErrorCode skip_riff_chunk(BoxFile* file, const BoxHeader* header);

}  // namespace vantorel
