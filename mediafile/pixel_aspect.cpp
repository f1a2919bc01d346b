// The pixel aspect written into a visual entry's resolutions.
#include "mediafile/track_builders.h"
#include "sampletables/stsd.h"

namespace vantorel {

void apply_pixel_aspect(VisualSampleEntry* entry, uint32_t w, uint32_t h) {
  if (entry == nullptr || w == 0 || h == 0) return;
  // 64-bit products: a 16-bit aspect times 72 dpi in 16.16 does not fit 32 bits.
  if (h < w) {
    uint64_t v = uint64_t{w} * entry->horizresolution / h;
    entry->vertresolution = v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
  } else {
    uint64_t v = uint64_t{entry->vertresolution} * h / w;
    entry->horizresolution = v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
  }
}

}  // namespace vantorel
