#include "boxes/tref.h"

namespace vantorel {

namespace {

constexpr const char* kReferenceBoxes[kReferenceTypeCount] = {nullptr, "hint", "cdsc", "dpnd", "ipir",
                                                               "mpod", "sync", "tmcd", "chap"};

TrefRecord* tref_of(void* context) { return track_record<TrefRecord>(static_cast<TrackBoxes*>(context), BoxTypeId::Tref); }

ErrorCode ids_write(BoxFile* file, void* context) {
  const TrefRecord* t = static_cast<const TrefRecord*>(context);
  for (uint32_t id : t->track_ids) VT_TRY(write_u32be(file, id));
  return ErrorCode::Ok;
}

}  // namespace

FourCC reference_box_type(uint32_t type) {
  if (type == kReferenceNone || type >= kReferenceTypeCount) return FourCC{};
  return FourCC::of(kReferenceBoxes[type]);
}

uint32_t reference_type_from_box(FourCC type) {
  for (uint32_t t = 1; t < kReferenceTypeCount; ++t)
    if (type == kReferenceBoxes[t]) return t;
  return kReferenceNone;
}

ErrorCode set_reference_type(TrackBoxes* track, uint32_t type) {
  if (track == nullptr) return ErrorCode::BadArgument;
  TrefRecord* t = tref_of(track);
  if (t == nullptr) return ErrorCode::Missing;
  if (type >= kReferenceTypeCount) return ErrorCode::BadArgument;
  t->reference_type = type;
  return ErrorCode::Ok;
}

ErrorCode add_reference(BoxFile* file, TrackBoxes* track, uint32_t track_id) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  TrefRecord* t = tref_of(track);
  if (t == nullptr) return ErrorCode::Missing;
  return t->track_ids.append(track_id);
}

void tref_release(BoxFile*, void* context) {
  TrefRecord* t = tref_of(context);
  if (t != nullptr) t->track_ids.release();
}

ErrorCode tref_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  TrefRecord* t = tref_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  // Only the first reference box counts; an empty 'tref' has none.
  if (box_bytes_left(file, header) < 8) return ErrorCode::Ok;
  BoxHeader child;
  VT_TRY(read_box_header(file, &child));
  if (io_failed(file)) return ErrorCode::Io;
  if (child.end > header->end) child.end = header->end;  // cut at the parent's end, as the tree does
  t->reference_type = reference_type_from_box(child.type);
  uint64_t count = box_bytes_left(file, &child) / 4;  // bounded by the box
  if (count > UINT32_MAX - t->track_ids.count) return malformed(file, "track reference too large");
  VT_TRY(t->track_ids.reserve(t->track_ids.count + static_cast<uint32_t>(count)));
  for (uint64_t i = 0; i < count && !io_failed(file); ++i) {
    uint32_t id = read_u32be(file);
    if (io_failed(file)) break;
    VT_TRY(t->track_ids.append(id));
  }
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

ErrorCode tref_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  TrefRecord* t = tref_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  FourCC type = reference_box_type(t->reference_type);
  if (type.is_zero()) return ErrorCode::Missing;
  return write_box(file, type, nullptr, uint64_t{t->track_ids.count} * 4, ids_write, t);
}

uint64_t tref_size(BoxFile*, void* context) {
  TrefRecord* t = tref_of(context);
  if (t == nullptr || t->reference_type == kReferenceNone) return 0;
  return uint64_t{t->track_ids.count} * 4 + 8;
}

}  // namespace vantorel
