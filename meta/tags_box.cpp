// 'tags' in the movie's user data: tag lists for the movie and for chapters
// ('tseg' segments), and a list of cover pictures.
#include <cstdlib>
#include <cstring>

#include "meta/metadata_boxes.h"
#include "meta/tags.h"

namespace vantorel {

namespace {

constexpr uint32_t kMaxTagsNameLength = 32;
// Smallest tag of a list: word, name length, one name byte, value count.
constexpr uint64_t kSmallestTag = 2 + 1 + 1 + 2;

// A length-prefixed value: `length` bytes, NUL-terminated when `text` is set.
ErrorCode read_value(MetaFile* file, const BoxHeader* box, const char* name, uint32_t length, bool text,
                     TagLevel level) {
  // Checked before the NUL's byte is added, so no length can wrap to a tiny allocation.
  if (length > box_bytes_left(file, box) || length == UINT32_MAX) return malformed(file, "tag value longer than its box");
  uint32_t stored = text ? length + 1 : length;
  if (stored == 0) return ErrorCode::BadArgument;  // an empty raw value is refused
  auto* value = static_cast<uint8_t*>(std::malloc(stored));
  if (value == nullptr) return ErrorCode::OutOfMemory;
  ErrorCode e = length > 0 ? read_bytes(file, value, length) : ErrorCode::Ok;
  if (e == ErrorCode::Ok && io_failed(file)) e = ErrorCode::Io;
  if (text) value[length] = 0;
  if (e == ErrorCode::Ok) e = add_tag_value(file, name, value, stored, level);
  std::free(value);
  return e;
}

ErrorCode read_tag_list(MetaFile* file, const BoxHeader* list, TagLevel level) {
  if (box_bytes_left(file, list) < 4) return malformed(file, "tag list without its count");
  uint32_t count = read_u32be(file);
  if (!box_holds(file, list, count, kSmallestTag)) return malformed(file, "tag count larger than its box");
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t word = read_u16be(file);
    uint8_t name_length = read_u8(file);
    if (io_failed(file)) return ErrorCode::Io;
    if (name_length == 0 || name_length > kMaxTagsNameLength) {
      set_error_reason(file, "tag name length outside 1 to 32");
      return ErrorCode::Missing;
    }
    if (!box_holds(file, list, uint64_t{name_length} + 2, 1)) return malformed(file, "tag name longer than its box");
    char name[kMaxTagsNameLength + 1] = {};
    VT_TRY(read_bytes(file, name, name_length));
    uint32_t flags = (word & 0x8000) == 0 ? uint32_t{kTagFromTagsWord} : 0u;
    VT_TRY(add_box_tag(file, name, flags, 0, level));
    uint16_t values = read_u16be(file);
    if (!box_holds(file, list, values, 4)) return malformed(file, "value count larger than its box");
    for (uint16_t v = 0; v < values; ++v) {
      uint32_t length = read_u32be(file);
      if (io_failed(file)) return ErrorCode::Io;
      VT_TRY(read_value(file, list, name, length, true, level));
    }
  }
  return ErrorCode::Ok;
}

ErrorCode read_cover_list(MetaFile* file, const BoxHeader* covr) {
  if (box_bytes_left(file, covr) < 8) return malformed(file, "cover list without its count");
  uint32_t extra = read_u32be(file);
  uint32_t pictures = read_u32be(file);
  if (!box_holds(file, covr, pictures, 4)) return malformed(file, "picture count larger than its box");
  VT_TRY(add_box_tag(file, "cover", kTagRaw, extra, kMovieTags));
  for (uint32_t i = 0; i < pictures; ++i) {
    uint32_t length = read_u32be(file);
    if (io_failed(file)) return ErrorCode::Io;
    VT_TRY(read_value(file, covr, "cover", length, false, kMovieTags));
  }
  return ErrorCode::Ok;
}

// A segment holds the tags of one chapter: 'tshd' with the chapter index
// first, then tag lists.
ErrorCode read_segment(MetaFile* file, const BoxHeader* segment) {
  BoxHeader child;
  bool found = false;
  VT_TRY(read_child_header(file, segment, &child, &found));
  if (!found || !(child.type == "tshd")) return ErrorCode::Ok;
  if (box_bytes_left(file, &child) < 4) return malformed(file, "'tshd' without its chapter index");
  uint32_t chapter = read_u32be(file);
  // Tags of a chapter the file does not have cannot be kept anywhere; the
  // rest of the box is still worth reading.
  if (chapter >= file->meta.chapters.count) return ErrorCode::Ok;
  VT_TRY(file_seek(file, child.end));
  return walk_children(file, segment, [&](const BoxHeader* list) {
    return list->type == "meta" ? read_tag_list(file, list, chapter_tags(chapter)) : ErrorCode::Ok;
  });
}

}  // namespace

ErrorCode tags_box_parse(MetaFile* file, const BoxHeader* header) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  file->flags |= kFlagTdrm;
  file->meta.source_kind = kMetaFromTags;
  return walk_children(file, header, [&](const BoxHeader* child) {
    if (child->type == "tseg") return read_segment(file, child);
    if (child->type == "meta") return read_tag_list(file, child, kMovieTags);
    if (child->type == "covr") return read_cover_list(file, child);
    return ErrorCode::Ok;
  });
}

}  // namespace vantorel
