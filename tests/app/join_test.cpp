// --join on real recordings: a 9 s source split by ffmpeg's segment muxer
// into three chapter files (H.264 with B-frames at 30000/1001, AAC, a data
// track patched from a text track, a time code track each) joined again;
// differently encoded inputs; imported inputs; and the inputs refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/chapter_set.h"
#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "io/byte_io.h"
#include "mediafile/media_file.h"
#include "remux/join_plan.h"
#include "remux/verify.h"
#include "sampletables/sample_groups.h"
#include "sampletables/stsd.h"
#include "support/compare.h"
#include "support/decoded.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using test::run_command;
using test::shell_quote;

std::vector<std::string> frame_hashes(const std::string& path) {
  std::string out;
  run_command("ffmpeg -v quiet -i " + shell_quote(path) + " -map 0:v:0 -f framemd5 - 2>/dev/null", &out);
  std::vector<std::string> hashes;
  for (const std::string& line : test::lines_of(out))
    if (!line.empty() && line[0] != '#') hashes.push_back(line.substr(line.rfind(',') + 1));
  return hashes;
}

std::vector<std::string> concat_hashes(const std::vector<std::string>& paths) {
  std::vector<std::string> all;
  for (const std::string& p : paths) {
    std::vector<std::string> h = frame_hashes(p);
    all.insert(all.end(), h.begin(), h.end());
  }
  return all;
}

// Presentation times of the video frames, in the stream's time base.
std::vector<int64_t> frame_times(const std::string& path) {
  std::string out;
  run_command("ffprobe -v error -select_streams v:0 -show_entries frame=pts -of csv=p=0 " + shell_quote(path) + " 2>/dev/null",
              &out);
  std::vector<int64_t> times;
  for (const std::string& line : test::lines_of(out))
    if (!line.empty()) times.push_back(std::atoll(line.c_str()));
  return times;
}

std::vector<test::LibraryTrack> tracks_of(const std::string& path) {
  std::vector<test::LibraryTrack> tracks;
  std::string error;
  EXPECT_TRUE(test::read_with_library(path, &tracks, &error)) << path << ": " << error;
  return tracks;
}

// A box's bytes in a file, by its path of types from the top ("moov/udta");
// empty when there is none.
std::string box_bytes(const std::string& path, const std::vector<std::string>& types) {
  const std::string file = test::slurp(path);
  size_t at = 0, end = file.size();
  for (size_t level = 0; level < types.size(); ++level) {
    bool found = false;
    while (at + 8 <= end) {
      const uint64_t size = load_u32be(reinterpret_cast<const uint8_t*>(file.data() + at));
      if (size < 8 || size > end - at) return {};
      if (file.compare(at + 4, 4, types[level]) == 0) {
        if (level + 1 == types.size()) return file.substr(at, size);
        end = at + size;
        at += 8;
        found = true;
        break;
      }
      at += size;
    }
    if (!found) return {};
  }
  return {};
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// Appends a box to the 'udta' of a file whose movie box is the last (as
// ffmpeg writes it), so no sample moves.
bool add_udta_box(const std::string& path, const std::string& box) {
  std::string file = test::slurp(path);
  size_t at = 0;
  size_t moov = std::string::npos;
  while (at + 8 <= file.size()) {
    const uint32_t size = load_u32be(reinterpret_cast<const uint8_t*>(file.data() + at));
    if (size < 8 || size > file.size() - at) return false;
    if (file.compare(at + 4, 4, "moov") == 0) moov = at;
    at += size;
  }
  if (moov == std::string::npos) return false;
  const uint32_t moov_size = load_u32be(reinterpret_cast<const uint8_t*>(file.data() + moov));
  if (moov + moov_size != file.size()) return false;
  auto put = [&](size_t where, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[where + i] = static_cast<char>(value >> (24 - 8 * i));
  };
  for (at = moov + 8; at + 8 <= moov + moov_size;) {
    const uint32_t size = load_u32be(reinterpret_cast<const uint8_t*>(file.data() + at));
    if (size < 8) return false;
    if (file.compare(at + 4, 4, "udta") == 0) {
      file.insert(at + size, box);
      put(at, size + static_cast<uint32_t>(box.size()));
      put(moov, moov_size + static_cast<uint32_t>(box.size()));
      return write_file(path, file);
    }
    at += size;
  }
  return false;
}

// Turns the text track of an MP4 into a GoPro-style data track: its entry's
// format 'tx3g' becomes 'gpmd' and its handler 'sbtl' becomes 'meta'.
bool make_data_track(const std::string& path) {
  std::string file = test::slurp(path);
  size_t entry = file.find("tx3g"), handler = file.find("sbtl");
  if (entry == std::string::npos || handler == std::string::npos) return false;
  file.replace(entry, 4, "gpmd");
  file.replace(handler, 4, "meta");
  return write_file(path, file);
}

// The sample entries of the first video track of a file, as stored, without their bit rates.
std::vector<std::string> video_entries(const std::string& path) {
  std::vector<std::string> entries;
  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  if (media_open(&file, &params, kOpenRead) != ErrorCode::Ok) return entries;
  for (uint32_t i = 0; i < track_count(file->root) && entries.empty(); ++i) {
    TrackBoxes* track = track_at(file->root, i);
    if (handler_kind_of(track) != kHandlerVideo) continue;
    auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
    for (uint32_t e = 0; stsd != nullptr && e < stsd->whole_entry_count; ++e) {
      uint32_t at = 0, length = 0;
      if (!sample_entry_at(stsd->whole_entries.bytes, stsd->whole_entries.length, stsd->whole_entry_count, e, &at,
                           &length))
        continue;
      std::string entry(reinterpret_cast<const char*>(stsd->whole_entries.bytes) + at, length);
      // The bit rates are the output track's: the rest is the entry as read.
      if (entry.size() >= 20 && entry.compare(entry.size() - 16, 4, "btrt") == 0) entry.resize(entry.size() - 20);
      entries.push_back(entry);
    }
  }
  media_close(file);
  return entries;
}

// The edits of the first sound track of a file, as the library reads them.
std::vector<ElstEntry> sound_edits(const std::string& path) {
  std::vector<ElstEntry> edits;
  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  if (media_open(&file, &params, kOpenRead) != ErrorCode::Ok) return edits;
  for (uint32_t i = 0; i < track_count(file->root) && edits.empty(); ++i) {
    TrackBoxes* track = track_at(file->root, i);
    auto* elst = track_record<ElstRecord>(track, BoxTypeId::Elst);
    if (handler_kind_of(track) == kHandlerSound && elst != nullptr)
      for (const ElstEntry& e : elst->entries) edits.push_back(e);
  }
  media_close(file);
  return edits;
}

// Samples of the first sound track decoded (mono, 16 bits).
size_t decoded_samples(const std::string& path) {
  std::string out;
  run_command("ffmpeg -v error -i " + shell_quote(path) + " -map 0:a:0 -ac 1 -f s16le - 2>/dev/null", &out);
  return out.size() / 2;
}

// Where the first loud sound of a file's first sound track is heard, in
// seconds, gaps in its times decoded as silence; -1 without any.
double first_sound_at(const std::string& path) {
  std::string out;
  run_command("ffmpeg -v error -i " + shell_quote(path) +
                  " -map 0:a:0 -af aresample=async=1:first_pts=0 -ac 1 -ar 48000 -f s16le - 2>/dev/null",
              &out);
  for (size_t i = 0; i + 1 < out.size(); i += 2) {
    const auto value = static_cast<int16_t>(static_cast<uint8_t>(out[i]) | static_cast<uint8_t>(out[i + 1]) << 8);
    if (value > 1000 || value < -1000) return static_cast<double>(i / 2) / 48000;
  }
  return -1;
}

uint32_t movie_timescale(const std::string& path) {
  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  if (media_open(&file, &params, kOpenRead) != ErrorCode::Ok) return 0;
  MovieInfo info{};
  const bool ok = movie_info(file, &info) == ErrorCode::Ok;
  media_close(file);
  return ok ? info.timescale : 0;
}

// When the sample at `media` (track units) presents through the track's
// edits, in seconds; -1 when no edit shows it.
double presented_at(const std::vector<ElstEntry>& edits, uint32_t movie_units, uint32_t units, int64_t media) {
  double at = 0;
  for (const ElstEntry& e : edits) {
    const double length = static_cast<double>(e.segment_duration) / movie_units;
    if (e.media_time >= 0 && media >= e.media_time && static_cast<double>(media - e.media_time) < length * units)
      return at + static_cast<double>(media - e.media_time) / units;
    at += length;
  }
  return -1;
}

// A track's sample groups as the library reads them: each description's
// bytes, each grouping's runs (count, group) and the dependency bytes.
struct Groups {
  std::vector<std::string> descriptions;
  std::vector<std::vector<std::pair<uint32_t, uint32_t>>> runs;
  std::string dependencies;
};

Groups groups_of(const std::string& path, uint32_t track) {
  Groups out;
  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  if (media_open(&file, &params, kOpenRead) != ErrorCode::Ok) return out;
  if (SampleGroupsRecord* g = sample_groups(track_at(file->root, track))) {
    for (const OwnedBlock& b : g->descriptions) out.descriptions.emplace_back(reinterpret_cast<char*>(b.bytes), b.length);
    for (const SampleGrouping& grouping : g->groupings) {
      out.runs.emplace_back();
      for (const GroupRun& r : grouping.runs) out.runs.back().emplace_back(r.sample_count, r.group_index);
    }
    out.dependencies.assign(g->dependencies.items, g->dependencies.items + g->dependencies.count);
  }
  media_close(file);
  return out;
}

TEST(CameraChapterName, FollowsTheSchemeOnly) {
  struct Case {
    const char* path;
    bool named;
    uint32_t chapter;
    const char* next;  // the path of the chapter after it
  };
  const Case cases[] = {
      {"GX010001.MP4", true, 1, "GX020001.MP4"},
      {"cards/100GOPRO/gh090042.mp4", true, 9, "cards/100GOPRO/gh100042.mp4"},
      {"GL980007.LRV", true, 98, "GL990007.LRV"},
      {"GX000001.MP4", false, 0, nullptr},   // no chapter 0
      {"GP010001.MP4", false, 0, nullptr},   // another prefix
      {"GX01001.MP4", false, 0, nullptr},    // a digit short
      {"GX0100012.MP4", false, 0, nullptr},  // a digit long
      {"GX01A001.MP4", false, 0, nullptr},
      {"GX010001", true, 1, "GX020001"},
      {"GX010001.d/clip.mp4", false, 0, nullptr},  // the directory's name does not count
  };
  for (const Case& c : cases) {
    app::ChapterName name{};
    EXPECT_EQ(app::camera_chapter_name(c.path, &name), c.named) << c.path;
    if (!c.named) continue;
    EXPECT_EQ(name.chapter, c.chapter) << c.path;
    EXPECT_EQ(app::camera_chapter_path(c.path, name, name.chapter + 1), c.next) << c.path;
  }
}

class Join : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::have_ffmpeg()) return;
    dir_ = new test::TempDir;
    parts_ = new std::vector<std::string>;
    // Telemetry a second in each part, as a camera writes it beside the
    // chapter's pictures: a text track, patched into a data track.
    const std::string cue = dir_->path("cue.srt");
    run_command("printf '1\\n00:00:00,000 --> 00:00:00,900\\none\\n\\n2\\n00:00:01,000 --> 00:00:01,900\\ntwo\\n\\n"
                "3\\n00:00:02,000 --> 00:00:02,900\\nthree\\n\\n' > " + shell_quote(cue),
                nullptr);
    const std::string source = test::make_media(
        *dir_, "src.mp4",
        "-f lavfi -i testsrc2=size=160x120:rate=30000/1001 -f lavfi -i sine=sample_rate=48000 -t 9 -c:v libx264 -bf 2"
        " -force_key_frames 'expr:gte(t,n_forced*3)' -c:a aac");
    if (source.empty()) return;
    run_command("ffmpeg -v error -y -i " + shell_quote(source) +
                    " -map 0:v -map 0:a -c copy -f segment -segment_time 3 -reset_timestamps 1 " +
                    shell_quote(dir_->path("seg%d.mp4")),
                nullptr);
    const char* const timecodes[] = {"01:00:00:00", "01:00:03:00", "01:00:06:00"};
    for (int k = 0; k < 3; ++k) {
      const std::string part = test::make_media(
          *dir_, "part" + std::to_string(k) + ".mp4",
          "-i " + shell_quote(dir_->path("seg" + std::to_string(k) + ".mp4")) + " -i " + shell_quote(cue) +
              " -map 0 -map 1 -c:v copy -c:a copy -c:s mov_text -metadata title=chapter" + std::to_string(k) +
              " -timecode " + timecodes[k]);
      if (part.empty() || !make_data_track(part)) return;
      parts_->push_back(part);
    }
    if (!add_udta_box((*parts_)[0], std::string("\0\0\0\x0e" "xtra" "kept!!", 14))) parts_->clear();
  }
  static void TearDownTestSuite() {
    delete parts_;
    delete dir_;
    parts_ = nullptr;
    dir_ = nullptr;
  }
  void SetUp() override {
    VT_REQUIRE_FFMPEG();
    ASSERT_NE(parts_, nullptr);
    ASSERT_EQ(parts_->size(), 3u);
  }
  test::RunResult join(const std::vector<std::string>& names, const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = options;
    args.push_back("--join");
    args.insert(args.end(), names.begin(), names.end());
    return test::run_program(work_, args);
  }

  test::TempDir work_;
  static test::TempDir* dir_;
  static std::vector<std::string>* parts_;
};
test::TempDir* Join::dir_ = nullptr;
std::vector<std::string>* Join::parts_ = nullptr;

// A range of the joined movie: 2.0 to 5.0 s runs from the first part into
// the second. The frames are the concatenation's #60 to #149 (#59 is shown
// for its last 2 ms, which ffmpeg drops), the time code reads the first
// frame shown, the inputs' chapters are windowed as one movie's, and
// --verify passes.
TEST_F(Join, ARangeOfTheJoinedMovie) {
  const std::string out = work_.path("range.mp4");
  test::RunResult r = join({(*parts_)[0], (*parts_)[1], (*parts_)[2], out},
                           {"--quiet", "--verify", "--join-chapters", "--range", "2.0-5.0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::probe_errors(out), "");
  const std::vector<std::string> all = concat_hashes(*parts_);
  ASSERT_EQ(all.size(), 270u);
  EXPECT_EQ(frame_hashes(out), std::vector<std::string>(all.begin() + 60, all.begin() + 150));
  std::string probed;
  run_command("ffprobe -v error -show_entries stream_tags=timecode:chapter=start_time -of csv=p=0 " +
                  shell_quote(out) + " 2>/dev/null",
              &probed);
  EXPECT_NE(probed.find("01:00:02:00"), std::string::npos) << probed;
  EXPECT_NE(probed.find("0.000000\n1.003000"), std::string::npos) << probed;
}

TEST_F(Join, ChapterFilesGiveBackTheRecording) {
  const std::string out = work_.path("joined.mp4");
  test::RunResult r = join({(*parts_)[0], (*parts_)[1], (*parts_)[2], out}, {"--quiet", "--verify"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Each part has its own title; the output keeps the first's.
  EXPECT_NE(r.err.find("the movie metadata of '" + (*parts_)[1] + "' and 1 more joined input differs"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(test::probe_errors(out), "");
  EXPECT_EQ(frame_hashes(out), concat_hashes(*parts_));

  // Every track's samples are the inputs' one after the other, decode
  // times rising; the time code track holds one sample for the whole length.
  std::vector<std::vector<test::LibraryTrack>> inputs;
  for (const std::string& part : *parts_) inputs.push_back(tracks_of(part));
  const std::vector<test::LibraryTrack> joined = tracks_of(out);
  ASSERT_EQ(joined.size(), inputs[0].size());
  for (size_t t = 0; t < joined.size(); ++t) {
    SCOPED_TRACE("track " + std::to_string(joined[t].track_id) + " " + joined[t].fourcc);
    EXPECT_EQ(joined[t].track_id, inputs[0][t].track_id);
    if (joined[t].fourcc == "tmcd") {
      EXPECT_EQ(joined[t].packets.size(), 1u);
      EXPECT_EQ(joined[t].packets[0].md5, inputs[0][t].packets[0].md5);
      EXPECT_EQ(joined[t].media_duration,
                inputs[0][t].media_duration + inputs[1][t].media_duration + inputs[2][t].media_duration);
      continue;
    }
    std::vector<std::pair<uint32_t, std::string>> expected, got;
    for (const auto& input : inputs)
      for (const test::LibraryPacket& p : input[t].packets) expected.emplace_back(p.size, p.md5);
    // The data track's inputs end with samples of no duration, as ffmpeg writes them.
    const bool timed = joined[t].kind == kHandlerVideo || joined[t].kind == kHandlerSound;
    for (size_t i = 0; i < joined[t].packets.size(); ++i) {
      got.emplace_back(joined[t].packets[i].size, joined[t].packets[i].md5);
      if (i > 0 && timed) {
        EXPECT_LT(joined[t].packets[i - 1].dts, joined[t].packets[i].dts) << "sample " << i;
      } else if (i > 0) {
        EXPECT_LE(joined[t].packets[i - 1].dts, joined[t].packets[i].dts) << "sample " << i;
      }
    }
    EXPECT_EQ(got, expected);
  }
  // The data track came through as data, each part's from where the part
  // starts (its last sample lengthened to there).
  size_t data = 0;
  while (data < joined.size() && joined[data].fourcc != "gpmd") ++data;
  ASSERT_LT(data, joined.size());
  const size_t third = inputs[0][data].packets.size() + inputs[1][data].packets.size();
  ASSERT_LT(third, joined[data].packets.size());
  EXPECT_EQ(joined[data].packets[third].dts * static_cast<int64_t>(joined[0].timescale),
            static_cast<int64_t>(inputs[0][0].media_duration + inputs[1][0].media_duration) * joined[data].timescale);

  // Part k's first frame is shown exactly where the earlier parts end.
  const std::vector<int64_t> times = frame_times(out);
  size_t frame = 0;
  int64_t elapsed = 0;
  for (size_t k = 0; k < inputs.size(); ++k) {
    ASSERT_LT(frame, times.size());
    EXPECT_EQ(times[frame] - times[0], elapsed) << "part " << k;
    frame += inputs[k][0].packets.size();
    elapsed += static_cast<int64_t>(inputs[k][0].media_duration);
  }
  EXPECT_EQ(frame, times.size());

  std::string tag;
  run_command("ffprobe -v error -show_entries stream_tags=timecode -of csv=p=0 " + shell_quote(out), &tag);
  EXPECT_EQ(tag.find("01:00:00:00"), 0u) << tag;
  // The movie's metadata is the first part's, byte for byte.
  const std::string udta = box_bytes((*parts_)[0], {"moov", "udta"});
  EXPECT_NE(udta.find("kept!!"), std::string::npos);
  EXPECT_EQ(box_bytes(out, {"moov", "udta"}), udta);

  // A chapter at each part's start, named after its file.
  const std::string chaptered = work_.path("chaptered.mp4");
  r = join({(*parts_)[0], (*parts_)[1], (*parts_)[2], chaptered}, {"--quiet", "--join-chapters"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string chapters;
  run_command("ffprobe -v error -show_entries chapter=start_time:chapter_tags=title -of csv=p=0 " +
                  shell_quote(chaptered),
              &chapters);
  EXPECT_EQ(chapters, "0.000000,part0\n3.003000,part1\n6.006000,part2\n");
}

TEST_F(Join, DifferentEncodingsKeepTheirOwnDescriptions) {
  const std::string baseline = test::make_media(
      work_, "baseline.mp4", "-f lavfi -i testsrc2=size=160x120:rate=30 -t 3 -c:v libx264 -profile:v baseline");
  const std::string high = test::make_media(
      work_, "high.mp4", "-f lavfi -i testsrc=size=160x120:rate=30 -t 3 -pix_fmt yuv420p -c:v libx264 -profile:v high -bf 3");
  ASSERT_FALSE(baseline.empty());
  ASSERT_FALSE(high.empty());
  struct Case {
    std::string first, second;
  };
  const Case cases[] = {{baseline, high}, {high, baseline}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    const std::string out = work_.path("two.mp4");
    std::remove(out.c_str());
    test::RunResult r = join({c.first, c.second, out}, {"--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> first = video_entries(c.first), second = video_entries(c.second);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(video_entries(out), (std::vector<std::string>{first[0], second[0]}));
    EXPECT_EQ(frame_hashes(out), concat_hashes({c.first, c.second}));
    // Frame 90, the second input's first, at exactly 3 s; none before it twice.
    const std::vector<int64_t> times = frame_times(out);
    ASSERT_EQ(times.size(), 180u);
    const test::LibraryTrack video = tracks_of(out)[0];
    EXPECT_EQ(times[90] - times[0], int64_t{video.timescale} * 3);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_LT(times[i - 1], times[i]) << "frame " << i;
    EXPECT_EQ(video.packets[90].size, tracks_of(c.second)[0].packets[0].size);
  }
}

// AAC's priming and Opus's pre-skip are skipped by each input's edit.
TEST_F(Join, SoundWithPrimingEditsJoinsGapless) {
  for (const char* codec : {"aac", "libopus"}) {
    SCOPED_TRACE(codec);
    const std::string tone = "-f lavfi -i sine=sample_rate=48000:frequency=";
    const std::string a = test::make_media(work_, std::string(codec) + "-a.mp4", tone + "440 -t 2 -c:a " + codec);
    const std::string b = test::make_media(work_, std::string(codec) + "-b.mp4", tone + "660 -t 3 -c:a " + codec);
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    const std::string out = work_.path(std::string(codec) + "-ab.mp4");
    test::RunResult r = join({a, b, out}, {"--quiet", "--verify"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<ElstEntry> first = sound_edits(a), second = sound_edits(b), joined = sound_edits(out);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    ASSERT_EQ(joined.size(), 2u);
    const test::LibraryTrack input = tracks_of(a)[0];
    EXPECT_EQ(joined[0].media_time, first[0].media_time);
    EXPECT_EQ(joined[1].media_time, static_cast<int64_t>(input.media_duration) + second[0].media_time);
    EXPECT_EQ(joined[0].segment_duration, first[0].segment_duration);
    EXPECT_EQ(joined[1].segment_duration, second[0].segment_duration);
    // ffmpeg ends a last Opus edit late (by 648 samples of 48 kHz), so only
    // AAC's decoded length is compared.
    if (std::string(codec) == "aac") {
      EXPECT_EQ(decoded_samples(out), decoded_samples(a) + decoded_samples(b));
    }
  }
}

// An input whose sound outlasts its pictures, or falls short of them:
// the next input's sound still starts with its pictures.
TEST_F(Join, SoundStartsWithEachInputsPictures) {
  const std::string tone = test::make_media(
      work_, "tone.mp4",
      "-f lavfi -t 3 -i testsrc2=size=160x120:rate=30 -f lavfi -t 3 -i sine=frequency=1000:sample_rate=48000"
      " -c:v libx264 -c:a aac");
  ASSERT_FALSE(tone.empty());
  const struct {
    const char* name;
    const char* sound_seconds;  // of the first input's silence, beside 3 s of pictures
    bool decoded;
  } cases[] = {{"longer", "3.3", true}, {"shorter", "2.7", false}, {"even", "3", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string first = test::make_media(
        work_, std::string(c.name) + ".mp4",
        std::string("-f lavfi -t 3 -i testsrc2=size=160x120:rate=30 -f lavfi -t ") + c.sound_seconds +
            " -i anullsrc=r=48000:cl=mono -c:v libx264 -c:a aac");
    ASSERT_FALSE(first.empty());
    const std::string out = work_.path(std::string(c.name) + "-joined.mp4");
    test::RunResult r = join({first, tone, out}, {"--quiet", "--verify"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::probe_errors(out), "");
    // The second input's first sound sample past its priming, found by its
    // bytes, presents within one sound frame (1024 samples) of 3 s.
    const test::LibraryTrack sound = tracks_of(out)[1], second = tracks_of(tone)[1];
    ASSERT_FALSE(second.packets.empty());
    size_t at = 1;
    while (at < sound.packets.size() && sound.packets[at].md5 != second.packets[0].md5) ++at;
    ASSERT_LT(at, sound.packets.size());
    const int64_t media = sound.packets[at].dts + sound_edits(tone)[0].media_time;
    EXPECT_NEAR(presented_at(sound_edits(out), movie_timescale(out), sound.timescale, media), 3.0, 1024.0 / 48000);
    // Heard there too, where the decoder follows the edits (it skips an
    // empty edit between others).
    if (c.decoded) {
      EXPECT_NEAR(first_sound_at(out), 3.0, 1024.0 / 48000);
    }
    EXPECT_EQ(frame_hashes(out), concat_hashes({first, tone}));
  }
}

// What --verify is handed for a join of two whole inputs: each track's
// samples input by input as the join took them, each input's one entry
// under the output's description of it (the second's own when the output
// has two).
struct JoinCheck {
  std::vector<std::string> names;
  std::vector<const void*> inputs;
  std::vector<VerifySegment> segments;
  std::vector<uint32_t> map;
  VerifyJoin join{};

  bool make(const std::vector<std::string>& from, const std::string& out) {
    names = from;
    for (const std::string& n : names) inputs.push_back(n.c_str());
    const std::vector<test::LibraryTrack> joined = tracks_of(out);
    OpenParams params{};
    params.routines = std_routines();
    params.path = out.c_str();
    MediaFile* file = nullptr;
    if (names.size() != 2 || media_open(&file, &params, kOpenRead) != ErrorCode::Ok) return false;
    for (uint32_t track = 0; track < joined.size(); ++track) {
      TrackInfo info{};
      if (track_info(file, joined[track].track_id, &info) != ErrorCode::Ok) break;
      for (uint32_t k = 0; k < 2; ++k) {
        const test::LibraryTrack t = tracks_of(names[k])[track];
        const auto count = static_cast<uint32_t>(t.packets.size());
        const auto at = static_cast<uint32_t>(map.size() + 1);
        map.push_back(1);
        map.push_back(k == 1 && info.entry_count == 2 ? 2 : 1);
        segments.push_back(
            VerifySegment{track, k, SampleSource{nullptr, t.track_id, count, 0, count, 0, 0, 0, at, 0, 0, 0}});
      }
    }
    media_close(file);
    join = VerifyJoin{inputs.data(), 2, segments.data(), static_cast<uint32_t>(segments.size()), map.data(),
                      static_cast<uint32_t>(map.size())};
    return segments.size() == 2 * joined.size();
  }
};

// The check of a joined movie's sound edits: the second input's sound
// shown a tenth of a second early (its gap shortened) is found out of place.
TEST_F(Join, VerifyHoldsSoundEditsToTheirRule) {
  const std::string made = "-f lavfi -t 3 -i testsrc2=size=160x120:rate=30 -f lavfi -t ";
  const std::string first =
      test::make_media(work_, "short.mp4", made + "2.7 -i anullsrc=r=48000:cl=mono -c:v libx264 -c:a aac");
  const std::string second =
      test::make_media(work_, "tone.mp4", made + "3 -i sine=sample_rate=48000 -c:v libx264 -c:a aac");
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  const std::string out = work_.path("joined.mp4");
  ASSERT_EQ(join({first, second, out}, {"--quiet"}).status, 0);
  JoinCheck check;
  ASSERT_TRUE(check.make({first, second}, out));
  const std::string written = test::slurp(out);
  const std::string gap("\0\0\x01\x2c\xff\xff\xff\xff", 8);  // an empty edit of 300 ms
  ASSERT_EQ(written.find(gap), written.rfind(gap));
  ASSERT_NE(written.find(gap), std::string::npos);
  const struct {
    uint32_t gap_ms;
    ErrorCode verdict;
  } cases[] = {{300, ErrorCode::Ok}, {200, ErrorCode::Differs}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.gap_ms);
    std::string bytes = written;
    const size_t at = bytes.find(gap);
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(c.gap_ms >> (24 - 8 * i));
    const std::string path = work_.path("checked.mp4");
    ASSERT_TRUE(write_file(path, bytes));
    const char* outputs[] = {path.c_str()};
    VerifyReport report{};
    EXPECT_EQ(verify_remux(first.c_str(), outputs, 1, nullptr, nullptr, 0, &report, nullptr, 0, nullptr, &check.join),
              c.verdict);
    if (c.verdict == ErrorCode::Differs) {
      EXPECT_STREQ(report.field, "sound placement (edit list)");
    }
  }
}

// Each input's sample groups and dependency flags go with its samples: a
// description byte-identical to one already written is shared, another
// joins the written one as an entry of its own.
TEST_F(Join, SampleGroupsOfEveryInputAreCarried) {
  std::vector<std::string> inputs;
  for (const char* made : {"a.mp4 testsrc2 3", "b.mp4 testsrc 2"}) {
    std::string name, source, bframes;
    std::istringstream(made) >> name >> source >> bframes;
    inputs.push_back(test::make_media(
        work_, name,
        "-f lavfi -t 1 -i " + source + "=size=160x120:rate=30 -f lavfi -t 1 -i sine=sample_rate=48000"
        " -pix_fmt yuv420p -c:v libx265 -x265-params bframes=" + bframes + ":log-level=0 -tag:v hvc1 -c:a aac"));
    ASSERT_FALSE(inputs.back().empty());
  }
  // b's sound says each frame needs the two before it: another 'roll' entry.
  std::string b = test::slurp(inputs[1]);
  const size_t roll = b.find(std::string("sgpd\x01\0\0\0roll\0\0\0\x02\0\0\0\x01\xff\xff", 22));
  ASSERT_NE(roll, std::string::npos);
  b[roll + 21] = '\xfe';
  ASSERT_TRUE(write_file(inputs[1], b));
  const std::string out = work_.path("groups.mp4");
  test::RunResult r = join({inputs[0], inputs[1], inputs[0], out}, {"--quiet", "--verify"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Groups a_video = groups_of(inputs[0], 0), b_video = groups_of(inputs[1], 0), video = groups_of(out, 0);
  ASSERT_FALSE(a_video.dependencies.empty());
  EXPECT_EQ(video.dependencies, a_video.dependencies + b_video.dependencies + a_video.dependencies);
  const Groups a_sound = groups_of(inputs[0], 1), b_sound = groups_of(inputs[1], 1), sound = groups_of(out, 1);
  ASSERT_EQ(a_sound.runs.size(), 1u);
  ASSERT_EQ(a_sound.runs[0].size(), 1u);
  ASSERT_EQ(b_sound.runs.size(), 1u);
  ASSERT_EQ(sound.descriptions.size(), 1u);
  const std::string roll_entries("\0\0\0\x02\xff\xff\xff\xfe", 8);  // entry count 2, then -1 and -2
  EXPECT_EQ(sound.descriptions[0].substr(sound.descriptions[0].size() - 8), roll_entries);
  const uint32_t a_count = a_sound.runs[0][0].first, b_count = b_sound.runs[0][0].first;
  ASSERT_EQ(sound.runs.size(), 1u);
  EXPECT_EQ(sound.runs[0], (std::vector<std::pair<uint32_t, uint32_t>>{{a_count, 1}, {b_count, 2}, {a_count, 1}}));
  EXPECT_EQ(frame_hashes(out), concat_hashes({inputs[0], inputs[1], inputs[0]}));
}

TEST_F(Join, ChaptersOfEveryInputFollowOn) {
  const std::string list = work_.path("chapters.txt");
  run_command("printf ';FFMETADATA1\\n[CHAPTER]\\nTIMEBASE=1/1000\\nSTART=0\\nEND=1000\\ntitle=in\\n[CHAPTER]\\n"
              "TIMEBASE=1/1000\\nSTART=1000\\nEND=2000\\ntitle=out\\n' > " + shell_quote(list),
              nullptr);
  std::vector<std::string> inputs;
  for (const char* name : {"one.mp4", "two.mp4"})
    inputs.push_back(test::make_media(work_, name,
                                      "-f lavfi -i testsrc2=size=160x120:rate=30 -i " + shell_quote(list) +
                                          " -map 0 -map_chapters 1 -t 2 -c:v libx264"));
  ASSERT_FALSE(inputs[1].empty());
  const std::string out = work_.path("both.mp4");
  test::RunResult r = join({inputs[0], inputs[1], out}, {"--quiet", "--verify"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string chapters;
  run_command("ffprobe -v error -show_entries chapter=start_time:chapter_tags=title -of csv=p=0 " + shell_quote(out),
              &chapters);
  EXPECT_EQ(chapters, "0.000000,in\n1.000000,out\n2.000000,in\n3.000000,out\n");
  // --verify holds them to that rule: the last one moved to 3.5 s is found.
  JoinCheck check;
  ASSERT_TRUE(check.make(inputs, out));
  std::string bytes = test::slurp(out);
  const std::string three("\0\0\0\0\x01\xc9\xc3\x80", 8), later("\0\0\0\0\x02\x16\x0e\xc0", 8);  // 100 ns units
  ASSERT_NE(bytes.find(three), std::string::npos);
  const char* outputs[] = {out.c_str()};
  VerifyReport report{};
  EXPECT_EQ(verify_remux(inputs[0].c_str(), outputs, 1, nullptr, nullptr, 0, &report, nullptr, 0, nullptr, &check.join),
            ErrorCode::Ok);
  bytes.replace(bytes.find(three), 8, later);
  ASSERT_TRUE(write_file(out, bytes));
  EXPECT_EQ(verify_remux(inputs[0].c_str(), outputs, 1, nullptr, nullptr, 0, &report, nullptr, 0, nullptr, &check.join),
            ErrorCode::Differs);
  EXPECT_STREQ(report.field, "chapters");
}

TEST_F(Join, ImportedInputsJoinToo) {
  const std::string source = test::make_media(
      work_, "src.mp4",
      "-f lavfi -i testsrc2=size=160x120:rate=30 -f lavfi -i sine -t 4 -c:v libx264 -g 60 -c:a aac");
  ASSERT_FALSE(source.empty());
  for (const char* form : {"mkv", "mp4"})
    run_command("ffmpeg -v error -y -i " + shell_quote(source) + " -c copy -f segment -segment_time 2 " +
                    "-reset_timestamps 1 " + shell_quote(work_.path(std::string("p%d.") + form)),
                nullptr);
  const std::string ts = test::make_media(work_, "p0.ts", "-i " + shell_quote(work_.path("p0.mp4")) + " -c copy");
  ASSERT_FALSE(ts.empty());
  // Sound cut from one recording goes on whole; joined out of order, the
  // second part's sound that reaches past its pictures meets the first
  // part's, which starts before its pictures: a few samples give way.
  const struct {
    std::vector<std::string> inputs;
    bool whole_sound;
  } cases[] = {
      {{work_.path("p0.mkv"), work_.path("p1.mkv")}, true},  // two recordings of a live recorder
      {{ts, work_.path("p1.mp4")}, true},                    // another container, another time scale
      {{work_.path("p1.mp4"), ts}, false},
  };
  for (const auto& c : cases) {
    const std::vector<std::string>& inputs = c.inputs;
    SCOPED_TRACE(inputs[0]);
    const std::string out = work_.path("out.mp4");
    std::remove(out.c_str());
    test::RunResult r = join({inputs[0], inputs[1], out}, {"--quiet", "--verify"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(frame_hashes(out), concat_hashes(inputs));
    const std::vector<test::LibraryTrack> joined = tracks_of(out);
    ASSERT_EQ(joined.size(), 2u);
    size_t samples = 0;
    for (const std::string& input : inputs) samples += tracks_of(input)[1].packets.size();
    if (c.whole_sound) {
      EXPECT_EQ(joined[1].packets.size(), samples);
    } else {
      EXPECT_LT(joined[1].packets.size(), samples);
      EXPECT_GE(joined[1].packets.size() + 3, samples);  // 3 frames: 64 ms
    }
  }
}

TEST_F(Join, InputsThatDoNotMatchAreRefused) {
  const std::string av = test::make_media(
      work_, "av.mp4", "-f lavfi -i testsrc2=size=160x120:rate=30 -f lavfi -i sine -t 1 -c:v libx264 -c:a aac");
  const std::string ac3 = test::make_media(
      work_, "ac3.mp4", "-f lavfi -i testsrc2=size=160x120:rate=30 -f lavfi -i sine -t 1 -c:v libx264 -c:a ac3");
  const std::string silent =
      test::make_media(work_, "silent.mp4", "-f lavfi -i testsrc2=size=160x120:rate=30 -t 1 -c:v libx264");
  const std::string turned =
      test::make_media(work_, "turned.mp4", "-i " + shell_quote(av) + " -c copy -metadata:s:v:0 rotate=90");
  // A later input cut short is named as the first would be.
  const std::string whole =
      test::make_media(work_, "whole.mp4", "-i " + shell_quote(av) + " -c copy -movflags +faststart");
  const std::string cut = work_.path("cut.mp4");
  const std::string bytes = test::slurp(whole);
  ASSERT_GT(bytes.size(), 4000u);
  ASSERT_TRUE(write_file(cut, bytes.substr(0, bytes.size() - 3000)));
  struct Case {
    std::string second;
    const char* said;
  };
  const Case cases[] = {
      {ac3, "track 2 has another codec"},
      {turned, "track 1 is rotated"},
      {silent, "track 2 has no counterpart"},
      {cut, "is truncated"},
  };
  // With --salvage it is carried, and the warning names it.
  test::RunResult salvaged = join({av, cut, work_.path("salvaged.mp4")}, {"--salvage"});
  EXPECT_EQ(salvaged.status, 0) << salvaged.err;
  EXPECT_NE(salvaged.err.find("'" + cut + "' is truncated"), std::string::npos) << salvaged.err;
  for (const Case& c : cases) {
    const std::string out = work_.path("refused.mp4");
    test::RunResult r = join({av, c.second, out});
    EXPECT_EQ(r.status, 1) << c.said;
    EXPECT_NE(r.err.find("'" + c.second + "'"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_TRUE(test::slurp(out).empty()) << c.said;
  }
}

TEST_F(Join, CameraChapterSetFoundFromItsFirstFile) {
  // Chapters 1 to 3 of recording 0001, and a chapter 5 after the gap.
  const char* const names[] = {"GX010001.MP4", "GX020001.MP4", "GX030001.MP4", "GX050001.MP4"};
  for (int k = 0; k < 4; ++k)
    run_command("cp " + shell_quote((*parts_)[k % 3]) + " " + shell_quote(work_.path(names[k])), nullptr);
  const std::string out = work_.path("recording.mp4");
  test::RunResult r = test::run_program(work_, {"--join", work_.path(names[0]), out});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("with the 2 chapters after it: '" + work_.path(names[1]) + "' '" + work_.path(names[2]) + "'"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(frame_hashes(out), concat_hashes(*parts_));
  // The last chapter alone has none after it; a name of another scheme is a usage error.
  r = test::run_program(work_, {"--join", work_.path(names[2]), work_.path("none.mp4")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("GX040001.MP4"), std::string::npos) << r.err;
  EXPECT_EQ(test::run_program(work_, {"--join", (*parts_)[0], work_.path("none.mp4")}).status, 2);
}

TEST_F(Join, CommandLinesThatCannotJoin) {
  const std::string& a = (*parts_)[0];
  const std::string& b = (*parts_)[1];
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string said;
  };
  const std::string out = work_.path("out.mp4");
  const Case cases[] = {
      {{"--join", a, out}, 2, "two or more inputs"},
      {{"--join-chapters", a, out}, 2, "--join-chapters goes with --join"},
      {{"--join", "--range", "1-2", "--split-duration", "1", a, b, out}, 2, "'1-2'"},
      {{"--join", a, "-", out}, 2, "standard input"},
      {{"--join", a, b, b}, 1, "it is the input file '" + b + "'"},
      {{"--join", a, b, a}, 1, "it is the input file '" + a + "'"},
      {{"--join", a, b, work_.path("missing.mp4"), out}, 1, "missing.mp4"},
  };
  for (const Case& c : cases) {
    test::RunResult r = test::run_program(work_, c.args);
    EXPECT_EQ(r.status, c.status) << c.said;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  }
  EXPECT_TRUE(test::slurp(out).empty());
}

}  // namespace
}  // namespace vantorel
