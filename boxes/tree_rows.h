#pragma once
// The tree engine's own view of a registry row: where its record sits in the
// parent record, whether it is there to be counted or written, and its whole
// size. Shared by the engine's files only.
#include <cstdint>

#include "boxes/box_tree.h"

namespace vantorel::tree_rows {

inline void** slot_in(void* parent, const BoxDescriptor& d) {
  return reinterpret_cast<void**>(static_cast<char*>(parent) + d.slot);
}

inline const BoxDescriptor* find_row(const ChildList* list, BoxTypeId id) {
  for (uint32_t i = 0; i < list->count; ++i)
    if (list->first[i].id == id) return &list->first[i];
  return nullptr;
}

inline uint64_t whole_size(const BoxDescriptor& d, uint64_t payload) {
  return box_header_length(d.type, payload) + payload;
}

// Whether a row's box is there to be counted: a record in its slot, or for a
// row without a record, its own say. Some rows are counted by their list but
// written by their parent (no write operation).
inline bool row_present(BoxFile* file, void* context, void* parent, const BoxDescriptor& d) {
  if (d.size == nullptr) return false;
  if (d.record_size == 0) return d.present != nullptr && d.present(file, context);
  return *slot_in(parent, d) != nullptr;
}
inline bool row_written(BoxFile* file, void* context, void* parent, const BoxDescriptor& d) {
  return d.write != nullptr && row_present(file, context, parent, d);
}

}  // namespace vantorel::tree_rows
