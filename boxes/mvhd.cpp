#include "boxes/mvhd.h"

namespace vantorel {

namespace {

MvhdRecord* mvhd_of(void* context) { return movie_record<MvhdRecord>(static_cast<FileBoxes*>(context), BoxTypeId::Mvhd); }

constexpr uint32_t kIdentity[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};

}  // namespace

void read_header_times(BoxFile* file, bool wide, HeaderTimes* out) {
  out->creation_time = wide ? read_u64be(file) : read_u32be(file);
  out->modification_time = wide ? read_u64be(file) : read_u32be(file);
  out->timescale = read_u32be(file);
  out->duration = wide ? read_u64be(file) : read_u32be(file);
}

ErrorCode write_header_times(BoxFile* file, bool wide, const HeaderTimes& times) {
  if (wide) {
    VT_TRY(write_u64be(file, times.creation_time));
    VT_TRY(write_u64be(file, times.modification_time));
    VT_TRY(write_u32be(file, times.timescale));
    return write_u64be(file, times.duration);
  }
  VT_TRY(write_u32be(file, low32(times.creation_time)));
  VT_TRY(write_u32be(file, low32(times.modification_time)));
  VT_TRY(write_u32be(file, times.timescale));
  return write_u32be(file, low32(times.duration));
}

void mvhd_init(BoxFile*, void* context) {
  MvhdRecord* m = mvhd_of(context);
  if (m == nullptr) return;
  uint64_t now = now_1904();
  m->version = fits_u32(now) ? 0 : 1;
  m->creation_time = now;
  m->modification_time = now;
  m->timescale = 90000;
  m->rate = 0x00010000;
  m->volume = 0x0100;
  for (int i = 0; i < 9; ++i) m->matrix[i] = kIdentity[i];
  m->next_track_id = 1;
}

ErrorCode mvhd_read(BoxFile* file, const BoxHeader*, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  MvhdRecord* m = mvhd_of(context);
  if (m == nullptr) return ErrorCode::Missing;
  m->version = read_u8(file);
  m->flags = read_u24be(file);
  read_record_times(file, m);
  m->rate = read_u32be(file);
  m->volume = read_u16be(file);
  file_skip(file, 10);
  for (uint32_t& v : m->matrix) v = read_u32be(file);
  file_skip(file, 24);
  m->next_track_id = read_u32be(file);
  return ErrorCode::Ok;
}

ErrorCode mvhd_write(BoxFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  MvhdRecord* m = mvhd_of(context);
  if (m == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u8(file, m->version));
  VT_TRY(write_u24be(file, m->flags));
  VT_TRY(write_record_times(file, *m));
  VT_TRY(write_u32be(file, m->rate));
  VT_TRY(write_u16be(file, m->volume));
  VT_TRY(write_zeros(file, 10));
  for (uint32_t v : m->matrix) VT_TRY(write_u32be(file, v));
  VT_TRY(write_zeros(file, 24));
  return write_u32be(file, m->next_track_id);
}

uint64_t mvhd_size(BoxFile*, void* context) {
  MvhdRecord* m = mvhd_of(context);
  if (m == nullptr) return 0;
  return m->version == 1 ? 112 : 100;
}

}  // namespace vantorel
