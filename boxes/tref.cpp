#include "boxes/tref.h"

namespace vantorel {

namespace {

constexpr const char* kReferenceBoxes[kReferenceTypeCount] = {nullptr, "hint", "cdsc", "dpnd", "ipir",
                                                               "mpod", "sync", "tmcd", "chap"};

TrefRecord* tref_of(void* context) { return track_record<TrefRecord>(static_cast<TrackBoxes*>(context), BoxTypeId::Tref); }

uint64_t entry_payload(const TrefEntry& r) { return uint64_t{r.track_ids.count} * 4 + r.tail_size; }

ErrorCode entry_write(BoxFile* file, void* context) {
  const TrefEntry* r = static_cast<const TrefEntry*>(context);
  for (uint32_t id : r->track_ids) VT_TRY(write_u32be(file, id));
  if (r->tail_size > 0) VT_TRY(write_bytes(file, r->tail, r->tail_size));
  return ErrorCode::Ok;
}

void release_references(TrefRecord* t) {
  for (TrefEntry& r : t->references) r.track_ids.release();
  t->references.release();
}

ErrorCode read_reference(BoxFile* file, const BoxHeader* child, TrefRecord* t) {
  // Many empty reference boxes must not cost a reallocation each.
  auto& list = t->references;
  if (list.count == list.capacity) VT_TRY(list.reserve(list.capacity < 4 ? 4 : list.capacity * 2));
  TrefEntry* r = nullptr;
  VT_TRY(t->references.append_zeroed(&r));
  r->type = child->type;
  uint64_t left = box_bytes_left(file, child);
  uint64_t count = left / 4;  // bounded by the box
  if (count > UINT32_MAX) return malformed(file, "track reference too large");
  VT_TRY(r->track_ids.reserve(static_cast<uint32_t>(count)));
  for (uint64_t i = 0; i < count; ++i) {
    uint32_t id = read_u32be(file);
    if (io_failed(file)) return ErrorCode::Io;
    r->track_ids.items[r->track_ids.count++] = id;
  }
  r->tail_size = static_cast<uint8_t>(left % 4);
  if (r->tail_size > 0) VT_TRY(read_bytes(file, r->tail, r->tail_size));
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
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

const TrefEntry* find_reference(TrackBoxes* track, FourCC type) {
  TrefRecord* t = tref_of(track);
  if (t == nullptr) return nullptr;
  for (const TrefEntry& r : t->references)
    if (r.type == type) return &r;
  return nullptr;
}

ErrorCode set_reference_type(TrackBoxes* track, uint32_t type) {
  if (track == nullptr) return ErrorCode::BadArgument;
  TrefRecord* t = tref_of(track);
  if (t == nullptr) return ErrorCode::Missing;
  if (type == kReferenceNone || type >= kReferenceTypeCount) return ErrorCode::BadArgument;
  TrefEntry* r = nullptr;
  VT_TRY(t->references.append_zeroed(&r));
  r->type = reference_box_type(type);
  return ErrorCode::Ok;
}

ErrorCode add_reference(BoxFile* file, TrackBoxes* track, uint32_t track_id) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  TrefRecord* t = tref_of(track);
  if (t == nullptr) return ErrorCode::Missing;
  if (t->references.count == 0) return ErrorCode::BadArgument;
  return t->references.back().track_ids.append(track_id);
}

ErrorCode tref_copy(BoxFile* file, TrackBoxes* to, TrackBoxes* from) {
  if (file == nullptr || to == nullptr) return ErrorCode::BadArgument;
  TrefRecord* source = tref_of(from);
  if (source == nullptr || source->references.count == 0) return ErrorCode::Ok;
  if (tref_of(to) == nullptr) VT_TRY(add_track_box(file, to, BoxTypeId::Tref));
  TrefRecord* t = tref_of(to);
  if (t == nullptr) return ErrorCode::Missing;
  for (const TrefEntry& r : source->references) {
    TrefEntry* copy = nullptr;
    VT_TRY(t->references.append_zeroed(&copy));
    copy->type = r.type;
    copy->tail_size = r.tail_size;
    for (uint8_t i = 0; i < r.tail_size; ++i) copy->tail[i] = r.tail[i];
    VT_TRY(copy->track_ids.reserve(r.track_ids.count));
    for (uint32_t id : r.track_ids) copy->track_ids.items[copy->track_ids.count++] = id;
  }
  return ErrorCode::Ok;
}

void tref_remove_ids(BoxFile* file, TrackBoxes* track, const uint32_t* ids, uint32_t count) {
  TrefRecord* t = tref_of(track);
  if (t == nullptr || (ids == nullptr && count > 0)) return;
  auto removed = [&](uint32_t id) {
    for (uint32_t i = 0; i < count; ++i)
      if (ids[i] == id) return true;
    return false;
  };
  uint32_t kept_boxes = 0;
  for (uint32_t b = 0; b < t->references.count; ++b) {
    TrefEntry& r = t->references[b];
    uint32_t before = r.track_ids.count;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < before; ++i)
      if (!removed(r.track_ids[i])) r.track_ids[kept++] = r.track_ids[i];
    r.track_ids.count = kept;
    if (before > 0 && kept == 0) {
      r.track_ids.release();
      continue;
    }
    t->references[kept_boxes++] = r;
  }
  t->references.count = kept_boxes;
  if (kept_boxes == 0) remove_track_box(file, track, BoxTypeId::Tref);
}

void tref_release(BoxFile*, void* context) {
  TrefRecord* t = tref_of(context);
  if (t != nullptr) release_references(t);
}

ErrorCode tref_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  TrefRecord* t = tref_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  return walk_children(file, header, [&](const BoxHeader* child) { return read_reference(file, child, t); });
}

ErrorCode tref_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  TrefRecord* t = tref_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  if (t->references.count == 0) return ErrorCode::Missing;
  for (TrefEntry& r : t->references) VT_TRY(write_box(file, r.type, nullptr, entry_payload(r), entry_write, &r));
  return ErrorCode::Ok;
}

uint64_t tref_size(BoxFile*, void* context) {
  TrefRecord* t = tref_of(context);
  if (t == nullptr) return 0;
  uint64_t total = 0;
  for (const TrefEntry& r : t->references) total += box_header_length(r.type, entry_payload(r)) + entry_payload(r);
  return total;
}

}  // namespace vantorel
