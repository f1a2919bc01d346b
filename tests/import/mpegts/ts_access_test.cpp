// Access units of hand-made transport streams: audio frames that run across
// units, the timestamp each frame takes, frames lost with their packets,
// and pictures in Annex B form turned into the bytes an MP4 sample holds.
#include <gtest/gtest.h>

#include <vector>

#include "codecs/nal_units.h"
#include "import/mpegts/ts_access.h"
#include "import/mpegts/ts_builder.h"

namespace vantorel {
namespace {

using namespace test::ts;

constexpr uint16_t kAudio = 0x101;
constexpr int64_t kPts = 900000;
constexpr int64_t kFrameTicks = 1536 * 90000 / 48000;  // 2880

// An AC-3 frame of 128 bytes at 48 kHz (frmsizecod 0), bsid 8; the rest a
// pattern that tells frames apart.
Bytes ac3_frame(uint8_t seed) {
  Bytes f = pattern(128, seed);
  f[0] = 0x0B, f[1] = 0x77, f[2] = 0, f[3] = 0, f[4] = 0x00, f[5] = 8 << 3, f[6] = 0x40;
  // No later byte pair may look like a sync word.
  for (size_t i = 7; i < f.size(); ++i)
    if (f[i] == 0x0B) f[i] = 0x0C;
  return f;
}

struct Split {
  Writer w;
  Bytes stream;  // every frame, back to back
  std::vector<Bytes> frames;
};

// Five frames cut into units at the given offsets of the stream; unit k has
// the PTS kPts + k * 10000. `lose_in` (-1: none): a packet of that unit is lost.
Split make_split(const std::vector<uint32_t>& cuts, int lose_in = -1) {
  Split s;
  for (uint8_t i = 0; i < 5; ++i) {
    s.frames.push_back(ac3_frame(static_cast<uint8_t>(i * 40 + 1)));
    s.stream.insert(s.stream.end(), s.frames.back().begin(), s.frames.back().end());
  }
  s.w.table(0, pat({{1, 0x1000}}));
  s.w.table(0x1000, pmt(1, kAudio, {{0x81, kAudio, {}}}));
  for (size_t k = 0; k < cuts.size(); ++k) {
    const uint32_t end = k + 1 < cuts.size() ? cuts[k + 1] : static_cast<uint32_t>(s.stream.size());
    Bytes payload(s.stream.begin() + cuts[k], s.stream.begin() + end);
    PesFields fields;
    fields.stream_id = 0xBD;
    fields.pts = kPts + static_cast<int64_t>(k) * 10000;
    Bytes unit = pes(fields, payload);
    if (static_cast<int>(k) == lose_in) {
      // The unit's first packet is written, its second (its last) lost.
      PacketFields first;
      first.pid = kAudio;
      first.unit_start = true;
      first.payload = Bytes(unit.begin(), unit.begin() + 184);
      s.w.packet(first);
      s.w.lose(kAudio);
    } else {
      s.w.unit(kAudio, unit);
    }
  }
  return s;
}

struct Found {
  ErrorCode result = ErrorCode::Io;
  TsIndex index{};
  TsAccessPass pass{};
  std::vector<Bytes> bytes;  // each unit expanded
  std::vector<int64_t> pts;
  uint64_t resyncs = 0;
};

void find_units(const Bytes& file, Found* out) {
  MemoryIo io(file);
  out->pass.max_units = 1000;
  TsIndexOptions options{};
  options.on_unit = ts_access_on_unit;
  options.user = &out->pass;
  out->result = ts_index_build(io.get(), &options, &out->index);
  if (out->result == ErrorCode::Ok) out->result = ts_access_finish(&out->pass, &out->index);
  if (out->result != ErrorCode::Ok || out->pass.count != 1) return;
  const TsStreamAccess* s = out->pass.streams[0];
  out->resyncs = s->resyncs;
  TsWindow window;
  ASSERT_EQ(ts_window_open(&window, io.get(), 0x10000, 0x4000), ErrorCode::Ok);
  for (const TsAccessUnit& u : s->units) {
    Bytes b(u.where.length);
    EXPECT_EQ(ts_expand(&window, out->index.layout, kAudio, u.where, b.data()), ErrorCode::Ok);
    EXPECT_EQ(u.size, u.where.length);
    EXPECT_EQ(u.samples, 1536u);
    out->bytes.push_back(b);
    out->pts.push_back(u.pts);
  }
  ts_window_release(&window);
}

TEST(TsAccess, AudioFramesAcrossUnitsTakeTheTimeOfTheUnitTheyBeginIn) {
  struct Case {
    const char* name;
    std::vector<uint32_t> cuts;  // unit starts in the stream
    int lose_in;
    std::vector<int> frames;  // which frames come out, in order
    std::vector<int64_t> pts;
  };
  const int64_t u0 = kPts, u1 = kPts + 10000, u2 = kPts + 20000;
  const Case cases[] = {
      {"a unit per frame", {0, 128, 256, 384, 512}, -1, {0, 1, 2, 3, 4},
       {u0, u1, u2, kPts + 30000, kPts + 40000}},
      // Frame 1 runs from unit 0 into unit 1; frame 2 is the first to begin in unit 1.
      {"frames across units", {0, 200, 380}, -1, {0, 1, 2, 3, 4},
       {u0, u0 + kFrameTicks, u1, u2, u2 + kFrameTicks}},
      {"one unit", {0}, -1, {0, 1, 2, 3, 4},
       {u0, u0 + kFrameTicks, u0 + 2 * kFrameTicks, u0 + 3 * kFrameTicks, u0 + 4 * kFrameTicks}},
      // A packet of unit 1 lost: the frames it held a part of are dropped,
      // never stitched; unit 2's first bytes end frame 2 and are passed over.
      {"a packet lost", {0, 200, 380}, 1, {0, 3, 4}, {u0, u2, u2 + kFrameTicks}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Split s = make_split(c.cuts, c.lose_in);
    Found f;
    find_units(s.w.bytes(), &f);
    ASSERT_EQ(f.result, ErrorCode::Ok);
    ASSERT_EQ(f.pass.count, 1u);
    ASSERT_EQ(f.bytes.size(), c.frames.size());
    for (size_t i = 0; i < c.frames.size(); ++i) {
      EXPECT_TRUE(f.bytes[i] == s.frames[c.frames[i]]) << i;
      EXPECT_EQ(f.pts[i], c.pts[i]) << i;
    }
    EXPECT_EQ(f.resyncs, c.lose_in >= 0 ? 4u : 0u);
    ts_access_release(&f.pass);
    ts_index_release(&f.index);
  }
}

// Private data that no descriptor names is told by its first bytes.
TEST(TsAccess, UnnamedPrivateDataIsToldByItsFrames) {
  Split s = make_split({0, 256});
  Writer w;
  w.table(0, pat({{1, 0x1000}}));
  w.table(0x1000, pmt(1, kAudio, {{0x06, kAudio, {}}}));
  PesFields fields;
  fields.stream_id = 0xBD;
  fields.pts = kPts;
  w.unit(kAudio, pes(fields, s.stream));
  Found f;
  find_units(w.bytes(192), &f);
  ASSERT_EQ(f.result, ErrorCode::Ok);
  ASSERT_EQ(f.pass.count, 1u);
  EXPECT_EQ(f.pass.streams[0]->kind, TsKind::Ac3);
  EXPECT_EQ(f.bytes.size(), 5u);
  ts_access_release(&f.pass);
  ts_index_release(&f.index);
}

// H.264 parameter sets met unit after unit make the descriptions (a
// redefinition starts the next); the sample a picture becomes has 4-byte
// lengths, no delimiter and no copy of its description's sets.
TEST(TsAccess, H264SetsMakeDescriptionsAndPicturesSamples) {
  auto hex = [](const char* text) {
    Bytes b;
    for (const char* p = text; p[0] != '\0' && p[1] != '\0'; p += 2)
      b.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
    return b;
  };
  // Baseline sets of a 64x48 and a 96x48 picture, both with id 0.
  const Bytes sps = hex("6742c00ad9047b011000000300100000030320f1226480");
  const Bytes wider_sps = hex("6742c00ad9067b011000000300100000030320f1226480");
  const Bytes pps = hex("68cb83cb20");
  const Bytes aud = {0x09, 0xF0};
  const Bytes idr = {0x65, 0x88, 0x84, 0x00, 0x33};
  auto nal = [](Bytes code, const Bytes& body) {
    code.insert(code.end(), body.begin(), body.end());
    return code;
  };
  const Bytes four = {0, 0, 0, 1}, three = {0, 0, 1};
  auto prefixed = [](const Bytes& body) {
    Bytes b = {0, 0, 0, static_cast<uint8_t>(body.size())};
    b.insert(b.end(), body.begin(), body.end());
    return b;
  };
  struct Case {
    const char* name;
    Bytes au;
    uint32_t description;
    Bytes sample;  // empty: no sample
  };
  const Case cases[] = {
      {"delimiter and the description's sets left out",
       cat({nal(four, aud), nal(four, sps), nal(three, pps), nal(three, idr)}), 0, prefixed(idr)},
      {"zero bytes before a start code belong to no unit", cat({nal(four, idr), Bytes{0, 0}, nal(three, idr)}), 0,
       cat({prefixed(idr), prefixed(idr)})},
      {"a copy of the sets is left out", cat({nal(four, sps), nal(four, pps), nal(four, idr)}), 0, prefixed(idr)},
      {"a redefined set starts a description", cat({nal(four, wider_sps), nal(four, pps), nal(four, idr)}), 1,
       prefixed(idr)},
      {"a set after the picture stays", cat({nal(four, idr), nal(four, sps)}), 1, cat({prefixed(idr), prefixed(sps)})},
      {"bytes before the first start code", cat({Bytes{5, 5}, nal(four, idr)}), 1, {}},
      {"nothing but a delimiter", nal(four, aud), 1, {}},
  };
  TsNalConfigs configs{};
  configs.codec = TsNalCodec::H264;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // What the picture gathering does with a unit's sets.
    uint32_t code = 0, begin = 0, end = 0;
    bool fresh = false, picture = false;
    if (annexb_first_start_code(c.au.data(), static_cast<uint32_t>(c.au.size()), &code)) {
      while (annexb_next_unit(c.au.data(), static_cast<uint32_t>(c.au.size()), &code, &begin, &end)) {
        const uint8_t* unit = c.au.data() + begin;
        const uint32_t type = h264_nal_type(unit);
        if (type == kH264NalSps || type == kH264NalPps) {
          if (!picture) ASSERT_EQ(ts_nal_configs_take(&configs, unit, end - begin, &fresh), ErrorCode::Ok);
          else ts_nal_configs_after_picture(&configs, unit, end - begin);
        }
        picture = picture || type == kH264NalIdr;
      }
    }
    EXPECT_EQ(ts_nal_configs_current(&configs), c.description);
    const TsNalConfig* config = &configs.configs[ts_nal_configs_current(&configs)];
    uint32_t size = 0;
    const bool made = ts_nal_sample(TsNalCodec::H264, c.au.data(), static_cast<uint32_t>(c.au.size()), config,
                                    nullptr, 0, &size);
    ASSERT_EQ(made, !c.sample.empty());
    if (!made) continue;
    ASSERT_EQ(size, c.sample.size());
    // Too little room: measured, and nothing written past the room.
    Bytes out(size - 1);
    ASSERT_TRUE(ts_nal_sample(TsNalCodec::H264, c.au.data(), static_cast<uint32_t>(c.au.size()), config, out.data(),
                              size - 1, &size));
    ASSERT_EQ(size, c.sample.size());
    out.resize(size);
    ASSERT_TRUE(ts_nal_sample(TsNalCodec::H264, c.au.data(), static_cast<uint32_t>(c.au.size()), config, out.data(),
                              size, &size));
    EXPECT_TRUE(out == c.sample);
  }
  // Two descriptions, each with the sets in force; the set after a picture
  // is in a sample of its own.
  ASSERT_EQ(configs.count, 2u);
  EXPECT_TRUE(configs.in_band);
  ASSERT_EQ(configs.configs[1].sets.count, 2u);
  EXPECT_TRUE(Bytes(configs.configs[1].sets[0].bytes, configs.configs[1].sets[0].bytes + configs.configs[1].sets[0].length) ==
              wider_sps);
  ts_nal_configs_release(&configs);
}

}  // namespace
}  // namespace vantorel
