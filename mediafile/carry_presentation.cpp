// How a movie and its tracks are presented and refer to each other, carried
// from a file read into a new one.
#include <cstring>

#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "boxes/tref.h"
#include "mediafile/internal.h"
#include "sampletables/sample_groups.h"
#include "sampletables/stsd.h"

namespace vantorel {

bool track_has_references(MediaFile* file, uint32_t track_id) {
  if (file == nullptr) return false;
  TrackBoxes* track = find_track(file->root, track_id);
  return track != nullptr && track_record<TrefRecord>(track, BoxTypeId::Tref) != nullptr;
}

uint32_t track_chapter_ids(MediaFile* file, uint32_t track_id, const uint32_t** ids) {
  if (ids != nullptr) *ids = nullptr;
  if (file == nullptr) return 0;
  TrackBoxes* track = find_track(file->root, track_id);
  const TrefEntry* chap = track != nullptr ? find_reference(track, reference_box_type(kReferenceChap)) : nullptr;
  if (chap == nullptr) return 0;
  if (ids != nullptr) *ids = chap->track_ids.data();
  return chap->track_ids.count;
}

ErrorCode add_track_chapter_ids(MediaFile* file, uint32_t track_id, const uint32_t* ids, uint32_t count) {
  if (file == nullptr || (ids == nullptr && count > 0)) return ErrorCode::BadArgument;
  TrackBoxes* to = find_track(file->root, track_id);
  if (to == nullptr) return ErrorCode::Missing;
  if (count == 0) return ErrorCode::Ok;
  if (track_record<TrefRecord>(to, BoxTypeId::Tref) == nullptr) VT_TRY(add_track_box(file, to, BoxTypeId::Tref));
  auto* tref = track_record<TrefRecord>(to, BoxTypeId::Tref);
  if (tref == nullptr) return ErrorCode::Missing;
  const FourCC chap = reference_box_type(kReferenceChap);
  TrefEntry* box = nullptr;
  for (TrefEntry& r : tref->references)
    if (r.type == chap && box == nullptr) box = &r;
  if (box == nullptr) {
    VT_TRY(tref->references.append_zeroed(&box));
    box->type = chap;
  }
  for (uint32_t i = 0; i < count; ++i) {
    bool listed = false;
    for (uint32_t id : box->track_ids) listed = listed || id == ids[i];
    if (!listed) VT_TRY(box->track_ids.append(ids[i]));
  }
  return ErrorCode::Ok;
}

ErrorCode copy_track_references(MediaFile* from, uint32_t from_track, MediaFile* to, uint32_t to_track,
                                const uint32_t* kept, uint32_t kept_count) {
  if (from == nullptr || to == nullptr || (kept == nullptr && kept_count > 0)) return ErrorCode::BadArgument;
  TrackBoxes* in = find_track(from->root, from_track);
  TrackBoxes* out = find_track(to->root, to_track);
  if (in == nullptr || out == nullptr || track_record<TrefRecord>(in, BoxTypeId::Tref) == nullptr) return ErrorCode::Ok;
  GrowArray<uint32_t> left_out{};
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t i = 0; i < track_count(from->root) && e == ErrorCode::Ok; ++i) {
    const uint32_t id = track_id_of(track_at(from->root, i));
    bool carried = false;
    for (uint32_t k = 0; k < kept_count; ++k) carried = carried || kept[k] == id;
    if (!carried) e = left_out.append(id);
  }
  if (e == ErrorCode::Ok) e = tref_copy(to, out, in);
  if (e == ErrorCode::Ok) tref_remove_ids(to, out, left_out.data(), left_out.count);
  left_out.release();
  return e;
}

void copy_track_presentation(MediaFile* from, uint32_t from_track, MediaFile* to, uint32_t to_track) {
  if (from == nullptr || to == nullptr) return;
  TrackBoxes* in = find_track(from->root, from_track);
  TrackBoxes* out = find_track(to->root, to_track);
  if (in == nullptr || out == nullptr) return;
  auto* tkhd_in = track_record<TkhdRecord>(in, BoxTypeId::Tkhd);
  auto* tkhd_out = track_record<TkhdRecord>(out, BoxTypeId::Tkhd);
  if (tkhd_in != nullptr && tkhd_out != nullptr) {
    std::memcpy(tkhd_out->matrix, tkhd_in->matrix, sizeof tkhd_out->matrix);
    tkhd_out->alternate_group = tkhd_in->alternate_group;
    tkhd_out->flags = (tkhd_out->flags & ~uint32_t{kTrackEnabled | kTrackInMovie | kTrackInPreview}) |
                      (tkhd_in->flags & (kTrackEnabled | kTrackInMovie | kTrackInPreview));
    tkhd_out->layer = tkhd_in->layer;
    tkhd_out->volume = tkhd_in->volume;
    if (tkhd_in->width != 0 && tkhd_in->height != 0) {
      tkhd_out->width = tkhd_in->width;
      tkhd_out->height = tkhd_in->height;
    }
    tkhd_out->creation_time = tkhd_in->creation_time;
    if (!fits_u32(tkhd_out->creation_time)) tkhd_out->version = 1;
  }
  auto* mdhd_in = track_record<MdhdRecord>(in, BoxTypeId::Mdhd);
  auto* mdhd_out = track_record<MdhdRecord>(out, BoxTypeId::Mdhd);
  if (mdhd_in != nullptr && mdhd_out != nullptr) {
    mdhd_out->creation_time = mdhd_in->creation_time;
    if (!fits_u32(mdhd_out->creation_time)) mdhd_out->version = 1;
  }
}

void copy_movie_presentation(MediaFile* from, MediaFile* to) {
  if (from == nullptr || to == nullptr) return;
  auto* mvhd_in = movie_record<MvhdRecord>(from->root, BoxTypeId::Mvhd);
  auto* mvhd_out = movie_record<MvhdRecord>(to->root, BoxTypeId::Mvhd);
  if (mvhd_in == nullptr || mvhd_out == nullptr) return;
  std::memcpy(mvhd_out->matrix, mvhd_in->matrix, sizeof mvhd_out->matrix);
  mvhd_out->creation_time = mvhd_in->creation_time;
  if (!fits_u32(mvhd_out->creation_time)) mvhd_out->version = 1;
}

ErrorCode start_sample_groups(MediaFile* from, uint32_t from_track, MediaFile* to, uint32_t to_track) {
  if (from == nullptr || to == nullptr) return ErrorCode::BadArgument;
  return sample_groups_start(find_track(to->root, to_track), find_track(from->root, from_track));
}

void carry_built_colour_as_quicktime(MediaFile* from, uint32_t from_track, MediaFile* to, uint32_t to_track) {
  if (from == nullptr || to == nullptr) return;
  const TrackBoxes* in = find_track(from->root, from_track);
  if (in == nullptr || in->extra == nullptr || in->extra->colour_built == 0) return;
  if (TrackBoxes* out = find_track(to->root, to_track)) whole_entries_colour_as_nclc(out);
}

}  // namespace vantorel
