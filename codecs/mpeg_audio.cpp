#include "codecs/mpeg_audio.h"

namespace vantorel {

namespace {

// kbit/s by [MPEG-1 ? 0 : 1][layer - 1][index]; index 0 is free format.
constexpr uint16_t kBitRates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
constexpr uint32_t kRates[3] = {44100, 48000, 32000};

}  // namespace

bool mpeg_audio_parse_header(const uint8_t* h, uint32_t size, MpegAudioHeader* out) {
  *out = MpegAudioHeader{};
  if (h == nullptr || size < 4 || h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
  const uint32_t layer_bits = (h[1] >> 1) & 3;
  if (layer_bits == 0) return false;
  const uint32_t version = (h[1] >> 3) & 3;
  const uint32_t rate_index = (h[2] >> 2) & 3;
  const uint32_t bit_rate_index = h[2] >> 4;
  out->version = version;
  out->mpeg1 = version == 3 ? 1 : 0;
  out->layer = 4 - layer_bits;
  out->samples = out->layer == 1 ? 384 : out->layer == 2 || out->mpeg1 ? 1152 : 576;
  out->bit_rate_index = bit_rate_index;
  out->channel_mode = h[3] >> 6;
  if (version == 1 || rate_index == 3) return true;
  out->sample_rate = kRates[rate_index] >> (version == 2 ? 1 : version == 0 ? 2 : 0);
  out->bit_rate = kBitRates[out->mpeg1 ? 0 : 1][out->layer - 1][bit_rate_index] * 1000u;
  if (out->bit_rate == 0) return true;
  const uint32_t padding = (h[2] >> 1) & 1;
  if (out->layer == 1) out->length = (12 * out->bit_rate / out->sample_rate + padding) * 4;
  else out->length = out->samples / 8 * out->bit_rate / out->sample_rate + padding;
  return true;
}

bool mpeg_audio_parse_frame(const uint8_t* h, uint32_t size, MpegAudioHeader* out) {
  if (!mpeg_audio_parse_header(h, size, out)) return false;
  if (out->sample_rate != 0 && out->bit_rate != 0 && out->length >= 4) return true;
  *out = MpegAudioHeader{};
  return false;
}

bool mpeg_audio_header_valid(const uint8_t* h, uint32_t size) {
  MpegAudioHeader header;
  return mpeg_audio_parse_header(h, size, &header) && header.sample_rate != 0 && header.bit_rate_index != 15;
}

uint32_t mpeg_audio_frame_channels(const uint8_t* frame, uint32_t size) {
  MpegAudioHeader h;
  if (!mpeg_audio_parse_header(frame, size, &h)) return 0;
  return h.channel_mode == 3 ? 1 : 2;
}

uint32_t mpeg_audio_frame_samples(const uint8_t* frame, uint32_t size) {
  MpegAudioHeader h;
  return mpeg_audio_parse_header(frame, size, &h) ? h.samples : 0;
}

}  // namespace vantorel
