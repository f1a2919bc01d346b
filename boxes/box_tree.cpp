#include "boxes/box_tree.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boxes/tkhd.h"

namespace vantorel {

namespace {

uint32_t g_size_mismatches = 0;

void** slot_in(void* parent, const BoxDescriptor& d) {
  return reinterpret_cast<void**>(static_cast<char*>(parent) + d.slot);
}

const BoxDescriptor* find_row(const ChildList* list, BoxTypeId id) {
  for (uint32_t i = 0; i < list->count; ++i)
    if (list->first[i].id == id) return &list->first[i];
  return nullptr;
}

uint64_t whole_size(const BoxDescriptor& d, uint64_t payload) { return box_header_length(d.type, payload) + payload; }

// Whether a row's box is there to be counted: a record in its slot, or for a
// row without a record, its own say. Some rows are counted by their list but
// written by their parent (no write operation).
bool row_present(BoxFile* file, void* context, void* parent, const BoxDescriptor& d) {
  if (d.size == nullptr) return false;
  if (d.record_size == 0) return d.present != nullptr && d.present(file, context);
  return *slot_in(parent, d) != nullptr;
}
bool row_written(BoxFile* file, void* context, void* parent, const BoxDescriptor& d) {
  return d.write != nullptr && row_present(file, context, parent, d);
}

}  // namespace

// ---- Headers -------------------------------------------------------------

ErrorCode read_box_header(BoxFile* file, BoxHeader* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  std::memset(out, 0, sizeof *out);
  out->start = file_tell(file);
  uint32_t field = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Ok;  // the caller's loop ends on the latch
  uint64_t header_length = 8;
  if (field == 1) {
    VT_TRY(read_bytes(file, out->type.c, 4));
    uint8_t b[8];
    VT_TRY(read_bytes(file, b, 8));
    out->size = be64_from_bytes(b);
    if (out->size == 0) return malformed(file, "64-bit box size of 0");
    header_length = 16;
  } else if (field == 0) {
    uint64_t length = file_size(file);
    out->size = length > out->start ? length - out->start : 0;
    if (out->size >= 8) {
      VT_TRY(read_bytes(file, out->type.c, 4));
    } else {
      // Too short to hold a type: it matches nothing and is skipped.
      if (out->size < 4) out->size = 4;
      out->end = out->start + out->size;
      return ErrorCode::Ok;
    }
  } else {
    VT_TRY(read_bytes(file, out->type.c, 4));
    out->size = field;
  }
  if (out->type == "uuid") {
    VT_TRY(read_bytes(file, out->extended_type, 16));
    header_length += 16;
  }
  if (out->size < header_length) return malformed(file, "box smaller than its header");
  if (out->start + out->size < out->start) return malformed(file, "box size overflows");
  out->end = out->start + out->size;
  return ErrorCode::Ok;
}

uint64_t box_header_length(FourCC type, uint64_t payload_size) {
  uint64_t base = 8;
  if (type == "uuid") base += 16;
  return fits_u32(payload_size + base) ? base : base + 8;
}

ErrorCode begin_box(BoxFile* file, BoxHeader* header) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  header->start = file_tell(file);
  header->end = header->start + header->size;
  if (fits_u32(header->size)) {
    VT_TRY(write_u32be(file, static_cast<uint32_t>(header->size)));
    VT_TRY(write_fourcc(file, header->type));
  } else {
    VT_TRY(write_u32be(file, 1));
    VT_TRY(write_fourcc(file, header->type));
    VT_TRY(write_u64be(file, header->size));
  }
  if (header->type == "uuid") VT_TRY(write_bytes(file, header->extended_type, 16));
  return ErrorCode::Ok;
}

ErrorCode finish_box(BoxFile* file, BoxHeader* header) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  uint64_t at = file_tell(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (at == header->end) return ErrorCode::Ok;
  header->end = at;
  header->size = at - header->start;
  VT_TRY(file_seek(file, header->start));
  if (fits_u32(header->size)) {
    VT_TRY(write_u32be(file, static_cast<uint32_t>(header->size)));
  } else {
    // Widened in place: the 8 bytes after the type hold the 64-bit size.
    VT_TRY(write_u32be(file, 1));
    VT_TRY(file_seek(file, header->start + 8));
    VT_TRY(write_u64be(file, header->size));
  }
  return file_seek(file, header->end);
}

void make_box_header(BoxHeader* out, FourCC type, const uint8_t* extended_type, uint64_t start, uint64_t end,
                     uint64_t size) {
  std::memset(out, 0, sizeof *out);
  out->type = type;
  if (extended_type != nullptr) std::memcpy(out->extended_type, extended_type, 16);
  out->start = start;
  out->end = end;
  out->size = size;
}

ErrorCode skip_to_box_end(BoxFile* file, const BoxHeader* header) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  return file_seek(file, header->end);
}

bool box_type_is(const BoxHeader* header, FourCC type) { return header != nullptr && header->type == type; }

bool box_matches(const BoxHeader* header, FourCC type, const uint8_t* extended_type) {
  if (header == nullptr || !(header->type == type)) return false;
  if (type == "uuid") return extended_type != nullptr && std::memcmp(header->extended_type, extended_type, 16) == 0;
  return true;
}

uint64_t box_bytes_left(BoxFile* file, const BoxHeader* header) {
  uint64_t at = file_tell(file);
  return at < header->end ? header->end - at : 0;
}

bool box_holds(BoxFile* file, const BoxHeader* header, uint64_t count, uint64_t entry_size) {
  uint64_t left = box_bytes_left(file, header);
  if (entry_size == 0) return true;
  return count <= left / entry_size;
}

ErrorCode malformed(BoxFile* file, const char* reason) {
  set_error_reason(file, reason);
  return ErrorCode::Malformed;
}

ErrorCode read_riff_chunk_header(BoxFile* file, BoxHeader* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  std::memset(out, 0, sizeof *out);
  out->start = file_tell(file);
  VT_TRY(read_bytes(file, out->type.c, 4));
  // 64-bit arithmetic: a size near 2^32 must not wrap to a tiny chunk.
  out->size = uint64_t{read_u32le(file)} + 8;
  if (out->type == "LIST") out->type = read_fourcc(file);
  out->end = out->start + out->size;
  return ErrorCode::Ok;
}

ErrorCode skip_riff_chunk(BoxFile* file, const BoxHeader* header) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  uint64_t end = header->start + header->size;
  return file_seek(file, end + (end & 1));
}

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

ErrorCode write_box(BoxFile* file, FourCC type, const uint8_t* extended_type, uint64_t payload_estimate,
                    BoxWriteOp write, void* context) {
  BoxHeader h;
  uint64_t size = box_header_length(type, payload_estimate) + payload_estimate;
  make_box_header(&h, type, extended_type, 0, 0, size);
  VT_TRY(begin_box(file, &h));
  uint64_t expected_end = h.end;
  VT_TRY(write(file, context));
  VT_TRY(finish_box(file, &h));
  if (h.end != expected_end) ++g_size_mismatches;
  return ErrorCode::Ok;
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

// ---- Track list -------------------------------------------------------------

TrackBoxes* add_track(BoxFile* file, uint32_t track_id) {
  if (file == nullptr || file->root == nullptr || file->root->moov == nullptr) return nullptr;
  GrowArray<TrackBoxes>& tracks = file->root->moov->tracks;
  uint32_t at = tracks.count;
  if (track_id != 0) {
    bool duplicate = false;
    for (uint32_t i = 0; i < tracks.count; ++i)
      if (track_id_of(&tracks[i]) == track_id) duplicate = true;
    if (!duplicate) {
      for (uint32_t i = 0; i < tracks.count; ++i) {
        if (track_id_of(&tracks[i]) > track_id) {
          at = i;
          break;
        }
      }
    }
  }
  bool writing = file->mode == kOpenCreate || file->mode == kOpenUpdate;
  if (writing && file->track_changed.reserve(tracks.count + 1) != ErrorCode::Ok) return nullptr;
  TrackBoxes zero{};
  if (tracks.insert(at, zero) != ErrorCode::Ok) return nullptr;
  if (writing) {
    file->track_changed.insert(at, 0);  // room reserved above
    file->tracks_changed = 1;
  }
  return &tracks[at];
}

void remove_track(BoxFile* file, TrackBoxes* track) {
  if (file == nullptr || file->root == nullptr || file->root->moov == nullptr || track == nullptr) return;
  GrowArray<TrackBoxes>& tracks = file->root->moov->tracks;
  if (track < tracks.begin() || track >= tracks.end()) return;
  uint32_t index = static_cast<uint32_t>(track - tracks.begin());
  remove_all_children(file, track, level_list(file, BoxLevel::Trak));
  std::free(track->extra);
  tracks.remove_at(index);
  if ((file->mode == kOpenCreate || file->mode == kOpenUpdate) && index < file->track_changed.count)
    file->track_changed.remove_at(index);
}

TrackBoxes* find_track(FileBoxes* root, uint32_t track_id) {
  if (root == nullptr || root->moov == nullptr) return nullptr;
  for (TrackBoxes& t : root->moov->tracks)
    if (track_id_of(&t) == track_id) return &t;
  return nullptr;
}

uint32_t track_index_of(FileBoxes* root, uint32_t track_id) {
  if (root == nullptr || root->moov == nullptr) return 0;
  GrowArray<TrackBoxes>& tracks = root->moov->tracks;
  for (uint32_t i = 0; i < tracks.count; ++i)
    if (track_id_of(&tracks[i]) == track_id) return i;
  return 0;
}

TrackBoxes* track_at(FileBoxes* root, uint32_t index) {
  if (root == nullptr || root->moov == nullptr || index >= root->moov->tracks.count) return nullptr;
  return &root->moov->tracks[index];
}

uint32_t track_count(FileBoxes* root) {
  if (root == nullptr || root->moov == nullptr) return 0;
  return root->moov->tracks.count;
}

TrackExtra* track_extra(TrackBoxes* track) {
  if (track == nullptr) return nullptr;
  if (track->extra == nullptr) {
    track->extra = alloc_record<TrackExtra>();
    if (track->extra != nullptr) track->extra->first_fragment_time = none64();
  }
  return track->extra;
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

// ---- Diagnostics --------------------------------------------------------------

void push_box_path(BoxFile* file, const BoxHeader* header) {
  BoxPath& p = file->path;
  if (p.depth < kMaxBoxDepth) {
    p.type[p.depth] = header->type;
    p.index[p.depth] = 0;
    p.start[p.depth] = header->start + p.base_offset;
  }
  ++p.depth;
}

void pop_box_path(BoxFile* file) {
  if (file->path.depth > 0) --file->path.depth;
}

void locate_failure(BoxFile* file) {
  if (file->detail.set) return;
  file->detail.set = 1;
  const BoxPath& p = file->path;
  uint32_t depth = p.depth < kMaxBoxDepth ? p.depth : kMaxBoxDepth;
  file->detail.offset = depth > 0 ? p.start[depth - 1] : 0;
  char* out = file->detail.path;
  size_t room = sizeof file->detail.path;
  size_t used = 0;
  out[0] = '\0';
  for (uint32_t i = 0; i < depth && used + 1 < room; ++i) {
    FourCCText t = fourcc_text(p.type[i]);
    int n = p.index[i] != 0 ? std::snprintf(out + used, room - used, "%s%s[%u]", i ? "/" : "", t.text, p.index[i])
                            : std::snprintf(out + used, room - used, "%s%s", i ? "/" : "", t.text);
    if (n < 0) break;
    used += static_cast<size_t>(n);
  }
}

uint32_t size_mismatch_count() { return g_size_mismatches; }
void reset_size_mismatch_count() { g_size_mismatches = 0; }

}  // namespace vantorel

namespace vantorel {

uint32_t track_id_of(TrackBoxes* track) {
  if (track == nullptr || track->tkhd == nullptr) return 0;
  return track->tkhd->track_id;
}

}  // namespace vantorel
