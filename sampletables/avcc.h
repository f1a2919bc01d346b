#pragma once
// 'avcC': the AVC decoder configuration record (ISO/IEC 14496-15), and the
// probes that read a few fields out of AVC parameter sets.
#include <cstdint>

#include "boxes/owned_block.h"

namespace vantorel {

struct AvcConfigRecord {
  uint8_t configurationVersion;
  uint8_t AVCProfileIndication;
  uint8_t profile_compatibility;
  uint8_t AVCLevelIndication;
  uint8_t lengthSizeMinusOne;
  uint8_t numOfSequenceParameterSets;
  // The sequence parameter set block followed by the picture parameter set
  // block, each set preceded by its 16-bit length, as in the file.
  uint8_t* parameter_sets;
  uint32_t sps_length;
  uint8_t numOfPictureParameterSets;
  uint32_t pps_length;
  // Bytes after the last picture parameter set: for the High profiles the
  // chroma format, bit depths and sequence parameter set extensions.
  OwnedBlock trailing;
};

inline const uint8_t* avc_sps_block(const AvcConfigRecord* avc) { return avc->parameter_sets; }
inline const uint8_t* avc_pps_block(const AvcConfigRecord* avc) {
  return avc->parameter_sets != nullptr ? avc->parameter_sets + avc->sps_length : nullptr;
}

void avcc_init(AvcConfigRecord* avc);  // configurationVersion 1, the rest zero
void avcc_release(AvcConfigRecord* avc);
ErrorCode avcc_read(BoxFile* file, const BoxHeader* header, AvcConfigRecord* avc);
ErrorCode avcc_write(BoxFile* file, const AvcConfigRecord* avc);
uint64_t avcc_size(BoxFile* file, const AvcConfigRecord* avc);

// Replaces the parameter sets with copies of both blocks (each set already
// preceded by its 16-bit length); the caller sets the counts. The trailing
// bytes are derived anew from the first sequence parameter set: for the
// High profiles (100, 110, 122, 144 and the later ones that code chroma
// format and bit depths) those values with no extensions, else none.
ErrorCode avc_set_parameter_sets(AvcConfigRecord* avc, const uint8_t* sps_block, uint32_t sps_length,
                                 const uint8_t* pps_block, uint32_t pps_length);

struct AvcSpsInfo {
  uint8_t profile_idc;
  uint8_t constraint_flags;
  uint8_t level_idc;
  uint32_t chroma_format_idc;  // 1 (4:2:0) when the profile does not code it
  uint32_t bit_depth_luma_minus8;
  uint32_t bit_depth_chroma_minus8;
  uint32_t sar_width;  // sample aspect ratio, 1:1 when the stream gives none
  uint32_t sar_height;
  // What slice headers are read by.
  uint32_t seq_parameter_set_id;
  uint32_t separate_colour_plane_flag;
  uint32_t log2_max_frame_num;          // 0 when the coded value is out of range
  uint32_t pic_order_cnt_type;
  uint32_t log2_max_pic_order_cnt_lsb;  // type 0; 0 when out of range
  uint32_t delta_pic_order_always_zero_flag;
  uint32_t frame_mbs_only_flag;
};

// `sps` starts at profile_idc (after the NAL header byte). Reads up to the
// aspect ratio of the VUI; NoMore when the bytes end first.
ErrorCode avc_probe_sps(const uint8_t* sps, uint32_t length, AvcSpsInfo* out);
// `pps` starts after the NAL header byte.
ErrorCode avc_probe_pps(const uint8_t* pps, uint32_t length, uint32_t* entropy_coding_mode_flag);

}  // namespace vantorel
