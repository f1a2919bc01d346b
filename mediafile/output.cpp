// The beginning of a created file and the finalisation steps of close.
#include "meta/meta_write.h"
#include "boxes/hdlr.h"
#include "sampletables/movie_upkeep.h"
#include "mediafile/internal.h"
#include "boxes/ftyp.h"
#include "sampletables/table_fixups.h"

namespace vantorel {

namespace {

constexpr uint32_t kPspReserve = 148;

}  // namespace

ErrorCode start_output(MediaFile* file, const OpenParams* params) {
  BoxHeader ftyp;
  make_box_header(&ftyp, FourCC::of("ftyp"), nullptr, 0, 0, ftyp_size(file, file->root) + 8);
  VT_TRY(begin_box(file, &ftyp));
  VT_TRY(ftyp_write(file, file->root));
  VT_TRY(finish_box(file, &ftyp));
  uint64_t at = file_tell(file);
  set_last_region_start(file, at);
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
  if (file->mdat.type == "mdat") {
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
  return write_top_level_into_regions(file);
}

}  // namespace vantorel
