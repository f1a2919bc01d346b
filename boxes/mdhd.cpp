#include "boxes/mdhd.h"

#include "boxes/fields.h"

namespace vantorel {

namespace {

MdhdRecord* mdhd_of(void* context) { return track_record<MdhdRecord>(static_cast<TrackBoxes*>(context), BoxTypeId::Mdhd); }

constexpr Field kMdhdLayout[] = {
    version_field(offsetof(MdhdRecord, version)),
    flags_field(offsetof(MdhdRecord, flags)),
    time_field(offsetof(MdhdRecord, creation_time)),
    time_field(offsetof(MdhdRecord, modification_time)),
    u32_field(offsetof(MdhdRecord, timescale)),
    time_field(offsetof(MdhdRecord, duration)),
    language_field(offsetof(MdhdRecord, language)),
    reserved(2),  // quality
};

}  // namespace

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

ErrorCode mdhd_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  MdhdRecord* m = mdhd_of(context);
  if (m == nullptr) return ErrorCode::Missing;
  return read_fields(file, header, kMdhdLayout, m, "'mdhd' shorter than its fields");
}

ErrorCode mdhd_write(BoxFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  MdhdRecord* m = mdhd_of(context);
  if (m == nullptr) return ErrorCode::Missing;
  return write_fields(file, kMdhdLayout, m);
}

uint64_t mdhd_size(BoxFile*, void* context) {
  MdhdRecord* m = mdhd_of(context);
  return m != nullptr ? size_fields(kMdhdLayout, m) : 0;
}

}  // namespace vantorel
