// The generic routines over a container's child list: adding, removing,
// reading, writing and sizing children by their registry rows; the root.
#include "boxes/box_tree.h"

#include <cstdlib>
#include "boxes/tree_rows.h"

namespace vantorel {

using namespace tree_rows;

// ---- Records --------------------------------------------------------------

ErrorCode add_child(BoxFile* file, void* context, const ChildList* list, BoxTypeId id) {
  if (file == nullptr || list == nullptr) return ErrorCode::BadArgument;
  void* parent = list->parent(context);
  if (parent == nullptr) return ErrorCode::Missing;
  const BoxDescriptor* d = find_row(list, id);
  if (d == nullptr) return ErrorCode::BadArgument;
  if (d->record_size == 0) return ErrorCode::Ok;
  void** slot = slot_in(parent, *d);
  if (*slot != nullptr) return ErrorCode::Exists;
  void* record = std::calloc(1, d->record_size);
  if (record == nullptr) return ErrorCode::OutOfMemory;
  *slot = record;
  if (d->init != nullptr) d->init(file, context);
  return ErrorCode::Ok;
}

void remove_child(BoxFile* file, void* context, const ChildList* list, BoxTypeId id) {
  if (list == nullptr) return;
  const BoxDescriptor* d = find_row(list, id);
  if (d == nullptr || d->record_size == 0) return;
  void* parent = list->parent(context);
  if (parent == nullptr) return;
  void** slot = slot_in(parent, *d);
  if (*slot == nullptr) return;
  if (d->release != nullptr) d->release(file, context);
  std::free(*slot);
  *slot = nullptr;
}

void remove_all_children(BoxFile* file, void* context, const ChildList* list) {
  if (list == nullptr) return;
  for (uint32_t i = 0; i < list->count; ++i) remove_child(file, context, list, list->first[i].id);
}

ErrorCode read_children(BoxFile* file, const BoxHeader* parent, void* context, const ChildList* list,
                        ChildFallback fallback) {
  if (file == nullptr || parent == nullptr || list == nullptr) return ErrorCode::BadArgument;
  if (file->path.depth >= kMaxBoxDepth) return malformed(file, "boxes nested too deeply");
  return walk_children(file, parent, [&](const BoxHeader* h) {
    const BoxDescriptor* d = nullptr;
    for (uint32_t i = 0; i < list->count && d == nullptr; ++i)
      if (box_matches(h, list->first[i].type, list->first[i].extended_type)) d = &list->first[i];
    if (d == nullptr) return fallback != nullptr ? fallback(file, h, context) : ErrorCode::Ok;
    if (d->record_size != 0) {
      void* parent_record = list->parent(context);
      if (parent_record == nullptr) return ErrorCode::Missing;
      if (*slot_in(parent_record, *d) != nullptr) return ErrorCode::Ok;  // the first box of a kind wins
      VT_TRY(add_child(file, context, list, d->id));
    }
    return d->read(file, h, context);
  });
}


ErrorCode write_children(BoxFile* file, void* context, const ChildList* list) {
  if (file == nullptr || list == nullptr) return ErrorCode::BadArgument;
  void* parent = list->parent(context);
  if (parent == nullptr) return ErrorCode::Ok;
  for (uint32_t i = 0; i < list->count; ++i) {
    const BoxDescriptor& d = list->first[i];
    if (!row_written(file, context, parent, d)) continue;
    VT_TRY(write_box(file, d.type, d.extended_type, d.size(file, context), d.write, context));
  }
  return ErrorCode::Ok;
}

uint64_t children_size(BoxFile* file, void* context, const ChildList* list) {
  if (list == nullptr) return 0;
  void* parent = list->parent(context);
  if (parent == nullptr) return 0;
  uint64_t total = 0;
  for (uint32_t i = 0; i < list->count; ++i) {
    const BoxDescriptor& d = list->first[i];
    if (!row_present(file, context, parent, d)) continue;
    total += whole_size(d, d.size(file, context));
  }
  return total;
}

namespace {

constexpr BoxLevel kMovieLevels[] = {BoxLevel::Top, BoxLevel::Moov, BoxLevel::Udta, BoxLevel::MovieUsmt};
constexpr BoxLevel kTrackLevels[] = {BoxLevel::Trak, BoxLevel::TrackUsmt, BoxLevel::Edts, BoxLevel::Mdia,
                                     BoxLevel::Minf, BoxLevel::Dinf,      BoxLevel::Stbl};

template <size_t N>
const ChildList* level_of(const BoxFile* file, const BoxLevel (&levels)[N], BoxTypeId id) {
  for (BoxLevel level : levels) {
    const ChildList* list = level_list(file, level);
    if (list != nullptr && find_row(list, id) != nullptr) return list;
  }
  return nullptr;
}

}  // namespace

ErrorCode add_movie_box(BoxFile* file, BoxTypeId id) {
  if (file == nullptr || file->root == nullptr) return ErrorCode::BadArgument;
  const ChildList* list = level_of(file, kMovieLevels, id);
  if (list == nullptr) return ErrorCode::BadArgument;
  return add_child(file, file->root, list, id);
}

void remove_movie_box(BoxFile* file, BoxTypeId id) {
  if (file == nullptr || file->root == nullptr) return;
  remove_child(file, file->root, level_of(file, kMovieLevels, id), id);
}

ErrorCode add_track_box(BoxFile* file, TrackBoxes* track, BoxTypeId id) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  const ChildList* list = level_of(file, kTrackLevels, id);
  if (list == nullptr) return ErrorCode::BadArgument;
  return add_child(file, track, list, id);
}

void remove_track_box(BoxFile* file, TrackBoxes* track, BoxTypeId id) {
  if (track == nullptr) return;
  remove_child(file, track, level_of(file, kTrackLevels, id), id);
}

// ---- Root -------------------------------------------------------------------

ErrorCode create_root(BoxFile* file) {
  if (file == nullptr) return ErrorCode::BadArgument;
  if (file->root != nullptr) return ErrorCode::Ok;
  file->root = alloc_record<FileBoxes>();
  return file->root != nullptr ? ErrorCode::Ok : ErrorCode::OutOfMemory;
}

void release_root(BoxFile* file) {
  if (file == nullptr || file->root == nullptr) return;
  remove_all_children(file, file->root, level_list(file, BoxLevel::Top));
  std::free(file->root);
  file->root = nullptr;
}

uint64_t top_level_size(BoxFile* file) {
  if (file == nullptr || file->root == nullptr) return 0;
  return children_size(file, file->root, level_list(file, BoxLevel::Top));
}

}  // namespace vantorel
