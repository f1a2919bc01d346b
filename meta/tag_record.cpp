#include "meta/tag_record.h"

#include <cstdlib>
#include <cstring>

namespace vantorel {

char* tag_text_copy(const char* text) {
  if (text == nullptr) return nullptr;
  size_t n = std::strlen(text);
  auto* copy = static_cast<char*>(std::malloc(n + 1));
  if (copy != nullptr) std::memcpy(copy, text, n + 1);
  return copy;
}

void tag_record_release(TagRecord* tag) {
  if (tag == nullptr) return;
  for (uint8_t* v : tag->values) std::free(v);
  tag->values.release();
  tag->value_sizes.release();
  tag->value_types.release();
  tag->value_locales.release();
  std::free(tag->key);
  std::free(tag->mean);
  tag->key = nullptr;
  tag->mean = nullptr;
}

}  // namespace vantorel
