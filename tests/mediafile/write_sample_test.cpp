// Writing samples: tracks of every kind read back sample by sample, chunks,
// composition offsets, edit lists, the Streaming Extension mirror and the
// argument checks.
#include <gtest/gtest.h>

#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/strx.h"
#include "boxes/tkhd.h"
#include "mediafile/box_registry.h"
#include "mediafile/hand_made.h"
#include "mediafile/writer_support.h"
#include "sampletables/ctts.h"
#include "codecs/eac3.h"
#include "codecs/vc1.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"
#include "support/compare.h"
#include "support/md5.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

struct SynthSample {
  uint32_t size;
  uint32_t duration;
  int32_t offset;
  bool sync;
};

// Sizes, durations, offsets and sync flags that vary: the first offset is 0
// and later ones are not, the second half has longer durations.
std::vector<SynthSample> video_samples() {
  std::vector<SynthSample> v;
  for (uint32_t i = 0; i < 40; ++i)
    v.push_back(
        {100 + 37 * i % 900, i < 20 ? 1000u : 1001u, i == 0 ? 0 : static_cast<int32_t>((i % 3) * 1000), i % 12 == 0});
  return v;
}

std::vector<SynthSample> sound_samples(uint32_t frame) {
  std::vector<SynthSample> v;
  for (uint32_t i = 0; i < 30; ++i) v.push_back({200 + 11 * i, i == 29 ? frame / 2 : frame, 0, true});
  return v;
}

TrackSpec spec_for(uint32_t kind, const DecoderConfigVc1* vc1, const Dec3Record* dec3) {
  TrackSpec s{};
  s.kind = kind;
  switch (kind) {
    case kKindMpeg4Visual:
    case kKindAvc:
    case kKindH263:
    case kKindVc1:
    case kKindMotionJpeg:
      s.width = 320;
      s.height = 240;
      s.timescale = 24000;
      break;
    case kKindSubpicture:
    case kKindStreamingExtension:
      s.timescale = 90000;
      break;
    default:
      s.sample_rate = 48000;
      s.channel_count = 2;
      s.timescale = 48000;
  }
  s.codec.vc1.config = nullptr;
  if (kind == kKindVc1) s.codec.vc1.config = vc1;
  if (kind == kKindEac3) s.codec.eac3.config = dec3;
  return s;
}

TEST(WriteSample, TracksOfEveryKindReadBackSampleBySample) {
  TempDir dir;
  reset_size_mismatch_count();
  DecoderConfigVc1 vc1{};
  vc1.profile = kVc1Simple;
  Dec3Record dec3{};
  dec3.substreams[0].acmod = 2;
  const uint32_t kinds[] = {kKindMpeg4Visual, kKindAvc, kKindH263, kKindMpeg4Audio,         kKindAmr,
                            kKindSubpicture,  kKindAc3, kKindVc1,  kKindStreamingExtension, kKindMpeg1Audio,
                            kKindMotionJpeg,  kKindEac3};
  for (uint32_t kind : kinds) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    std::string path = dir.path("kind" + std::to_string(kind) + ".mp4");
    MediaFile* file = create_file(path);
    ASSERT_NE(file, nullptr);
    TrackSpec track_spec = spec_for(kind, &vc1, &dec3);
    uint32_t id = media_add_track(file, &track_spec);
    ASSERT_NE(id, 0u);
    bool video_like = kind == kKindMpeg4Visual || kind == kKindAvc || kind == kKindH263 || kind == kKindVc1 ||
                      kind == kKindMotionJpeg;
    bool subpicture = kind == kKindSubpicture;
    std::vector<SynthSample> samples = video_like ? video_samples() : sound_samples(1024);
    // Subpicture durations move at close; give them one duration.
    if (subpicture)
      for (SynthSample& s : samples) s.duration = 3600;
    std::vector<Bytes> data;
    for (size_t i = 0; i < samples.size(); ++i) {
      data.push_back(pattern(samples[i].size, static_cast<uint8_t>(i * 7)));
      SampleWrite w =
          sample_of(data.back(), samples[i].duration, samples[i].offset, samples[i].sync ? uint32_t{kSampleSync} : 0u);
      ASSERT_EQ(write_sample(file, id, &w), ErrorCode::Ok) << i;
    }
    ASSERT_EQ(media_close(file), ErrorCode::Ok);

    std::vector<LibraryTrack> tracks;
    std::string error;
    ASSERT_TRUE(read_with_library(path, &tracks, &error)) << error;
    ASSERT_EQ(tracks.size(), 1u);
    const LibraryTrack& t = tracks[0];
    ASSERT_EQ(t.packets.size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
      SCOPED_TRACE(i);
      const LibraryPacket& p = t.packets[i];
      EXPECT_EQ(p.size, samples[i].size);
      EXPECT_EQ(p.md5, md5_hex(data[i].data(), data[i].size()));
      EXPECT_EQ(p.duration, samples[i].duration);
      EXPECT_EQ(p.pts - p.dts, samples[i].offset);
      // Only the video-like kinds keep a sync table.
      EXPECT_EQ(p.key, video_like ? samples[i].sync : true);
    }
  }
  // Every box the builders filled was sized as it was written.
  EXPECT_EQ(size_mismatch_count(), 0u);
}

TEST(WriteSample, PcmCountsFramesAndReadsBackAsBlocks) {
  TempDir dir;
  std::string path = dir.path("pcm.mp4");
  MediaFile* file = create_file(path);
  ASSERT_NE(file, nullptr);
  TrackSpec track_spec = spec_for(kKindPcm, nullptr, nullptr);
  uint32_t id = media_add_track(file, &track_spec);
  ASSERT_NE(id, 0u);
  const uint32_t frames[] = {1024, 1024, 1024, 512};
  std::vector<Bytes> blocks;
  for (uint32_t n : frames) {
    blocks.push_back(pattern(n * 4, static_cast<uint8_t>(n)));  // 16-bit stereo
    SampleWrite w = sample_of(blocks.back(), n);
    ASSERT_EQ(write_sample(file, id, &w), ErrorCode::Ok);
  }
  // In memory: one sample per frame, delta 1, its size the bytes of a frame
  // (16-bit stereo), each block a chunk of its own.
  TrackBoxes* track = find_track(file->root, id);
  auto* stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  ASSERT_EQ(stts->entries.count, 1u);
  EXPECT_EQ(stts->entries[0].sample_count, 3584u);
  EXPECT_EQ(stts->entries[0].sample_delta, 1u);
  auto* stsz = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
  EXPECT_EQ(stsz->sample_count, 3584u);
  EXPECT_EQ(stsz->sample_size, 4u);
  auto* stsc = track_record<SampleToChunkTable>(track, BoxTypeId::Stsc);
  ASSERT_EQ(stsc->entries.count, 1u);
  EXPECT_EQ(stsc->entries[0].samples_per_chunk, 1024u);
  // Frames that do not fill the block would describe bytes never written.
  Bytes ragged = pattern(4 * 10 + 2, 0);
  SampleWrite torn = sample_of(ragged, 10);
  EXPECT_EQ(write_sample(file, id, &torn), ErrorCode::BadArgument);
  EXPECT_EQ(track_record<MdhdRecord>(track, BoxTypeId::Mdhd)->duration, 3584u);
  // A block of no frames would open a chunk no table describes.
  Bytes some = pattern(8, 0);
  SampleWrite empty = sample_of(some, 0);
  EXPECT_EQ(write_sample(file, id, &empty), ErrorCode::BadArgument);
  ASSERT_EQ(media_close(file), ErrorCode::Ok);

  std::vector<LibraryTrack> tracks;
  std::string error;
  ASSERT_TRUE(read_with_library(path, &tracks, &error)) << error;
  ASSERT_EQ(tracks.size(), 1u);
  ASSERT_EQ(tracks[0].packets.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(tracks[0].packets[i].size, frames[i] * 4);
    EXPECT_EQ(tracks[0].packets[i].duration, frames[i]);
    EXPECT_EQ(tracks[0].packets[i].md5, md5_hex(blocks[i].data(), blocks[i].size()));
  }
}

TEST(WriteSample, PcmBlocksAppendedWhenUpdating) {
  TempDir dir;
  std::string path = dir.path("pcm-update.mp4");
  MediaFile* file = create_file(path);
  ASSERT_NE(file, nullptr);
  TrackSpec track_spec = spec_for(kKindPcm, nullptr, nullptr);
  uint32_t id = media_add_track(file, &track_spec);
  std::vector<Bytes> blocks = {pattern(4096, 1), pattern(2048, 2), pattern(1024, 3)};
  for (size_t i = 0; i < 2; ++i) {
    SampleWrite w = sample_of(blocks[i], static_cast<uint32_t>(blocks[i].size() / 4));
    ASSERT_EQ(write_sample(file, id, &w), ErrorCode::Ok);
  }
  ASSERT_EQ(media_close(file), ErrorCode::Ok);
  // Opened for updating, the tables hold one sample per block: the new
  // block joins them as one more.
  OpenParams p{};
  p.routines = std_routines();
  p.path = path.c_str();
  ASSERT_EQ(media_open(&file, &p, kOpenUpdate), ErrorCode::Ok);
  SampleWrite w = sample_of(blocks[2], 256);
  ASSERT_EQ(write_sample(file, id, &w), ErrorCode::Ok);
  ASSERT_EQ(media_close(file), ErrorCode::Ok);

  std::vector<LibraryTrack> tracks;
  std::string error;
  ASSERT_TRUE(read_with_library(path, &tracks, &error)) << error;
  ASSERT_EQ(tracks[0].packets.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(tracks[0].packets[i].md5, md5_hex(blocks[i].data(), blocks[i].size()));
    EXPECT_EQ(tracks[0].packets[i].duration, static_cast<int64_t>(blocks[i].size() / 4));
  }
}

struct Chunking {
  const char* name;
  uint32_t samples_per_chunk;
  uint32_t samples;
  std::vector<std::array<uint32_t, 3>> stsc;
  uint32_t chunks;
};

TEST(WriteSample, ChunksAndTheirTable) {
  TempDir dir;
  const Chunking cases[] = {
      {"17 samples", 0, 17, {{1, 16, 1}, {2, 1, 1}}, 2},
      {"32 samples", 0, 32, {{1, 16, 1}}, 2},
      {"16 samples", 0, 16, {{1, 16, 1}}, 1},
      {"limit 5, 12 samples", 5, 12, {{1, 5, 1}, {3, 2, 1}}, 3},
      {"limit 1", 1, 3, {{1, 1, 1}}, 3},
  };
  for (const Chunking& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.path("chunks.mp4");
    CreateOptions o;
    o.samples_per_chunk = c.samples_per_chunk;
    MediaFile* file = create_file(path, o);
    ASSERT_NE(file, nullptr);
    TrackSpec track_spec = spec_for(kKindMpeg1Audio, nullptr, nullptr);
    uint32_t id = media_add_track(file, &track_spec);
    Bytes data = pattern(10, 1);
    for (uint32_t i = 0; i < c.samples; ++i) {
      SampleWrite w = sample_of(data, 1152);
      ASSERT_EQ(write_sample(file, id, &w), ErrorCode::Ok);
    }
    ASSERT_EQ(media_close(file), ErrorCode::Ok);
    ReadBack r(path);
    ASSERT_EQ(r.result(), ErrorCode::Ok);
    TrackBoxes* t = r.track(id);
    auto* stsc = track_record<SampleToChunkTable>(t, BoxTypeId::Stsc);
    std::vector<std::array<uint32_t, 3>> got;
    for (const SampleToChunkEntry& e : stsc->entries)
      got.push_back({e.first_chunk, e.samples_per_chunk, e.sample_description_index});
    EXPECT_EQ(got, c.stsc);
    auto* stco = track_record<ChunkOffsetTable>(t, BoxTypeId::Stco);
    ASSERT_EQ(stco->offsets.count, c.chunks);
    // The first chunk starts 16 bytes into the media data box.
    Bytes bytes = read_whole_file(path);
    std::vector<TopBox> boxes = top_boxes(bytes);
    ASSERT_EQ(top_box_types(boxes), "ftyp mdat moov");
    EXPECT_EQ(stco->offsets[0], boxes[1].start + 16);
  }
}

// A file being written in a directory of its own, and two sound tracks to
// add to it, of fixed frame durations (1152 and 1536).
struct SoundFile {
  TempDir dir;
  std::string path;
  MediaFile* file;
  TrackSpec a = spec_for(kKindMpeg1Audio, nullptr, nullptr);
  TrackSpec b = spec_for(kKindAc3, nullptr, nullptr);
  explicit SoundFile(const char* name) : path(dir.path(name)), file(create_file(path)) {}
};

TEST(WriteSample, AlternatingTracksGiveOneChunkPerSample) {
  SoundFile f("alternate.mp4");
  MediaFile* file = f.file;
  ASSERT_NE(file, nullptr);
  uint32_t ida = media_add_track(file, &f.a), idb = media_add_track(file, &f.b);
  Bytes data = pattern(20, 5);
  for (int i = 0; i < 6; ++i) {
    SampleWrite w = sample_of(data, 1152);
    ASSERT_EQ(write_sample(file, ida, &w), ErrorCode::Ok);
    w = sample_of(data, 1536);
    ASSERT_EQ(write_sample(file, idb, &w), ErrorCode::Ok);
  }
  ASSERT_EQ(media_close(file), ErrorCode::Ok);
  ReadBack r(f.path);
  ASSERT_EQ(r.result(), ErrorCode::Ok);
  for (uint32_t id : {ida, idb}) {
    TrackBoxes* t = r.track(id);
    EXPECT_EQ(track_chunk_count(t), 6u);
    auto* stsc = track_record<SampleToChunkTable>(t, BoxTypeId::Stsc);
    ASSERT_EQ(stsc->entries.count, 1u);
    EXPECT_EQ(stsc->entries[0].samples_per_chunk, 1u);
  }
  // Chunks follow each other: 20 bytes apart, alternating.
  auto* sa = track_record<ChunkOffsetTable>(r.track(ida), BoxTypeId::Stco);
  auto* sb = track_record<ChunkOffsetTable>(r.track(idb), BoxTypeId::Stco);
  for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(sb->offsets[i], sa->offsets[i] + 20);
}

// Tracks added between samples move the track list: every sample still
// lands in the track it names.
TEST(WriteSample, SamplesKeepToTheirTrackWhileTracksAreAdded) {
  SoundFile f("added.mp4");
  MediaFile* file = f.file;
  ASSERT_NE(file, nullptr);
  const uint32_t ida = media_add_track(file, &f.a);
  Bytes data = pattern(20, 5);
  SampleWrite w = sample_of(data, 1152);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(write_sample(file, ida, &w), ErrorCode::Ok);
  std::vector<uint32_t> added;
  for (int i = 0; i < 8; ++i) added.push_back(media_add_track(file, &f.b));
  for (int i = 0; i < 3; ++i) {
    w = sample_of(data, 1152);
    ASSERT_EQ(write_sample(file, ida, &w), ErrorCode::Ok);
    w = sample_of(data, 1536);
    ASSERT_EQ(write_sample(file, added[0], &w), ErrorCode::Ok);
  }
  ASSERT_EQ(media_close(file), ErrorCode::Ok);
  ReadBack r(f.path);
  ASSERT_EQ(r.result(), ErrorCode::Ok);
  EXPECT_EQ(sample_count(r.track(ida)), 6u);
  EXPECT_EQ(sample_count(r.track(added[0])), 3u);
  EXPECT_EQ(sample_count(r.track(added[1])), 0u);
}

std::vector<std::pair<uint32_t, int32_t>> ctts_runs(TrackBoxes* t) {
  std::vector<std::pair<uint32_t, int32_t>> out;
  auto* ctts = track_record<CompositionOffsetTable>(t, BoxTypeId::Ctts);
  if (ctts == nullptr) return out;
  for (const CompositionOffsetEntry& e : ctts->entries) out.push_back({e.sample_count, e.sample_offset});
  return out;
}

TEST(WriteSample, CompositionOffsetsAreRecordedWhenTheFirstIsZero) {
  TempDir dir;
  struct Case {
    const char* name;
    std::vector<int32_t> offsets;
    std::vector<std::pair<uint32_t, int32_t>> runs;  // as written
  };
  const Case cases[] = {
      {"all zero: no table", {0, 0, 0, 0}, {}},
      {"first non-zero later", {0, 0, 2000, 1000, 0}, {{2, 0}, {1, 2000}, {1, 1000}, {1, 0}}},
      {"first non-zero at once", {1000, 3000, 1000}, {{1, 1000}, {1, 3000}, {1, 1000}}},
      {"one non-zero in the middle", {0, 500, 0}, {{1, 0}, {1, 500}, {1, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.path("ctts.mp4");
    MediaFile* file = create_file(path);
    ASSERT_NE(file, nullptr);
    TrackSpec track_spec = spec_for(kKindH263, nullptr, nullptr);
    uint32_t id = media_add_track(file, &track_spec);
    Bytes data = pattern(30, 1);
    for (int32_t o : c.offsets) {
      SampleWrite w = sample_of(data, 1000, o);
      ASSERT_EQ(write_sample(file, id, &w), ErrorCode::Ok);
    }
    ASSERT_EQ(media_close(file), ErrorCode::Ok);
    // Every case has several runs, so reading keeps the table as written.
    ReadBack r(path);
    ASSERT_EQ(r.result(), ErrorCode::Ok);
    EXPECT_EQ(ctts_runs(r.track(id)), c.runs);
    std::vector<LibraryTrack> tracks;
    std::string error;
    ASSERT_TRUE(read_with_library(path, &tracks, &error)) << error;
    ASSERT_EQ(tracks[0].packets.size(), c.offsets.size());
    for (size_t i = 0; i < c.offsets.size(); ++i)
      EXPECT_EQ(tracks[0].packets[i].pts - tracks[0].packets[i].dts, c.offsets[i]);
  }
}

TEST(WriteSample, EditListsFromStartDelayAndMediaTime) {
  TempDir dir;
  // Ten samples of 100 at 1000 Hz: 1000 media units, 600 movie units.
  struct Case {
    const char* name;
    uint64_t delay;
    int64_t media_time;
    std::vector<std::pair<uint64_t, int64_t>> edits;
    uint64_t track_duration;
  };
  const Case cases[] = {
      {"neither", 0, 0, {}, 600},
      {"start delay", 1000, 0, {{1000, -1}, {600, 0}}, 1600},
      {"media time", 0, 250, {{450, 250}}, 450},
      {"both", 300, 500, {{300, -1}, {300, 500}}, 600},
      {"media time past the end", 0, 5000, {{0, 5000}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.path("edits.mp4");
    MediaFile* file = create_file(path);
    ASSERT_NE(file, nullptr);
    TrackSpec track_spec = spec_for(kKindMpeg1Audio, nullptr, nullptr);
    track_spec.timescale = 1000;
    track_spec.media_time = c.media_time;
    uint32_t id = media_add_track(file, &track_spec);
    ASSERT_NE(id, 0u);
    Bytes data = pattern(10, 2);
    for (int i = 0; i < 10; ++i) {
      // Only the first sample's delay counts.
      SampleWrite w = sample_of(data, 100, 0, kSampleSync, i == 0 ? c.delay : 777);
      ASSERT_EQ(write_sample(file, id, &w), ErrorCode::Ok);
    }
    ASSERT_EQ(media_close(file), ErrorCode::Ok);
    ReadBack r(path);
    ASSERT_EQ(r.result(), ErrorCode::Ok);
    TrackBoxes* t = r.track(id);
    std::vector<std::pair<uint64_t, int64_t>> edits;
    if (auto* elst = track_record<ElstRecord>(t, BoxTypeId::Elst))
      for (const ElstEntry& e : elst->entries) edits.push_back({e.segment_duration, e.media_time});
    EXPECT_EQ(edits, c.edits);
    EXPECT_EQ(find_box(t, BoxTypeId::Edts) != nullptr, !c.edits.empty());
    EXPECT_EQ(track_record<TkhdRecord>(t, BoxTypeId::Tkhd)->duration, c.track_duration);
  }
}

TEST(WriteSample, AnEditStartingBeforeTheFirstPresentedSampleBecomesAnEmptyEdit) {
  TempDir dir;
  std::string path = dir.path("gap.mp4");
  MediaFile* file = create_file(path);  // movie time scale 600
  ASSERT_NE(file, nullptr);
  TrackSpec track_spec = spec_for(kKindMpeg4Visual, nullptr, nullptr);
  track_spec.timescale = 1000;
  track_spec.media_time = 100;
  uint32_t id = media_add_track(file, &track_spec);
  ASSERT_NE(id, 0u);
  Bytes data = pattern(10, 3);
  // The first sample is presented at media time 300, the edit would start at 100.
  for (int i = 0; i < 4; ++i) {
    SampleWrite w = sample_of(data, 100, 300, kSampleSync, i == 0 ? 60 : 0);
    ASSERT_EQ(write_sample(file, id, &w), ErrorCode::Ok);
  }
  ASSERT_EQ(media_close(file), ErrorCode::Ok);
  ReadBack r(path);
  ASSERT_EQ(r.result(), ErrorCode::Ok);
  auto* elst = track_record<ElstRecord>(r.track(id), BoxTypeId::Elst);
  ASSERT_NE(elst, nullptr);
  ASSERT_EQ(elst->entries.count, 2u);
  // The 200 media units between are shown as nothing: 120 movie units more.
  EXPECT_EQ(elst->entries[0].media_time, kEmptyEdit);
  EXPECT_EQ(elst->entries[0].segment_duration, 60u + 120u);
  EXPECT_EQ(elst->entries[1].media_time, 300);
  // The edit shows media 300 to 700, where the last sample's presentation ends.
  EXPECT_EQ(elst->entries[1].segment_duration, 240u);
}

TEST(WriteSample, EditListsReadFromFilesKeepTheirRule) {
  TempDir dir;
  std::string path = dir.path("kept.mp4");
  HandTrack t;
  t.sizes = {5, 6, 7};
  t.stts = {{3, 100}};
  t.edits = {{300, 500}};
  Bytes original = hand_made_file({t});
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(original.data(), 1, original.size(), f);
  std::fclose(f);
  OpenParams p{};
  p.routines = std_routines();
  p.path = path.c_str();
  MediaFile* file = nullptr;
  ASSERT_EQ(media_open(&file, &p, kOpenUpdate), ErrorCode::Ok);
  Bytes data = pattern(9, 1);
  SampleWrite w = sample_of(data, 100);
  ASSERT_EQ(write_sample(file, 1, &w), ErrorCode::Ok);
  ASSERT_EQ(media_close(file), ErrorCode::Ok);
  ReadBack r(path);
  ASSERT_EQ(r.result(), ErrorCode::Ok);
  auto* elst = track_record<ElstRecord>(r.track(1), BoxTypeId::Elst);
  ASSERT_NE(elst, nullptr);
  ASSERT_EQ(elst->entries.count, 1u);
  EXPECT_EQ(elst->entries[0].segment_duration, 300u);
  EXPECT_EQ(elst->entries[0].media_time, 500);
  // The appended sample reads back after the three the file had.
  std::vector<LibraryTrack> tracks;
  std::string error;
  ASSERT_TRUE(read_with_library(path, &tracks, &error)) << error;
  ASSERT_EQ(tracks[0].packets.size(), 4u);
  EXPECT_EQ(tracks[0].packets[3].md5, md5_hex(data.data(), data.size()));
}

TEST(WriteSample, SubpictureDurationsMoveAtClose) {
  TempDir dir;
  struct Case {
    uint32_t flags;
    std::vector<int64_t> durations;
  };
  const Case cases[] = {{0, {20, 30, 30}}, {kFlagNoSubpictureAdjust, {10, 20, 30}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    std::string path = dir.path("subp.mp4");
    CreateOptions o;
    o.flags = c.flags;
    MediaFile* file = create_file(path, o);
    ASSERT_NE(file, nullptr);
    TrackSpec track_spec = spec_for(kKindSubpicture, nullptr, nullptr);
    uint32_t id = media_add_track(file, &track_spec);
    Bytes data = pattern(12, 4);
    for (uint32_t d : {10u, 20u, 30u}) {
      SampleWrite w = sample_of(data, d);
      ASSERT_EQ(write_sample(file, id, &w), ErrorCode::Ok);
    }
    ASSERT_EQ(media_close(file), ErrorCode::Ok);
    std::vector<LibraryTrack> tracks;
    std::string error;
    ASSERT_TRUE(read_with_library(path, &tracks, &error)) << error;
    std::vector<int64_t> durations;
    for (const LibraryPacket& p : tracks[0].packets) durations.push_back(p.duration);
    EXPECT_EQ(durations, c.durations);
  }
}

TEST(WriteSample, StreamingExtensionMirrorsEverySample) {
  TempDir dir;
  std::string path = dir.path("strx.mp4");
  CreateOptions o;
  o.flags = kFlagStreamingExtension;
  MediaFile* file = create_file(path, o);
  ASSERT_NE(file, nullptr);
  uint32_t strx = file->strx_track;
  ASSERT_NE(strx, 0u);
  TrackSpec track_spec = spec_for(kKindH263, nullptr, nullptr);
  track_spec.timescale = 90000;
  track_spec.track_id = 130;  // only its low 7 bits go into the record
  uint32_t video = media_add_track(file, &track_spec);
  ASSERT_EQ(video, 130u);
  struct Written {
    uint32_t size;
    uint32_t duration;
    int32_t offset;
    bool sync;
    uint32_t ms;  // expected mirror time
  };
  const Written written[] = {
      {70000, 3600, 3600, true, 0},     // the track is empty: 0
      {1200, 3600, 10800, false, 120},  // 3600 + 10800 - 3600
      {800, 3600, 3600, false, 80},     // 7200 + 3600 - 3600
      {900, 3600, 3600, true, 120},
  };
  for (const Written& w : written) {
    Bytes data = pattern(w.size, 9);
    SampleWrite s = sample_of(data, w.duration, w.offset, w.sync ? uint32_t{kSampleSync} : 0u);
    ASSERT_EQ(write_sample(file, video, &s), ErrorCode::Ok);
  }
  ASSERT_EQ(media_close(file), ErrorCode::Ok);

  ReadBack r(path);
  ASSERT_EQ(r.result(), ErrorCode::Ok);
  EXPECT_NE(find_box(r.file()->root, BoxTypeId::Strx), nullptr);
  TrackInfo info{};
  ASSERT_EQ(track_info(r.file(), strx, &info), ErrorCode::Ok);
  EXPECT_EQ(info.kind, static_cast<uint32_t>(kHandlerStreamingExtension));
  EXPECT_EQ(info.timescale, 90000u);
  EXPECT_STREQ(info.handler_name, "Streaming Extension");
  EXPECT_STREQ(info.language, "und");
  // Every sample of either track sits in a chunk of its own.
  EXPECT_EQ(track_chunk_count(r.track(video)), 4u);
  EXPECT_EQ(track_chunk_count(r.track(strx)), 4u);
  uint8_t buffer[16];
  for (const Written& w : written) {
    SampleRead s{};
    s.buffer = buffer;
    s.capacity = sizeof buffer;
    ASSERT_EQ(read_next_sample(r.file(), strx, &s), ErrorCode::Ok);
    ASSERT_EQ(s.size, 8u);
    EXPECT_EQ(buffer[0], (w.sync ? 0x80 : 0) | (130 & 0x7F));
    EXPECT_EQ((uint32_t{buffer[1]} << 16) | (uint32_t{buffer[2]} << 8) | buffer[3], w.size);
    EXPECT_EQ(load_u32be(buffer + 4), w.ms);
    EXPECT_EQ(s.duration, 1u);
    EXPECT_EQ(s.sync, 1u);
  }
}

TEST(WriteSample, ArgumentsModesAndUnknownTracks) {
  TempDir dir;
  std::string path = dir.path("args.mp4");
  MediaFile* file = create_file(path);
  ASSERT_NE(file, nullptr);
  TrackSpec track_spec = spec_for(kKindMpeg1Audio, nullptr, nullptr);
  uint32_t id = media_add_track(file, &track_spec);
  Bytes data = pattern(4, 0);
  SampleWrite w = sample_of(data, 10);
  SampleWrite no_data = w;
  no_data.data = nullptr;
  EXPECT_EQ(write_sample(nullptr, id, &w), ErrorCode::BadArgument);
  EXPECT_EQ(write_sample(file, 0, &w), ErrorCode::BadArgument);
  EXPECT_EQ(write_sample(file, id, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(write_sample(file, id, &no_data), ErrorCode::BadArgument);
  EXPECT_EQ(write_sample(file, id + 5, &w), ErrorCode::Missing);
  EXPECT_EQ(close_chunk(nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(close_chunk(file), ErrorCode::Ok);  // no chunk open
  // Nothing was written: the file has no media data.
  EXPECT_NE(file->mdat.type, "mdat");
  ASSERT_EQ(media_close(file), ErrorCode::Ok);
  ReadBack r(path);
  ASSERT_EQ(r.result(), ErrorCode::Ok);
  EXPECT_EQ(write_sample(r.file(), id, &w), ErrorCode::ReadOnly);
  EXPECT_EQ(track_sample_count(r.track(id)), 0u);
}

}  // namespace
}  // namespace vantorel
