#pragma once
// Reading a whole file's box tree the way opening a file does, and writing a
// movie box back, so tests can compare trees by their bytes.
#include "boxes/box_tree.h"
#include "boxes/moov.h"
#include "support/box_builder.h"

namespace vantorel::test {

// Creates the root and reads every top-level box of the file into it.
inline ErrorCode read_tree(MediaFile* file) {
  VT_TRY(create_root(file));
  uint64_t length = file_size(file);
  BoxHeader whole;
  make_box_header(&whole, FourCC::of("mp4 "), nullptr, 0, length, length);
  return read_top_level(file, &whole);
}

// The file's movie box as the library writes it (empty without one).
inline Bytes movie_bytes(MediaFile* file) {
  if (file->root == nullptr || file->root->moov == nullptr) return {};
  ScopedMemoryStream out(file);
  if (out.open_writable() != ErrorCode::Ok) return {};
  if (write_box(file, FourCC::of("moov"), nullptr, moov_size(file, file->root), moov_write, file->root) !=
      ErrorCode::Ok)
    return {};
  const MemoryStream* s = out.stream();
  return Bytes(s->data, s->data + s->size);
}

}  // namespace vantorel::test
