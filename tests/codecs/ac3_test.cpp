// AC-3 and E-AC-3: one parser of the sync frame's header, and the
// configuration boxes built from it.
#include <gtest/gtest.h>

#include <vector>

#include "codecs/ac3.h"
#include "codecs/config_support.h"
#include "codecs/eac3.h"

namespace vantorel {
namespace {

using namespace test;

Bytes write_dac3(const Dac3Record& d) {
  return write_config(&d, [](MediaFile* f, const Dac3Record* r) { return dac3_write(f, r, false); },
                      [](MediaFile* f, const Dac3Record* r) { return dac3_size(f, r, false); });
}

// Every AC-3 header the importers and the remux meet goes through one
// parser: the frame's length and rate, its bit stream information, the
// 'dac3' written from it and the channels that box then says.
TEST(Ac3, OneParserOverHeaderVariants) {
  struct Case {
    const char* name;
    Bytes frame;
    bool sync;  // syncinfo parses
    uint32_t length, rate;
    bool config;  // bsi parses too: a 'dac3' is built
    const char* dac3;
    uint32_t channels;
  };
  const Case cases[] = {
      {"48 kHz 384 kbit/s, 2/0 with LFE after dsurmod", hex("0b77 0000 1c 40 44 00"), true, 1536, 48000, true, "1015c0", 3},
      {"44.1 kHz, the longer frame, 3/2 with LFE after both mix levels", hex("0b77 0000 51 31 e1 00"), true, 558, 44100,
       true, "4c7d00", 6},
      {"32 kHz mono without LFE", hex("0b77 0000 80 40 20 00"), true, 192, 32000, true, "900800", 1},
      {"bsi cut short: only the syncinfo", hex("0b77 0000 1c 40 44"), true, 1536, 48000, false, "", 0},
      {"reserved rate", hex("0b77 0000 c0 40 44 00"), false, 0, 0, false, "", 0},
      {"frame size code 38", hex("0b77 0000 26 40 44 00"), false, 0, 0, false, "", 0},
      {"no sync word", hex("0b78 0000 1c 40 44 00"), false, 0, 0, false, "", 0},
      {"four bytes", hex("0b77 0000"), false, 0, 0, false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto n = static_cast<uint32_t>(c.frame.size());
    Ac3SyncInfo sync;
    ASSERT_EQ(ac3_parse_syncinfo(c.frame.data(), n, &sync), c.sync);
    EXPECT_EQ(sync.length, c.length);
    EXPECT_EQ(sync.sample_rate, c.rate);
    Dac3Record d{};
    ASSERT_EQ(ac3_config_from_frame(c.frame.data(), n, &d), c.config);
    if (!c.config) continue;
    const Bytes dac3 = write_dac3(d);
    EXPECT_EQ(dac3, hex(c.dac3));
    EXPECT_EQ(dac3_payload_channels(dac3.data(), static_cast<uint32_t>(dac3.size())), c.channels);
  }
  EXPECT_EQ(dac3_payload_channels(hex("1015").data(), 2), 0u);
}

Bytes write_dec3(const Dec3Record& d) { return write_config(&d, dec3_write, dec3_size); }

TEST(Eac3, HeaderVariantsAndTheDec3BuiltFromThem) {
  struct Case {
    const char* name;
    Bytes frame;
    bool parses;
    uint32_t strmtyp, substreamid, length, rate, samples, acmod, lfeon, bsid;
    uint32_t stream_rate;  // for the data rate of the 'dec3'
    const char* dec3;
    uint32_t channels;
  };
  const Case cases[] = {
      {"48 kHz, six blocks, 3/2 with LFE", hex("0b77 02ff 3f 80"), true, 0, 0, 1536, 48000, 1536, 7, 1, 16, 48000,
       "0c00 200f00", 6},
      {"one block, 2/0", hex("0b77 00ff 04 80"), true, 0, 0, 512, 48000, 256, 2, 0, 16, 48000, "1800 200400", 2},
      {"reduced rate 22.05 kHz, a dependent substream", hex("0b77 50ff d4 80"), true, 1, 2, 512, 22050, 1536, 2, 0, 16,
       22050, "01d0 e00400", 2},
      {"cut before bsid", hex("0b77 02ff 3f"), false, 0, 0, 0, 0, 0, 0, 0, 0, 0, "", 0},
      {"no sync word", hex("0b76 02ff 3f 80"), false, 0, 0, 0, 0, 0, 0, 0, 0, 0, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto n = static_cast<uint32_t>(c.frame.size());
    Eac3Header h;
    ASSERT_EQ(eac3_parse_header(c.frame.data(), n, &h), c.parses);
    Dec3Record d{};
    ASSERT_EQ(eac3_config_from_frame(c.frame.data(), n, c.stream_rate, &d), c.parses);
    if (!c.parses) continue;
    EXPECT_EQ(h.strmtyp, c.strmtyp);
    EXPECT_EQ(h.substreamid, c.substreamid);
    EXPECT_EQ(h.length, c.length);
    EXPECT_EQ(h.sample_rate, c.rate);
    EXPECT_EQ(h.samples, c.samples);
    EXPECT_EQ(eac3_frame_samples(c.frame.data(), n), c.samples);
    EXPECT_EQ(h.acmod, c.acmod);
    EXPECT_EQ(h.lfeon, c.lfeon);
    EXPECT_EQ(h.bsid, c.bsid);
    const Bytes dec3 = write_dec3(d);
    EXPECT_EQ(dec3, hex(c.dec3));
    EXPECT_EQ(dec3_payload_channels(dec3.data(), static_cast<uint32_t>(dec3.size())), c.channels);
    dec3_release(&d);
  }
  // Five bytes still give the frame's duration.
  EXPECT_EQ(eac3_frame_samples(hex("0b77 02ff 3f").data(), 5), 1536u);
  EXPECT_EQ(eac3_frame_samples(hex("0b77 02ff").data(), 4), 0u);
  // A payload that announces a substream it does not hold says nothing.
  EXPECT_EQ(dec3_payload_channels(hex("0c01 200f00").data(), 5), 0u);
}

TEST(CodecTable, Ac3WordFromTheFirstFrame) {
  // fscod 1, frmsizecod 14 (bit rate code 7), bsid 8, bsmod 3.
  auto frame = [](uint8_t acmod_byte, uint8_t next) {
    return std::vector<uint8_t>{0x0B, 0x77, 0, 0, (1 << 6) | 14, (8 << 3) | 3, acmod_byte, next};
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t acmod, lfeon;
  };
  const Case cases[] = {
      // acmod 2 (stereo): dsurmod (2 bits) comes between acmod and lfeon.
      {"stereo with LFE", frame(2 << 5 | 0x04, 0), 2, 1},
      {"stereo without LFE", frame(2 << 5 | 0x18, 0xFF), 2, 0},
      // acmod 7: cmixlev and surmixlev (4 bits) come between them.
      {"3/2 with LFE", frame(7 << 5 | 0x01, 0), 7, 1},
      {"3/2 without LFE", frame(7 << 5 | 0x1E, 0xFF), 7, 0},
      {"mono with LFE", frame(1 << 5 | 0x10, 0), 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t packed = 0;
    ASSERT_TRUE(ac3_word_from_frame(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), &packed));
    EXPECT_EQ(packed & 3, 1u);                 // fscod
    EXPECT_EQ((packed >> 2) & 0x1F, 8u);       // bsid
    EXPECT_EQ((packed >> 7) & 7, 3u);          // bsmod
    EXPECT_EQ((packed >> 10) & 7, c.acmod);    // acmod
    EXPECT_EQ((packed >> 13) & 1, c.lfeon);    // lfeon
    EXPECT_EQ((packed >> 14) & 0x1F, 7u);      // bit rate code
  }
  uint32_t packed = 0;
  const uint8_t not_ac3[8] = {0x0B, 0x78, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(ac3_word_from_frame(not_ac3, 8, &packed));
  EXPECT_FALSE(ac3_word_from_frame(not_ac3, 5, &packed));
}

}  // namespace
}  // namespace vantorel
