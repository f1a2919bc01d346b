#include "meta/chapters.h"

#include <cstring>

#include "boxes/box_tree.h"

namespace vantorel {

ErrorCode add_chapter(MetaFile* file, uint64_t start_time, const char* title) {
  if (file == nullptr) return ErrorCode::BadArgument;
  ChapterRecord* chapter = nullptr;
  VT_TRY(file->meta.chapters.append_zeroed(&chapter));
  chapter->start_time = start_time;
  if (title != nullptr) {
    size_t n = std::strlen(title);
    if (n > kMaxChapterTitle) n = kMaxChapterTitle;
    std::memcpy(chapter->title, title, n);
    chapter->title[n] = '\0';
  }
  bool writing = file->mode == kOpenCreate || file->mode == kOpenUpdate;
  if (writing && file->root != nullptr && file->root->moov != nullptr && file->root->moov->udta == nullptr) {
    ErrorCode e = add_movie_box(file, BoxTypeId::Udta);
    if (e != ErrorCode::Ok) {
      file->meta.chapters.remove_at(file->meta.chapters.count - 1);
      return e;
    }
  }
  return ErrorCode::Ok;
}

void remove_chapter(MetaFile* file, uint32_t index) {
  if (file == nullptr || index >= file->meta.chapters.count) return;
  ChapterRecord& chapter = file->meta.chapters[index];
  for (TagRecord& tag : chapter.tags) tag_record_release(&tag);
  chapter.tags.release();
  file->meta.chapters.remove_at(index);
  if (file->meta.chapters.count == 0) file->meta.chapters.release();
}

ErrorCode metadata_counts(MetaFile* file, MetadataCounts* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  out->source_kind = file->meta.source_kind;
  out->tag_count = file->meta.tags.count;
  out->chapter_count = file->meta.chapters.count;
  return ErrorCode::Ok;
}

ErrorCode get_chapter(MetaFile* file, uint32_t index, ChapterInfo* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  std::memset(out, 0, sizeof *out);
  if (index >= file->meta.chapters.count) return ErrorCode::NoMore;
  if (file->meta.chapters.items == nullptr) return ErrorCode::Missing;
  const ChapterRecord& chapter = file->meta.chapters[index];
  std::memcpy(out->title, chapter.title, sizeof out->title);
  out->title[kMaxChapterTitle] = '\0';
  out->tag_count = chapter.tags.count;
  out->start_time = chapter.start_time;
  return ErrorCode::Ok;
}

void clear_all_metadata(MetaFile* file) {
  if (file == nullptr) return;
  while (file->meta.chapters.count > 0) remove_chapter(file, file->meta.chapters.count - 1);
  file->meta.chapters.release();
  for (TagRecord& tag : file->meta.tags) tag_record_release(&tag);
  file->meta.tags.release();
}

}  // namespace vantorel
