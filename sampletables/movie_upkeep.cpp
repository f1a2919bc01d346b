#include "sampletables/movie_upkeep.h"

#include "boxes/elst.h"
#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "sampletables/stts_total.h"

namespace vantorel {

namespace {

void widen_if_needed(uint8_t* version, uint64_t value) {
  if (!fits_u32(value)) *version = 1;
}

// A list read from a file whose last edit ends before the media does (a
// cut, padding at the end) says where the presentation ends: kept as read.
bool cuts_media_end(BoxFile* file, TrackBoxes* track, uint64_t media_duration) {
  if (file->mode != kOpenRead) return false;
  auto* elst = track_record<ElstRecord>(track, BoxTypeId::Elst);
  if (elst == nullptr || elst->entries.count == 0) return false;
  const uint64_t last = elst->entries[elst->entries.count - 1].segment_duration;
  return last > 0 && last < media_duration;
}

}  // namespace

ErrorCode update_durations(BoxFile* file, FileBoxes* root) {
  if (file == nullptr || root == nullptr) return ErrorCode::BadArgument;
  if (root->moov == nullptr) return ErrorCode::Ok;  // no movie, no durations
  MvhdRecord* mvhd = movie_record<MvhdRecord>(root, BoxTypeId::Mvhd);
  if (mvhd == nullptr) return ErrorCode::Missing;
  uint64_t longest = 0;
  for (uint32_t i = 0; i < track_count(root); ++i) {
    TrackBoxes* track = track_at(root, i);
    MdhdRecord* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
    uint64_t media_duration = 0;
    uint32_t media_timescale = 0;
    if (mdhd != nullptr) {
      // Inspecting keeps what the file says; everyone else trusts the samples.
      if (file->mode != kOpenInspect) {
        mdhd->duration = stts_total_duration(track);
        widen_if_needed(&mdhd->version, mdhd->duration);
      }
      media_duration = mdhd->duration;
      media_timescale = mdhd->timescale;
    }
    uint64_t duration = media_timescale == 0 ? 0 : rescale(media_duration, media_timescale, mvhd->timescale);
    if (track_record<ElstRecord>(track, BoxTypeId::Elst) != nullptr) {
      // Lists read from files keep their rule; the writer's own lists start
      // at a media time that the last edit does not show.
      if (track->extra != nullptr && track->extra->writer_edit_list != 0) {
        uint64_t end = presentation_end_time(track);
        const int64_t limit = track->extra->presentation_end;
        if (limit > track->extra->presentation_start && static_cast<uint64_t>(limit) < end)
          end = static_cast<uint64_t>(limit);
        VT_TRY(set_presentation_edit_duration(track, end, media_timescale, mvhd->timescale));
      }
      else if (!cuts_media_end(file, track, duration))
        VT_TRY(set_last_edit_duration(track, duration));
      duration = total_edit_duration(track);
    }
    TkhdRecord* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd);
    if (tkhd == nullptr) continue;
    tkhd->duration = duration;
    widen_if_needed(&tkhd->version, duration);
    if (duration > longest) longest = duration;
  }
  mvhd->duration = longest;
  widen_if_needed(&mvhd->version, longest);
  return ErrorCode::Ok;
}

ErrorCode touch_modified_tracks(BoxFile* file, FileBoxes* root) {
  if (file == nullptr || root == nullptr) return ErrorCode::BadArgument;
  uint64_t now = now_1904();
  uint32_t n = track_count(root);
  if (file->track_changed.count < n) n = file->track_changed.count;
  for (uint32_t i = 0; i < n; ++i) {
    if (file->track_changed[i] == 0) continue;
    TrackBoxes* track = track_at(root, i);
    if (auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd); mdhd != nullptr) {
      mdhd->modification_time = now;
      widen_if_needed(&mdhd->version, now);
    }
    if (auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd); tkhd != nullptr) {
      tkhd->modification_time = now;
      widen_if_needed(&tkhd->version, now);
    }
    file->track_changed[i] = 0;
  }
  if (file->tracks_changed != 0) {
    if (auto* mvhd = movie_record<MvhdRecord>(root, BoxTypeId::Mvhd); mvhd != nullptr) {
      mvhd->modification_time = now;
      widen_if_needed(&mvhd->version, now);
    }
    file->tracks_changed = 0;
  }
  return ErrorCode::Ok;
}

ErrorCode set_next_track_id(FileBoxes* root) {
  if (root == nullptr) return ErrorCode::BadArgument;
  MvhdRecord* mvhd = movie_record<MvhdRecord>(root, BoxTypeId::Mvhd);
  if (mvhd == nullptr) return ErrorCode::Missing;
  uint32_t largest = 0;
  for (uint32_t i = 0; i < track_count(root); ++i) {
    TkhdRecord* tkhd = track_record<TkhdRecord>(track_at(root, i), BoxTypeId::Tkhd);
    if (tkhd == nullptr) return ErrorCode::Missing;
    if (tkhd->track_id > largest) largest = tkhd->track_id;
  }
  // 0 is no track id: at the top of the range the id stays at the top.
  mvhd->next_track_id = largest == UINT32_MAX ? UINT32_MAX : largest + 1;
  return ErrorCode::Ok;
}

}  // namespace vantorel
