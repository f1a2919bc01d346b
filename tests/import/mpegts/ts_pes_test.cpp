#include <gtest/gtest.h>

#include <vector>

#include "import/mpegts/ts_builder.h"
#include "import/mpegts/ts_index.h"
#include "import/mpegts/ts_pes.h"

namespace vantorel {
namespace {

using namespace test::ts;

TEST(TsPes, HeadersAreReadAndCheckedAgainstTheirLengths) {
  PesFields both;
  both.pts = (int64_t{1} << 33) - 1;
  both.dts = 123456789;
  PesFields pts_only;
  pts_only.pts = 90000;
  pts_only.extra_header = 4;
  PesFields marker = pts_only;
  marker.bad_marker = true;
  Bytes flags_01 = pes(pts_only, {1});
  flags_01[7] = 0x40;
  Bytes short_header = pes(pts_only, {1});
  short_header[8] = 3;  // a PTS needs five bytes
  Bytes short_packet = pes(PesFields{}, {});
  short_packet[5] = 2;  // PES_packet_length below the optional header
  Bytes mpeg1 = pes(pts_only, {1});
  mpeg1[6] = 0x40;
  // A header extension that names a stream id extension (PES_extension_flag_2).
  Bytes extended = {0, 0, 1, 0xFD, 0, 0, 0x80, 0x01, 3, 0x01, 0x81, 0x71};
  struct Case {
    const char* name;
    Bytes bytes;
    size_t n;  // bytes given; 0: all
    PesParse result;
    uint32_t need;
    uint32_t header_length;
    bool has_pts, has_dts, marker_error;
    uint64_t pts, dts;
    uint8_t extension;
  };
  const Case cases[] = {
      {"PTS and DTS", pes(both, {1, 2}), 0, PesParse::Ok, 0, 19, true, true, false, (uint64_t{1} << 33) - 1,
       123456789, 0},
      {"PTS with stuffing", pes(pts_only, {1}), 0, PesParse::Ok, 0, 18, true, false, false, 90000, 90000, 0},
      {"no timestamps", pes(PesFields{}, {1}), 0, PesParse::Ok, 0, 9, false, false, false, 0, 0, 0},
      {"padding has no optional header", {0, 0, 1, 0xBE, 0, 4, 0xFF, 0xFF}, 0, PesParse::Ok, 0, 6, false, false, false,
       0, 0, 0},
      {"wrong marker bits", pes(marker, {1}), 0, PesParse::Ok, 0, 18, false, false, true, 0, 0, 0},
      {"stream id extension", extended, 0, PesParse::Ok, 0, 12, false, false, false, 0, 0, 0x71},
      {"PTS_DTS_flags 01", flags_01, 0, PesParse::Malformed, 0, 0, false, false, false, 0, 0, 0},
      {"fields past the header", short_header, 0, PesParse::Malformed, 0, 0, false, false, false, 0, 0, 0},
      {"length below the header", short_packet, 0, PesParse::Malformed, 0, 0, false, false, false, 0, 0, 0},
      {"MPEG-1 syntax", mpeg1, 0, PesParse::Malformed, 0, 0, false, false, false, 0, 0, 0},
      {"no start code", {0, 0, 2, 0xE0, 0, 0, 0x80, 0, 0}, 0, PesParse::NotPes, 0, 0, false, false, false, 0, 0, 0},
      {"not a stream id", {0, 0, 1, 0xB3, 0, 0, 0x80, 0, 0}, 0, PesParse::NotPes, 0, 0, false, false, false, 0, 0, 0},
      {"five bytes", pes(both, {}), 5, PesParse::NeedMore, 6, 0, false, false, false, 0, 0, 0},
      {"eight bytes", pes(both, {}), 8, PesParse::NeedMore, 9, 0, false, false, false, 0, 0, 0},
      {"part of the fields", pes(both, {}), 12, PesParse::NeedMore, 19, 0, false, false, false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PesHeader h{};
    uint32_t need = 0;
    uint32_t n = static_cast<uint32_t>(c.n != 0 ? c.n : c.bytes.size());
    ASSERT_EQ(pes_header_parse(c.bytes.data(), n, &h, &need), c.result);
    if (c.result == PesParse::NeedMore) {
      EXPECT_EQ(need, c.need);
    }
    if (c.result != PesParse::Ok) continue;
    EXPECT_EQ(h.header_length, c.header_length);
    EXPECT_EQ(h.has_pts, c.has_pts);
    EXPECT_EQ(h.has_dts, c.has_dts);
    EXPECT_EQ(h.marker_error, c.marker_error);
    EXPECT_EQ(h.stream_id_extension, c.extension);
    if (c.has_pts) {
      EXPECT_EQ(h.pts, c.pts);
      EXPECT_EQ(h.dts, c.dts);
      PesRecord r{};
      pes_record_set_times(&r, h);
      EXPECT_EQ(pes_record_pts(r), c.pts);
      EXPECT_EQ(pes_record_dts(r), c.dts);
    }
  }
}

constexpr uint16_t kPid = 0x100;
constexpr uint16_t kOther = 0x101;

// A stream of one PID whose units are laid out in every awkward way: a
// header split over two packets, adaptation fields with a PCR, a duplicate,
// null packets and another PID between, garbage between packets, payload
// past a unit's length. `es` gets
// the elementary stream, `sizes` each unit's payload size.
Bytes awkward_stream(uint32_t stride, Bytes* es, std::vector<uint32_t>* sizes, uint32_t* broken_unit) {
  Writer w;
  w.table(0, pat({{1, 0x1000}}));
  w.table(0x1000, pmt(1, kPid, {{0x1B, kPid, {}}, {0x0F, kOther, {}}}));
  es->clear();
  sizes->clear();
  for (uint8_t i = 0; i < 9; ++i) {
    Bytes payload = pattern(i == 7 ? 400 : 150 + i * 211, i);
    PesFields fields;
    fields.pts = 9000 + i * 3600;
    fields.bounded = i % 2 == 0 || i == 7;
    fields.extra_header = i == 3 ? 40 : 0;
    Bytes unit = pes(fields, payload);
    if (i == 7) {
      // Its length ends 100 bytes before its packets do, inside a full one.
      unit[5] = static_cast<uint8_t>(unit[5] - 100);
      payload.resize(300);
    }
    size_t at = 0;
    for (int k = 0; at < unit.size(); ++k) {
      PacketFields s;
      s.pid = kPid;
      s.unit_start = at == 0;
      size_t room = 184;
      if (i == 1 && k == 0) room = 5;  // the header goes on in the next packet
      if (i == 2 && k == 1) s.pcr = 27000000LL * i;
      if (s.pcr >= 0) room = 176;
      size_t n = std::min(room, unit.size() - at);
      s.payload.assign(unit.begin() + static_cast<long>(at), unit.begin() + static_cast<long>(at + n));
      s.cc = w.next_cc(kPid);
      if (n < 184 && s.pcr < 0) s.adaptation_length = static_cast<int>(183 - n);
      w.raw_packet(packet(s));
      if (i == 4 && k == 1) w.raw_packet(packet(s));  // a duplicate
      if (i == 5 && k == 0) {
        w.garbage(Bytes(77, 0x00));
        w.packet(PacketFields{0x1FFF, false, 0, false, 0, false, false, false, -1, -1, Bytes(184, 0xFF)});
        w.unit(kOther, pes(PesFields{}, pattern(400, 99)));
      }
      if (i == 6 && k == 1) w.lose(kPid);  // this unit is broken
      at += n;
    }
    es->insert(es->end(), payload.begin(), payload.end());
    sizes->push_back(static_cast<uint32_t>(payload.size()));
  }
  *broken_unit = 6;
  return w.bytes(stride);
}

TEST(TsPes, LocatorsExpandToTheElementaryStreamBytes) {
  for (uint32_t stride : {188u, 192u, 204u}) {
    SCOPED_TRACE(stride);
    Bytes es;
    std::vector<uint32_t> sizes;
    uint32_t broken = 0;
    MemoryIo io(awkward_stream(stride, &es, &sizes, &broken));
    TsIndex index{};
    ASSERT_EQ(ts_index_build(io.get(), nullptr, &index), ErrorCode::Ok);
    const TsPid* pid = nullptr;
    for (const TsPid& p : index.pids)
      if (p.pid == kPid) pid = &p;
    ASSERT_TRUE(pid != nullptr);
    ASSERT_EQ(pid->pes.size(), sizes.size());
    std::vector<uint64_t> starts;  // of each unit in the elementary stream
    uint64_t at = 0;
    for (uint32_t i = 0; i < sizes.size(); ++i) {
      EXPECT_EQ(pid->pes[i].length, sizes[i]) << i;
      EXPECT_EQ((pid->pes[i].flags & kPesBroken) != 0, i == broken) << i;
      starts.push_back(at);
      at += sizes[i];
    }
    struct Case {
      const char* name;
      uint32_t unit, skip, length;
      ErrorCode result;
    };
    uint32_t upto_broken = static_cast<uint32_t>(starts[broken] - starts[1]);
    const Case cases[] = {
        {"a unit whose header spans two packets", 1, 0, sizes[1], ErrorCode::Ok},
        {"a unit with a PCR", 2, 0, sizes[2], ErrorCode::Ok},
        {"a unit with stuffing in its header", 3, 0, sizes[3], ErrorCode::Ok},
        {"a unit with a duplicate packet", 4, 0, sizes[4], ErrorCode::Ok},
        {"a unit with other packets and garbage inside", 5, 0, sizes[5], ErrorCode::Ok},
        {"a unit whose length ends inside a packet", 7, 0, sizes[7], ErrorCode::Ok},
        {"from it into the next", 7, 250, sizes[7] - 250 + 100, ErrorCode::Ok},
        {"a frame inside a unit", 3, 100, 200, ErrorCode::Ok},
        {"one byte", 0, 149, 1, ErrorCode::Ok},
        {"through five units", 0, 20, static_cast<uint32_t>(starts[5] - 20 + 30), ErrorCode::Ok},
        {"up to the broken unit", 1, 0, upto_broken, ErrorCode::Ok},
        {"the broken unit before its gap", 6, 0, 300, ErrorCode::Ok},
        {"into the broken unit", 1, 0, upto_broken + 400, ErrorCode::Malformed},
    };
    TsWindow window;
    ASSERT_EQ(ts_window_open(&window, io.get(), 0x10000, 512), ErrorCode::Ok);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      Bytes out(c.length, 0xEE);
      ASSERT_EQ(ts_expand(&window, index.layout, kPid, EsLocator{pid->pes[c.unit].offset, c.skip, c.length}, out.data()),
                c.result);
      if (c.result != ErrorCode::Ok) continue;
      uint64_t from = starts[c.unit] + c.skip;
      EXPECT_TRUE(std::equal(out.begin(), out.end(), es.begin() + static_cast<long>(from)));
    }
    // Past the last unit of a PID.
    const TsPid* other = nullptr;
    for (const TsPid& p : index.pids)
      if (p.pid == kOther) other = &p;
    ASSERT_TRUE(other != nullptr && other->pes.size() == 1);
    Bytes out(1000);
    EXPECT_EQ(ts_expand(&window, index.layout, kOther, EsLocator{other->pes[0].offset, 0, 1000}, out.data()),
              ErrorCode::Truncated);
    // A locator that does not start at a unit of the PID.
    EXPECT_EQ(ts_expand(&window, index.layout, kPid, EsLocator{pid->pes[2].offset + stride, 0, 10}, out.data()),
              ErrorCode::Malformed);
    EXPECT_EQ(ts_expand(&window, index.layout, kOther, EsLocator{pid->pes[2].offset, 0, 10}, out.data()),
              ErrorCode::Malformed);
    ts_window_release(&window);
    ts_index_release(&index);
  }
}

}  // namespace
}  // namespace vantorel
