// The engine's track selection on a hand-made movie: which tracks an output
// keeps, how the references follow them, and the selections it refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/output_namer.h"
#include "app/run_state.h"
#include "boxes/tref.h"
#include "mediafile/hand_made.h"
#include "mediafile/media_file.h"
#include "remux/remux.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

void write_bytes_to(const std::string& path, const std::vector<uint8_t>& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

// Each output track's id and the ids its 'chap' reference names.
using Chapters = std::map<uint32_t, std::vector<uint32_t>>;

Chapters tracks_of(const std::string& path) {
  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  Chapters out;
  if (media_open(&file, &params, kOpenRead) != ErrorCode::Ok) return out;
  for (uint32_t i = 0; i < track_count(file->root); ++i) {
    TrackBoxes* track = track_at(file->root, i);
    std::vector<uint32_t>& refs = out[track_id_of(track)];
    if (const TrefEntry* chap = find_reference(track, reference_box_type(kReferenceChap)))
      for (uint32_t id : chap->track_ids) refs.push_back(id);
  }
  media_close(file);
  return out;
}

// Track 1 and 2 are video, 1 naming 3, a text track, as its chapters.
std::vector<uint8_t> movie_with_chapter_track() {
  HandTrack first, second, chapters;
  for (HandTrack* t : {&first, &second}) {
    t->sizes = {100, 101, 102, 103};
    t->stts = {{4, 250}};
    t->stss = {1, 3};
  }
  second.track_id = 2;
  first.tref_type = "chap";
  first.tref_ids = {3};
  chapters.handler = "text";
  chapters.track_id = 3;
  chapters.sizes = {10, 12};
  chapters.stts = {{2, 500}};
  return hand_made_file({first, second, chapters});
}

TEST(TrackSelection, TracksReferencesAndChapterTracksFollowTheSelection) {
  TempDir dir;
  const std::string in = dir.path("in.mp4");
  write_bytes_to(in, movie_with_chapter_track());
  const TrackPick id1{1, 0}, id2{2, 0}, id3{3, 0}, id9{9, 0}, video{0, kTrackVideo}, subtitle{0, kTrackSubtitle};
  struct Case {
    const char* name;
    bool drop;
    std::vector<TrackPick> picks;
    ErrorCode result;
    Chapters kept;           // with Ok
    uint32_t fault;          // with BadArgument
    uint32_t fault_pick;
  };
  const Case cases[] = {
      {"every track", false, {}, ErrorCode::Ok, {{1, {3}}, {2, {}}, {3, {}}}, 0, 0},
      {"kinds do not take the chapter track", true, {subtitle}, ErrorCode::Ok, {{1, {3}}, {2, {}}, {3, {}}}, 0, 0},
      {"the chapter track follows the movie", false, {id1}, ErrorCode::Ok, {{1, {3}}, {3, {}}}, 0, 0},
      {"by kind", false, {video}, ErrorCode::Ok, {{1, {3}}, {2, {}}, {3, {}}}, 0, 0},
      // Its referrer left out, the chapter track is named by a kept track.
      {"chapters move to a kept track", true, {id1}, ErrorCode::Ok, {{2, {3}}, {3, {}}}, 0, 0},
      {"only track 2", false, {id2}, ErrorCode::Ok, {{2, {3}}, {3, {}}}, 0, 0},
      // A reference to a track left out goes, and its 'tref' with it.
      {"the chapter track dropped by id", true, {id3}, ErrorCode::Ok, {{1, {}}, {2, {}}}, 0, 0},
      {"an id the input lacks", false, {video, id9}, ErrorCode::BadArgument, {}, kSelectionUnknownId, 1},
      {"a dropped id the input lacks", true, {id9}, ErrorCode::BadArgument, {}, kSelectionUnknownId, 0},
      {"only the chapter track", false, {id3}, ErrorCode::BadArgument, {}, kSelectionEmpty, 0},
      {"every video track dropped", true, {id1, id2}, ErrorCode::BadArgument, {}, kSelectionEmpty, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.path(std::string("out") + std::to_string(&c - cases) + ".mp4");
    app::RunState state{};
    app::run_state_init(&state, in.c_str(), out.c_str(), nullptr);
    RemuxOptions options{};
    options.tracks = TrackSelection{c.drop, c.picks.data(), static_cast<uint32_t>(c.picks.size())};
    RemuxResult result{};
    EXPECT_EQ(remux_run(in.c_str(), app::output_namer, nullptr, &options, nullptr, &state, &result), c.result);
    app::run_state_release(&state);
    if (c.result == ErrorCode::Ok) {
      EXPECT_EQ(tracks_of(out), c.kept);
    } else {
      EXPECT_EQ(result.selection_fault, c.fault);
      if (c.fault == kSelectionUnknownId) {
        EXPECT_EQ(result.selection_pick, c.fault_pick);
      }
      EXPECT_EQ(std::fopen(out.c_str(), "rb"), nullptr);  // nothing written
    }
  }
}

}  // namespace
}  // namespace vantorel
