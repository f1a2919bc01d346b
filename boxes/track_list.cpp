// The movie's track list: tracks held by value in track id order.
#include "boxes/box_tree.h"

#include "boxes/carried_boxes.h"

#include <cstdlib>
#include "boxes/tkhd.h"

namespace vantorel {

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
  carried_free(&track->carried);
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

uint32_t track_id_of(TrackBoxes* track) {
  if (track == nullptr || track->tkhd == nullptr) return 0;
  return track->tkhd->track_id;
}

}  // namespace vantorel
