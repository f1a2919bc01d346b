// The beginning of a created file and the finalisation steps of close.
#include "meta/meta_write.h"
#include "boxes/hdlr.h"
#include "sampletables/movie_upkeep.h"
#include "mediafile/internal.h"
#include "boxes/ftyp.h"
#include "sampletables/table_fixups.h"
#include "sampletables/stco.h"

#include <cstdlib>
#include <cstring>

namespace vantorel {

namespace {

constexpr uint32_t kPspReserve = 148;

// The top-level boxes as they would be written now, into a fresh block:
// the memory stream's own buffer, taken over (a header holds every table,
// megabytes for long recordings: it is not copied). The buffer starts at
// `expected` bytes, so a header of that size is not grown to twice it.
ErrorCode serialise_header(MediaFile* file, HeaderBlock* out, uint64_t expected) {
  *out = HeaderBlock{};
  ScopedMemoryStream memory(file);
  VT_TRY(memory.open_writable());
  MemoryStream* stream = memory.stream();
  mem_reserve(stream, expected);
  VT_TRY(write_top_level_boxes(file));
  // Its spare room goes back.
  void* fitted = stream->size != 0 ? std::realloc(stream->data, stream->size) : nullptr;
  out->data = static_cast<uint8_t*>(fitted != nullptr ? fitted : stream->data);
  out->size = stream->size;
  stream->data = nullptr;
  stream->capacity = 0;  // the stream no longer frees it
  return ErrorCode::Ok;
}

void shift_chunk_offsets(MediaFile* file, uint64_t by) {
  for (uint32_t i = 0; i < track_count(file->root); ++i) {
    auto* offsets = track_record<ChunkOffsetTable>(track_at(file->root, i), BoxTypeId::Stco);
    if (offsets == nullptr) continue;
    for (uint64_t& offset : offsets->offsets) offset += by;
  }
}

// The measuring file's samples start right after 'ftyp'; in the file to be
// written the header comes first, so every chunk moves by its size. Moving
// may turn 'stco' into 'co64', which grows the header and moves them again;
// a table only ever widens, so this settles within a few rounds.
ErrorCode capture_header(MediaFile* file) {
  uint64_t shifted = 0;
  for (uint32_t round = 0; round < 8; ++round) {
    HeaderBlock block;
    VT_TRY(serialise_header(file, &block, top_level_size(file)));
    if (block.size == shifted) {
      if (file->mdat.type == "mdat" && file->mdat.end - file->mdat.start >= 16)
        block.media_data_size = file->mdat.end - file->mdat.start - 16;
      *file->header_out = block;
      return ErrorCode::Ok;
    }
    std::free(block.data);
    if (block.size < shifted) break;
    shift_chunk_offsets(file, block.size - shifted);
    shifted = block.size;
  }
  set_error_at(file, 0, "movie header size does not settle");
  return ErrorCode::Overrun;
}

// Writes over a view of the stored header compare with it instead: the
// check needs no second copy of a header of megabytes.
ErrorCode compare_write(void* handle, const void* buffer, uint32_t count, void*) {
  auto* stored = static_cast<MemoryStream*>(handle);
  if (stored == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  if (uint64_t{stored->position} + count > stored->size ||
      (count != 0 && std::memcmp(stored->data + stored->position, buffer, count) != 0))
    return ErrorCode::Overrun;
  stored->position += count;
  return ErrorCode::Ok;
}

// The writing file's own header must be the one written at its front.
ErrorCode check_stored_header(MediaFile* file) {
  bool same = false;
  const uint32_t io_error = file->io_error;  // a difference is not an I/O failure
  {
    ScopedMemoryStream memory(file);
    ErrorCode e = memory.open_view(file->stored_header, file->stored_header_size);
    if (e == ErrorCode::Ok && file->stored_header_size != 0) {
      file->current.routines.write = compare_write;
      e = write_top_level_boxes(file);
      same = e == ErrorCode::Ok && memory.stream()->position == file->stored_header_size;
    } else if (e == ErrorCode::Ok) {
      same = top_level_size(file) == 0;
    }
    if (e != ErrorCode::Ok && e != ErrorCode::Overrun) return e;
    file->io_error = io_error;
  }
  if (same) return ErrorCode::Ok;
  set_error_at(file, 0, "movie header differs from the one measured and written first");
  return ErrorCode::Overrun;
}

ErrorCode start_header_first(MediaFile* file, const OpenParams* params, uint64_t at) {
  file->header_first = 1;
  file->header_out = params->header_out;
  file->stored_header = params->stored_header;
  file->stored_header_size = params->stored_header_size;
  file->planned_mdat_size = params->planned_mdat_size;
  if (params->stored_header == nullptr) return ErrorCode::Ok;
  set_last_region_end(file, at + params->stored_header_size);
  return write_bytes(file, params->stored_header, params->stored_header_size);
}

}  // namespace

ErrorCode start_output(MediaFile* file, const OpenParams* params) {
  if (params->planned_file_size != 0) VT_TRY(reserve_file(file, params->planned_file_size));
  BoxHeader ftyp;
  make_box_header(&ftyp, FourCC::of("ftyp"), nullptr, 0, 0, ftyp_size(file, file->root) + 8);
  VT_TRY(begin_box(file, &ftyp));
  VT_TRY(ftyp_write(file, file->root));
  VT_TRY(finish_box(file, &ftyp));
  uint64_t at = file_tell(file);
  set_last_region_start(file, at);
  if (params->header_first && (params->header_out != nullptr || params->stored_header != nullptr))
    return start_header_first(file, params, at);
  uint32_t reserve = params->reserved_header_space;
  if ((file->flags & kFlagPsp) && reserve < kPspReserve) reserve = kPspReserve;
  file->planned_mdat_size = params->planned_mdat_size;
  if (reserve < 9) return ErrorCode::Ok;  // nothing reserved: the region stays empty
  set_last_region_end(file, at + reserve);
  BoxHeader space;
  make_box_header(&space, FourCC::of("free"), nullptr, at, at + reserve, reserve);
  return write_free_box(file, &space);
}

ErrorCode add_flagged_parts(MediaFile* file) {
  if (file->flags & kFlagPsp) VT_TRY(add_movie_box(file, BoxTypeId::Prof));
  if (file->flags & (kFlagTdrm | kFlagUdta | kFlagStreamingExtension)) {
    VT_TRY(add_movie_box(file, BoxTypeId::Udta));
    if (file->flags & kFlagTdrm) VT_TRY(add_movie_box(file, BoxTypeId::Tdrm));
    if (file->flags & kFlagStreamingExtension) VT_TRY(add_movie_box(file, BoxTypeId::Strx));
  }
  if (file->flags & kFlagStreamingExtension) {
    TrackSpec track_spec{};
    track_spec.kind = kKindStreamingExtension;
    track_spec.timescale = 90000;
    track_spec.language[0] = 'u';
    track_spec.language[1] = 'n';
    track_spec.language[2] = 'd';
    track_spec.handler_name = "Streaming Extension";
    file->strx_track = media_add_track(file, &track_spec);
    if (file->strx_track == 0) return ErrorCode::Missing;
  }
  return ErrorCode::Ok;
}

ErrorCode finalise_output(MediaFile* file) {
  VT_TRY(close_chunk(file));
  if (file->unwritten_bytes != 0) {
    set_error_at(file, file_tell(file), "samples recorded whose bytes were never written");
    return ErrorCode::Overrun;
  }
  bool writing_header_first = file->header_first && file->stored_header != nullptr;
  if (writing_header_first && file->mdat.type == "mdat") {
    // The 'mdat' header went out with the planned size and is never
    // revisited: the samples must have filled exactly that.
    if (file_tell(file) != file->mdat.end) {
      set_error_at(file, file->mdat.start, "media data differs from the size planned for it");
      return ErrorCode::Overrun;
    }
  } else if (file->mdat.type == "mdat") {
    VT_TRY(finish_box(file, &file->mdat));
    set_last_region_end(file, file->mdat.start);
    VT_TRY(append_region(file, file_tell(file)));
  }
  if (file->mode == kOpenCreate && (file->flags & kFlagNoSubpictureAdjust) == 0) {
    for (uint32_t i = 0; i < track_count(file->root); ++i) {
      TrackBoxes* track = track_at(file->root, i);
      if (handler_kind_of(track) == kHandlerSubpicture) VT_TRY(stts_shift_first_to_last(file, track));
    }
  }
  clean_up_tables(file);
  VT_TRY(update_durations(file, file->root));
  update_bit_rates(file);
  VT_TRY(touch_modified_tracks(file, file->root));
  VT_TRY(metadata_write_back(file));
  if (writing_header_first) return check_stored_header(file);
  if (file->header_first && file->header_out != nullptr) return capture_header(file);
  return write_top_level_into_regions(file);
}

}  // namespace vantorel
