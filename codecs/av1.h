#pragma once
// AV1: 'av1C', the AV1 codec configuration box, whose payload an input
// hands over whole (its four fixed bytes, then configuration OBUs).
#include <cstdint>

namespace vantorel {

struct Av1ConfigInfo {
  uint32_t version;
  uint32_t seq_profile;
  uint32_t seq_level_idx_0;
  uint32_t seq_tier_0;
  uint32_t bit_depth;  // 8, 10 or 12
  uint32_t monochrome;
  uint32_t chroma_subsampling_x;
  uint32_t chroma_subsampling_y;
  uint32_t chroma_sample_position;
};
// The fixed fields of an 'av1C' payload: false when it is shorter than
// them or its marker bit or version is not 1.
bool av1c_parse(const uint8_t* payload, uint32_t size, Av1ConfigInfo* out);
// Whether the bytes can be an 'av1C' payload to carry as it is.
bool av1c_payload_valid(const uint8_t* payload, uint32_t size);

}  // namespace vantorel
