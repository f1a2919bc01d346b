// Planned reads: each group's samples read by input range, straight into the
// block they are written from, must give the very bytes of the per-sample
// path, whole files and split parts alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/output_namer.h"
#include "app/posix_routines.h"
#include "app/run_state.h"
#include "mediafile/writer_support.h"
#include "remux/read_plan.h"
#include "remux/remux.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

// The room an output asked for ahead of its writes, and where it stood then.
struct Reservation {
  uint64_t size;
  uint64_t at;
};

struct RemuxRun {
  ErrorCode result = ErrorCode::BadArgument;
  std::vector<std::vector<uint8_t>> parts;
  std::vector<Reservation> reservations;
};

// How the planned path gets its bytes: read scattered (the platform's
// way), or, the platform reading no pieces, through the staging copy.
enum class Reads { Scattered, Staged };

// Positional reads the remux made of its input, counted through the platform's own.
uint32_t g_reads = 0;
ErrorCode counted_read_at(void* handle, uint64_t position, void* buffer, uint32_t count, void* user) {
  ++g_reads;
  return app::posix_routines().read_at(handle, position, buffer, count, user);
}
ErrorCode counted_read_pieces_at(void* handle, uint64_t position, const IoPiece* pieces, uint32_t count, void* user) {
  ++g_reads;
  return app::posix_routines().read_pieces_at(handle, position, pieces, count, user);
}

// Writes of a window's size or more, and those of them whose bytes took
// another place in their pages than in the output's (which costs the
// system a second copy a page).
struct LargeWrites {
  uint32_t count = 0;
  uint32_t misplaced = 0;
};
LargeWrites g_large_writes;
void note_write(void* handle, const void* buffer, uint64_t count, void* user) {
  uint64_t at = 0;
  if (count < 256 * 1024 || app::posix_routines().tell(handle, &at, user) != ErrorCode::Ok) return;
  ++g_large_writes.count;
  if ((reinterpret_cast<uintptr_t>(buffer) - at) % 4096 != 0) ++g_large_writes.misplaced;
}
ErrorCode noted_write(void* handle, const void* buffer, uint32_t count, void* user) {
  note_write(handle, buffer, count, user);
  return app::posix_routines().write(handle, buffer, count, user);
}
ErrorCode noted_write_pieces(void* handle, const IoConstPiece* pieces, uint32_t count, void* user) {
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) total += pieces[i].count;
  if (count > 0) note_write(handle, pieces[0].buffer, total, user);
  return app::posix_routines().write_pieces(handle, pieces, count, user);
}

std::vector<Reservation> g_reservations;
ErrorCode noted_reserve(void* handle, uint64_t size, void* user) {
  uint64_t at = UINT64_MAX;
  EXPECT_EQ(app::posix_routines().tell(handle, &at, user), ErrorCode::Ok);
  g_reservations.push_back(Reservation{size, at});
  return app::posix_routines().reserve(handle, size, user);
}

RemuxRun remux_with(const std::string& in, const std::string& out, uint32_t split_mode, uint64_t limit,
                    uint32_t per_sample, Reads reads = Reads::Scattered) {
  RemuxRun run;
  app::RunState state{};
  app::run_state_init(&state, in.c_str(), out.c_str(), nullptr);
  RemuxOptions options{};
  options.split = SplitOptions{static_cast<SplitMode>(split_mode), &limit, split_mode != kSplitNone ? 1u : 0u, false};
  options.fixed_time_set = true;
  options.fixed_time = 1700000000;
  options.per_sample = per_sample != 0;
  IoRoutines routines = app::posix_routines();
  routines.read_at = counted_read_at;
  routines.read_pieces_at = reads == Reads::Staged ? nullptr : counted_read_pieces_at;
  routines.write = noted_write;
  routines.write_pieces = noted_write_pieces;
  routines.reserve = noted_reserve;
  g_reservations.clear();
  run.result = remux_run(in.c_str(), app::output_namer, &routines, &options, nullptr, &state, nullptr);
  run.reservations = g_reservations;
  for (int32_t k = 0; k < state.names.counter; ++k) {
    char* name = app::output_part_name(out.c_str(), k);
    run.parts.push_back(read_whole_file(name));
    std::free(name);
  }
  app::run_state_release(&state);
  return run;
}

TEST(PlannedReads, SameBytesAsThePerSamplePath) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  struct Input {
    const char* name;
    const char* args;
  };
  const Input inputs[] = {
      // H.264 with B-frames and AAC, interleaved as ffmpeg writes them.
      {"avc.mp4",
       "-f lavfi -i testsrc=size=160x120:rate=25:duration=12 -f lavfi -i sine=frequency=440:duration=12 "
       "-c:v libx264 -bf 2 -g 50 -c:a aac -b:a 64k"},
      // Large frames: the window's runs are long enough to be read scattered.
      {"large.mp4",
       "-f lavfi -i testsrc2=size=640x480:rate=25:duration=6 -f lavfi -i sine=frequency=440:duration=6 "
       "-c:v mpeg4 -q:v 2 -g 50 -c:a aac -b:a 64k"},
      // MPEG-4 Visual with big-endian PCM, whose tables count frames.
      {"pcm.mov",
       "-f lavfi -i testsrc=size=160x120:rate=25:duration=8 -f lavfi -i sine=frequency=440:duration=8 "
       "-c:v mpeg4 -g 25 -c:a pcm_s16be"},
  };
  struct Mode {
    const char* name;
    uint32_t split_mode;
    uint64_t limit;
    bool several;
  };
  const Mode modes[] = {{"whole", kSplitNone, 0, false},
                        {"split by size", kSplitBySize, 100 * 1024, true},
                        {"split by duration", kSplitByDuration, 3000, true}};
  for (const Input& input : inputs) {
    std::string in = make_media(dir, input.name, input.args, &error);
    ASSERT_FALSE(in.empty()) << error;
    for (const Mode& mode : modes) {
      SCOPED_TRACE(std::string(input.name) + ", " + mode.name);
      RemuxRun per_sample = remux_with(in, dir.path("a.mp4"), mode.split_mode, mode.limit, 1);
      ASSERT_EQ(per_sample.result, ErrorCode::Ok);
      EXPECT_EQ(per_sample.parts.size() > 1, mode.several);
      // Each part asks for its room once, before its first byte, and the
      // measuring pass knew its size exactly.
      ASSERT_EQ(per_sample.reservations.size(), per_sample.parts.size());
      for (size_t k = 0; k < per_sample.parts.size(); ++k) {
        EXPECT_EQ(per_sample.reservations[k].size, per_sample.parts[k].size()) << "part " << k;
        EXPECT_EQ(per_sample.reservations[k].at, 0u) << "part " << k;
      }
      for (Reads reads : {Reads::Scattered, Reads::Staged}) {
        SCOPED_TRACE(reads == Reads::Scattered ? "scattered reads" : "staged reads");
        RemuxRun planned = remux_with(in, dir.path("b.mp4"), mode.split_mode, mode.limit, 0, reads);
        ASSERT_EQ(planned.result, ErrorCode::Ok);
        ASSERT_EQ(planned.parts.size(), per_sample.parts.size());
        for (size_t k = 0; k < planned.parts.size(); ++k) {
          EXPECT_FALSE(planned.parts[k].empty());
          EXPECT_TRUE(planned.parts[k] == per_sample.parts[k]) << "part " << k;
        }
      }
    }
  }
}

// A group of pictures larger than the write window (one key frame in 8 s of
// large pictures: about 10 MB) is read in one go, its sound too: across two
// windows the sound, a chunk after the pictures, was read a sample at a time
// from between pictures read already.
TEST(PlannedReads, AGroupLargerThanTheWindowIsReadAtOnce) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string in = make_media(dir, "gop.mp4",
                              "-f lavfi -i testsrc2=size=1280x720:rate=25:duration=8 -f lavfi -i "
                              "sine=frequency=440:duration=8 -c:v mpeg4 -q:v 1 -g 250 -c:a aac -b:a 64k",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  const size_t in_size = read_whole_file(in).size();
  ASSERT_GT(in_size, size_t{kWindowBytes} * 2);
  RemuxRun per_sample = remux_with(in, dir.path("a.mp4"), kSplitNone, 0, 1);
  ASSERT_EQ(per_sample.result, ErrorCode::Ok);
  g_reads = 0;
  g_large_writes = {};
  RemuxRun planned = remux_with(in, dir.path("b.mp4"), kSplitNone, 0, 0);
  ASSERT_EQ(planned.result, ErrorCode::Ok);
  // 200 pictures and about 375 sound frames: a call a megabyte or so, not one a sample.
  EXPECT_LE(g_reads, in_size / (1u << 20) + 4);
  // The window's bytes lie in their pages as they lie in the output's.
  EXPECT_GE(g_large_writes.count, in_size / (1u << 20) / 2);
  EXPECT_EQ(g_large_writes.misplaced, 0u);
  ASSERT_EQ(planned.parts.size(), 1u);
  EXPECT_TRUE(planned.parts[0] == per_sample.parts[0]);
}

// Tracks converted at import are laid out by the library: bytes it makes
// (lengths, held text) go into the window, byte-swapped PCM is swapped once
// read. The result must be the per-sample path's, byte for byte.
TEST(PlannedReads, ConvertedTracksSameBytesAsThePerSamplePath) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  {
    std::ofstream srt(dir.path("cues.srt"));
    srt << "1\n00:00:00,500 --> 00:00:01,500\nOne\n\n2\n00:00:02,000 --> 00:00:03,250\n<i>Two</i>\n\n";
  }
  struct Input {
    const char* name;
    std::string args;
  };
  const Input inputs[] = {
      // Little-endian 16-bit PCM: swapped into 'twos'.
      {"pcm.avi",
       "-f lavfi -i testsrc=size=160x120:rate=25:duration=6 -f lavfi -i sine=frequency=440:duration=6 "
       "-c:v mpeg4 -g 25 -c:a pcm_s16le"},
      // H.264 in start codes: each NAL unit given a length.
      {"avc.avi",
       "-f lavfi -i testsrc=size=160x120:rate=25:duration=6 -f lavfi -i sine=frequency=440:duration=6 "
       "-c:v libx264 -bf 0 -g 50 -c:a libmp3lame"},
      // Text cues: box headers held in memory around the file's text.
      {"text.mkv",
       "-f lavfi -i testsrc=size=160x120:rate=25:duration=4 -i " + dir.path("cues.srt") +
           " -map 0 -map 1 -c:v libx264 -g 50 -c:s srt"},
  };
  for (const Input& input : inputs) {
    SCOPED_TRACE(input.name);
    std::string in = make_media(dir, input.name, input.args, &error);
    ASSERT_FALSE(in.empty()) << error;
    for (uint64_t limit : {uint64_t{0}, uint64_t{60 * 1024}}) {
      const uint32_t mode = limit == 0 ? kSplitNone : kSplitBySize;
      RemuxRun per_sample = remux_with(in, dir.path("a.mp4"), mode, limit, 1);
      ASSERT_EQ(per_sample.result, ErrorCode::Ok);
      for (Reads reads : {Reads::Scattered, Reads::Staged}) {
        SCOPED_TRACE(reads == Reads::Scattered ? "scattered reads" : "staged reads");
        RemuxRun planned = remux_with(in, dir.path("b.mp4"), mode, limit, 0, reads);
        ASSERT_EQ(planned.result, ErrorCode::Ok);
        ASSERT_EQ(planned.parts.size(), per_sample.parts.size());
        for (size_t k = 0; k < planned.parts.size(); ++k) {
          EXPECT_FALSE(planned.parts[k].empty());
          EXPECT_TRUE(planned.parts[k] == per_sample.parts[k]) << "part " << k;
        }
      }
    }
  }
}

// A small picture track in a file being made: its id, 0 when refused.
uint32_t add_picture_track(MediaFile* file) {
  TrackSpec wanted{};
  wanted.kind = kKindH263;
  wanted.width = 64;
  wanted.height = 48;
  wanted.timescale = 1000;
  return media_add_track(file, &wanted);
}

// A large window read scattered passes through a ring: reads due within
// the ring's length of what is written land in it (wrapping at its end),
// reads due further ahead in their own places, and the window goes out in
// its order all the same. The window: a sound range, then 24 pictures whose
// input order swaps each pair; the sound lies in the input before the
// pictures, among them, or after them (then every picture past the ring's
// length is due far ahead of what is written, which waits for the sound).
TEST(PlannedReads, AWindowReadThroughTheRingKeepsItsOrder) {
  TempDir dir;
  constexpr uint32_t kPictures = 24;
  constexpr uint32_t kPicture = 200000;
  constexpr uint32_t kSound = 65536;
  // An input whose bytes differ everywhere: its samples are the ranges read.
  const std::string in = dir.path("in.mp4");
  {
    MediaFile* file = create_file(in);
    ASSERT_NE(file, nullptr);
    const uint32_t id = add_picture_track(file);
    ASSERT_NE(id, 0u);
    for (uint32_t k = 0; k < kPictures + 2; ++k) {
      const Bytes data = pattern(kPicture, static_cast<uint8_t>(k + 1));
      SampleWrite w = sample_of(data, 40);
      ASSERT_EQ(write_sample(file, id, &w), ErrorCode::Ok);
    }
    ASSERT_EQ(media_close(file), ErrorCode::Ok);
  }
  const std::vector<uint8_t> input = read_whole_file(in);
  ASSERT_GT(input.size(), size_t{kPictures} * kPicture + kSound);
  for (uint32_t sound_after : {0u, 12u, kPictures}) {
    SCOPED_TRACE("sound after picture " + std::to_string(sound_after));
    // The window's reads in window order, and the bytes the window must hold.
    std::vector<PlannedRead> reads;
    const uint64_t sound_at = uint64_t{sound_after} * kPicture;
    reads.push_back(PlannedRead{sound_at, kSound, 0});
    for (uint32_t i = 0; i < kPictures; ++i) {
      const uint32_t slot = i ^ 1u;  // input order swaps each pair
      const uint64_t offset = uint64_t{slot} * kPicture + (slot >= sound_after ? kSound : 0);
      reads.push_back(PlannedRead{offset, kPicture, kSound + i * kPicture});
    }
    std::vector<uint8_t> expected;
    for (const PlannedRead& r : reads)
      expected.insert(expected.end(), input.begin() + static_cast<std::ptrdiff_t>(r.offset),
                      input.begin() + static_cast<std::ptrdiff_t>(r.offset + r.size));

    OpenParams params{};
    params.routines = app::posix_routines();
    params.path = in.c_str();
    MediaFile* source = nullptr;
    ASSERT_EQ(media_open(&source, &params, kOpenRead), ErrorCode::Ok);
    const std::string out = dir.path("out.mp4");
    MediaFile* output = create_file(out);
    ASSERT_NE(output, nullptr);
    const uint32_t id = add_picture_track(output);
    ASSERT_NE(id, 0u);

    StreamContext stream{Pass::Write, app::posix_routines(), nullptr};
    ReadPlan plan{};
    plan.input = source;
    plan.stream = &stream;
    plan.window_size = static_cast<uint32_t>(expected.size()) + (1u << 20);
    plan.window_block = static_cast<uint8_t*>(std::malloc(plan.window_size));
    ASSERT_NE(plan.window_block, nullptr);
    plan.window = plan.window_block;
    for (const PlannedRead& r : reads) {
      SampleWrite w{};
      w.size = r.size;
      w.duration = 40;
      w.flags = kSampleSync;
      ASSERT_EQ(record_sample(output, id, &w), ErrorCode::Ok);
      ASSERT_EQ(plan.reads.append(r), ErrorCode::Ok);
      plan.window_used += r.size;
    }
    EXPECT_EQ(read_plan_flush_window(&plan, output), ErrorCode::Ok);
    read_plan_release(&plan);
    EXPECT_EQ(media_close(output), ErrorCode::Ok);
    EXPECT_EQ(media_close(source), ErrorCode::Ok);

    const std::vector<uint8_t> written = read_whole_file(out);
    EXPECT_NE(std::search(written.begin(), written.end(), expected.begin(), expected.end()), written.end());
  }
}

// Recorded samples owe their bytes: nothing else may be written before
// them, no more than owed may be paid, and a file closed owing fails.
TEST(PlannedReads, RecordedSamplesOweTheirBytes) {
  TempDir dir;
  struct Case {
    const char* what;
    uint32_t paid;
    bool write_after;
    ErrorCode pay_result;
    ErrorCode close_result;
  };
  const Case cases[] = {
      {"paid in full", 20, false, ErrorCode::Ok, ErrorCode::Ok},
      {"paid in part", 12, false, ErrorCode::Ok, ErrorCode::Overrun},
      {"paid too much", 21, false, ErrorCode::BadArgument, ErrorCode::Overrun},
      {"a sample written before paying", 0, true, ErrorCode::Ok, ErrorCode::Overrun},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MediaFile* file = create_file(dir.path("owed.mp4"));
    ASSERT_NE(file, nullptr);
    uint32_t id = add_picture_track(file);
    ASSERT_NE(id, 0u);
    Bytes data = pattern(21, 3);
    SampleWrite w = sample_of(Bytes(data.begin(), data.begin() + 10), 40);
    w.data = nullptr;
    ASSERT_EQ(record_sample(file, id, &w), ErrorCode::Ok);
    ASSERT_EQ(record_sample(file, id, &w), ErrorCode::Ok);
    if (c.write_after) {
      SampleWrite direct = sample_of(data, 40);
      EXPECT_EQ(write_sample(file, id, &direct), ErrorCode::BadArgument);
    }
    if (c.paid > 0) {
      EXPECT_EQ(write_recorded_bytes(file, data.data(), c.paid), c.pay_result);
    }
    EXPECT_EQ(media_close(file), c.close_result);
  }
}

}  // namespace
}  // namespace vantorel
