#include "codecs/hevc.h"

#include "codecs/bit_reader.h"
#include "codecs/nal_units.h"
#include "io/byte_io.h"

namespace vantorel {

namespace {

constexpr uint32_t kNalHeaderSize = 2;

// A reader of the unit's payload, past its two-byte header, without the
// emulation prevention bytes.
bool payload_reader(const uint8_t* nal, uint32_t size, BitReader* r) {
  if (nal == nullptr || size < kNalHeaderSize) return false;
  bits_init(r, nal + kNalHeaderSize, size - kNalHeaderSize, true);
  return true;
}

ErrorCode skip_bits(BitReader* r, uint32_t n) {
  uint32_t v = 0;
  for (; n > 32; n -= 32) VT_TRY(bits_read(r, 32, &v));
  return n > 0 ? bits_read(r, n, &v) : ErrorCode::Ok;
}

ErrorCode skip_ue(BitReader* r) {
  uint32_t v = 0;
  return bits_read_ue(r, &v);
}

// profile_tier_level() with its general profile present: the general
// fields, then the sub-layers' flags and whichever of their fields they say.
ErrorCode read_profile_tier_level(BitReader* r, uint32_t max_sub_layers_minus1, HevcSpsInfo* out) {
  VT_TRY(bits_read(r, 2, &out->general_profile_space));
  VT_TRY(bits_read(r, 1, &out->general_tier_flag));
  VT_TRY(bits_read(r, 5, &out->general_profile_idc));
  VT_TRY(bits_read(r, 32, &out->general_profile_compatibility_flags));
  uint32_t high = 0, low = 0;
  VT_TRY(bits_read(r, 16, &high));  // source and constraint flags
  VT_TRY(bits_read(r, 32, &low));
  out->general_constraint_indicator_flags = (uint64_t{high} << 32) | low;
  VT_TRY(bits_read(r, 8, &out->general_level_idc));
  uint32_t profile_present[8] = {};
  uint32_t level_present[8] = {};
  for (uint32_t i = 0; i < max_sub_layers_minus1; ++i) {
    VT_TRY(bits_read(r, 1, &profile_present[i]));
    VT_TRY(bits_read(r, 1, &level_present[i]));
  }
  if (max_sub_layers_minus1 > 0) VT_TRY(skip_bits(r, 2 * (8 - max_sub_layers_minus1)));  // reserved_zero_2bits
  for (uint32_t i = 0; i < max_sub_layers_minus1; ++i) {
    if (profile_present[i]) VT_TRY(skip_bits(r, 88));
    if (level_present[i]) VT_TRY(skip_bits(r, 8));
  }
  return ErrorCode::Ok;
}

// Ceil(Log2(n)).
uint32_t ceil_log2(uint64_t n) {
  uint32_t bits = 0;
  while ((uint64_t{1} << bits) < n) ++bits;
  return bits;
}

}  // namespace

ErrorCode hevc_parse_sps(const uint8_t* nal, uint32_t size, HevcSpsInfo* out) {
  if (out == nullptr) return ErrorCode::BadArgument;
  *out = HevcSpsInfo{};
  BitReader r;
  if (!payload_reader(nal, size, &r)) return ErrorCode::NoMore;
  uint32_t v = 0;
  VT_TRY(bits_read(&r, 4, &out->sps_video_parameter_set_id));
  VT_TRY(bits_read(&r, 3, &out->sps_max_sub_layers_minus1));
  VT_TRY(bits_read(&r, 1, &out->sps_temporal_id_nesting_flag));
  VT_TRY(read_profile_tier_level(&r, out->sps_max_sub_layers_minus1, out));
  VT_TRY(bits_read_ue(&r, &out->sps_seq_parameter_set_id));
  VT_TRY(bits_read_ue(&r, &out->chroma_format_idc));
  if (out->sps_seq_parameter_set_id > 15 || out->chroma_format_idc > 3) return ErrorCode::Malformed;
  if (out->chroma_format_idc == 3) VT_TRY(bits_read(&r, 1, &out->separate_colour_plane_flag));
  VT_TRY(bits_read_ue(&r, &out->pic_width_in_luma_samples));
  VT_TRY(bits_read_ue(&r, &out->pic_height_in_luma_samples));
  uint32_t window = 0;
  uint32_t offsets[4] = {};  // left, right, top, bottom
  VT_TRY(bits_read(&r, 1, &window));
  if (window)
    for (uint32_t& o : offsets) VT_TRY(bits_read_ue(&r, &o));
  // The offsets count chroma samples.
  const uint32_t chroma = out->separate_colour_plane_flag ? 0 : out->chroma_format_idc;
  const uint64_t unit_x = chroma == 1 || chroma == 2 ? 2 : 1;
  const uint64_t unit_y = chroma == 1 ? 2 : 1;
  const uint64_t cut_x = (uint64_t{offsets[0]} + offsets[1]) * unit_x;
  const uint64_t cut_y = (uint64_t{offsets[2]} + offsets[3]) * unit_y;
  if (cut_x < out->pic_width_in_luma_samples && cut_y < out->pic_height_in_luma_samples) {
    out->width = static_cast<uint32_t>(out->pic_width_in_luma_samples - cut_x);
    out->height = static_cast<uint32_t>(out->pic_height_in_luma_samples - cut_y);
  }
  VT_TRY(bits_read_ue(&r, &out->bit_depth_luma_minus8));
  VT_TRY(bits_read_ue(&r, &out->bit_depth_chroma_minus8));
  VT_TRY(bits_read_ue(&r, &v));  // log2_max_pic_order_cnt_lsb_minus4
  if (v > 12 || out->bit_depth_luma_minus8 > 8 || out->bit_depth_chroma_minus8 > 8) return ErrorCode::Malformed;
  out->log2_max_pic_order_cnt_lsb = v + 4;
  uint32_t ordering_for_all = 0;
  VT_TRY(bits_read(&r, 1, &ordering_for_all));  // sps_sub_layer_ordering_info_present_flag
  for (uint32_t i = ordering_for_all ? 0 : out->sps_max_sub_layers_minus1; i <= out->sps_max_sub_layers_minus1; ++i)
    for (int k = 0; k < 3; ++k) VT_TRY(skip_ue(&r));  // buffering, reorder, latency
  uint32_t min_cb_minus3 = 0;
  uint32_t diff = 0;
  VT_TRY(bits_read_ue(&r, &min_cb_minus3));
  VT_TRY(bits_read_ue(&r, &diff));
  // Coding tree blocks of 16, 32 or 64 (8 in the first drafts).
  if (min_cb_minus3 > 3 || diff > 3 || min_cb_minus3 + diff > 3) return ErrorCode::Malformed;
  out->log2_ctb_size = min_cb_minus3 + 3 + diff;
  const uint64_t ctb = uint64_t{1} << out->log2_ctb_size;
  const uint64_t ctbs = ((out->pic_width_in_luma_samples + ctb - 1) / ctb) * ((out->pic_height_in_luma_samples + ctb - 1) / ctb);
  if (ctbs == 0 || ctbs > UINT32_MAX) return ErrorCode::Malformed;
  out->pic_size_in_ctbs = static_cast<uint32_t>(ctbs);
  return ErrorCode::Ok;
}

ErrorCode hevc_parse_pps(const uint8_t* nal, uint32_t size, HevcPpsInfo* out) {
  if (out == nullptr) return ErrorCode::BadArgument;
  *out = HevcPpsInfo{};
  BitReader r;
  if (!payload_reader(nal, size, &r)) return ErrorCode::NoMore;
  VT_TRY(bits_read_ue(&r, &out->pps_pic_parameter_set_id));
  VT_TRY(bits_read_ue(&r, &out->pps_seq_parameter_set_id));
  if (out->pps_pic_parameter_set_id > 63 || out->pps_seq_parameter_set_id > 15) return ErrorCode::Malformed;
  VT_TRY(bits_read(&r, 1, &out->dependent_slice_segments_enabled_flag));
  VT_TRY(bits_read(&r, 1, &out->output_flag_present_flag));
  return bits_read(&r, 3, &out->num_extra_slice_header_bits);
}

namespace {

ErrorCode read_slice_start(BitReader* r, uint32_t type, HevcSliceHeader* out) {
  VT_TRY(bits_read(r, 1, &out->first_slice_segment_in_pic_flag));
  uint32_t v = 0;
  if (hevc_is_irap(type)) VT_TRY(bits_read(r, 1, &v));  // no_output_of_prior_pics_flag
  return bits_read_ue(r, &out->slice_pic_parameter_set_id);
}

}  // namespace

ErrorCode hevc_slice_pps_id(const uint8_t* nal, uint32_t size, uint32_t* pps_id) {
  if (pps_id == nullptr) return ErrorCode::BadArgument;
  *pps_id = 0;
  BitReader r;
  if (!payload_reader(nal, size, &r)) return ErrorCode::NoMore;
  HevcSliceHeader s{};
  VT_TRY(read_slice_start(&r, hevc_nal_type(nal), &s));
  *pps_id = s.slice_pic_parameter_set_id;
  return ErrorCode::Ok;
}

ErrorCode hevc_parse_slice_header(const uint8_t* nal, uint32_t size, const HevcSpsInfo* sps, const HevcPpsInfo* pps,
                                  HevcSliceHeader* out) {
  if (sps == nullptr || pps == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = HevcSliceHeader{};
  BitReader r;
  if (!payload_reader(nal, size, &r)) return ErrorCode::NoMore;
  out->nal_unit_type = hevc_nal_type(nal);
  VT_TRY(read_slice_start(&r, out->nal_unit_type, out));
  if (out->slice_pic_parameter_set_id != pps->pps_pic_parameter_set_id) return ErrorCode::BadArgument;
  if (!out->first_slice_segment_in_pic_flag) {
    if (pps->dependent_slice_segments_enabled_flag) VT_TRY(bits_read(&r, 1, &out->dependent_slice_segment_flag));
    const uint32_t bits = ceil_log2(sps->pic_size_in_ctbs);
    if (bits > 0) VT_TRY(bits_read(&r, bits, &out->slice_segment_address));
  }
  if (out->dependent_slice_segment_flag) return ErrorCode::Ok;
  VT_TRY(skip_bits(&r, pps->num_extra_slice_header_bits));  // slice_reserved_flag
  VT_TRY(bits_read_ue(&r, &out->slice_type));
  return out->slice_type <= kHevcSliceI ? ErrorCode::Ok : ErrorCode::Malformed;
}

bool hevc_sei_recovery_poc(const uint8_t* nal, uint32_t size, int32_t* poc_count) {
  constexpr uint32_t kRecoveryPoint = 6;
  BitReader r;
  if (poc_count == nullptr || !payload_reader(nal, size, &r) || hevc_nal_type(nal) != kHevcNalSeiPrefix) return false;
  for (uint32_t message = 0; message < 64; ++message) {
    uint32_t type = 0, payload = 0;
    if (!sei_next_message(&r, &type, &payload)) return false;
    if (type == kRecoveryPoint) return bits_read_se(&r, poc_count) == ErrorCode::Ok;
    if (!sei_skip_payload(&r, payload)) return false;
  }
  return false;
}

bool hvcc_payload_valid(const uint8_t* p, uint32_t size) {
  return p != nullptr && size >= kHvccFixedSize && p[0] == 1;
}

uint32_t hvcc_parameter_set_kinds(const uint8_t* p, uint32_t size) {
  if (p == nullptr || size < kHvccFixedSize) return 0;
  uint32_t kinds = 0;
  uint32_t at = kHvccFixedSize;
  for (uint32_t i = 0, arrays = p[22]; i < arrays && at + 3 <= size; ++i) {
    const uint32_t type = p[at] & 0x3F;
    const uint32_t count = load_u16be(p + at + 1);
    at += 3;
    for (uint32_t k = 0; k < count && at + 2 <= size; ++k) at += 2 + load_u16be(p + at);
    if (type >= kHevcNalVps && type <= kHevcNalPps && count > 0) kinds |= 1u << (type - kHevcNalVps);
  }
  return kinds;
}

uint32_t hvcc_nal_length_size(const uint8_t* p, uint32_t size) {
  return p != nullptr && size >= kHvccFixedSize ? (p[21] & 3) + 1u : 4;
}

bool hevc_parameter_set_id(const uint8_t* nal, uint32_t size, uint32_t* id) {
  BitReader r;
  if (id == nullptr || !payload_reader(nal, size, &r)) return false;
  const uint32_t type = hevc_nal_type(nal);
  if (type == kHevcNalVps) return bits_read(&r, 4, id) == ErrorCode::Ok;
  if (type == kHevcNalSps) {
    HevcSpsInfo sps;
    if (hevc_parse_sps(nal, size, &sps) != ErrorCode::Ok) return false;
    *id = sps.sps_seq_parameter_set_id;
    return true;
  }
  if (type != kHevcNalPps) return false;
  return bits_read_ue(&r, id) == ErrorCode::Ok && *id <= 63;
}

ErrorCode hvcc_build(const OwnedBlock* sets, uint32_t count, GrowArray<uint8_t>* payload) {
  if ((sets == nullptr && count > 0) || payload == nullptr) return ErrorCode::BadArgument;
  HevcSpsInfo sps{};
  bool have_sps = false;
  uint32_t per_kind[3] = {};
  for (uint32_t i = 0; i < count; ++i) {
    const OwnedBlock& b = sets[i];
    if (b.length < 2) continue;
    const uint32_t type = hevc_nal_type(b.bytes);
    if (type < kHevcNalVps || type > kHevcNalPps) continue;
    if (b.length > 0xFFFF) return ErrorCode::BadArgument;
    ++per_kind[type - kHevcNalVps];
    if (type == kHevcNalSps && !have_sps) have_sps = hevc_parse_sps(b.bytes, b.length, &sps) == ErrorCode::Ok;
  }
  if (!have_sps) return ErrorCode::BadArgument;
  uint8_t f[kHvccFixedSize];
  f[0] = 1;  // configurationVersion
  f[1] = static_cast<uint8_t>(sps.general_profile_space << 6 | sps.general_tier_flag << 5 | sps.general_profile_idc);
  store_u32be(f + 2, sps.general_profile_compatibility_flags);
  for (int k = 0; k < 6; ++k) f[6 + k] = static_cast<uint8_t>(sps.general_constraint_indicator_flags >> (40 - 8 * k));
  f[12] = static_cast<uint8_t>(sps.general_level_idc);
  f[13] = 0xF0;  // min_spatial_segmentation_idc 0
  f[14] = 0x00;
  f[15] = 0xFC;  // parallelismType 0
  f[16] = static_cast<uint8_t>(0xFC | sps.chroma_format_idc);
  f[17] = static_cast<uint8_t>(0xF8 | sps.bit_depth_luma_minus8);
  f[18] = static_cast<uint8_t>(0xF8 | sps.bit_depth_chroma_minus8);
  f[19] = f[20] = 0;  // avgFrameRate
  // constantFrameRate 0, numTemporalLayers, temporalIdNested, lengthSizeMinusOne 3.
  f[21] = static_cast<uint8_t>((sps.sps_max_sub_layers_minus1 + 1) << 3 | sps.sps_temporal_id_nesting_flag << 2 | 3);
  uint32_t arrays = 0;
  for (uint32_t n : per_kind) arrays += n > 0 ? 1 : 0;
  f[22] = static_cast<uint8_t>(arrays);
  payload->count = 0;
  auto put = [payload](const uint8_t* p, uint32_t n) -> ErrorCode {
    for (uint32_t i = 0; i < n; ++i) VT_TRY(payload->append_doubling(p[i], 256));
    return ErrorCode::Ok;
  };
  VT_TRY(put(f, sizeof f));
  for (uint32_t kind = 0; kind < 3; ++kind) {
    if (per_kind[kind] == 0) continue;
    if (per_kind[kind] > 0xFFFF) return ErrorCode::BadArgument;
    // array_completeness 1: every set of the kind is here.
    const uint8_t head[3] = {static_cast<uint8_t>(0x80 | (kHevcNalVps + kind)), static_cast<uint8_t>(per_kind[kind] >> 8),
                             static_cast<uint8_t>(per_kind[kind])};
    VT_TRY(put(head, 3));
    for (uint32_t i = 0; i < count; ++i) {
      const OwnedBlock& b = sets[i];
      if (b.length < 2 || hevc_nal_type(b.bytes) != kHevcNalVps + kind) continue;
      const uint8_t length[2] = {static_cast<uint8_t>(b.length >> 8), static_cast<uint8_t>(b.length)};
      VT_TRY(put(length, 2));
      VT_TRY(put(b.bytes, b.length));
    }
  }
  return ErrorCode::Ok;
}

bool hevc_parameter_sets_in_band(const uint8_t* f, uint32_t n, uint32_t length_size) {
  if (f == nullptr) return false;
  for (uint32_t at = 0; at + length_size < n;) {
    uint32_t size = 0;
    for (uint32_t i = 0; i < length_size; ++i) size = (size << 8) | f[at + i];
    at += length_size;
    const uint32_t type = hevc_nal_type(f + at);
    if (type >= kHevcNalVps && type <= kHevcNalPps) return true;
    if (size > n - at) break;
    at += size;
  }
  return false;
}

}  // namespace vantorel
