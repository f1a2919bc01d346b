#include "codecs/vfw_formats.h"

#include "io/byte_io.h"

namespace vantorel {

namespace {

bool code_in(FourCC f, const char* const* list) {
  for (; *list != nullptr; ++list)
    if (f == std::string_view(*list, 4)) return true;
  return false;
}

constexpr const char* kMpeg4Codes[] = {"FMP4", "fmp4", "XVID", "xvid", "DIVX", "divx", "DX50", "dx50",
                                       "MP4V", "mp4v", "3IV2", "3iv2", nullptr};
constexpr const char* kMjpegCodes[] = {"MJPG", "mjpg", "AVRn", "dmb1", nullptr};
constexpr const char* kH264Codes[] = {"H264", "h264", "X264", "x264", "AVC1", "avc1", "DAVC", nullptr};

VfwVideo video_of_code(FourCC f) {
  if (code_in(f, kMpeg4Codes)) return VfwVideo::kMpeg4Visual;
  if (code_in(f, kMjpegCodes)) return VfwVideo::kMjpeg;
  if (code_in(f, kH264Codes)) return VfwVideo::kH264;
  return VfwVideo::kUnknown;
}

}  // namespace

VfwVideo vfw_video_of(FourCC compression, FourCC handler) {
  const VfwVideo v = video_of_code(compression);
  return v != VfwVideo::kUnknown ? v : video_of_code(handler);
}

uint16_t acm_codec_tag(uint16_t format_tag, const uint8_t* extra, uint32_t extra_size) {
  // After the fixed fields: valid bits (2), channel mask (4), then the GUID.
  if (format_tag == kWaveFormatExtensible && extra != nullptr && extra_size >= 8) return load_u16le(extra + 6);
  return format_tag;
}

AcmSound acm_sound_of(uint16_t tag) {
  switch (tag) {
    case 0x0001: return AcmSound::kPcm;
    case 0x0003: return AcmSound::kFloat;
    case 0x0050:  // MPEG-1 layers 1 and 2
    case 0x0055: return AcmSound::kMpegAudio;
    case 0x00FF:  // raw AAC
    case 0x1600:  // ADTS
    case 0x706D: return AcmSound::kAac;
    case 0x2000: return AcmSound::kAc3;
    case 0x2001: return AcmSound::kDts;
  }
  return AcmSound::kUnknown;
}

}  // namespace vantorel
