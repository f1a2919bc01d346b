#pragma once
// How a tag's value reads to a person: text as it is, numbers and track
// numbers formatted, pictures and other binary values by kind and size.
#include <cstddef>
#include <cstdint>

#include "meta/tag_record.h"

namespace vantorel::app {

struct TagValueText {
  const char* text;    // what to show; null for a binary value
  size_t length;
  const char* kind;    // "text", "utf16", "integer", "jpeg", "png", "bmp", "binary", ...
  uint32_t bytes;      // the value's size as stored (text without its NUL)
  char buffer[256];    // holds formatted or converted text
};

void tag_value_text(const TagRecord& tag, uint32_t index, TagValueText* out);

// A tag's full name: the key of a keyed or freeform tag, else its name.
const char* tag_display_name(const TagRecord& tag);

}  // namespace vantorel::app
