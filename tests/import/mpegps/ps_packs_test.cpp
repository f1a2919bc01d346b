// The items of a program stream told from their first bytes, and the
// samples of DVD and Blu-ray LPCM as MP4 holds them; the sample bytes are
// those ffmpeg's encoders write for known input.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "codecs/bluray_lpcm.h"
#include "import/mpegps/ps_import.h"
#include "import/mpegps/ps_packs.h"

namespace vantorel {
namespace {

using Bytes = std::vector<uint8_t>;

// A packet of `id` whose bytes after the length are `rest`.
Bytes packet(uint8_t id, const Bytes& rest) {
  Bytes b = {0, 0, 1, id, static_cast<uint8_t>(rest.size() >> 8), static_cast<uint8_t>(rest.size())};
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

TEST(PsPacks, ItemsAreToldWithTheirLengthsAndPayloads) {
  const Bytes mpeg2_pack = {0, 0, 1, 0xBA, 0x44, 0, 0x04, 0, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xFB, 0xFF, 0xFF, 0xFF};
  Bytes bad_marker = mpeg2_pack;
  bad_marker[6] = 0;
  const Bytes mpeg1_pack = {0, 0, 1, 0xBA, 0x21, 0, 0x01, 0, 0x01, 0xA1, 0xA1, 0xAD};
  // Stuffing, the buffer size, PTS 1 and DTS 0 with their leading bits.
  const Bytes mpeg1_times = packet(0xE0, {0xFF, 0xFF, 0x40, 0x20, 0x31, 0, 0x01, 0, 0x03, 0x11, 0, 0x01, 0, 0x01, 9, 9});
  const Bytes mpeg1_plain = packet(0xC0, {0x0F, 7, 7, 7});
  Bytes overstuffed = packet(0xC0, Bytes(17, 0xFF));
  overstuffed.push_back(0x0F);
  overstuffed[5] = 18;
  // MPEG-2 headers with a PTS, then the sub-stream's own header.
  const Bytes ac3 = packet(0xBD, {0x81, 0x80, 5, 0x21, 0, 0x01, 0, 0x03, 0x80, 1, 0, 2, 0x0B, 0x77});
  const Bytes lpcm = packet(0xBD, {0x81, 0x00, 0, 0xA0, 7, 0, 4, 0x0C, 0x81, 0x80, 0x12, 0x34});
  const Bytes short_substream = packet(0xBD, {0x81, 0x00, 0, 0xA0, 7, 0});
  const Bytes system_header = packet(0xBB, Bytes(12, 0));
  const Bytes whole_video = packet(0xE0, {0x81, 0x00, 0, 1, 2, 3, 4, 5});
  const Bytes cut_video(whole_video.begin(), whole_video.end() - 3);
  struct Case {
    const char* name;
    const Bytes& bytes;
    bool cut;
    PsItem item;
    uint32_t length, payload_at, payload_length;
    uint16_t key;
    bool has_pts, has_dts;
    uint64_t pts, dts;
  };
  const Case cases[] = {
      {"MPEG-2 pack with stuffing", mpeg2_pack, false, PsItem::Pack, 17, 0, 0, 0, false, false, 0, 0},
      {"MPEG-2 pack with a marker bit clear", bad_marker, false, PsItem::Garbage, 0, 0, 0, 0, false, false, 0, 0},
      {"MPEG-1 pack", mpeg1_pack, false, PsItem::Pack, 12, 0, 0, 0, false, false, 0, 0},
      {"system header", system_header, false, PsItem::SystemHeader, 18, 0, 0, 0, false, false, 0, 0},
      {"MPEG-1 packet with times", mpeg1_times, false, PsItem::Packet, 22, 20, 2, 0xE000, true, true, 1, 0},
      {"MPEG-1 packet without times", mpeg1_plain, false, PsItem::Packet, 10, 7, 3, 0xC000, false, false, 0, 0},
      {"more than 16 stuffing bytes", overstuffed, false, PsItem::Garbage, 0, 0, 0, 0, false, false, 0, 0},
      {"AC-3 sub-stream", ac3, false, PsItem::Packet, 20, 18, 2, 0xBD80, true, false, 1, 1},
      {"LPCM sub-stream", lpcm, false, PsItem::Packet, 18, 16, 2, 0xBDA0, false, false, 0, 0},
      {"sub-stream header past the packet", short_substream, false, PsItem::Garbage, 0, 0, 0, 0, false, false, 0, 0},
      {"packet cut by the end of the file", cut_video, false, PsItem::NeedMore, 14, 0, 0, 0, false, false, 0, 0},
      {"packet cut, read to where it ends", cut_video, true, PsItem::Packet, 14, 9, 2, 0xE000, false, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PsPacket pk;
    ASSERT_EQ(ps_parse(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), &pk, c.cut), c.item);
    if (c.item == PsItem::Garbage) continue;
    EXPECT_EQ(pk.length, c.length);
    if (c.item != PsItem::Packet) continue;
    EXPECT_EQ(pk.key, c.key);
    EXPECT_EQ(pk.payload_at, c.payload_at);
    EXPECT_EQ(pk.payload_length, c.payload_length);
    EXPECT_EQ(pk.header.has_pts, c.has_pts);
    EXPECT_EQ(pk.header.has_dts, c.has_dts);
    if (c.has_pts) {
      EXPECT_EQ(pk.header.pts, c.pts);
    }
    if (c.has_dts) {
      EXPECT_EQ(pk.header.dts, c.dts);
    }
  }
  // A pack inside a packet is found; one whose markers are wrong is not.
  Bytes inside = whole_video;
  inside.insert(inside.begin() + 9, mpeg2_pack.begin(), mpeg2_pack.end());
  EXPECT_EQ(ps_find_pack(inside.data(), static_cast<uint32_t>(inside.size()), 6), 9u);
  Bytes fake = whole_video;
  fake.insert(fake.begin() + 9, bad_marker.begin(), bad_marker.end());
  EXPECT_EQ(ps_find_pack(fake.data(), static_cast<uint32_t>(fake.size()), 6), fake.size());
}

TEST(PsPacks, LpcmSamplesBecomeBigEndianInMp4Order) {
  // DVD 24-bit as ffmpeg writes it: six channels in blocks of four samples
  // (high words, then low bytes); mono in blocks of two.
  const Bytes six = {0x10, 0xA0, 0x20, 0xA1, 0x30, 0xA2, 0x40, 0xA3, 0xB0, 0xB0, 0xB0, 0xB0,
                     0x50, 0xA4, 0x60, 0xA5, 0x11, 0xA0, 0x21, 0xA1, 0xB0, 0xB0, 0xB1, 0xB1,
                     0x31, 0xA2, 0x41, 0xA3, 0x51, 0xA4, 0x61, 0xA5, 0xB1, 0xB1, 0xB1, 0xB1};
  Bytes six_out(36);
  ps_lpcm_to_in24(six.data(), 12, 6, 24, six_out.data());
  Bytes want;
  for (uint8_t f = 0; f < 2; ++f)
    for (uint8_t c = 0; c < 6; ++c) want.insert(want.end(), {uint8_t(0x10 * (c + 1) + f), uint8_t(0xA0 + c), uint8_t(0xB0 + f)});
  EXPECT_EQ(six_out, want);
  const Bytes mono = {0x10, 0xA0, 0x11, 0xA0, 0xB0, 0xB1, 0x12, 0xA0, 0x13, 0xA0, 0xB2, 0xB3};
  Bytes mono_out(12);
  ps_lpcm_to_in24(mono.data(), 4, 1, 24, mono_out.data());
  EXPECT_EQ(mono_out, (Bytes{0x10, 0xA0, 0xB0, 0x11, 0xA0, 0xB1, 0x12, 0xA0, 0xB2, 0x13, 0xA0, 0xB3}));

  // Blu-ray headers: payload size, channel assignment and rate, bits.
  struct Case {
    const char* name;
    Bytes header;
    bool ok;
    uint32_t channels, coded, rate, bits;
  };
  const Case cases[] = {
      {"5.1 16-bit 48 kHz", {0x0B, 0x40, 0x91, 0x40}, true, 6, 6, 48000, 16},
      {"mono, padded", {0x03, 0xC0, 0x11, 0x40}, true, 1, 2, 48000, 16},
      {"5.0 24-bit 96 kHz, padded", {0x00, 0x10, 0x84, 0xC0}, true, 5, 6, 96000, 24},
      {"3/0: order not known", {0x00, 0x10, 0x41, 0x40}, false, 0, 0, 0, 0},
      {"reserved rate", {0x00, 0x10, 0x32, 0x40}, false, 0, 0, 0, 0},
      {"reserved sample size", {0x00, 0x10, 0x31, 0x00}, false, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BlurayLpcmHeader h{};
    ASSERT_EQ(bluray_lpcm_parse(c.header.data(), 4, &h), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(h.channels, c.channels);
    EXPECT_EQ(h.coded_channels, c.coded);
    EXPECT_EQ(h.rate, c.rate);
    EXPECT_EQ(h.bits, c.bits);
  }
  // 5.1 as ffmpeg stores it (L R C Ls Rs LFE) into L R C LFE Ls Rs; mono without its padding.
  BlurayLpcmHeader h{};
  ASSERT_TRUE(bluray_lpcm_parse(Bytes{0x0B, 0x40, 0x91, 0x40}.data(), 4, &h));
  const Bytes stored = {0x10, 0xA0, 0x20, 0xA1, 0x30, 0xA2, 0x50, 0xA4, 0x60, 0xA5, 0x40, 0xA3};
  Bytes out(12);
  bluray_lpcm_convert(h, stored.data(), 1, out.data());
  EXPECT_EQ(out, (Bytes{0x10, 0xA0, 0x20, 0xA1, 0x30, 0xA2, 0x40, 0xA3, 0x50, 0xA4, 0x60, 0xA5}));
  ASSERT_TRUE(bluray_lpcm_parse(Bytes{0x03, 0xC0, 0x11, 0x40}.data(), 4, &h));
  const Bytes padded = {0x10, 0xA0, 0, 0, 0x11, 0xA0, 0, 0};
  Bytes mono16(4);
  bluray_lpcm_convert(h, padded.data(), 2, mono16.data());
  EXPECT_EQ(mono16, (Bytes{0x10, 0xA0, 0x11, 0xA0}));
}

}  // namespace
}  // namespace vantorel
