// Adding a track: the builder of the codec kind on a track create_track
// made, and the parts a profiled file adds to its tracks.
#include <cstring>

#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/media_headers.h"
#include "boxes/tkhd.h"
#include "sampletables/stsd.h"
#include "sampletables/movie_upkeep.h"
#include "sampletables/track_builder.h"
#include "boxes/usmt.h"
#include "mediafile/track_builders.h"

namespace vantorel {

namespace {

using Builder = ErrorCode (*)(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);

struct BuilderRow {
  uint32_t handler_kind;
  Builder build;
};

// Indexed by TrackKind.
constexpr BuilderRow kBuilders[] = {
    {kHandlerVideo, build_mpeg4_visual},
    {kHandlerVideo, build_avc},
    {kHandlerVideo, build_h263},
    {kHandlerSound, build_mpeg4_audio},
    {kHandlerSound, build_amr},
    {kHandlerSubpicture, build_subpicture},
    {kHandlerSound, build_ac3},
    {kHandlerVideo, build_vc1},
    {kHandlerStreamingExtension, build_streaming_extension},
    {kHandlerSound, build_mpeg1_audio},
    {kHandlerVideo, build_motion_jpeg},
    {kHandlerSound, build_pcm},
    {kHandlerSound, build_eac3},
    {kHandlerUnknown, build_whole},  // the kind comes with the entries
};
constexpr uint32_t kBuilderCount = sizeof kBuilders / sizeof kBuilders[0];

// The metadata entry every profiled track carries.
constexpr uint8_t kProfileTrackData[8] = {0, 0, 0, 1, 0, 0, 0, 0};
constexpr uint32_t kProfileTrackDataType = 10;

}  // namespace

ErrorCode build_whole(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track) {
  const auto& w = track_spec->codec.whole;
  switch (w.handler_kind) {
    case kHandlerVideo:
    case kHandlerSound:
    case kHandlerText:
    case kHandlerSbtl:
    case kHandlerSubtitle:
    case kHandlerTimecode:
    case kHandlerOther: break;
    default: return ErrorCode::BadArgument;
  }
  if (w.handler_kind == kHandlerVideo) {
    auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd);
    if (tkhd == nullptr) return ErrorCode::Missing;
    tkhd->width = track_spec->width << 16;
    tkhd->height = track_spec->height << 16;
  }
  if (w.base_media_header_size > 0) {
    BoxTypeId header = w.base_media_header_type == "sthd" ? BoxTypeId::Sthd : BoxTypeId::Gmhd;
    remove_track_box(file, track, media_header_for_kind(w.handler_kind));
    VT_TRY(add_track_box(file, track, header));
    auto* raw = track_record<RawBoxRecord>(track, header);
    if (raw == nullptr) return ErrorCode::Missing;
    VT_TRY(block_assign(&raw->payload, w.base_media_header, w.base_media_header_size));
  }
  return stsd_set_whole_entries(file, track, w.entries, w.entries_size, w.entry_count);
}

ErrorCode add_profile_track_parts(MediaFile* file, TrackBoxes* track) {
  remove_track_box(file, track, BoxTypeId::Edts);
  VT_TRY(add_track_box(file, track, BoxTypeId::Edts));
  VT_TRY(add_track_box(file, track, BoxTypeId::Elst));
  VT_TRY(add_edit(file, track, 0, 0, 1, 0));
  TrackExtra* extra = track_extra(track);
  if (extra == nullptr) return ErrorCode::OutOfMemory;
  extra->writer_edit_list = 1;

  VT_TRY(add_track_box(file, track, BoxTypeId::Usmt));
  VT_TRY(add_track_box(file, track, BoxTypeId::Mtdt));
  auto* mtdt = track_record<MtdtRecord>(track, BoxTypeId::Mtdt);
  if (mtdt == nullptr) return ErrorCode::Missing;
  MtdtEntry* entry = add_metadata_entry(mtdt);
  if (entry == nullptr) return ErrorCode::OutOfMemory;
  entry->type = kProfileTrackDataType;
  entry->flag = 0;
  std::memcpy(entry->language, "und", 4);
  entry->encoding = 0;
  return set_metadata_data(file, entry, kProfileTrackData, sizeof kProfileTrackData);
}

uint32_t media_add_track(MediaFile* file, const TrackSpec* track_spec) {
  if (file == nullptr || track_spec == nullptr || file->root == nullptr) return 0;
  if (file->mode != kOpenCreate && file->mode != kOpenUpdate) return 0;
  if (track_spec->kind >= kBuilderCount || track_spec->media_time < 0) return 0;
  const BuilderRow& row = kBuilders[track_spec->kind];

  // The record's language need not end in a NUL.
  char language[4] = {track_spec->language[0], track_spec->language[1], track_spec->language[2], '\0'};
  TrackSetup setup{};
  setup.kind = track_spec->kind == kKindWhole ? track_spec->codec.whole.handler_kind : row.handler_kind;
  if (track_spec->kind == kKindWhole) setup.handler_type = track_spec->codec.whole.handler_type;
  setup.timescale = track_spec->timescale;
  setup.handler_name = track_spec->handler_name;
  setup.language = language[0] != '\0' ? language : nullptr;
  setup.track_id = track_spec->track_id;
  setup.reference_type = track_spec->reference_type;
  setup.reference_count = track_spec->reference_count;
  setup.reference_ids = track_spec->reference_ids;
  TrackBoxes* track = create_track(file, &setup);
  if (track == nullptr) return 0;
  uint32_t id = track_id_of(track);
  ErrorCode e = row.build(file, track_spec, track);
  if (e == ErrorCode::Ok && track_spec->pcm_frame_size != 0) {
    TrackExtra* extra = track_extra(track);
    if (extra == nullptr)
      e = ErrorCode::OutOfMemory;
    else
      extra->write_frame_size = track_spec->pcm_frame_size;
  }
  if (e == ErrorCode::Ok && (track_spec->media_time != 0 || track_spec->media_end > track_spec->media_time)) {
    TrackExtra* extra = track_extra(track);
    if (extra == nullptr) {
      e = ErrorCode::OutOfMemory;
    } else {
      extra->presentation_start = track_spec->media_time;
      if (track_spec->media_end > track_spec->media_time) extra->presentation_end = track_spec->media_end;
    }
  }
  if (e != ErrorCode::Ok) {
    remove_track(file, track);
    set_next_track_id(file->root);  // the id is free again
    return 0;
  }
  return id;
}

}  // namespace vantorel
