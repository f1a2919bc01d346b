#pragma once
// Tags of a MetaFile's metadata block: the movie's own list and one list per
// chapter. Names are compared without regard to letter case.
#include <cstdint>

#include "meta/meta_file.h"
#include "meta/tag_record.h"

namespace vantorel {

constexpr uint32_t kMaxTagName = 31;

// Which list an operation works on: the movie's tags, or those of one chapter.
struct TagLevel {
  uint32_t chapter;  // 0: the movie's tags; 1: the tags of chapter `index`
  uint32_t index;
};
constexpr TagLevel kMovieTags{0, 0};
constexpr TagLevel chapter_tags(uint32_t index) { return TagLevel{1, index}; }

// Adds an empty tag (name cut to 31 characters). A tag of that name already on
// the level is kept as it is and Ok returned. BadArgument on a null name or a chapter
// level that names no chapter.
// A movie tag added here is written back into the 'ilst' at close: under its
// item when the name is a known one, else as a freeform item.
ErrorCode add_tag(MetaFile* file, const char* name, uint32_t flags, uint32_t extra, TagLevel level);
// The same for the readers of boxes other than 'ilst': the tag has no item.
ErrorCode add_box_tag(MetaFile* file, const char* name, uint32_t flags, uint32_t extra, TagLevel level);
// Appends a copy of `data` to the tag's values. Unless the tag is raw, the
// copy's last byte is forced to NUL (text is passed with its terminator).
// BadArgument on null arguments or size 0; Missing when the tag is not on that level.
ErrorCode add_tag_value(MetaFile* file, const char* name, const void* data, uint32_t size, TagLevel level);
// The same with the 'data' type word and locale the value is written with
// (see DataType; add_tag_value picks one from the item and the value).
ErrorCode add_tag_value_typed(MetaFile* file, const char* name, const void* data, uint32_t size, uint32_t type,
                              uint32_t locale, TagLevel level);
// Tag i of a level, for walking every tag; Missing past the last.
ErrorCode tag_at(MetaFile* file, uint32_t index, TagLevel level, TagRecord** out_tag);
uint32_t tag_count(MetaFile* file, TagLevel level);
// The tag of that name and its index on the level; Missing when there is none. The
// pointer is valid until the level's list or the chapter list changes.
ErrorCode find_tag(MetaFile* file, const char* name, TagLevel level, TagRecord** out_tag, uint32_t* out_index);
// Removes the tag with its values; nothing when there is no such tag.
ErrorCode remove_tag(MetaFile* file, const char* name, TagLevel level);
ErrorCode clear_movie_tags(MetaFile* file);

// Names known items by the table, "track" also "trkn", and freeform or
// keyed tags also by their full key.
// Equal ignoring ASCII letter case, over at most the 31 characters a name keeps.
bool tag_names_equal(const char* a, const char* b);

}  // namespace vantorel
