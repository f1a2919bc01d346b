#include "meta/tags.h"

#include <cstdlib>
#include <cstring>

#include "meta/chapters.h"
#include "meta/ilst_items.h"

namespace vantorel {

namespace {

// The list a level names, or null when it names no chapter.
GrowArray<TagRecord>* tags_of(MetaFile* file, TagLevel level) {
  if (level.chapter == 0) return &file->meta.tags;
  if (level.index >= file->meta.chapters.count) return nullptr;
  return &file->meta.chapters[level.index].tags;
}

int32_t index_of(GrowArray<TagRecord>* tags, const char* name) {
  for (uint32_t i = 0; i < tags->count; ++i)
    if (tag_names_equal((*tags)[i].name, name)) return static_cast<int32_t>(i);
  // Keys longer than a name keeps are found whole.
  for (uint32_t i = 0; i < tags->count; ++i)
    if ((*tags)[i].key != nullptr && equal_ignoring_case((*tags)[i].key, name)) return static_cast<int32_t>(i);
  // "tool" is what the encoder's tag was called before every item had a name.
  const KnownItem* known = known_item_named(name);
  if (known != nullptr)
    for (uint32_t i = 0; i < tags->count; ++i)
      if ((*tags)[i].item == known->item && (*tags)[i].key_space.is_zero()) return static_cast<int32_t>(i);
  return -1;
}

void note_change(MetaFile* file, TagLevel level) {
  if (level.chapter == 0) file->meta.tags_changed = 1;
}

unsigned char lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

}  // namespace

bool tag_names_equal(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  for (uint32_t i = 0; i < kMaxTagName; ++i) {
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[i]);
    if (lower(ca) != lower(cb)) return false;
    if (ca == 0) return true;
  }
  return true;  // the first 31 characters match: that is all a stored name keeps
}

ErrorCode add_box_tag(MetaFile* file, const char* name, uint32_t flags, uint32_t extra, TagLevel level) {
  if (file == nullptr || name == nullptr) return ErrorCode::BadArgument;
  GrowArray<TagRecord>* tags = tags_of(file, level);
  if (tags == nullptr) return ErrorCode::BadArgument;
  if (index_of(tags, name) >= 0) return ErrorCode::Ok;
  TagRecord* tag = nullptr;
  VT_TRY(tags->append_zeroed(&tag));
  size_t n = std::strlen(name);
  if (n > kMaxTagName) n = kMaxTagName;
  std::memcpy(tag->name, name, n);
  tag->name[n] = '\0';
  tag->flags = flags;
  tag->extra = extra;
  note_change(file, level);
  return ErrorCode::Ok;
}

ErrorCode add_tag(MetaFile* file, const char* name, uint32_t flags, uint32_t extra, TagLevel level) {
  if (file == nullptr || name == nullptr) return ErrorCode::BadArgument;
  GrowArray<TagRecord>* tags = tags_of(file, level);
  if (tags == nullptr) return ErrorCode::BadArgument;
  if (index_of(tags, name) >= 0) return ErrorCode::Ok;
  VT_TRY(add_box_tag(file, name, flags, extra, level));
  TagRecord& tag = (*tags)[tags->count - 1];
  const KnownItem* known = known_item_named(name);
  if (known != nullptr) {
    tag.item = known->item;
    return ErrorCode::Ok;
  }
  tag.item = FourCC::of("----");
  tag.mean = tag_text_copy(kFreeformMean);
  tag.key = tag_text_copy(name);
  if (tag.mean != nullptr && tag.key != nullptr) return ErrorCode::Ok;
  tag_record_release(&tag);
  tags->remove_at(tags->count - 1);
  return ErrorCode::OutOfMemory;
}

ErrorCode add_tag_value(MetaFile* file, const char* name, const void* data, uint32_t size, TagLevel level) {
  return add_tag_value_typed(file, name, data, size, UINT32_MAX, 0, level);
}

ErrorCode add_tag_value_typed(MetaFile* file, const char* name, const void* data, uint32_t size, uint32_t type,
                              uint32_t locale, TagLevel level) {
  if (file == nullptr || name == nullptr || data == nullptr || size == 0) return ErrorCode::BadArgument;
  GrowArray<TagRecord>* tags = tags_of(file, level);
  if (tags == nullptr) return ErrorCode::BadArgument;
  int32_t at = index_of(tags, name);
  if (at < 0) return ErrorCode::Missing;
  TagRecord& tag = (*tags)[static_cast<uint32_t>(at)];
  auto* copy = static_cast<uint8_t*>(std::malloc(size));
  if (copy == nullptr) return ErrorCode::OutOfMemory;
  std::memcpy(copy, data, size);
  if ((tag.flags & kTagRaw) == 0) copy[size - 1] = 0;
  ErrorCode e = tag.value_sizes.append(size);
  if (e == ErrorCode::Ok) {
    e = tag.values.append(copy);
    if (e != ErrorCode::Ok) tag.value_sizes.remove_at(tag.value_sizes.count - 1);
  }
  if (e != ErrorCode::Ok) {
    std::free(copy);
    return e;
  }
  note_change(file, level);
  if (type == UINT32_MAX && tag.value_types.count == 0) return ErrorCode::Ok;  // defaults all along
  // Types and locales line up with the values from here on.
  bool text = (tag.flags & kTagRaw) == 0;
  while (tag.value_types.count + 1 < tag.values.count) {
    uint32_t i = tag.value_types.count;
    VT_TRY(tag.value_types.append(default_data_type(tag.item, text, tag.values[i], tag.value_sizes[i])));
  }
  while (tag.value_locales.count + 1 < tag.values.count) VT_TRY(tag.value_locales.append(0));
  if (type == UINT32_MAX) type = default_data_type(tag.item, text, copy, size);
  VT_TRY(tag.value_types.append(type));
  return tag.value_locales.append(locale);
}

uint32_t tag_count(MetaFile* file, TagLevel level) {
  GrowArray<TagRecord>* tags = file != nullptr ? tags_of(file, level) : nullptr;
  return tags != nullptr ? tags->count : 0;
}

ErrorCode tag_at(MetaFile* file, uint32_t index, TagLevel level, TagRecord** out_tag) {
  if (file == nullptr || out_tag == nullptr) return ErrorCode::BadArgument;
  *out_tag = nullptr;
  GrowArray<TagRecord>* tags = tags_of(file, level);
  if (tags == nullptr) return ErrorCode::BadArgument;
  if (index >= tags->count) return ErrorCode::Missing;
  *out_tag = &(*tags)[index];
  return ErrorCode::Ok;
}

ErrorCode find_tag(MetaFile* file, const char* name, TagLevel level, TagRecord** out_tag, uint32_t* out_index) {
  if (file == nullptr || name == nullptr || out_tag == nullptr || out_index == nullptr) return ErrorCode::BadArgument;
  *out_tag = nullptr;
  *out_index = 0;
  GrowArray<TagRecord>* tags = tags_of(file, level);
  if (tags == nullptr) return ErrorCode::BadArgument;
  int32_t at = index_of(tags, name);
  if (at < 0) return ErrorCode::Missing;
  *out_tag = &(*tags)[static_cast<uint32_t>(at)];
  *out_index = static_cast<uint32_t>(at);
  return ErrorCode::Ok;
}

ErrorCode remove_tag(MetaFile* file, const char* name, TagLevel level) {
  if (file == nullptr || name == nullptr) return ErrorCode::BadArgument;
  GrowArray<TagRecord>* tags = tags_of(file, level);
  if (tags == nullptr) return ErrorCode::BadArgument;
  int32_t at = index_of(tags, name);
  if (at < 0) return ErrorCode::Ok;
  tag_record_release(&(*tags)[static_cast<uint32_t>(at)]);
  tags->remove_at(static_cast<uint32_t>(at));
  note_change(file, level);
  return ErrorCode::Ok;
}

ErrorCode clear_movie_tags(MetaFile* file) {
  if (file == nullptr) return ErrorCode::BadArgument;
  if (file->meta.tags.count > 0) file->meta.tags_changed = 1;
  for (TagRecord& tag : file->meta.tags) tag_record_release(&tag);
  file->meta.tags.release();
  return ErrorCode::Ok;
}

}  // namespace vantorel
