// Where a created file puts its boxes: the reserved space, the media data,
// the movie box in front or behind, the filler, and files past 4 GiB.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "mediafile/writer_support.h"
#include "io/value64.h"
#include "sampletables/stco.h"
#include "support/ffprobe.h"
#include "support/sparse_sink.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

// One MPEG-1 audio track of `samples` frames. The file's bytes.
// An MPEG-1 layer III frame of silence: 128 kbit/s, 44.1 kHz, 417 bytes.
Bytes mp3_frame() {
  Bytes f(417, 0);
  f[0] = 0xFF;
  f[1] = 0xFB;
  f[2] = 0x90;
  f[3] = 0x64;
  return f;
}

Bytes make_file(const TempDir& dir, const CreateOptions& o, uint32_t samples) {
  std::string path = dir.path("layout.mp4");
  MediaFile* file = create_file(path, o);
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return {};
  TrackSpec track_spec{};
  track_spec.kind = kKindMpeg1Audio;
  track_spec.sample_rate = 44100;
  track_spec.channel_count = 2;
  track_spec.timescale = 44100;
  uint32_t id = media_add_track(file, &track_spec);
  EXPECT_NE(id, 0u);
  Bytes data = mp3_frame();
  for (uint32_t i = 0; i < samples; ++i) {
    SampleWrite w = sample_of(data, 1152);
    EXPECT_EQ(write_sample(file, id, &w), ErrorCode::Ok);
  }
  EXPECT_EQ(media_close(file), ErrorCode::Ok);
  return read_whole_file(path);
}

uint64_t size_of(const std::vector<TopBox>& boxes, const std::string& type) {
  for (const TopBox& b : boxes)
    if (b.type == type) return b.size;
  return 0;
}

TEST(Layout, ReservedSpaceDecidesWhereTheMovieGoes) {
  TempDir dir;
  Bytes plain = make_file(dir, {}, 3);
  std::vector<TopBox> boxes = top_boxes(plain);
  ASSERT_EQ(top_box_types(boxes), "ftyp mdat moov");
  const uint64_t moov = size_of(boxes, "moov");
  struct Case {
    uint32_t reserve;
    const char* types;
    uint64_t free_size;
  };
  const Case cases[] = {
      {0, "ftyp mdat moov", 0},
      {static_cast<uint32_t>(moov), "ftyp moov mdat", 0},
      {static_cast<uint32_t>(moov + 8), "ftyp moov free mdat", 8},
      {static_cast<uint32_t>(moov + 9), "ftyp moov free mdat", 9},
      {static_cast<uint32_t>(moov + 4), "ftyp free mdat moov", moov + 4},  // 4 bytes could not be a box
      {static_cast<uint32_t>(moov - 1), "ftyp free mdat moov", moov - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reserve);
    CreateOptions o;
    o.reserve = c.reserve;
    Bytes bytes = make_file(dir, o, 3);
    bool complete = false;
    std::vector<TopBox> got = top_boxes(bytes, &complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(top_box_types(got), c.types);
    EXPECT_EQ(size_of(got, "free"), c.free_size);
    EXPECT_EQ(size_of(got, "moov"), moov);
  }
}

TEST(Layout, SmallReservesAreNotKept) {
  TempDir dir;
  for (uint32_t reserve : {1u, 8u}) {
    SCOPED_TRACE(reserve);
    CreateOptions o;
    o.reserve = reserve;
    EXPECT_EQ(top_box_types(top_boxes(make_file(dir, o, 1))), "ftyp mdat moov");
  }
  CreateOptions o;
  o.reserve = 9;
  std::vector<TopBox> boxes = top_boxes(make_file(dir, o, 1));
  EXPECT_EQ(top_box_types(boxes), "ftyp free mdat moov");
  EXPECT_EQ(size_of(boxes, "free"), 9u);
}

TEST(Layout, ProfiledFilesReserveAtLeast148Bytes) {
  TempDir dir;
  CreateOptions o;
  o.flags = kFlagPsp;
  bool complete = false;
  std::vector<TopBox> boxes = top_boxes(make_file(dir, o, 2), &complete);
  EXPECT_TRUE(complete);
  // The profile box fits in front, the movie box does not: 148 bytes are
  // the profile box and a 'free' box.
  ASSERT_EQ(top_box_types(boxes), "ftyp uuid free mdat moov");
  EXPECT_EQ(boxes[1].size + boxes[2].size, 148u);
  EXPECT_EQ(boxes[3].start, boxes[1].start + 148);
}

TEST(Layout, NoSamplesNoMediaDataAndTheRestIsAFreeBox) {
  TempDir dir;
  Bytes bare = make_file(dir, {}, 0);
  std::vector<TopBox> boxes = top_boxes(bare);
  ASSERT_EQ(top_box_types(boxes), "ftyp moov");
  const uint64_t moov = size_of(boxes, "moov");
  struct Case {
    uint64_t reserve;
    const char* types;
    uint64_t free_size;
  };
  const Case cases[] = {
      {moov, "ftyp moov", 0},
      {moov + 8, "ftyp moov free", 8},
      {moov + 100, "ftyp moov free", 100},
      // A rest of 1 to 7 bytes cannot be a box: the filler grows to 8.
      {moov + 1, "ftyp moov free", 8},
      {moov + 7, "ftyp moov free", 8},
      // A movie larger than the reserve simply runs on.
      {moov - 20, "ftyp moov", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reserve - moov);
    CreateOptions o;
    o.reserve = static_cast<uint32_t>(c.reserve);
    o.writer_name = "abcde";
    Bytes bytes = make_file(dir, o, 0);
    bool complete = false;
    std::vector<TopBox> got = top_boxes(bytes, &complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(top_box_types(got), c.types);
    EXPECT_EQ(size_of(got, "free"), c.free_size);
    if (c.free_size >= 10) {
      const TopBox& f = got.back();
      EXPECT_EQ(
          std::string(bytes.begin() + static_cast<long>(f.start) + 8, bytes.begin() + static_cast<long>(f.start) + 10),
          "ab");
    }
  }
}

TEST(Layout, ValidForFfprobe) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  for (uint32_t reserve : {0u, 4000u}) {
    CreateOptions o;
    o.reserve = reserve;
    Bytes bytes = make_file(dir, o, 5);
    std::string path = dir.path("layout.mp4");
    std::string out;
    EXPECT_EQ(run_command("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + shell_quote(path) + " 2>&1",
                          &out),
              0);
    EXPECT_EQ(out, "mp3\n");
  }
}

// Writes from one buffer that is never filled: the sparse sink does not
// look at large writes.
TEST(Layout, PastFourGibibytes) {
  SparseFile sink;
  OpenParams p{};
  p.routines = sparse_routines();
  p.user = &sink;
  p.movie_timescale = 600;
  p.major_brand = FourCC::of("isom");
  MediaFile* file = nullptr;
  ASSERT_EQ(media_open(&file, &p, kOpenCreate), ErrorCode::Ok);
  TrackSpec big{};
  big.kind = kKindH263;
  big.width = 64;
  big.height = 48;
  big.timescale = 1000;
  TrackSpec small = big;
  uint32_t a = media_add_track(file, &big), b = media_add_track(file, &small);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  constexpr uint32_t kHuge = 1536u << 20;  // 1.5 GiB
  auto* buffer = static_cast<uint8_t*>(std::malloc(kHuge));
  ASSERT_NE(buffer, nullptr);
  SampleWrite huge{};
  huge.data = buffer;
  huge.size = kHuge;
  huge.duration = 40;
  huge.flags = kSampleSync;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(write_sample(file, a, &huge), ErrorCode::Ok);
  Bytes tiny = pattern(16, 1);
  SampleWrite last = sample_of(tiny, 40);
  ASSERT_EQ(write_sample(file, b, &last), ErrorCode::Ok);
  ASSERT_EQ(media_close(file), ErrorCode::Ok);
  std::free(buffer);

  // The media data box starts after 'ftyp' and got a 64-bit size in place.
  const uint64_t mdat = 8 + 4 + 4;  // 'ftyp' with its major brand and minor version
  Bytes head = sink.bytes(mdat, 16);
  EXPECT_EQ(Bytes(head.begin(), head.begin() + 8), (Bytes{0, 0, 0, 1, 'm', 'd', 'a', 't'}));
  uint64_t size = (uint64_t{load_u32be(&head[8])} << 32) | load_u32be(&head[12]);
  EXPECT_EQ(size, 16 + 3 * uint64_t{kHuge} + 16);

  // Read back through the same sink: the small track's chunk needs 'co64'.
  sink.position = 0;
  MediaFile* again = nullptr;
  ASSERT_EQ(media_open(&again, &p, kOpenRead), ErrorCode::Ok);
  auto* offsets_a = track_record<ChunkOffsetTable>(find_track(again->root, a), BoxTypeId::Stco);
  auto* offsets_b = track_record<ChunkOffsetTable>(find_track(again->root, b), BoxTypeId::Stco);
  ASSERT_NE(offsets_a, nullptr);
  ASSERT_NE(offsets_b, nullptr);
  ASSERT_EQ(offsets_a->offsets.count, 1u);
  EXPECT_EQ(offsets_a->offsets[0], mdat + 16);
  ASSERT_EQ(offsets_b->offsets.count, 1u);
  EXPECT_EQ(offsets_b->offsets[0], mdat + 16 + 3 * uint64_t{kHuge});
  EXPECT_TRUE(chunk_offsets_need_64bit(find_track(again->root, b)));
  uint8_t buf[16];
  SampleRead s{};
  s.buffer = buf;
  s.capacity = sizeof buf;
  ASSERT_EQ(read_next_sample(again, b, &s), ErrorCode::Ok);
  EXPECT_EQ(Bytes(buf, buf + s.size), tiny);
  media_close(again);
  // The movie box went out in one write: one table is 'co64', one 'stco'.
  auto count = [&](const std::string& type) {
    int n = 0;
    for (const auto& w : sink.writes)
      for (size_t i = 0; i + 4 <= w.second.size(); ++i)
        if (std::equal(type.begin(), type.end(), w.second.begin() + static_cast<long>(i))) ++n;
    return n;
  };
  EXPECT_EQ(count("co64"), 1);
  EXPECT_EQ(count("stco"), 1);
}

// Header first: a file measured with its samples, then written with that
// header in front of the media data, front to back. It is the file the
// classic layout gives with exactly the header's room reserved.
TEST(Layout, HeaderFirstIsTheReservedLayoutWrittenInOrder) {
  TempDir dir;
  now_pin(3000000000u);  // both files carry the same times
  HeaderBlock header{};
  CreateOptions measuring;
  measuring.header_first = 1;
  measuring.header_out = &header;
  make_file(dir, measuring, 40);
  ASSERT_NE(header.data, nullptr);
  CreateOptions writing;
  writing.header_first = 1;
  writing.stored_header = &header;
  writing.planned_mdat_size = 40 * 417;
  Bytes first = make_file(dir, writing, 40);
  CreateOptions reserved;
  reserved.reserve = header.size;
  Bytes classic = make_file(dir, reserved, 40);
  std::vector<TopBox> boxes = top_boxes(first);
  ASSERT_EQ(top_box_types(boxes), "ftyp moov mdat");
  EXPECT_EQ(first, classic);
  EXPECT_EQ(boxes[1].size, header.size);
  EXPECT_TRUE(std::equal(header.data, header.data + header.size, first.begin() + static_cast<long>(boxes[1].start)));

  // What the writing file ends with must be what it began with.
  struct Case {
    const char* what;
    int32_t changed_byte;  // of the stored header, or -1
    uint32_t samples;
    uint32_t stored_extra;  // bytes the stored header has past the real one
  };
  const auto last = static_cast<int32_t>(header.size - 1);
  const Case cases[] = {{"a changed header", static_cast<int32_t>(header.size / 2), 40, 0},
                        {"its last byte changed", last, 40, 0},
                        {"a stored header longer than the one written", -1, 40, 1},
                        {"one sample fewer than planned", -1, 39, 0},
                        {"one sample more than planned", -1, 41, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes stored(header.data, header.data + header.size);
    stored.resize(stored.size() + c.stored_extra, 0);
    if (c.changed_byte >= 0) stored[static_cast<size_t>(c.changed_byte)] ^= 0x01;
    HeaderBlock block{stored.data(), static_cast<uint32_t>(stored.size()), 0};
    writing.stored_header = &block;
    MediaFile* file = create_file(dir.path("bad.mp4"), writing);
    ASSERT_NE(file, nullptr);
    TrackSpec track_spec{};
    track_spec.kind = kKindMpeg1Audio;
    track_spec.sample_rate = 44100;
    track_spec.channel_count = 2;
    track_spec.timescale = 44100;
    uint32_t id = media_add_track(file, &track_spec);
    Bytes data = mp3_frame();
    for (uint32_t i = 0; i < c.samples; ++i) {
      SampleWrite w = sample_of(data, 1152);
      ASSERT_EQ(write_sample(file, id, &w), ErrorCode::Ok);
    }
    EXPECT_EQ(media_close(file), ErrorCode::Overrun);
  }
  std::free(header.data);
  now_unpin();
}

// A chunk just below 4 GiB in the measuring file lands above it once the
// header moves in front: its table becomes 'co64', the header grows, and
// the capture must settle on that before the writing file agrees with it.
TEST(Layout, HeaderFirstSettlesAChunkTableThatTheShiftWidens) {
  now_pin(3000000000u);
  constexpr uint32_t kHuge = 1431655751u;  // three of these and the headers: 4 GiB less 9 bytes
  auto* buffer = static_cast<uint8_t*>(std::malloc(kHuge + 1));
  ASSERT_NE(buffer, nullptr);
  HeaderBlock header{};
  Bytes tiny = pattern(16, 1);
  auto write_file = [&](SparseFile* sink, bool measuring) {
    OpenParams p{};
    p.routines = sparse_routines();
    p.user = sink;
    p.movie_timescale = 600;
    p.major_brand = FourCC::of("isom");
    p.header_first = 1;
    if (measuring) {
      p.header_out = &header;
    } else {
      p.stored_header = header.data;
      p.stored_header_size = header.size;
      p.planned_mdat_size = uint64_t{kHuge} * 3 + 1 + tiny.size();
    }
    MediaFile* file = nullptr;
    EXPECT_EQ(media_open(&file, &p, kOpenCreate), ErrorCode::Ok);
    if (file == nullptr) return ErrorCode::BadArgument;
    TrackSpec wanted{};
    wanted.kind = kKindH263;
    wanted.width = 64;
    wanted.height = 48;
    wanted.timescale = 1000;
    uint32_t a = media_add_track(file, &wanted), b = media_add_track(file, &wanted);
    for (uint32_t extra : {0u, 0u, 1u}) {
      SampleWrite huge{};
      huge.data = buffer;
      huge.size = kHuge + extra;
      huge.duration = 40;
      huge.flags = kSampleSync;
      EXPECT_EQ(write_sample(file, a, &huge), ErrorCode::Ok);
    }
    SampleWrite last = sample_of(tiny, 40);
    EXPECT_EQ(write_sample(file, b, &last), ErrorCode::Ok);
    return media_close(file);
  };
  SparseFile measured, written;
  ASSERT_EQ(write_file(&measured, true), ErrorCode::Ok);
  ASSERT_NE(header.data, nullptr);
  ASSERT_EQ(write_file(&written, false), ErrorCode::Ok);
  std::free(buffer);
  // 'ftyp' (16 bytes), then the header, then 'mdat' sized as planned.
  Bytes front = written.bytes(16, header.size);
  EXPECT_TRUE(std::equal(header.data, header.data + header.size, front.begin()));
  EXPECT_NE(std::search(front.begin(), front.end(), std::begin("co64"), std::end("co64") - 1), front.end());
  EXPECT_NE(std::search(front.begin(), front.end(), std::begin("stco"), std::end("stco") - 1), front.end());
  Bytes mdat = written.bytes(16 + header.size, 8);
  EXPECT_EQ(mdat, (Bytes{0xFF, 0xFF, 0xFF, 0xF6, 'm', 'd', 'a', 't'}));  // 3 * kHuge + 1 + 16 + 16
  // Nothing was written twice: every write starts where the last one ended
  // or, past a sample too large to keep, further on.
  uint64_t at = 0;
  for (const auto& w : written.writes) {
    EXPECT_GE(w.first, at);
    at = w.first + w.second.size();
  }
  std::free(header.data);
  now_unpin();
}

}  // namespace
}  // namespace vantorel
