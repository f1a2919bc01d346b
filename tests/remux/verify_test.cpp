// Reading outputs back: a remux's outputs verify against their input, and an
// output changed by one byte, one duration, one sync flag or one tag does not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/platform.h"
#include "mediafile/media_file.h"
#include "meta/tags.h"
#include "remux/verify.h"
#include "remux/verify_reader.h"
#include "sampletables/stss.h"
#include "sampletables/stts.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

ErrorCode verify(const std::string& in, const std::vector<std::string>& outputs, VerifyReport* report,
                 const IoRoutines* routines = nullptr) {
  std::vector<const char*> names;
  for (const std::string& o : outputs) names.push_back(o.c_str());
  return verify_remux(in.c_str(), names.data(), static_cast<uint32_t>(names.size()), routines, nullptr, 0, report);
}

// Opens `path` for updating, lets `change` alter it, closes it.
void update(const std::string& path, const std::function<void(MediaFile*)>& change) {
  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  ASSERT_EQ(media_open(&file, &params, kOpenUpdate), ErrorCode::Ok);
  change(file);
  ASSERT_EQ(media_close(file), ErrorCode::Ok);
}

TEST(Verify, RemuxedFilesVerifyWholeAndSplit) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  struct Case {
    const char* file;
    std::string args;
    std::vector<std::string> extra;  // options of the remux
  };
  const std::string video = "-f lavfi -i testsrc=size=64x64:rate=10:duration=4 ";
  const std::string audio = "-f lavfi -i sine=duration=4 ";
  const Case cases[] = {
      {"bframes.mp4", video + audio + "-c:v mpeg4 -bf 2 -g 10 -c:a aac -metadata title=T", {}},
      {"bframes-split.mp4", video + audio + "-c:v mpeg4 -bf 2 -g 10 -c:a aac", {"--split-duration", "1.5"}},
      {"pcm.mov", video + audio + "-c:v mjpeg -c:a pcm_s16le", {}},
      {"packed.avi", video + audio + "-c:v mpeg4 -bf 2 -c:a libmp3lame", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string in = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(in.empty()) << error;
    std::string out = dir.path(std::string("out-") + c.file + ".mp4");
    std::vector<std::string> args = c.extra;
    args.insert(args.begin(), "--verify");
    args.push_back(in);
    args.push_back(out);
    RunResult r = run_program(dir, args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("verified: 2 tracks, "), std::string::npos) << r.out;
  }
  RunResult info = run_program(dir, {"--info", "--verify", dir.path("bframes.mp4")});
  EXPECT_EQ(info.status, 2);
}

TEST(Verify, OneChangeIsFoundAndNamed) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string in = make_media(dir, "in.mp4",
                              "-f lavfi -i testsrc=size=64x64:rate=10:duration=2 -c:v mpeg4 -g 5 -metadata title=Kept",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  std::string out = dir.path("out.mp4");
  ASSERT_EQ(run_program(dir, {in, out}).status, 0);
  for (const IoRoutines* routines : {&std_routines(), &app::platform_routines()}) {
    VerifyReport report{};
    ASSERT_EQ(verify(in, {out}, &report, routines), ErrorCode::Ok);
    EXPECT_EQ(report.tracks, 1u);
    EXPECT_EQ(report.samples, 20u);
  }

  struct Case {
    const char* field;
    uint32_t sample;  // 0: not a sample's
    std::function<void(const std::string&)> change;
  };
  const Case cases[] = {
      {"data", 7,
       [&](const std::string& path) {
         // The seventh frame's bytes, found in the file and changed by one bit.
         std::vector<uint8_t> frame;
         OpenParams params{};
         params.routines = std_routines();
         params.path = path.c_str();
         MediaFile* f = nullptr;
         ASSERT_EQ(media_open(&f, &params, kOpenRead), ErrorCode::Ok);
         std::vector<uint8_t> buffer(1 << 20);
         SampleRead s{};
         for (int i = 0; i < 7; ++i) {
           s = SampleRead{};
           s.buffer = buffer.data();
           s.capacity = static_cast<uint32_t>(buffer.size());
           ASSERT_EQ(read_next_sample(f, 1, &s), ErrorCode::Ok);
         }
         frame.assign(buffer.begin(), buffer.begin() + s.size);
         media_close(f);
         std::vector<uint8_t> bytes = read_whole_file(path);
         auto at = std::search(bytes.begin(), bytes.end(), frame.begin(), frame.end());
         ASSERT_NE(at, bytes.end());
         at[static_cast<long>(frame.size() / 2)] ^= 0x10;
         std::FILE* w = std::fopen(path.c_str(), "wb");
         std::fwrite(bytes.data(), 1, bytes.size(), w);
         std::fclose(w);
       }},
      {"duration", 4,
       [&](const std::string& path) {
         update(path, [](MediaFile* f) {
           auto* stts = track_record<TimeToSampleTable>(find_track(f->root, 1), BoxTypeId::Stts);
           ASSERT_NE(stts, nullptr);
           // Sample 4 lasts one tick longer.
           TimeToSampleEntry run = stts->entries[0];
           ASSERT_GE(run.sample_count, 5u);
           stts->entries.release();
           ASSERT_EQ(stts->entries.append({3, run.sample_delta}), ErrorCode::Ok);
           ASSERT_EQ(stts->entries.append({1, run.sample_delta + 1}), ErrorCode::Ok);
           ASSERT_EQ(stts->entries.append({run.sample_count - 4, run.sample_delta}), ErrorCode::Ok);
         });
       }},
      {"sync", 6,
       [&](const std::string& path) {
         update(path, [](MediaFile* f) {
           auto* stss = track_record<SyncSampleTable>(find_track(f->root, 1), BoxTypeId::Stss);
           ASSERT_NE(stss, nullptr);
           ASSERT_GE(stss->samples.count, 2u);
           ASSERT_EQ(stss->samples[1], 6u);  // every fifth frame from the first
           stss->samples.remove_at(1);
         });
       }},
      {"metadata", 0,
       [&](const std::string& path) {
         update(path, [](MediaFile* f) { ASSERT_EQ(remove_tag(f, "title", kMovieTags), ErrorCode::Ok); });
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    std::string changed = dir.path(std::string("changed-") + c.field + ".mp4");
    run_command("cp " + shell_quote(out) + " " + shell_quote(changed), nullptr);
    c.change(changed);
    // Read through the standard and the platform's routines.
    for (const IoRoutines* routines : {&std_routines(), &app::platform_routines()}) {
      VerifyReport r{};
      ASSERT_EQ(verify(in, {changed}, &r, routines), ErrorCode::Differs);
      EXPECT_STREQ(r.field, c.field);
      EXPECT_EQ(r.sample, c.sample);
      EXPECT_EQ(r.track_id, c.sample != 0 ? 1u : 0u);
    }
  }
}

// An input larger than verify's read window, so that the window moves on.
std::string make_large(TempDir& dir, std::string* error) {
  return make_media(dir, "large.mp4",
                    "-f lavfi -i testsrc2=size=640x360:rate=25:duration=8 -f lavfi -i sine=duration=8 "
                    "-c:v mpeg4 -q:v 1 -g 25 -c:a aac",
                    error);
}

TEST(Verify, TheReadWindowGivesTheFilesBytes) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string in = make_large(dir, &error);
  ASSERT_FALSE(in.empty()) << error;
  const std::vector<uint8_t> bytes = read_whole_file(in);
  constexpr uint64_t kWindow = VerifyReader::kWindowBytes, kKeep = VerifyReader::kWindowKeep;
  ASSERT_GT(bytes.size(), kWindow + kKeep + 4096) << "the input no longer outgrows the window";
  const uint64_t size = bytes.size();
  struct Step {
    uint64_t offset;
    uint32_t n;
    bool seen;  // else null: read alone
  };
  const Step steps[] = {
      {0, 100, true},
      {kWindow - 50, 100, true},                 // past the end: moves on, keeping what lies behind
      {kWindow - 50 - kKeep + 10, 1000, true},   // in the part kept
      {kWindow - 50 - kKeep - 10, 10, false},    // behind the window: it does not turn back
      {kWindow, static_cast<uint32_t>(kWindow) + 1, false},  // larger than the window
      {kWindow + 10, 0, false},
      {size - 10, 10, true},                     // far ahead: nothing kept
      {size - 10, 11, false},                    // past the file's end
      {size - 20, 20, true},
  };
  VerifyReader reader;
  ASSERT_EQ(reader.open(in.c_str(), nullptr, nullptr), ErrorCode::Ok);
  for (const Step& step : steps) {
    SCOPED_TRACE(step.offset);
    const uint8_t* p = reader.seen(step.offset, step.n);
    ASSERT_EQ(p != nullptr, step.seen);
    if (p != nullptr) {
      EXPECT_EQ(std::memcmp(p, bytes.data() + step.offset, step.n), 0);
    }
  }
}

TEST(Verify, ChangesPastTheFirstReadWindowAreFound) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string in = make_large(dir, &error);
  ASSERT_FALSE(in.empty()) << error;
  std::string out = dir.path("out.mp4");
  ASSERT_EQ(run_program(dir, {in, out}).status, 0);
  for (const IoRoutines* routines : {&std_routines(), &app::platform_routines()}) {
    VerifyReport report{};
    ASSERT_EQ(verify(in, {out}, &report, routines), ErrorCode::Ok);
    EXPECT_EQ(report.tracks, 2u);
  }
  struct Case {
    uint32_t track;
    uint32_t sample;  // 1-based
  };
  // A picture and a sound sample beyond the first window, and the last picture.
  const Case cases[] = {{1, 140}, {2, 300}, {1, 200}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "track " << c.track << " sample " << c.sample);
    uint64_t offset = 0;
    uint32_t size = 0;
    OpenParams params{};
    params.routines = std_routines();
    params.path = out.c_str();
    MediaFile* f = nullptr;
    ASSERT_EQ(media_open(&f, &params, kOpenRead), ErrorCode::Ok);
    for (uint32_t i = 0; i < c.sample; ++i) {
      SampleRead s{};
      ASSERT_EQ(locate_next_sample(f, c.track, &s, &offset), ErrorCode::Ok);
      size = s.size;
    }
    media_close(f);
    ASSERT_GT(offset, VerifyReader::kWindowBytes);
    std::vector<uint8_t> bytes = read_whole_file(out);
    bytes[offset + size / 2] ^= 0x01;
    std::string changed = dir.path("changed.mp4");
    std::FILE* w = std::fopen(changed.c_str(), "wb");
    ASSERT_NE(w, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), w);
    std::fclose(w);
    for (const IoRoutines* routines : {&std_routines(), &app::platform_routines()}) {
      VerifyReport r{};
      ASSERT_EQ(verify(in, {changed}, &r, routines), ErrorCode::Differs);
      EXPECT_STREQ(r.field, "data");
      EXPECT_EQ(r.track_id, c.track);
      EXPECT_EQ(r.sample, c.sample);
    }
  }
}

}  // namespace
}  // namespace vantorel
