// H.264: parameter sets, slice headers, picture order counts, recovery
// points, and building 'avcC' from parameter sets.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "codecs/bit_writer.h"
#include "codecs/config_support.h"
#include "codecs/h264.h"
#include "codecs/nal_units.h"

namespace vantorel {
namespace {

using namespace test;

// ---- Parameter-set probes ----------------------------------------------------------

struct SpsFields {
  uint8_t profile = 100;
  uint32_t sps_id = 0;
  uint32_t chroma = 1;
  uint32_t depth_luma = 0;
  uint32_t depth_chroma = 0;
  bool matrices = false;
  uint32_t log2_max_frame_num_minus4 = 0;
  uint32_t poc_type = 0;
  uint32_t log2_max_poc_lsb_minus4 = 2;
  uint32_t width_mbs_minus1 = 10;
  uint32_t height_units_minus1 = 8;
  bool frame_mbs_only = false;
  bool cropping = false;
  uint32_t crop[4] = {65535, 65535, 65535, 65535};  // long runs of zero bits
  bool vui = true;
  uint32_t aspect_idc = 1;
  uint32_t sar_w = 0;
  uint32_t sar_h = 0;
};

// An SPS (after the NAL header byte) with emulation prevention applied.
Bytes build_sps(const SpsFields& s, int* inserted = nullptr) {
  BitWriter w;
  w.ue(s.sps_id);  // seq_parameter_set_id
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
  w.ue(s.log2_max_frame_num_minus4);
  w.ue(s.poc_type);
  if (s.poc_type == 0) {
    w.ue(s.log2_max_poc_lsb_minus4);
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
  w.ue(s.width_mbs_minus1);  // width in macroblocks - 1
  w.ue(s.height_units_minus1);
  w.bit(s.frame_mbs_only ? 1 : 0);
  if (!s.frame_mbs_only) w.bit(1);  // mb_adaptive_frame_field_flag
  w.bit(1);
  w.bit(s.cropping ? 1 : 0);
  if (s.cropping)
    for (uint32_t c : s.crop) w.ue(c);
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


TEST(H264Sps, PictureSizeAfterCropping) {
  struct Case {
    const char* name;
    SpsFields s;
    uint32_t width, height;
  };
  auto fields = [](uint8_t profile, uint32_t chroma, bool frames, uint32_t w, uint32_t h, bool crop,
                   std::array<uint32_t, 4> c) {
    SpsFields s;
    s.profile = profile;
    s.chroma = chroma;
    s.frame_mbs_only = frames;
    s.width_mbs_minus1 = w;
    s.height_units_minus1 = h;
    s.cropping = crop;
    for (int i = 0; i < 4; ++i) s.crop[i] = c[i];
    return s;
  };
  const Case cases[] = {
      {"fields, no cropping", fields(100, 1, false, 10, 8, false, {}), 176, 288},
      {"1080 lines cropped from 1088", fields(66, 1, true, 119, 67, true, {0, 0, 0, 4}), 1920, 1080},
      {"4:2:0 frames crop in pairs", fields(100, 1, true, 10, 8, true, {0, 4, 0, 2}), 168, 140},
      {"4:2:0 fields crop four lines a unit", fields(100, 1, false, 10, 8, true, {0, 0, 0, 1}), 176, 284},
      {"4:4:4 crops single samples", fields(244, 3, true, 10, 8, true, {1, 1, 1, 1}), 174, 142},
      {"a window larger than the picture", fields(100, 1, true, 10, 8, true, {65535, 0, 0, 0}), 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes sps = build_sps(c.s);
    AvcSpsInfo info;
    ASSERT_EQ(avc_probe_sps(sps.data(), static_cast<uint32_t>(sps.size()), &info), ErrorCode::Ok);
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.height);
  }
}

// A stream's parameter sets: SPS 1 with 4-bit frame numbers and, for type
// 0, 4-bit picture order counts; PPS 2 on it with the bottom-field delta.
struct Stream {
  H264ParameterSets sets{};
  explicit Stream(uint32_t poc_type) {
    SpsFields s;
    s.sps_id = 1;
    s.frame_mbs_only = true;
    s.poc_type = poc_type;
    s.log2_max_poc_lsb_minus4 = 0;
    Bytes sps = cat({u8(0x67), build_sps(s)});
    AvcSpsInfo info;
    EXPECT_EQ(h264_parse_sps(sps.data(), static_cast<uint32_t>(sps.size()), &info), ErrorCode::Ok);
    EXPECT_TRUE(h264_store_sps(&sets, &info));
    BitWriter w;
    w.ue(2);
    w.ue(1);
    w.bit(1);  // CABAC
    w.bit(1);  // bottom_field_pic_order_in_frame_present_flag
    Bytes pps = cat({u8(0x68), w.finish()});
    H264Pps p;
    EXPECT_EQ(h264_parse_pps(pps.data(), static_cast<uint32_t>(pps.size()), &p), ErrorCode::Ok);
    EXPECT_EQ(p.entropy_coding_mode_flag, 1u);
    EXPECT_TRUE(h264_store_pps(&sets, &p));
  }
};

Bytes slice(uint8_t header, uint32_t slice_type, uint32_t pps_id, uint32_t frame_num, uint32_t lsb, int32_t bottom) {
  BitWriter w;
  w.ue(0);  // first_mb_in_slice
  w.ue(slice_type);
  w.ue(pps_id);
  w.bits(frame_num, 4);
  if ((header & 0x1F) == 5) w.ue(7);  // idr_pic_id
  w.bits(lsb, 4);
  w.se(bottom);
  w.bits(0x5A, 8);  // the rest of the header, not read
  return cat({u8(header), w.finish()});
}

TEST(H264Slices, HeadersAndPictureOrderCounts) {
  Stream st(0);
  struct Case {
    const char* name;
    Bytes nal;
    uint32_t frame_num, lsb;
    int32_t bottom;
    int64_t poc;
    bool intra;
  };
  const Case cases[] = {
      {"IDR I slice", slice(0x65, 7, 2, 0, 0, 0), 0, 0, 0, 0, true},
      {"P, referenced", slice(0x41, 5, 2, 1, 8, 0), 1, 8, 0, 8, false},
      {"B, not referenced", slice(0x01, 6, 2, 2, 4, 0), 2, 4, 0, 4, false},
      {"P whose count wraps forwards", slice(0x41, 0, 2, 2, 0, 0), 2, 0, 0, 16, false},
      {"B from before the wrap", slice(0x01, 1, 2, 3, 12, 0), 3, 12, 0, 12, false},
      {"bottom field shown first", slice(0x41, 2, 2, 3, 2, -1), 3, 2, -1, 17, true},
      {"IDR starts counting again", slice(0x65, 2, 2, 0, 4, 0), 0, 4, 0, 4, true},
  };
  H264PocState poc{};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    H264SliceHeader h;
    ASSERT_EQ(h264_parse_slice_header(c.nal.data(), static_cast<uint32_t>(c.nal.size()), &st.sets, &h), ErrorCode::Ok);
    EXPECT_EQ(h.pic_parameter_set_id, 2u);
    EXPECT_EQ(h.frame_num, c.frame_num);
    EXPECT_EQ(h.pic_order_cnt_lsb, c.lsb);
    EXPECT_EQ(h.delta_pic_order_cnt_bottom, c.bottom);
    EXPECT_EQ(h264_slice_is_intra(&h), c.intra);
    EXPECT_EQ(h264_picture_order_count(&poc, &h, h264_sps_of_slice(&st.sets, &h)), c.poc);
  }
  H264SliceHeader h;
  Bytes unknown = slice(0x41, 5, 7, 1, 8, 0);
  EXPECT_EQ(h264_parse_slice_header(unknown.data(), static_cast<uint32_t>(unknown.size()), &st.sets, &h),
            ErrorCode::Missing);
  Bytes cut = slice(0x65, 7, 2, 0, 0, 0);
  EXPECT_EQ(h264_parse_slice_header(cut.data(), 3, &st.sets, &h), ErrorCode::NoMore);

  // Type 2: pictures are shown as they are decoded.
  Stream decoded(2);
  H264PocState counter{};
  for (int64_t i = 1; i <= 3; ++i) {
    Bytes nal = slice(0x41, 0, 2, 0, 0, 0);
    ASSERT_EQ(h264_parse_slice_header(nal.data(), static_cast<uint32_t>(nal.size()), &decoded.sets, &h), ErrorCode::Ok);
    EXPECT_EQ(h264_picture_order_count(&counter, &h, h264_sps_of_slice(&decoded.sets, &h)), i);
  }
}

TEST(H264Slices, ParameterSetsOutOfRangeAreNotStored) {
  H264ParameterSets sets{};
  SpsFields s;
  s.log2_max_frame_num_minus4 = 13;  // 17-bit frame numbers
  Bytes sps = build_sps(s);
  AvcSpsInfo info;
  ASSERT_EQ(avc_probe_sps(sps.data(), static_cast<uint32_t>(sps.size()), &info), ErrorCode::Ok);
  EXPECT_FALSE(h264_store_sps(&sets, &info));
  H264Pps pps{256, 0, 0, 0};
  EXPECT_FALSE(h264_store_pps(&sets, &pps));
  pps = H264Pps{3, 32, 0, 0};
  EXPECT_FALSE(h264_store_pps(&sets, &pps));
  pps = H264Pps{255, 31, 0, 0};
  EXPECT_TRUE(h264_store_pps(&sets, &pps));
}

TEST(H264Sei, RecoveryPointAmongOtherMessages) {
  struct Case {
    const char* name;
    Bytes nal;
    bool found;
    uint32_t frames;
  };
  const Case cases[] = {
      {"after unregistered user data", hex("06 05 03 aabbcc 06 01 24 80"), true, 3},
      {"after a type written with an extension byte", hex("06 ff01 01 00 06 01 24 80"), true, 3},
      {"recovery at once", hex("06 06 01 a0 80"), true, 0},
      {"none", hex("06 05 03 aabbcc 80"), false, 0},
      {"a payload longer than the unit", hex("06 05 09 aabbcc"), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t frames = 99;
    EXPECT_EQ(h264_sei_recovery_frames(c.nal.data(), static_cast<uint32_t>(c.nal.size()), &frames), c.found);
    if (c.found) {
      EXPECT_EQ(frames, c.frames);
    }
  }
}

TEST(AnnexB, UnitsBetweenStartCodes) {
  const Bytes stream = hex("000000 01 67aa 000001 68bb 00000000 01 65ccdd 00");
  uint32_t code = 0;
  ASSERT_TRUE(annexb_first_start_code(stream.data(), static_cast<uint32_t>(stream.size()), &code));
  std::vector<Bytes> units;
  uint32_t begin = 0, end = 0;
  while (annexb_next_unit(stream.data(), static_cast<uint32_t>(stream.size()), &code, &begin, &end))
    units.emplace_back(stream.begin() + begin, stream.begin() + end);
  EXPECT_EQ(units, (std::vector<Bytes>{hex("67aa"), hex("68bb"), hex("65ccdd")}));

  // 01 bytes that are no start code's stay in the unit.
  const struct {
    const char* name;
    Bytes stream;
    std::vector<Bytes> units;
  } splits[] = {
      {"a 01 after one zero, and alone", hex("000001 6701 0001 02 01 000001 68"), {hex("6701000102 01"), hex("68")}},
      {"a start code ending the bytes", hex("000001 65aa 000001"), {hex("65aa")}},
      {"start codes back to back", hex("000001 000001 09f0"), {hex("09f0")}},
  };
  for (const auto& c : splits) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(annexb_first_start_code(c.stream.data(), static_cast<uint32_t>(c.stream.size()), &code));
    std::vector<Bytes> found;
    while (annexb_next_unit(c.stream.data(), static_cast<uint32_t>(c.stream.size()), &code, &begin, &end))
      found.emplace_back(c.stream.begin() + begin, c.stream.begin() + end);
    EXPECT_EQ(found, c.units);
  }

  struct Case {
    const char* name;
    Bytes data;
    bool starts;
  };
  const Case cases[] = {{"three-byte start code", hex("000001 09"), true},
                        {"four-byte start code", hex("00000001 09"), true},
                        {"a byte before it", hex("11 000001 09"), false},
                        {"no start code", hex("abcd 09"), false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(annexb_first_start_code(c.data.data(), static_cast<uint32_t>(c.data.size()), &code), c.starts);
  }
}

// Start codes are looked for many places at a time: one is found wherever
// it lies against those blocks, past decoys that hold none (00 00 03, 00 01,
// zero runs), from any place up to it, and not from after it or when the
// bytes end inside it.
TEST(AnnexB, StartCodesFoundWhereverTheyLie) {
  const struct {
    const char* name;
    Bytes filler;  // repeated to the length; no start code in it
  } cases[] = {{"coded bytes", hex("55 aa 01 00 33")},
               {"emulation-prevented zeros", hex("00 00 03 01 00 01")},
               {"zero runs", hex("00 00 00 00 00 00 02")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (uint32_t n : {3u, 17u, 32u, 33u, 34u, 35u, 64u, 65u, 97u}) {
      Bytes plain(n);
      for (uint32_t i = 0; i < n; ++i) plain[i] = c.filler[i % c.filler.size()];
      EXPECT_EQ(annexb_next_start_code(plain.data(), n, 0), n);
      for (uint32_t code = 0; code + 3 <= n; ++code) {
        Bytes b = plain;
        b[code] = b[code + 1] = 0;
        b[code + 2] = 1;
        for (uint32_t from : {0u, code / 2, code, code + 1}) {
          EXPECT_EQ(annexb_next_start_code(b.data(), n, from), from <= code ? code : n)
              << "length " << n << ", code at " << code << ", from " << from;
        }
        EXPECT_EQ(annexb_next_start_code(b.data(), code + 2, 0), code + 2);
      }
    }
  }
}

TEST(Avcc, BuiltFromParameterSets) {
  const Bytes sps = hex("67 64000aacd942c4ec0840000003004000000503c4896580");
  const Bytes pps = hex("68 ebe3cb22c0");
  GrowArray<uint8_t> sps_block{}, pps_block{};
  ASSERT_EQ(avc_append_parameter_set(&sps_block, sps.data(), static_cast<uint32_t>(sps.size())), ErrorCode::Ok);
  ASSERT_EQ(avc_append_parameter_set(&pps_block, pps.data(), static_cast<uint32_t>(pps.size())), ErrorCode::Ok);
  AvcParameterSets sets{sps_block.items, sps_block.count, 1, pps_block.items, pps_block.count, 1, 3};
  AvcConfigRecord avc;
  avcc_init(&avc);
  ASSERT_EQ(avcc_build(&avc, &sets), ErrorCode::Ok);
  // High profile: chroma format and bit depths follow the sets.
  EXPECT_EQ(write_config(&avc, avcc_write, avcc_size),
            cat({hex("01 64000a ff e1 0018"), sps, hex("01 0006"), pps, hex("fd f8f8 00")}));
  avcc_release(&avc);

  struct Bad {
    const char* name;
    AvcParameterSets sets;
  };
  const Bad bad[] = {
      {"32 sequence parameter sets", {sps_block.items, sps_block.count, 32, pps_block.items, pps_block.count, 1, 3}},
      {"a block shorter than its sets", {sps_block.items, sps_block.count - 1, 1, pps_block.items, pps_block.count, 1, 3}},
      {"two sets announced, one held", {sps_block.items, sps_block.count, 1, pps_block.items, pps_block.count, 2, 3}},
      {"a NAL length size of 5", {sps_block.items, sps_block.count, 1, pps_block.items, pps_block.count, 1, 4}},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.name);
    AvcConfigRecord r;
    avcc_init(&r);
    EXPECT_EQ(avcc_build(&r, &b.sets), ErrorCode::BadArgument);
    avcc_release(&r);
  }
  const Bytes huge(0x10000, 0x67);
  EXPECT_EQ(avc_append_parameter_set(&sps_block, huge.data(), 0x10000), ErrorCode::BadArgument);
  sps_block.release();
  pps_block.release();
}

}  // namespace
}  // namespace vantorel
