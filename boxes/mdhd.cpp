#include "boxes/mdhd.h"

#include "boxes/mvhd.h"

namespace vantorel {

namespace {

MdhdRecord* mdhd_of(void* context) { return track_record<MdhdRecord>(static_cast<TrackBoxes*>(context), BoxTypeId::Mdhd); }

}  // namespace

uint16_t pack_language(const char* language) {
  uint16_t packed = 0;
  for (int i = 0; i < 3; ++i) {
    uint8_t c = language != nullptr ? static_cast<uint8_t>(language[i]) : 0;
    packed = static_cast<uint16_t>((packed << 5) | (c & 0x1F));
  }
  return packed;
}

void unpack_language(uint16_t packed, char* language) {
  language[0] = static_cast<char>(((packed >> 10) & 0x1F) + 0x60);
  language[1] = static_cast<char>(((packed >> 5) & 0x1F) + 0x60);
  language[2] = static_cast<char>((packed & 0x1F) + 0x60);
  language[3] = '\0';
}

void mdhd_init(BoxFile*, void* context) {
  MdhdRecord* m = mdhd_of(context);
  if (m == nullptr) return;
  uint64_t now = now_1904();
  m->version = fits_u32(now) ? 0 : 1;
  m->creation_time = now;
  m->modification_time = now;
  m->timescale = 90000;
  m->language[0] = 'u';
  m->language[1] = 'n';
  m->language[2] = 'd';
}

ErrorCode mdhd_read(BoxFile* file, const BoxHeader*, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  MdhdRecord* m = mdhd_of(context);
  if (m == nullptr) return ErrorCode::Missing;
  m->version = read_u8(file);
  m->flags = read_u24be(file);
  read_record_times(file, m);
  unpack_language(read_u16be(file), m->language);
  read_u16be(file);
  return ErrorCode::Ok;
}

ErrorCode mdhd_write(BoxFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  MdhdRecord* m = mdhd_of(context);
  if (m == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u8(file, m->version));
  VT_TRY(write_u24be(file, m->flags));
  VT_TRY(write_record_times(file, *m));
  VT_TRY(write_u16be(file, pack_language(m->language)));
  return write_u16be(file, 0);
}

uint64_t mdhd_size(BoxFile*, void* context) {
  MdhdRecord* m = mdhd_of(context);
  if (m == nullptr) return 0;
  return m->version == 1 ? 36 : 24;
}

}  // namespace vantorel
