// 'meta' in the movie's user data: an 'ilst' whose items become movie tags.
#include <cstdlib>
#include <string_view>

#include "meta/metadata_boxes.h"
#include "meta/tags.h"

namespace vantorel {

namespace {

struct ItemTag {
  std::string_view type;  // item box type; the first byte of the text ones is 0xA9
  const char* name;
  uint32_t flags;
};

// The escapes are split so that the letters after 0xA9 are not read as hex digits.
constexpr ItemTag kItemTags[] = {
    {"\xA9" "nam", "title", 0},   {"\xA9" "ART", "artist", 0}, {"\xA9" "alb", "album", 0},
    {"\xA9" "too", "tool", 0},    {"\xA9" "cmt", "comment", 0}, {"\xA9" "gen", "genre", 0},
    {"\xA9" "day", "year", 0},    {"covr", "cover", kTagRaw},
};

const ItemTag* item_tag_of(FourCC type) {
  for (const ItemTag& t : kItemTags)
    if (type == t.type) return &t;
  return nullptr;
}

// One item: its first child must be 'data'; after that box's version, flags
// and locale word, the rest of the 'data' box is the value.
ErrorCode read_item(MetaFile* file, const BoxHeader* item, const ItemTag& tag) {
  BoxHeader data;
  bool found = false;
  VT_TRY(read_child_header(file, item, &data, &found));
  if (!found || !(data.type == "data")) return ErrorCode::Ok;
  if (box_bytes_left(file, &data) < 8) return malformed(file, "'data' box shorter than its fields");
  VT_TRY(file_skip(file, 8));
  if (io_failed(file)) return ErrorCode::Io;
  uint64_t length = box_bytes_left(file, &data);
  if (length >= UINT32_MAX) return malformed(file, "item value of 4 GiB or more");
  bool raw = (tag.flags & kTagRaw) != 0;
  if (raw && length == 0) return ErrorCode::BadArgument;  // an empty raw value is refused
  uint64_t stored = raw ? length : length + 1;            // text gets its NUL
  auto* value = static_cast<uint8_t*>(std::malloc(stored));
  if (value == nullptr) return ErrorCode::OutOfMemory;
  ErrorCode e = length > 0 ? read_bytes(file, value, static_cast<uint32_t>(length)) : ErrorCode::Ok;
  if (e == ErrorCode::Ok && io_failed(file)) e = ErrorCode::Io;
  if (!raw) value[length] = 0;
  if (e == ErrorCode::Ok) e = add_tag(file, tag.name, tag.flags, 0, kMovieTags);
  if (e == ErrorCode::Ok) e = add_tag_value(file, tag.name, value, static_cast<uint32_t>(stored), kMovieTags);
  std::free(value);
  return e;
}

ErrorCode read_ilst(MetaFile* file, const BoxHeader* ilst) {
  return walk_children(file, ilst, [&](const BoxHeader* item) {
    const ItemTag* tag = item_tag_of(item->type);
    return tag != nullptr ? read_item(file, item, *tag) : ErrorCode::Ok;
  });
}

}  // namespace

ErrorCode meta_box_parse(MetaFile* file, const BoxHeader* header) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  file->flags |= kFlagUdta;
  VT_TRY(clear_movie_tags(file));
  file->meta.source_kind = kMetaFromMeta;
  // A full box; some writers leave out version and flags, and then a child
  // box header starts the payload.
  uint64_t payload = file_tell(file);
  uint64_t children = payload + 4;
  if (box_bytes_left(file, header) >= 8) {
    uint32_t size_field = read_u32be(file);
    FourCC type = read_fourcc(file);
    if (size_field >= 8 && (type == "hdlr" || type == "ilst")) children = payload;
  }
  VT_TRY(file_seek(file, children));
  return walk_children(file, header, [&](const BoxHeader* child) {
    return child->type == "ilst" ? read_ilst(file, child) : ErrorCode::Ok;
  });
}

}  // namespace vantorel
