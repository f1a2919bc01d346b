// How the engine decides what it carries and rebuilds each track's codec
// configuration from the input's records.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/output_namer.h"
#include "app/run_state.h"
#include "boxes/hdlr.h"
#include "boxes/tref.h"
#include "mediafile/hand_made.h"
#include "remux/track_plan.h"
#include "robust/malformed_support.h"
#include "sampletables/sample_groups.h"
#include "sampletables/small_configs.h"
#include "sampletables/stsd.h"
#include "sampletables/stsd_support.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

Bytes visual_entry_box(const std::string& format, const Bytes& children) {
  Bytes fixed = cat({zeros(6), u16(1), zeros(16), u16(64), u16(48), u32(0x00480000), u32(0x00480000), u32(0), u16(1),
                     zeros(32), u16(24), u16(0xFFFF)});
  return box(format, cat({fixed, children}));
}

struct Input {
  Bytes bytes;
  MemoryPair pair{};
  MediaFile* file = nullptr;
  explicit Input(Bytes b) : bytes(std::move(b)) {
    pair = MemoryPair{bytes.data(), static_cast<uint32_t>(bytes.size())};
    OpenParams p{};
    p.routines = memory_routines();
    p.path = &pair;
    EXPECT_EQ(media_open(&file, &p, kOpenRead), ErrorCode::Ok);
  }
  ~Input() { media_close(file); }
};

HandTrack frames(uint32_t n) {
  HandTrack t;
  for (uint32_t i = 0; i < n; ++i) t.sizes.push_back(20);
  t.stts = {{n, 40}};
  return t;
}

// An entry that holds its configuration goes out as read, 'fiel' and all,
// rather than rebuilt from the fields the builder knows.
TEST(CodecTable, EntriesWithTheirConfigurationGoOutWhole) {
  struct Case {
    const char* name;
    Bytes entry;
    uint32_t handler_kind;
  };
  const Case cases[] = {
      {"Motion JPEG B, both fields", visual_entry_box("mjpb", box("fiel", cat({u8(2), u8(14)}))), kHandlerVideo},
      {"Motion JPEG A, one field", visual_entry_box("mjpa", box("fiel", cat({u8(1), u8(0)}))), kHandlerVideo},
      {"MPEG-4 Visual with its 'esds' and a 'pasp'",
       visual_entry_box("mp4v", cat({box("esds", hex("00000000 03 19 0001 00 04 11 20 11 000000 00000000 00000000 05 02 0000 06 01 02")),
                                     box("pasp", cat({u32(4), u32(3)}))})),
       kHandlerVideo},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HandTrack t = frames(3);
    t.entries = {c.entry};
    Input in(hand_made_file({t}));
    ASSERT_NE(in.file, nullptr);
    TrackInfo info;
    ASSERT_EQ(track_info(in.file, 1, &info), ErrorCode::Ok);
    PlannedTrack row{};
    uint32_t reason = 99;
    ASSERT_EQ(classify_track(in.file, kOutputMp4, &info, &row, &reason), ErrorCode::Ok);
    EXPECT_EQ(reason, 0u);
    TrackSpec track_spec;
    ASSERT_EQ(build_track_spec(in.file, &row, &info, &track_spec, &reason), ErrorCode::Ok);
    ASSERT_EQ(track_spec.kind, kKindWhole);
    EXPECT_EQ(track_spec.codec.whole.handler_kind, c.handler_kind);
    EXPECT_EQ(track_spec.codec.whole.entry_count, 1u);
    EXPECT_EQ(Bytes(track_spec.codec.whole.entries, track_spec.codec.whole.entries + track_spec.codec.whole.entries_size),
              c.entry);
  }
}

// What the rebuilt entries cannot describe is carried as read; only what
// the output cannot hold is left out.
TEST(CodecTable, TracksThatSwitchDescriptionsAndMissingConfigurations) {
  struct Case {
    const char* name;
    std::vector<Bytes> entries;
    uint32_t reason;
  };
  Bytes plain = visual_entry_box("mp4v", {});
  Bytes wider = visual_entry_box("mp4v", box("btrt", zeros(12)));
  const Case cases[] = {
      {"two equal descriptions", {plain, plain}, 0},
      {"two different descriptions, carried as read", {plain, wider}, 0},
      {"AVC without 'avcC', carried as read", {visual_entry_box("avc1", {})}, 0},
      {"VC-1 without 'dvc1', carried as read", {visual_entry_box("vc-1", {})}, 0},
      {"a format the remux does not carry", {visual_entry_box("qqqq", {})}, kDropCodec},
      {"HEVC, carried with its entry whole", {visual_entry_box("hvc1", box("hvcC", zeros(23)))}, 0},
      {"ProRes into an MP4", {visual_entry_box("apcn", {})}, kDropNeedsQuickTime},
      {"H.263 without 'd263' (derived)", {visual_entry_box("s263", {})}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HandTrack t = frames(4);
    t.entries = c.entries;
    Input in(hand_made_file({t}));
    ASSERT_NE(in.file, nullptr);
    uint32_t reason = 99;
    ASSERT_EQ(remux_track_verdict(in.file, 1, &reason), ErrorCode::Ok);
    EXPECT_EQ(reason, c.reason);
  }
}

// Runs the engine over a hand-made file and reads the output back.
struct Remuxed {
  TempDir dir;
  std::string out;
  MediaFile* file = nullptr;
  explicit Remuxed(const Bytes& input) {
    std::string in = dir.path("in.mp4");
    FILE* f = std::fopen(in.c_str(), "wb");
    std::fwrite(input.data(), 1, input.size(), f);
    std::fclose(f);
    out = dir.path("out.mp4");
    app::RunState state{};
    app::run_state_init(&state, in.c_str(), out.c_str(), nullptr);
    EXPECT_EQ(remux_run(in.c_str(), app::output_namer, nullptr, nullptr, nullptr, &state, nullptr), ErrorCode::Ok);
    app::run_state_release(&state);
    OpenParams p{};
    p.routines = std_routines();
    p.path = out.c_str();
    EXPECT_EQ(media_open(&file, &p, kOpenRead), ErrorCode::Ok);
  }
  ~Remuxed() { media_close(file); }
};

TEST(CodecTable, ReferencesKeepOnlyCarriedTracks) {
  HandTrack video = frames(3);
  video.tref_type = "sync";
  video.tref_ids = {2, 3};
  HandTrack text = frames(2);
  text.handler = "sbtl";
  text.track_id = 2;
  text.entries = {box("qqqq", zeros(8))};  // a format nobody carries
  HandTrack other = frames(3);
  other.track_id = 3;
  other.tref_type = "hint";
  other.tref_ids = {2};  // only a track that is left out
  Remuxed r(hand_made_file({video, text, other}));
  ASSERT_NE(r.file, nullptr);
  ASSERT_EQ(track_count(r.file->root), 2u);
  auto* tref = track_record<TrefRecord>(find_track(r.file->root, 1), BoxTypeId::Tref);
  ASSERT_NE(tref, nullptr);
  EXPECT_EQ(tref->reference_type, kReferenceSync);
  ASSERT_EQ(tref->track_ids.count, 1u);
  EXPECT_EQ(tref->track_ids[0], 3u);
  EXPECT_EQ(track_record<TrefRecord>(find_track(r.file->root, 3), BoxTypeId::Tref), nullptr);
}

TEST(CodecTable, MotionJpegFieldsSurviveTheRemux) {
  HandTrack t = frames(3);
  t.entries = {visual_entry_box("mjpa", box("fiel", cat({u8(2), u8(14)})))};
  Remuxed r(hand_made_file({t}));
  ASSERT_NE(r.file, nullptr);
  VisualSampleEntry* entry = visual_entry(r.file, find_track(r.file->root, 1), 0);
  ASSERT_NE(entry, nullptr);
  EXPECT_TRUE(entry->format == "mjpa");
  ASSERT_NE(entry->fiel, nullptr);
  EXPECT_EQ(entry->fiel->field_count, 2);
  EXPECT_EQ(entry->fiel->field_ordering, 14);
}

// Parameter sets that change mid-way: two 'avc1' descriptions, the samples
// switching between them in runs. Every sample keeps its own description,
// and both descriptions go out as read.
TEST(CodecTable, SamplesKeepTheirOwnDescription) {
  Bytes first = visual_entry_box("avc1", box("avcC", hex("01640015 ffe1 0004 6764001e 01 0004 68ee3cb0")));
  Bytes second = visual_entry_box("avc1", box("avcC", hex("0164001f ffe1 0004 6764001f 01 0004 68ebe3cb")));
  HandTrack t = frames(7);
  t.entries = {first, second};
  // Chunks of two samples: descriptions 1, 2, 2, 1 (the last chunk holds one).
  t.stsc = {{1, 2, 1}, {2, 2, 2}, {4, 2, 1}};
  t.stss = {1, 3, 5, 7};
  Remuxed r(hand_made_file({t}));
  ASSERT_NE(r.file, nullptr);
  auto* stsd = track_record<SampleDescriptionTable>(find_track(r.file->root, 1), BoxTypeId::Stsd);
  ASSERT_NE(stsd, nullptr);
  ASSERT_EQ(stsd->whole_entry_count, 2u);
  EXPECT_EQ(Bytes(stsd->whole_entries.bytes, stsd->whole_entries.bytes + stsd->whole_entries.length),
            cat({first, second}));
  std::vector<uint32_t> descriptions;
  std::vector<Bytes> samples;
  std::vector<uint8_t> buffer(64);
  for (;;) {
    SampleRead s{};
    s.buffer = buffer.data();
    s.capacity = static_cast<uint32_t>(buffer.size());
    if (read_next_sample(r.file, 1, &s) != ErrorCode::Ok) break;
    descriptions.push_back(s.description_index);
    samples.emplace_back(buffer.begin(), buffer.begin() + s.size);
  }
  EXPECT_EQ(descriptions, (std::vector<uint32_t>{1, 1, 2, 2, 2, 2, 1}));
  ASSERT_EQ(samples.size(), t.sizes.size());
  for (size_t i = 0; i < samples.size(); ++i) EXPECT_EQ(samples[i], Bytes(t.sizes[i], static_cast<uint8_t>(i + 1)));
}

// Sample groups, dependencies and sub-samples follow their samples.
TEST(CodecTable, SampleGroupsDependenciesAndSubsamplesFollowTheirSamples) {
  HandTrack t = frames(6);
  t.stss = {1, 4};
  Bytes plain = hand_made_file({t});
  Bytes sgpd = full_box("sgpd", 1, 0, cat({text("roll"), u32(2), u32(1), u16(0xFFFF)}));
  Bytes sbgp = full_box("sbgp", 0, 0, cat({text("roll"), u32(2), u32(2), u32(1), u32(4), u32(0)}));
  Bytes dependencies = {0x20, 0x10, 0x10, 0x20, 0x18, 0x10};
  Bytes sdtp = full_box("sdtp", 0, 0, dependencies);
  Bytes second = cat({u16(5), u8(1), u8(0), u32(7), u16(15), u8(0), u8(1), u32(0)});
  Bytes fifth = cat({u16(20), u8(0), u8(0), u32(9)});
  Bytes subs = full_box("subs", 0, 0, cat({u32(2), u32(2), u16(2), second, u32(3), u16(1), fifth}));
  const std::vector<std::string> stss = {"moov", "trak", "mdia", "minf", "stbl", "stss"};
  BoxAt at = locate(plain, stss);
  Bytes stss_box(plain.begin() + static_cast<long>(at.start), plain.begin() + static_cast<long>(at.start + at.size));
  Remuxed r(replace_box(plain, stss, cat({stss_box, sgpd, sbgp, sdtp, subs})));
  ASSERT_NE(r.file, nullptr);
  SampleGroupsRecord* g = sample_groups(find_track(r.file->root, 1));
  ASSERT_NE(g, nullptr);
  ASSERT_EQ(g->descriptions.count, 1u);
  EXPECT_EQ(Bytes(g->descriptions[0].bytes, g->descriptions[0].bytes + g->descriptions[0].length), sgpd);
  ASSERT_EQ(g->groupings.count, 1u);
  std::vector<uint32_t> groups;
  for (const GroupRun& run : g->groupings[0].runs) groups.insert(groups.end(), run.sample_count, run.group_index);
  EXPECT_EQ(groups, (std::vector<uint32_t>{1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(Bytes(g->dependencies.begin(), g->dependencies.end()), dependencies);
  ASSERT_EQ(g->subsamples.count, 2u);
  EXPECT_EQ(g->subsamples[0].sample, 1u);
  EXPECT_EQ(g->subsamples[1].sample, 4u);
  EXPECT_EQ(Bytes(g->subsample_bytes.begin(), g->subsample_bytes.end()), cat({second, fifth}));
}

}  // namespace
}  // namespace vantorel
