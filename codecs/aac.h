#pragma once
// AAC (ISO/IEC 14496-3): the AudioSpecificConfig an 'esds' carries, built
// and read, and the ADTS header that frames a raw stream.
#include <cstdint>

namespace vantorel {

// The rate of a sampling frequency index; 0 for the escape and the
// reserved values (13 and up).
uint32_t aac_sample_rate(uint32_t index);
// The index of a rate; 13 when the rate has none.
uint32_t aac_rate_index(uint32_t rate);

// The two-byte AudioSpecificConfig of an audio object type (1 to 30), a rate
// with an index and a channel configuration (1 to 7); false when they
// cannot be written in two bytes.
bool aac_config_build(uint32_t object_type, uint32_t rate, uint32_t channels, uint8_t out[2]);

// The channel count of an AudioSpecificConfig; 0 when it does not say
// (configuration 0 leaves it to a program element) or is cut short.
uint32_t aac_config_channels(const uint8_t* config, uint32_t size);
// Samples a frame holds: 960 when the frame length flag of a configuration
// with a five-bit object type says so, else 1024.
uint32_t aac_config_frame_samples(const uint8_t* config, uint32_t size);
// The five-bit audio object type field as written (31 for an escaped
// type); 0 for an empty configuration.
uint32_t aac_config_object_type(const uint8_t* config, uint32_t size);

// Whether the bytes start with the sync word of an ADTS header (12 ones,
// then the layer bits 00).
bool adts_sync_word(const uint8_t* header, uint32_t size);

// An ADTS header: needs 7 bytes.
struct AdtsHeader {
  uint32_t length;         // whole frame, header included
  uint32_t header_length;  // 7, or 9 with a CRC
  uint32_t object_type;    // audio object type (profile + 1)
  uint32_t rate_index;
  uint32_t sample_rate;    // Hz
  uint32_t channel_config;
  uint32_t raw_blocks;     // raw data blocks in the frame, at least 1
};
// False without the sync word, with fewer than 7 bytes, with a reserved
// rate or with a length no longer than the header.
bool adts_parse_header(const uint8_t* header, uint32_t size, AdtsHeader* out);
// The two-byte AudioSpecificConfig an ADTS header describes.
void adts_audio_config(const AdtsHeader& header, uint8_t out[2]);

}  // namespace vantorel
