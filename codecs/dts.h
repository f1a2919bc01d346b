#pragma once
// DTS (ETSI TS 102 114): the core frame header, and the 'ddts' box a
// core-only stream's 'dtsc' entry carries.
#include <cstdint>

#include "boxes/box_file.h"

namespace vantorel {

// The core frame header (16-bit big-endian words, sync 0x7FFE8001).
struct DtsCoreHeader {
  uint32_t samples;        // per channel: (NBLKS + 1) * 32
  uint32_t frame_size;     // FSIZE + 1 bytes
  uint32_t amode;          // channel arrangement
  uint32_t sample_rate;    // Hz; 0 for a reserved SFREQ
  uint32_t bit_rate;       // bit/s; 0 when open, variable or lossless
  uint32_t ext_audio;      // EXT_AUDIO: an extension inside the core frame
  uint32_t ext_audio_id;   // 0 XCh, 2 X96, 6 XXCh
  uint32_t lfe;            // LFF non-zero
  uint32_t pcm_bits;       // 16, 20 or 24
};
// Needs 15 bytes; false without the sync word or with reserved values.
bool dts_parse_core(const uint8_t* frame, uint32_t size, DtsCoreHeader* out);
// Samples per channel in the frame; 0 when the bytes are no core header.
uint32_t dts_frame_samples(const uint8_t* frame, uint32_t size);
// The extension substream sync word (DTS-HD) at the start of `bytes`.
bool dts_is_extension_substream(const uint8_t* bytes, uint32_t size);

struct DdtsRecord {
  uint32_t DTSSamplingFrequency;
  uint32_t maxBitrate;
  uint32_t avgBitrate;
  uint8_t pcmSampleDepth;
  uint8_t FrameDuration;       // 2 bits: 512 << code samples
  uint8_t StreamConstruction;  // 5 bits
  uint8_t CoreLFEPresent;
  uint8_t CoreLayout;          // 6 bits
  uint16_t CoreSize;           // 14 bits
  uint8_t StereoDownmix;
  uint8_t RepresentationType;  // 3 bits
  uint16_t ChannelLayout;
  uint8_t MultiAssetFlag;
  uint8_t LBRDurationMod;
  uint8_t ReservedBoxPresent;
};
constexpr uint64_t kDdtsPayloadSize = 20;

// The record of a core-only stream from its first frame's header.
bool ddts_from_core(const DtsCoreHeader* core, DdtsRecord* out);
ErrorCode ddts_write(BoxFile* file, const DdtsRecord* ddts);

}  // namespace vantorel
