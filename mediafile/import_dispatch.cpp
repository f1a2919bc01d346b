#include "mediafile/import_dispatch.h"

#include "boxes/box_tree.h"

namespace vantorel {

bool probe_avi(MediaFile* file) {
  if (file_size(file) < 12) return false;
  BoxHeader h;
  bool avi = false;
  if (read_riff_chunk_header(file, &h) == ErrorCode::Ok && h.type == "RIFF") avi = read_fourcc(file) == "AVI ";
  file_seek(file, 0);
  return avi;
}

// The importers join in a later step; until then these files are refused.
ErrorCode import_avi(MediaFile*) { return ErrorCode::Unsupported; }
bool probe_asf(MediaFile*) { return false; }
ErrorCode import_asf(MediaFile*) { return ErrorCode::Unsupported; }

}  // namespace vantorel
