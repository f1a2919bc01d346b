#include "meta/metadata_boxes.h"

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

ErrorCode meta_box_read(MetaFile* file, const BoxHeader* header, void*) {
  return read_optional(file, header, meta_box_parse);
}

ErrorCode tags_box_read(MetaFile* file, const BoxHeader* header, void*) {
  return read_optional(file, header, tags_box_parse);
}

ErrorCode chpl_read(MetaFile* file, const BoxHeader* header, void*) { return read_optional(file, header, chpl_parse); }

}  // namespace vantorel
