// The tables of real files made by ffmpeg, compared with ffprobe's packets.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/moov.h"
#include "sampletables/ctts.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"
#include "sampletables/table_fixups.h"
#include "support/box_builder.h"
#include "support/ffprobe.h"

namespace vantorel {
namespace {

using namespace test;

// A file read through the C-stream routines, its tree freed at scope end.
class OpenedFile {
 public:
  explicit OpenedFile(const std::string& path) : path_(path) {
    IoOpenParams params{};
    params.routines = std_routines();
    params.path = path_.c_str();
    result_ = attach(&file_, &params, kOpenRead);
    file_.registry = box_registry();
    if (result_ != ErrorCode::Ok) return;
    result_ = create_root(&file_);
    if (result_ != ErrorCode::Ok) return;
    BoxHeader whole;
    uint64_t length = file_size(&file_);
    make_box_header(&whole, FourCC::of("mp4 "), nullptr, 0, length, length);
    result_ = read_top_level(&file_, &whole);
  }
  ~OpenedFile() {
    release_root(&file_);
    detach(&file_);
  }
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;
  ErrorCode result() const { return result_; }
  MediaFile* get() { return &file_; }

 private:
  std::string path_;
  MediaFile file_{};
  ErrorCode result_ = ErrorCode::Ok;
};

int32_t composition_offset(TrackBoxes* track, uint32_t k) {
  auto* ctts = track_record<CompositionOffsetTable>(track, BoxTypeId::Ctts);
  if (ctts == nullptr) return 0;
  uint32_t entry = 0, index = 0;
  if (ctts_locate(track, k, &entry, &index) != ErrorCode::Ok) return INT32_MIN;
  return ctts->entries[entry].sample_offset;
}

bool is_sync(TrackBoxes* track, uint32_t k) {
  auto* stss = track_record<SyncSampleTable>(track, BoxTypeId::Stss);
  if (stss == nullptr) return true;
  return std::find(stss->samples.begin(), stss->samples.end(), k) != stss->samples.end();
}

TEST(FfmpegTables, H264WithBFramesAndAacMatchFfprobe) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string path = make_media(dir, "av.mp4",
                                "-f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100"
                                " -t 3 -c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p -c:a aac -b:a 64k",
                                &error);
  ASSERT_FALSE(path.empty()) << error;
  std::vector<ProbePacket> packets;
  std::vector<ProbeStream> streams;
  ASSERT_TRUE(probe_packets(path, &packets, "-ignore_editlist 1", true, &error)) << error;
  ASSERT_TRUE(probe_streams(path, &streams, "", &error)) << error;
  ASSERT_EQ(streams.size(), 2u);

  // Read from memory this time; the QuickTime test below reads the file.
  MemoryFile f(read_whole_file(path));
  ASSERT_EQ(create_root(f.get()), ErrorCode::Ok);
  BoxHeader whole;
  uint64_t length = file_size(f.get());
  make_box_header(&whole, FourCC::of("mp4 "), nullptr, 0, length, length);
  ASSERT_EQ(read_top_level(f.get(), &whole), ErrorCode::Ok);
  ASSERT_EQ(track_count(f->root), 2u);

  bool saw_reordering = false;
  for (const ProbeStream& s : streams) {
    SCOPED_TRACE(s.codec_type);
    TrackBoxes* track = track_at(f->root, static_cast<uint32_t>(s.index));
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(handler_kind_of(track), s.codec_type == "video" ? kHandlerVideo : kHandlerSound);
    auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
    ASSERT_NE(mdhd, nullptr);
    ASSERT_EQ(s.time_base_num, 1);
    EXPECT_EQ(mdhd->timescale, static_cast<uint32_t>(s.time_base_den));
    std::vector<ProbePacket> mine = packets_of(packets, s.index);
    ASSERT_GT(mine.size(), 10u);
    ASSERT_EQ(sample_count(track), mine.size());
    auto* sizes = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
    uint64_t duration = 0;
    for (uint32_t k = 1; k <= mine.size(); ++k) {
      const ProbePacket& p = mine[k - 1];
      SCOPED_TRACE(k);
      ASSERT_TRUE(p.has_dts && p.has_pts);
      EXPECT_EQ(stsz_sample_size(sizes, k - 1), p.size);
      uint64_t dts = stts_decode_time(track, k);
      EXPECT_EQ(static_cast<int64_t>(dts), p.dts);
      EXPECT_EQ(static_cast<int64_t>(dts) + composition_offset(track, k), p.pts);
      EXPECT_EQ(is_sync(track, k), p.key);
      EXPECT_EQ(p.data_hash.rfind("MD5:", 0), 0u);
      EXPECT_EQ(p.data_hash.size(), 4u + 32);
      if (p.pts != p.dts) saw_reordering = true;
      duration += p.duration;
    }
    EXPECT_EQ(stts_total_duration(track), duration);
    // Every sample's chunk is found and lies within the chunk table.
    auto* offsets = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco);
    ASSERT_NE(offsets, nullptr);
    ChunkPosition last{};
    ASSERT_EQ(stsc_locate(f.get(), track, static_cast<uint32_t>(mine.size()), &last), ErrorCode::Ok);
    EXPECT_EQ(last.chunk_index + 1, offsets->offsets.count);
  }
  EXPECT_TRUE(saw_reordering);  // B-frames made composition differ from decode order
}

TEST(FfmpegTables, QuickTimePcmRegroupsToTheSameBytesAndDuration) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  // The video makes ffmpeg interleave the sound in chunks of several sizes.
  std::string path = make_media(dir, "pcm.mov",
                                "-f lavfi -i testsrc=size=64x48:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000"
                                " -t 2 -ac 2 -c:v mpeg4 -c:a pcm_s16be",
                                &error);
  ASSERT_FALSE(path.empty()) << error;
  std::vector<ProbePacket> packets;
  std::vector<ProbeStream> streams;
  ASSERT_TRUE(probe_packets(path, &packets, "", false, &error)) << error;
  ASSERT_TRUE(probe_streams(path, &streams, "", &error)) << error;
  const ProbeStream* audio = nullptr;
  for (const ProbeStream& s : streams)
    if (s.codec_type == "audio") audio = &s;
  ASSERT_NE(audio, nullptr);
  ASSERT_EQ(audio->codec_tag, "twos");
  ASSERT_EQ(audio->channels, 2);
  std::vector<ProbePacket> mine = packets_of(packets, audio->index);
  uint64_t bytes = 0, duration = 0;
  std::set<int64_t> positions;
  for (const ProbePacket& p : mine) {
    bytes += p.size;
    duration += p.duration;
    positions.insert(p.pos);
  }

  OpenedFile f(path);
  ASSERT_EQ(f.result(), ErrorCode::Ok);
  TrackBoxes* track = track_at(f.get()->root, static_cast<uint32_t>(audio->index));
  ASSERT_EQ(handler_kind_of(track), kHandlerSound);
  auto* offsets = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco);
  ASSERT_NE(offsets, nullptr);
  const uint32_t chunks = offsets->offsets.count;
  ASSERT_GT(chunks, 2u);
  // ffmpeg writes a sample per PCM frame whose size is the frame's 4 bytes;
  // reading regroups it to a sample per chunk, and a second regrouping
  // leaves it alone.
  SoundFormatInfo twos{};
  twos.format = FourCC::of("twos");
  twos.channel_count = 2;
  ASSERT_EQ(sound_tables_per_chunk(f.get(), track, &twos), ErrorCode::Ok);

  ASSERT_EQ(sample_count(track), chunks);
  auto* sizes = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
  uint64_t regrouped = 0;
  for (uint32_t i = 0; i < chunks; ++i) {
    uint32_t size = stsz_sample_size(sizes, i);
    regrouped += size;
    // Each sample is a chunk: its duration in frames is its size / 4.
    uint32_t entry = 0, index = 0;
    ASSERT_EQ(stts_locate(track, i + 1, &entry, &index), ErrorCode::Ok);
    EXPECT_EQ(track_record<TimeToSampleTable>(track, BoxTypeId::Stts)->entries[entry].sample_delta * 4u, size);
    // And starts where ffprobe saw a packet start.
    EXPECT_EQ(positions.count(static_cast<int64_t>(offsets->offsets[i])), 1u) << "chunk " << i;
  }
  EXPECT_EQ(regrouped, bytes);
  EXPECT_EQ(stts_total_duration(track), duration);
  auto* stsc = track_record<SampleToChunkTable>(track, BoxTypeId::Stsc);
  ASSERT_EQ(stsc->entries.count, 1u);
  EXPECT_EQ(stsc->entries[0].first_chunk, 1u);
  EXPECT_EQ(stsc->entries[0].samples_per_chunk, 1u);
  EXPECT_EQ(stsc->entries[0].sample_description_index, 1u);
}

}  // namespace
}  // namespace vantorel
