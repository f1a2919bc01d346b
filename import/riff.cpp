#include "import/riff.h"

#include <cstring>

namespace vantorel {

ErrorCode read_riff_chunk_header(BoxFile* file, BoxHeader* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  std::memset(out, 0, sizeof *out);
  out->start = file_tell(file);
  VT_TRY(read_bytes(file, out->type.c, 4));
  // 64-bit arithmetic: a size near 2^32 must not wrap to a tiny chunk.
  out->size = uint64_t{read_u32le(file)} + 8;
  if (out->type == "LIST") out->type = read_fourcc(file);
  out->end = out->start + out->size;
  return ErrorCode::Ok;
}

ErrorCode skip_riff_chunk(BoxFile* file, const BoxHeader* header) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  uint64_t end = header->start + header->size;
  return file_seek(file, end + (end & 1));
}

}  // namespace vantorel
