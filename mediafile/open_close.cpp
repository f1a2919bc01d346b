// Opening files in the four modes, recognising what they are, and closing.
#include <cstdlib>

#include "boxes/mvhd.h"
#include "mediafile/importers.h"
#include "mediafile/internal.h"
#include "meta/chapters.h"
#include "boxes/ftyp.h"
#include "sampletables/ctts.h"
#include "sampletables/stss.h"
#include "sampletables/table_fixups.h"
#include "sampletables/movie_upkeep.h"

namespace vantorel {

namespace {

ErrorCode set_up_new_movie(MediaFile* file, const OpenParams* params) {
  file->flags = params->flags;
  file->flavour = kFlavourMp4;
  VT_TRY(create_root(file));
  VT_TRY(add_movie_box(file, BoxTypeId::Ftyp));
  auto* ftyp = movie_record<FileTypeRecord>(file->root, BoxTypeId::Ftyp);
  ftyp->major_brand = params->major_brand;
  ftyp->minor_version = params->minor_version;
  if (params->compatible_brand_count != 0 && params->compatible_brands != nullptr)
    VT_TRY(ftyp_set_brands(file, file->root, params->compatible_brands, params->compatible_brand_count));
  VT_TRY(add_movie_box(file, BoxTypeId::Moov));
  VT_TRY(add_movie_box(file, BoxTypeId::Mvhd));
  movie_record<MvhdRecord>(file->root, BoxTypeId::Mvhd)->timescale = params->movie_timescale;
  return add_flagged_parts(file);
}

ErrorCode open_by_mode(MediaFile* file, const OpenParams* params, uint32_t mode) {
  switch (mode) {
    case kOpenRead:
      VT_TRY(import_by_table(file));
      clean_up_tables(file);
      return create_read_cursors(file);
    case kOpenInspect:
      return import_by_table(file);
    case kOpenCreate:
      VT_TRY(set_up_new_movie(file, params));
      return start_output(file, params);
    case kOpenUpdate:
      VT_TRY(import_by_table(file));
      if (file->root == nullptr || file->root->moov == nullptr) return ErrorCode::Missing;
      VT_TRY(set_next_track_id(file->root));
      return file_seek(file, file->free_regions.back().start);
    default:
      return ErrorCode::BadArgument;
  }
}

}  // namespace

void clean_up_tables(MediaFile* file) {
  for (uint32_t i = 0; i < track_count(file->root); ++i) {
    TrackBoxes* track = track_at(file->root, i);
    stss_drop_if_redundant(file, track);
    ctts_drop_if_single(file, track);
  }
}

uint64_t clean_up_saving(MediaFile* file) {
  auto box_bytes = [](FourCC type, uint64_t payload) { return box_header_length(type, payload) + payload; };
  uint64_t saving = 0;
  for (uint32_t i = 0; i < track_count(file->root); ++i) {
    TrackBoxes* track = track_at(file->root, i);
    if (stss_is_redundant(track)) saving += box_bytes(FourCC::of("stss"), stss_size(file, track));
    if (ctts_is_single_zero(track)) saving += box_bytes(FourCC::of("ctts"), ctts_size(file, track));
  }
  return saving;
}

ErrorCode media_open(MediaFile** out, const OpenParams* params, uint32_t mode) {
  if (out == nullptr || params == nullptr) return ErrorCode::BadArgument;
  if (mode > kOpenUpdate) return ErrorCode::BadArgument;
  auto* file = static_cast<MediaFile*>(std::calloc(1, sizeof(MediaFile)));
  if (file == nullptr) return ErrorCode::OutOfMemory;
  file->samples_per_chunk = params->samples_per_chunk != 0 ? params->samples_per_chunk : 16;
  file->registry = box_registry();
  IoOpenParams io{params->routines, params->path, params->user, params->writer_name};
  ErrorCode e = attach(file, &io, mode);
  if (e == ErrorCode::Ok) {
    file->header_buffering_off = params->header_buffering_off;
    file->program_number = params->program_number;
    if (mode == kOpenCreate || mode == kOpenUpdate) e = append_region(file, file_tell(file));
  }
  if (e == ErrorCode::Ok) e = open_by_mode(file, params, mode);
  if (e != ErrorCode::Ok) {
    // A file that failed to open is let go without finalising: finalising a
    // half-read file in update mode would write into it.
    if (params->failure_detail != nullptr) *params->failure_detail = file->detail;
    detach(file);
    media_release(file);
    return e;
  }
  *out = file;
  return ErrorCode::Ok;
}

ErrorCode media_close(MediaFile* file) {
  if (file == nullptr) return ErrorCode::BadArgument;
  ErrorCode result = ErrorCode::Ok;
  if (file->mode == kOpenCreate || file->mode == kOpenUpdate) result = finalise_output(file);
  // The stream's close may report the last buffered writes failing.
  ErrorCode closed = detach(file);
  if (result == ErrorCode::Ok) result = closed;
  media_release(file);
  return result;
}

void media_release(MediaFile* file) {
  if (file == nullptr) return;
  release_root(file);
  clear_all_metadata(file);
  file->cursors.release();
  file->walks.release();
  file->track_changed.release();
  file->free_regions.release();
  file->dropped_tracks.release();
  release_converted(file);
  release_format_state(file);
  std::free(file->writer_name);
  std::free(file);
}

}  // namespace vantorel
