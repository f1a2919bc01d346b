#include "boxes/tkhd.h"

namespace vantorel {

namespace {

TkhdRecord* tkhd_of(void* context) { return track_record<TkhdRecord>(static_cast<TrackBoxes*>(context), BoxTypeId::Tkhd); }

constexpr uint32_t kIdentity[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};

}  // namespace

void tkhd_init(BoxFile*, void* context) {
  TkhdRecord* t = tkhd_of(context);
  if (t == nullptr) return;
  uint64_t now = now_1904();
  t->version = fits_u32(now) ? 0 : 1;
  t->flags = kTrackEnabled | kTrackInMovie | kTrackInPreview;
  t->creation_time = now;
  t->modification_time = now;
  for (int i = 0; i < 9; ++i) t->matrix[i] = kIdentity[i];
}

ErrorCode tkhd_read(BoxFile* file, const BoxHeader*, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  TkhdRecord* t = tkhd_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  t->version = read_u8(file);
  t->flags = read_u24be(file);
  bool wide = t->version == 1;
  t->creation_time = wide ? read_u64be(file) : read_u32be(file);
  t->modification_time = wide ? read_u64be(file) : read_u32be(file);
  t->track_id = read_u32be(file);
  read_u32be(file);
  t->duration = wide ? read_u64be(file) : read_u32be(file);
  file_skip(file, 8);
  t->layer = read_u16be(file);
  t->alternate_group = read_u16be(file);
  t->volume = read_u16be(file);
  read_u16be(file);
  for (uint32_t& v : t->matrix) v = read_u32be(file);
  t->width = read_u32be(file);
  t->height = read_u32be(file);
  return ErrorCode::Ok;
}

ErrorCode tkhd_write(BoxFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  TkhdRecord* t = tkhd_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  bool wide = t->version == 1;
  VT_TRY(write_u8(file, t->version));
  VT_TRY(write_u24be(file, t->flags));
  if (wide) {
    VT_TRY(write_u64be(file, t->creation_time));
    VT_TRY(write_u64be(file, t->modification_time));
  } else {
    VT_TRY(write_u32be(file, low32(t->creation_time)));
    VT_TRY(write_u32be(file, low32(t->modification_time)));
  }
  VT_TRY(write_u32be(file, t->track_id));
  VT_TRY(write_u32be(file, 0));
  VT_TRY(wide ? write_u64be(file, t->duration) : write_u32be(file, low32(t->duration)));
  VT_TRY(write_zeros(file, 8));
  VT_TRY(write_u16be(file, t->layer));
  VT_TRY(write_u16be(file, t->alternate_group));
  VT_TRY(write_u16be(file, t->volume));
  VT_TRY(write_u16be(file, 0));
  for (uint32_t v : t->matrix) VT_TRY(write_u32be(file, v));
  VT_TRY(write_u32be(file, t->width));
  return write_u32be(file, t->height);
}

uint64_t tkhd_size(BoxFile*, void* context) {
  TkhdRecord* t = tkhd_of(context);
  if (t == nullptr) return 0;
  return t->version == 1 ? 96 : 84;
}

}  // namespace vantorel
