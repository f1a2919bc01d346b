#pragma once
// Blu-ray (HDMV) LPCM: the 4-byte header before each unit's samples, and
// the samples as MP4 holds them: the padding channel of odd channel counts
// dropped, the channels in the MP4 order (5.1 arrives as L R C Ls Rs LFE).
#include <cstdint>

namespace vantorel {

constexpr uint32_t kBlurayLpcmHeader = 4;

struct BlurayLpcmHeader {
  uint32_t payload;         // sample bytes the header announces
  uint32_t assignment;      // channel_assignment
  uint32_t channels;        // carried
  uint32_t coded_channels;  // stored: one more for odd counts
  uint32_t rate;            // Hz
  uint32_t bits;            // 16, 20 or 24; 20 and 24 are stored in 3 bytes
};

// False for reserved values, and for channel arrangements not carried.
bool bluray_lpcm_parse(const uint8_t* p, uint32_t n, BlurayLpcmHeader* out);

inline uint32_t bluray_lpcm_stored_frame(const BlurayLpcmHeader& h) {
  return h.coded_channels * (h.bits == 16 ? 2 : 3);
}
inline uint32_t bluray_lpcm_frame(const BlurayLpcmHeader& h) { return h.channels * (h.bits == 16 ? 2 : 3); }

// `frames` stored frames at `in` into `out` (frames * bluray_lpcm_frame bytes).
void bluray_lpcm_convert(const BlurayLpcmHeader& h, const uint8_t* in, uint32_t frames, uint8_t* out);

}  // namespace vantorel
