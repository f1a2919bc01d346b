// 'meta' boxes of the movie: an 'ilst' whose items become movie tags, with a
// 'keys' table when the handler is 'mdta'. Every item is read: known ones get
// their name, others go by their type, freeform ones ('----') by their 'name',
// keyed ones by their key; each value keeps its type word and locale.
#include <cstdlib>
#include <cstring>

#include "meta/ilst_items.h"
#include "meta/metadata_boxes.h"
#include "meta/tags.h"

namespace vantorel {

namespace {

constexpr uint32_t kMaxKeyLength = 1024;

struct Key {
  FourCC space;
  char* name;
};

struct Keys {
  Keys() : keys{} {}
  GrowArray<Key> keys;
  ~Keys() {
    for (Key& k : keys) std::free(k.name);
    keys.release();
  }
};

// What makes an item one tag: values of items met again join it.
struct ItemIdentity {
  char name[kMaxTagName + 1];
  FourCC item;
  FourCC key_space;
  const char* key;
  const char* mean;
};

bool same_text(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

// Reads the rest of a box as text (at most `limit` bytes), NUL-terminated.
ErrorCode read_text(MetaFile* file, const BoxHeader* box, uint32_t limit, char** out) {
  uint64_t length = box_bytes_left(file, box);
  if (length > limit) return malformed(file, "text longer than a name or key can be");
  auto* text = static_cast<char*>(std::malloc(length + 1));
  if (text == nullptr) return ErrorCode::OutOfMemory;
  ErrorCode e = length > 0 ? read_bytes(file, text, static_cast<uint32_t>(length)) : ErrorCode::Ok;
  if (e == ErrorCode::Ok && io_failed(file)) e = ErrorCode::Io;
  if (e != ErrorCode::Ok) {
    std::free(text);
    return e;
  }
  text[length] = '\0';
  std::free(*out);
  *out = text;
  return ErrorCode::Ok;
}

ErrorCode read_keys(MetaFile* file, const BoxHeader* box, Keys* out) {
  if (box_bytes_left(file, box) < 8) return malformed(file, "'keys' shorter than its fields");
  VT_TRY(file_skip(file, 4));
  uint32_t count = read_u32be(file);
  if (!box_holds(file, box, count, 8)) return malformed(file, "key count larger than its box");
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t size = read_u32be(file);
    FourCC space = read_fourcc(file);
    if (io_failed(file)) return ErrorCode::Io;
    if (size < 8 || size - 8 > box_bytes_left(file, box)) return malformed(file, "key longer than its box");
    if (size - 8 > kMaxKeyLength) return malformed(file, "key longer than a key can be");
    Key key{space, static_cast<char*>(std::malloc(size - 8 + 1))};
    if (key.name == nullptr) return ErrorCode::OutOfMemory;
    ErrorCode e = size > 8 ? read_bytes(file, key.name, size - 8) : ErrorCode::Ok;
    key.name[size - 8] = '\0';
    if (e == ErrorCode::Ok) e = out->keys.append(key);
    if (e != ErrorCode::Ok) {
      std::free(key.name);
      return e;
    }
  }
  return ErrorCode::Ok;
}

TagRecord* find_identity(MetaFile* file, const ItemIdentity& id) {
  for (TagRecord& t : file->meta.tags)
    if (t.item == id.item && t.key_space == id.key_space && same_text(t.key, id.key) && same_text(t.mean, id.mean) &&
        tag_names_equal(t.name, id.name))
      return &t;
  return nullptr;
}

// The tag an item's values go to: the one of the same identity, or a new one.
ErrorCode tag_for(MetaFile* file, const ItemIdentity& id, bool text, TagRecord** out) {
  *out = find_identity(file, id);
  if (*out != nullptr) return ErrorCode::Ok;
  TagRecord* tag = nullptr;
  VT_TRY(file->meta.tags.append_zeroed(&tag));
  std::memcpy(tag->name, id.name, sizeof tag->name);
  tag->flags = text ? 0u : uint32_t{kTagRaw};
  tag->item = id.item;
  tag->key_space = id.key_space;
  tag->key = tag_text_copy(id.key);
  tag->mean = tag_text_copy(id.mean);
  if ((id.key != nullptr && tag->key == nullptr) || (id.mean != nullptr && tag->mean == nullptr)) {
    tag_record_release(tag);
    file->meta.tags.remove_at(file->meta.tags.count - 1);
    return ErrorCode::OutOfMemory;
  }
  *out = tag;
  return ErrorCode::Ok;
}

// Known items read as their kind says (a text item's untyped value is text
// too); others are text when they say they are UTF-8.
bool is_text(const ItemIdentity& id, uint32_t type) {
  const KnownItem* known = id.key_space.is_zero() ? known_item(id.item) : nullptr;
  if (known != nullptr && known->kind != kItemText) return false;
  if (type == kDataUtf8) return true;
  return type == kDataImplicit && known != nullptr;
}

// One 'data' box: type word, locale, then the value to the box's end.
ErrorCode read_data(MetaFile* file, const BoxHeader* data, const ItemIdentity& id) {
  if (box_bytes_left(file, data) < 8) return malformed(file, "'data' box shorter than its fields");
  uint32_t type = read_u32be(file);
  uint32_t locale = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  uint64_t length = box_bytes_left(file, data);
  if (length >= UINT32_MAX) return malformed(file, "item value of 4 GiB or more");
  TagRecord* tag = nullptr;
  VT_TRY(tag_for(file, id, is_text(id, type), &tag));
  bool raw = (tag->flags & kTagRaw) != 0;
  if (raw && length == 0) {
    // An empty raw value is refused; a tag made for it alone goes again.
    if (tag->values.count == 0) {
      tag_record_release(tag);
      file->meta.tags.remove_at(static_cast<uint32_t>(tag - file->meta.tags.begin()));
    }
    return ErrorCode::BadArgument;
  }
  uint64_t stored = raw ? length : length + 1;  // text gets its NUL
  auto* value = static_cast<uint8_t*>(std::malloc(stored));
  if (value == nullptr) return ErrorCode::OutOfMemory;
  ErrorCode e = length > 0 ? read_bytes(file, value, static_cast<uint32_t>(length)) : ErrorCode::Ok;
  if (e == ErrorCode::Ok && io_failed(file)) e = ErrorCode::Io;
  if (!raw) value[length] = 0;
  if (e == ErrorCode::Ok) {
    // Appended directly: the tag is found by identity, not by name.
    e = tag->value_sizes.append(static_cast<uint32_t>(stored));
    if (e == ErrorCode::Ok) e = tag->values.append(value);
    if (e == ErrorCode::Ok) {
      value = nullptr;
      while (e == ErrorCode::Ok && tag->value_types.count + 1 < tag->values.count) e = tag->value_types.append(0);
      while (e == ErrorCode::Ok && tag->value_locales.count + 1 < tag->values.count) e = tag->value_locales.append(0);
      if (e == ErrorCode::Ok) e = tag->value_types.append(type);
      if (e == ErrorCode::Ok) e = tag->value_locales.append(locale);
    } else if (tag->value_sizes.count > tag->values.count) {
      tag->value_sizes.remove_at(tag->value_sizes.count - 1);
    }
  }
  std::free(value);
  return e;
}

// The name a keyed tag goes by: QuickTime's keys without their common prefix.
void key_name(const char* key, char* out) {
  static const char kPrefix[] = "com.apple.quicktime.";
  if (std::strncmp(key, kPrefix, sizeof kPrefix - 1) == 0 && key[sizeof kPrefix - 1] != '\0') key += sizeof kPrefix - 1;
  std::strncpy(out, key, kMaxTagName);
  out[kMaxTagName] = '\0';
}

ErrorCode read_item(MetaFile* file, const BoxHeader* item, const Keys* keys) {
  ItemIdentity id{};
  id.item = item->type;
  char* mean = nullptr;
  char* name = nullptr;
  if (keys != nullptr) {
    // Keyed items are typed by their index into the table, from 1.
    uint32_t index = item->type.to_u32();
    if (index == 0 || index > keys->keys.count) return ErrorCode::Ok;  // a key past the table: skipped
    const Key& key = keys->keys[index - 1];
    id.key_space = key.space;
    id.key = key.name;
    key_name(key.name, id.name);
  } else if (const KnownItem* known = known_item(item->type)) {
    std::strncpy(id.name, known->name, kMaxTagName);
  } else if (!(item->type == "----") && !item_type_name(item->type, id.name, sizeof id.name)) {
    return ErrorCode::Ok;
  }
  ErrorCode e = walk_children(file, item, [&](const BoxHeader* child) -> ErrorCode {
    bool freeform = item->type == "----" && keys == nullptr;
    if (freeform && (child->type == "mean" || child->type == "name")) {
      if (box_bytes_left(file, child) < 4) return malformed(file, "freeform item field shorter than its header");
      VT_TRY(file_skip(file, 4));
      return read_text(file, child, kMaxKeyLength, child->type == "mean" ? &mean : &name);
    }
    if (!(child->type == "data")) return ErrorCode::Ok;
    if (freeform) {
      if (name == nullptr) return ErrorCode::Ok;  // a freeform value without its name is nobody's
      id.mean = mean;
      id.key = name;
      std::strncpy(id.name, name, kMaxTagName);
    }
    return read_data(file, child, id);
  });
  std::free(mean);
  std::free(name);
  return e;
}

// A full box; some writers leave out version and flags, and then a child
// box header starts the payload.
ErrorCode seek_meta_children(MetaFile* file, const BoxHeader* header) {
  uint64_t payload = file_tell(file);
  uint64_t children = payload + 4;
  if (box_bytes_left(file, header) >= 8) {
    uint32_t size_field = read_u32be(file);
    FourCC type = read_fourcc(file);
    if (size_field >= 8 && (type == "hdlr" || type == "ilst" || type == "keys")) children = payload;
  }
  return file_seek(file, children);
}

}  // namespace

ErrorCode meta_box_parse(MetaFile* file, const BoxHeader* header) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  file->flags |= kFlagUdta;
  file->meta.source_kind = kMetaFromMeta;
  VT_TRY(seek_meta_children(file, header));
  Keys keys{};
  bool keyed = false;
  return walk_children(file, header, [&](const BoxHeader* child) -> ErrorCode {
    if (child->type == "hdlr") {
      if (box_bytes_left(file, child) < 12) return ErrorCode::Ok;
      VT_TRY(file_skip(file, 8));
      keyed = read_fourcc(file) == "mdta";
      return ErrorCode::Ok;
    }
    if (child->type == "keys") return read_keys(file, child, &keys);
    if (!(child->type == "ilst")) return ErrorCode::Ok;
    return walk_children(file, child, [&](const BoxHeader* item) {
      return read_item(file, item, keyed ? &keys : nullptr);
    });
  });
}

}  // namespace vantorel
