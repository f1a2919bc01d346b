// Configuration boxes built from a stream's own headers or from container
// values: 'dec3' over a whole E-AC-3 access unit, 'ddts' from a DTS core
// frame, 'dmlp' from a TrueHD major sync, and 'mdcv' from chromaticities.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "codecs/colour.h"
#include "codecs/config_support.h"
#include "codecs/eac3_frames.h"
#include "codecs/dts.h"
#include "codecs/eac3.h"
#include "codecs/truehd.h"

namespace vantorel {
namespace {

using namespace test;

Bytes dec3_bytes(const Dec3Record& d) {
  return write_config(&d, [](MediaFile* f, const Dec3Record* r) { return dec3_write(f, r); },
                      [](MediaFile* f, const Dec3Record* r) { return dec3_size(f, r); });
}

// The dependent substreams of each independent one are counted and their
// channel maps turned into channel locations; the walk ends at the next
// access unit. The expected boxes are written out by hand from the fields.
TEST(Eac3AccessUnit, Dec3NamesEverySubstream) {
  constexpr int32_t kLs = 1 << 12, kRs = 1 << 11, kLrsRrs = 1 << 9, kCs = 1 << 8, kLw = 1 << 5, kLts = 1 << 2,
                    kLfe2 = 1 << 1;
  struct Case {
    const char* name;
    std::vector<Bytes> frames;
    const char* dec3;  // "" when no configuration is built
  };
  const Bytes five_one = eac3_frame(0, 0, 512, 7, 1);
  const Bytes back_pair = eac3_frame(1, 0, 256, 6, 0, kLs | kRs | kLrsRrs);
  const Case cases[] = {
      // 1536 bytes per 1536 samples at 48 kHz: 384 kbit/s.
      {"7.1: 5.1 and a dependent adding the back pair", {five_one, back_pair}, "0c00 20 0f 02 02"},
      {"the next access unit is not counted", {five_one, back_pair, five_one, back_pair}, "0c00 20 0f 02 02"},
      {"a dependent without a channel map adds no location", {five_one, eac3_frame(1, 0, 256, 7, 1)}, "0c00 20 0f 02 00"},
      {"wide pair and LFE2 (bit 8); the top surround pair has no location",
       {five_one, eac3_frame(1, 0, 256, 2, 0, kLw | kLts | kLfe2)}, "0c00 20 0f 03 20"},
      {"a 1+1 dependent reads its second dialnorm first", {five_one, eac3_frame(1, 0, 256, 0, 0, kCs)},
       "0c00 20 0f 02 04"},
      {"two independent substreams, no dependents", {eac3_frame(0, 0, 256, 2, 0), eac3_frame(0, 1, 256, 1, 0)},
       "0801 20 04 00 20 02 00"},
      {"a dependent first is no access unit", {back_pair, five_one}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes unit;
    for (const Bytes& f : c.frames) unit.insert(unit.end(), f.begin(), f.end());
    Dec3Record d{};
    const bool built = eac3_config_from_access_unit(unit.data(), static_cast<uint32_t>(unit.size()), 48000, &d);
    ASSERT_EQ(built, c.dec3[0] != '\0');
    if (built) {
      EXPECT_EQ(dec3_bytes(d), hex(c.dec3));
    }
    dec3_release(&d);
  }
}

// A core frame: 512 samples, 1006 bytes, C L R Ls Rs with LFE, 48 kHz,
// 768 kbit/s, 24-bit source.
const char* const kDtsCore = "7ffe8001 fc3c3ed2 75e00c39 80 0000";

TEST(DtsCore, DdtsFromTheCoreHeader) {
  struct Case {
    const char* name;
    Bytes frame;
    bool parses;
    const char* ddts;
  };
  Bytes short_frame = hex(kDtsCore);
  short_frame.resize(14);
  Bytes reserved_rate = hex(kDtsCore);
  reserved_rate[8] = static_cast<uint8_t>((reserved_rate[8] & 0xC3) | (4 << 2));  // SFREQ 4: reserved
  const Case cases[] = {
      {"core only", hex(kDtsCore), true, "0000bb80 000bb800 000bb800 18 03243ed0000f00"},
      {"cut before PCMR", short_frame, false, ""},
      {"reserved rate", reserved_rate, false, ""},
      {"no sync word", hex("7ffe8002 fc3c3ed2 75e00c39 80 0000"), false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DtsCoreHeader core{};
    ASSERT_EQ(dts_parse_core(c.frame.data(), static_cast<uint32_t>(c.frame.size()), &core), c.parses);
    if (!c.parses) continue;
    EXPECT_EQ(core.samples, 512u);
    EXPECT_EQ(core.frame_size, 1006u);
    DdtsRecord d{};
    ASSERT_TRUE(ddts_from_core(&core, &d));
    Bytes got = write_config(&d, [](MediaFile* f, const DdtsRecord* r) { return ddts_write(f, r); },
                             [](MediaFile*, const DdtsRecord*) { return kDdtsPayloadSize; });
    EXPECT_EQ(got, hex(c.ddts));
  }
}

TEST(TrueHd, DmlpFromTheMajorSync) {
  struct Case {
    const char* name;
    const char* unit;
    uint32_t rate;  // 0: no record
    const char* dmlp;
  };
  const Case cases[] = {
      {"44.1 kHz family, variable rate", "a0 12 00 00 f8726fba 8a5f0001 b752 0000 0000 9234", 44100,
       "8a5f0001 2468 00000000"},
      {"192 kHz", "a0 12 00 00 f8726fba 2a5f0001 b752 0000 0000 1234", 192000, "2a5f0001 2468 00000000"},
      {"reserved rate code", "a0 12 00 00 f8726fba fa5f0001 b752 0000 0000 1234", 0, ""},
      {"wrong signature", "a0 12 00 00 f8726fba 8a5f0001 b753 0000 0000 1234", 0, ""},
      {"MLP, not TrueHD", "a0 12 00 00 f8726fbb 8a5f0001 b752 0000 0000 1234", 0, ""},
      {"cut inside the major sync", "a0 12 00 00 f8726fba 8a5f0001 b752", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes unit = hex(c.unit);
    DmlpRecord d{};
    uint32_t rate = 0;
    ASSERT_EQ(dmlp_from_access_unit(unit.data(), static_cast<uint32_t>(unit.size()), &d, &rate), c.rate != 0);
    if (c.rate == 0) continue;
    EXPECT_EQ(rate, c.rate);
    EXPECT_EQ(write_config(&d, [](MediaFile* f, const DmlpRecord* r) { return dmlp_write(f, r); },
                           [](MediaFile*, const DmlpRecord*) { return kDmlpPayloadSize; }),
              hex(c.dmlp));
  }
}

// Access units: the length from the header, the major sync only within
// it, the channels of the widest presentation.
TEST(TrueHd, AccessUnitsAndTheirChannels) {
  struct Case {
    const char* name;
    const char* unit;
    bool ok;
    uint32_t length, rate, channels, samples;
    bool major_sync;
  };
  const Case cases[] = {
      {"stereo with a major sync", "8037 ffd8 f8726fba 00008001 b752 0000 0000 8c7f", true, 110, 48000, 2, 40, true},
      {"5.1 in the 8-channel assignment", "408e ffd8 f8726fba 0097c00f b752 0000 0000 8c7f", true, 284, 48000, 6, 40,
       true},
      {"5.1 in the 6-channel assignment only", "408e ffd8 f8726fba 1007c000 b752 0000 0000 8c7f", true, 284, 96000, 6,
       80, true},
      {"7.1 (L R C LFE Ls Rs Lrs Rrs)", "408e ffd8 f8726fba 2000004f b752 0000 0000 8c7f", true, 284, 192000, 8, 160,
       true},
      {"no major sync", "a00e 1234 5678 9abc", true, 28, 0, 0, 0, false},
      {"a major sync past the unit's length", "a004 ffd8 f8726fba 00008001 b752 0000 0000 8c7f", true, 8, 0, 0, 0,
       false},
      {"a length shorter than a header", "a002 ffd8 f8726fba", false, 0, 0, 0, 0, false},
      {"cut before the header ends", "a0", false, 0, 0, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes unit = hex(c.unit);
    TrueHdUnit u{};
    ASSERT_EQ(truehd_parse_unit(unit.data(), static_cast<uint32_t>(unit.size()), &u), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(u.length, c.length);
    EXPECT_EQ(u.major_sync, c.major_sync);
    EXPECT_EQ(u.sample_rate, c.rate);
    EXPECT_EQ(truehd_unit_samples(u.sample_rate), c.samples);
    if (c.major_sync) {
      EXPECT_EQ(truehd_channel_count(u.format_info), c.channels);
    }
  }
}

// The floats come back from the box within half a unit; the primaries are
// stored green, blue, red; values out of range are clamped, not wrapped.
TEST(MasteringDisplay, FloatsRoundTripThroughMdcv) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    MasteringDisplayFloats in;
    MasteringDisplayFloats back;  // what the box holds, in the same units
  };
  const Case cases[] = {
      {"BT.2020 at 1000 cd/m2", {0.708, 0.292, 0.170, 0.797, 0.131, 0.046, 0.3127, 0.3290, 1000, 0.005},
       {0.708, 0.292, 0.170, 0.797, 0.131, 0.046, 0.3127, 0.3290, 1000, 0.005}},
      {"P3 at 4000 cd/m2, odd digits", {0.68, 0.32, 0.265, 0.69, 0.15, 0.06, 0.312712, 0.32902, 4000.00004, 0.00006},
       {0.68, 0.32, 0.265, 0.69, 0.15, 0.06, 0.31272, 0.32902, 4000, 0.0001}},
      {"out of range", {1.5, -0.1, nan, 0.5, 0.5, 0.5, 0.5, 0.5, 1e12, -1},
       {1.0, 0, 0, 0.5, 0.5, 0.5, 0.5, 0.5, 429496.7295, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MasteringDisplayRecord m{};
    mdcv_from_floats(&c.in, &m);
    const Bytes box = write_config(&m, [](MediaFile* f, const MasteringDisplayRecord* r) { return mdcv_write(f, r); },
                                   [](MediaFile*, const MasteringDisplayRecord*) { return kMdcvPayloadSize; });
    MasteringDisplayRecord read{};
    ASSERT_TRUE(mdcv_parse(box.data(), static_cast<uint32_t>(box.size()), &read));
    const double got[10] = {read.display_primaries_x[2] / 50000.0, read.display_primaries_y[2] / 50000.0,
                            read.display_primaries_x[0] / 50000.0, read.display_primaries_y[0] / 50000.0,
                            read.display_primaries_x[1] / 50000.0, read.display_primaries_y[1] / 50000.0,
                            read.white_point_x / 50000.0,          read.white_point_y / 50000.0,
                            read.max_display_mastering_luminance / 10000.0,
                            read.min_display_mastering_luminance / 10000.0};
    const double* want = &c.back.red_x;
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(got[i], want[i], 0.00001) << i;
    EXPECT_NEAR(got[8], want[8], 0.00005);
    EXPECT_NEAR(got[9], want[9], 0.00005);
  }
  EXPECT_FALSE(mdcv_parse(Bytes(23).data(), 23, nullptr));
}

}  // namespace
}  // namespace vantorel
