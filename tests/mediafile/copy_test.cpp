// Files made by ffmpeg copied sample by sample through the library: the
// copies read cleanly with ffprobe and carry the same packets.
#include <gtest/gtest.h>

#include <cstring>

#include "boxes/elst.h"
#include "mediafile/writer_support.h"
#include "sampletables/stsd.h"
#include "support/compare.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

// A TrackSpec for a track of the input, from its summary and its first
// sample entry's configuration records. False for codecs the test skips.
bool spec_from_input(MediaFile* in, const TrackInfo& info, TrackSpec* track_spec) {
  *track_spec = TrackSpec{};
  track_spec->timescale = info.timescale;
  std::memcpy(track_spec->language, info.language, 3);
  track_spec->handler_name = info.handler_name;
  TrackBoxes* track = find_track(in->root, info.track_id);
  int64_t shift = track->extra != nullptr ? track->extra->composition_shift : 0;
  track_spec->media_time = first_media_time(track) + shift;
  if (info.fourcc == "avc1") {
    VisualSampleEntry* e = visual_entry(in, track, 0);
    if (e == nullptr || e->avcC == nullptr) return false;
    const AvcConfigRecord* a = e->avcC;
    track_spec->kind = kKindAvc;
    track_spec->codec.avc.nal_length_minus_one = a->lengthSizeMinusOne;
    track_spec->codec.avc.sps_count = a->numOfSequenceParameterSets;
    track_spec->codec.avc.sps = avc_sps_block(a);
    track_spec->codec.avc.sps_size = a->sps_length;
    track_spec->codec.avc.pps_count = a->numOfPictureParameterSets;
    track_spec->codec.avc.pps = avc_pps_block(a);
    track_spec->codec.avc.pps_size = a->pps_length;
    track_spec->codec.avc.trailing = a->trailing.bytes;
    track_spec->codec.avc.trailing_size = a->trailing.length;
  } else if (info.fourcc == "mp4v") {
    track_spec->kind = kKindMpeg4Visual;
    track_spec->codec.mpeg4_visual.decoder_info = info.decoder_info;
    track_spec->codec.mpeg4_visual.decoder_info_size = info.decoder_info_size;
    track_spec->codec.mpeg4_visual.object_type = static_cast<uint8_t>(info.object_type);
  } else if (info.fourcc == "mp4a" && info.object_type == 0x40) {
    track_spec->kind = kKindMpeg4Audio;
    track_spec->codec.mpeg4_audio.audio_level = 15;
    track_spec->codec.mpeg4_audio.decoder_info = info.decoder_info;
    track_spec->codec.mpeg4_audio.decoder_info_size = info.decoder_info_size;
  } else if (info.fourcc == "mp4a" && info.object_type == 0x6B) {
    track_spec->kind = kKindMpeg1Audio;
  } else {
    return false;
  }
  if (info.kind == 1) {
    track_spec->width = info.width;
    track_spec->height = info.height;
  } else {
    track_spec->sample_rate = info.sample_rate;
    track_spec->channel_count = info.channel_count;
  }
  return true;
}

// Copies every track of `from` into a new file `to`, track after track.
::testing::AssertionResult copy_file(const std::string& from, const std::string& to) {
  ReadBack in(from);
  if (in.result() != ErrorCode::Ok) return ::testing::AssertionFailure() << "open input: " << code_value(in.result());
  MediaFile* out = create_file(to, CreateOptions{0, 0, 0, 1000, nullptr});
  if (out == nullptr) return ::testing::AssertionFailure() << "create output";
  std::vector<std::pair<uint32_t, uint32_t>> ids;  // input, output
  std::vector<TrackInfo> infos;
  TrackIterator* it = track_iterator_new(in.file(), 0, 0);
  TrackInfo info{};
  while (track_iterator_next(it, &info) == ErrorCode::Ok) infos.push_back(info);
  track_iterator_free(it);
  for (const TrackInfo& i : infos) {
    TrackSpec track_spec{};
    if (!spec_from_input(in.file(), i, &track_spec)) {
      media_close(out);
      return ::testing::AssertionFailure() << "unexpected codec in track " << i.track_id;
    }
    uint32_t id = media_add_track(out, &track_spec);
    if (id == 0) {
      media_close(out);
      return ::testing::AssertionFailure() << "add track " << i.track_id;
    }
    ids.push_back({i.track_id, id});
  }
  for (size_t k = 0; k < infos.size(); ++k) {
    std::vector<uint8_t> buffer(infos[k].max_sample_size + 1);
    uint32_t index = 0;
    uint64_t time = 0;
    ErrorCode e = track_seek(in.file(), ids[k].first, 0, &index, &time, 0, 0);
    bool first = true;
    while (e == ErrorCode::Ok) {
      SampleRead s{};
      s.buffer = buffer.data();
      s.capacity = static_cast<uint32_t>(buffer.size());
      e = read_next_sample(in.file(), ids[k].first, &s);
      if (e != ErrorCode::Ok) break;
      SampleWrite w{};
      w.data = s.buffer;
      w.size = s.size;
      w.duration = s.duration;
      w.composition_offset = s.composition_offset;
      w.flags = s.sync != 0 ? uint32_t{kSampleSync} : 0u;
      w.start_delay = first ? infos[k].start_delay : 0;
      first = false;
      e = write_sample(out, ids[k].second, &w);
    }
    if (e != ErrorCode::NoMore) {
      media_close(out);
      return ::testing::AssertionFailure() << "copying track " << ids[k].first << ": " << code_value(e);
    }
  }
  ErrorCode closed = media_close(out);
  if (closed != ErrorCode::Ok) return ::testing::AssertionFailure() << "close: " << code_value(closed);
  return ::testing::AssertionSuccess();
}

const char* kVideo = "-f lavfi -i testsrc=size=176x144:rate=25:duration=2 ";
const char* kAudio = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 ";

TEST(CopyFiles, CopiesReadCleanlyAndCarryTheSamePackets) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  struct Case {
    const char* name;
    const char* file;
    std::string args;
  };
  const Case cases[] = {
      {"H.264 with B-frames and AAC", "avc.mp4",
       std::string(kVideo) + kAudio + "-c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p -c:a aac -ac 2"},
      {"H.264 High profile", "high.mp4", std::string(kVideo) + "-c:v libx264 -profile:v high -pix_fmt yuv420p"},
      {"MPEG-4 Visual and MP3", "mp4v.mp4", std::string(kVideo) + kAudio + "-c:v mpeg4 -bf 1 -c:a libmp3lame -ac 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    std::string input = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(input.empty()) << error;
    std::string output = dir.path(std::string("copy-") + c.file);
    ASSERT_TRUE(copy_file(input, output));

    std::string messages;
    EXPECT_EQ(run_command("ffprobe -v error -show_format -show_streams " + shell_quote(output) + " 2>&1 >/dev/null",
                          &messages),
              0);
    EXPECT_EQ(messages, "");

    std::vector<LibraryTrack> ours, original;
    ASSERT_TRUE(read_with_library(output, &ours, &error)) << error;
    ASSERT_TRUE(read_with_library(input, &original, &error)) << error;
    std::vector<ProbePacket> packets;
    std::vector<ProbeStream> streams;
    ASSERT_TRUE(probe_packets(output, &packets, "-ignore_editlist 1", true, &error)) << error;
    ASSERT_TRUE(probe_streams(output, &streams, "", &error)) << error;
    ASSERT_EQ(ours.size(), streams.size());
    ASSERT_EQ(ours.size(), original.size());
    for (size_t i = 0; i < streams.size(); ++i) {
      SCOPED_TRACE("stream " + std::to_string(i) + " " + streams[i].codec_name);
      EXPECT_TRUE(packets_equal(ours[i], packets_of(packets, streams[i].index), CompareOptions{}));
      ASSERT_EQ(ours[i].packets.size(), original[i].packets.size());
      for (size_t k = 0; k < ours[i].packets.size(); ++k) {
        const LibraryPacket& a = ours[i].packets[k];
        const LibraryPacket& b = original[i].packets[k];
        EXPECT_EQ(a.md5, b.md5);
        EXPECT_EQ(a.pts - a.dts, b.pts - b.dts);
        EXPECT_EQ(a.duration, b.duration);
        EXPECT_EQ(a.key, b.key);
      }
      EXPECT_EQ(ours[i].fourcc, original[i].fourcc);
      EXPECT_EQ(ours[i].width, original[i].width);
      EXPECT_EQ(ours[i].height, original[i].height);
      EXPECT_EQ(ours[i].nal_length_size, original[i].nal_length_size);
      EXPECT_EQ(ours[i].sample_rate, original[i].sample_rate);
      EXPECT_EQ(ours[i].sample_bits, original[i].sample_bits);
      EXPECT_EQ(ours[i].channel_count, original[i].channel_count);
    }
  }
}

}  // namespace
}  // namespace vantorel
