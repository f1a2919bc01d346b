#include "sampletables/formats.h"

#include "boxes/hdlr.h"

namespace vantorel {

namespace {

struct FormatRow {
  const char* format;
  uint32_t kind;
};

constexpr FormatRow kFormats[] = {
    {"mp4v", kHandlerVideo}, {"avc1", kHandlerVideo}, {"vc-1", kHandlerVideo}, {"s263", kHandlerVideo},
    {"jpeg", kHandlerVideo}, {"mjpa", kHandlerVideo}, {"mjpb", kHandlerVideo},
    {"mp4a", kHandlerSound}, {"samr", kHandlerSound}, {"sawb", kHandlerSound}, {"sawp", kHandlerSound},
    {"sac3", kHandlerSound}, {"ac-3", kHandlerSound}, {"ec-3", kHandlerSound}, {"twos", kHandlerSound},
};

}  // namespace

uint32_t format_kind(FourCC format) {
  for (const FormatRow& row : kFormats)
    if (format == row.format) return row.kind;
  return kHandlerUnknown;
}

}  // namespace vantorel
