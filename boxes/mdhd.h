#pragma once
// 'mdhd': the media header, with the packed language code.
#include "boxes/box_tree.h"
#include "boxes/fields.h"

namespace vantorel {

struct MdhdRecord {
  uint8_t version;
  uint32_t flags;
  uint64_t creation_time;
  uint64_t modification_time;
  uint32_t timescale;
  uint64_t duration;  // media time scale
  char language[4];   // three lower-case letters and a NUL
};


void mdhd_init(BoxFile* file, void* context);
ErrorCode mdhd_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode mdhd_write(BoxFile* file, void* context);
uint64_t mdhd_size(BoxFile* file, void* context);

}  // namespace vantorel
