// The frame headers importers split and describe streams by.
#include <gtest/gtest.h>

#include <vector>

#include "codecs/aac.h"
#include "codecs/ac3.h"
#include "codecs/jpeg.h"
#include "codecs/mpeg4_visual.h"
#include "codecs/mpeg_audio.h"

namespace vantorel {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(CodecFrames, MpegAudioHeaders) {
  struct Case {
    const char* name;
    Bytes header;
    bool ok;
    uint32_t length, samples, rate, mpeg1, layer;
  };
  const Case cases[] = {
      {"MPEG-1 layer III 128 kbit/s 44.1 kHz", {0xFF, 0xFB, 0x90, 0x00}, true, 417, 1152, 44100, 1, 3},
      {"the same, padded", {0xFF, 0xFB, 0x92, 0x00}, true, 418, 1152, 44100, 1, 3},
      {"MPEG-2 layer III 64 kbit/s 22.05 kHz", {0xFF, 0xF3, 0x80, 0x00}, true, 208, 576, 22050, 0, 3},
      {"MPEG-2.5 layer III 8 kbit/s 8 kHz", {0xFF, 0xE3, 0x18, 0x00}, true, 72, 576, 8000, 0, 3},
      {"MPEG-1 layer II 192 kbit/s 48 kHz", {0xFF, 0xFD, 0xA4, 0x00}, true, 576, 1152, 48000, 1, 2},
      {"MPEG-1 layer I 32 kbit/s 32 kHz", {0xFF, 0xFF, 0x18, 0x00}, true, 48, 384, 32000, 1, 1},
      {"free format", {0xFF, 0xFB, 0x00, 0x00}, false, 0, 0, 0, 0, 0},
      {"bit rate index 15", {0xFF, 0xFB, 0xF0, 0x00}, false, 0, 0, 0, 0, 0},
      {"reserved rate", {0xFF, 0xFB, 0x9C, 0x00}, false, 0, 0, 0, 0, 0},
      {"reserved version", {0xFF, 0xEB, 0x90, 0x00}, false, 0, 0, 0, 0, 0},
      {"reserved layer", {0xFF, 0xF9, 0x90, 0x00}, false, 0, 0, 0, 0, 0},
      {"no sync", {0xFF, 0x7B, 0x90, 0x00}, false, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MpegAudioHeader f;
    ASSERT_EQ(mpeg_audio_parse_frame(c.header.data(), static_cast<uint32_t>(c.header.size()), &f), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(f.length, c.length);
    EXPECT_EQ(f.samples, c.samples);
    EXPECT_EQ(f.sample_rate, c.rate);
    EXPECT_EQ(f.mpeg1, c.mpeg1);
    EXPECT_EQ(f.layer, c.layer);
  }
}

TEST(CodecFrames, Ac3AndAdtsHeaders) {
  struct Ac3Case {
    const char* name;
    Bytes header;
    bool ok;
    uint32_t length, rate;
  };
  const Ac3Case ac3[] = {
      {"48 kHz 384 kbit/s", {0x0B, 0x77, 0, 0, 0x1C}, true, 1536, 48000},
      {"44.1 kHz 192 kbit/s, the longer frame", {0x0B, 0x77, 0, 0, 0x51}, true, 558, 44100},
      {"44.1 kHz 192 kbit/s, the shorter frame", {0x0B, 0x77, 0, 0, 0x50}, true, 556, 44100},
      {"32 kHz 32 kbit/s", {0x0B, 0x77, 0, 0, 0x80}, true, 192, 32000},
      {"reserved rate", {0x0B, 0x77, 0, 0, 0xC0}, false, 0, 0},
      {"frame size code 38", {0x0B, 0x77, 0, 0, 0x26}, false, 0, 0},
      {"no sync word", {0x0B, 0x78, 0, 0, 0x1C}, false, 0, 0},
  };
  for (const Ac3Case& c : ac3) {
    SCOPED_TRACE(c.name);
    Ac3SyncInfo f;
    ASSERT_EQ(ac3_parse_syncinfo(c.header.data(), static_cast<uint32_t>(c.header.size()), &f), c.ok);
    if (c.ok) {
      EXPECT_EQ(f.length, c.length);
      EXPECT_EQ(f.sample_rate, c.rate);
    }
  }
  // AAC LC, 48 kHz (index 3), stereo, 371 bytes, no CRC, one raw block.
  const Bytes adts = {0xFF, 0xF1, 0x4C, 0x80, 0x2E, 0x7F, 0xFC};
  AdtsHeader f;
  ASSERT_TRUE(adts_parse_header(adts.data(), static_cast<uint32_t>(adts.size()), &f));
  EXPECT_EQ(f.length, 371u);
  EXPECT_EQ(f.header_length, 7u);
  EXPECT_EQ(f.object_type, 2u);
  EXPECT_EQ(f.rate_index, 3u);
  EXPECT_EQ(f.channel_config, 2u);
  EXPECT_EQ(f.raw_blocks, 1u);
  uint8_t config[2];
  adts_audio_config(f, config);
  EXPECT_EQ(config[0], 0x11);
  EXPECT_EQ(config[1], 0x90);
  Bytes with_crc = adts;
  with_crc[1] = 0xF0;
  ASSERT_TRUE(adts_parse_header(with_crc.data(), static_cast<uint32_t>(with_crc.size()), &f));
  EXPECT_EQ(f.header_length, 9u);
  Bytes bad_rate = adts;
  bad_rate[2] = 0x7C;  // rate index 15
  EXPECT_FALSE(adts_parse_header(bad_rate.data(), static_cast<uint32_t>(bad_rate.size()), &f));
}

// A video object layer header as ffmpeg writes it for 25 frames a second:
// simple object, no identifier, square pixels, control parameters with
// low delay and no VBV parameters, rectangular, resolution 25.
const Bytes kVol = {0x00, 0x00, 0x01, 0x20, 0x00, 0x86, 0xC4, 0x00, 0x66, 0xE4};

TEST(CodecFrames, Mpeg4VideoObjectLayerAndVops) {
  Mpeg4VolInfo vol;
  ASSERT_TRUE(parse_mpeg4_vol(kVol.data(), static_cast<uint32_t>(kVol.size()), &vol));
  EXPECT_EQ(vol.time_increment_bits, 5u);
  // Every length that stops before the resolution is refused.
  for (uint32_t size = 0; size < 9; ++size) {
    SCOPED_TRACE(size);
    EXPECT_FALSE(parse_mpeg4_vol(kVol.data(), size, &vol));
  }
  ASSERT_TRUE(parse_mpeg4_vol(kVol.data(), static_cast<uint32_t>(kVol.size()), &vol));

  // A P-VOP, then a B-VOP, then a not-coded P-VOP.
  const Bytes chunk = {0x00, 0x00, 0x01, 0xB6, 0x50, 0x6F, 0x12, 0x00, 0x00, 0x01, 0xB6, 0x90,
                       0x6F, 0x34, 0x00, 0x00, 0x01, 0xB6, 0x50, 0x4F};
  Mpeg4Vop vops[4];
  uint32_t count = 0;
  scan_mpeg4_vops(chunk.data(), static_cast<uint32_t>(chunk.size()), &vol, vops, 4, &count);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(vops[0].at, 0u);
  EXPECT_EQ(vops[0].type, uint32_t{kVopP});
  EXPECT_EQ(vops[0].coded, 1u);
  EXPECT_EQ(vops[1].at, 7u);
  EXPECT_EQ(vops[1].type, uint32_t{kVopB});
  EXPECT_EQ(vops[1].coded, 1u);
  EXPECT_EQ(vops[2].at, 14u);
  EXPECT_EQ(vops[2].coded, 0u);
  // The capacity bounds what is stored, not what is counted.
  scan_mpeg4_vops(chunk.data(), static_cast<uint32_t>(chunk.size()), &vol, vops, 1, &count);
  EXPECT_EQ(count, 3u);

  const Bytes headers = {0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01, 0x20, 0x00, 0x00, 0x01, 0xB6, 0x10};
  EXPECT_EQ(mpeg4_headers_length(headers.data(), static_cast<uint32_t>(headers.size())), 9u);
  EXPECT_EQ(find_mpeg4_vol(headers.data(), static_cast<uint32_t>(headers.size())), 5u);
  EXPECT_EQ(find_mpeg4_vol(chunk.data(), static_cast<uint32_t>(chunk.size())), chunk.size());
}

TEST(CodecFrames, JpegLayout) {
  const Bytes dqt = {0xFF, 0xDB, 0x00, 0x04, 0x00, 0x00};
  const Bytes dht = {0xFF, 0xC4, 0x00, 0x03, 0x00};
  const Bytes avi1 = {0xFF, 0xE0, 0x00, 0x07, 'A', 'V', 'I', '1', 0x01};
  const Bytes sos = {0xFF, 0xDA, 0x00, 0x02, 0x11, 0x22, 0xFF, 0x00, 0x33};
  const Bytes soi = {0xFF, 0xD8}, eoi = {0xFF, 0xD9};
  auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  struct Case {
    const char* name;
    Bytes frame;
    bool ok;
    uint32_t images, lacks0, lacks1, at0, polarity;
  };
  const Case cases[] = {
      {"with tables", cat({soi, dqt, dht, sos, eoi}), true, 1, 0, 0, 13, 0},
      {"without tables", cat({soi, dqt, sos, eoi}), true, 1, 1, 0, 8, 0},
      {"two fields, the second with tables", cat({soi, avi1, dqt, sos, eoi, soi, dht, sos, eoi}), true, 2, 1, 0, 17, 1},
      {"not a JPEG image", cat({dqt, sos}), false, 0, 0, 0, 0, 0},
      {"a segment longer than the frame", cat({soi, Bytes{0xFF, 0xDB, 0x01, 0x00}}), false, 0, 0, 0, 0, 0},
      {"no scan", cat({soi, dqt}), false, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JpegFrameLayout layout;
    ASSERT_EQ(scan_jpeg_frame(c.frame.data(), static_cast<uint32_t>(c.frame.size()), &layout), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(layout.images, c.images);
    EXPECT_EQ(layout.lacks_tables[0], c.lacks0);
    EXPECT_EQ(layout.lacks_tables[1], c.lacks1);
    EXPECT_EQ(layout.tables_at[0], c.at0);
    EXPECT_EQ(layout.polarity, c.polarity);
  }
}

}  // namespace
}  // namespace vantorel
