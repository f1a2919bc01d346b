// VC-1 in transport streams (stream type 0xEA), from streams the test
// writes: each frame one sample holding its bytes as the PES carried them
// (with the sequence header of a PES of its own before it),
// sync samples where an entry point leads an I frame, times from the PES
// timestamps, 'vc-1' with the exact 'dvc1'; frames before a usable sequence
// header, and B frames that lead an open entry point's I frame at the
// start, left out; a stream without a sequence header left out with a note.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "codecs/eac3_frames.h"
#include "codecs/vc1_stream.h"
#include "import/mpegts/ts_builder.h"
#include "mediafile/mediafile.h"
#include "io/byte_io.h"
#include "support/box_builder.h"
#include "support/compare.h"
#include "support/ffprobe.h"
#include "support/md5.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

constexpr uint16_t kPid = 0x1011;
constexpr int64_t kFrame = 3750;  // 24 frames a second

struct Frame {
  ts::Bytes bytes;
  int64_t pts, dts;
  bool key;      // an entry point and a whole sequence header lead its I frame
  bool kept;     // the MP4 holds it
  size_t apart = 0;  // leading bytes written in a PES of their own, timed as the rest
};

struct Plan {
  Vc1SequenceFields sequence;
  uint32_t gops = 4;
  bool sequence_every_gop = true;
  bool closed = true;
  bool cut_first_sequence = false;  // the first GOP's sequence header lost its last bytes
  uint32_t frames_before = 0;       // P and B frames before any header
  bool sequence_apart = false;      // each sequence header in a PES of its own
  std::vector<Vc1SequenceFields> per_gop;  // when given, each GOP's sequence header (every GOP has one)
};

// Each GOP in decode order: I P B P B (closed) or I B P B P with the B
// after the I shown before it (open), five frames shown one after another.
std::vector<Frame> frames_of(const Plan& p) {
  std::vector<Frame> out;
  const bool il = p.sequence.interlace;
  // An I frame: a field pair I/P when interlaced.
  auto intra = [&](uint8_t seed) {
    return il ? vc1_frame(true, Vc1Coding::FieldPair, 1, 3, 40, seed)
              : vc1_frame(false, Vc1Coding::Progressive, kVc1I.bits, kVc1I.length, 60, seed);
  };
  auto coded = [&](Vc1Type t, uint32_t size, uint8_t seed) {
    return vc1_frame(il, il ? Vc1Coding::InterlacedFrame : Vc1Coding::Progressive, t.bits, t.length, size, seed);
  };
  uint32_t decoded = 0, shown = 0;
  auto add = [&](ts::Bytes bytes, uint32_t display, bool key, bool kept) {
    out.push_back({std::move(bytes), 90000 + int64_t{display} * kFrame, 90000 + (int64_t{decoded} - 1) * kFrame, key,
                   kept});
    ++decoded;
  };
  for (uint32_t i = 0; i < p.frames_before; ++i, ++shown)
    add(coded(i % 2 == 0 ? kVc1P : kVc1B, 20, static_cast<uint8_t>(i)), shown, false, false);
  bool usable = false;  // a whole sequence header came
  for (uint32_t g = 0; g < p.gops; ++g, shown += 5) {
    ts::Bytes headers;
    if (g == 0 || p.sequence_every_gop) {
      headers = vc1_sequence(g < p.per_gop.size() ? p.per_gop[g] : p.sequence);
      if (g == 0 && p.cut_first_sequence) headers.resize(headers.size() - 3);
      else usable = true;
    }
    const size_t apart = p.sequence_apart ? headers.size() : 0;
    const ts::Bytes entry = vc1_entry_point(false, p.closed, p.sequence.hrd_buckets);
    headers.insert(headers.end(), entry.begin(), entry.end());
    const uint8_t seed = static_cast<uint8_t>(16 * g);
    ts::Bytes key = headers;
    const ts::Bytes picture = intra(seed);
    key.insert(key.end(), picture.begin(), picture.end());
    if (p.closed) {
      add(key, shown, usable, usable);
      out.back().apart = apart;
      add(coded(kVc1P, 30, seed + 1), shown + 2, false, usable);
      add(coded(kVc1B, 12, seed + 2), shown + 1, false, usable);
      add(coded(kVc1P, 31, seed + 3), shown + 4, false, usable);
      add(coded(kVc1B, 13, seed + 4), shown + 3, false, usable);
    } else {
      // The first B frame references the GOP before: at the start it is left out.
      add(key, shown + 1, usable, usable);
      add(coded(kVc1B, 12, seed + 2), shown, false, usable && g > 0);
      add(coded(kVc1P, 30, seed + 1), shown + 3, false, usable);
      add(coded(kVc1B, 13, seed + 4), shown + 2, false, usable);
      add(coded(kVc1P, 31, seed + 3), shown + 4, false, usable);
    }
  }
  return out;
}

// With `audio`, E-AC-3 frames beside the video (the file keeps a track
// when the video is left out).
std::string write_stream(const TempDir& dir, const std::string& name, const std::vector<Frame>& frames, bool hdmv,
                         bool audio = false) {
  constexpr uint16_t kAudioPid = 0x1100;
  ts::Writer w;
  w.table(0, ts::pat({{1, 0x100}}));
  std::vector<ts::EsEntry> streams = {{0xEA, kPid, {}}};
  if (audio) streams.push_back({0x87, kAudioPid, {}});
  w.table(0x100, ts::pmt(1, kPid, streams, hdmv ? ts::registration("HDMV") : ts::Bytes{}));
  for (int k = 0; audio && k < 6; ++k) {
    ts::PesFields fields;
    fields.stream_id = 0xFD;
    fields.pts = 90000 + k * 2880;
    w.unit(kAudioPid, ts::pes(fields, eac3_frame(0, 0, 512, 7, 1)));
  }
  for (const Frame& f : frames) {
    ts::PesFields fields;
    fields.stream_id = 0xFD;
    fields.pts = f.pts;
    fields.dts = f.dts;
    const auto split = f.bytes.begin() + static_cast<long>(f.apart);
    if (f.apart > 0) w.unit(kPid, ts::pes(fields, ts::Bytes(f.bytes.begin(), split)), f.key);
    w.unit(kPid, ts::pes(fields, ts::Bytes(split, f.bytes.end())), f.key && f.apart == 0);
  }
  const ts::Bytes file = w.bytes(hdmv ? 192 : 188);
  const std::string path = dir.path(name + (hdmv ? ".m2ts" : ".ts"));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return path;
}

TEST(TsVc1, FramesBecomeSamplesWithTheirHeaders) {
  TempDir dir;
  Plan progressive{};
  Plan fields{};
  fields.sequence.level = 3;
  fields.sequence.coded_width = 1920;
  fields.sequence.coded_height = 1088;
  fields.sequence.interlace = true;
  fields.sequence.display = true;
  fields.sequence.display_width = 1920;
  fields.sequence.display_height = 1080;
  fields.sequence.rate_nr = 1;
  fields.sequence.rate_dr = 2;
  fields.sequence.hrd_buckets = 1;
  fields.sequence_every_gop = false;
  Plan open{};
  open.closed = false;
  Plan late{};
  late.frames_before = 3;
  Plan cut{};
  cut.cut_first_sequence = true;
  Plan apart{};
  apart.sequence_apart = true;
  struct Case {
    const char* name;
    Plan plan;
    bool hdmv;
    uint32_t width, height;     // the entry's: the largest coded size
    uint32_t shown_width, shown_height;  // the track's
    uint8_t dvc1_head[7];       // 'dvc1' before its header block
    bool probed;                // ffprobe reads the input (a cut sequence header stops it)
  };
  const std::vector<Case> cases = {
      // Level 2, no interlace, one sequence header per entry point (repeated), no slices,
      // B frames; no frame rate in the header.
      {"progressive, headers every GOP, M2TS", progressive, true, 1280, 720, 1280, 720,
       {0xC4, 0x40, 0x24, 0xFF, 0xFF, 0xFF, 0xFF}, true},
      // Level 3, interlaced, one sequence header, entry points repeated; 24000/1001 rounds to 24.
      {"field pairs, display extension, one sequence header", fields, false, 1920, 1088, 1920, 1080,
       {0xC6, 0x60, 0x14, 0x00, 0x00, 0x00, 0x18}, true},
      {"open entry points", open, true, 1280, 720, 1280, 720, {0xC4, 0x40, 0x24, 0xFF, 0xFF, 0xFF, 0xFF}, true},
      {"frames before the first sequence header", late, true, 1280, 720, 1280, 720,
       {0xC4, 0x40, 0x24, 0xFF, 0xFF, 0xFF, 0xFF}, true},
      {"first sequence header cut", cut, true, 1280, 720, 1280, 720, {0xC4, 0x40, 0x24, 0xFF, 0xFF, 0xFF, 0xFF},
       false},
      {"sequence headers in PES packets of their own", apart, true, 1280, 720, 1280, 720,
       {0xC4, 0x40, 0x24, 0xFF, 0xFF, 0xFF, 0xFF}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Frame> frames = frames_of(c.plan);
    const std::string in = write_stream(dir, c.name, frames, c.hdmv), out = dir.path(std::string(c.name) + ".mp4");
    std::string said, error;
    ASSERT_EQ(remux_command(in, out, &said, true), 0) << said;
    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
    ASSERT_EQ(tracks.size(), 1u);
    const LibraryTrack& t = tracks[0];
    EXPECT_EQ(t.fourcc, "vc-1");
    EXPECT_EQ(t.width, c.width);
    EXPECT_EQ(t.height, c.height);
    // The header block: the first whole sequence header and the entry point after it.
    ts::Bytes head(c.dvc1_head, c.dvc1_head + 7);
    ts::Bytes block = vc1_sequence(c.plan.sequence);
    const ts::Bytes entry = vc1_entry_point(false, c.plan.closed, c.plan.sequence.hrd_buckets);
    block.insert(block.end(), entry.begin(), entry.end());
    head.insert(head.end(), block.begin(), block.end());
    const std::vector<uint8_t> file = read_whole_file(out);
    EXPECT_EQ(first_box_payload(file, "dvc1"), head);
    const ts::Bytes tkhd = first_box_payload(file, "tkhd");
    const size_t size_at = tkhd.empty() || tkhd[0] == 0 ? 76 : 88;
    ASSERT_GE(tkhd.size(), size_at + 8);
    EXPECT_EQ(load_u32be(tkhd.data() + size_at) >> 16, c.shown_width);
    EXPECT_EQ(load_u32be(tkhd.data() + size_at + 4) >> 16, c.shown_height);
    std::vector<const Frame*> kept;
    for (const Frame& f : frames)
      if (f.kept) kept.push_back(&f);
    ASSERT_EQ(t.packets.size(), kept.size());
    ASSERT_GT(t.timescale, 0u);
    for (size_t i = 0; i < kept.size(); ++i) {
      SCOPED_TRACE(i);
      const LibraryPacket& p = t.packets[i];
      EXPECT_EQ(p.size, kept[i]->bytes.size());
      EXPECT_EQ(p.md5, md5_hex(kept[i]->bytes.data(), kept[i]->bytes.size()));
      EXPECT_EQ(p.key, kept[i]->key);
      // Decode times from the first kept frame's DTS, shown at its PTS, both at the track's scale.
      EXPECT_EQ(p.dts * 90000, (kept[i]->dts - kept[0]->dts) * t.timescale);
      EXPECT_EQ((p.pts - p.dts) * 90000, (kept[i]->pts - kept[i]->dts) * t.timescale);
    }
    // ffprobe reads the same frames from the MP4 as from the stream.
    if (!have_ffmpeg() || !c.probed) continue;
    std::vector<ProbePacket> ours, theirs;
    ASSERT_TRUE(probe_packets(out, &ours, "", true, &error)) << error;
    ASSERT_TRUE(probe_packets(in, &theirs, "", true, &error)) << error;
    // Hash and time shown (from the first kept frame's) of each packet of the
    // MP4, and of the TS's packets that are the kept frames.
    std::vector<std::pair<std::string, int64_t>> ours_seen, theirs_seen;
    ASSERT_EQ(ours.size(), kept.size());
    for (const ProbePacket& p : ours) ours_seen.emplace_back(p.data_hash, p.pts - ours[0].pts);
    for (const ProbePacket& p : theirs)
      for (const Frame* f : kept)
        if (p.has_pts && p.pts == f->pts) theirs_seen.emplace_back(p.data_hash, p.pts - kept[0]->pts);
    // ffprobe gives the MP4's times at its track's scale.
    for (auto& seen : ours_seen) seen.second = seen.second * 90000 / t.timescale;
    EXPECT_EQ(ours_seen, theirs_seen);
  }
}

// The payload of every box of this type in `file`, found by its name.
std::vector<ts::Bytes> payloads_of(const std::vector<uint8_t>& file, const char* type) {
  const std::string text(file.begin(), file.end());
  std::vector<ts::Bytes> found;
  for (size_t at = text.find(type); at != std::string::npos && at >= 4; at = text.find(type, at + 4)) {
    const size_t size = load_u32be(file.data() + at - 4);
    if (size >= 8 && at - 4 + size <= file.size())
      found.emplace_back(file.begin() + static_cast<long>(at + 4), file.begin() + static_cast<long>(at - 4 + size));
  }
  return found;
}

// Each sample's description (from 1) as the library reads the track.
std::vector<uint32_t> descriptions_of(const std::vector<uint8_t>& file) {
  std::vector<uint32_t> out;
  MemoryPair pair{file.data(), static_cast<uint32_t>(file.size())};
  OpenParams params{};
  params.routines = memory_routines();
  params.path = &pair;
  MediaFile* media = nullptr;
  if (media_open(&media, &params, kOpenRead) != ErrorCode::Ok) return out;
  SampleRead s{};
  for (uint64_t offset = 0; locate_next_sample(media, 1, &s, &offset) == ErrorCode::Ok;) out.push_back(s.description_index);
  media_close(media);
  return out;
}

// A later sequence header of another size starts a sample description
// with its own coded size and 'dvc1'; a return to the first size starts a
// third (descriptions follow each other as the stream uses them), and a
// repeat of the header in use starts none.
TEST(TsVc1, ASequenceHeaderOfAnotherSizeStartsADescription) {
  TempDir dir;
  Vc1SequenceFields small{}, large{};
  large.level = 3;
  large.coded_width = 1920;
  large.coded_height = 1088;
  large.display = true;
  large.display_width = 1920;
  large.display_height = 1080;
  struct Case {
    const char* name;
    std::vector<Vc1SequenceFields> gops;
    std::vector<uint32_t> gop_description;  // of each GOP's frames
    std::vector<const Vc1SequenceFields*> entries;
  };
  const std::vector<Case> cases = {
      {"second half larger", {small, small, large, large}, {1, 1, 2, 2}, {&small, &large}},
      {"larger, then back", {small, large, small, small}, {1, 2, 3, 3}, {&small, &large, &small}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Plan plan{};
    plan.per_gop = c.gops;
    plan.gops = static_cast<uint32_t>(c.gops.size());
    const std::vector<Frame> frames = frames_of(plan);
    const std::string in = write_stream(dir, c.name, frames, true), out = dir.path(std::string(c.name) + ".mp4");
    std::string said;
    ASSERT_EQ(remux_command(in, out, &said, true), 0) << said;
    const std::vector<uint8_t> file = read_whole_file(out);
    const std::vector<ts::Bytes> entries = payloads_of(file, "vc-1"), dvc1 = payloads_of(file, "dvc1");
    ASSERT_EQ(entries.size(), c.entries.size());
    ASSERT_EQ(dvc1.size(), c.entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      SCOPED_TRACE(i);
      const Vc1SequenceFields& f = *c.entries[i];
      ASSERT_GE(entries[i].size(), 32u);
      EXPECT_EQ(load_u32be(entries[i].data() + 24), f.coded_width << 16 | f.coded_height);
      // Level, then the flags of a stream with repeated headers, entry points and B frames.
      ts::Bytes expected = {static_cast<uint8_t>(0xC0 | f.level << 1), static_cast<uint8_t>(f.level << 5), 0x24,
                            0xFF, 0xFF, 0xFF, 0xFF};
      for (const ts::Bytes& unit : {vc1_sequence(f), vc1_entry_point(false, true)})
        expected.insert(expected.end(), unit.begin(), unit.end());
      EXPECT_EQ(dvc1[i], expected);
    }
    // The track shows the first description's picture.
    const ts::Bytes tkhd = first_box_payload(file, "tkhd");
    const size_t size_at = tkhd.empty() || tkhd[0] == 0 ? 76 : 88;
    ASSERT_GE(tkhd.size(), size_at + 8);
    EXPECT_EQ(load_u32be(tkhd.data() + size_at) >> 16, 1280u);
    EXPECT_EQ(load_u32be(tkhd.data() + size_at + 4) >> 16, 720u);
    std::vector<uint32_t> expected;
    for (size_t i = 0; i < frames.size(); ++i) expected.push_back(c.gop_description[i / 5]);
    EXPECT_EQ(descriptions_of(file), expected);
    std::vector<LibraryTrack> tracks;
    std::string error;
    ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
    ASSERT_EQ(tracks.size(), 1u);
    ASSERT_EQ(tracks[0].packets.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i)
      EXPECT_EQ(tracks[0].packets[i].md5, md5_hex(frames[i].bytes.data(), frames[i].bytes.size())) << i;
  }
}

// What cannot make a track: no sequence header at all, and the main profile
// (whose headers are not in the bitstream). Each left out with a note.
TEST(TsVc1, StreamsWithoutAnAdvancedSequenceHeaderAreLeftOut) {
  TempDir dir;
  Plan none{};
  none.gops = 0;
  none.frames_before = 6;
  Plan main{};
  main.sequence.profile = 1;
  struct Case {
    const char* name;
    Plan plan;
    const char* note;
  };
  const std::vector<Case> cases = {
      {"no sequence header", none, "no whole VC-1 sequence header followed by an entry point"},
      {"main profile", main, "not of the advanced profile"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string in = write_stream(dir, c.name, frames_of(c.plan), false, true);
    const std::string out = dir.path(std::string(c.name) + ".mp4");
    std::string said, error;
    ASSERT_EQ(remux_command(in, out, &said, true), 0) << said;
    std::vector<LibraryTrack> tracks;
    ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0].fourcc, "ec-3");
    EXPECT_NE(said.find("PID 0x1011 (VC-1, stream type 0xEA) is left out"), std::string::npos) << said;
    EXPECT_NE(said.find(c.note), std::string::npos) << said;
  }
}

}  // namespace
}  // namespace vantorel
