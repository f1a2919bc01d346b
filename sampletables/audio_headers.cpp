#include "sampletables/audio_headers.h"

#include "sampletables/bit_reader.h"

namespace vantorel {

bool is_aac_object_type(uint32_t object_type) { return object_type == 0x40 || (object_type >= 0x66 && object_type <= 0x68); }

bool is_mpeg_audio_object_type(uint32_t object_type) { return object_type == 0x69 || object_type == 0x6B; }

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

uint32_t mpeg_audio_frame_channels(const uint8_t* frame, uint32_t size) {
  // Sync word, and a layer other than the reserved 0.
  if (frame == nullptr || size < 4 || frame[0] != 0xFF || (frame[1] & 0xE0) != 0xE0 || (frame[1] & 0x06) == 0)
    return 0;
  return (frame[3] >> 6) == 3 ? 1 : 2;
}

}  // namespace vantorel
