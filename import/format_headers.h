#pragma once
// The little-endian stream format records that AVI and ASF share: the bitmap
// header of a video stream and the wave format of a sound stream.
#include <cstdint>

#include "codecs/truehd.h"
#include "io/fourcc.h"

namespace vantorel {

struct BitmapInfoHeader {
  uint32_t size;
  int32_t width;
  int32_t height;
  uint16_t planes;
  uint16_t bit_count;
  FourCC compression;
  uint32_t image_size;
  int32_t x_pels_per_meter;
  int32_t y_pels_per_meter;
  uint32_t colours_used;
  uint32_t colours_important;
};
constexpr uint32_t kBitmapInfoHeaderSize = 40;

struct WaveFormat {
  uint16_t format_tag;
  uint16_t channels;
  uint32_t samples_per_sec;
  uint32_t avg_bytes_per_sec;
  uint16_t block_align;
  uint16_t bits_per_sample;
  uint16_t extra_size;  // codec data that follows
};
constexpr uint32_t kWaveFormatSize = 18;

// From kBitmapInfoHeaderSize and kWaveFormatSize bytes.
void parse_bitmap(const uint8_t* b, BitmapInfoHeader* h);
void parse_wave(const uint8_t* b, WaveFormat* w);

// The sample-entry code of a sound format tag: 00 00 then the tag big-endian.
FourCC format_tag_fourcc(uint16_t format_tag);

// A version 1 QuickTime sound entry of little-endian PCM samples of `bytes`
// bytes each (in24, in32, fl32, fl64): its 'wave' box says the order
// ('enda'), as only a QuickTime movie can hold.
constexpr uint32_t kLittleEndianPcmEntrySize = 90;
void little_endian_pcm_entry(uint8_t out[kLittleEndianPcmEntrySize], const char format[4], uint32_t channels,
                             uint32_t rate, uint32_t bytes);

// A version 0 sound entry of 8- or 16-bit PCM ('raw ', 'twos').
constexpr uint32_t kPcmEntrySize = 36;
void pcm_entry(uint8_t out[kPcmEntrySize], const char format[4], uint32_t channels, uint32_t rate, uint32_t bits);

// A TrueHD 'mlpa' entry with its 'dmlp'. Its rate is a plain 32-bit
// number, as rates above 65535 Hz are common.
constexpr uint32_t kMlpaEntrySize = kPcmEntrySize + 8 + kDmlpPayloadSize;
void mlpa_entry(uint8_t out[kMlpaEntrySize], uint32_t channels, uint32_t rate, const DmlpRecord& dmlp);

// A 'chan' box (the channel layout) for a WAVE_FORMAT_EXTENSIBLE channel
// mask, whose channels come in the order of its bits: a layout tag where
// one names those channels in that order, else the mask as a bitmap (the
// bitmap gives each speaker the mask's bit).
constexpr uint32_t kChannelLayoutBoxSize = 24;
void channel_layout_box(uint8_t out[kChannelLayoutBoxSize], uint32_t channel_mask);

}  // namespace vantorel
