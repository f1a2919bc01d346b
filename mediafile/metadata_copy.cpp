// Metadata carried from one file to another, as it was read.
#include "boxes/carried_boxes.h"
#include "mediafile/internal.h"
#include "meta/user_data.h"

namespace vantorel {

ErrorCode copy_movie_metadata(MediaFile* from, MediaFile* to) {
  if (from == nullptr || to == nullptr || to->root == nullptr || to->root->moov == nullptr) return ErrorCode::BadArgument;
  MoovRecord* source = from->root != nullptr ? from->root->moov : nullptr;
  if (source == nullptr) return ErrorCode::Ok;
  MoovRecord* target = to->root->moov;
  if (source->carried != nullptr) {
    CarriedBoxes* carried = carried_list(&target->carried);
    if (carried == nullptr) return ErrorCode::OutOfMemory;
    VT_TRY(carried_copy(carried, source->carried));
  }
  if (source->udta == nullptr || source->udta->carried == nullptr || source->udta->carried->boxes.count == 0)
    return ErrorCode::Ok;
  if (target->udta == nullptr) VT_TRY(add_movie_box(to, BoxTypeId::Udta));
  CarriedBoxes* carried = carried_list(&target->udta->carried);
  if (carried == nullptr) return ErrorCode::OutOfMemory;
  return carried_copy(carried, source->udta->carried);
}

ErrorCode copy_track_metadata(MediaFile* from, uint32_t from_track, MediaFile* to, uint32_t to_track) {
  if (from == nullptr || to == nullptr) return ErrorCode::BadArgument;
  TrackBoxes* source = find_track(from->root, from_track);
  TrackBoxes* target = find_track(to->root, to_track);
  if (source == nullptr || target == nullptr) return ErrorCode::Missing;
  if (source->carried == nullptr) return ErrorCode::Ok;
  CarriedBoxes* carried = carried_list(&target->carried);
  if (carried == nullptr) return ErrorCode::OutOfMemory;
  return carried_copy(carried, source->carried);
}

const char* import_note(MediaFile* file, uint32_t index) {
  if (file == nullptr || index >= file->note_count || index >= kMaxImportNotes) return nullptr;
  return file->notes[index].text;
}

ErrorCode track_name(MediaFile* file, uint32_t track_id, char* out, uint32_t capacity) {
  if (file == nullptr || out == nullptr || capacity == 0) return ErrorCode::BadArgument;
  out[0] = '\0';
  TrackBoxes* track = find_track(file->root, track_id);
  if (track == nullptr) return ErrorCode::Missing;
  return track_title(track->carried, out, capacity) ? ErrorCode::Ok : ErrorCode::Missing;
}

}  // namespace vantorel
