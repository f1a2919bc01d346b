#include "sampletables/avcc.h"

#include "boxes/fields.h"

#include <cstdlib>
#include <cstring>

#include "sampletables/bit_reader.h"

namespace vantorel {

namespace {

// The profiles whose sequence parameter set codes chroma_format_idc, bit
// depths and scaling matrices (ISO/IEC 14496-10, 7.3.2.1.1).
bool sps_has_chroma_fields(uint32_t profile) {
  switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86:
    case 118: case 128: case 138: case 139: case 134: case 135: case 144:
      return true;
    default:
      return false;
  }
}

// Table E-1: sample aspect ratios of aspect_ratio_idc 1 to 16.
constexpr uint16_t kAspect[17][2] = {{1, 1},  {1, 1},   {12, 11}, {10, 11}, {16, 11}, {40, 33},
                                     {24, 11}, {20, 11}, {32, 11}, {80, 33}, {18, 11}, {15, 11},
                                     {64, 33}, {160, 99}, {4, 3},  {3, 2},   {2, 1}};
constexpr uint32_t kExtendedSar = 255;

ErrorCode skip_scaling_list(BitReader* r, uint32_t size) {
  int32_t last = 8;
  int32_t next = 8;
  for (uint32_t j = 0; j < size; ++j) {
    if (next != 0) {
      int32_t delta = 0;
      VT_TRY(bits_read_se(r, &delta));
      next = static_cast<int32_t>((static_cast<int64_t>(last) + delta + 256) % 256);
      if (next < 0) next += 256;
    }
    if (next == 0) break;  // the rest of the list repeats the last scale
    last = next;
  }
  return ErrorCode::Ok;
}

ErrorCode skip_ue(BitReader* r) {
  uint32_t v = 0;
  return bits_read_ue(r, &v);
}
ErrorCode skip_se(BitReader* r) {
  int32_t v = 0;
  return bits_read_se(r, &v);
}

ErrorCode parse_sps(BitReader* r, AvcSpsInfo* info) {
  uint32_t v = 0;
  VT_TRY(bits_read_ue(r, &info->seq_parameter_set_id));
  if (sps_has_chroma_fields(info->profile_idc)) {
    VT_TRY(bits_read_ue(r, &info->chroma_format_idc));
    if (info->chroma_format_idc == 3) VT_TRY(bits_read(r, 1, &info->separate_colour_plane_flag));
    VT_TRY(bits_read_ue(r, &info->bit_depth_luma_minus8));
    VT_TRY(bits_read_ue(r, &info->bit_depth_chroma_minus8));
    VT_TRY(bits_read(r, 1, &v));  // qpprime_y_zero_transform_bypass_flag
    uint32_t matrix = 0;
    VT_TRY(bits_read(r, 1, &matrix));
    if (matrix) {
      uint32_t lists = info->chroma_format_idc != 3 ? 8 : 12;
      for (uint32_t i = 0; i < lists; ++i) {
        uint32_t present = 0;
        VT_TRY(bits_read(r, 1, &present));
        if (present) VT_TRY(skip_scaling_list(r, i < 6 ? 16 : 64));
      }
    }
  }
  VT_TRY(bits_read_ue(r, &v));  // log2_max_frame_num_minus4
  info->log2_max_frame_num = v <= 12 ? v + 4 : 0;  // 0: out of range
  uint32_t poc_type = 0;
  VT_TRY(bits_read_ue(r, &poc_type));
  info->pic_order_cnt_type = poc_type;
  if (poc_type == 0) {
    VT_TRY(bits_read_ue(r, &v));  // log2_max_pic_order_cnt_lsb_minus4
    info->log2_max_pic_order_cnt_lsb = v <= 12 ? v + 4 : 0;
  } else if (poc_type == 1) {
    VT_TRY(bits_read(r, 1, &info->delta_pic_order_always_zero_flag));
    VT_TRY(skip_se(r));           // offset_for_non_ref_pic
    VT_TRY(skip_se(r));           // offset_for_top_to_bottom_field
    uint32_t cycle = 0;
    VT_TRY(bits_read_ue(r, &cycle));
    // Every offset takes at least one bit, so the buffer ends a lying count.
    for (uint32_t i = 0; i < cycle; ++i) VT_TRY(skip_se(r));
  }
  VT_TRY(skip_ue(r));           // max_num_ref_frames
  VT_TRY(bits_read(r, 1, &v));  // gaps_in_frame_num_value_allowed_flag
  VT_TRY(skip_ue(r));           // pic_width_in_mbs_minus1
  VT_TRY(skip_ue(r));           // pic_height_in_map_units_minus1
  uint32_t frame_mbs_only = 0;
  VT_TRY(bits_read(r, 1, &frame_mbs_only));
  info->frame_mbs_only_flag = frame_mbs_only;
  if (!frame_mbs_only) VT_TRY(bits_read(r, 1, &v));  // mb_adaptive_frame_field_flag
  VT_TRY(bits_read(r, 1, &v));                         // direct_8x8_inference_flag
  uint32_t cropping = 0;
  VT_TRY(bits_read(r, 1, &cropping));
  if (cropping)
    for (int i = 0; i < 4; ++i) VT_TRY(skip_ue(r));
  uint32_t vui = 0;
  VT_TRY(bits_read(r, 1, &vui));
  if (!vui) return ErrorCode::Ok;
  uint32_t aspect_present = 0;
  VT_TRY(bits_read(r, 1, &aspect_present));
  if (!aspect_present) return ErrorCode::Ok;
  uint32_t idc = 0;
  VT_TRY(bits_read(r, 8, &idc));
  if (idc == kExtendedSar) {
    uint32_t w = 0;
    uint32_t h = 0;
    VT_TRY(bits_read(r, 16, &w));
    VT_TRY(bits_read(r, 16, &h));
    // 0:0 means unspecified; a zero term would also divide by zero later.
    if (w != 0 && h != 0) {
      info->sar_width = w;
      info->sar_height = h;
    }
  } else if (idc < 17) {
    info->sar_width = kAspect[idc][0];
    info->sar_height = kAspect[idc][1];
  }
  return ErrorCode::Ok;
}

// The four bytes that follow the picture parameter sets for a High-profile
// sequence parameter set block; false when the block does not call for them.
bool high_profile_extension(const uint8_t* sps_block, uint32_t length, uint8_t out[4]) {
  if (sps_block == nullptr || length < 3) return false;
  uint32_t first = load_u16be(sps_block);
  if (first < 2 || first > length - 2) return false;
  AvcSpsInfo info;
  if (avc_probe_sps(sps_block + 3, first - 1, &info) != ErrorCode::Ok) return false;
  // The record repeats what these profiles code in the parameter set; the
  // first edition named 100, 110, 122 and 144, later ones every such profile.
  if (!sps_has_chroma_fields(info.profile_idc)) return false;
  out[0] = static_cast<uint8_t>(0xFC | (info.chroma_format_idc & 3));
  out[1] = static_cast<uint8_t>(0xF8 | (info.bit_depth_luma_minus8 & 7));
  out[2] = static_cast<uint8_t>(0xF8 | (info.bit_depth_chroma_minus8 & 7));
  out[3] = 0;  // numOfSequenceParameterSetExt
  return true;
}

ErrorCode read_sets(BoxFile* file, const BoxHeader* header, uint32_t count, uint8_t* buffer, uint32_t room,
                    uint32_t* used) {
  *used = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (!box_has(file, header, 2)) return malformed(file, "'avcC' parameter set count larger than the box holds");
    uint16_t n = read_u16be(file);
    if (!box_has(file, header, n) || uint64_t{*used} + 2 + n > room)
      return malformed(file, "'avcC' parameter set longer than the box");
    store_u16be(buffer + *used, n);
    if (n > 0) VT_TRY(read_bytes(file, buffer + *used + 2, n));
    *used += 2 + n;
  }
  return ErrorCode::Ok;
}

}  // namespace

void avcc_init(AvcConfigRecord* avc) {
  if (avc == nullptr) return;
  std::memset(avc, 0, sizeof *avc);
  avc->configurationVersion = 1;
}

void avcc_release(AvcConfigRecord* avc) {
  if (avc == nullptr) return;
  std::free(avc->parameter_sets);
  avc->parameter_sets = nullptr;
  avc->sps_length = 0;
  avc->pps_length = 0;
  block_release(&avc->trailing);
}

ErrorCode avcc_read(BoxFile* file, const BoxHeader* header, AvcConfigRecord* avc) {
  if (file == nullptr || header == nullptr || avc == nullptr) return ErrorCode::BadArgument;
  if (!box_has(file, header, 6)) return short_box(file, "'avcC' shorter than its fixed fields");
  avc->configurationVersion = read_u8(file);
  avc->AVCProfileIndication = read_u8(file);
  avc->profile_compatibility = read_u8(file);
  avc->AVCLevelIndication = read_u8(file);
  avc->lengthSizeMinusOne = read_u8(file) & 3;
  avc->numOfSequenceParameterSets = read_u8(file) & 0x1F;
  if (io_failed(file)) return ErrorCode::Io;

  // Both blocks together hold no more bytes than the rest of the box.
  uint64_t left = box_bytes_left(file, header);
  if (left > kMaxOwnedBlock) return malformed(file, "'avcC' larger than 16 MiB");
  auto room = static_cast<uint32_t>(left);
  auto* buffer = static_cast<uint8_t*>(std::malloc(room > 0 ? room : 1));
  if (buffer == nullptr) return ErrorCode::OutOfMemory;
  uint32_t sps = 0;
  uint32_t pps = 0;
  ErrorCode e = read_sets(file, header, avc->numOfSequenceParameterSets, buffer, room, &sps);
  if (e == ErrorCode::Ok) {
    if (!box_has(file, header, 1)) {
      e = short_box(file, "'avcC' ends before its picture parameter set count");
    } else {
      avc->numOfPictureParameterSets = read_u8(file);
      e = read_sets(file, header, avc->numOfPictureParameterSets, buffer + sps, room - sps, &pps);
    }
  }
  if (e == ErrorCode::Ok && io_failed(file)) e = ErrorCode::Io;
  if (e != ErrorCode::Ok) {
    std::free(buffer);
    return e;
  }
  std::free(avc->parameter_sets);
  avc->parameter_sets = buffer;
  avc->sps_length = sps;
  avc->pps_length = pps;
  return block_read_rest(file, header, &avc->trailing, "'avcC' larger than 16 MiB");
}

ErrorCode avcc_write(BoxFile* file, const AvcConfigRecord* avc) {
  if (file == nullptr || avc == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u8(file, avc->configurationVersion));
  VT_TRY(write_u8(file, avc->AVCProfileIndication));
  VT_TRY(write_u8(file, avc->profile_compatibility));
  VT_TRY(write_u8(file, avc->AVCLevelIndication));
  VT_TRY(write_u8(file, static_cast<uint8_t>(0xFC | (avc->lengthSizeMinusOne & 3))));
  VT_TRY(write_u8(file, static_cast<uint8_t>(0xE0 | (avc->numOfSequenceParameterSets & 0x1F))));
  if (avc->sps_length > 0) VT_TRY(write_bytes(file, avc->parameter_sets, avc->sps_length));
  VT_TRY(write_u8(file, avc->numOfPictureParameterSets));
  if (avc->pps_length > 0) VT_TRY(write_bytes(file, avc_pps_block(avc), avc->pps_length));
  return block_write(file, &avc->trailing);
}

uint64_t avcc_size(BoxFile*, const AvcConfigRecord* avc) {
  if (avc == nullptr) return 0;
  return 7 + uint64_t{avc->sps_length} + avc->pps_length + avc->trailing.length;
}

ErrorCode avc_set_parameter_sets(AvcConfigRecord* avc, const uint8_t* sps_block, uint32_t sps_length,
                                 const uint8_t* pps_block, uint32_t pps_length) {
  if (avc == nullptr) return ErrorCode::BadArgument;
  if ((sps_block == nullptr && sps_length > 0) || (pps_block == nullptr && pps_length > 0))
    return ErrorCode::BadArgument;
  uint64_t total = uint64_t{sps_length} + pps_length;
  if (total > kMaxOwnedBlock) return ErrorCode::BadArgument;
  auto* buffer = static_cast<uint8_t*>(std::malloc(total > 0 ? total : 1));
  if (buffer == nullptr) return ErrorCode::OutOfMemory;
  if (sps_length > 0) std::memcpy(buffer, sps_block, sps_length);
  if (pps_length > 0) std::memcpy(buffer + sps_length, pps_block, pps_length);
  uint8_t extension[4];
  bool extended = high_profile_extension(sps_block, sps_length, extension);
  OwnedBlock trailing{};
  if (extended && block_assign(&trailing, extension, 4) != ErrorCode::Ok) {
    std::free(buffer);
    return ErrorCode::OutOfMemory;
  }
  std::free(avc->parameter_sets);
  avc->parameter_sets = buffer;
  avc->sps_length = sps_length;
  avc->pps_length = pps_length;
  block_release(&avc->trailing);
  avc->trailing = trailing;
  return ErrorCode::Ok;
}

ErrorCode avc_probe_sps(const uint8_t* sps, uint32_t length, AvcSpsInfo* out) {
  if (sps == nullptr || out == nullptr) return ErrorCode::BadArgument;
  std::memset(out, 0, sizeof *out);
  out->chroma_format_idc = 1;
  out->sar_width = 1;
  out->sar_height = 1;
  if (length < 3) return ErrorCode::NoMore;
  out->profile_idc = sps[0];
  out->constraint_flags = sps[1];
  out->level_idc = sps[2];
  BitReader r;
  bits_init(&r, sps + 3, length - 3, true);
  return parse_sps(&r, out);
}

ErrorCode avc_probe_pps(const uint8_t* pps, uint32_t length, uint32_t* entropy_coding_mode_flag) {
  if (pps == nullptr || entropy_coding_mode_flag == nullptr) return ErrorCode::BadArgument;
  *entropy_coding_mode_flag = 0;
  BitReader r;
  bits_init(&r, pps, length, true);
  VT_TRY(skip_ue(&r));  // pic_parameter_set_id
  VT_TRY(skip_ue(&r));  // seq_parameter_set_id
  return bits_read(&r, 1, entropy_coding_mode_flag);
}

}  // namespace vantorel
