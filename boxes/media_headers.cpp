#include "boxes/media_headers.h"

#include "boxes/hdlr.h"

namespace vantorel {

namespace {

template <class R>
R* record_of(void* context, BoxTypeId id) {
  return track_record<R>(static_cast<TrackBoxes*>(context), id);
}

}  // namespace

BoxTypeId media_header_for_kind(uint32_t kind) {
  if (handler_is_video_like(kind)) return BoxTypeId::Vmhd;
  if (kind == kHandlerSound) return BoxTypeId::Smhd;
  if (kind == kHandlerHint) return BoxTypeId::Hmhd;
  return BoxTypeId::Nmhd;
}

// ---- vmhd -------------------------------------------------------------------

void vmhd_init(BoxFile*, void* context) {
  auto* v = record_of<VmhdRecord>(context, BoxTypeId::Vmhd);
  if (v != nullptr) v->flags = 1;  // "no lean ahead", set on every video header
}

ErrorCode vmhd_read(BoxFile* file, const BoxHeader*, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* v = record_of<VmhdRecord>(context, BoxTypeId::Vmhd);
  if (v == nullptr) return ErrorCode::Missing;
  v->version = read_u8(file);
  v->flags = read_u24be(file);
  v->graphics_mode = read_u16be(file);
  for (uint16_t& c : v->opcolor) c = read_u16be(file);
  return ErrorCode::Ok;
}

ErrorCode vmhd_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* v = record_of<VmhdRecord>(context, BoxTypeId::Vmhd);
  if (v == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u8(file, v->version));
  VT_TRY(write_u24be(file, v->flags));
  VT_TRY(write_u16be(file, v->graphics_mode));
  for (uint16_t c : v->opcolor) VT_TRY(write_u16be(file, c));
  return ErrorCode::Ok;
}

uint64_t vmhd_size(BoxFile*, void* context) {
  return record_of<VmhdRecord>(context, BoxTypeId::Vmhd) != nullptr ? 12 : 0;
}

// ---- smhd -------------------------------------------------------------------

ErrorCode smhd_read(BoxFile* file, const BoxHeader*, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* s = record_of<SmhdRecord>(context, BoxTypeId::Smhd);
  if (s == nullptr) return ErrorCode::Missing;
  s->version = read_u8(file);
  s->flags = read_u24be(file);
  s->balance = read_u16be(file);
  read_u16be(file);  // reserved
  return ErrorCode::Ok;
}

ErrorCode smhd_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* s = record_of<SmhdRecord>(context, BoxTypeId::Smhd);
  if (s == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u8(file, s->version));
  VT_TRY(write_u24be(file, s->flags));
  VT_TRY(write_u16be(file, s->balance));
  return write_u16be(file, 0);
}

uint64_t smhd_size(BoxFile*, void* context) {
  return record_of<SmhdRecord>(context, BoxTypeId::Smhd) != nullptr ? 8 : 0;
}

// ---- hmhd -------------------------------------------------------------------

ErrorCode hmhd_read(BoxFile* file, const BoxHeader*, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* h = record_of<HmhdRecord>(context, BoxTypeId::Hmhd);
  if (h == nullptr) return ErrorCode::Missing;
  h->version = read_u8(file);
  h->flags = read_u24be(file);
  h->max_pdu_size = read_u16be(file);
  h->avg_pdu_size = read_u16be(file);
  h->max_bitrate = read_u32be(file);
  h->avg_bitrate = read_u32be(file);
  read_u32be(file);  // reserved
  return ErrorCode::Ok;
}

ErrorCode hmhd_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* h = record_of<HmhdRecord>(context, BoxTypeId::Hmhd);
  if (h == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u8(file, h->version));
  VT_TRY(write_u24be(file, h->flags));
  VT_TRY(write_u16be(file, h->max_pdu_size));
  VT_TRY(write_u16be(file, h->avg_pdu_size));
  VT_TRY(write_u32be(file, h->max_bitrate));
  VT_TRY(write_u32be(file, h->avg_bitrate));
  return write_u32be(file, 0);
}

uint64_t hmhd_size(BoxFile*, void* context) {
  return record_of<HmhdRecord>(context, BoxTypeId::Hmhd) != nullptr ? 20 : 0;
}

// ---- nmhd -------------------------------------------------------------------

ErrorCode nmhd_read(BoxFile* file, const BoxHeader*, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* n = record_of<NmhdRecord>(context, BoxTypeId::Nmhd);
  if (n == nullptr) return ErrorCode::Missing;
  n->version = read_u8(file);
  n->flags = read_u24be(file);
  return ErrorCode::Ok;
}

ErrorCode nmhd_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* n = record_of<NmhdRecord>(context, BoxTypeId::Nmhd);
  if (n == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u8(file, n->version));
  return write_u24be(file, n->flags);
}

uint64_t nmhd_size(BoxFile*, void* context) {
  return record_of<NmhdRecord>(context, BoxTypeId::Nmhd) != nullptr ? 4 : 0;
}

}  // namespace vantorel
