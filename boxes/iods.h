#pragma once
// 'iods': the initial object descriptor, read only. Files this library
// writes never carry one.
#include "boxes/box_tree.h"

namespace vantorel {

struct IodsRecord {
  uint8_t version;
  uint32_t flags;
  uint16_t object_descriptor_id;  // 10 significant bits
  uint8_t url_flag;
  uint8_t include_inline_profile_level_flag;
  uint8_t url_length;
  uint8_t* url;  // owned, url_length bytes, not NUL-terminated
  uint8_t od_profile_level;
  uint8_t scene_profile_level;
  uint8_t audio_profile_level;
  uint8_t visual_profile_level;
  uint8_t graphics_profile_level;
  GrowArray<uint32_t> es_ids;  // track ids of the ES_ID_Inc descriptors
};

void iods_init(BoxFile* file, void* context);
void iods_release(BoxFile* file, void* context);
ErrorCode iods_read(BoxFile* file, const BoxHeader* header, void* context);
// The payload an 'iods' would take with one-byte descriptor lengths. It is
// not the row's size operation: an 'iods' is never written, so it must not
// count towards the size of the movie box.
uint64_t iods_size(BoxFile* file, void* context);

}  // namespace vantorel
