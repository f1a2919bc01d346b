// Broken and hostile files, each in the way real files break: every one ends
// in a clear error code or in a correct remux of what is valid, never in a
// crash, a hang or an allocation beyond what the file can justify.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "import/avi/avi_builder.h"
#include "import/matroska/matroska_builder.h"
#include "mediafile/hand_made.h"
#include "mediafile/mediafile.h"
#include "robust/malformed_support.h"

namespace vantorel {
namespace {

using namespace test;

const std::vector<std::string> kStbl = {"moov", "trak", "mdia", "minf", "stbl"};
std::vector<std::string> stbl(const std::string& child) {
  std::vector<std::string> p = kStbl;
  p.push_back(child);
  return p;
}

HandTrack video(std::vector<uint32_t> sizes, uint32_t track_id = 1) {
  HandTrack t;
  t.track_id = track_id;
  t.sizes = std::move(sizes);
  t.stts = {{static_cast<uint32_t>(t.sizes.size()), 100}};
  return t;
}

const std::vector<uint32_t> kSizes = {40, 30, 20, 35};
Bytes base_file() {
  HandTrack t = video(kSizes);
  t.stss = {1, 3};
  return hand_made_file({t});
}

// The remux of `file`, and what its output reads as.
struct RemuxOutcome {
  MemoryRemuxResult run;
  ReadOutcome output;
};
RemuxOutcome remux(const Bytes& file, bool salvage = false) {
  RemuxOutcome o{remux_in_memory(file.data(), file.size(), kMemoryRemuxBound, salvage), {}};
  if (o.run.result == ErrorCode::Ok) o.output = read_everything(o.run.output);
  return o;
}

// ---- Truncation ------------------------------------------------------------------------

TEST(MalformedInput, CutAtEveryBoxBoundaryAndInsideEverySample) {
  const Bytes whole = base_file();
  BoxAt moov = locate(whole, {"moov"});
  BoxAt mdat = locate(whole, {"mdat"});
  std::vector<size_t> cuts;
  for (const BoxAt& b : all_boxes(whole)) {
    cuts.push_back(b.start);
    cuts.push_back(b.start + 4);  // inside the header
    cuts.push_back(b.start + b.size);
  }
  // Inside each sample and at each sample's end.
  size_t at = mdat.start + 8;
  std::vector<size_t> sample_ends;
  for (uint32_t s : kSizes) {
    cuts.push_back(at + s / 2);
    at += s;
    sample_ends.push_back(at);
  }
  const std::vector<Bytes> all = hand_made_samples(kSizes);
  for (size_t cut : cuts) {
    if (cut >= whole.size()) continue;
    SCOPED_TRACE("cut at " + std::to_string(cut));
    Bytes file(whole.begin(), whole.begin() + static_cast<long>(cut));
    ReadOutcome read = read_everything(file);
    RemuxOutcome out = remux(file);
    if (cut < moov.start + moov.size) {
      // Without a whole movie box there is nothing to read: too short to
      // probe; no movie box at all (the file opens, but has no movie); a
      // movie box header cut short; a movie box cut short.
      ErrorCode open = cut < 8                ? ErrorCode::Unsupported
                       : cut <= moov.start    ? ErrorCode::Ok
                       : cut < moov.start + 8 ? ErrorCode::Io
                                              : ErrorCode::Malformed;
      EXPECT_EQ(read.open, open);
      if (open == ErrorCode::Ok) {
        EXPECT_EQ(read.movie, ErrorCode::Missing);
        EXPECT_EQ(out.run.result, ErrorCode::Missing);
      } else {
        EXPECT_EQ(out.run.result, open);
      }
      if (open == ErrorCode::Malformed) {
        EXPECT_EQ(read.reason, "'moov' box runs past the end of its file");
        EXPECT_EQ(out.run.failure.reason, read.reason);
      }
      EXPECT_EQ(out.run.outputs_opened, 0u);
      continue;
    }
    if (cut > mdat.start && cut < mdat.start + 8) {
      // A box header cut short fails as a short read.
      EXPECT_EQ(read.open, ErrorCode::Io);
      EXPECT_EQ(out.run.result, ErrorCode::Io);
      continue;
    }
    // The movie box is whole: every sample inside the file is read, the
    // first one cut short fails as a short read.
    size_t whole_samples = 0;
    while (whole_samples < sample_ends.size() && sample_ends[whole_samples] <= cut) ++whole_samples;
    std::vector<Bytes> expected(all.begin(), all.begin() + static_cast<long>(whole_samples));
    ASSERT_EQ(read.open, ErrorCode::Ok);
    ASSERT_EQ(read.tracks.size(), 1u);
    EXPECT_EQ(read.tracks[0].samples, expected);
    EXPECT_EQ(read.tracks[0].end, whole_samples == kSizes.size() ? ErrorCode::NoMore : ErrorCode::Io);
    // A cut sample makes the input truncated: refused, writing nothing;
    // salvaged, the remux carries exactly the whole samples.
    if (whole_samples < kSizes.size()) {
      EXPECT_EQ(out.run.result, ErrorCode::Truncated);
      EXPECT_EQ(out.run.outputs_opened, 0u);
      out = remux(file, true);
    }
    ASSERT_EQ(out.run.result, ErrorCode::Ok);
    ASSERT_EQ(out.output.tracks.size(), 1u);
    EXPECT_EQ(out.output.tracks[0].samples, expected);
    EXPECT_EQ(out.output.tracks[0].end, ErrorCode::NoMore);
  }
}

// ---- Box sizes ---------------------------------------------------------------------------

TEST(MalformedInput, BoxSizeFields) {
  const Bytes whole = base_file();
  struct Case {
    const char* name;
    std::vector<std::string> path;  // the box whose size field lies
    std::vector<uint8_t> header;    // the new header bytes (size and type, maybe a 64-bit size)
    ErrorCode open;
    const char* reason;
  };
  auto header = [](uint32_t size, const char* type, bool large = false, uint64_t large_size = 0) {
    Bytes h = cat({u32(size), text(type)});
    if (large) h = cat({h, u64(large_size)});
    return h;
  };
  std::vector<Case> cases = {
      {"64-bit size of 0 at the top", {"moov"}, header(1, "moov", true, 0), ErrorCode::Malformed,
       "64-bit box size of 0"},
      {"64-bit size of 0 inside 'stbl'", stbl("stsz"), header(1, "stsz", true, 0), ErrorCode::Malformed,
       "64-bit box size of 0"},
  };
  for (uint32_t small = 2; small < 8; ++small) {
    cases.push_back({"small size at the top", {"moov"}, header(small, "moov"), ErrorCode::Malformed,
                     "box smaller than its header"});
    cases.push_back({"small size inside 'stbl'", stbl("stts"), header(small, "stts"), ErrorCode::Malformed,
                     "box smaller than its header"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = whole;
    BoxAt b = locate(file, c.path);
    // Overwrite the header in place (a 64-bit header takes 8 bytes of payload).
    std::copy(c.header.begin(), c.header.end(), file.begin() + static_cast<long>(b.start));
    ReadOutcome read = read_everything(file);
    EXPECT_EQ(read.open, c.open);
    EXPECT_EQ(read.reason, c.reason);
    EXPECT_EQ(remux(file).run.result, c.open);
  }
}

TEST(MalformedInput, SizeZeroRunsToTheEndAndLargerThanTheParentIsCut) {
  // The media data with size 0 runs to the end of the file: all is read.
  Bytes file = base_file();
  put_u32(&file, locate(file, {"mdat"}).start, 0);
  ReadOutcome read = read_everything(file);
  ASSERT_EQ(read.open, ErrorCode::Ok);
  EXPECT_EQ(read.tracks[0].samples, hand_made_samples(kSizes));
  // A box of size 0 inside the movie box runs to the movie box's end: the
  // 'stbl' swallows nothing it should not, and the track is still whole.
  file = base_file();
  BoxAt dinf = locate(file, {"moov", "trak", "mdia", "minf", "dinf"});
  put_u32(&file, dinf.start, 0);
  read = read_everything(file);
  EXPECT_EQ(read.open, ErrorCode::Ok);
  // 'dinf' now reaches over 'stbl', which is never seen: a track without
  // sample tables is no track to read, and the remux has nothing to carry.
  EXPECT_TRUE(read.tracks.empty());
  EXPECT_EQ(remux(file).run.result, ErrorCode::Missing);
  // A child larger than its parent is cut at the parent's end.
  file = base_file();
  put_u32(&file, locate(file, stbl("stco")).start, 0x7FFFFFF0);
  read = read_everything(file);
  EXPECT_EQ(read.open, ErrorCode::Ok);
  EXPECT_EQ(read.tracks[0].samples, hand_made_samples(kSizes));
}

// ---- Counts ------------------------------------------------------------------------------

TEST(MalformedInput, CountsOfAllOnesInEveryTable) {
  HandTrack t = video(kSizes);
  t.stss = {1, 3};
  t.ctts = {{2, 100}, {2, 0}};
  t.edits = {{600, 0}, {600, 100}};
  const Bytes whole = hand_made_file({t});
  struct Case {
    std::vector<std::string> path;
    size_t offset;  // of the count in the payload
    const char* reason;
  };
  const Case cases[] = {
      {stbl("stsd"), 4, "'stsd' entry count larger than the box holds"},
      {stbl("stts"), 4, "'stts' entry count larger than the box"},
      {stbl("ctts"), 4, "'ctts' entry count larger than the box"},
      {stbl("stsc"), 4, "'stsc' entry count larger than the box"},
      {stbl("stsz"), 8, "'stsz' sample count larger than the box"},
      {stbl("stco"), 4, "'stco' entry count larger than the box"},
      {stbl("stss"), 4, "'stss' entry count larger than the box"},
      {{"moov", "trak", "edts", "elst"}, 4, "more edits than the box holds"},
      {{"moov", "trak", "mdia", "minf", "dinf", "dref"}, 4, "more data references than the box holds"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.back());
    Bytes file = with_u32(whole, c.path, c.offset, 0xFFFFFFFF);
    ReadOutcome read = read_everything(file);
    EXPECT_EQ(read.open, ErrorCode::Malformed);
    EXPECT_EQ(read.reason, c.reason);
    EXPECT_NE(read.path.find(c.path.back()), std::string::npos) << read.path;
    EXPECT_EQ(remux(file).run.result, ErrorCode::Malformed);
  }
  // 'co64' the same.
  BoxAt stco = locate(whole, stbl("stco"));
  uint32_t n = get_u32(whole, stco.start + 12);
  Bytes entries;
  for (uint32_t i = 0; i < n; ++i) entries = cat({entries, u64(get_u32(whole, stco.start + 16 + 4 * i))});
  Bytes co64 = full_box("co64", 0, 0, cat({u32(0xFFFFFFFF), entries}));
  ReadOutcome read = read_everything(replace_box(whole, stbl("stco"), co64));
  EXPECT_EQ(read.open, ErrorCode::Malformed);
  EXPECT_EQ(read.reason, std::string("'co64' entry count larger than the box"));
}

// ---- Fixed fields cut short ------------------------------------------------------------------

// The box at `path` cut to `keep` bytes of payload, the rest of its bytes
// becoming a 'free' box after it: the file keeps its length, and what
// follows the cut looks like more fields to a reader that ignores the end.
Bytes cut_box(const Bytes& file, const std::vector<std::string>& path, size_t keep) {
  BoxAt at = locate(file, path);
  Bytes payload(file.begin() + static_cast<long>(at.start + at.header), file.begin() + static_cast<long>(at.start + at.size));
  EXPECT_GE(payload.size(), keep + 8) << at.type;
  Bytes rest(payload.begin() + static_cast<long>(keep + 8), payload.end());
  return replace_box(file, path, cat({box(at.type, Bytes(payload.begin(), payload.begin() + static_cast<long>(keep))),
                                      box("free", rest)}));
}

TEST(MalformedInput, FixedFieldsCutShortCostTheirTrackOrTheFile) {
  HandTrack first = video(kSizes, 1);
  first.edits = {{600, 0}};
  HandTrack second = video({11, 12, 13}, 2);
  const Bytes whole = hand_made_file({first, second});
  const std::vector<std::string> trak = {"moov", "trak"};
  struct Case {
    std::vector<std::string> path;
    size_t keep;
    const char* reason;  // null: the track is left out
  };
  const Case cases[] = {
      {{"moov", "mvhd"}, 12, "'mvhd' shorter than its fields"},
      {{"moov", "trak", "tkhd"}, 12, nullptr},
      {{"moov", "trak", "mdia", "mdhd"}, 12, nullptr},  // version, flags and 8 bytes
      {{"moov", "trak", "mdia", "hdlr"}, 10, nullptr},
      {{"moov", "trak", "edts", "elst"}, 6, nullptr},
      {stbl("stsd"), 20, nullptr},                      // inside the visual entry's fields
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.back() + " keeping " + std::to_string(c.keep));
    Bytes file = cut_box(whole, c.path, c.keep);
    ASSERT_EQ(file.size(), whole.size());
    ReadOutcome read = read_everything(file);
    RemuxOutcome out = remux(file);
    if (c.reason != nullptr) {
      EXPECT_EQ(read.open, ErrorCode::Malformed);
      EXPECT_EQ(read.reason, c.reason);
      EXPECT_EQ(out.run.result, ErrorCode::Malformed);
      continue;
    }
    ASSERT_EQ(read.open, ErrorCode::Ok);
    ASSERT_EQ(read.tracks.size(), 1u);
    EXPECT_EQ(read.tracks[0].track_id, 2u);
    EXPECT_EQ(read.tracks[0].samples, hand_made_samples({11, 12, 13}));
    ASSERT_EQ(out.run.result, ErrorCode::Ok);
    EXPECT_EQ(out.run.tracks_dropped, 1u);
    ASSERT_EQ(out.output.tracks.size(), 1u);
    EXPECT_EQ(out.output.tracks[0].samples, hand_made_samples({11, 12, 13}));
  }
  // A file opened for updating is refused rather than written back without the track.
  EXPECT_EQ(read_everything(cut_box(whole, {"moov", "trak", "tkhd"}, 12), kOpenUpdate).open, ErrorCode::Malformed);
}

// ---- Tables that disagree -----------------------------------------------------------------

TEST(MalformedInput, TablesThatDisagreeCarryWhatTheyAgreeOn) {
  struct Case {
    const char* name;
    HandTrack track;
    size_t readable;  // samples read
    size_t carried;   // samples the remux carries: only those with a time
  };
  HandTrack long_stts = video(kSizes);
  long_stts.stts = {{1000, 100}};  // runs past the last sample
  HandTrack short_stts = video(kSizes);
  short_stts.stts = {{2, 100}};
  HandTrack short_stco = video(kSizes);
  short_stco.drop_last_chunk_offset = true;
  const Case cases[] = {
      {"'stts' longer than the track", long_stts, 4, 4},
      {"'stts' shorter than the track", short_stts, 4, 2},
      {"one chunk offset missing", short_stco, 3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = hand_made_file({c.track});
    std::vector<Bytes> all = hand_made_samples(kSizes);
    ReadOutcome read = read_everything(file);
    ASSERT_EQ(read.open, ErrorCode::Ok);
    ASSERT_EQ(read.tracks.size(), 1u);
    EXPECT_EQ(read.tracks[0].samples, std::vector<Bytes>(all.begin(), all.begin() + static_cast<long>(c.readable)));
    RemuxOutcome out = remux(file);
    ASSERT_EQ(out.run.result, ErrorCode::Ok);
    ASSERT_EQ(out.output.tracks.size(), 1u);
    EXPECT_EQ(out.output.tracks[0].samples, std::vector<Bytes>(all.begin(), all.begin() + static_cast<long>(c.carried)));
  }
  // A 'stsc' run that starts after the last chunk is refused as it is read.
  HandTrack stsc_past = video(kSizes);
  stsc_past.stsc = {{1, 2, 1}, {5, 1, 1}};
  ReadOutcome read = read_everything(hand_made_file({stsc_past}));
  EXPECT_EQ(read.open, ErrorCode::Malformed);
  EXPECT_EQ(read.reason, "'stsc' first chunks that do not increase or pass the chunk count");
}

TEST(MalformedInput, ChunkOffsetsPastTheEndOfTheFile) {
  const Bytes whole = base_file();
  BoxAt stco = locate(whole, stbl("stco"));
  for (uint32_t chunk : {0u, 2u}) {
    for (uint32_t offset : {static_cast<uint32_t>(whole.size()), static_cast<uint32_t>(whole.size()) - 10, 0xFFFFFFF0u}) {
      SCOPED_TRACE("chunk " + std::to_string(chunk) + " at " + std::to_string(offset));
      Bytes file = whole;
      put_u32(&file, stco.start + 16 + 4 * chunk, offset);
      std::vector<Bytes> all = hand_made_samples(kSizes);
      std::vector<Bytes> before(all.begin(), all.begin() + chunk);
      ReadOutcome read = read_everything(file);
      ASSERT_EQ(read.open, ErrorCode::Ok);
      EXPECT_EQ(read.tracks[0].samples, before);
      EXPECT_EQ(read.tracks[0].end, ErrorCode::Io);
      // The samples from the chunk on lie past the end: a truncated input.
      EXPECT_EQ(remux(file).run.result, ErrorCode::Truncated);
      RemuxOutcome out = remux(file, true);
      if (chunk == 0) {
        // Nothing to carry.
        EXPECT_EQ(out.run.result, ErrorCode::Ok);
        ASSERT_EQ(out.output.tracks.size(), 1u);
        EXPECT_TRUE(out.output.tracks[0].samples.empty());
      } else {
        ASSERT_EQ(out.run.result, ErrorCode::Ok);
        EXPECT_EQ(out.output.tracks[0].samples, before);
      }
    }
  }
}

TEST(MalformedInput, ASampleSizeFarLargerThanTheFile) {
  // The remux sizes its sample buffer by the samples it can read, not by the
  // 3.5 GiB the table claims (found by fuzzing).
  Bytes file = base_file();
  BoxAt stsz = locate(file, stbl("stsz"));
  put_u32(&file, stsz.start + 20 + 4 * 2, 0xE2000005);
  std::vector<Bytes> all = hand_made_samples(kSizes);
  std::vector<Bytes> before(all.begin(), all.begin() + 2);
  ReadOutcome read = read_everything(file);
  ASSERT_EQ(read.open, ErrorCode::Ok);
  EXPECT_EQ(read.tracks[0].samples, before);
  EXPECT_EQ(read.tracks[0].end, ErrorCode::OutOfMemory);  // larger than any buffer the file can justify
  // Such a sample lies past the end of the file: the input is truncated.
  EXPECT_EQ(remux(file).run.result, ErrorCode::Truncated);
  RemuxOutcome out = remux(file, true);
  ASSERT_EQ(out.run.result, ErrorCode::Ok);
  EXPECT_EQ(out.output.tracks[0].samples, before);
}

// ---- Time scales ---------------------------------------------------------------------------

// A video track and a big-endian PCM track (16-bit mono: 2 bytes a frame,
// each block's duration its frame count).
const std::vector<uint32_t> kPcmSizes = {64, 64, 64};
Bytes video_and_pcm(uint32_t pcm_delta = 32) {
  HandTrack pcm = video(kPcmSizes, 2);
  pcm.handler = "soun";
  pcm.timescale = 8000;
  pcm.stts = {{3, pcm_delta}};
  Bytes file = hand_made_file({video(kSizes), pcm}, "qt  ");
  Bytes twos = box("twos", cat({zeros(6), u16(1), u16(0), u16(0), u32(0), u16(1), u16(16), u16(0), u16(0),
                                u32(8000u << 16)}));
  return replace_box(file, {"moov", "trak#2", "mdia", "minf", "stbl", "stsd"},
                     full_box("stsd", 0, 0, cat({u32(1), twos})));
}

TEST(MalformedInput, TimeScales) {
  const Bytes whole = video_and_pcm();
  RemuxOutcome plain = remux(whole);
  ASSERT_EQ(plain.run.result, ErrorCode::Ok);
  ASSERT_EQ(plain.output.tracks.size(), 2u);
  struct Case {
    const char* name;
    std::vector<std::string> path;
    uint32_t scale;
    ErrorCode remuxed;
    const char* reason;
  };
  const Case cases[] = {
      // Audio runs of a quarter second round to nothing at a scale of 1;
      // the interleaving still places every sample (it looped for ever).
      {"movie scale of 1", {"moov", "mvhd"}, 1, ErrorCode::Ok, ""},
      {"movie scale of 0", {"moov", "mvhd"}, 0, ErrorCode::Malformed, "movie time scale of 0"},
      {"media scale of 0", {"moov", "trak#2", "mdia", "mdhd"}, 0, ErrorCode::Malformed, "media time scale of 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = with_u32(whole, c.path, 12, c.scale);
    // Reading needs no time scale.
    ReadOutcome read = read_everything(file);
    ASSERT_EQ(read.open, ErrorCode::Ok);
    ASSERT_EQ(read.tracks.size(), 2u);
    EXPECT_EQ(read.tracks[0].samples, hand_made_samples(kSizes));
    EXPECT_EQ(read.tracks[1].samples, hand_made_samples(kPcmSizes));
    RemuxOutcome out = remux(file);
    EXPECT_EQ(out.run.result, c.remuxed);
    if (c.remuxed != ErrorCode::Ok) {
      EXPECT_EQ(std::string(out.run.failure.reason), c.reason);
      continue;
    }
    ASSERT_EQ(out.output.tracks.size(), 2u);
    EXPECT_EQ(out.output.tracks[0].samples, plain.output.tracks[0].samples);
    EXPECT_EQ(out.output.tracks[1].samples, plain.output.tracks[1].samples);
  }
}

TEST(MalformedInput, PcmBlocksClaimingMoreFramesThanBytes) {
  // 64-byte blocks said to hold 587 million frames each: the output would
  // list more PCM frames than it has bytes (and finalising it walked them all).
  Bytes file = video_and_pcm(0x23000400);
  RemuxOutcome out = remux(file);
  ASSERT_EQ(out.run.result, ErrorCode::Ok);
  ASSERT_EQ(out.output.tracks.size(), 2u);
  EXPECT_EQ(out.output.tracks[0].samples, hand_made_samples(kSizes));
  EXPECT_TRUE(out.output.tracks[1].samples.empty());
}

// ---- Nesting -------------------------------------------------------------------------------

// `depth` boxes of `type`, each the only child of the one before.
Bytes nested(const std::string& type, uint32_t depth) {
  Bytes b;
  b.reserve(size_t{depth} * 8);
  for (uint32_t i = 0; i < depth; ++i) {
    Bytes header = cat({u32((depth - i) * 8), text(type)});
    b.insert(b.end(), header.begin(), header.end());
  }
  return b;
}

TEST(MalformedInput, NestedWaveAndDeepBoxes) {
  HandTrack sound = video(kSizes);
  sound.handler = "soun";
  const Bytes whole = hand_made_file({sound});
  Bytes sound_fields = cat({zeros(6), u16(1), zeros(8), u16(2), u16(16), u16(0), u16(0), u32(44100u << 16)});
  for (uint32_t depth : {2u, 100000u}) {
    SCOPED_TRACE(depth);
    Bytes stsd = full_box("stsd", 0, 0, cat({u32(1), box("mp4a", cat({sound_fields, nested("wave", depth)}))}));
    Bytes file = replace_box(whole, stbl("stsd"), stsd);
    ReadOutcome read = read_everything(file);
    if (depth == 2) {
      ASSERT_EQ(read.open, ErrorCode::Ok);
      EXPECT_EQ(read.tracks[0].samples, hand_made_samples(kSizes));
    } else {
      EXPECT_EQ(read.open, ErrorCode::Malformed);
      EXPECT_EQ(read.reason, std::string("'wave' boxes nested too deeply"));
    }
  }
  // Boxes that the table does not descend into are skipped whole, however deep.
  Bytes deep = cat({whole, nested("udta", 100000)});
  ReadOutcome read = read_everything(deep);
  ASSERT_EQ(read.open, ErrorCode::Ok);
  EXPECT_EQ(read.tracks[0].samples, hand_made_samples(kSizes));
}

// ---- Sample descriptions and configuration records ------------------------------------

TEST(MalformedInput, SampleDescriptionWithoutEntries) {
  Bytes file = replace_box(base_file(), stbl("stsd"), full_box("stsd", 0, 0, u32(0)));
  ReadOutcome read = read_everything(file);
  ASSERT_EQ(read.open, ErrorCode::Ok);
  ASSERT_EQ(read.tracks.size(), 1u);
  EXPECT_EQ(read.tracks[0].samples, hand_made_samples(kSizes));
  // The only track has no codec the remux can carry: it is reported as left
  // out, and the output holds no track (the command line refuses such an
  // input before writing).
  RemuxOutcome out = remux(file);
  EXPECT_EQ(out.run.result, ErrorCode::Ok);
  EXPECT_EQ(out.run.tracks_dropped, 1u);
  EXPECT_TRUE(out.output.tracks.empty());
}

Bytes avc_entry(const Bytes& avcc_payload) {
  Bytes visual = cat({zeros(6), u16(1), zeros(16), u16(64), u16(48), u32(0x00480000), u32(0x00480000), u32(0),
                      u16(1), zeros(32), u16(24), u16(0xFFFF)});
  return full_box("stsd", 0, 0, cat({u32(1), box("avc1", cat({visual, box("avcC", avcc_payload)}))}));
}

TEST(MalformedInput, AvcConfigurationWithParameterSetsPastItsEnd) {
  Bytes sps = {0x67, 0x42, 0xC0, 0x1E, 0xD9};
  Bytes pps = {0x68, 0xCE, 0x3C, 0x80};
  struct Case {
    const char* name;
    Bytes payload;
    ErrorCode open;
    const char* reason;
  };
  const Case cases[] = {
      {"whole", cat({u8(1), u8(0x42), u8(0xC0), u8(0x1E), u8(0xFF), u8(0xE1), u16(5), sps, u8(1), u16(4), pps}),
       ErrorCode::Ok, ""},
      {"sequence set longer than the box",
       cat({u8(1), u8(0x42), u8(0xC0), u8(0x1E), u8(0xFF), u8(0xE1), u16(500), sps}), ErrorCode::Malformed,
       "'avcC' parameter set longer than the box"},
      {"picture set longer than the box",
       cat({u8(1), u8(0x42), u8(0xC0), u8(0x1E), u8(0xFF), u8(0xE1), u16(5), sps, u8(1), u16(0xFFFF), pps}),
       ErrorCode::Malformed, "'avcC' parameter set longer than the box"},
      {"31 sequence sets, one there", cat({u8(1), u8(0x42), u8(0xC0), u8(0x1E), u8(0xFF), u8(0xFF), u16(5), sps}),
       ErrorCode::Malformed, "'avcC' parameter set count larger than the box holds"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = replace_box(base_file(), stbl("stsd"), avc_entry(c.payload));
    ReadOutcome read = read_everything(file);
    EXPECT_EQ(read.open, c.open);
    EXPECT_EQ(read.reason, c.reason);
    EXPECT_EQ(remux(file).run.result, c.open);
  }
}

// ---- Compressed movie headers ----------------------------------------------------------------

Bytes deflate(const Bytes& in) {
  uLongf size = compressBound(static_cast<uLong>(in.size()));
  Bytes out(size);
  EXPECT_EQ(compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()), 9), Z_OK);
  out.resize(size);
  return out;
}

Bytes cmov_file(uint32_t declared, const Bytes& stream) {
  return cat({box("ftyp", cat({text("qt  "), u32(0), text("qt  ")})),
              box("moov", box("cmov", cat({box("dcom", text("zlib")), box("cmvd", cat({u32(declared), stream}))})))});
}

TEST(MalformedInput, CompressedMovieHeaderBombs) {
  // 300 MiB of zeros behind a movie box header: past the 256 MiB that an
  // inflated header may take, whatever size it declares.
  Bytes inflated(300u << 20, 0);
  put_u32(&inflated, 0, static_cast<uint32_t>(inflated.size()));
  std::copy_n("moov", 4, inflated.begin() + 4);
  const Bytes bomb = deflate(inflated);
  inflated = Bytes();
  ASSERT_LT(bomb.size(), 1u << 20);
  struct Case {
    const char* name;
    uint32_t declared;
    ErrorCode open;
  };
  const Case cases[] = {
      {"declares its true size", 300u << 20, ErrorCode::Inflate},
      {"declares the most there is", 0xFFFFFFFF, ErrorCode::Inflate},
      {"declares less than it holds", 1000, ErrorCode::Inflate},
      {"declares nothing", 0, ErrorCode::Inflate},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = cmov_file(c.declared, bomb);
    ReadOutcome read = read_everything(file);
    EXPECT_EQ(read.open, c.open);
  }
}

// ---- Matroska -------------------------------------------------------------------------------

// A Matroska file cut at every byte, and with every byte changed: each opens
// or is refused with a code, never crashes or hangs. Cut, it keeps the whole
// frames before the cut, in order; remuxed, it is refused as truncated unless
// salvaged.
TEST(MalformedInput, MatroskaCutOrChangedAnywhere) {
  std::vector<Bytes> frames;
  const Bytes whole = mkv::small_file(&frames);
  auto allowed = [](ErrorCode e) {
    return e == ErrorCode::Ok || e == ErrorCode::Unsupported || e == ErrorCode::Malformed || e == ErrorCode::Io ||
           e == ErrorCode::Truncated;
  };
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    Bytes file(whole.begin(), whole.begin() + static_cast<long>(cut));
    ReadOutcome read = read_everything(file);
    EXPECT_TRUE(allowed(read.open)) << code_value(read.open);
    if (read.open == ErrorCode::Ok && !read.tracks.empty()) {
      const std::vector<Bytes>& got = read.tracks[0].samples;
      ASSERT_LE(got.size(), frames.size());
      for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], frames[i]) << i;
      RemuxOutcome out = remux(file);
      EXPECT_TRUE(out.run.result == ErrorCode::Truncated || out.run.result == ErrorCode::Ok);
      RemuxOutcome salvaged = remux(file, true);
      EXPECT_EQ(salvaged.run.result, ErrorCode::Ok);
    }
  }
  for (size_t at = 0; at < whole.size(); ++at) {
    for (uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}, static_cast<uint8_t>(whole[at] ^ 0x40)}) {
      SCOPED_TRACE("byte " + std::to_string(at) + " := " + std::to_string(value));
      Bytes file = whole;
      file[at] = value;
      ReadOutcome read = read_everything(file);
      EXPECT_TRUE(allowed(read.open)) << code_value(read.open);
      RemuxOutcome out = remux(file, true);
      EXPECT_TRUE(allowed(out.run.result)) << code_value(out.run.result);
    }
  }
}

// ---- AVI indexes -----------------------------------------------------------------------------

TEST(MalformedInput, AviIndexThatPointsAtItself) {
  StreamHeader v;
  v.length = 2;
  Bytes hdrl = cat({avih_chunk(kHasIndex), video_stream(v)});
  std::vector<MoviChunk> chunks = {{"00dc", Bytes(9, 0xA1)}, {"00dc", Bytes(7, 0xA2)}};
  Movi movi = movi_of(chunks);
  // The legacy index: its first entry names the index chunk itself.
  uint32_t movi_size = static_cast<uint32_t>(movi.payload.size()) + 4;
  uint32_t idx1_relative = movi_size;  // from the 'movi' type: just past the list
  Bytes entries = cat({idx1_entry("00dc", 0x10, idx1_relative, 16), idx1_entry("00dc", 0, movi.header_offsets[1], 7)});
  Bytes file = avi_file(hdrl, movi, riff_chunk("idx1", entries));
  ReadOutcome read = read_everything(file);
  EXPECT_EQ(read.open, ErrorCode::Ok);
  ASSERT_EQ(read.tracks.size(), 1u);
  // The index's own bytes are read as the first sample, once: nothing loops.
  const std::vector<Bytes> expected = {Bytes(entries.begin(), entries.begin() + 16), Bytes(7, 0xA2)};
  EXPECT_EQ(read.tracks[0].samples, expected);
  EXPECT_EQ(read.tracks[0].end, ErrorCode::NoMore);

  // An OpenDML super index whose entry points at the super index itself.
  Bytes probe_hdrl = cat({avih_chunk(0), video_stream(v, super_index("00dc", {{0, 40}}))});
  Bytes self_hdrl;
  for (int pass = 0; pass < 2; ++pass) {
    // Where the 'indx' chunk lands: find it in the file built so far.
    Bytes attempt = avi_file(self_hdrl.empty() ? probe_hdrl : self_hdrl, movi);
    size_t at = 0;
    for (size_t i = 0; i + 4 <= attempt.size(); ++i)
      if (attempt[i] == 'i' && attempt[i + 1] == 'n' && attempt[i + 2] == 'd' && attempt[i + 3] == 'x') at = i;
    self_hdrl = cat({avih_chunk(0), video_stream(v, super_index("00dc", {{at, 40}}))});
  }
  // The entry leads to an index of indexes, which is not followed a second
  // time: the stream has no index, and the file no sample.
  read = read_everything(avi_file(self_hdrl, movi));
  EXPECT_EQ(read.open, ErrorCode::Unsupported);
}

// ---- Inputs the fuzz targets found --------------------------------------------------------

Bytes read_file(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return {};
  Bytes out;
  uint8_t chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) out.insert(out.end(), chunk, chunk + n);
  std::fclose(f);
  return out;
}

TEST(MalformedInput, InputsFoundByFuzzing) {
  struct TrackEnd {
    size_t samples;  // read before reading stopped
    ErrorCode end;
  };
  struct Case {
    const char* file;
    std::vector<TrackEnd> read;  // empty: not read sample by sample
    ErrorCode remuxed;
    size_t carried;  // tracks with samples in the output
  };
  const std::vector<Case> cases = {
      // A 3.5 GiB sample size sized the remux's sample buffer; reading stops
      // at that sample, as no buffer the file justifies can hold it.
      {"sample_size_past_the_file.mp4", {{3, ErrorCode::NoMore}, {3, ErrorCode::OutOfMemory}}, ErrorCode::Ok, 2},
      // PCM blocks of 587 million frames each: the PCM track is carried
      // without them. The video entry's type was mangled ("\0cva"): an
      // unknown format, carried as stored.
      {"pcm_frames_past_the_bytes.mp4", {{3, ErrorCode::NoMore}, {4, ErrorCode::NoMore}}, ErrorCode::Ok, 2},
      // A movie time scale of 0 stalled the interleaving.
      {"movie_scale_zero.mp4", {{0, ErrorCode::Io}, {1, ErrorCode::Io}}, ErrorCode::Malformed, 0},
      // Fragments of ten million samples without data: everyone reading the
      // file walked them all.
      {"ten_million_empty_samples.mp4", {}, ErrorCode::Malformed, 0},
      {"many_empty_fragment_samples.mp4", {}, ErrorCode::Malformed, 0},
      // 246,912 empty samples in one run, within the bound: slow only under
      // the sanitizers, and carried whole.
      {"quarter_million_empty_samples.mp4", {{246912, ErrorCode::NoMore}}, ErrorCode::Ok, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Bytes file = read_file(std::string(VANTOREL_SOURCE_DIR) + "/tests/robust/fuzz_found/" + c.file);
    ASSERT_FALSE(file.empty());
    ReadOutcome read = read_everything(file);
    EXPECT_EQ(read.open, c.read.empty() ? ErrorCode::Malformed : ErrorCode::Ok);
    if (c.read.empty()) {
      EXPECT_EQ(read.reason, "'trun' of too many samples without data");
    }
    if (!c.read.empty()) {
      ASSERT_EQ(read.tracks.size(), c.read.size());
      for (size_t t = 0; t < c.read.size(); ++t) {
        SCOPED_TRACE(t);
        EXPECT_EQ(read.tracks[t].samples.size(), c.read[t].samples);
        EXPECT_EQ(read.tracks[t].end, c.read[t].end);
      }
    }
    // Inspecting opens the same tree; it has no read cursors.
    ReadOutcome inspected = read_everything(file, kOpenInspect);
    EXPECT_EQ(inspected.open, ErrorCode::Ok);
    for (const TrackRead& t : inspected.tracks) EXPECT_EQ(t.end, ErrorCode::Missing);
    RemuxOutcome out = remux(file);
    if (out.run.result == ErrorCode::Truncated) {
      // Samples past the end of the file: refused, and salvaged.
      EXPECT_STREQ(c.file, "sample_size_past_the_file.mp4");
      out = remux(file, true);
    }
    EXPECT_EQ(out.run.result, c.remuxed);
    EXPECT_EQ(out.output.tracks.size(), c.carried);
  }
}

}  // namespace
}  // namespace vantorel
