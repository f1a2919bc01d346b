#include "codecs/bluray_lpcm.h"

#include <cstring>

namespace vantorel {

namespace {

// By channel_assignment: channels, and for each MP4 channel the stored one.
// Arrangements whose stored order is not known here (3/0, 2/1, 3/4 and
// 3/4+LFE) are not carried.
struct Arrangement {
  uint8_t channels;
  uint8_t from[6];
};
constexpr Arrangement kArrangements[16] = {
    {0, {}},
    {1, {0}},                 // mono, a padding channel after it
    {0, {}},
    {2, {0, 1}},              // L R
    {0, {}},
    {0, {}},
    {4, {0, 1, 2, 3}},        // L R C S
    {4, {0, 1, 2, 3}},        // L R Ls Rs
    {5, {0, 1, 2, 3, 4}},     // L R C Ls Rs, a padding channel after them
    {6, {0, 1, 2, 5, 3, 4}},  // L R C Ls Rs LFE into L R C LFE Ls Rs
    {0, {}}, {0, {}}, {0, {}}, {0, {}}, {0, {}}, {0, {}},
};

}  // namespace

bool bluray_lpcm_parse(const uint8_t* p, uint32_t n, BlurayLpcmHeader* out) {
  if (n < kBlurayLpcmHeader) return false;
  constexpr uint32_t kRates[16] = {0, 48000, 0, 0, 96000, 192000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  constexpr uint32_t kBits[4] = {0, 16, 20, 24};
  BlurayLpcmHeader h{};
  h.payload = (uint32_t{p[0]} << 8) | p[1];
  h.assignment = p[2] >> 4;
  h.rate = kRates[p[2] & 0x0F];
  h.bits = kBits[p[3] >> 6];
  h.channels = kArrangements[h.assignment].channels;
  h.coded_channels = (h.channels + 1) & ~1u;
  if (h.rate == 0 || h.bits == 0 || h.channels == 0) return false;
  *out = h;
  return true;
}

void bluray_lpcm_convert(const BlurayLpcmHeader& h, const uint8_t* in, uint32_t frames, uint8_t* out) {
  const uint32_t bytes = h.bits == 16 ? 2 : 3;
  const uint8_t* from = kArrangements[h.assignment].from;
  for (uint32_t f = 0; f < frames; ++f, in += h.coded_channels * bytes)
    for (uint32_t c = 0; c < h.channels; ++c, out += bytes) std::memcpy(out, in + from[c] * bytes, bytes);
}

}  // namespace vantorel
