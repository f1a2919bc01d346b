#pragma once
// MPEG-1, MPEG-2 and MPEG-2.5 audio, layers I to III (ISO/IEC 11172-3 and
// 13818-3): the four-byte frame header.
#include <cstdint>

namespace vantorel {

struct MpegAudioHeader {
  uint32_t version;       // 0 MPEG-2.5, 1 reserved, 2 MPEG-2, 3 MPEG-1
  uint32_t mpeg1;         // 1 for the MPEG-1 rates
  uint32_t layer;         // 1 to 3
  uint32_t samples;       // per channel
  uint32_t sample_rate;   // Hz; 0 for a reserved version or rate
  uint32_t bit_rate_index;
  uint32_t bit_rate;      // bit/s; 0 for free format or a reserved index
  uint32_t channel_mode;  // 3: single channel
  uint32_t length;        // bytes, header included; 0 when the header does not give it
};

// The header's fields: false with fewer than 4 bytes, without the sync
// word or with the reserved layer.
bool mpeg_audio_parse_header(const uint8_t* header, uint32_t size, MpegAudioHeader* out);
// A header the stream can be split at: a valid version, rate and bit rate
// (a free-format bit rate has no length).
bool mpeg_audio_parse_frame(const uint8_t* header, uint32_t size, MpegAudioHeader* out);
// A header whose fields are all valid, free format allowed: what a stream
// of MPEG audio starts with.
bool mpeg_audio_header_valid(const uint8_t* header, uint32_t size);

// The channel count a frame header gives: 1 for single-channel mode, else
// 2; 0 when the bytes are no frame header.
uint32_t mpeg_audio_frame_channels(const uint8_t* frame, uint32_t size);
// Samples per channel in the frame; 0 when the bytes are no frame header.
uint32_t mpeg_audio_frame_samples(const uint8_t* frame, uint32_t size);

}  // namespace vantorel
