#pragma once
// A tag: a name with one or more values (text or raw bytes).
#include <cstdint>

#include "io/grow_array.h"

namespace vantorel {

enum TagFlags : uint32_t {
  kTagFromTagsWord = 0x1,  // read from a 'tags' list whose tag word has bit 15 clear
  kTagRaw = 0x2,           // values stored byte for byte
};

struct TagRecord {
  char name[32];  // NUL-terminated, at most 31 characters
  uint32_t flags;
  uint32_t extra;  // first field of a 'tags' cover list, else 0
  GrowArray<uint32_t> value_sizes;
  GrowArray<uint8_t*> values;  // each owned
};

// Frees the values of a tag (not the record itself).
void tag_record_release(TagRecord* tag);

}  // namespace vantorel
