#include <gtest/gtest.h>

#include <algorithm>

#include "import/mpegts/ts_builder.h"
#include "import/mpegts/ts_packet.h"
#include "io/byte_io.h"

namespace vantorel {
namespace {

using namespace test::ts;

// `count` packets of PID 0x100 with payloads that hold no sync byte.
Writer plain_packets(uint32_t count) {
  Writer w;
  for (uint32_t i = 0; i < count; ++i) {
    PacketFields s;
    s.payload = Bytes(184, static_cast<uint8_t>(i));
    if (s.payload[0] == 0x47) s.payload.assign(184, 0x11);
    w.packet(s);
  }
  return w;
}

TEST(TsLayout, StrideAndFirstPacketAreFound) {
  struct Case {
    const char* name;
    uint32_t stride;
    uint32_t packets;
    uint32_t garbage;   // bytes before the first packet
    bool whole;
    bool found;
    uint64_t first;
  };
  const Case cases[] = {
      {"188", 188, 8, 0, true, true, 0},
      {"M2TS: sync after the arrival stamp", 192, 8, 0, true, true, 4},
      {"204 with check bytes", 204, 8, 0, true, true, 0},
      {"garbage before", 188, 8, 77, true, true, 77},
      {"M2TS after garbage", 192, 8, 13, true, true, 17},
      {"two packets make a whole file", 188, 2, 0, true, true, 0},
      {"two packets of a longer file are not enough", 188, 2, 0, false, false, 0},
      {"no packets", 188, 0, 300, true, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    Bytes junk(c.garbage, 0x00);
    if (!junk.empty()) junk[junk.size() / 2] = 0x47;  // a lone sync byte in the garbage
    w.garbage(junk);
    Writer p = plain_packets(c.packets);
    Bytes all = w.bytes(c.stride);
    Bytes packets = p.bytes(c.stride);
    all.insert(all.end(), packets.begin(), packets.end());
    TsLayout layout{};
    ASSERT_EQ(ts_find_layout(all.data(), static_cast<uint32_t>(all.size()), c.whole, &layout), c.found);
    if (!c.found) continue;
    EXPECT_EQ(layout.stride, c.stride);
    EXPECT_EQ(layout.first, c.first);
  }
}

TEST(TsLayout, ProbeTakesFilesThatBeginWithPackets) {
  struct Case {
    const char* name;
    uint32_t stride;
    uint32_t packets;
    uint32_t cut;      // bytes cut from the front
    uint32_t garbage;  // bytes put before
    bool probe;
  };
  const Case cases[] = {
      {"188", 188, 10, 0, 0, true},
      {"M2TS", 192, 10, 0, 0, true},
      {"204", 204, 10, 0, 0, true},
      {"cut inside a packet", 188, 10, 100, 0, true},
      {"M2TS cut inside a stamp", 192, 10, 2, 0, true},
      {"a short whole file", 188, 2, 0, 0, true},
      {"a packet's worth of garbage first", 188, 10, 0, 200, false},
      {"one packet", 188, 1, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes b(c.garbage, 0x00);
    Bytes packets = plain_packets(c.packets).bytes(c.stride);
    b.insert(b.end(), packets.begin() + c.cut, packets.end());
    MemoryIo io(b);
    TsLayout layout{};
    EXPECT_EQ(ts_probe(io.get(), &layout), c.probe);
    EXPECT_EQ(file_tell(io.get()), 0u);
    if (c.probe) {
      EXPECT_EQ(layout.stride, c.stride);
    }
  }
  MemoryIo mp4(Bytes{0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm'});
  EXPECT_FALSE(ts_probe(mp4.get(), nullptr));
}

TEST(TsLayout, SyncIsFoundAgainAfterGarbage) {
  // Packets, garbage with sync bytes that do not repeat at the stride, packets.
  Writer w = plain_packets(3);
  Bytes junk(500, 0x22);
  junk[10] = junk[198] = 0x47;  // two at the stride, not five
  w.garbage(junk);
  Writer tail = plain_packets(6);
  Bytes all = w.bytes();
  Bytes more = tail.bytes();
  all.insert(all.end(), more.begin(), more.end());
  uint32_t at = 0;
  uint32_t scanned = 0;
  ASSERT_TRUE(ts_find_sync(all.data(), static_cast<uint32_t>(all.size()), 188, 3 * 188, true, &at, &scanned));
  EXPECT_EQ(at, 3u * 188 + 500);
  // With the bytes cut inside the run the answer waits for more.
  EXPECT_FALSE(ts_find_sync(all.data(), 3 * 188 + 500 + 400, 188, 3 * 188, false, &at, &scanned));
  EXPECT_EQ(scanned, 3u * 188 + 500);
}

TEST(TsPacket, HeaderAndAdaptationFieldsAreRead) {
  struct Case {
    const char* name;
    PacketFields fields;
    bool malformed;
    uint8_t payload_at;
    bool discontinuity, random_access, has_pcr;
  };
  PacketFields plain;
  plain.pid = 0x1ABC & 0x1FFF;
  plain.unit_start = true;
  plain.cc = 9;
  plain.payload = Bytes(184, 1);
  PacketFields flagged = plain;
  flagged.discontinuity = flagged.random_access = true;
  flagged.pcr = 27000000LL * 3600 + 299;
  flagged.payload = Bytes(100, 2);
  PacketFields only = plain;
  only.adaptation_only = true;
  PacketFields too_long = plain;
  too_long.adaptation_length = 183;  // with a payload at most 182
  too_long.payload = Bytes(10, 3);
  PacketFields zero = plain;
  zero.adaptation_length = 0;  // one stuffing byte
  zero.payload = Bytes(183, 4);
  const Case cases[] = {
      {"payload only", plain, false, 4, false, false, false},
      {"flags and PCR", flagged, false, 88, true, true, true},
      {"adaptation only", only, false, 188, false, false, false},
      {"field longer than the packet", too_long, true, 188, false, false, false},
      {"empty adaptation field", zero, false, 5, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes b = packet(c.fields);
    TsPacket pkt;
    ts_packet_parse(b.data(), &pkt);
    EXPECT_EQ(pkt.pid, c.fields.pid);
    EXPECT_EQ(pkt.continuity, c.fields.cc);
    EXPECT_TRUE(pkt.unit_start);
    EXPECT_EQ(pkt.malformed, c.malformed);
    EXPECT_EQ(pkt.payload_at, c.payload_at);
    EXPECT_EQ(pkt.discontinuity, c.discontinuity);
    EXPECT_EQ(pkt.random_access, c.random_access);
    EXPECT_EQ(pkt.has_pcr, c.has_pcr);
    if (c.has_pcr) {
      EXPECT_EQ(pkt.pcr, static_cast<uint64_t>(c.fields.pcr));
    }
  }
  Bytes reserved = packet(plain);
  reserved[3] &= 0xCF;  // adaptation_field_control 00
  TsPacket pkt;
  ts_packet_parse(reserved.data(), &pkt);
  EXPECT_TRUE(pkt.malformed);
  EXPECT_FALSE(ts_has_payload(pkt));
}

TEST(TsContinuity, CountersFollowTheRules) {
  enum { P = 0, A = 1, D = 2, E = 3 };  // payload, adaptation only, discontinuity with payload, error
  struct Step {
    uint8_t cc;
    int kind;
    TsAdmit expect;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"in order, wrapping", {{14, P, TsAdmit::Payload}, {15, P, TsAdmit::Payload}, {0, P, TsAdmit::Payload}}},
      {"one duplicate is skipped",
       {{3, P, TsAdmit::Payload}, {3, P, TsAdmit::Skip}, {4, P, TsAdmit::Payload}}},
      {"a second duplicate is not a copy",
       {{3, P, TsAdmit::Payload}, {3, P, TsAdmit::Skip}, {3, P, TsAdmit::Unusable}, {4, P, TsAdmit::Payload}}},
      {"adaptation-only packets do not count",
       {{5, P, TsAdmit::Payload}, {5, A, TsAdmit::Skip}, {6, P, TsAdmit::Payload}}},
      {"a gap", {{5, P, TsAdmit::Payload}, {7, P, TsAdmit::GapPayload}, {8, P, TsAdmit::Payload}}},
      {"the discontinuity indicator starts afresh",
       {{5, P, TsAdmit::Payload}, {11, D, TsAdmit::Payload}, {12, P, TsAdmit::Payload}}},
      {"an errored packet is not taken", {{5, P, TsAdmit::Payload}, {6, E, TsAdmit::Unusable}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TsContinuity state = kTsContinuityStart;
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& step = c.steps[i];
      PacketFields fields;
      fields.cc = step.cc;
      fields.adaptation_only = step.kind == A;
      fields.discontinuity = step.kind == D;
      fields.error = step.kind == E;
      fields.payload = Bytes(184, 0);
      Bytes b = packet(fields);
      TsPacket pkt;
      ts_packet_parse(b.data(), &pkt);
      EXPECT_EQ(ts_continuity(&state, pkt), step.expect) << "step " << i;
    }
  }
}

TEST(TsWalker, PacketsAreWalkedAcrossReadsAndGarbage) {
  // More packets than one window holds, garbage in the middle, a cut tail.
  Writer w = plain_packets(800);
  Bytes junk(1000, 0x33);
  w.garbage(junk);
  Writer more = plain_packets(700);
  for (uint32_t stride : {188u, 192u, 204u}) {
    SCOPED_TRACE(stride);
    Bytes all = w.bytes(stride);
    Bytes tail = more.bytes(stride);
    all.insert(all.end(), tail.begin(), tail.end());
    all.insert(all.end(), 100, 0x47);  // a cut packet
    MemoryIo io(all);
    TsWindow window;
    ASSERT_EQ(ts_window_open(&window, io.get(), 0x10000, 0), ErrorCode::Ok);
    TsWalker walker{&window, TsLayout{stride, stride == 192 ? 4u : 0u}, stride == 192 ? 4u : 0u};
    uint32_t packets = 0;
    uint32_t resyncs = 0;
    TsStepNote note{};
    for (;;) {
      const uint8_t* p = nullptr;
      uint64_t offset = 0;
      TsStep step;
      ASSERT_EQ(ts_walk_next(&walker, &p, &offset, &step, &note), ErrorCode::Ok);
      if (step == TsStep::End) break;
      if (step == TsStep::Resynced) {
        ++resyncs;
        EXPECT_EQ(note.lost_at, 800ull * stride + (stride == 192 ? 4 : 0));
        EXPECT_EQ(note.skipped, 1000u);
      }
      EXPECT_EQ(p[0], 0x47);
      ++packets;
    }
    EXPECT_EQ(packets, 1500u);
    EXPECT_EQ(resyncs, 1u);
    EXPECT_EQ(note.cut, stride == 192 ? 96u : 100u);
    ts_window_release(&window);
  }
}

// However the window fetches them (read in blocks, or with a stretch kept
// behind where it moves on), the bytes it hands out are the file's, as many
// as the file holds; a step back into the kept stretch reads nothing.
TEST(TsWindow, BytesAreTheFilesHoweverFetched) {
  Bytes file(300000);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7 + i / 251);
  struct Request {
    uint64_t offset;
    uint32_t need;
  };
  // Forward steps, a step back inside the last stretch, steps a little
  // past the bytes read, one far back, a jump, requests across a block's
  // end and the file's end, one past it.
  const Request requests[] = {{0, 188},     {70000, 188},    {69000, 4000},  {90000, 188},  {95000, 3000},
                              {131000, 2000}, {5000, 188},   {200000, 65536}, {265000, 188}, {299900, 188},
                              {300000, 10},   {100, 65536}};
  struct Case {
    const char* name;
    uint32_t read_size;
    uint32_t behind;
    bool step_back_reads;  // the request at 69000 after the one at 70000
  };
  const Case cases[] = {
      {"read in blocks", 0x4000, 0, true},
      {"read in blocks, a stretch kept behind", 0x4000, 0x8000, false},
      {"read whole, more kept behind than a request leaves room for", 0, 0xF000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryIo io(file);
    TsWindow w;
    ASSERT_EQ(ts_window_open(&w, io.get(), 0x10000, c.read_size), ErrorCode::Ok);
    w.behind = c.behind;
    for (const Request& r : requests) {
      SCOPED_TRACE(r.offset);
      const uint8_t* p = nullptr;
      uint32_t got = 0;
      const uint64_t read_to = w.io_position;
      ASSERT_EQ(ts_window_get(&w, r.offset, r.need, &p, &got), ErrorCode::Ok);
      if (r.offset == 69000) {
        EXPECT_EQ(w.io_position != read_to, c.step_back_reads);
      }
      const uint64_t left = r.offset < file.size() ? file.size() - r.offset : 0;
      ASSERT_EQ(got, std::min<uint64_t>(left, r.need));
      if (got > 0) {
        EXPECT_EQ(Bytes(p, p + got), Bytes(file.begin() + r.offset, file.begin() + r.offset + got));
      }
    }
    ts_window_release(&w);
  }
}

}  // namespace
}  // namespace vantorel
