#include "codecs/h264.h"

#include <cstdlib>
#include <cstring>

#include "boxes/fields.h"
#include "codecs/bit_reader.h"
#include "codecs/nal_units.h"

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

// The picture size in luma samples: macroblocks of 16, map units of one or
// two macroblocks, less the cropping rectangle in its chroma-dependent units.
void set_dimensions(AvcSpsInfo* info, uint32_t width_mbs_minus1, uint32_t height_units_minus1, const uint32_t crop[4]) {
  const uint64_t frames = info->frame_mbs_only_flag ? 1 : 2;
  const uint64_t width = (uint64_t{width_mbs_minus1} + 1) * 16;
  const uint64_t height = (uint64_t{height_units_minus1} + 1) * 16 * frames;
  uint64_t unit_x = 1;
  uint64_t unit_y = frames;
  if (!info->separate_colour_plane_flag && info->chroma_format_idc != 0) {
    unit_x = info->chroma_format_idc == 3 ? 1 : 2;
    unit_y = (info->chroma_format_idc == 1 ? 2 : 1) * frames;
  }
  const uint64_t cut_x = (uint64_t{crop[0]} + crop[1]) * unit_x;
  const uint64_t cut_y = (uint64_t{crop[2]} + crop[3]) * unit_y;
  const bool fits = width <= UINT32_MAX && height <= UINT32_MAX && cut_x < width && cut_y < height;
  info->width = fits ? static_cast<uint32_t>(width - cut_x) : 0;
  info->height = fits ? static_cast<uint32_t>(height - cut_y) : 0;
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
  uint32_t width_mbs = 0;
  uint32_t height_units = 0;
  VT_TRY(bits_read_ue(r, &width_mbs));     // pic_width_in_mbs_minus1
  VT_TRY(bits_read_ue(r, &height_units));  // pic_height_in_map_units_minus1
  uint32_t frame_mbs_only = 0;
  VT_TRY(bits_read(r, 1, &frame_mbs_only));
  info->frame_mbs_only_flag = frame_mbs_only;
  if (!frame_mbs_only) VT_TRY(bits_read(r, 1, &v));  // mb_adaptive_frame_field_flag
  VT_TRY(bits_read(r, 1, &v));                         // direct_8x8_inference_flag
  uint32_t cropping = 0;
  VT_TRY(bits_read(r, 1, &cropping));
  uint32_t crop[4] = {};  // left, right, top, bottom
  if (cropping)
    for (uint32_t& c : crop) VT_TRY(bits_read_ue(r, &c));
  set_dimensions(info, width_mbs, height_units, crop);
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

ErrorCode h264_parse_sps(const uint8_t* nal, uint32_t size, AvcSpsInfo* out) {
  if (nal == nullptr || out == nullptr || size == 0) return ErrorCode::BadArgument;
  return avc_probe_sps(nal + 1, size - 1, out);
}

bool h264_sps_reads_slices(const AvcSpsInfo* sps) {
  return sps->seq_parameter_set_id < kH264MaxSps && sps->log2_max_frame_num != 0 && sps->pic_order_cnt_type <= 2 &&
         (sps->pic_order_cnt_type != 0 || sps->log2_max_pic_order_cnt_lsb != 0);
}

namespace {

// The picture parameter set's first fields; the bottom-field flag only when
// asked for, so a probe of the entropy mode needs no more bits than that.
ErrorCode read_pps(const uint8_t* rbsp, uint32_t length, H264Pps* out, bool through_bottom) {
  *out = H264Pps{};
  BitReader r;
  bits_init(&r, rbsp, length, true);
  VT_TRY(bits_read_ue(&r, &out->pic_parameter_set_id));
  VT_TRY(bits_read_ue(&r, &out->seq_parameter_set_id));
  VT_TRY(bits_read(&r, 1, &out->entropy_coding_mode_flag));
  if (through_bottom) VT_TRY(bits_read(&r, 1, &out->bottom_field_pic_order_in_frame_present_flag));
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode h264_parse_pps(const uint8_t* nal, uint32_t size, H264Pps* out) {
  if (nal == nullptr || out == nullptr || size == 0) return ErrorCode::BadArgument;
  return read_pps(nal + 1, size - 1, out, true);
}

ErrorCode avc_probe_pps(const uint8_t* pps, uint32_t length, uint32_t* entropy_coding_mode_flag) {
  if (pps == nullptr || entropy_coding_mode_flag == nullptr) return ErrorCode::BadArgument;
  *entropy_coding_mode_flag = 0;
  H264Pps fields;
  VT_TRY(read_pps(pps, length, &fields, false));
  *entropy_coding_mode_flag = fields.entropy_coding_mode_flag;
  return ErrorCode::Ok;
}

bool h264_store_sps(H264ParameterSets* sets, const AvcSpsInfo* sps) {
  if (sets == nullptr || sps == nullptr || !h264_sps_reads_slices(sps)) return false;
  sets->sps[sps->seq_parameter_set_id] = *sps;
  sets->has_sps[sps->seq_parameter_set_id] = true;
  return true;
}

bool h264_store_pps(H264ParameterSets* sets, const H264Pps* pps) {
  if (sets == nullptr || pps == nullptr || pps->pic_parameter_set_id >= kH264MaxPps ||
      pps->seq_parameter_set_id >= kH264MaxSps)
    return false;
  sets->pps[pps->pic_parameter_set_id] = *pps;
  sets->has_pps[pps->pic_parameter_set_id] = true;
  return true;
}

ErrorCode h264_parse_slice_header(const uint8_t* nal, uint32_t size, const H264ParameterSets* sets,
                                  H264SliceHeader* out) {
  if (nal == nullptr || sets == nullptr || out == nullptr || size == 0) return ErrorCode::BadArgument;
  *out = H264SliceHeader{};
  out->nal_unit_type = h264_nal_type(nal);
  out->nal_ref_idc = (nal[0] >> 5) & 3;
  BitReader r;
  bits_init(&r, nal + 1, size - 1, true);
  VT_TRY(bits_read_ue(&r, &out->first_mb_in_slice));
  VT_TRY(bits_read_ue(&r, &out->slice_type));
  VT_TRY(bits_read_ue(&r, &out->pic_parameter_set_id));
  if (out->pic_parameter_set_id >= kH264MaxPps || !sets->has_pps[out->pic_parameter_set_id]) return ErrorCode::Missing;
  const H264Pps& pps = sets->pps[out->pic_parameter_set_id];
  if (!sets->has_sps[pps.seq_parameter_set_id]) return ErrorCode::Missing;
  const AvcSpsInfo& sps = sets->sps[pps.seq_parameter_set_id];
  if (!h264_sps_reads_slices(&sps)) return ErrorCode::Malformed;
  if (sps.separate_colour_plane_flag) VT_TRY(bits_read(&r, 2, &out->colour_plane_id));
  VT_TRY(bits_read(&r, sps.log2_max_frame_num, &out->frame_num));
  if (!sps.frame_mbs_only_flag) {
    VT_TRY(bits_read(&r, 1, &out->field_pic_flag));
    if (out->field_pic_flag) VT_TRY(bits_read(&r, 1, &out->bottom_field_flag));
  }
  if (out->nal_unit_type == kH264NalIdr) VT_TRY(bits_read_ue(&r, &out->idr_pic_id));
  if (sps.pic_order_cnt_type != 0) return ErrorCode::Ok;
  VT_TRY(bits_read(&r, sps.log2_max_pic_order_cnt_lsb, &out->pic_order_cnt_lsb));
  if (pps.bottom_field_pic_order_in_frame_present_flag && !out->field_pic_flag)
    VT_TRY(bits_read_se(&r, &out->delta_pic_order_cnt_bottom));
  return ErrorCode::Ok;
}

int64_t h264_picture_order_count(H264PocState* st, const H264SliceHeader* slice, const AvcSpsInfo* sps) {
  if (slice->nal_unit_type == kH264NalIdr) {
    st->prev_msb = 0;
    st->prev_lsb = 0;
  }
  ++st->decoded;
  if (sps->pic_order_cnt_type != 0 || sps->log2_max_pic_order_cnt_lsb == 0) return st->decoded;
  const uint32_t lsb = slice->pic_order_cnt_lsb;
  const int64_t max = int64_t{1} << sps->log2_max_pic_order_cnt_lsb;
  int64_t msb = st->prev_msb;
  if (lsb < st->prev_lsb && int64_t{st->prev_lsb} - lsb >= max / 2) msb += max;
  else if (lsb > st->prev_lsb && int64_t{lsb} - st->prev_lsb > max / 2) msb -= max;
  const int64_t top = msb + lsb;
  const int64_t poc = slice->delta_pic_order_cnt_bottom < 0 ? top + slice->delta_pic_order_cnt_bottom : top;
  if (slice->nal_ref_idc != 0) {
    st->prev_msb = msb;
    st->prev_lsb = lsb;
  }
  return poc;
}

bool h264_sei_recovery_frames(const uint8_t* nal, uint32_t size, uint32_t* frames) {
  if (nal == nullptr || frames == nullptr || size == 0) return false;
  constexpr uint32_t kRecoveryPoint = 6;
  BitReader r;
  bits_init(&r, nal + 1, size - 1, true);
  for (uint32_t message = 0; message < 64; ++message) {
    uint32_t type = 0, payload = 0;
    if (!sei_next_message(&r, &type, &payload)) return false;
    if (type == kRecoveryPoint) return bits_read_ue(&r, frames) == ErrorCode::Ok;
    if (!sei_skip_payload(&r, payload)) return false;
  }
  return false;
}

bool avcc_payload_valid(const uint8_t* payload, uint32_t size) {
  return payload != nullptr && size >= 4 && payload[0] == 1;
}

namespace {

// True when `count` length-prefixed sets lie inside the block.
bool sets_fit(const uint8_t* block, uint32_t size, uint32_t count) {
  if (size > 0 && block == nullptr) return false;
  uint32_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (size - at < 2) return false;
    uint32_t n = load_u16be(block + at);
    if (n > size - at - 2) return false;
    at += 2 + n;
  }
  return true;
}

}  // namespace

bool avc_parameter_sets_valid(const AvcParameterSets* s) {
  return s != nullptr && s->length_size_minus_one <= 3 && s->sps_count <= 31 && s->pps_count <= 255 &&
         sets_fit(s->sps, s->sps_size, s->sps_count) && sets_fit(s->pps, s->pps_size, s->pps_count);
}

bool avc_first_parameter_set(const uint8_t* block, uint32_t size, uint32_t count, const uint8_t** set,
                             uint32_t* length) {
  if (count == 0 || block == nullptr || size < 2) return false;
  uint32_t n = load_u16be(block);
  if (n > size - 2) return false;
  *set = block + 2;
  *length = n;
  return true;
}

ErrorCode avc_append_parameter_set(GrowArray<uint8_t>* block, const uint8_t* set, uint32_t length) {
  if (block == nullptr || (set == nullptr && length > 0) || length > 0xFFFF) return ErrorCode::BadArgument;
  VT_TRY(block->append_doubling(static_cast<uint8_t>(length >> 8), 256));
  VT_TRY(block->append_doubling(static_cast<uint8_t>(length), 256));
  for (uint32_t i = 0; i < length; ++i) VT_TRY(block->append_doubling(set[i], 256));
  return ErrorCode::Ok;
}

ErrorCode avcc_build(AvcConfigRecord* avc, const AvcParameterSets* s) {
  if (avc == nullptr || !avc_parameter_sets_valid(s)) return ErrorCode::BadArgument;
  // The NAL header byte, then profile, compatibility and level.
  const uint8_t* sps = nullptr;
  uint32_t sps_length = 0;
  if (avc_first_parameter_set(s->sps, s->sps_size, s->sps_count, &sps, &sps_length) && sps_length >= 4) {
    avc->AVCProfileIndication = sps[1];
    avc->profile_compatibility = sps[2];
    avc->AVCLevelIndication = sps[3];
  }
  avc->lengthSizeMinusOne = static_cast<uint8_t>(s->length_size_minus_one);
  avc->numOfSequenceParameterSets = static_cast<uint8_t>(s->sps_count);
  avc->numOfPictureParameterSets = static_cast<uint8_t>(s->pps_count);
  return avc_set_parameter_sets(avc, s->sps, s->sps_size, s->pps, s->pps_size);
}

ErrorCode avcc_build_from_kept(AvcConfigRecord* avc, const AvcKeptSets* kept) {
  if (avc == nullptr || kept == nullptr) return ErrorCode::BadArgument;
  GrowArray<uint8_t> sps{}, pps{};
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t i = 0; i < kept->sps_count && e == ErrorCode::Ok; ++i) {
    const OwnedBlock& b = kept->sps[kept->sps_order[i]];
    e = avc_append_parameter_set(&sps, b.bytes, b.length);
  }
  for (uint32_t i = 0; i < kept->pps_count && e == ErrorCode::Ok; ++i) {
    const OwnedBlock& b = kept->pps[kept->pps_order[i]];
    e = avc_append_parameter_set(&pps, b.bytes, b.length);
  }
  const AvcParameterSets sets{sps.items, sps.count, kept->sps_count, pps.items, pps.count, kept->pps_count, 3};
  if (e == ErrorCode::Ok) e = avcc_build(avc, &sets);
  sps.release();
  pps.release();
  return e;
}

}  // namespace vantorel
