#pragma once
// The metadata part of an open file: the movie's tags and chapters, added to
// the box tree's part.
#include <cstdint>

#include "boxes/box_file.h"
#include "io/grow_array.h"

namespace vantorel {

struct TagRecord;
struct ChapterRecord;

// Where the tags were read from.
enum MetadataSource : uint32_t { kMetaNone = 0, kMetaFromMeta = 2, kMetaFromTags = 4 };

struct MetadataBlock {
  uint32_t source_kind;
  GrowArray<TagRecord> tags;
  GrowArray<ChapterRecord> chapters;
  uint32_t tags_changed;  // 1: the movie's tags differ from the 'meta' boxes carried; close writes them
};

struct MetaFile : BoxFile {
  MetadataBlock meta;
};

}  // namespace vantorel
