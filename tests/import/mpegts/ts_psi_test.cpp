#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "import/mpegts/ts_builder.h"
#include "import/mpegts/ts_psi.h"
#include "import/mpegts/ts_streams.h"

namespace vantorel {
namespace {

using namespace test::ts;

TEST(TsCrc, MpegTwoCrcOfKnownBytesAndWholeSections) {
  const char* check = "123456789";
  EXPECT_EQ(ts_crc32(reinterpret_cast<const uint8_t*>(check), 9), 0x0376E6E7u);
  Bytes good = pat({{1, 0x1000}});
  Bytes bad = pat({{1, 0x1000}}, 0, false);
  EXPECT_EQ(ts_crc32(good.data(), static_cast<uint32_t>(good.size())), 0u);
  EXPECT_NE(ts_crc32(bad.data(), static_cast<uint32_t>(bad.size())), 0u);
  TsSectionHeader h;
  ASSERT_TRUE(ts_section_header(bad.data(), static_cast<uint32_t>(bad.size()), &h));
  EXPECT_FALSE(h.crc_ok);
  ASSERT_TRUE(ts_section_header(good.data(), static_cast<uint32_t>(good.size()), &h));
  EXPECT_TRUE(h.crc_ok);
}

// A PMT long enough to need several packets.
Bytes long_pmt(uint16_t program, uint32_t streams) {
  std::vector<EsEntry> es;
  for (uint32_t i = 0; i < streams; ++i) es.push_back({0x0F, static_cast<uint16_t>(0x200 + i), language("eng")});
  return pmt(program, 0x200, es);
}

// Payloads as packets carry them: a pointer field when a section starts.
Bytes starting(uint8_t pointer, std::initializer_list<Bytes> parts, size_t size = 184) {
  Bytes b = {pointer};
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  if (b.size() < size) b.resize(size, 0xFF);
  return b;
}
Bytes padded(Bytes b) {
  b.resize(184, 0xFF);
  return b;
}
Bytes slice(const Bytes& b, size_t from, size_t to) {
  return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(std::min(to, b.size())));
}

TEST(TsSections, AssembledAcrossAndWithinPackets) {
  Bytes a = pat({{1, 0x1000}, {2, 0x1001}});
  Bytes b = pmt(1, 0x100, {{0x1B, 0x100, {}}});
  Bytes big = long_pmt(2, 60);  // 60 * 11 + 21 bytes: four packets
  ASSERT_GT(big.size(), 3u * 183);
  struct Payload {
    Bytes bytes;
    bool unit_start;
  };
  struct Case {
    const char* name;
    std::vector<Payload> payloads;
    std::vector<Bytes> sections;  // expected, in order
    uint32_t problems;            // Dropped or Malformed steps
  };
  const Case cases[] = {
      {"one in one packet", {{starting(0, {a}), true}}, {a}, 0},
      {"two in one packet", {{starting(0, {a, b}), true}}, {a, b}, 0},
      {"across packets",
       {{starting(0, {slice(big, 0, 183)}), true},
        {slice(big, 183, 367), false},
        {slice(big, 367, 551), false},
        {padded(slice(big, 551, big.size())), false}},
       {big},
       0},
      {"the end of one and a new one in the same packet",
       {{starting(0, {slice(big, 0, 183)}), true},
        {slice(big, 183, 367), false},
        {slice(big, 367, 551), false},
        {starting(static_cast<uint8_t>(big.size() - 551), {slice(big, 551, big.size()), a}), true}},
       {big, a},
       0},
      {"a new start before the one in progress ends",
       {{starting(0, {slice(big, 0, 183)}), true}, {starting(0, {b}), true}},
       {b},
       1},
      {"pointer past the payload", {{Bytes{200, 0, 0}, true}}, {}, 1},
      {"a section longer than allowed", {{starting(0, {Bytes{0x02, 0xB7, 0xFF}}), true}}, {}, 1},
      {"continuation without a start is ignored", {{slice(big, 183, 367), false}, {starting(0, {a}), true}}, {a}, 0},
      {"a header cut after two bytes",
       {{starting(0, {slice(a, 0, 2)}, 3), true}, {slice(a, 2, a.size()), false}},
       {a},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TsSectionBuffer buffer{};
    std::vector<Bytes> got;
    uint32_t problems = 0;
    for (const Payload& p : c.payloads) {
      TsSectionFeed feed = ts_section_feed(p.bytes.data(), static_cast<uint32_t>(p.bytes.size()), p.unit_start);
      for (;;) {
        const uint8_t* s = nullptr;
        uint32_t n = 0;
        TsSectionStep step = ts_section_next(&buffer, &feed, &s, &n);
        if (step == TsSectionStep::Done) break;
        if (step == TsSectionStep::Section)
          got.emplace_back(s, s + n);
        else
          ++problems;
      }
    }
    EXPECT_EQ(got, c.sections);
    EXPECT_EQ(problems, c.problems);
  }
}

TEST(TsTables, PatAndPmtAreReadWithTheirDescriptors) {
  Bytes a = pat({{0, 0x10}, {1, 0x1000}, {7, 0x1FFE}}, 3, false);
  TsPatEntry entries[kTsMaxPatEntries];
  uint32_t count = 0;
  ASSERT_TRUE(ts_pat_parse(a.data(), static_cast<uint32_t>(a.size()), entries, &count));
  ASSERT_EQ(count, 2u);  // the network PID is not a program
  EXPECT_EQ(entries[0].program_number, 1);
  EXPECT_EQ(entries[0].pmt_pid, 0x1000);
  EXPECT_EQ(entries[1].program_number, 7);
  EXPECT_EQ(entries[1].pmt_pid, 0x1FFE);

  Bytes teletext = descriptor(0x56, {'d', 'e', 'u', 0x09, 0x00});
  Bytes subtitles = descriptor(0x59, {'f', 'r', 'a', 0x10, 0, 1, 0, 1});
  Bytes p = pmt(5, 0x101,
                {{0x1B, 0x101, {}},
                 {0x06, 0x102, cat({language("spa", 3), descriptor(0x6A, {0x00}), registration("AC-3")})},
                 {0x06, 0x103, teletext},
                 {0x06, 0x104, subtitles},
                 {0x06, 0x105, {0x0A, 0x09, 'x'}}},  // a language descriptor running past its loop
                registration("HDMV"), 4);
  auto pmt_record = std::make_unique<TsPmt>();
  TsPmt& t = *pmt_record;
  ASSERT_TRUE(ts_pmt_parse(p.data(), static_cast<uint32_t>(p.size()), &t));
  EXPECT_EQ(t.program_number, 5);
  EXPECT_EQ(t.version, 4);
  EXPECT_TRUE(t.crc_ok);
  EXPECT_EQ(t.pcr_pid, 0x101);
  EXPECT_TRUE(t.program.registration == "HDMV");
  ASSERT_EQ(t.stream_count, 5u);
  EXPECT_EQ(t.streams[0].stream_type, 0x1B);
  EXPECT_EQ(t.streams[0].descriptors.count, 0);
  const TsDescriptors& audio = t.streams[1].descriptors;
  EXPECT_STREQ(audio.language, "spa");
  EXPECT_EQ(audio.audio_type, 3);
  EXPECT_TRUE(audio.registration == "AC-3");
  EXPECT_TRUE(ts_has_tag(audio, kTsDescAc3));
  EXPECT_FALSE(ts_has_tag(audio, kTsDescEac3));
  EXPECT_EQ(audio.count, 3);
  EXPECT_EQ(t.streams[1].info_length, 6u + 3u + 6u);
  EXPECT_EQ(p[t.streams[1].info_at], 0x0A);
  EXPECT_STREQ(t.streams[2].descriptors.language, "deu");
  EXPECT_TRUE(ts_has_tag(t.streams[2].descriptors, kTsDescTeletext));
  EXPECT_STREQ(t.streams[3].descriptors.language, "fra");
  EXPECT_TRUE(t.streams[4].descriptors.cut);
  EXPECT_EQ(t.streams[4].descriptors.count, 0);

  // Lengths that run past the section refuse it.
  Bytes bad = pmt(5, 0x101, {{0x1B, 0x101, {}}});
  bad[11] = 0x20;  // program_info_length past the end
  Bytes resealed = section(0x02, 5, 0, Bytes(bad.begin() + 8, bad.end() - 4));
  EXPECT_FALSE(ts_pmt_parse(resealed.data(), static_cast<uint32_t>(resealed.size()), &t));
  Bytes other = pat({{1, 0x1000}});
  EXPECT_FALSE(ts_pmt_parse(other.data(), static_cast<uint32_t>(other.size()), &t));
}

TEST(TsStreams, StreamTypesAndDescriptorsNameTheKind) {
  struct Case {
    uint8_t stream_type;
    Bytes descriptors;
    bool hdmv;
    TsKind kind;
    TsDisposition disposition;
  };
  const Case cases[] = {
      {0x01, {}, false, TsKind::Mpeg1Video, TsDisposition::Carried},
      {0x02, {}, false, TsKind::Mpeg2Video, TsDisposition::Carried},
      {0x03, {}, false, TsKind::MpegAudio, TsDisposition::Carried},
      {0x04, {}, false, TsKind::MpegAudio, TsDisposition::Carried},
      {0x0F, {}, false, TsKind::AacAdts, TsDisposition::Carried},
      {0x11, {}, false, TsKind::AacLatm, TsDisposition::Carried},
      {0x1B, {}, false, TsKind::H264, TsDisposition::Carried},
      {0x24, {}, false, TsKind::Hevc, TsDisposition::Carried},
      {0x81, {}, false, TsKind::Ac3, TsDisposition::Carried},
      {0x81, {}, true, TsKind::Ac3, TsDisposition::Carried},
      {0x87, {}, false, TsKind::Eac3, TsDisposition::Carried},
      {0x06, descriptor(0x6A, {0}), false, TsKind::Ac3, TsDisposition::Carried},
      {0x06, descriptor(0x7A, {0}), false, TsKind::Eac3, TsDisposition::Carried},
      {0x06, registration("AC-3"), false, TsKind::Ac3, TsDisposition::Carried},
      {0x06, registration("EAC3"), false, TsKind::Eac3, TsDisposition::Carried},
      {0x06, registration("HEVC"), false, TsKind::Hevc, TsDisposition::Carried},
      {0x06, registration("Opus"), false, TsKind::Opus, TsDisposition::Carried},
      {0x06, registration("BSSD"), false, TsKind::Aes3, TsDisposition::LeftOut},
      {0x06, descriptor(0x59, Bytes(8, 'a')), false, TsKind::DvbSubtitle, TsDisposition::LeftOut},
      {0x06, descriptor(0x56, Bytes(5, 'a')), false, TsKind::Teletext, TsDisposition::LeftOut},
      {0x06, descriptor(0x45, {}), false, TsKind::Vbi, TsDisposition::LeftOut},
      {0x06, language("eng"), false, TsKind::PrivateData, TsDisposition::Probe},
      {0x06, {}, true, TsKind::PrivateData, TsDisposition::Probe},
      {0x86, {}, false, TsKind::Scte35, TsDisposition::Skipped},
      {0x86, {}, true, TsKind::Dts, TsDisposition::Carried},
      {0x80, {}, true, TsKind::Lpcm, TsDisposition::Carried},
      {0x80, {}, false, TsKind::Unknown, TsDisposition::LeftOut},
      {0x82, {}, true, TsKind::Dts, TsDisposition::Carried},
      {0x82, {}, false, TsKind::Dts, TsDisposition::Carried},
      {0x83, {}, true, TsKind::TrueHd, TsDisposition::Carried},
      {0x84, {}, true, TsKind::Eac3, TsDisposition::Carried},
      {0x85, {}, true, TsKind::Dts, TsDisposition::Carried},
      {0x90, {}, true, TsKind::Pgs, TsDisposition::LeftOut},
      {0xA1, {}, true, TsKind::Eac3, TsDisposition::Carried},
      {0xA2, {}, true, TsKind::DtsExpress, TsDisposition::LeftOut},
      {0xEA, {}, true, TsKind::Vc1, TsDisposition::Carried},
      {0xEA, {}, false, TsKind::Vc1, TsDisposition::Carried},
      {0x1B, registration("HDMV"), true, TsKind::H264, TsDisposition::Carried},
      {0x15, registration("ID3 "), false, TsKind::Metadata, TsDisposition::Skipped},
      {0x05, {}, false, TsKind::Sections, TsDisposition::Skipped},
      {0x42, {}, false, TsKind::Unknown, TsDisposition::LeftOut},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int{c.stream_type} << " hdmv " << c.hdmv << " descriptors "
                                    << c.descriptors.size());
    TsDescriptors d;
    ts_descriptors_parse(c.descriptors.data(), static_cast<uint32_t>(c.descriptors.size()), &d);
    const TsStreamClass* cls = ts_classify(c.stream_type, d, c.hdmv);
    ASSERT_NE(cls, nullptr);
    EXPECT_EQ(cls->kind, c.kind) << cls->name;
    EXPECT_EQ(cls->disposition, c.disposition);
    EXPECT_EQ(cls->reason == nullptr, c.disposition == TsDisposition::Carried);
    EXPECT_EQ(ts_stream_class(c.kind), cls);
  }
}

}  // namespace
}  // namespace vantorel
