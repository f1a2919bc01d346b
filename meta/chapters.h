#pragma once
// The chapter list of a MetaFile's metadata block.
#include <cstdint>

#include "meta/meta_file.h"
#include "meta/tag_record.h"

namespace vantorel {

constexpr uint32_t kMaxChapterTitle = 255;

struct ChapterRecord {
  char title[kMaxChapterTitle + 1];  // NUL-terminated
  uint64_t start_time;               // as stored ('chpl': units of 100 ns)
  GrowArray<TagRecord> tags;
};

struct MetadataCounts {
  uint32_t source_kind;
  uint32_t tag_count;
  uint32_t chapter_count;
};

// What get chapter hands out.
struct ChapterInfo {
  char title[kMaxChapterTitle + 1];
  uint32_t tag_count;
  uint64_t start_time;
};

// Appends a chapter (title cut to 255 characters; null for none) and links
// the movie's 'udta' to the block. In create and update mode a missing 'udta'
// is added, so the chapters are written out.
ErrorCode add_chapter(MetaFile* file, uint64_t start_time, const char* title);
void remove_chapter(MetaFile* file, uint32_t index);
ErrorCode metadata_counts(MetaFile* file, MetadataCounts* out);
ErrorCode get_chapter(MetaFile* file, uint32_t index, ChapterInfo* out);
// Removes every chapter with its tags, then every movie tag.
void clear_all_metadata(MetaFile* file);

}  // namespace vantorel
