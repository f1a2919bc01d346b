// 'chpl' in the movie's user data: the chapter list, read into the metadata
// part and written back from it.
#include <cstring>

#include "meta/chapters.h"
#include "meta/metadata_boxes.h"

namespace vantorel {

ErrorCode chpl_parse(MetaFile* file, const BoxHeader* header) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  file->flags |= kFlagTdrm;
  // Version, flags with a reserved byte, count.
  if (box_bytes_left(file, header) < 9) return malformed(file, "'chpl' shorter than its fields");
  uint8_t version = read_u8(file);
  VT_TRY(file_skip(file, 4));
  uint32_t count = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  uint64_t time_size = version == 1 ? 8 : 4;
  if (!box_holds(file, header, count, time_size + 1)) return malformed(file, "chapter count larger than the box");
  // A second 'chpl' appends: the list is not cleared first.
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t start = version == 1 ? read_u64be(file) : read_u32be(file);
    uint8_t length = read_u8(file);
    if (io_failed(file)) return ErrorCode::Io;
    if (!box_holds(file, header, length, 1)) return malformed(file, "chapter title longer than the box");
    char title[kMaxChapterTitle + 1] = {};
    if (length > 0) VT_TRY(read_bytes(file, title, length));
    VT_TRY(add_chapter(file, start, title));
  }
  return ErrorCode::Ok;
}

bool chpl_present(MetaFile* file, void*) { return file != nullptr && file->meta.chapters.count > 0; }

uint64_t chpl_size(MetaFile* file, void*) {
  if (file == nullptr) return 0;
  // Version, flags with a reserved byte, count; per chapter a 64-bit start and a length byte.
  uint64_t size = 9;
  for (const ChapterRecord& c : file->meta.chapters) size += std::strlen(c.title) + 9;
  return size;
}

ErrorCode chpl_write(MetaFile* file, void*) {
  if (file == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u8(file, 1));
  VT_TRY(write_u32be(file, 0));
  VT_TRY(write_u32be(file, file->meta.chapters.count));
  for (const ChapterRecord& c : file->meta.chapters) {
    size_t n = std::strlen(c.title);
    if (n > kMaxChapterTitle) return ErrorCode::Missing;
    VT_TRY(write_u64be(file, c.start_time));
    VT_TRY(write_u8(file, static_cast<uint8_t>(n)));
    if (n > 0) VT_TRY(write_bytes(file, c.title, static_cast<uint32_t>(n)));
  }
  return ErrorCode::Ok;
}

}  // namespace vantorel
