#include "boxes/mvhd.h"

#include "boxes/fields.h"

namespace vantorel {

namespace {

MvhdRecord* mvhd_of(void* context) { return movie_record<MvhdRecord>(static_cast<FileBoxes*>(context), BoxTypeId::Mvhd); }

constexpr Field kMvhdLayout[] = {
    version_field(offsetof(MvhdRecord, version)),
    flags_field(offsetof(MvhdRecord, flags)),
    time_field(offsetof(MvhdRecord, creation_time)),
    time_field(offsetof(MvhdRecord, modification_time)),
    u32_field(offsetof(MvhdRecord, timescale)),
    time_field(offsetof(MvhdRecord, duration)),
    u32_field(offsetof(MvhdRecord, rate)),
    u16_field(offsetof(MvhdRecord, volume)),
    reserved(10),
    u32_field(offsetof(MvhdRecord, matrix), 9),
    reserved(24),  // QuickTime's preview, poster and selection times
    u32_field(offsetof(MvhdRecord, next_track_id)),
};

constexpr uint32_t kIdentity[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};

}  // namespace

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

ErrorCode mvhd_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  MvhdRecord* m = mvhd_of(context);
  if (m == nullptr) return ErrorCode::Missing;
  return read_fields(file, header, kMvhdLayout, m, "'mvhd' shorter than its fields");
}

ErrorCode mvhd_write(BoxFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  MvhdRecord* m = mvhd_of(context);
  if (m == nullptr) return ErrorCode::Missing;
  return write_fields(file, kMvhdLayout, m);
}

uint64_t mvhd_size(BoxFile*, void* context) {
  MvhdRecord* m = mvhd_of(context);
  return m != nullptr ? size_fields(kMvhdLayout, m) : 0;
}

}  // namespace vantorel
