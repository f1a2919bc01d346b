// Fragmented files made by ffmpeg, read with the library and compared with
// ffprobe's packets, and their fragment offsets checked against the bytes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "boxes/box_tree.h"
#include "io/byte_io.h"
#include "mediafile/media_file.h"
#include "sampletables/stco.h"
#include "support/compare.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

const char* kInputs =
    "-f lavfi -i testsrc=size=160x120:rate=25:duration=3 -f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 "
    "-c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p -c:a aac -ac 2 ";

struct FragmentCase {
  const char* name;
  const char* file;
  const char* options;
};

const FragmentCase kCases[] = {
    {"keyframe fragments, empty movie", "empty_moov.mp4", "-movflags frag_keyframe+empty_moov"},
    {"offsets from the moof", "base_moof.mp4", "-movflags frag_keyframe+empty_moov+default_base_moof"},
    {"half-second fragments", "frag_duration.mp4", "-frag_duration 500000"},
};

// ---- A small walk over the file's bytes, independent of the library ----------

struct RawBox {
  uint64_t start, end, payload;
  std::string type;
};

std::vector<RawBox> children(const std::vector<uint8_t>& d, uint64_t from, uint64_t to) {
  std::vector<RawBox> out;
  while (from + 8 <= to) {
    uint64_t size = load_u32be(&d[from]);
    uint64_t header = 8;
    if (size == 1) {
      size = (uint64_t{load_u32be(&d[from + 8])} << 32) | load_u32be(&d[from + 12]);
      header = 16;
    } else if (size == 0) {
      size = to - from;
    }
    if (size < header || from + size > to) break;
    out.push_back({from, from + size, from + header, std::string(reinterpret_cast<const char*>(&d[from + 4]), 4)});
    from += size;
  }
  return out;
}

struct TrafFacts {
  uint64_t moof_start;
  uint32_t track_id;
  uint32_t tfhd_flags;
  bool has_data_offset;
  int32_t data_offset;
  uint64_t run_bytes;  // sum of the run's sample sizes (per-sample sizes only)
};

// Every track fragment of the file, in order, with the first decode time of
// each track.
std::vector<TrafFacts> walk_fragments(const std::vector<uint8_t>& d, std::map<uint32_t, uint64_t>* first_times) {
  std::vector<TrafFacts> out;
  for (const RawBox& top : children(d, 0, d.size())) {
    if (top.type != "moof") continue;
    for (const RawBox& traf : children(d, top.payload, top.end)) {
      if (traf.type != "traf") continue;
      TrafFacts f{top.start, 0, 0, false, 0, 0};
      for (const RawBox& b : children(d, traf.payload, traf.end)) {
        const uint8_t* p = &d[b.payload];
        uint32_t flags = load_u32be(p) & 0xFFFFFF;
        if (b.type == "tfhd") {
          f.tfhd_flags = flags;
          f.track_id = load_u32be(p + 4);
        } else if (b.type == "tfdt") {
          uint64_t t = p[0] == 1 ? (uint64_t{load_u32be(p + 4)} << 32) | load_u32be(p + 8) : load_u32be(p + 4);
          first_times->emplace(f.track_id, t);
        } else if (b.type == "trun") {
          uint32_t count = load_u32be(p + 4);
          const uint8_t* q = p + 8;
          if (flags & 0x1) {
            f.has_data_offset = true;
            f.data_offset = static_cast<int32_t>(load_u32be(q));
            q += 4;
          }
          if (flags & 0x4) q += 4;
          for (uint32_t i = 0; i < count; ++i) {
            if (flags & 0x100) q += 4;
            if (flags & 0x200) {
              f.run_bytes += load_u32be(q);
              q += 4;
            }
            if (flags & 0x400) q += 4;
            if (flags & 0x800) q += 4;
          }
        }
      }
      out.push_back(f);
    }
  }
  return out;
}

// The library's view of one file, kept open for the test.
struct Opened {
  MediaFile* file = nullptr;
  ErrorCode result;
  explicit Opened(const std::string& path) {
    OpenParams params{};
    params.routines = std_routines();
    params.path = path.c_str();
    result = media_open(&file, &params, kOpenRead);
  }
  ~Opened() {
    if (file != nullptr) media_close(file);
  }
};

TEST(FfmpegFragments, EveryPacketMatchesFfprobe) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  for (const FragmentCase& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string error;
    std::string path = make_media(dir, c.file, std::string(kInputs) + c.options, &error);
    ASSERT_FALSE(path.empty()) << error;
    std::map<uint32_t, uint64_t> first_times;
    std::vector<TrafFacts> trafs = walk_fragments(read_whole_file(path), &first_times);
    ASSERT_GE(trafs.size(), 4u) << "ffmpeg made no fragments";

    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(path, &tracks, &error)) << error;
    std::vector<ProbePacket> packets;
    std::vector<ProbeStream> streams;
    ASSERT_TRUE(probe_packets(path, &packets, "-ignore_editlist 1", true, &error)) << error;
    ASSERT_TRUE(probe_streams(path, &streams, "-ignore_editlist 1", &error)) << error;
    ASSERT_EQ(tracks.size(), 2u);
    ASSERT_EQ(streams.size(), 2u);
    for (size_t i = 0; i < streams.size(); ++i) {
      SCOPED_TRACE(streams[i].codec_type);
      std::vector<ProbePacket> theirs = packets_of(packets, streams[i].index);
      ASSERT_GT(theirs.size(), 20u);
      CompareOptions options;
      options.relative = true;
      EXPECT_TRUE(packets_equal(tracks[i], theirs, options));
    }

    // The first fragment decode time of each track is kept.
    Opened opened(path);
    ASSERT_EQ(opened.result, ErrorCode::Ok);
    for (const auto& [id, time] : first_times) {
      SCOPED_TRACE(id);
      TrackBoxes* track = find_track(opened.file->root, id);
      ASSERT_NE(track, nullptr);
      ASSERT_NE(track->extra, nullptr);
      EXPECT_EQ(track->extra->first_fragment_time, time);
    }
  }
}

// With +default_base_moof both track fragments of a 'moof' count their data
// from the 'moof'; counting the second from the end of the first one's data
// would put it elsewhere.
TEST(FfmpegFragments, SecondTrackFragmentCountsFromTheMoof) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string path = make_media(dir, "base_moof.mp4", std::string(kInputs) + kCases[1].options, &error);
  ASSERT_FALSE(path.empty()) << error;
  std::map<uint32_t, uint64_t> first_times;
  std::vector<TrafFacts> trafs = walk_fragments(read_whole_file(path), &first_times);
  ASSERT_GE(trafs.size(), 2u);
  const TrafFacts& a = trafs[0];
  const TrafFacts& b = trafs[1];
  ASSERT_EQ(a.moof_start, b.moof_start) << "the first moof holds one track fragment";
  ASSERT_NE(a.track_id, b.track_id);
  ASSERT_TRUE(b.tfhd_flags & 0x020000);
  ASSERT_FALSE(b.tfhd_flags & 0x000001);
  ASSERT_TRUE(a.has_data_offset && b.has_data_offset);
  uint64_t from_moof = b.moof_start + static_cast<uint64_t>(static_cast<int64_t>(b.data_offset));
  uint64_t after_previous = a.moof_start + static_cast<uint64_t>(static_cast<int64_t>(a.data_offset)) + a.run_bytes +
                            static_cast<uint64_t>(static_cast<int64_t>(b.data_offset));
  ASSERT_NE(from_moof, after_previous);

  Opened opened(path);
  ASSERT_EQ(opened.result, ErrorCode::Ok);
  TrackBoxes* track = find_track(opened.file->root, b.track_id);
  ASSERT_NE(track, nullptr);
  auto* offsets = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco);
  ASSERT_NE(offsets, nullptr);
  ASSERT_GE(offsets->offsets.count, 1u);
  EXPECT_EQ(offsets->offsets[0], from_moof);
}

}  // namespace
}  // namespace vantorel
