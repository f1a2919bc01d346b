#pragma once
// A small writer of one pretty-printed JSON document: it places the commas
// and line breaks, and writes every string as valid JSON whatever bytes a
// file held.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "io/fourcc.h"

namespace vantorel::app {

struct JsonWriter {
  static constexpr uint32_t kMaxDepth = 8;
  std::FILE* out;
  uint32_t depth;
  bool has_items[kMaxDepth];
  bool after_key;
};

// Before a value or a key: a comma after an earlier item, and a new line.
void json_item(JsonWriter* w);
void json_open(JsonWriter* w, char bracket);
void json_close(JsonWriter* w, char bracket);
void json_key(JsonWriter* w, const char* key);
// The value functions take a key, or null inside an array.
void json_string(JsonWriter* w, const char* key, const char* data, size_t length);
void json_text(JsonWriter* w, const char* key, const char* text);
void json_u64(JsonWriter* w, const char* key, uint64_t value);
void json_i64(JsonWriter* w, const char* key, int64_t value);
void json_null(JsonWriter* w, const char* key);
void json_bool(JsonWriter* w, const char* key, bool value);
// A four-character code exactly as stored; null when there is none.
void json_code(JsonWriter* w, const char* key, FourCC f);

// `length` bytes as one JSON string with its quotes: quotes and backslashes
// escaped, control characters as \u00XX, and every byte that is not part of
// valid UTF-8 replaced by U+FFFD, so the document stays valid whatever the
// file held.
void json_print_string(std::FILE* out, const char* data, size_t length);

}  // namespace vantorel::app
