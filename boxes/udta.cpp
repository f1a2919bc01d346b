#include "boxes/udta.h"

#include <cstring>

#include "meta/chapters.h"

namespace vantorel {

namespace {

UdtaRecord* udta_of(void* context) { return movie_record<UdtaRecord>(static_cast<FileBoxes*>(context), BoxTypeId::Udta); }

const MetadataBlock* linked_chapters(const UdtaRecord* udta) {
  if (udta == nullptr || udta->chapters == nullptr || udta->chapters->chapters.count == 0) return nullptr;
  return udta->chapters;
}

// Whole 'chpl' box: header, version, flags and reserved, count, entries.
uint64_t chpl_box_size(const MetadataBlock* block) {
  uint64_t size = 17;
  for (const ChapterRecord& c : block->chapters) size += std::strlen(c.title) + 9;
  return size;
}

ErrorCode chpl_write(MediaFile* file, void* context) {
  const MetadataBlock* block = linked_chapters(udta_of(context));
  VT_TRY(write_u8(file, 1));
  VT_TRY(write_u32be(file, 0));
  VT_TRY(write_u32be(file, block->chapters.count));
  for (const ChapterRecord& c : block->chapters) {
    size_t n = std::strlen(c.title);
    if (n > kMaxChapterTitle) return ErrorCode::Missing;
    VT_TRY(write_u64be(file, c.start_time));
    VT_TRY(write_u8(file, static_cast<uint8_t>(n)));
    if (n > 0) VT_TRY(write_bytes(file, c.title, static_cast<uint32_t>(n)));
  }
  return ErrorCode::Ok;
}

}  // namespace

void udta_release(MediaFile* file, void* context) { remove_all_children(file, context, &kUdtaList); }

ErrorCode udta_read(MediaFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  UdtaRecord* udta = udta_of(context);
  if (udta == nullptr) return ErrorCode::Missing;
  VT_TRY(read_children(file, header, context, &kUdtaList, nullptr));
  if (file->meta.chapters.count > 0) udta->chapters = &file->meta;
  return ErrorCode::Ok;
}

ErrorCode udta_write(MediaFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  UdtaRecord* udta = udta_of(context);
  if (udta == nullptr) return ErrorCode::Missing;
  VT_TRY(write_children(file, context, &kUdtaList));
  const MetadataBlock* block = linked_chapters(udta);
  if (block != nullptr) VT_TRY(write_box(file, FourCC::of("chpl"), nullptr, chpl_box_size(block) - 8, chpl_write, context));
  return ErrorCode::Ok;
}

uint64_t udta_size(MediaFile* file, void* context) {
  UdtaRecord* udta = udta_of(context);
  if (udta == nullptr) return 0;
  uint64_t size = children_size(file, context, &kUdtaList);
  const MetadataBlock* block = linked_chapters(udta);
  if (block != nullptr) size += chpl_box_size(block);
  return size;
}

}  // namespace vantorel
