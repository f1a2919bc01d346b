#pragma once
// A tag: a name with one or more values (text or raw bytes).
#include <cstdint>

#include "io/fourcc.h"
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
  // What an 'ilst' item keeps beside its values, so that it is written back
  // as it was read.
  FourCC item;       // item type; zero for tags that no 'ilst' holds
  FourCC key_space;  // items of a 'keys' table: the key's namespace ('mdta'); zero otherwise
  char* key;         // freeform item's 'name', or the key of a 'keys' table; owned, NUL-terminated
  char* mean;        // freeform item's 'mean'; owned, NUL-terminated
  GrowArray<uint32_t> value_types;    // per value: the 'data' box's type word (may be shorter than values)
  GrowArray<uint32_t> value_locales;  // per value: its locale word (may be shorter than values)
};

// A tag's value as stored: raw values whole, text without the NUL added on reading.
inline uint32_t tag_value_length(const TagRecord& tag, uint32_t i) {
  uint32_t size = tag.value_sizes[i];
  return (tag.flags & kTagRaw) != 0 || size == 0 ? size : size - 1;
}

// A malloc'd copy of a NUL-terminated text (null for null, or out of memory).
char* tag_text_copy(const char* text);

// Frees the values of a tag (not the record itself).
void tag_record_release(TagRecord* tag);

}  // namespace vantorel
