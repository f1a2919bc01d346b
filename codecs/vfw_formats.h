#pragma once
// Which codec a Video for Windows or ACM stream holds: the FOURCC of a
// BITMAPINFOHEADER and the format tag of a WAVEFORMATEX, as AVI streams and
// Matroska's V_MS/VFW/FOURCC and A_MS/ACM tracks give them. One table, so
// that every import that reads these records carries the same codecs.
#include <cstdint>

#include "io/fourcc.h"

namespace vantorel {

enum class VfwVideo : uint32_t { kUnknown, kMpeg4Visual, kMjpeg, kH264 };

// The codec a BITMAPINFOHEADER's compression names, or failing that the
// stream's handler code (an AVI 'strh'; zero when there is none).
VfwVideo vfw_video_of(FourCC compression, FourCC handler);

enum class AcmSound : uint32_t { kUnknown, kPcm, kFloat, kMpegAudio, kAc3, kAac, kDts };

// WAVE_FORMAT_EXTENSIBLE: the format tag its subformat stands for.
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// The format tag a WAVEFORMATEX stands for: its own, or for
// WAVE_FORMAT_EXTENSIBLE the subformat's first two bytes when the codec
// data after the fixed fields (`extra`, `extra_size` bytes) holds them.
uint16_t acm_codec_tag(uint16_t format_tag, const uint8_t* extra, uint32_t extra_size);

// The codec of a format tag (as acm_codec_tag gives it).
AcmSound acm_sound_of(uint16_t tag);

}  // namespace vantorel
