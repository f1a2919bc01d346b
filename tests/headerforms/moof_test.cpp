// Movie fragments folded into the sample tables, over hand-made files: a
// movie of empty tables with 'trex' defaults, followed by 'moof' boxes.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "boxes/box_tree.h"
#include "mediafile/mediafile.h"
#include "headerforms/moof.h"
#include "sampletables/ctts.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"
#include "support/box_builder.h"
#include "support/read_tree.h"

namespace vantorel {
namespace {

using namespace test;

// ---- Building files ---------------------------------------------------------------

struct Track {
  std::string handler = "vide";
  uint32_t id = 1;
  bool trex = true;
  bool stco = true;
  bool empty_stss = false;  // an 'stss' box without entries
  bool empty_ctts = false;
  uint32_t default_duration = 0, default_size = 0, default_flags = 0;
};

Bytes matrix() {
  return cat({u32(0x00010000), u32(0), u32(0), u32(0), u32(0x00010000), u32(0), u32(0), u32(0), u32(0x40000000)});
}

Bytes trak(const Track& t) {
  Bytes entry = t.handler == "vide"
                    ? box("mp4v", cat({zeros(6), u16(1), zeros(16), u16(64), u16(48), u32(0x00480000),
                                       u32(0x00480000), u32(0), u16(1), zeros(32), u16(24), u16(0xFFFF)}))
                    : box("mp4a", cat({zeros(6), u16(1), zeros(8), u16(2), u16(16), u16(0), u16(0), u32(44100u << 16)}));
  Bytes tables = cat({full_box("stsd", 0, 0, cat({u32(1), entry})), full_box("stts", 0, 0, u32(0)),
                      full_box("stsc", 0, 0, u32(0)), full_box("stsz", 0, 0, cat({u32(0), u32(0)}))});
  if (t.stco) tables = cat({tables, full_box("stco", 0, 0, u32(0))});
  if (t.empty_stss) tables = cat({tables, full_box("stss", 0, 0, u32(0))});
  if (t.empty_ctts) tables = cat({tables, full_box("ctts", 0, 0, u32(0))});
  Bytes media_header = t.handler == "vide" ? full_box("vmhd", 0, 1, zeros(8)) : full_box("smhd", 0, 0, zeros(4));
  Bytes minf = box("minf", cat({media_header, box("dinf", full_box("dref", 0, 0, cat({u32(1), full_box("url ", 0, 1, {})}))),
                                box("stbl", tables)}));
  Bytes mdia = box("mdia", cat({full_box("mdhd", 0, 0, cat({u32(0), u32(0), u32(1000), u32(0), u16(0x55C4), u16(0)})),
                                full_box("hdlr", 0, 0, cat({u32(0), text(t.handler), zeros(12), cstr("h")})), minf}));
  Bytes tkhd = full_box("tkhd", 0, 7,
                        cat({u32(0), u32(0), u32(t.id), u32(0), u32(0), zeros(8), u16(0), u16(0), u16(0), u16(0),
                             matrix(), u32(64u << 16), u32(48u << 16)}));
  return box("trak", cat({tkhd, mdia}));
}

// 'ftyp' and a 'moov' of empty tracks with their 'trex' defaults.
Bytes movie(const std::vector<Track>& tracks) {
  Bytes traks, trexes;
  for (const Track& t : tracks) {
    traks = cat({traks, trak(t)});
    if (t.trex)
      trexes = cat({trexes, full_box("trex", 0, 0,
                                     cat({u32(t.id), u32(1), u32(t.default_duration), u32(t.default_size),
                                          u32(t.default_flags)}))});
  }
  Bytes mvhd = full_box("mvhd", 0, 0,
                        cat({u32(0), u32(0), u32(600), u32(0), u32(0x00010000), u16(0x0100), zeros(10), matrix(),
                             zeros(24), u32(9)}));
  return cat({box("ftyp", cat({text("iso6"), u32(0), text("isom")})),
              box("moov", cat({mvhd, traks, box("mvex", trexes)}))});
}

struct Sample {
  uint32_t duration = 0, size = 0, flags = 0;
  int32_t offset = 0;
};

// A 'trun' holding exactly the fields its flags name.
Bytes trun(uint32_t flags, const std::vector<Sample>& samples, int32_t data_offset = 0, uint32_t first_flags = 0,
           uint8_t version = 0) {
  Bytes b = u32(static_cast<uint32_t>(samples.size()));
  if (flags & kTrunDataOffset) b = cat({b, u32(static_cast<uint32_t>(data_offset))});
  if (flags & kTrunFirstSampleFlags) b = cat({b, u32(first_flags)});
  for (const Sample& s : samples) {
    if (flags & kTrunDuration) b = cat({b, u32(s.duration)});
    if (flags & kTrunSize) b = cat({b, u32(s.size)});
    if (flags & kTrunFlags) b = cat({b, u32(s.flags)});
    if (flags & kTrunCompositionOffset) b = cat({b, u32(static_cast<uint32_t>(s.offset))});
  }
  return full_box("trun", version, flags, b);
}

Bytes tfhd(uint32_t track_id, uint32_t flags = 0, const Bytes& fields = {}) {
  return full_box("tfhd", 0, flags, cat({u32(track_id), fields}));
}

Bytes moof(const Bytes& trafs) { return box("moof", cat({full_box("mfhd", 0, 0, u32(1)), trafs})); }

std::vector<Sample> sized(std::vector<uint32_t> sizes, uint32_t duration = 10) {
  std::vector<Sample> out;
  for (uint32_t s : sizes) out.push_back({duration, s, 0, 0});
  return out;
}

constexpr uint32_t kSized = kTrunDuration | kTrunSize;

// ---- Reading them ---------------------------------------------------------------

struct Tables {
  std::vector<std::array<uint32_t, 3>> stsc;
  std::vector<uint64_t> offsets;
  std::vector<uint32_t> sizes;
  std::vector<std::pair<uint32_t, uint32_t>> stts;
  std::optional<std::vector<uint32_t>> stss;
  std::optional<std::vector<std::pair<uint32_t, int32_t>>> ctts;
};

Tables tables_of(TrackBoxes* track) {
  Tables t;
  if (auto* stsc = track_record<SampleToChunkTable>(track, BoxTypeId::Stsc))
    for (const auto& e : stsc->entries) t.stsc.push_back({e.first_chunk, e.samples_per_chunk, e.sample_description_index});
  if (auto* stco = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco))
    for (uint64_t o : stco->offsets) t.offsets.push_back(o);
  if (auto* stsz = track_record<SampleSizeTable>(track, BoxTypeId::Stsz))
    for (uint32_t i = 0; i < stsz->sample_count; ++i) t.sizes.push_back(stsz_sample_size(stsz, i));
  if (auto* stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts))
    for (const auto& e : stts->entries) t.stts.push_back({e.sample_count, e.sample_delta});
  if (auto* stss = track_record<SyncSampleTable>(track, BoxTypeId::Stss))
    t.stss = std::vector<uint32_t>(stss->samples.begin(), stss->samples.end());
  if (auto* ctts = track_record<CompositionOffsetTable>(track, BoxTypeId::Ctts)) {
    t.ctts.emplace();
    for (const auto& e : ctts->entries) t.ctts->push_back({e.sample_count, e.sample_offset});
  }
  return t;
}

// The file's tree as opening reads it, in the given mode.
struct Tree {
  MemoryFile file;
  ErrorCode result;
  explicit Tree(const Bytes& bytes, uint32_t mode = kOpenRead) : file(bytes, mode), result(read_tree(file.get())) {}
  TrackBoxes* track(uint32_t id) { return find_track(file->root, id); }
};

// ---- Chunks, offsets and defaults ------------------------------------------------------

TEST(Fragments, EachRunIsOneChunk) {
  Bytes head = movie({Track{}});
  // Two runs of 10 and 5 samples; the second has no data offset and so
  // follows the first one's data.
  std::vector<uint32_t> first, second;
  for (uint32_t i = 0; i < 10; ++i) first.push_back(100 + i);
  for (uint32_t i = 0; i < 5; ++i) second.push_back(200 + i);
  Bytes traf = box("traf", cat({tfhd(1, kTfhdDescriptionIndex, u32(1)), trun(kSized | kTrunDataOffset, sized(first), 40),
                                trun(kSized, sized(second, 20))}));
  Tree tree(cat({head, moof(traf)}));
  ASSERT_EQ(tree.result, ErrorCode::Ok);
  Tables t = tables_of(tree.track(1));
  uint64_t moof_start = head.size();
  uint32_t first_bytes = 0;
  for (uint32_t s : first) first_bytes += s;
  EXPECT_EQ(t.stsc, (std::vector<std::array<uint32_t, 3>>{{1, 10, 1}, {2, 5, 1}}));
  EXPECT_EQ(t.offsets, (std::vector<uint64_t>{moof_start + 40, moof_start + 40 + first_bytes}));
  std::vector<uint32_t> all = first;
  all.insert(all.end(), second.begin(), second.end());
  EXPECT_EQ(t.sizes, all);
  EXPECT_EQ(t.stts, (std::vector<std::pair<uint32_t, uint32_t>>{{10, 10}, {5, 20}}));
}

TEST(Fragments, DefaultsComeFromTheHeaderOrTheTrackExtends) {
  Track track;
  track.default_duration = 7;
  track.default_size = 3;
  track.default_flags = kSampleNonSync;
  Bytes head = movie({track});
  struct Case {
    const char* name;
    Bytes tfhd;
    uint32_t duration, size, description;
  };
  std::vector<Case> cases = {
      {"from trex", tfhd(1), 7, 3, 1},
      {"duration from tfhd", tfhd(1, kTfhdDefaultDuration, u32(9)), 9, 3, 1},
      {"size from tfhd", tfhd(1, kTfhdDefaultSize, u32(5)), 7, 5, 1},
      {"all from tfhd", tfhd(1, kTfhdDescriptionIndex | kTfhdDefaultDuration | kTfhdDefaultSize | kTfhdDefaultFlags,
                             cat({u32(2), u32(11), u32(6), u32(0)})),
       11, 6, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The second run follows the first one's data.
    Tree tree(cat({head, moof(box("traf", cat({c.tfhd, trun(0, std::vector<Sample>(3)), trun(0, std::vector<Sample>(1))}))),
                   box("mdat", zeros(64))}));
    ASSERT_EQ(tree.result, ErrorCode::Ok);
    Tables t = tables_of(tree.track(1));
    EXPECT_EQ(t.stts, (std::vector<std::pair<uint32_t, uint32_t>>{{4, c.duration}}));
    EXPECT_EQ(t.sizes, std::vector<uint32_t>(4, c.size));
    EXPECT_EQ(t.stsc, (std::vector<std::array<uint32_t, 3>>{{1, 3, c.description}, {2, 1, c.description}}));
    EXPECT_EQ(t.offsets, (std::vector<uint64_t>{head.size(), head.size() + 3 * c.size}));
  }
}

TEST(Fragments, BaseDataOffsets) {
  Track audio;
  audio.handler = "soun";
  audio.id = 2;
  Bytes head = movie({Track{}, audio});
  uint64_t moof_start = head.size();
  // Track 1's fragment always comes first: no base of its own and a run of
  // 30 + 20 bytes, so its data starts at the 'moof' and ends 50 bytes on.
  Bytes first = box("traf", cat({tfhd(1), trun(kSized, sized({30, 20}))}));
  struct Case {
    const char* name;
    Bytes second;
    uint64_t expected;  // track 2's chunk offset
  };
  std::vector<Case> cases = {
      {"after the previous fragment's data", box("traf", cat({tfhd(2), trun(kSized, sized({8}))})), moof_start + 50},
      {"data offset from the previous fragment's end",
       box("traf", cat({tfhd(2), trun(kSized | kTrunDataOffset, sized({8}), 4)})), moof_start + 54},
      {"base is the moof", box("traf", cat({tfhd(2, kTfhdDefaultBaseIsMoof), trun(kSized | kTrunDataOffset, sized({8}), 300)})),
       moof_start + 300},
      {"base is the moof, no data offset", box("traf", cat({tfhd(2, kTfhdDefaultBaseIsMoof), trun(kSized, sized({8}))})),
       moof_start},
      {"explicit base", box("traf", cat({tfhd(2, kTfhdBaseDataOffset, u64(5000)), trun(kSized | kTrunDataOffset, sized({8}), -8)})),
       4992},
      {"explicit base wins over the moof flag",
       box("traf", cat({tfhd(2, kTfhdBaseDataOffset | kTfhdDefaultBaseIsMoof, u64(5000)), trun(kSized, sized({8}))})),
       5000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tree tree(cat({head, moof(cat({first, c.second})), box("mdat", zeros(6000))}));
    ASSERT_EQ(tree.result, ErrorCode::Ok);
    EXPECT_EQ(tables_of(tree.track(1)).offsets, (std::vector<uint64_t>{moof_start}));
    EXPECT_EQ(tables_of(tree.track(2)).offsets, (std::vector<uint64_t>{c.expected}));
  }
}

TEST(Fragments, ASecondMoofStartsFromItsOwnStart) {
  Bytes head = movie({Track{}});
  Bytes one = moof(box("traf", cat({tfhd(1), trun(kSized, sized({4}))})));
  Tree tree(cat({head, one, one}));
  ASSERT_EQ(tree.result, ErrorCode::Ok);
  EXPECT_EQ(tables_of(tree.track(1)).offsets, (std::vector<uint64_t>{head.size(), head.size() + one.size()}));
}

// Every sample of a hand-made fragmented file is read from its own bytes:
// two tracks per fragment, offsets counted from the 'moof'.
TEST(Fragments, SamplesReadFromTheirBytes) {
  Track audio;
  audio.handler = "soun";
  audio.id = 2;
  Bytes head = movie({Track{}, audio});
  std::vector<uint32_t> video_sizes = {5, 3, 4}, audio_sizes = {2, 6};
  Bytes data;
  for (size_t i = 0; i < video_sizes.size(); ++i) data.insert(data.end(), video_sizes[i], static_cast<uint8_t>(0x10 + i));
  for (size_t i = 0; i < audio_sizes.size(); ++i) data.insert(data.end(), audio_sizes[i], static_cast<uint8_t>(0x20 + i));
  auto build = [&](int32_t video_at, int32_t audio_at) {
    return moof(cat({box("traf", cat({tfhd(1, kTfhdDefaultBaseIsMoof), trun(kSized | kTrunDataOffset, sized(video_sizes), video_at)})),
                     box("traf", cat({tfhd(2, kTfhdDefaultBaseIsMoof), trun(kSized | kTrunDataOffset, sized(audio_sizes), audio_at)}))}));
  };
  int32_t mdat_payload = static_cast<int32_t>(build(0, 0).size()) + 8;
  Bytes file = cat({head, build(mdat_payload, mdat_payload + 12), box("mdat", data)});

  MemoryPair pair{file.data(), static_cast<uint32_t>(file.size())};
  OpenParams params{};
  params.routines = memory_routines();
  params.path = &pair;
  MediaFile* opened = nullptr;
  ASSERT_EQ(media_open(&opened, &params, kOpenRead), ErrorCode::Ok);
  struct Want {
    uint32_t track;
    std::vector<uint32_t> sizes;
    uint8_t first_value;
  };
  for (const Want& w : {Want{1, video_sizes, 0x10}, Want{2, audio_sizes, 0x20}}) {
    SCOPED_TRACE(w.track);
    uint32_t index = 0;
    uint64_t time = 0;
    ASSERT_EQ(track_seek(opened, w.track, 0, &index, &time, 0, 0), ErrorCode::Ok);
    for (size_t i = 0; i < w.sizes.size(); ++i) {
      uint8_t buffer[16] = {};
      SampleRead s{};
      s.buffer = buffer;
      s.capacity = sizeof buffer;
      ASSERT_EQ(read_next_sample(opened, w.track, &s), ErrorCode::Ok);
      ASSERT_EQ(s.size, w.sizes[i]);
      EXPECT_EQ(Bytes(buffer, buffer + s.size), Bytes(w.sizes[i], static_cast<uint8_t>(w.first_value + i)));
    }
  }
  media_close(opened);
}

// ---- Sync samples and composition offsets ---------------------------------------------

TEST(Fragments, SyncSamples) {
  constexpr uint32_t kNon = kSampleNonSync;
  constexpr uint32_t kWithFlags = kSized | kTrunFlags;
  auto flagged = [](std::vector<uint32_t> flags) {
    std::vector<Sample> out;
    for (uint32_t f : flags) out.push_back({10, 1, f, 0});
    return out;
  };
  struct Case {
    const char* name;
    Track track;
    std::vector<Bytes> runs;
    std::optional<std::vector<uint32_t>> stss;
    uint32_t default_flags = kNon;
  };
  Track video, audio, video_with_table;
  audio.handler = "soun";
  video_with_table.empty_stss = true;
  std::vector<Case> cases = {
      {"video starting with a sync sample", video, {trun(kWithFlags, flagged({0, kNon, kNon, 0, kNon}))},
       std::vector<uint32_t>{1, 4}},
      {"first-sample flags", video,
       {trun(kSized | kTrunFirstSampleFlags, std::vector<Sample>(3, Sample{10, 1, 0, 0}), 0, 0)},
       std::vector<uint32_t>{1}},
      {"runs continue the numbering", video,
       {trun(kWithFlags, flagged({0, kNon})), trun(kWithFlags, flagged({kNon, 0}))}, std::vector<uint32_t>{1, 4}},
      // The first non-sync sample of a video track brings the table, so the
      // samples after it are not all taken for sync samples.
      {"video starting with a non-sync sample", video, {trun(kWithFlags, flagged({kNon, 0, kNon}))},
       std::vector<uint32_t>{2}},
      {"video whose sync samples end", video, {trun(kWithFlags, flagged({0, 0, kNon, 0}))},
       std::vector<uint32_t>{1, 2, 4}},
      {"audio", audio, {trun(kWithFlags, flagged({0, kNon, 0}))}, std::nullopt},
      {"a table from the movie", video_with_table, {trun(kWithFlags, flagged({kNon, 0, kNon, 0}))},
       std::vector<uint32_t>{2, 4}},
      {"defaults only, first-sample flags", video,
       {trun(kTrunFirstSampleFlags, std::vector<Sample>(3), 0, 0), trun(kTrunFirstSampleFlags, std::vector<Sample>(2), 0, 0)},
       std::vector<uint32_t>{1, 4}},
      {"defaults only, every sample sync", video, {trun(0, std::vector<Sample>(3)), trun(0, std::vector<Sample>(2))},
       std::vector<uint32_t>{1, 2, 3, 4, 5}, 0},
      {"defaults only, a non-sync first sample", video,
       {trun(kTrunFirstSampleFlags, std::vector<Sample>(3), 0, kNon)}, std::vector<uint32_t>{2, 3}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes traf = tfhd(1, kTfhdDefaultFlags, u32(c.default_flags));
    for (const Bytes& r : c.runs) traf = cat({traf, r});
    Tree tree(cat({movie({c.track}), moof(box("traf", traf)), box("mdat", zeros(16))}));
    ASSERT_EQ(tree.result, ErrorCode::Ok);
    EXPECT_EQ(tables_of(tree.track(1)).stss, c.stss);
  }
}

TEST(Fragments, CompositionOffsets) {
  using Ctts = std::vector<std::pair<uint32_t, int32_t>>;
  auto offsets = [](std::vector<int32_t> values) {
    std::vector<Sample> out;
    for (int32_t v : values) out.push_back({10, 1, 0, v});
    return out;
  };
  constexpr uint32_t kWithOffsets = kSized | kTrunCompositionOffset;
  struct Case {
    const char* name;
    Track track;
    std::vector<Bytes> runs;
    std::optional<Ctts> ctts;
  };
  Track video, audio, audio_with_table;
  audio.handler = "soun";
  audio_with_table.handler = "soun";
  audio_with_table.empty_ctts = true;
  std::vector<Case> cases = {
      {"video", video, {trun(kWithOffsets, offsets({20, 0, 10, 10}))}, Ctts{{1, 20}, {1, 0}, {2, 10}}},
      {"video whose first offset is 0", video, {trun(kWithOffsets, offsets({0, 20}))}, Ctts{{1, 0}, {1, 20}}},
      {"video whose first run has none", video,
       {trun(kSized, sized({1, 1, 1})), trun(kWithOffsets, offsets({0, 20, 10}))}, Ctts{{4, 0}, {1, 20}, {1, 10}}},
      {"video whose offsets are all 0 after the first run", video,
       {trun(kSized, sized({1, 1})), trun(kWithOffsets, offsets({0, 0}))}, std::nullopt},
      {"a run without offsets after one with them", video,
       {trun(kWithOffsets, offsets({20, 10})), trun(kSized, sized({1, 1}))}, Ctts{{1, 20}, {1, 10}, {2, 0}}},
      {"defaults only after offsets", video, {trun(kWithOffsets, offsets({20, 10})), trun(0, std::vector<Sample>(3))},
       Ctts{{1, 20}, {1, 10}, {3, 0}}},
      {"version 1 offsets are signed", video, {trun(kWithOffsets, offsets({0, -20, 10}), 0, 0, 1)},
       Ctts{{1, 0}, {1, -20}, {1, 10}}},
      {"audio drops them", audio, {trun(kWithOffsets, offsets({0, 20, 10}))}, std::nullopt},
      {"audio with a table keeps them", audio_with_table, {trun(kWithOffsets, offsets({0, 20}))}, Ctts{{1, 0}, {1, 20}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes traf = tfhd(1);
    for (const Bytes& r : c.runs) traf = cat({traf, r});
    Tree tree(cat({movie({c.track}), moof(box("traf", traf)), box("mdat", zeros(16))}));
    ASSERT_EQ(tree.result, ErrorCode::Ok);
    EXPECT_EQ(tables_of(tree.track(1)).ctts, c.ctts);
  }
}

// ---- What is kept besides the tables ---------------------------------------------------------

TEST(Fragments, TheFirstDecodeTimeOfEachTrackIsKept) {
  Track audio;
  audio.handler = "soun";
  audio.id = 2;
  Track text = audio;
  text.id = 3;
  Bytes head = movie({Track{}, audio, text});
  auto tfdt = [](uint8_t version, uint64_t t) {
    return full_box("tfdt", version, 0, version == 1 ? u64(t) : u32(static_cast<uint32_t>(t)));
  };
  Bytes first = moof(cat({box("traf", cat({tfhd(1), tfdt(1, 0x100000000ull), trun(kSized, sized({1}))})),
                          box("traf", cat({tfhd(2), tfdt(0, 4000), trun(kSized, sized({1}))}))}));
  Bytes second = moof(cat({box("traf", cat({tfhd(1), tfdt(1, 99), trun(kSized, sized({1}))})),
                           box("traf", cat({tfhd(2), tfdt(0, 5000), tfdt(0, 6000), trun(kSized, sized({1}))}))}));
  Tree tree(cat({head, first, second, box("mdat", zeros(8))}));
  ASSERT_EQ(tree.result, ErrorCode::Ok);
  ASSERT_NE(tree.track(1)->extra, nullptr);
  EXPECT_EQ(tree.track(1)->extra->first_fragment_time, 0x100000000ull);
  ASSERT_NE(tree.track(2)->extra, nullptr);
  EXPECT_EQ(tree.track(2)->extra->first_fragment_time, 4000u);
  // A track without fragments has no time.
  TrackExtra* none = track_extra(tree.track(3));
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->first_fragment_time, none64());
}

TEST(Fragments, InspectModeLeavesTheTablesAsTheMovieGaveThem) {
  Track video;
  video.empty_stss = true;
  Bytes file = cat({movie({video}), moof(box("traf", cat({tfhd(1), full_box("tfdt", 0, 0, u32(7)),
                                                           trun(kSized, sized({4, 4}))})))});
  Tree inspected(file, kOpenInspect);
  ASSERT_EQ(inspected.result, ErrorCode::Ok);
  EXPECT_EQ(sample_count(inspected.track(1)), 0u);
  EXPECT_EQ(inspected.track(1)->extra, nullptr);
  // The same file read does take the run.
  Tree read(file);
  ASSERT_EQ(read.result, ErrorCode::Ok);
  EXPECT_EQ(sample_count(read.track(1)), 2u);
}

// ---- Damaged fragments ------------------------------------------------------------------------

TEST(Fragments, DamagedFragmentsFailCleanly) {
  Track plain;
  Track sizeless;
  sizeless.default_size = 0;
  Track without_trex;
  without_trex.trex = false;
  Track without_stco;
  without_stco.stco = false;
  Track sized_default;
  sized_default.default_size = 100;
  struct Case {
    const char* name;
    Track track;
    Bytes traf;
    ErrorCode expected;
  };
  std::vector<Case> cases = {
      {"tfhd of a track the movie lacks", plain, cat({tfhd(9), trun(kSized, sized({1}))}), ErrorCode::Missing},
      {"tfhd of a track without trex", without_trex, cat({tfhd(1), trun(kSized, sized({1}))}), ErrorCode::Missing},
      {"trun before tfhd", plain, cat({trun(kSized, sized({1})), tfhd(1)}), ErrorCode::Missing},
      {"trun of a track without chunk offsets", without_stco, cat({tfhd(1), trun(kSized, sized({1}))}),
       ErrorCode::Missing},
      {"tfhd cut before its track id", plain, full_box("tfhd", 0, 0, u16(0)), ErrorCode::Malformed},
      {"tfhd cut before its base offset", plain, cat({tfhd(1, kTfhdBaseDataOffset, u32(0))}), ErrorCode::Malformed},
      {"trun cut before its data offset", plain, cat({tfhd(1), full_box("trun", 0, kTrunDataOffset, u32(1))}),
       ErrorCode::Malformed},
      {"trun count larger than its box", plain,
       cat({tfhd(1), full_box("trun", 0, kTrunSize, cat({u32(1000000), u32(4), u32(4)}))}), ErrorCode::Malformed},
      {"trun count just beyond its box", plain,
       cat({tfhd(1), full_box("trun", 0, kSized, cat({u32(2), u32(1), u32(1), u32(1)}))}), ErrorCode::Malformed},
      {"default-sized run beyond the file", sized_default, cat({tfhd(1), full_box("trun", 0, 0, u32(0x7FFFFFFF))}),
       ErrorCode::Malformed},
      {"empty samples past the limit", sizeless,
       cat({tfhd(1), full_box("trun", 0, 0, u32(kMaxEmptyRunSamples + 1))}), ErrorCode::Malformed},
      {"empty samples within the limit", sizeless, cat({tfhd(1), full_box("trun", 0, 0, u32(1000))}), ErrorCode::Ok},
      {"a run of no samples", plain, cat({tfhd(1), full_box("trun", 0, kTrunSize, u32(0))}), ErrorCode::Ok},
      {"tfdt cut short", plain, cat({tfhd(1), full_box("tfdt", 1, 0, u32(0))}), ErrorCode::Malformed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tree tree(cat({movie({c.track}), moof(box("traf", c.traf))}));
    EXPECT_EQ(tree.result, c.expected);
    if (c.expected != ErrorCode::Ok) {
      EXPECT_NE(tree.file->detail.reason, nullptr);
    }
  }
  // A run before its 'tfhd' does not borrow the track of the fragment before.
  Tree borrowed(cat({movie({plain}), moof(cat({box("traf", cat({tfhd(1), trun(kSized, sized({1}))})),
                                                 box("traf", cat({trun(kSized, sized({1})), tfhd(1)}))}))}));
  EXPECT_EQ(borrowed.result, ErrorCode::Missing);
}

// Runs may each lie within the file and still, together, declare more
// samples than it could hold: one sample per byte plus a margin of empty
// ones is what all fragments may add.
TEST(Fragments, AllRunsTogetherStayWithinTheFile) {
  Track audio;
  audio.handler = "soun";
  Bytes head = movie({audio});
  auto build = [&](uint32_t second) {
    return cat({head, moof(box("traf", cat({tfhd(1), full_box("trun", 0, 0, u32(kMaxEmptyRunSamples)),
                                             full_box("trun", 0, 0, u32(second))})))});
  };
  uint32_t length = static_cast<uint32_t>(build(0).size());
  Tree fits(build(length));
  ASSERT_EQ(fits.result, ErrorCode::Ok);
  EXPECT_EQ(sample_count(fits.track(1)), kMaxEmptyRunSamples + length);
  Tree over(build(length + 1));
  EXPECT_EQ(over.result, ErrorCode::Malformed);
}

// Runs that take the default size are bounded by the file: one that ends
// exactly at its end is read, one that ends a byte later is refused.
TEST(Fragments, DefaultSizedRunsEndWithinTheFile) {
  Track track;
  track.default_size = 100;
  Bytes head = movie({track});
  auto file_ending_at = [&](int64_t beyond) {
    auto build = [&](uint64_t base) {
      return cat({head, moof(box("traf", cat({tfhd(1, kTfhdBaseDataOffset, u64(base)), full_box("trun", 0, 0, u32(3))})))});
    };
    uint64_t length = build(0).size();
    return build(length - 300 + static_cast<uint64_t>(beyond));
  };
  Tree exact(file_ending_at(0));
  ASSERT_EQ(exact.result, ErrorCode::Ok);
  EXPECT_EQ(tables_of(exact.track(1)).sizes, (std::vector<uint32_t>{100, 100, 100}));
  Tree over(file_ending_at(1));
  EXPECT_EQ(over.result, ErrorCode::Malformed);
}

}  // namespace
}  // namespace vantorel
