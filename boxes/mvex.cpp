#include "boxes/mvex.h"

#include "boxes/fields.h"
#include "boxes/mvhd.h"

namespace vantorel {

namespace {

MvexRecord* mvex_of(void* context) { return movie_record<MvexRecord>(static_cast<FileBoxes*>(context), BoxTypeId::Mvex); }

struct MehdRecord {
  uint8_t version;
  uint32_t flags;
  uint64_t fragment_duration;
};
constexpr Field kMehdLayout[] = {version_field(offsetof(MehdRecord, version)), flags_field(offsetof(MehdRecord, flags)),
                                 time_field(offsetof(MehdRecord, fragment_duration))};

constexpr Field kTrexLayout[] = {
    version_field(offsetof(TrexEntry, version)),
    flags_field(offsetof(TrexEntry, flags)),
    u32_field(offsetof(TrexEntry, track_id)),
    u32_field(offsetof(TrexEntry, default_sample_description_index)),
    u32_field(offsetof(TrexEntry, default_sample_duration)),
    u32_field(offsetof(TrexEntry, default_sample_size)),
    u32_field(offsetof(TrexEntry, default_sample_flags)),
};

ErrorCode read_mehd(BoxFile* file, const BoxHeader* box, FileBoxes* root) {
  MehdRecord mehd{};
  VT_TRY(read_fields(file, box, kMehdLayout, &mehd, "'mehd' shorter than its duration"));
  MvhdRecord* mvhd = movie_record<MvhdRecord>(root, BoxTypeId::Mvhd);
  if (mvhd != nullptr) mvhd->duration = mehd.fragment_duration;
  return ErrorCode::Ok;
}

ErrorCode read_trex(BoxFile* file, const BoxHeader* box, MvexRecord* mvex) {
  TrexEntry t{};
  VT_TRY(read_fields(file, box, kTrexLayout, &t, "'trex' shorter than its fields"));
  return mvex->trex.append(t);
}

}  // namespace

TrexEntry* find_track_extends(FileBoxes* root, uint32_t track_id) {
  MvexRecord* mvex = movie_record<MvexRecord>(root, BoxTypeId::Mvex);
  if (mvex == nullptr) return nullptr;
  for (TrexEntry& t : mvex->trex)
    if (t.track_id == track_id) return &t;
  return nullptr;
}

void mvex_release(BoxFile*, void* context) {
  MvexRecord* mvex = mvex_of(context);
  if (mvex != nullptr) mvex->trex.release();
}

ErrorCode mvex_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* root = static_cast<FileBoxes*>(context);
  MvexRecord* mvex = mvex_of(root);
  if (mvex == nullptr) return ErrorCode::Missing;
  return walk_children(file, header, [&](const BoxHeader* child) {
    if (child->type == "mehd") return read_mehd(file, child, root);
    if (child->type == "trex") return read_trex(file, child, mvex);
    return ErrorCode::Ok;
  });
}

}  // namespace vantorel
