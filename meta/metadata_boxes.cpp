#include "meta/metadata_boxes.h"

#include "boxes/carried_boxes.h"
#include "boxes/moov.h"

namespace vantorel {

namespace {

// Runs a metadata parser; its failures (but running out of memory) drop the
// rest of the box and leave no trace in the file's error details, so a later
// real failure is reported as itself.
ErrorCode read_optional(MetaFile* file, const BoxHeader* header, ErrorCode (*parse)(MetaFile*, const BoxHeader*)) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  const ErrorDetail saved = file->detail;
  ErrorCode e = parse(file, header);
  if (e == ErrorCode::Ok || e == ErrorCode::OutOfMemory) return e;
  file->detail = saved;
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode read_child_header(MetaFile* file, const BoxHeader* parent, BoxHeader* child, bool* found) {
  if (file == nullptr || parent == nullptr || child == nullptr || found == nullptr) return ErrorCode::BadArgument;
  *found = false;
  if (io_failed(file) || box_bytes_left(file, parent) < 8) return ErrorCode::Ok;
  VT_TRY(read_box_header(file, child));
  if (io_failed(file)) return ErrorCode::Ok;
  if (child->end > parent->end) {
    child->end = parent->end;
    child->size = child->end - child->start;
  }
  *found = true;
  return ErrorCode::Ok;
}

// Reading is not changing: only what callers do afterwards is written back.
ErrorCode read_and_keep(MetaFile* file, const BoxHeader* header, ErrorCode (*parse)(MetaFile*, const BoxHeader*),
                        CarriedBoxes* into) {
  uint32_t changed = file->meta.tags_changed;
  ErrorCode e = read_optional(file, header, parse);
  file->meta.tags_changed = changed;
  if (e != ErrorCode::Ok) return e;
  if (into == nullptr) return ErrorCode::OutOfMemory;
  return carry_box(file, header, into);
}

ErrorCode meta_box_read(MetaFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  MoovRecord* moov = file->root != nullptr ? file->root->moov : nullptr;
  if (moov == nullptr || moov->udta == nullptr) return ErrorCode::Missing;
  (void)context;
  return read_and_keep(file, header, meta_box_parse, carried_list(&moov->udta->carried));
}

ErrorCode movie_meta_read(MetaFile* file, const BoxHeader* header, void*) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  MoovRecord* moov = file->root != nullptr ? file->root->moov : nullptr;
  if (moov == nullptr) return ErrorCode::Missing;
  return read_and_keep(file, header, meta_box_parse, carried_list(&moov->carried));
}

ErrorCode tags_box_read(MetaFile* file, const BoxHeader* header, void*) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  MoovRecord* moov = file->root != nullptr ? file->root->moov : nullptr;
  if (moov == nullptr || moov->udta == nullptr) return ErrorCode::Missing;
  return read_and_keep(file, header, tags_box_parse, carried_list(&moov->udta->carried));
}

ErrorCode chpl_read(MetaFile* file, const BoxHeader* header, void*) { return read_optional(file, header, chpl_parse); }

}  // namespace vantorel
