#include "sampletables/formats.h"

#include "boxes/hdlr.h"
#include "codecs/es_descriptor.h"

namespace vantorel {

namespace {

struct FormatRow {
  const char* format;
  uint32_t kind;
  bool whole;            // carried with its entries as read
  const char* name;      // the codec's common name
  const char* brand;     // compatible brand the file needs, or null
  bool quicktime_only;   // only a QuickTime movie holds it
};

constexpr FormatRow kFormats[] = {
    // Rebuilt from their parsed configuration unless the entry holds it.
    {"mp4v", kHandlerVideo, false, "MPEG-4 Visual", nullptr, false},
    {"avc1", kHandlerVideo, false, "H.264", nullptr, false},
    {"vc-1", kHandlerVideo, false, "VC-1", nullptr, false},
    {"s263", kHandlerVideo, false, "H.263", nullptr, false},
    {"jpeg", kHandlerVideo, false, "Motion JPEG", nullptr, false},
    {"mjpa", kHandlerVideo, false, "Motion JPEG A", nullptr, false},
    {"mjpb", kHandlerVideo, false, "Motion JPEG B", nullptr, false},
    {"mp4a", kHandlerSound, false, "MPEG-4 Audio", nullptr, false},
    {"samr", kHandlerSound, false, "AMR", nullptr, false},
    {"sawb", kHandlerSound, false, "AMR-WB", nullptr, false},
    {"sawp", kHandlerSound, false, "AMR-WB+", nullptr, false},
    {"sac3", kHandlerSound, false, "AC-3", nullptr, false},
    {"ac-3", kHandlerSound, false, "AC-3", nullptr, false},
    {"ec-3", kHandlerSound, false, "E-AC-3", nullptr, false},
    {"twos", kHandlerSound, false, "PCM", nullptr, false},
    {"sowt", kHandlerSound, false, "PCM", nullptr, false},
    {"raw ", kHandlerSound, false, "PCM", nullptr, false},
    // Carried whole.
    {"hvc1", kHandlerVideo, true, "HEVC", nullptr, false},
    {"hev1", kHandlerVideo, true, "HEVC", nullptr, false},
    {"dvh1", kHandlerVideo, true, "Dolby Vision (HEVC)", nullptr, false},
    {"dvhe", kHandlerVideo, true, "Dolby Vision (HEVC)", nullptr, false},
    {"avc3", kHandlerVideo, true, "H.264", nullptr, false},
    {"av01", kHandlerVideo, true, "AV1", "av01", false},
    {"vp08", kHandlerVideo, true, "VP8", nullptr, false},
    {"vp09", kHandlerVideo, true, "VP9", nullptr, false},
    {"Opus", kHandlerSound, true, "Opus", nullptr, false},
    {"fLaC", kHandlerSound, true, "FLAC", nullptr, false},
    {"alac", kHandlerSound, true, "ALAC", nullptr, false},
    {"ac-4", kHandlerSound, true, "AC-4", nullptr, false},
    {"mha1", kHandlerSound, true, "MPEG-H 3D Audio", nullptr, false},
    {"mhm1", kHandlerSound, true, "MPEG-H 3D Audio", nullptr, false},
    {"tx3g", kHandlerText, true, "timed text", nullptr, false},
    {"text", kHandlerText, true, "QuickTime text", nullptr, false},
    {"wvtt", kHandlerText, true, "WebVTT", nullptr, false},
    {"stpp", kHandlerSubtitle, true, "TTML", nullptr, false},
    {"tmcd", kHandlerTimecode, true, "time code", nullptr, false},
    // Only a QuickTime movie holds these.
    {"apco", kHandlerVideo, true, "ProRes 422 Proxy", nullptr, true},
    {"apcs", kHandlerVideo, true, "ProRes 422 LT", nullptr, true},
    {"apcn", kHandlerVideo, true, "ProRes 422", nullptr, true},
    {"apch", kHandlerVideo, true, "ProRes 422 HQ", nullptr, true},
    {"ap4h", kHandlerVideo, true, "ProRes 4444", nullptr, true},
    {"ap4x", kHandlerVideo, true, "ProRes 4444 XQ", nullptr, true},
    {"dvc ", kHandlerVideo, true, "DV", nullptr, true},
    {"dvcp", kHandlerVideo, true, "DV", nullptr, true},
    {"dv5n", kHandlerVideo, true, "DVCPRO50", nullptr, true},
    {"dv5p", kHandlerVideo, true, "DVCPRO50", nullptr, true},
    {"in24", kHandlerSound, true, "PCM", nullptr, true},
    {"in32", kHandlerSound, true, "PCM", nullptr, true},
    {"fl32", kHandlerSound, true, "PCM", nullptr, true},
    {"fl64", kHandlerSound, true, "PCM", nullptr, true},
    {"lpcm", kHandlerSound, true, "PCM", nullptr, true},
};

const FormatRow* row_of(FourCC format) {
  for (const FormatRow& row : kFormats)
    if (format == row.format) return &row;
  return nullptr;
}

}  // namespace

uint32_t format_kind(FourCC format) {
  const FormatRow* row = row_of(format);
  return row != nullptr ? row->kind : kHandlerUnknown;
}

bool kinds_agree(uint32_t track_kind, uint32_t format_kind) {
  auto text_like = [](uint32_t k) { return k == kHandlerText || k == kHandlerSbtl || k == kHandlerSubtitle; };
  return track_kind == format_kind || (text_like(track_kind) && text_like(format_kind));
}

bool format_carried_whole(FourCC format) {
  const FormatRow* row = row_of(format);
  return row != nullptr && row->whole;
}

bool format_quicktime_only(FourCC format) {
  const FormatRow* row = row_of(format);
  return row != nullptr && row->quicktime_only;
}

const char* format_codec_name(FourCC format, uint32_t object_type) {
  if (format == "mp4a") {
    if (is_aac_object_type(object_type)) return "AAC";
    if (is_mpeg_audio_object_type(object_type)) return "MP3";
  }
  if (format == "mp4v") {
    if (object_type >= 0x60 && object_type <= 0x65) return "MPEG-2 Video";
    if (object_type == 0x6A) return "MPEG-1 Video";
    if (object_type == 0x6C) return "JPEG";
    if (object_type == 0x6D) return "PNG";
  }
  const FormatRow* row = row_of(format);
  return row != nullptr ? row->name : nullptr;
}

bool pcm_counts_frames(FourCC format) { return format == "twos" || format == "sowt" || format == "raw "; }

FourCC format_brand(FourCC format) {
  const FormatRow* row = row_of(format);
  return row != nullptr && row->brand != nullptr ? FourCC::of(row->brand) : FourCC{};
}

}  // namespace vantorel
