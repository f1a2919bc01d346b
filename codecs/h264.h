#pragma once
// H.264 (ISO/IEC 14496-10): the fields of sequence and picture parameter
// sets, slice headers and recovery point messages, picture order counts,
// and 'avcC', the AVC decoder configuration record (ISO/IEC 14496-15):
// read, written, sized and built from parameter sets.
#include <cstdint>

#include "boxes/owned_block.h"
#include "io/grow_array.h"

namespace vantorel {

// ---- NAL units ---------------------------------------------------------------

enum H264NalType : uint32_t {
  kH264NalSlice = 1,
  kH264NalIdr = 5,
  kH264NalSei = 6,
  kH264NalSps = 7,
  kH264NalPps = 8,
  kH264NalDelimiter = 9,
};

// A unit's type and whether it is used for reference, from its header byte.
inline uint32_t h264_nal_type(const uint8_t* nal) { return nal[0] & 0x1F; }
inline bool h264_nal_is_reference(const uint8_t* nal) { return (nal[0] & 0x60) != 0; }

// ---- Parameter sets -------------------------------------------------------------

constexpr uint32_t kH264MaxSps = 32;   // seq_parameter_set_id 0 to 31
constexpr uint32_t kH264MaxPps = 256;  // pic_parameter_set_id 0 to 255

struct AvcSpsInfo {
  uint8_t profile_idc;
  uint8_t constraint_flags;
  uint8_t level_idc;
  uint32_t chroma_format_idc;  // 1 (4:2:0) when the profile does not code it
  uint32_t bit_depth_luma_minus8;
  uint32_t bit_depth_chroma_minus8;
  uint32_t sar_width;  // sample aspect ratio, 1:1 when the stream gives none
  uint32_t sar_height;
  // The picture in luma samples, after the cropping rectangle; 0 when the
  // coded values are out of range.
  uint32_t width;
  uint32_t height;
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
// The same for a whole NAL unit, header byte included.
ErrorCode h264_parse_sps(const uint8_t* nal, uint32_t size, AvcSpsInfo* out);
// Whether slice headers can be read by the set: its id in range, and frame
// numbers and picture order counts of sizes and a type the stream may use.
bool h264_sps_reads_slices(const AvcSpsInfo* sps);

struct H264Pps {
  uint32_t pic_parameter_set_id;
  uint32_t seq_parameter_set_id;
  uint32_t entropy_coding_mode_flag;
  uint32_t bottom_field_pic_order_in_frame_present_flag;
};
// A whole NAL unit, header byte included: the fields up to
// bottom_field_pic_order_in_frame_present_flag. NoMore when the bytes end
// first.
ErrorCode h264_parse_pps(const uint8_t* nal, uint32_t size, H264Pps* out);
// `pps` starts after the NAL header byte: entropy_coding_mode_flag alone.
ErrorCode avc_probe_pps(const uint8_t* pps, uint32_t length, uint32_t* entropy_coding_mode_flag);

// The parameter sets a stream has defined so far, by id: what its slice
// headers are read by. The latest definition of an id counts.
struct H264ParameterSets {
  AvcSpsInfo sps[kH264MaxSps];
  H264Pps pps[kH264MaxPps];
  bool has_sps[kH264MaxSps];
  bool has_pps[kH264MaxPps];
};
// Records a set under its id: false when the id is out of range, or when a
// sequence parameter set cannot read slices.
bool h264_store_sps(H264ParameterSets* sets, const AvcSpsInfo* sps);
bool h264_store_pps(H264ParameterSets* sets, const H264Pps* pps);

// ---- Slices ----------------------------------------------------------------------

struct H264SliceHeader {
  uint32_t nal_unit_type;
  uint32_t nal_ref_idc;
  uint32_t first_mb_in_slice;
  uint32_t slice_type;  // 0 to 9; % 5 gives P, B, I, SP, SI
  uint32_t pic_parameter_set_id;
  uint32_t colour_plane_id;
  uint32_t frame_num;
  uint32_t field_pic_flag;
  uint32_t bottom_field_flag;
  uint32_t idr_pic_id;
  // Picture order count type 0 only.
  uint32_t pic_order_cnt_lsb;
  int32_t delta_pic_order_cnt_bottom;
};
// A slice NAL unit (types 1 to 5), header byte included, up to the picture
// order count fields. Missing when its picture parameter set, or that set's
// sequence parameter set, is not in `sets`; Malformed when that sequence
// parameter set cannot read slices; NoMore when the bytes end first.
ErrorCode h264_parse_slice_header(const uint8_t* nal, uint32_t size, const H264ParameterSets* sets,
                                  H264SliceHeader* out);
inline bool h264_slice_is_intra(const H264SliceHeader* slice) { return slice->slice_type % 5 == 2; }

// The sequence parameter set a parsed slice is read by.
inline const AvcSpsInfo* h264_sps_of_slice(const H264ParameterSets* sets, const H264SliceHeader* slice) {
  return &sets->sps[sets->pps[slice->pic_parameter_set_id].seq_parameter_set_id];
}

// Picture order counts in decoding order, across the pictures of a stream.
struct H264PocState {
  int64_t prev_msb;
  uint32_t prev_lsb;
  uint32_t decoded;  // pictures so far
};
// The picture order count of the picture whose first slice is `slice`, read
// by `sps`. Types 1 and 2 as streams use them show pictures in decoding
// order: the count of pictures decoded. Counts start again at each IDR picture.
int64_t h264_picture_order_count(H264PocState* state, const H264SliceHeader* slice, const AvcSpsInfo* sps);

// The recovery_frame_cnt of the recovery point message of an SEI unit
// (header byte included); false when the unit has none.
bool h264_sei_recovery_frames(const uint8_t* nal, uint32_t size, uint32_t* frames);

// ---- 'avcC' ------------------------------------------------------------------------

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

// Whether the bytes can be an 'avcC' payload to carry as it is: at least 4
// bytes, of configuration version 1.
bool avcc_payload_valid(const uint8_t* payload, uint32_t size);

// Replaces the parameter sets with copies of both blocks (each set already
// preceded by its 16-bit length); the caller sets the counts. The trailing
// bytes are derived anew from the first sequence parameter set: for the
// High profiles (100, 110, 122, 144 and the later ones that code chroma
// format and bit depths) those values with no extensions, else none.
ErrorCode avc_set_parameter_sets(AvcConfigRecord* avc, const uint8_t* sps_block, uint32_t sps_length,
                                 const uint8_t* pps_block, uint32_t pps_length);

// Parameter sets as an 'avcC' holds them: two blocks of sets, each set
// preceded by its 16-bit length.
struct AvcParameterSets {
  const uint8_t* sps;
  uint32_t sps_size;
  uint32_t sps_count;
  const uint8_t* pps;
  uint32_t pps_size;
  uint32_t pps_count;
  uint32_t length_size_minus_one;  // of the samples' NAL unit lengths
};
// Whether the counts fit the record and each block holds its sets.
bool avc_parameter_sets_valid(const AvcParameterSets* sets);
// The first set of a block: its bytes (NAL header byte first) and length;
// false when the block does not hold one.
bool avc_first_parameter_set(const uint8_t* block, uint32_t size, uint32_t count, const uint8_t** set,
                             uint32_t* length);
// Appends one set, preceded by its 16-bit length, to a block being built;
// BadArgument for a set longer than 65535 bytes.
ErrorCode avc_append_parameter_set(GrowArray<uint8_t>* block, const uint8_t* set, uint32_t length);
// Fills the record from the sets: the blocks, their counts, the NAL length
// size, and profile, compatibility and level from the first sequence
// parameter set. BadArgument when the sets are not valid.
ErrorCode avcc_build(AvcConfigRecord* avc, const AvcParameterSets* sets);

// Parameter sets kept by id as a stream defines them (whole NAL units,
// header byte first), and the order their ids were first met in.
struct AvcKeptSets {
  const OwnedBlock* sps;  // by seq_parameter_set_id
  const uint32_t* sps_order;
  uint32_t sps_count;
  const OwnedBlock* pps;  // by pic_parameter_set_id
  const uint32_t* pps_order;
  uint32_t pps_count;
};
// Fills the record from kept sets, in the order first met, for samples
// with 4-byte NAL unit lengths. BadArgument when a set is longer than
// 65535 bytes or the counts do not fit the record.
ErrorCode avcc_build_from_kept(AvcConfigRecord* avc, const AvcKeptSets* kept);

}  // namespace vantorel
