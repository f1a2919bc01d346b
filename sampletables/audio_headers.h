#pragma once
// What the audio codecs' own headers say about a stream: the channel layout
// of an MPEG-4 AudioSpecificConfig and of an MPEG-1/2 audio frame header.
// Sound sample entries of ISO files store a fixed channel count of 2; these
// say what a decoder will give.
#include <cstdint>

namespace vantorel {

// Object types (objectTypeIndication) of MPEG-4 and MPEG-2 AAC, whose
// configuration is an AudioSpecificConfig, and of MPEG-1/2 audio.
bool is_aac_object_type(uint32_t object_type);
bool is_mpeg_audio_object_type(uint32_t object_type);

// The channel count of an AudioSpecificConfig; 0 when it does not say
// (configuration 0 leaves it to a program element) or is cut short.
uint32_t aac_config_channels(const uint8_t* config, uint32_t size);

// The channel count of the MPEG audio frame header at `frame`: 1 for
// single-channel mode, else 2; 0 when the bytes are no frame header.
uint32_t mpeg_audio_frame_channels(const uint8_t* frame, uint32_t size);

}  // namespace vantorel
