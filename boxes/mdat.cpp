#include "boxes/mdat.h"

namespace vantorel {

ErrorCode mdat_read(BoxFile* file, const BoxHeader* header, void*) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  if (file->mode != kOpenUpdate) return ErrorCode::Ok;
  set_last_region_end(file, header->start);
  return append_region(file, header->end);
}

}  // namespace vantorel
