#include "boxes/tkhd.h"

#include "boxes/fields.h"

namespace vantorel {

namespace {

TkhdRecord* tkhd_of(void* context) { return track_record<TkhdRecord>(static_cast<TrackBoxes*>(context), BoxTypeId::Tkhd); }

constexpr Field kTkhdLayout[] = {
    version_field(offsetof(TkhdRecord, version)),
    flags_field(offsetof(TkhdRecord, flags)),
    time_field(offsetof(TkhdRecord, creation_time)),
    time_field(offsetof(TkhdRecord, modification_time)),
    u32_field(offsetof(TkhdRecord, track_id)),
    reserved(4),
    time_field(offsetof(TkhdRecord, duration)),
    reserved(8),
    u16_field(offsetof(TkhdRecord, layer)),
    u16_field(offsetof(TkhdRecord, alternate_group)),
    u16_field(offsetof(TkhdRecord, volume)),
    reserved(2),
    u32_field(offsetof(TkhdRecord, matrix), 9),
    u32_field(offsetof(TkhdRecord, width)),
    u32_field(offsetof(TkhdRecord, height)),
};

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

ErrorCode tkhd_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  TkhdRecord* t = tkhd_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  return read_fields(file, header, kTkhdLayout, t, "'tkhd' shorter than its fields");
}

ErrorCode tkhd_write(BoxFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  TkhdRecord* t = tkhd_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  return write_fields(file, kTkhdLayout, t);
}

uint64_t tkhd_size(BoxFile*, void* context) {
  TkhdRecord* t = tkhd_of(context);
  return t != nullptr ? size_fields(kTkhdLayout, t) : 0;
}

}  // namespace vantorel
