// The layout the first pass notes for each H.264 picture, read back from
// the packets, gives the bytes that gathering the picture and searching its
// start codes again gives, wherever the packets cut the picture.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/mpegts/ts_access.h"
#include "import/mpegts/ts_builder.h"
#include "import/mpegts/ts_nal_layout.h"
#include "import/mpegts/ts_param_sets.h"
#include "mediafile/mediafile.h"

namespace vantorel {
namespace {

using namespace test::ts;

constexpr uint16_t kVideo = 0x100;

Bytes hex(const char* text) {
  Bytes b;
  for (const char* p = text; p[0] != '\0' && p[1] != '\0'; p += 2)
    b.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
  return b;
}

const Bytes kFour = {0, 0, 0, 1}, kThree = {0, 0, 1};
const Bytes kSps = hex("6742c00ad9047b011000000300100000030320f1226480");
const Bytes kPps = hex("68cb83cb20");
const Bytes kAud = {0x09, 0xF0};

Bytes nal(const Bytes& code, const Bytes& body) { return cat({code, body}); }
// A slice whose data holds emulation prevention bytes (00 00 03).
Bytes slice(uint8_t type, uint32_t size, uint8_t seed) {
  Bytes b = pattern(size, seed);
  b[0] = type;
  b[1] = 0x88;
  for (uint32_t i = 8; i + 3 < size; i += 41) b[i] = 0, b[i + 1] = 0, b[i + 2] = 3;
  return b;
}

struct Read {
  uint32_t pictures = 0;
  uint32_t laid_out = 0;
};

// Indexes `file` and reads every whole picture both ways.
void read_both_ways(const Bytes& file, Read* out) {
  MemoryIo io(file);
  TsAccessPass pass{};
  pass.max_units = 1000;
  TsIndexOptions options{};
  options.on_unit = ts_access_on_unit;
  options.user = &pass;
  TsIndex index{};
  ASSERT_EQ(ts_index_build(io.get(), &options, &index), ErrorCode::Ok);
  ASSERT_EQ(ts_access_finish(&pass, &index), ErrorCode::Ok);
  ASSERT_EQ(pass.count, 1u);
  const TsStreamAccess* s = pass.streams[0];
  TsWindow window;
  ASSERT_EQ(ts_window_open(&window, io.get(), 0x10000, 0x4000), ErrorCode::Ok);
  uint32_t at = 0;
  for (const TsAccessUnit& u : s->units) {
    if ((u.flags & kTsAuBroken) != 0) continue;
    ++out->pictures;
    Bytes raw(u.where.length);
    ASSERT_EQ(ts_expand(&window, index.layout, kVideo, u.where, raw.data()), ErrorCode::Ok);
    Bytes searched(u.size);
    uint32_t size = 0;
    ASSERT_TRUE(ts_nal_sample(TsNalCodec::H264, raw.data(), u.where.length, &s->configs->configs[u.description],
                              searched.data(), u.size, &size));
    ASSERT_EQ(size, u.size);
    if ((u.flags & kTsAuLaidOut) == 0) continue;
    ++out->laid_out;
    uint32_t end = 0;
    ASSERT_TRUE(ts_layout_read(s->layouts.items, s->layouts.count, at, &end, &size));
    ASSERT_EQ(size, u.size);
    // One byte too little room is a failure, not a write past it.
    for (uint32_t room : {u.size, u.size - 1}) {
      Bytes written(u.size, 0xEE);
      TsLayoutWriter writer;
      ts_layout_writer_start(&writer, s->layouts.items, s->layouts.count, at, written.data(), room);
      ASSERT_EQ(ts_expand_pieces(&window, index.layout, kVideo, u.where, ts_layout_take, &writer), ErrorCode::Ok);
      ASSERT_EQ(ts_layout_writer_done(writer), room == u.size);
      if (room == u.size) EXPECT_TRUE(written == searched) << "picture " << out->pictures;
      else EXPECT_EQ(written.back(), 0xEE);
    }
    at = end;
  }
  EXPECT_EQ(at, s->layouts.count);
  ts_window_release(&window);
  ts_access_release(&pass);
  ts_index_release(&index);
}

TEST(TsNalLayout, ReadsTheBytesTheSearchFindsWhereverPacketsCut) {
  struct Case {
    const char* name;
    std::vector<Bytes> pictures;
    bool bounded;         // PES_packet_length given
    uint32_t cut;         // bytes cut off the end of the file
    uint32_t whole;       // pictures read
  };
  const Bytes idr = slice(0x65, 300, 1), p1 = slice(0x41, 200, 2), p2 = slice(0x41, 90, 3);
  const Case cases[] = {
      {"4-byte start codes, delimiter and sets left out",
       {cat({nal(kFour, kAud), nal(kFour, kSps), nal(kFour, kPps), nal(kFour, idr)}),
        cat({nal(kFour, kAud), nal(kFour, p1)})},
       true, 0, 2},
      {"3- and 4-byte start codes, several slices",
       {cat({nal(kFour, kSps), nal(kThree, kPps), nal(kThree, idr), nal(kThree, p2)}),
        cat({nal(kThree, p1), nal(kFour, p2), nal(kThree, p2)})},
       true, 0, 2},
      {"zero bytes before start codes and at the end",
       {cat({nal(kFour, kSps), nal(kFour, kPps), Bytes{0, 0, 0}, nal(kFour, idr), Bytes{0, 0}}),
        cat({nal(kThree, p1), Bytes{0}, nal(kThree, p2), Bytes{0, 0, 0, 0}})},
       true, 0, 2},
      {"a set after the picture stays in it",
       {cat({nal(kFour, kSps), nal(kFour, kPps), nal(kFour, idr), nal(kFour, kPps)}), nal(kFour, p1)}, true, 0, 2},
      // Units without a length run to the next; the file's end cuts the
      // last inside a packet, which is dropped with what it held.
      {"a cut last unit", {cat({nal(kFour, kSps), nal(kFour, kPps), nal(kFour, idr)}), nal(kFour, p1), nal(kFour, p1)},
       false, 100, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A leading filler unit of every length that moves the start codes
    // across each place a packet can end.
    for (uint32_t lead = 1; lead <= 190; ++lead) {
      SCOPED_TRACE(lead);
      Writer w;
      w.table(0, pat({{1, 0x1000}}));
      w.table(0x1000, pmt(1, kVideo, {{0x1B, kVideo, {}}}));
      for (size_t i = 0; i < c.pictures.size(); ++i) {
        PesFields fields;
        fields.pts = 90000 + static_cast<int64_t>(i) * 3600;
        fields.dts = fields.pts;
        fields.bounded = c.bounded;
        Bytes filler(lead, 0xFF);
        filler[0] = 0x0C;
        const Bytes picture = cat({nal(kFour, filler), c.pictures[i]});
        w.unit(kVideo, pes(fields, picture));
      }
      Bytes file = w.bytes();
      file.resize(file.size() - c.cut);
      Read read;
      read_both_ways(file, &read);
      if (HasFatalFailure()) return;
      EXPECT_EQ(read.pictures, c.whole);
      EXPECT_EQ(read.laid_out, c.whole);
    }
  }
}

// Notes that are not whole are refused, never read past.
TEST(TsNalLayout, NotesThatAreNotWholeAreRefused) {
  GrowArray<uint8_t> notes{};
  const TsNalSpan spans[] = {{4, 104}, {107, 300}};
  uint32_t at = 0;
  ASSERT_EQ(ts_layout_append(&notes, spans, 2, 300, 8 + 100 + 193, &at), ErrorCode::Ok);
  ASSERT_EQ(at, 0u);
  uint32_t end = 0, size = 0;
  ASSERT_TRUE(ts_layout_read(notes.items, notes.count, 0, &end, &size));
  EXPECT_EQ(end, notes.count);
  EXPECT_EQ(size, 301u);
  for (uint32_t cut = 0; cut < notes.count; ++cut) EXPECT_FALSE(ts_layout_read(notes.items, cut, 0, &end, &size));
  struct Case {
    const char* name;
    Bytes notes;
  };
  const Case cases[] = {
      {"no units", {0}},
      {"a number past 32 bits", {1, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
      {"a number that never ends", {1, 4, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}},
      {"an empty unit", {1, 4, 0}},
      {"more units than a picture is noted with", {0x41, 4, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(ts_layout_read(c.notes.data(), static_cast<uint32_t>(c.notes.size()), 0, &end, &size));
  }
  // Spans that do not make the sample are not noted.
  const TsNalSpan overlapping[] = {{4, 104}, {100, 300}};
  const TsNalSpan past_the_end[] = {{4, 301}};
  EXPECT_EQ(ts_layout_append(&notes, overlapping, 2, 300, 8 + 100 + 200, &at), ErrorCode::Ok);
  EXPECT_EQ(at, kTsNoLayout);
  EXPECT_EQ(ts_layout_append(&notes, past_the_end, 1, 300, 4 + 297, &at), ErrorCode::Ok);
  EXPECT_EQ(at, kTsNoLayout);
  EXPECT_EQ(ts_layout_append(&notes, spans, 2, 300, 300, &at), ErrorCode::Ok);  // a size they do not make
  EXPECT_EQ(at, kTsNoLayout);
  notes.release();
}

// A set after a picture's slices stays in its sample while its description
// does not hold it; when a later picture brings the set before its slices,
// the description gains it, and the earlier sample is still read back with
// it, as it was measured: by its notes, and by the search where a picture
// has too many units to be noted.
TEST(TsNalLayout, SetsADescriptionGainsLaterStayInTheSamplesThatCarriedThem) {
  const Bytes pps1 = hex("6852e0f2c8");  // id 1, else as kPps
  for (uint32_t slices : {1u, kTsLayoutMaxUnits + 1}) {
    SCOPED_TRACE(slices);
    auto nals = [&](const std::vector<Bytes>& before, uint8_t type, uint8_t seed, const std::vector<Bytes>& after) {
      std::vector<Bytes> all = before;
      for (uint32_t k = 0; k < slices; ++k) {
        all.push_back(slice(type, 40, static_cast<uint8_t>(seed + k)));
        all.back().back() = 0x80;  // a zero byte at the end would be the next start code's
      }
      all.insert(all.end(), after.begin(), after.end());
      return all;
    };
    const std::vector<std::vector<Bytes>> pictures = {
        nals({kSps, kPps}, 0x65, 1, {pps1}), nals({pps1}, 0x41, 100, {}), nals({}, 0x41, 200, {})};
    // What each sample holds: its units but the sets its description held then.
    const std::vector<std::vector<Bytes>> kept = {
        nals({}, 0x65, 1, {pps1}), nals({}, 0x41, 100, {}), nals({}, 0x41, 200, {})};
    Writer w;
    w.table(0, pat({{1, 0x1000}}));
    w.table(0x1000, pmt(1, kVideo, {{0x1B, kVideo, {}}}));
    for (size_t i = 0; i < pictures.size(); ++i) {
      PesFields fields;
      fields.pts = 90000 + static_cast<int64_t>(i) * 3600;
      fields.dts = fields.pts;
      Bytes au;
      for (const Bytes& n : pictures[i]) au = cat({au, nal(kFour, n)});
      w.unit(kVideo, pes(fields, au));
    }
    const Bytes file = w.bytes();
    MemoryPair pair{file.data(), static_cast<uint32_t>(file.size())};
    OpenParams params{};
    params.routines = memory_routines();
    params.path = &pair;
    MediaFile* media = nullptr;
    ASSERT_EQ(media_open(&media, &params, kOpenRead), ErrorCode::Ok);
    std::vector<uint8_t> buffer(1 << 16);
    for (size_t i = 0; i < kept.size(); ++i) {
      SCOPED_TRACE(i);
      SampleRead s{};
      s.buffer = buffer.data();
      s.capacity = static_cast<uint32_t>(buffer.size());
      ASSERT_EQ(read_next_sample(media, 1, &s), ErrorCode::Ok);
      Bytes expected;
      for (const Bytes& n : kept[i]) {
        const auto length = static_cast<uint32_t>(n.size());
        expected = cat({expected, Bytes{static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                                        static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)},
                        n});
      }
      EXPECT_TRUE(Bytes(buffer.begin(), buffer.begin() + s.size) == expected);
    }
    media_close(media);
  }
}

}  // namespace
}  // namespace vantorel
