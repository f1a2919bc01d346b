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
ErrorCode add_tag(MetaFile* file, const char* name, uint32_t flags, uint32_t extra, TagLevel level);
// Appends a copy of `data` to the tag's values. Unless the tag is raw, the
// copy's last byte is forced to NUL (text is passed with its terminator).
// BadArgument on null arguments or size 0; Missing when the tag is not on that level.
ErrorCode add_tag_value(MetaFile* file, const char* name, const void* data, uint32_t size, TagLevel level);
// The tag of that name and its index on the level; Missing when there is none. The
// pointer is valid until the level's list or the chapter list changes.
ErrorCode find_tag(MetaFile* file, const char* name, TagLevel level, TagRecord** out_tag, uint32_t* out_index);
// Removes the tag with its values; nothing when there is no such tag.
ErrorCode remove_tag(MetaFile* file, const char* name, TagLevel level);
ErrorCode clear_movie_tags(MetaFile* file);

// Equal ignoring ASCII letter case, over at most the 31 characters a name keeps.
bool tag_names_equal(const char* a, const char* b);

}  // namespace vantorel
