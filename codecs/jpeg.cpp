#include "codecs/jpeg.h"

namespace vantorel {

bool scan_jpeg_frame(const uint8_t* data, uint32_t size, JpegFrameLayout* out) {
  *out = JpegFrameLayout{};
  uint32_t at = 0;
  while (out->images < 2) {
    // The next image begins where the last one ended, past any padding.
    while (at + 1 < size && !(data[at] == 0xFF && data[at + 1] == 0xD8)) {
      if (out->images == 0) return false;
      ++at;
    }
    if (at + 1 >= size) break;
    at += 2;
    bool tables = false;
    for (;;) {
      if (at + 4 > size || data[at] != 0xFF) return false;
      const uint8_t marker = data[at + 1];
      if (marker == 0xFF) {  // fill byte
        ++at;
        continue;
      }
      const uint32_t length = (uint32_t{data[at + 2]} << 8) | data[at + 3];
      if (length < 2 || length > size - at - 2) return false;
      if (marker == 0xC4) tables = true;
      if (marker == 0xE0 && length >= 7 && data[at + 4] == 'A' && data[at + 5] == 'V' && data[at + 6] == 'I' &&
          data[at + 7] == '1' && out->images == 0)
        out->polarity = data[at + 8];
      if (marker == 0xDA) break;
      at += 2 + length;
    }
    out->tables_at[out->images] = at;
    if (!tables) out->lacks_tables[out->images] = 1;
    ++out->images;
    // The scan's data ends at the end-of-image marker.
    while (at + 1 < size && !(data[at] == 0xFF && data[at + 1] == 0xD9)) ++at;
    if (at + 1 >= size) break;
    at += 2;
  }
  return out->images > 0;
}

}  // namespace vantorel
