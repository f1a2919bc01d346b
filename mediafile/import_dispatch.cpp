#include "mediafile/import_dispatch.h"

#include "boxes/box_tree.h"
#include "import/asf_import.h"
#include "import/avi_import.h"

namespace vantorel {

bool probe_avi(MediaFile* file) {
  if (file_size(file) < 12) return false;
  BoxHeader h;
  bool avi = false;
  if (read_riff_chunk_header(file, &h) == ErrorCode::Ok && h.type == "RIFF") avi = read_fourcc(file) == "AVI ";
  file_seek(file, 0);
  return avi;
}

ErrorCode import_avi(MediaFile* file) { return avi_import(file, file->root); }
bool probe_asf(MediaFile* file) { return asf_probe(file); }
ErrorCode import_asf(MediaFile* file) { return asf_import(file, file->root); }

}  // namespace vantorel
