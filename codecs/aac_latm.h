#pragma once
// AAC in LOAS/LATM (ISO/IEC 14496-3 AudioSyncStream): the 3-byte sync
// header of each frame, the StreamMuxConfig with its AudioSpecificConfig,
// and where the payload of an AudioMuxElement lies (bit-aligned). One
// program, one layer, one sub-frame, audioMuxVersion 0 and AAC with a
// channel configuration are read; other forms are refused.
#include <cstdint>

namespace vantorel {

struct LatmConfig {
  uint8_t asc[8];  // the AudioSpecificConfig, padded to whole bytes
  uint32_t asc_size;
  uint32_t sample_rate;
  uint32_t channels;
};

// The whole length of the LOAS frame at `p` (its header and AudioMuxElement);
// false without the sync word.
bool loas_frame_length(const uint8_t* p, uint32_t n, uint32_t* length);

// Reads the LOAS frame at `p` (`n` bytes, the whole frame). A frame with a
// StreamMuxConfig fills `*config`; one without uses it (false when it is
// empty: asc_size 0). The payload is `*payload_length` bytes from bit
// `*payload_bit` of `p`.
bool latm_parse(const uint8_t* p, uint32_t n, LatmConfig* config, uint64_t* payload_bit, uint32_t* payload_length);

// `length` bytes from bit `bit` of `p` into `out`.
void latm_copy_bits(const uint8_t* p, uint64_t bit, uint32_t length, uint8_t* out);

}  // namespace vantorel
