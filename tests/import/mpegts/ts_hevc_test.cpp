// HEVC access units of a transport stream: parameter sets kept per sample
// description (a redefinition starts the next one, a new id joins the
// current one), picture kinds, and the sample each unit becomes.
#include <gtest/gtest.h>

#include <vector>

#include "import/mpegts/ts_hevc.h"
#include "sampletables/stsd_support.h"

namespace vantorel {
namespace {

using namespace test;

Bytes annexb(std::initializer_list<Bytes> units) {
  Bytes b;
  for (const Bytes& u : units) {
    b.insert(b.end(), {0, 0, 0, 1});
    b.insert(b.end(), u.begin(), u.end());
  }
  return b;
}

Bytes prefixed(std::initializer_list<Bytes> units) {
  Bytes b;
  for (const Bytes& u : units) b = cat({b, u16(0), u16(static_cast<uint16_t>(u.size())), u});
  return b;
}

Bytes set_bytes(const TsNalConfig& c, uint32_t i) { return Bytes(c.sets[i].bytes, c.sets[i].bytes + c.sets[i].length); }

TEST(TsHevc, ParameterSetsMakeDescriptionsAndPicturesTheirKinds) {
  const Bytes vps_a = hex("4001 0c01ff"), vps_b = hex("4001 0c02ff");
  const Bytes pps0_a = hex("4401 c1"), pps0_b = hex("4401 c2"), pps1 = hex("4401 50");
  const Bytes idr = hex("2601 af"), cra = hex("2a01 af"), rasl = hex("1001 af"), trail = hex("0201 af");
  const Bytes aud = hex("4601 50");
  struct Case {
    const char* name;
    Bytes au;
    bool picture, irap, leading;
    uint32_t description;
    Bytes sample;
  };
  // One stream, unit after unit.
  const Case cases[] = {
      {"the first sets, a delimiter left out", annexb({aud, vps_a, pps0_a, idr}), true, true, false, 0, prefixed({idr})},
      {"a copy of a set is left out", annexb({pps0_a, trail}), true, false, false, 0, prefixed({trail})},
      {"a new id joins the description", annexb({pps1, cra}), true, true, false, 0, prefixed({cra})},
      {"a RASL picture leads", annexb({rasl}), true, false, true, 0, prefixed({rasl})},
      {"a redefinition starts a description", annexb({pps0_b, trail}), true, false, false, 1, prefixed({trail})},
      {"two changes in one unit make one description", annexb({vps_b, pps0_a, trail}), true, false, false, 2,
       prefixed({trail})},
      {"sets alone are no picture", annexb({pps0_b}), false, false, false, 3, {}},
      {"the next picture is read by them", annexb({trail}), true, false, false, 3, prefixed({trail})},
      {"a set after the slice stays", annexb({trail, pps0_a}), true, false, false, 3, prefixed({trail, pps0_a})},
  };
  TsNalConfigs configs{};
  configs.codec = TsNalCodec::Hevc;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TsHevcPicture p{};
    ErrorCode e = ErrorCode::Io;
    ASSERT_TRUE(ts_hevc_scan(&configs, c.au.data(), static_cast<uint32_t>(c.au.size()), &p, &e));
    ASSERT_EQ(e, ErrorCode::Ok);
    EXPECT_EQ(p.picture, c.picture);
    EXPECT_EQ(p.irap, c.irap);
    EXPECT_EQ(p.leading, c.leading);
    EXPECT_EQ(p.description, c.description);
    if (!c.picture) continue;
    uint32_t size = 0;
    const TsNalConfig* config = &configs.configs[p.description];
    ASSERT_TRUE(ts_nal_sample(TsNalCodec::Hevc, c.au.data(), static_cast<uint32_t>(c.au.size()), config, nullptr, 0, &size));
    Bytes out(size);
    ASSERT_TRUE(ts_nal_sample(TsNalCodec::Hevc, c.au.data(), static_cast<uint32_t>(c.au.size()), config, out.data(), size, &size));
    EXPECT_EQ(out, c.sample);
  }
  EXPECT_TRUE(configs.in_band);
  ASSERT_EQ(configs.count, 4u);
  // Each description holds every set in force, in the order first met.
  const std::vector<std::vector<Bytes>> held = {
      {vps_a, pps0_a, pps1}, {vps_a, pps0_b, pps1}, {vps_b, pps0_a, pps1}, {vps_b, pps0_b, pps1}};
  for (uint32_t k = 0; k < 4; ++k) {
    SCOPED_TRACE(k);
    ASSERT_EQ(configs.configs[k].sets.count, held[k].size());
    for (uint32_t i = 0; i < held[k].size(); ++i) EXPECT_EQ(set_bytes(configs.configs[k], i), held[k][i]);
  }
  ts_nal_configs_release(&configs);

  // Bytes that are no Annex B stream, and a delimiter alone.
  TsHevcPicture p{};
  ErrorCode e = ErrorCode::Ok;
  const Bytes junk = hex("0505 0000 01 2601");
  EXPECT_FALSE(ts_hevc_scan(&configs, junk.data(), static_cast<uint32_t>(junk.size()), &p, &e));
  uint32_t size = 0;
  const Bytes lone = annexb({aud});
  EXPECT_FALSE(ts_nal_sample(TsNalCodec::Hevc, lone.data(), static_cast<uint32_t>(lone.size()), nullptr, nullptr, 0, &size));
  ts_nal_configs_release(&configs);
}

}  // namespace
}  // namespace vantorel
