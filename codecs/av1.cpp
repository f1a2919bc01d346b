#include "codecs/av1.h"

namespace vantorel {

bool av1c_parse(const uint8_t* p, uint32_t size, Av1ConfigInfo* out) {
  *out = Av1ConfigInfo{};
  // marker (1) and version (7): both 1.
  if (p == nullptr || size < 4 || p[0] != 0x81) return false;
  out->version = 1;
  out->seq_profile = p[1] >> 5;
  out->seq_level_idx_0 = p[1] & 0x1F;
  out->seq_tier_0 = p[2] >> 7;
  const uint32_t high_bitdepth = (p[2] >> 6) & 1;
  const uint32_t twelve_bit = (p[2] >> 5) & 1;
  out->bit_depth = high_bitdepth ? (twelve_bit ? 12 : 10) : 8;
  out->monochrome = (p[2] >> 4) & 1;
  out->chroma_subsampling_x = (p[2] >> 3) & 1;
  out->chroma_subsampling_y = (p[2] >> 2) & 1;
  out->chroma_sample_position = p[2] & 3;
  return true;
}

bool av1c_payload_valid(const uint8_t* payload, uint32_t size) {
  Av1ConfigInfo info;
  return av1c_parse(payload, size, &info);
}

}  // namespace vantorel
