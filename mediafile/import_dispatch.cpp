#include "mediafile/import_dispatch.h"

#include "boxes/box_tree.h"
#include "import/asf_import.h"
#include "import/avi_import.h"
#include "mediafile/internal.h"

namespace vantorel {

bool probe_avi(MediaFile* file) {
  if (file_size(file) < 12) return false;
  BoxHeader h;
  bool avi = false;
  if (read_riff_chunk_header(file, &h) == ErrorCode::Ok && h.type == "RIFF") avi = read_fourcc(file) == "AVI ";
  file_seek(file, 0);
  return avi;
}

ErrorCode import_avi(MediaFile* file) {
  VT_TRY(avi_import(file, file->root));
  // The imported tables give each track its bit rates.
  if (file->mode != kOpenInspect) update_bit_rates(file);
  return ErrorCode::Ok;
}
bool probe_asf(MediaFile* file) { return asf_probe(file); }
ErrorCode import_asf(MediaFile* file) { return asf_import(file, file->root); }

}  // namespace vantorel
