#include "table_track.h"

#include <gtest/gtest.h>

#include "boxes/hdlr.h"
#include "sampletables/stbl.h"

namespace vantorel::test {

TrackBoxes* make_track(MediaFile* file, uint32_t handler_kind) {
  if (create_root(file) != ErrorCode::Ok) return nullptr;
  if (file->root->moov == nullptr && add_movie_box(file, BoxTypeId::Moov) != ErrorCode::Ok) return nullptr;
  TrackBoxes* track = add_track(file, 0);
  if (track == nullptr) return nullptr;
  for (BoxTypeId id : {BoxTypeId::Mdia, BoxTypeId::Hdlr, BoxTypeId::Minf, BoxTypeId::Stbl})
    if (add_track_box(file, track, id) != ErrorCode::Ok) return nullptr;
  track->mdia->hdlr->kind = handler_kind;
  return track;
}

void add_tables(MediaFile* file, TrackBoxes* track, std::initializer_list<BoxTypeId> ids) {
  for (BoxTypeId id : ids) ASSERT_EQ(add_track_box(file, track, id), ErrorCode::Ok);
}

ErrorCode read_stbl_payload(MediaFile* file, TrackBoxes* track) {
  uint64_t length = file_size(file);
  BoxHeader whole;
  make_box_header(&whole, FourCC::of("stbl"), nullptr, 0, length, length);
  file_seek(file, 0);
  return stbl_read(file, &whole, track);
}

Bytes write_stbl_payload(TrackBoxes* track, ErrorCode* result) {
  MemoryFile out({}, kOpenCreate);
  reset_size_mismatch_count();
  ErrorCode e = stbl_write(out.get(), track);
  if (result != nullptr) *result = e;
  Bytes bytes = out.contents();
  if (e == ErrorCode::Ok) {
    EXPECT_EQ(stbl_size(out.get(), track), bytes.size());
    EXPECT_EQ(size_mismatch_count(), 0u);
  }
  return bytes;
}

}  // namespace vantorel::test
