#include <gtest/gtest.h>

#include <vector>

#include "sampletables/avcc.h"
#include "sampletables/bit_reader.h"
#include "stsd_support.h"

namespace vantorel {
namespace {

using test::Bytes;
using test::hex;

// Writes bit fields and Exp-Golomb codes, most significant bit first.
class BitWriter {
 public:
  void bits(uint64_t value, uint32_t n) {
    for (uint32_t i = n; i-- > 0;) bit((value >> i) & 1);
  }
  void bit(uint32_t b) {
    current_ = static_cast<uint8_t>(current_ << 1 | (b & 1));
    if (++filled_ == 8) {
      out_.push_back(current_);
      current_ = 0;
      filled_ = 0;
    }
  }
  void ue(uint32_t v) {
    uint64_t code = uint64_t{v} + 1;
    uint32_t length = 0;
    while ((code >> length) > 1) ++length;
    bits(0, length);
    bits(code, length + 1);
  }
  void se(int32_t v) { ue(v > 0 ? static_cast<uint32_t>(2 * v - 1) : static_cast<uint32_t>(-2 * int64_t{v})); }
  // Stop bit and zero padding, as a NAL unit's payload ends.
  Bytes finish() {
    bit(1);
    while (filled_ != 0) bit(0);
    return out_;
  }

 private:
  Bytes out_;
  uint8_t current_ = 0;
  uint32_t filled_ = 0;
};

// Inserts 0x03 wherever two zero bytes are followed by a byte of 0 to 3.
Bytes add_emulation_prevention(const Bytes& rbsp, int* inserted) {
  Bytes out;
  int zeros = 0;
  *inserted = 0;
  for (uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      ++*inserted;
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return out;
}

TEST(BitReader, ReadsAcrossBytesAndFailsWithoutConsuming) {
  const Bytes data = hex("a5 0f f0");
  BitReader r;
  bits_init(&r, data.data(), static_cast<uint32_t>(data.size()), false);
  uint32_t v = 0;
  ASSERT_EQ(bits_read(&r, 3, &v), ErrorCode::Ok);
  EXPECT_EQ(v, 0x5u);  // 101
  ASSERT_EQ(bits_read(&r, 9, &v), ErrorCode::Ok);
  EXPECT_EQ(v, 0x050u);  // 0 0101 0000
  // 12 bits remain: asking for 13 fails and reads nothing.
  EXPECT_EQ(bits_read(&r, 13, &v), ErrorCode::NoMore);
  ASSERT_EQ(bits_read(&r, 12, &v), ErrorCode::Ok);
  EXPECT_EQ(v, 0xff0u);
  EXPECT_EQ(bits_read(&r, 1, &v), ErrorCode::NoMore);
  EXPECT_EQ(bits_read(&r, 0, &v), ErrorCode::BadArgument);
  EXPECT_EQ(bits_read(&r, 33, &v), ErrorCode::BadArgument);

  const Bytes wide = hex("de ad be ef 01");
  bits_init(&r, wide.data(), 5, false);
  ASSERT_EQ(bits_read(&r, 4, &v), ErrorCode::Ok);
  ASSERT_EQ(bits_read(&r, 32, &v), ErrorCode::Ok);
  EXPECT_EQ(v, 0xeadbeef0u);
}

TEST(BitReader, ExpGolombCodes) {
  struct Case {
    uint32_t value;
    int32_t signed_value;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {2, -1}, {3, 2}, {4, -2}, {7, 4}, {255, 128}, {65535, 32768}, {0xFFFFFFFEu, INT32_MIN + 1}};
  BitWriter w;
  for (const Case& c : cases) w.ue(c.value);
  for (const Case& c : cases) w.ue(c.value);
  Bytes data = w.finish();
  BitReader r;
  bits_init(&r, data.data(), static_cast<uint32_t>(data.size()), false);
  for (const Case& c : cases) {
    uint32_t v = 1;
    ASSERT_EQ(bits_read_ue(&r, &v), ErrorCode::Ok);
    EXPECT_EQ(v, c.value);
  }
  for (const Case& c : cases) {
    int32_t v = 1;
    ASSERT_EQ(bits_read_se(&r, &v), ErrorCode::Ok);
    EXPECT_EQ(v, c.signed_value);
  }
  // 33 leading zeros cannot be a 32-bit value; a code cut short is NoMore.
  const Bytes too_long = hex("00 00 00 00 00 ff");
  bits_init(&r, too_long.data(), 6, false);
  uint32_t v = 0;
  EXPECT_EQ(bits_read_ue(&r, &v), ErrorCode::Malformed);
  const Bytes cut = hex("00 01");  // 15 zeros, a one, and no suffix
  bits_init(&r, cut.data(), 2, false);
  EXPECT_EQ(bits_read_ue(&r, &v), ErrorCode::NoMore);
  uint32_t first = 0;
  ASSERT_EQ(bits_read(&r, 16, &first), ErrorCode::Ok);  // the failed read consumed nothing
  EXPECT_EQ(first, 1u);
}

TEST(BitReader, RemovesEmulationPreventionBytes) {
  const Bytes data = hex("00 00 03 01 00 00 03 03 ff");
  BitReader r;
  bits_init(&r, data.data(), static_cast<uint32_t>(data.size()), true);
  std::vector<uint32_t> got;
  uint32_t v = 0;
  while (bits_read(&r, 8, &v) == ErrorCode::Ok) got.push_back(v);
  EXPECT_EQ(got, (std::vector<uint32_t>{0, 0, 1, 0, 0, 3, 0xff}));

  bits_init(&r, data.data(), static_cast<uint32_t>(data.size()), false);
  got.clear();
  while (bits_read(&r, 8, &v) == ErrorCode::Ok) got.push_back(v);
  EXPECT_EQ(got.size(), data.size());

  // An emulation byte as the last byte leaves nothing to read.
  const Bytes tail = hex("00 00 03");
  bits_init(&r, tail.data(), 3, true);
  ASSERT_EQ(bits_read(&r, 16, &v), ErrorCode::Ok);
  EXPECT_EQ(bits_read(&r, 8, &v), ErrorCode::NoMore);
  EXPECT_EQ(bits_read(&r, 1, &v), ErrorCode::NoMore);
}

// ---- Parameter-set probes ----------------------------------------------------------

struct SpsFields {
  uint8_t profile = 100;
  uint32_t chroma = 1;
  uint32_t depth_luma = 0;
  uint32_t depth_chroma = 0;
  bool matrices = false;
  uint32_t poc_type = 0;
  bool cropping = false;
  bool vui = true;
  uint32_t aspect_idc = 1;
  uint32_t sar_w = 0;
  uint32_t sar_h = 0;
};

// An SPS (after the NAL header byte) with emulation prevention applied.
Bytes build_sps(const SpsFields& s, int* inserted = nullptr) {
  BitWriter w;
  w.ue(0);  // seq_parameter_set_id
  bool chroma_fields = s.profile != 66 && s.profile != 77 && s.profile != 88;
  if (chroma_fields) {
    w.ue(s.chroma);
    if (s.chroma == 3) w.bit(0);
    w.ue(s.depth_luma);
    w.ue(s.depth_chroma);
    w.bit(0);
    w.bit(s.matrices ? 1 : 0);
    if (s.matrices) {
      uint32_t lists = s.chroma == 3 ? 12 : 8;
      for (uint32_t i = 0; i < lists; ++i) {
        uint32_t size = i < 6 ? 16 : 64;
        bool present = i == 0 || i == 6 || i == 7 || i == 10 || i == 11;
        w.bit(present ? 1 : 0);
        if (!present) continue;
        if (i == 6) {
          w.se(-8);  // next scale 0 at once: the default list, one delta only
        } else if (i == 0) {
          for (uint32_t j = 0; j < size; ++j) w.se(j % 2 ? -3 : 4);
        } else if (i == 11) {
          // A list that reaches scale 0 halfway stops there.
          int32_t last = 8;
          for (int j = 0; j < 10; ++j) {
            w.se(3);
            last += 3;
          }
          w.se(-last);
        } else {
          for (uint32_t j = 0; j < size; ++j) w.se(static_cast<int32_t>(j % 5));
        }
      }
    }
  }
  w.ue(0);  // log2_max_frame_num_minus4
  w.ue(s.poc_type);
  if (s.poc_type == 0) {
    w.ue(2);
  } else if (s.poc_type == 1) {
    w.bit(0);
    w.se(-3);
    w.se(2);
    w.ue(3);
    w.se(1);
    w.se(-1);
    w.se(5);
  }
  w.ue(4);  // max_num_ref_frames
  w.bit(0);
  w.ue(10);  // width in macroblocks - 1
  w.ue(8);
  w.bit(0);  // frame_mbs_only_flag
  w.bit(1);  // mb_adaptive_frame_field_flag
  w.bit(1);
  w.bit(s.cropping ? 1 : 0);
  if (s.cropping)
    for (int i = 0; i < 4; ++i) w.ue(65535);  // long runs of zero bits
  w.bit(s.vui ? 1 : 0);
  if (s.vui) {
    w.bit(1);
    w.bits(s.aspect_idc, 8);
    if (s.aspect_idc == 255) {
      w.bits(s.sar_w, 16);
      w.bits(s.sar_h, 16);
    }
    w.bit(0);  // overscan_info_present_flag, and so on
  }
  Bytes rbsp = w.finish();
  int count = 0;
  Bytes body = add_emulation_prevention(rbsp, &count);
  if (inserted != nullptr) *inserted = count;
  return test::cat({test::u8(s.profile), test::u8(0), test::u8(30), body});
}

TEST(AvcProbe, RealEncoderParameterSets) {
  // From libx264: High 4:2:0 with sample aspect 12:11 (aspect_ratio_idc 2),
  // and High 4:4:4 Predictive with 64:45 (idc 255); ffprobe reports both.
  const Bytes high = hex("64000aacd942c4ec0840000003004000000503c4896580");
  AvcSpsInfo info;
  ASSERT_EQ(avc_probe_sps(high.data(), static_cast<uint32_t>(high.size()), &info), ErrorCode::Ok);
  EXPECT_EQ(info.profile_idc, 100);
  EXPECT_EQ(info.level_idc, 10);
  EXPECT_EQ(info.chroma_format_idc, 1u);
  EXPECT_EQ(info.sar_width, 12u);
  EXPECT_EQ(info.sar_height, 11u);

  const Bytes high444 = hex("f4000a919b28589dff8020001688000003000800000300a078912cb0");
  ASSERT_EQ(avc_probe_sps(high444.data(), static_cast<uint32_t>(high444.size()), &info), ErrorCode::Ok);
  EXPECT_EQ(info.profile_idc, 244);
  EXPECT_EQ(info.chroma_format_idc, 3u);
  EXPECT_EQ(info.sar_width, 64u);
  EXPECT_EQ(info.sar_height, 45u);

  uint32_t cabac = 9;
  const Bytes pps = hex("ebe3cb22c0");
  ASSERT_EQ(avc_probe_pps(pps.data(), static_cast<uint32_t>(pps.size()), &cabac), ErrorCode::Ok);
  EXPECT_EQ(cabac, 1u);
}

TEST(AvcProbe, High444WithScalingMatricesReachesItsVui) {
  SpsFields s;
  s.profile = 244;
  s.chroma = 3;
  s.depth_luma = 2;
  s.depth_chroma = 2;
  s.matrices = true;
  s.poc_type = 1;
  s.cropping = true;
  s.aspect_idc = 255;
  s.sar_w = 64;
  s.sar_h = 45;
  int inserted = 0;
  Bytes sps = build_sps(s, &inserted);
  ASSERT_GT(inserted, 0) << "the stream must exercise emulation prevention";
  AvcSpsInfo info;
  ASSERT_EQ(avc_probe_sps(sps.data(), static_cast<uint32_t>(sps.size()), &info), ErrorCode::Ok);
  EXPECT_EQ(info.chroma_format_idc, 3u);
  EXPECT_EQ(info.bit_depth_luma_minus8, 2u);
  EXPECT_EQ(info.bit_depth_chroma_minus8, 2u);
  EXPECT_EQ(info.sar_width, 64u);
  EXPECT_EQ(info.sar_height, 45u);

  // Cut anywhere before the aspect ratio: the probe runs out of bits.
  for (size_t cut : {size_t{2}, size_t{3}, sps.size() / 2, sps.size() - 6}) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(avc_probe_sps(sps.data(), static_cast<uint32_t>(cut), &info), ErrorCode::NoMore);
  }
}

TEST(AvcProbe, EveryProfileWithChromaFieldsIsParsedThroughThem) {
  const uint8_t with_fields[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135, 144};
  for (uint8_t profile : with_fields) {
    SCOPED_TRACE(static_cast<int>(profile));
    SpsFields s;
    s.profile = profile;
    s.chroma = 2;
    s.depth_luma = 1;
    s.matrices = true;
    s.aspect_idc = 3;
    Bytes sps = build_sps(s);
    AvcSpsInfo info;
    ASSERT_EQ(avc_probe_sps(sps.data(), static_cast<uint32_t>(sps.size()), &info), ErrorCode::Ok);
    EXPECT_EQ(info.chroma_format_idc, 2u);
    EXPECT_EQ(info.bit_depth_luma_minus8, 1u);
    EXPECT_EQ(info.sar_width, 10u);
    EXPECT_EQ(info.sar_height, 11u);
  }
  for (uint8_t profile : {66, 77, 88}) {
    SCOPED_TRACE(static_cast<int>(profile));
    SpsFields s;
    s.profile = profile;
    s.aspect_idc = 4;
    Bytes sps = build_sps(s);
    AvcSpsInfo info;
    ASSERT_EQ(avc_probe_sps(sps.data(), static_cast<uint32_t>(sps.size()), &info), ErrorCode::Ok);
    EXPECT_EQ(info.chroma_format_idc, 1u);
    EXPECT_EQ(info.sar_width, 16u);
    EXPECT_EQ(info.sar_height, 11u);
  }
}

TEST(AvcProbe, AspectRatioTable) {
  struct Case {
    uint32_t idc, w, h, expect_w, expect_h;
  };
  const Case cases[] = {{0, 0, 0, 1, 1},      {1, 0, 0, 1, 1},     {2, 0, 0, 12, 11},   {5, 0, 0, 40, 33},
                        {13, 0, 0, 160, 99},  {14, 0, 0, 4, 3},    {16, 0, 0, 2, 1},    {17, 0, 0, 1, 1},
                        {254, 0, 0, 1, 1},    {255, 64, 45, 64, 45}, {255, 0, 0, 1, 1}, {255, 7, 0, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.idc);
    SpsFields s;
    s.aspect_idc = c.idc;
    s.sar_w = c.w;
    s.sar_h = c.h;
    Bytes sps = build_sps(s);
    AvcSpsInfo info;
    ASSERT_EQ(avc_probe_sps(sps.data(), static_cast<uint32_t>(sps.size()), &info), ErrorCode::Ok);
    EXPECT_EQ(info.sar_width, c.expect_w);
    EXPECT_EQ(info.sar_height, c.expect_h);
  }
  // Without VUI the ratio stays 1:1.
  SpsFields s;
  s.vui = false;
  Bytes sps = build_sps(s);
  AvcSpsInfo info;
  ASSERT_EQ(avc_probe_sps(sps.data(), static_cast<uint32_t>(sps.size()), &info), ErrorCode::Ok);
  EXPECT_EQ(info.sar_width, 1u);
  EXPECT_EQ(info.sar_height, 1u);
}

TEST(AvcProbe, PictureParameterSet) {
  for (uint32_t flag : {0u, 1u}) {
    BitWriter w;
    w.ue(3);
    w.ue(31);
    w.bit(flag);
    Bytes pps = w.finish();
    uint32_t got = 7;
    ASSERT_EQ(avc_probe_pps(pps.data(), static_cast<uint32_t>(pps.size()), &got), ErrorCode::Ok);
    EXPECT_EQ(got, flag);
  }
  const Bytes cut = hex("00");
  uint32_t got = 0;
  EXPECT_EQ(avc_probe_pps(cut.data(), 1, &got), ErrorCode::NoMore);
  EXPECT_EQ(avc_probe_pps(nullptr, 1, &got), ErrorCode::BadArgument);
}

}  // namespace
}  // namespace vantorel
