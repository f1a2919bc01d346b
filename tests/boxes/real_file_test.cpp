// The movie box of a real file made by ffmpeg: read, written back, read
// again to the same tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "boxes/dref.h"
#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/iods.h"
#include "boxes/mdhd.h"
#include "boxes/moov.h"
#include "boxes/mvhd.h"
#include "boxes/prof.h"
#include "boxes/usmt.h"
#include "boxes/tkhd.h"
#include "boxes/tree_helpers.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

bool have_ffmpeg() { return std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") == 0; }

// One second of test video (H.264) and a sine tone (AAC), made by ffmpeg
// with the given size and further options; empty when ffmpeg fails.
Bytes make_av_file(const char* size, const std::string& options) {
  TempDir dir;
  std::string path = dir.path("av.mp4");
  std::string cmd = std::string("ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=duration=1:size=") + size +
                    ":rate=10 -f lavfi -i sine=duration=1 -c:v libx264 -c:a aac " + options + " '" + path + "'";
  if (std::system(cmd.c_str()) != 0) return {};
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TrackSummary {
  uint32_t id;
  uint32_t kind;
  uint64_t tkhd_duration;
  uint64_t mdhd_duration;
  uint32_t timescale;
  uint32_t edits;
  std::string name;
  bool operator==(const TrackSummary&) const = default;
};

std::vector<TrackSummary> summarise(FileBoxes* root) {
  std::vector<TrackSummary> out;
  for (uint32_t i = 0; i < track_count(root); ++i) {
    TrackBoxes* t = track_at(root, i);
    auto* tkhd = track_record<TkhdRecord>(t, BoxTypeId::Tkhd);
    auto* mdhd = track_record<MdhdRecord>(t, BoxTypeId::Mdhd);
    auto* hdlr = track_record<HdlrRecord>(t, BoxTypeId::Hdlr);
    auto* elst = track_record<ElstRecord>(t, BoxTypeId::Elst);
    out.push_back({tkhd != nullptr ? tkhd->track_id : 0, handler_kind_of(t), tkhd != nullptr ? tkhd->duration : 0,
                   mdhd != nullptr ? mdhd->duration : 0, mdhd != nullptr ? mdhd->timescale : 0,
                   elst != nullptr ? elst->entries.count : 0, hdlr != nullptr && hdlr->name ? hdlr->name : ""});
  }
  return out;
}

TEST(RealFile, MovieBoxSurvivesWritingAndReadingBack) {
  if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  Bytes input = make_av_file("160x120", "-skip_iods 0");
  ASSERT_GT(input.size(), 1000u);

  for (uint32_t buffering_off : {0u, 1u}) {
    SCOPED_TRACE(buffering_off);
    auto file = std::make_unique<MemoryFile>(input);
    (*file)->header_buffering_off = buffering_off;
    ParsedTree first;
    first.file = std::move(file);
    ASSERT_EQ(create_root(first.file->get()), ErrorCode::Ok);
    BoxHeader whole;
    make_box_header(&whole, FourCC::of("mp4 "), nullptr, 0, input.size(), input.size());
    ASSERT_EQ(read_top_level(first.file->get(), &whole), ErrorCode::Ok);
    FileBoxes* root = first.root();
    ASSERT_NE(root->moov, nullptr);
    auto* mvhd = movie_record<MvhdRecord>(root, BoxTypeId::Mvhd);
    ASSERT_NE(mvhd, nullptr);
    EXPECT_EQ(mvhd->timescale, 1000u);
    EXPECT_GE(mvhd->duration, 900u);
    EXPECT_LE(mvhd->duration, 1200u);
    EXPECT_NE(movie_record<IodsRecord>(root, BoxTypeId::Iods), nullptr);  // asked for on the command line

    std::vector<TrackSummary> tracks = summarise(root);
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].id, 1u);
    EXPECT_EQ(tracks[0].kind, kHandlerVideo);
    EXPECT_EQ(tracks[1].id, 2u);
    EXPECT_EQ(tracks[1].kind, kHandlerSound);
    EXPECT_EQ(tracks[1].timescale, 44100u);
    for (const TrackSummary& t : tracks) {
      EXPECT_GT(t.mdhd_duration, 0u);
      EXPECT_GT(t.tkhd_duration, 0u);
      EXPECT_FALSE(t.name.empty());
    }
    for (uint32_t i = 0; i < 2; ++i) {
      auto* dref = track_record<DrefRecord>(first.track(i), BoxTypeId::Dref);
      ASSERT_NE(dref, nullptr);
      ASSERT_EQ(dref->entries.count, 1u);
      EXPECT_EQ(dref->entries[0].flags, kDrefSelfContained);
      EXPECT_NE(find_box(first.track(i), BoxTypeId::Stbl), nullptr);
    }
    EXPECT_NE(find_box(first.track(0), BoxTypeId::Vmhd), nullptr);
    EXPECT_NE(find_box(first.track(1), BoxTypeId::Smhd), nullptr);

    reset_size_mismatch_count();
    ErrorCode e;
    Bytes moov = write_movie(root, &e);
    ASSERT_EQ(e, ErrorCode::Ok);
    // Sized as the writer sees it: descriptor lengths follow the writing file's flags.
    MemoryFile sizing({}, kOpenCreate);
    EXPECT_EQ(moov.size(), moov_size(sizing.get(), root) + 8);
    EXPECT_EQ(size_mismatch_count(), 0u);

    ParsedTree second = parse_file(moov);
    ASSERT_EQ(second.result, ErrorCode::Ok);
    EXPECT_EQ(summarise(second.root()), tracks);
    auto* mvhd2 = movie_record<MvhdRecord>(second.root(), BoxTypeId::Mvhd);
    ASSERT_NE(mvhd2, nullptr);
    EXPECT_EQ(mvhd2->duration, mvhd->duration);
    EXPECT_EQ(mvhd2->next_track_id, mvhd->next_track_id);
    EXPECT_EQ(movie_record<IodsRecord>(second.root(), BoxTypeId::Iods), nullptr);

    Bytes again = write_movie(second.root(), &e);
    ASSERT_EQ(e, ErrorCode::Ok);
    EXPECT_EQ(again, moov);
  }
}

// The bytes of the box at `path` (first match at each level; 32-bit sizes).
Bytes box_at(const Bytes& data, std::initializer_list<const char*> path) {
  size_t start = 0;
  size_t end = data.size();
  for (const char* type : path) {
    bool found = false;
    size_t at = start;
    while (at + 8 <= end) {
      size_t size = (size_t{data[at]} << 24) | (size_t{data[at + 1]} << 16) | (size_t{data[at + 2]} << 8) | data[at + 3];
      if (size < 8 || at + size > end) break;
      if (std::string(data.begin() + at + 4, data.begin() + at + 8) == type) {
        size_t header = std::string(type) == "uuid" ? 24 : 8;
        start = at + header;
        end = at + size;
        found = true;
        break;
      }
      at += size;
    }
    if (!found) return {};
  }
  size_t header = std::string(*(path.end() - 1)) == "uuid" ? 24 : 8;
  return Bytes(data.begin() + (start - header), data.begin() + end);
}

TEST(RealFile, PortablePlayerBoxes) {
  if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  Bytes input = make_av_file("320x240", "-metadata title=Hello -f psp");
  ASSERT_GT(input.size(), 1000u);
  ParsedTree t = parse_file(input);
  ASSERT_EQ(t.result, ErrorCode::Ok);
  EXPECT_EQ(t.file->get()->flags & kFlagPsp, uint32_t{kFlagPsp});

  // The profile box: this writer puts the audio profile before the video
  // one; it is written back with video first.
  auto* prof = movie_record<ProfRecord>(t.root(), BoxTypeId::Prof);
  ASSERT_NE(prof, nullptr);
  EXPECT_EQ(prof->entry_count, 3u);
  ASSERT_EQ(prof->video_profiles.count, 1u);
  ASSERT_EQ(prof->audio_profiles.count, 1u);
  EXPECT_EQ(prof->video_profiles[0].track_id, 1u);
  EXPECT_TRUE(prof->video_profiles[0].codec == "avc1");
  EXPECT_EQ(prof->video_profiles[0].picture_size, (320u << 16) | 240u);
  EXPECT_EQ(prof->audio_profiles[0].track_id, 2u);
  EXPECT_EQ(prof->audio_profiles[0].sample_rate, 44100u);
  Bytes prof_in = box_at(input, {"uuid"});
  ASSERT_EQ(prof_in.size(), 24u + 124u);
  Bytes fprf(prof_in.begin() + 32, prof_in.begin() + 52);
  Bytes aprf(prof_in.begin() + 52, prof_in.begin() + 96);
  Bytes vprf(prof_in.begin() + 96, prof_in.end());
  ASSERT_EQ(std::string(aprf.begin() + 4, aprf.begin() + 8), "APRF");
  ErrorCode e;
  EXPECT_EQ(write_row(*top_row(BoxTypeId::Prof), t.root(), &e), cat({Bytes(prof_in.begin(), prof_in.begin() + 32), fprf, vprf, aprf}));
  EXPECT_EQ(e, ErrorCode::Ok);

  // Metadata at movie and track level.
  auto* movie_mtdt = movie_record<MtdtRecord>(t.root(), BoxTypeId::Mtdt);
  ASSERT_NE(movie_mtdt, nullptr);
  EXPECT_EQ(movie_mtdt->entries.count, 4u);
  for (uint32_t i = 0; i < 2; ++i) {
    auto* mtdt = track_record<MtdtRecord>(t.track(i), BoxTypeId::Mtdt);
    ASSERT_NE(mtdt, nullptr);
    ASSERT_EQ(mtdt->entries.count, 1u);
    EXPECT_EQ(mtdt->entries[0].type, 10u);
    EXPECT_EQ(mtdt->entries[0].entry_size, 18u);
    EXPECT_STREQ(mtdt->entries[0].language, "und");
  }

  // Written back, both USMT boxes are byte for byte what was read.
  reset_size_mismatch_count();
  Bytes moov = write_movie(t.root(), &e);
  ASSERT_EQ(e, ErrorCode::Ok);
  EXPECT_EQ(size_mismatch_count(), 0u);
  Bytes movie_usmt = box_at(input, {"moov", "uuid"});
  ASSERT_FALSE(movie_usmt.empty());
  EXPECT_EQ(box_at(moov, {"moov", "uuid"}), movie_usmt);
  Bytes track_usmt = box_at(input, {"moov", "trak", "uuid"});
  ASSERT_FALSE(track_usmt.empty());
  EXPECT_EQ(box_at(moov, {"moov", "trak", "uuid"}), track_usmt);
  Bytes elst = box_at(input, {"moov", "trak", "edts", "elst"});
  ASSERT_FALSE(elst.empty());
  EXPECT_EQ(box_at(moov, {"moov", "trak", "edts", "elst"}), elst);
}

}  // namespace
}  // namespace vantorel
