#pragma once
// HEVC (ISO/IEC 23008-2): NAL unit types, the fields of sequence and
// picture parameter sets and slice segment headers a stream is described
// and cut by, recovery points, and the parameter set arrays of 'hvcC'
// (ISO/IEC 14496-15), whose payload an input hands over whole.
#include <cstdint>

#include "boxes/owned_block.h"
#include "io/error.h"
#include "io/grow_array.h"

namespace vantorel {

// ---- NAL units ---------------------------------------------------------------

enum HevcNalType : uint32_t {
  kHevcNalBlaWLp = 16,     // the IRAP pictures: 16 to 23
  kHevcNalIdrWRadl = 19,
  kHevcNalIdrNLp = 20,
  kHevcNalCra = 21,
  kHevcNalVps = 32,
  kHevcNalSps = 33,
  kHevcNalPps = 34,
  kHevcNalDelimiter = 35,
  kHevcNalSeiPrefix = 39,
};

// A unit's type from its two-byte header.
inline uint32_t hevc_nal_type(const uint8_t* nal) { return (nal[0] >> 1) & 0x3F; }
inline bool hevc_is_irap(uint32_t type) { return type >= 16 && type <= 23; }
inline bool hevc_is_idr(uint32_t type) { return type == kHevcNalIdrWRadl || type == kHevcNalIdrNLp; }
inline bool hevc_is_slice(uint32_t type) { return type <= 9 || hevc_is_irap(type); }

// ---- Parameter sets -------------------------------------------------------------

struct HevcSpsInfo {
  uint32_t sps_video_parameter_set_id;
  uint32_t sps_max_sub_layers_minus1;
  uint32_t sps_temporal_id_nesting_flag;
  uint32_t general_profile_space;
  uint32_t general_tier_flag;
  uint32_t general_profile_idc;
  uint32_t general_profile_compatibility_flags;
  uint64_t general_constraint_indicator_flags;  // 48 bits: progressive_source_flag first
  uint32_t general_level_idc;
  uint32_t sps_seq_parameter_set_id;
  uint32_t chroma_format_idc;
  uint32_t separate_colour_plane_flag;
  uint32_t pic_width_in_luma_samples;
  uint32_t pic_height_in_luma_samples;
  // The picture after the conformance window; 0 when the window is larger.
  uint32_t width;
  uint32_t height;
  uint32_t bit_depth_luma_minus8;
  uint32_t bit_depth_chroma_minus8;
  uint32_t log2_max_pic_order_cnt_lsb;
  // Coding tree blocks: what a slice segment address is counted in.
  uint32_t log2_ctb_size;
  uint32_t pic_size_in_ctbs;
};
// A whole SPS NAL unit, two-byte header included, up to the coding block
// sizes. NoMore when the bytes end first; Malformed for values out of range.
ErrorCode hevc_parse_sps(const uint8_t* nal, uint32_t size, HevcSpsInfo* out);

struct HevcPpsInfo {
  uint32_t pps_pic_parameter_set_id;
  uint32_t pps_seq_parameter_set_id;
  uint32_t dependent_slice_segments_enabled_flag;
  uint32_t output_flag_present_flag;
  uint32_t num_extra_slice_header_bits;
};
// A whole PPS NAL unit, up to num_extra_slice_header_bits.
ErrorCode hevc_parse_pps(const uint8_t* nal, uint32_t size, HevcPpsInfo* out);

// ---- Slices ----------------------------------------------------------------------

enum HevcSliceType : uint32_t { kHevcSliceB = 0, kHevcSliceP = 1, kHevcSliceI = 2 };

struct HevcSliceHeader {
  uint32_t nal_unit_type;
  uint32_t first_slice_segment_in_pic_flag;
  uint32_t slice_pic_parameter_set_id;
  uint32_t dependent_slice_segment_flag;
  uint32_t slice_segment_address;
  uint32_t slice_type;  // HevcSliceType; that of the slice a dependent segment continues is not known here
};
// The first fields of a slice segment header, up to its slice type. The
// caller finds the picture parameter set by hevc_slice_pps_id and hands it
// with its sequence parameter set.
ErrorCode hevc_slice_pps_id(const uint8_t* nal, uint32_t size, uint32_t* pps_id);
ErrorCode hevc_parse_slice_header(const uint8_t* nal, uint32_t size, const HevcSpsInfo* sps, const HevcPpsInfo* pps,
                                  HevcSliceHeader* out);

// The recovery_poc_cnt of the recovery point message of a prefix SEI unit;
// false when the unit has none.
bool hevc_sei_recovery_poc(const uint8_t* nal, uint32_t size, int32_t* poc_count);

// ---- 'hvcC' and length-prefixed samples ---------------------------------------------

// Bytes of 'hvcC' before its arrays of parameter sets.
constexpr uint32_t kHvccFixedSize = 23;

// Whether the bytes can be an 'hvcC' payload to carry as it is: its fixed
// fields, of configuration version 1.
bool hvcc_payload_valid(const uint8_t* payload, uint32_t size);
// The parameter set kinds the arrays hold at least one of: bit 0 VPS, bit 1
// SPS, bit 2 PPS. Arrays cut short count as far as they go.
uint32_t hvcc_parameter_set_kinds(const uint8_t* payload, uint32_t size);
// Bytes of each NAL unit length in the samples (1, 2 or 4).
uint32_t hvcc_nal_length_size(const uint8_t* payload, uint32_t size);

// The id a VPS, SPS or PPS unit defines (two-byte header first); false
// when the unit is none of them or its id does not parse.
bool hevc_parameter_set_id(const uint8_t* nal, uint32_t size, uint32_t* id);

// An 'hvcC' payload for samples with 4-byte NAL unit lengths, from whole
// parameter set units: arrays of VPS, SPS and PPS in that order, each
// complete and in the order given, other units left out; the fixed fields
// from the first SPS (its profile, tier and level, chroma format, bit
// depths, temporal layers), no spatial segmentation, parallelism or frame
// rate claimed. BadArgument when no SPS parses or a unit is longer than
// 65535 bytes.
ErrorCode hvcc_build(const OwnedBlock* sets, uint32_t count, GrowArray<uint8_t>* payload);

// Whether a sample, NAL units each after a big-endian length of
// `length_size` bytes, carries a parameter set of its own, as far as its
// first `size` bytes go.
bool hevc_parameter_sets_in_band(const uint8_t* sample, uint32_t size, uint32_t length_size);

}  // namespace vantorel
