// The hand-over of an imported track: samples of one range, of pieces and
// located ones read back byte for byte through the library's reader, and
// samples that do not fit what the importer keeps refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "boxes/box_tree.h"
#include "boxes/hdlr.h"
#include "import/imported_sample.h"
#include "mediafile/internal.h"
#include "sampletables/stco.h"
#include "sampletables/stsz.h"
#include "sampletables/track_builder.h"
#include "support/box_builder.h"

namespace vantorel {
namespace {

using namespace test;

// The input: byte i is i * 7 + 1.
Bytes input_bytes() {
  Bytes b(256);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + 1);
  return b;
}

// Locator v stands for `v & 0xFF` bytes counting up from `v >> 8`; the
// state counts expansions and releases.
struct Expansions {
  int expanded = 0;
  int released = 0;
};
ErrorCode expand(void* state, FileIo*, uint64_t locator, uint8_t* out, uint32_t count) {
  ++static_cast<Expansions*>(state)->expanded;
  if (count > (locator & 0xFF)) return ErrorCode::Malformed;
  for (uint32_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>((locator >> 8) + i);
  return ErrorCode::Ok;
}
void release(void* state) { ++static_cast<Expansions*>(state)->released; }

struct Track {
  MemoryFile file{input_bytes(), kOpenRead};
  TrackBoxes* track = nullptr;
  Expansions counts;
  Track() {
    create_root(file.get());
    add_movie_box(file.get(), BoxTypeId::Moov);
    add_movie_box(file.get(), BoxTypeId::Mvhd);
    TrackSetup setup{};
    setup.kind = kHandlerVideo;
    setup.timescale = 1000;
    setup.track_id = 1;
    track = create_track(file.get(), &setup);
  }
  ~Track() {
    release_converted(file.get());
    file->cursors.release();
  }
  SampleExpander expander() { return SampleExpander{expand, &counts, release}; }
  // Every sample read back in order through a read cursor.
  std::vector<Bytes> read_all() {
    EXPECT_EQ(create_read_cursors(file.get()), ErrorCode::Ok);
    std::vector<Bytes> out;
    uint8_t buffer[64];
    SampleRead read{};
    read.buffer = buffer;
    read.capacity = sizeof buffer;
    while (read_next_sample(file.get(), 1, &read) == ErrorCode::Ok) out.emplace_back(buffer, buffer + read.size);
    return out;
  }
};

ImportedSample sample(uint8_t where, uint64_t at, uint32_t size, uint64_t time) {
  ImportedSample s{};
  s.at = at;
  s.decode_time = time;
  s.size = size;
  s.duration = 1;
  s.description = 1;
  s.where = where;
  s.sync = 1;
  return s;
}

TEST(ImportedSamples, RangesPiecesAndLocatorsReadBackExactly) {
  const Bytes in = input_bytes();
  auto range = [&](size_t at, size_t n) { return Bytes(in.begin() + at, in.begin() + at + n); };

  // Samples of one range: read from the input, nothing kept beside the tables.
  {
    Track t;
    const ImportedSample samples[] = {sample(kSampleRange, 10, 4, 0), sample(kSampleRange, 200, 3, 1)};
    ASSERT_EQ(import_track_samples(t.file.get(), t.track, samples, 2, nullptr), ErrorCode::Ok);
    EXPECT_EQ(find_converted(t.file.get(), 1), nullptr);
    EXPECT_EQ(t.read_all(), (std::vector<Bytes>{range(10, 4), range(200, 3)}));
  }
  // Pieces of every kind, a plain range among them, and a located piece.
  {
    Track t;
    ConvertedTrack source{};
    source.expander = t.expander();
    uint32_t held_at = 0;
    const uint8_t held[] = {0xA0, 0xA1, 0xA2};
    ASSERT_EQ(converted_hold(&source, held, sizeof held, &held_at), ErrorCode::Ok);
    const SamplePiece first[] = {{20, 4, kPieceSwap16}, {held_at + 1, 2, kPieceHeld}, {0, 0x0102, kPieceLength16}};
    const SamplePiece second[] = {{40, 5, kPieceCopy}};
    const SamplePiece third[] = {{0, 3, kPieceLength32}, {0x6603, 3, kPieceLocated}, {50, 1, kPieceCopy}};
    ASSERT_EQ(converted_add_sample(&source, first, 3), ErrorCode::Ok);
    ASSERT_EQ(converted_add_sample(&source, second, 1), ErrorCode::Ok);
    ASSERT_EQ(converted_add_sample(&source, third, 3), ErrorCode::Ok);
    const ImportedSample samples[] = {sample(kSamplePieces, 20, 8, 0), sample(kSampleRange, 40, 5, 1),
                                      sample(kSamplePieces, 0, 8, 2)};
    ASSERT_EQ(import_track_samples(t.file.get(), t.track, samples, 3, &source), ErrorCode::Ok);
    EXPECT_EQ(source.first_piece.count, 0u);  // taken over
    ASSERT_NE(find_converted(t.file.get(), 1), nullptr);
    const Bytes swapped = {in[21], in[20], in[23], in[22]};
    EXPECT_EQ(t.read_all(), (std::vector<Bytes>{cat({swapped, {0xA1, 0xA2, 0x01, 0x02}}), range(40, 5),
                                                cat({{0, 0, 0, 3, 0x66, 0x67, 0x68}, range(50, 1)})}));
    EXPECT_EQ(t.counts.expanded, 1);
  }
  // Every sample located: the locators stay in the chunk offsets, and the
  // expander's state is let go with the file.
  Expansions counts;
  {
    Track t;
    ConvertedTrack source{};
    source.expander = SampleExpander{expand, &counts, release};
    const ImportedSample samples[] = {sample(kSampleLocated, 0x1004, 4, 0), sample(kSampleLocated, 0x3002, 2, 1)};
    ASSERT_EQ(import_track_samples(t.file.get(), t.track, samples, 2, &source), ErrorCode::Ok);
    const auto& offsets = track_record<ChunkOffsetTable>(t.track, BoxTypeId::Stco)->offsets;
    ASSERT_EQ(offsets.count, 2u);
    EXPECT_EQ(offsets[1], 0x3002u);
    EXPECT_EQ(t.read_all(), (std::vector<Bytes>{{0x10, 0x11, 0x12, 0x13}, {0x30, 0x31}}));
    EXPECT_EQ(counts.expanded, 2);
    EXPECT_EQ(counts.released, 0);
  }
  EXPECT_EQ(counts.released, 1);
}

TEST(ImportedSamples, SamplesThatDoNotFitWhatIsKeptAreRefused) {
  struct Case {
    const char* name;
    std::vector<uint8_t> where;  // per sample; each of size 4
    std::vector<std::vector<uint32_t>> pieces;  // lengths of each sample's copy pieces; empty: no pieces
    bool expander;
    bool source;
  };
  const Case cases[] = {
      {"pieces without a source", {kSampleRange, kSamplePieces}, {}, false, false},
      {"pieces for fewer samples than the track has", {kSamplePieces, kSamplePieces}, {{4}}, false, true},
      {"pieces that make another size", {kSamplePieces, kSampleRange}, {{4}, {3}}, false, true},
      {"pieces whose sizes pass 32 bits", {kSamplePieces, kSamplePieces}, {{4}, {0xFFFFFFFFu, 5}}, false, true},
      {"located samples without an expander", {kSampleLocated, kSampleLocated}, {}, false, true},
      {"located and ranged samples without pieces", {kSampleLocated, kSampleRange}, {}, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Track t;
    ConvertedTrack source{};
    if (c.expander) source.expander = t.expander();
    for (const std::vector<uint32_t>& lengths : c.pieces) {
      std::vector<SamplePiece> pieces;
      for (uint32_t length : lengths) pieces.push_back({8, length, kPieceCopy});
      ASSERT_EQ(converted_add_sample(&source, pieces.data(), static_cast<uint32_t>(pieces.size())), ErrorCode::Ok);
    }
    std::vector<ImportedSample> samples;
    for (uint8_t where : c.where) samples.push_back(sample(where, 8, 4, samples.size()));
    EXPECT_EQ(import_track_samples(t.file.get(), t.track, samples.data(), static_cast<uint32_t>(samples.size()),
                                   c.source ? &source : nullptr),
              ErrorCode::BadArgument);
    EXPECT_EQ(find_converted(t.file.get(), 1), nullptr);
    EXPECT_EQ(sample_count(t.track), 0u);  // tables untouched
    if (c.source) {
      EXPECT_EQ(t.counts.released, c.expander ? 1 : 0);  // taken over and let go
    }
    converted_release(&source);
  }
}

}  // namespace
}  // namespace vantorel
