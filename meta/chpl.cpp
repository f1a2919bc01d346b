// 'chpl' in the movie's user data: the chapter list. Its writer is part of
// the 'udta' writer, which writes the list back from the metadata block.
#include "meta/chapters.h"
#include "meta/metadata_boxes.h"

namespace vantorel {

ErrorCode chpl_parse(MediaFile* file, const BoxHeader* header) {
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

}  // namespace vantorel
