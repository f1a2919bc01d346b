// HEVC: NAL unit types, parameter sets and slice segment headers over
// hand-built bitstreams, recovery points, and the arrays of 'hvcC'.
#include <gtest/gtest.h>

#include "codecs/bit_writer.h"
#include "codecs/hevc.h"
#include "sampletables/stsd_support.h"

namespace vantorel {
namespace {

using namespace test;

Bytes nal(uint32_t type, BitWriter& w) {
  int inserted = 0;
  return cat({u8(type << 1), u8(1), add_emulation_prevention(w.finish(), &inserted)});
}

// Main 10 at level 4, two temporal sub-layers, 1920x1088 coded and 1080
// shown, 64x64 coding tree blocks.
Bytes build_sps() {
  BitWriter w;
  w.bits(0, 4);  // sps_video_parameter_set_id
  w.bits(1, 3);  // sps_max_sub_layers_minus1
  w.bit(1);
  w.bits(0, 2);  // general_profile_space
  w.bit(1);      // general_tier_flag
  w.bits(2, 5);  // general_profile_idc
  w.bits(0x20000000, 32);
  w.bits(0xB, 4);  // source flags
  w.bits(0, 44);
  w.bits(120, 8);  // general_level_idc
  w.bit(1);        // sub_layer_profile_present_flag
  w.bit(1);        // sub_layer_level_present_flag
  w.bits(0, 14);   // reserved_zero_2bits for the absent sub-layers
  w.bits(0x123, 44);
  w.bits(0x456, 44);  // the sub-layer's profile
  w.bits(90, 8);      // and level
  w.ue(0);            // sps_seq_parameter_set_id
  w.ue(1);            // chroma_format_idc
  w.ue(1920);
  w.ue(1088);
  w.bit(1);  // conformance_window_flag
  w.ue(0);
  w.ue(0);
  w.ue(0);
  w.ue(4);
  w.ue(2);  // bit_depth_luma_minus8
  w.ue(2);
  w.ue(4);  // log2_max_pic_order_cnt_lsb_minus4
  w.bit(1);
  for (int i = 0; i < 2 * 3; ++i) w.ue(static_cast<uint32_t>(i));
  w.ue(0);  // log2_min_luma_coding_block_size_minus3
  w.ue(3);  // log2_diff_max_min_luma_coding_block_size
  w.bits(0x3, 2);
  return nal(kHevcNalSps, w);
}

Bytes build_pps() {
  BitWriter w;
  w.ue(0);
  w.ue(0);
  w.bit(1);       // dependent_slice_segments_enabled_flag
  w.bit(0);       // output_flag_present_flag
  w.bits(2, 3);   // num_extra_slice_header_bits
  w.bits(0xF, 4);
  return nal(kHevcNalPps, w);
}

Bytes build_slice(uint32_t type, bool first, bool dependent, uint32_t address, uint32_t slice_type) {
  BitWriter w;
  w.bit(first ? 1 : 0);
  if (hevc_is_irap(type)) w.bit(0);
  w.ue(0);  // slice_pic_parameter_set_id
  if (!first) {
    w.bit(dependent ? 1 : 0);
    w.bits(address, 9);  // 510 coding tree blocks
  }
  if (!dependent) {
    w.bits(0x3, 2);  // the extra header bits
    w.ue(slice_type);
  }
  w.bits(0xA5, 8);
  return nal(type, w);
}

TEST(Hevc, NalUnitTypes) {
  struct Case {
    uint32_t type;
    bool irap, idr, slice;
  };
  const Case cases[] = {{0, false, false, true},   {1, false, false, true},  {9, false, false, true},
                        {16, true, false, true},   {19, true, true, true},   {20, true, true, true},
                        {21, true, false, true},   {23, true, false, true},  {24, false, false, false},
                        {32, false, false, false}, {39, false, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const uint8_t header[2] = {static_cast<uint8_t>(c.type << 1), 1};
    EXPECT_EQ(hevc_nal_type(header), c.type);
    EXPECT_EQ(hevc_is_irap(c.type), c.irap);
    EXPECT_EQ(hevc_is_idr(c.type), c.idr);
    EXPECT_EQ(hevc_is_slice(c.type), c.slice);
  }
}

TEST(Hevc, SequenceAndPictureParameterSets) {
  const Bytes sps = build_sps();
  HevcSpsInfo s;
  ASSERT_EQ(hevc_parse_sps(sps.data(), static_cast<uint32_t>(sps.size()), &s), ErrorCode::Ok);
  EXPECT_EQ(s.sps_max_sub_layers_minus1, 1u);
  EXPECT_EQ(s.general_tier_flag, 1u);
  EXPECT_EQ(s.general_profile_idc, 2u);
  EXPECT_EQ(s.general_profile_compatibility_flags, 0x20000000u);
  EXPECT_EQ(s.general_level_idc, 120u);
  EXPECT_EQ(s.chroma_format_idc, 1u);
  EXPECT_EQ(s.pic_width_in_luma_samples, 1920u);
  EXPECT_EQ(s.pic_height_in_luma_samples, 1088u);
  EXPECT_EQ(s.width, 1920u);
  EXPECT_EQ(s.height, 1080u);
  EXPECT_EQ(s.bit_depth_luma_minus8, 2u);
  EXPECT_EQ(s.log2_max_pic_order_cnt_lsb, 8u);
  EXPECT_EQ(s.log2_ctb_size, 6u);
  EXPECT_EQ(s.pic_size_in_ctbs, 30u * 17u);
  // Cut anywhere: the parser runs out of bits rather than read past them.
  for (uint32_t cut : {0u, 2u, 8u, 20u, static_cast<uint32_t>(sps.size()) - 2}) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(hevc_parse_sps(sps.data(), cut, &s), ErrorCode::NoMore);
  }

  const Bytes pps = build_pps();
  HevcPpsInfo p;
  ASSERT_EQ(hevc_parse_pps(pps.data(), static_cast<uint32_t>(pps.size()), &p), ErrorCode::Ok);
  EXPECT_EQ(p.dependent_slice_segments_enabled_flag, 1u);
  EXPECT_EQ(p.num_extra_slice_header_bits, 2u);
}

TEST(Hevc, SliceSegmentHeaders) {
  const Bytes sps_nal = build_sps(), pps_nal = build_pps();
  HevcSpsInfo sps;
  HevcPpsInfo pps;
  ASSERT_EQ(hevc_parse_sps(sps_nal.data(), static_cast<uint32_t>(sps_nal.size()), &sps), ErrorCode::Ok);
  ASSERT_EQ(hevc_parse_pps(pps_nal.data(), static_cast<uint32_t>(pps_nal.size()), &pps), ErrorCode::Ok);
  struct Case {
    const char* name;
    Bytes nal;
    uint32_t first, dependent, address, slice_type;
  };
  const Case cases[] = {
      {"IDR picture, first segment, I", build_slice(kHevcNalIdrWRadl, true, false, 0, kHevcSliceI), 1, 0, 0, kHevcSliceI},
      {"CRA picture, I", build_slice(kHevcNalCra, true, false, 0, kHevcSliceI), 1, 0, 0, kHevcSliceI},
      {"trailing picture, a later segment, P", build_slice(1, false, false, 300, kHevcSliceP), 0, 0, 300, kHevcSliceP},
      {"a dependent segment has no type of its own", build_slice(1, false, true, 509, kHevcSliceB), 0, 1, 509, 0},
      {"B", build_slice(0, true, false, 0, kHevcSliceB), 1, 0, 0, kHevcSliceB},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto n = static_cast<uint32_t>(c.nal.size());
    uint32_t pps_id = 9;
    ASSERT_EQ(hevc_slice_pps_id(c.nal.data(), n, &pps_id), ErrorCode::Ok);
    EXPECT_EQ(pps_id, 0u);
    HevcSliceHeader h;
    ASSERT_EQ(hevc_parse_slice_header(c.nal.data(), n, &sps, &pps, &h), ErrorCode::Ok);
    EXPECT_EQ(h.first_slice_segment_in_pic_flag, c.first);
    EXPECT_EQ(h.dependent_slice_segment_flag, c.dependent);
    EXPECT_EQ(h.slice_segment_address, c.address);
    EXPECT_EQ(h.slice_type, c.slice_type);
  }
  HevcSliceHeader h;
  const Bytes bad_type = build_slice(1, true, false, 0, 3);
  EXPECT_EQ(hevc_parse_slice_header(bad_type.data(), static_cast<uint32_t>(bad_type.size()), &sps, &pps, &h),
            ErrorCode::Malformed);
  const Bytes cut = build_slice(1, false, false, 300, kHevcSliceP);
  EXPECT_EQ(hevc_parse_slice_header(cut.data(), 3, &sps, &pps, &h), ErrorCode::NoMore);
}

TEST(Hevc, RecoveryPointMessage) {
  struct Case {
    const char* name;
    Bytes nal;
    bool found;
    int32_t poc;
  };
  const Case cases[] = {
      {"recovery two pictures back", hex("4e01 06 01 2c 80"), true, -2},
      {"after another message", hex("4e01 05 02 abcd 06 01 80 80"), true, 0},
      {"a suffix unit is not looked in", hex("5001 06 01 2c 80"), false, 0},
      {"none", hex("4e01 05 02 abcd 80"), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t poc = 99;
    EXPECT_EQ(hevc_sei_recovery_poc(c.nal.data(), static_cast<uint32_t>(c.nal.size()), &poc), c.found);
    if (c.found) {
      EXPECT_EQ(poc, c.poc);
    }
  }
}

TEST(Hvcc, ParameterSetArraysAndInBandSets) {
  const Bytes fixed = cat({u8(1), Bytes(20, 0), u8(0xFF)});  // NAL lengths of 4 bytes
  const Bytes vps = hex("20 0001 0002 4001"), sps = hex("21 0001 0003 420101"), pps = hex("22 0001 0002 4401");
  const Bytes no_pps = hex("22 0000");
  struct Case {
    const char* name;
    Bytes payload;
    bool valid;
    uint32_t kinds;
  };
  const Case cases[] = {
      {"all three kinds", cat({fixed, u8(3), vps, sps, pps}), true, 7},
      {"an empty picture parameter set array", cat({fixed, u8(3), vps, sps, no_pps}), true, 3},
      {"more arrays announced than held", cat({fixed, u8(5), vps, sps}), true, 3},
      {"a set cut short", cat({fixed, u8(2), vps, hex("21 0001 0009 4201")}), true, 3},
      {"configuration version 0", cat({u8(0), Bytes(20, 0), u8(0xFF), u8(0)}), false, 0},
      {"shorter than the fixed fields", Bytes(22, 1), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto n = static_cast<uint32_t>(c.payload.size());
    EXPECT_EQ(hvcc_payload_valid(c.payload.data(), n), c.valid);
    EXPECT_EQ(hvcc_parameter_set_kinds(c.payload.data(), n), c.kinds);
  }
  EXPECT_EQ(hvcc_nal_length_size(cat({fixed, u8(0)}).data(), 23), 4u);
  EXPECT_EQ(hvcc_nal_length_size(cat({u8(1), Bytes(20, 0), u8(0xFD), u8(0)}).data(), 23), 2u);

  struct Sample {
    const char* name;
    Bytes bytes;
    uint32_t length_size;
    bool in_band;
  };
  const Sample samples[] = {
      {"slice alone", hex("00000003 2601aa"), 4, false},
      {"slice then SPS", hex("00000003 2601aa 00000003 420101"), 4, true},
      {"2-byte lengths, a VPS first", hex("0002 4001 0002 2601"), 2, true},
      {"a length past the sample ends the walk", hex("000000ff 2601 00000002 4201"), 4, false},
  };
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(hevc_parameter_sets_in_band(s.bytes.data(), static_cast<uint32_t>(s.bytes.size()), s.length_size),
              s.in_band);
  }
}

// An 'hvcC' built from parameter sets: the fixed fields from the SPS in
// the record's bit layout, the arrays in VPS, SPS, PPS order whatever the
// order given, each complete, other units left out.
TEST(Hevc, ConfigurationRecordBuiltFromParameterSets) {
  const Bytes sps = build_sps(), pps = build_pps();
  const Bytes vps = hex("4001 0c01ff");
  const Bytes sei = hex("4e01 0501ff");
  auto block = [](const Bytes& b) { return OwnedBlock{const_cast<uint8_t*>(b.data()), static_cast<uint32_t>(b.size())}; };
  const OwnedBlock sets[] = {block(pps), block(sei), block(sps), block(vps)};
  GrowArray<uint8_t> payload{};
  ASSERT_EQ(hvcc_build(sets, 4, &payload), ErrorCode::Ok);
  auto array = [](uint8_t type, const Bytes& set) {
    return cat({u8(static_cast<uint8_t>(0x80 | type)), u16(1), u16(static_cast<uint16_t>(set.size())), set});
  };
  const Bytes expected = cat({
      hex("01 22 20000000 b00000000000 78"),  // version; space 0, tier 1, profile 2; compatibility; flags; level 120
      hex("f000 fc fd fa fa 0000"),           // no segmentation or parallelism, 4:2:0, 10 bits, no frame rate
      u8(0x17),                               // two temporal layers, nested, 4-byte lengths
      u8(3), array(kHevcNalVps, vps), array(kHevcNalSps, sps), array(kHevcNalPps, pps),
  });
  EXPECT_EQ(Bytes(payload.items, payload.items + payload.count), expected);
  EXPECT_TRUE(hvcc_payload_valid(payload.items, payload.count));
  EXPECT_EQ(hvcc_parameter_set_kinds(payload.items, payload.count), 7u);

  // No SPS to describe the stream, or a set an array cannot hold.
  const OwnedBlock no_sps[] = {block(vps), block(pps)};
  EXPECT_EQ(hvcc_build(no_sps, 2, &payload), ErrorCode::BadArgument);
  Bytes huge = cat({hex("4401"), Bytes(0x10000, 0x55)});
  const OwnedBlock too_long[] = {block(sps), block(huge)};
  EXPECT_EQ(hvcc_build(too_long, 2, &payload), ErrorCode::BadArgument);
  payload.release();
}

}  // namespace
}  // namespace vantorel
