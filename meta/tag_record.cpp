#include "meta/tag_record.h"

#include <cstdlib>

namespace vantorel {

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
