#include "sampletables/formats.h"

#include "boxes/hdlr.h"

namespace vantorel {

namespace {

struct FormatRow {
  const char* format;
  uint32_t kind;
  bool whole;         // carried with its entries as read
  const char* brand;  // compatible brand the file needs, or null
  bool quicktime_only = false;
};

constexpr FormatRow kFormats[] = {
    // Rebuilt from their parsed configuration.
    {"mp4v", kHandlerVideo, false, nullptr},
    {"avc1", kHandlerVideo, false, nullptr},
    {"vc-1", kHandlerVideo, false, nullptr},
    {"s263", kHandlerVideo, false, nullptr},
    {"jpeg", kHandlerVideo, false, nullptr},
    {"mjpa", kHandlerVideo, false, nullptr},
    {"mjpb", kHandlerVideo, false, nullptr},
    {"mp4a", kHandlerSound, false, nullptr},
    {"samr", kHandlerSound, false, nullptr},
    {"sawb", kHandlerSound, false, nullptr},
    {"sawp", kHandlerSound, false, nullptr},
    {"sac3", kHandlerSound, false, nullptr},
    {"ac-3", kHandlerSound, false, nullptr},
    {"ec-3", kHandlerSound, false, nullptr},
    {"twos", kHandlerSound, false, nullptr},
    // Carried whole.
    {"hvc1", kHandlerVideo, true, nullptr},
    {"hev1", kHandlerVideo, true, nullptr},
    {"dvh1", kHandlerVideo, true, nullptr},
    {"dvhe", kHandlerVideo, true, nullptr},
    {"avc3", kHandlerVideo, true, nullptr},
    {"av01", kHandlerVideo, true, "av01"},
    {"vp08", kHandlerVideo, true, nullptr},
    {"vp09", kHandlerVideo, true, nullptr},
    {"Opus", kHandlerSound, true, nullptr},
    {"fLaC", kHandlerSound, true, nullptr},
    {"alac", kHandlerSound, true, nullptr},
    {"ac-4", kHandlerSound, true, nullptr},
    {"mha1", kHandlerSound, true, nullptr},
    {"mhm1", kHandlerSound, true, nullptr},
    {"tx3g", kHandlerText, true, nullptr},
    {"text", kHandlerText, true, nullptr},
    {"wvtt", kHandlerText, true, nullptr},
    {"stpp", kHandlerSubtitle, true, nullptr},
    {"tmcd", kHandlerTimecode, true, nullptr},
    // Only a QuickTime movie holds these.
    {"apco", kHandlerVideo, true, nullptr, true},
    {"apcs", kHandlerVideo, true, nullptr, true},
    {"apcn", kHandlerVideo, true, nullptr, true},
    {"apch", kHandlerVideo, true, nullptr, true},
    {"ap4h", kHandlerVideo, true, nullptr, true},
    {"ap4x", kHandlerVideo, true, nullptr, true},
    {"dvc ", kHandlerVideo, true, nullptr, true},
    {"dvcp", kHandlerVideo, true, nullptr, true},
    {"dv5n", kHandlerVideo, true, nullptr, true},
    {"dv5p", kHandlerVideo, true, nullptr, true},
    {"in24", kHandlerSound, true, nullptr, true},
    {"in32", kHandlerSound, true, nullptr, true},
    {"fl32", kHandlerSound, true, nullptr, true},
    {"fl64", kHandlerSound, true, nullptr, true},
    {"lpcm", kHandlerSound, true, nullptr, true},
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

FourCC format_brand(FourCC format) {
  const FormatRow* row = row_of(format);
  return row != nullptr && row->brand != nullptr ? FourCC::of(row->brand) : FourCC{};
}

}  // namespace vantorel
