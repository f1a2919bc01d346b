#include "codecs/aac.h"

#include "codecs/bit_reader.h"

namespace vantorel {

namespace {

constexpr uint32_t kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

}  // namespace

uint32_t aac_sample_rate(uint32_t index) { return index < 13 ? kRates[index] : 0; }

uint32_t aac_rate_index(uint32_t rate) {
  uint32_t index = 0;
  while (index < 13 && kRates[index] != rate) ++index;
  return index;
}

bool aac_config_build(uint32_t object_type, uint32_t rate, uint32_t channels, uint8_t out[2]) {
  const uint32_t index = aac_rate_index(rate);
  if (object_type == 0 || object_type > 30 || index == 13 || channels == 0 || channels > 7) return false;
  const uint32_t config = (object_type << 11) | (index << 7) | (channels << 3);
  out[0] = static_cast<uint8_t>(config >> 8);
  out[1] = static_cast<uint8_t>(config);
  return true;
}

uint32_t aac_config_channels(const uint8_t* config, uint32_t size) {
  if (config == nullptr) return 0;
  BitReader r;
  bits_init(&r, config, size, false);
  uint32_t object = 0, frequency = 0, skipped = 0, channels = 0;
  if (bits_read(&r, 5, &object) != ErrorCode::Ok) return 0;
  if (object == 31 && bits_read(&r, 6, &skipped) != ErrorCode::Ok) return 0;  // escaped object type
  if (bits_read(&r, 4, &frequency) != ErrorCode::Ok) return 0;
  if (frequency == 15 && bits_read(&r, 24, &skipped) != ErrorCode::Ok) return 0;  // explicit rate
  if (bits_read(&r, 4, &channels) != ErrorCode::Ok) return 0;
  static constexpr uint32_t kChannels[16] = {0, 1, 2, 3, 4, 5, 6, 8, 0, 0, 0, 7, 8, 24, 8, 0};
  return kChannels[channels];
}

uint32_t aac_config_frame_samples(const uint8_t* config, uint32_t size) {
  if (config == nullptr || size < 2) return 1024;
  return (config[1] & 0x04) != 0 && (config[0] >> 3) != 31 ? 960 : 1024;
}

uint32_t aac_config_object_type(const uint8_t* config, uint32_t size) {
  return config != nullptr && size > 0 ? config[0] >> 3 : 0;
}

bool adts_sync_word(const uint8_t* h, uint32_t size) {
  return h != nullptr && size >= 2 && h[0] == 0xFF && (h[1] & 0xF6) == 0xF0;
}

bool adts_parse_header(const uint8_t* h, uint32_t size, AdtsHeader* out) {
  *out = AdtsHeader{};
  if (size < 7 || !adts_sync_word(h, size)) return false;
  const bool protection_absent = (h[1] & 1) != 0;
  out->object_type = (h[2] >> 6) + 1u;
  out->rate_index = (h[2] >> 2) & 0xF;
  out->sample_rate = aac_sample_rate(out->rate_index);
  out->channel_config = ((h[2] & 1u) << 2) | (h[3] >> 6);
  out->length = ((h[3] & 3u) << 11) | (uint32_t{h[4]} << 3) | (h[5] >> 5);
  out->raw_blocks = (h[6] & 3u) + 1;
  out->header_length = protection_absent ? 7 : 9;
  if (out->rate_index >= 13) return false;
  return out->length > out->header_length;
}

void adts_audio_config(const AdtsHeader& frame, uint8_t out[2]) {
  out[0] = static_cast<uint8_t>((frame.object_type << 3) | (frame.rate_index >> 1));
  out[1] = static_cast<uint8_t>(((frame.rate_index & 1) << 7) | (frame.channel_config << 3));
}

}  // namespace vantorel
