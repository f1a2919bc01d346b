#include "boxes/moov.h"

#include <cstdlib>

#include "boxes/carried_boxes.h"
#include "boxes/hdlr.h"

namespace vantorel {

namespace {

// A track's user data and metadata travel as they were read.
ErrorCode track_child_fallback(BoxFile* file, const BoxHeader* header, void* context) {
  if (!(header->type == "udta") && !(header->type == "meta")) return ErrorCode::Ok;
  CarriedBoxes* carried = carried_list(&static_cast<TrackBoxes*>(context)->carried);
  return carried != nullptr ? carry_box(file, header, carried) : ErrorCode::OutOfMemory;
}

ErrorCode trak_fallback(BoxFile* file, const BoxHeader* header, void* context) {
  if (!(header->type == "trak")) return ErrorCode::Ok;  // other unknown children are skipped
  auto* root = static_cast<FileBoxes*>(context);
  TrackBoxes* track = add_track(file, 0);
  if (track == nullptr) return ErrorCode::OutOfMemory;
  if (file->path.depth > 0 && file->path.depth <= kMaxBoxDepth) file->path.index[file->path.depth - 1] = track_count(root);
  uint32_t short_before = file->short_boxes;
  ErrorCode e = read_children(file, header, track, level_list(file, BoxLevel::Trak), track_child_fallback);
  // A box of the track cut inside its fixed fields costs that track, not
  // the file; a file opened for updating is refused instead, as it would be
  // written back without the track.
  bool reading = file->mode == kOpenRead || file->mode == kOpenInspect;
  if (e != ErrorCode::Malformed || file->short_boxes == short_before || !reading) return e;
  DroppedTrack dropped{track_id_of(track), file->detail.reason, FourCC{}, FourCC{}};
  remove_track(file, track);
  file->detail = ErrorDetail{};  // handled: a later failure is located afresh
  return file->dropped_tracks.append(dropped);
}

ErrorCode top_level_fallback(BoxFile* file, const BoxHeader* header, void* context) {
  auto* root = static_cast<FileBoxes*>(context);
  if (!(header->type == "udta") || root->moov == nullptr) return ErrorCode::Ok;
  if (root->moov->udta == nullptr) VT_TRY(add_movie_box(file, BoxTypeId::Udta));
  return udta_read(file, header, root);
}

ErrorCode udta_child_fallback(BoxFile* file, const BoxHeader* header, void* context) {
  return carry_udta_child(file, header, context);
}

bool written(TrackBoxes* track) { return handler_kind_of(track) != kHandlerUnknown; }

ErrorCode trak_payload(BoxFile* file, void* context) {
  VT_TRY(write_children(file, context, level_list(file, BoxLevel::Trak)));
  return carried_write(file, static_cast<TrackBoxes*>(context)->carried);
}
uint64_t trak_payload_size(BoxFile* file, TrackBoxes* track) {
  return children_size(file, track, level_list(file, BoxLevel::Trak)) + carried_size(track->carried);
}
ErrorCode usmt_payload(BoxFile* file, void* context) {
  return write_children(file, context, level_list(file, BoxLevel::MovieUsmt));
}
// What was carried comes first, so the chapter list stays the last child.
ErrorCode udta_payload(BoxFile* file, void* context) {
  UdtaRecord* udta = static_cast<FileBoxes*>(context)->moov->udta;
  VT_TRY(carried_write(file, udta->carried));
  return write_children(file, context, level_list(file, BoxLevel::Udta));
}

ErrorCode moov_payload(BoxFile* file, FileBoxes* root) {
  VT_TRY(write_children(file, root, level_list(file, BoxLevel::Moov)));
  for (uint32_t i = 0; i < track_count(root); ++i) {
    TrackBoxes* track = track_at(root, i);
    if (!written(track)) continue;
    VT_TRY(write_box(file, FourCC::of("trak"), nullptr, trak_payload_size(file, track), trak_payload, track));
  }
  if (root->moov->usmt != nullptr)
    VT_TRY(write_box(file, FourCC::of("uuid"), kUsmtUuid, children_size(file, root, level_list(file, BoxLevel::MovieUsmt)), usmt_payload,
                     root));
  if (root->moov->udta != nullptr)
    VT_TRY(write_box(file, FourCC::of("udta"), nullptr, udta_size(file, root), udta_payload, root));
  return carried_write(file, root->moov->carried);
}

}  // namespace

void moov_release(BoxFile* file, void* context) {
  auto* root = static_cast<FileBoxes*>(context);
  if (root == nullptr || root->moov == nullptr) return;
  remove_all_children(file, root, level_list(file, BoxLevel::Moov));
  while (root->moov->tracks.count > 0) remove_track(file, &root->moov->tracks[0]);
  root->moov->tracks.release();
  carried_free(&root->moov->carried);
}

ErrorCode moov_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* root = static_cast<FileBoxes*>(context);
  if (root->moov == nullptr) return ErrorCode::Missing;
  uint64_t payload_at = file_tell(file);
  bool first_is_cmov = false;
  if (header->end >= payload_at + 8) {
    BoxHeader first;
    if (read_box_header(file, &first) == ErrorCode::Ok && !io_failed(file)) first_is_cmov = first.type == "cmov";
    VT_TRY(file_seek(file, payload_at));
  }
  // A movie box cut short by the end of its file (the tree engine cuts it
  // there) has lost tables that nothing stands in for: read on, it would
  // pass for a whole, shorter movie. A compressed one shows such damage
  // when it is inflated.
  if (!first_is_cmov) {
    VT_TRY(file_seek(file, header->start));
    BoxHeader claimed;
    VT_TRY(read_box_header(file, &claimed));
    if (claimed.end > header->end) return malformed(file, "'moov' box runs past the end of its file");
    VT_TRY(file_seek(file, payload_at));
  }
  bool buffered = file->mode == kOpenRead && !file->header_buffering_off && !parsing_from_substitute(file) &&
                  !first_is_cmov && header->size <= kMaxBufferedMoov;
  if (!buffered) return read_children(file, header, root, level_list(file, BoxLevel::Moov), trak_fallback);

  // Fetch the whole box with one read and parse it from memory.
  auto size = static_cast<uint32_t>(header->size);
  auto* buffer = static_cast<uint8_t*>(std::malloc(size));
  if (buffer == nullptr) return ErrorCode::OutOfMemory;
  ErrorCode e = file_seek(file, header->start);
  if (e == ErrorCode::Ok) e = read_bytes(file, buffer, size);
  if (e != ErrorCode::Ok) {
    std::free(buffer);
    return e;
  }
  {
    ScopedMemoryStream memory(file);
    e = memory.open_view(buffer, size);
    if (e == ErrorCode::Ok) {
      uint64_t saved_base = file->path.base_offset;
      file->path.base_offset += header->start;
      BoxHeader inner;
      e = read_box_header(file, &inner);
      if (e == ErrorCode::Ok) {
        if (inner.end > size) inner.end = size;  // a box cut short by the end of the file
        e = read_children(file, &inner, root, level_list(file, BoxLevel::Moov), trak_fallback);
      }
      file->path.base_offset = saved_base;
    }
  }
  std::free(buffer);
  return e;
}

ErrorCode moov_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* root = static_cast<FileBoxes*>(context);
  if (root->moov == nullptr) return ErrorCode::Missing;
  // Into memory already (a movie header made before its file, or compared
  // with the one stored): in place, not a second copy of every table.
  if (file->current.routines.tell == mem_tell) return moov_payload(file, root);
  // Assembled in memory, then written with one call; the buffer starts at
  // the payload's size, so a header of megabytes is not grown to twice it.
  uint8_t* data = nullptr;
  uint32_t size = 0;
  {
    ScopedMemoryStream memory(file);
    VT_TRY(memory.open_writable());
    MemoryStream* stream = memory.stream();
    mem_reserve(stream, moov_size(file, root));
    VT_TRY(moov_payload(file, root));
    data = stream->data;
    size = stream->size;
    stream->data = nullptr;  // ownership of the bytes moves here
    stream->capacity = 0;
  }
  ErrorCode e = write_bytes(file, data, size);
  std::free(data);
  return e;
}

uint64_t moov_size(BoxFile* file, void* context) {
  auto* root = static_cast<FileBoxes*>(context);
  if (root == nullptr || root->moov == nullptr) return 0;
  uint64_t size = children_size(file, root, level_list(file, BoxLevel::Moov));
  for (uint32_t i = 0; i < track_count(root); ++i) {
    TrackBoxes* track = track_at(root, i);
    if (written(track)) size += 8 + trak_payload_size(file, track);
  }
  // The movie USMT and 'udta' are counted by their rows in the movie list.
  return size + carried_size(root->moov->carried);
}

ErrorCode carry_udta_child(BoxFile* file, const BoxHeader* header, void* context) {
  MoovRecord* moov = context != nullptr ? static_cast<FileBoxes*>(context)->moov : nullptr;
  if (moov == nullptr || moov->udta == nullptr) return ErrorCode::Missing;
  CarriedBoxes* carried = carried_list(&moov->udta->carried);
  return carried != nullptr ? carry_box(file, header, carried) : ErrorCode::OutOfMemory;
}

ErrorCode udta_read(BoxFile* file, const BoxHeader* header, void* context) {
  return read_children(file, header, context, level_list(file, BoxLevel::Udta), udta_child_fallback);
}

uint64_t udta_size(BoxFile* file, void* context) {
  MoovRecord* moov = context != nullptr ? static_cast<FileBoxes*>(context)->moov : nullptr;
  if (moov == nullptr || moov->udta == nullptr) return 0;
  return children_size(file, context, level_list(file, BoxLevel::Udta)) + carried_size(moov->udta->carried);
}

void udta_release(BoxFile* file, void* context) {
  MoovRecord* moov = context != nullptr ? static_cast<FileBoxes*>(context)->moov : nullptr;
  if (moov == nullptr || moov->udta == nullptr) return;
  remove_all_children(file, context, level_list(file, BoxLevel::Udta));
  carried_free(&moov->udta->carried);
}

ErrorCode read_top_level(BoxFile* file, const BoxHeader* whole) {
  if (file == nullptr || whole == nullptr || file->root == nullptr) return ErrorCode::BadArgument;
  return read_children(file, whole, file->root, level_list(file, BoxLevel::Top), top_level_fallback);
}

}  // namespace vantorel
