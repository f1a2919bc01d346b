#include "sampletables/track_builder.h"

#include <cstring>

#include "boxes/dref.h"
#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/media_headers.h"
#include "sampletables/movie_upkeep.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "boxes/tref.h"

namespace vantorel {

namespace {

// The id a track asking for none gets: the movie's next track id, unless
// that is 0 or taken (a movie whose next id was never brought up to date),
// in which case the one after the largest id in use. 0 when none is left.
uint32_t free_track_id(FileBoxes* root, const MvhdRecord* mvhd) {
  uint32_t id = mvhd->next_track_id;
  if (id != 0 && find_track(root, id) == nullptr) return id;
  uint32_t largest = 0;
  for (uint32_t i = 0; i < track_count(root); ++i) {
    uint32_t t = track_id_of(track_at(root, i));
    if (t > largest) largest = t;
  }
  return largest == UINT32_MAX ? 0 : largest + 1;
}

void set_language(MdhdRecord* mdhd, const char* language) {
  if (language == nullptr || std::strlen(language) < 3) return;
  for (int i = 0; i < 3; ++i) {
    char c = language[i];
    mdhd->language[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  mdhd->language[3] = '\0';
}

ErrorCode build_track(BoxFile* file, TrackBoxes* track, const TrackSetup* setup, uint32_t track_id) {
  VT_TRY(add_track_box(file, track, BoxTypeId::Tkhd));
  if (setup->reference_type != kReferenceNone) {
    VT_TRY(add_track_box(file, track, BoxTypeId::Tref));
    VT_TRY(set_reference_type(track, setup->reference_type));
    for (uint32_t i = 0; i < setup->reference_count; ++i) VT_TRY(add_reference(file, track, setup->reference_ids[i]));
  }
  VT_TRY(add_track_box(file, track, BoxTypeId::Mdia));
  VT_TRY(add_track_box(file, track, BoxTypeId::Mdhd));
  VT_TRY(add_track_box(file, track, BoxTypeId::Hdlr));
  auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd);
  auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
  auto* hdlr = track_record<HdlrRecord>(track, BoxTypeId::Hdlr);
  hdlr->kind = setup->kind;
  if (setup->kind == kHandlerOther) hdlr->handler_type = setup->handler_type;
  tkhd->track_id = track_id;
  mdhd->timescale = setup->timescale;
  set_language(mdhd, setup->language);

  VT_TRY(add_track_box(file, track, BoxTypeId::Minf));
  VT_TRY(add_track_box(file, track, BoxTypeId::Dinf));
  VT_TRY(add_track_box(file, track, BoxTypeId::Dref));
  if (add_data_reference(track) == nullptr) return ErrorCode::OutOfMemory;
  VT_TRY(add_track_box(file, track, BoxTypeId::Stbl));

  VT_TRY(set_handler_name(file, track, handler_default_name(setup->kind)));
  VT_TRY(add_track_box(file, track, media_header_for_kind(setup->kind)));
  if (setup->kind == kHandlerSound) tkhd->volume = 0x0100;
  if (setup->handler_name != nullptr) VT_TRY(set_handler_name(file, track, setup->handler_name));

  VT_TRY(populate_sample_tables(file, track, setup->kind, setup->timescale));
  return set_next_track_id(file->root);
}

}  // namespace

TrackBoxes* create_track(BoxFile* file, const TrackSetup* setup) {
  if (file == nullptr || setup == nullptr || file->root == nullptr) return nullptr;
  FileBoxes* root = file->root;
  if (setup->kind == kHandlerUnknown || setup->kind >= kHandlerKindCount) return nullptr;
  if (setup->kind == kHandlerOther && setup->handler_type.is_zero()) return nullptr;
  if (setup->reference_type >= kReferenceTypeCount) return nullptr;
  if (setup->reference_count > 0 && setup->reference_ids == nullptr) return nullptr;
  auto* mvhd = movie_record<MvhdRecord>(root, BoxTypeId::Mvhd);
  if (mvhd == nullptr) return nullptr;
  if (setup->track_id != 0 && find_track(root, setup->track_id) != nullptr) return nullptr;
  uint32_t track_id = setup->track_id != 0 ? setup->track_id : free_track_id(root, mvhd);
  if (track_id == 0) return nullptr;

  TrackBoxes* track = add_track(file, setup->track_id);
  if (track == nullptr) return nullptr;
  if (build_track(file, track, setup, track_id) != ErrorCode::Ok) {
    remove_track(file, track);
    return nullptr;
  }
  return track;
}

}  // namespace vantorel
