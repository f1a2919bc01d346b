// The regions of an output file that the movie header may take, and writing
// the top-level boxes into them.
#include "boxes/box_tree.h"

#include <cstring>
#include "boxes/tree_rows.h"

namespace vantorel {

using namespace tree_rows;

// ---- Output regions ----------------------------------------------------------

ErrorCode append_region(BoxFile* file, uint64_t position) {
  BoxHeader region;
  make_box_header(&region, FourCC::of("free"), nullptr, position, 0, 0);
  return file->free_regions.append(region);
}

void set_last_region_start(BoxFile* file, uint64_t position) {
  if (file->free_regions.count == 0) return;
  file->free_regions.back().start = position;
}

void set_last_region_end(BoxFile* file, uint64_t position) {
  if (file->free_regions.count == 0) return;
  BoxHeader& r = file->free_regions.back();
  r.end = position;
  r.size = position - r.start;
}

ErrorCode write_free_box(BoxFile* file, const BoxHeader* header) {
  if (file == nullptr || header == nullptr || header->size < 8) return ErrorCode::BadArgument;
  BoxHeader h;
  make_box_header(&h, FourCC::of("free"), nullptr, 0, 0, header->size);
  VT_TRY(begin_box(file, &h));
  uint64_t left = h.end - file_tell(file);
  const char* name = file->writer_name != nullptr && file->writer_name[0] != '\0' ? file->writer_name
                                                                                  : kDefaultWriterName;
  size_t name_length = std::strlen(name);
  // The name repeated, a block at a time; the last copy is cut short.
  char block[4096];
  size_t filled = 0;
  while (filled + name_length <= sizeof block) {
    std::memcpy(block + filled, name, name_length);
    filled += name_length;
  }
  if (filled == 0) {
    std::memcpy(block, name, sizeof block);
    filled = sizeof block;
  }
  while (left > 0) {
    uint32_t n = left < filled ? static_cast<uint32_t>(left) : static_cast<uint32_t>(filled);
    VT_TRY(write_bytes(file, block, n));
    left -= n;
  }
  return finish_box(file, &h);
}

ErrorCode write_top_level_boxes(BoxFile* file) {
  if (file == nullptr || file->root == nullptr) return ErrorCode::BadArgument;
  const ChildList* top = level_list(file, BoxLevel::Top);
  if (top == nullptr) return ErrorCode::BadArgument;
  for (uint32_t i = 0; i < top->count; ++i) {
    const BoxDescriptor& d = top->first[i];
    if (!row_written(file, file->root, file->root, d)) continue;
    VT_TRY(write_box(file, d.type, d.extended_type, d.size(file, file->root), d.write, file->root));
  }
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

ErrorCode write_top_level_into_regions(BoxFile* file) {
  if (file == nullptr || file->root == nullptr) return ErrorCode::BadArgument;
  GrowArray<BoxHeader>& regions = file->free_regions;
  if (regions.count == 0) return ErrorCode::Ok;
  const ChildList* top = level_list(file, BoxLevel::Top);
  if (top == nullptr) return ErrorCode::BadArgument;
  uint32_t cursor = 0;  // descriptor of the top list; persists from region to region
  for (uint32_t r = 0; r < regions.count; ++r) {
    const BoxHeader region = regions[r];
    bool last = r + 1 == regions.count;
    VT_TRY(file_seek(file, region.start));
    for (; cursor < top->count; ++cursor) {
      const BoxDescriptor& d = top->first[cursor];
      if (!row_written(file, file->root, file->root, d)) continue;
      uint64_t payload = d.size(file, file->root);
      uint64_t f = whole_size(d, payload);
      uint64_t at = file_tell(file);
      uint64_t room = region.end > at ? region.end - at : 0;
      // A box goes in only if it fills the region or leaves room for a 'free' box.
      if (!last && room < f + 8 && f != room) break;
      VT_TRY(write_box(file, d.type, d.extended_type, payload, d.write, file->root));
    }
    uint64_t at = file_tell(file);
    // A size function that undercounts would have written into what follows
    // the region (the sample data); never report that as a success.
    if (!last && at > region.end) {
      set_error_at(file, region.start, "movie header ran past the space measured for it");
      return ErrorCode::Overrun;
    }
    uint64_t gap = 0;
    if (!last) {
      gap = region.end > at ? region.end - at : 0;
      if (gap > 0 && gap < 8) return ErrorCode::Missing;
    } else if (file->mode == kOpenUpdate || file->mode == kOpenCreate) {
      // Whatever the old reserved space or file tail held after the header
      // becomes a 'free' box; a tail of 1 to 7 bytes grows to 8.
      uint64_t length = file_size(file);
      gap = length > at ? length - at : 0;
      if (gap > 0 && gap < 8) gap = 8;
      VT_TRY(file_seek(file, at));
    }
    if (gap > 0) {
      BoxHeader filler;
      make_box_header(&filler, FourCC::of("free"), nullptr, at, at + gap, gap);
      VT_TRY(write_free_box(file, &filler));
    }
  }
  return ErrorCode::Ok;
}

}  // namespace vantorel
