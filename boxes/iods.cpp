#include "boxes/iods.h"

#include <cstdlib>

namespace vantorel {

namespace {

constexpr uint8_t kInitialObjectDescriptorTag = 0x10;
constexpr uint8_t kEsIdIncTag = 0x0E;

IodsRecord* iods_of(void* context) { return movie_record<IodsRecord>(static_cast<FileBoxes*>(context), BoxTypeId::Iods); }

// Expandable descriptor length: 7 bits a byte, high bit set while another
// byte follows, at most four bytes.
uint32_t read_descriptor_length(BoxFile* file) {
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) {
    uint8_t b = read_u8(file);
    length = (length << 7) | (b & 0x7F);
    if ((b & 0x80) == 0) break;
  }
  return length;
}

}  // namespace

void iods_init(BoxFile*, void* context) {
  IodsRecord* d = iods_of(context);
  if (d == nullptr) return;
  d->object_descriptor_id = 1;
  d->od_profile_level = 0xFF;
  d->scene_profile_level = 0xFF;
  d->audio_profile_level = 0xFF;
  d->visual_profile_level = 0xFF;
  d->graphics_profile_level = 0xFF;
}

void iods_release(BoxFile*, void* context) {
  IodsRecord* d = iods_of(context);
  if (d == nullptr) return;
  std::free(d->url);
  d->url = nullptr;
  d->es_ids.release();
}

ErrorCode iods_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  IodsRecord* d = iods_of(context);
  if (d == nullptr) return ErrorCode::Missing;
  d->version = read_u8(file);
  d->flags = read_u24be(file);
  uint8_t tag = read_u8(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (tag != kInitialObjectDescriptorTag) return malformed(file, "'iods' without an initial object descriptor");
  read_descriptor_length(file);
  uint16_t word = read_u16be(file);
  d->object_descriptor_id = static_cast<uint16_t>(word >> 6);
  d->url_flag = (word >> 5) & 1;
  d->include_inline_profile_level_flag = (word >> 4) & 1;
  if (io_failed(file)) return ErrorCode::Io;
  if (d->url_flag) {
    uint8_t length = read_u8(file);
    if (io_failed(file)) return ErrorCode::Io;
    if (!box_holds(file, header, length, 1)) return malformed(file, "'iods' url runs past its box");
    if (length > 0) {
      d->url = static_cast<uint8_t*>(std::malloc(length));
      if (d->url == nullptr) return ErrorCode::OutOfMemory;
      d->url_length = length;
      VT_TRY(read_bytes(file, d->url, length));
    }
    return ErrorCode::Ok;
  }
  d->od_profile_level = read_u8(file);
  d->scene_profile_level = read_u8(file);
  d->audio_profile_level = read_u8(file);
  d->visual_profile_level = read_u8(file);
  d->graphics_profile_level = read_u8(file);
  // ES_ID_Inc descriptors: tag, length 4, track id; each takes at least six
  // bytes of the box, so the list is bounded by it.
  while (box_bytes_left(file, header) >= 6 && !io_failed(file)) {
    if (read_u8(file) != kEsIdIncTag) break;
    if (read_descriptor_length(file) != 4) return malformed(file, "ES_ID_Inc descriptor length other than 4");
    if (!box_holds(file, header, 1, 4)) break;
    uint32_t id = read_u32be(file);
    if (io_failed(file)) break;
    VT_TRY(d->es_ids.append(id));
  }
  return ErrorCode::Ok;
}

uint64_t iods_size(BoxFile*, void* context) {
  IodsRecord* d = iods_of(context);
  if (d == nullptr) return 0;
  if (d->url_flag) return uint64_t{d->url_length} + 9;
  return uint64_t{d->es_ids.count} * 6 + 13;
}

}  // namespace vantorel
