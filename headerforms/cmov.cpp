#include "headerforms/cmov.h"

#include <cstdlib>

#include "boxes/moov.h"
#include "io/zlib_inflate.h"

namespace vantorel {

namespace {

// A stream that inflates to no more than the cap is never much longer than
// it (stored blocks add 5 bytes per 64 KiB); anything beyond is not read.
constexpr uint64_t kMaxCompressedMovie = uint64_t{kMaxInflatedMovie} + kMaxInflatedMovie / 1024 + 64;

// A 'cmov' inside the inflated movie would inflate again, without end.
bool inside_compressed_movie(const MetaFile* file) {
  uint32_t depth = file->path.depth < kMaxBoxDepth ? file->path.depth : kMaxBoxDepth;
  uint32_t seen = 0;
  for (uint32_t i = 0; i < depth; ++i)
    if (file->path.type[i] == "cmov") ++seen;
  return seen > 1;
}

void cut_at(BoxHeader* child, const BoxHeader* parent) {
  if (child->end > parent->end) {
    child->end = parent->end;
    child->size = child->end - child->start;
  }
}

ErrorCode next_header(MetaFile* file, const BoxHeader* parent, BoxHeader* child, const char* type,
                      const char* missing) {
  if (box_bytes_left(file, parent) < 8) return malformed(file, missing);
  VT_TRY(read_box_header(file, child));
  if (io_failed(file)) return ErrorCode::Io;
  cut_at(child, parent);
  if (!(child->type == type)) return malformed(file, missing);
  return ErrorCode::Ok;
}

// Reads the inflated 'moov' from memory into a fresh movie record.
ErrorCode read_inflated(MetaFile* file, FileBoxes* root, const uint8_t* data, uint32_t size) {
  if (size < 8) return malformed(file, "inflated movie header is not a 'moov' box");
  ScopedMemoryStream memory(file);
  VT_TRY(memory.open_view(data, size));
  BoxHeader inner;
  VT_TRY(read_box_header(file, &inner));
  if (io_failed(file)) return ErrorCode::Io;
  if (!(inner.type == "moov")) return malformed(file, "inflated movie header is not a 'moov' box");
  if (inner.end > size) {
    inner.end = size;
    inner.size = inner.end - inner.start;
  }
  remove_child(file, root, level_list(file, BoxLevel::Top), BoxTypeId::Moov);
  VT_TRY(add_child(file, root, level_list(file, BoxLevel::Top), BoxTypeId::Moov));
  return moov_read(file, &inner, root);
}

}  // namespace


ErrorCode cmov_read(MetaFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* root = static_cast<FileBoxes*>(context);
  if (inside_compressed_movie(file)) return malformed(file, "compressed movie header inside another");

  BoxHeader dcom;
  VT_TRY(next_header(file, header, &dcom, "dcom", "'cmov' does not begin with 'dcom'"));
  if (box_bytes_left(file, &dcom) < 4) return malformed(file, "'dcom' without a compression type");
  if (!(read_fourcc(file) == "zlib")) {
    set_error_reason(file, "compression type other than zlib");
    return ErrorCode::CompressionType;
  }
  VT_TRY(file_seek(file, dcom.end));

  BoxHeader cmvd;
  VT_TRY(next_header(file, header, &cmvd, "cmvd", "'dcom' not followed by 'cmvd'"));
  if (box_bytes_left(file, &cmvd) < 4) return malformed(file, "'cmvd' without its size");
  uint32_t declared = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  // Bounded by the box, which the tree cut at the end of the file.
  uint64_t compressed = box_bytes_left(file, &cmvd);
  if (compressed > kMaxCompressedMovie) compressed = kMaxCompressedMovie;
  if (compressed == 0) {
    set_error_reason(file, "empty compressed movie header");
    return ErrorCode::Inflate;
  }
  auto* input = static_cast<uint8_t*>(std::malloc(compressed));
  if (input == nullptr) return ErrorCode::OutOfMemory;
  ErrorCode e = read_bytes(file, input, static_cast<uint32_t>(compressed));
  uint8_t* movie = nullptr;
  uint32_t movie_size = 0;
  if (e == ErrorCode::Ok)
    e = zlib_inflate(input, static_cast<uint32_t>(compressed), declared, kMaxInflatedMovie, &movie, &movie_size);
  std::free(input);
  if (e == ErrorCode::Inflate) set_error_reason(file, "compressed movie header does not inflate");
  if (e == ErrorCode::Ok) e = read_inflated(file, root, movie, movie_size);
  std::free(movie);
  return e;
}

}  // namespace vantorel
