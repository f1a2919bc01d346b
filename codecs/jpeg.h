#pragma once
// JPEG (ISO/IEC 10918-1) as Motion JPEG frames hold it: where each image's
// scan starts and whether the Huffman tables come before it.
#include <cstdint>

namespace vantorel {

// Where the standard tables go into a frame that lacks them.
struct JpegFrameLayout {
  uint32_t images;           // images met, at most 2 (a frame of two fields)
  uint32_t lacks_tables[2];  // per image: 1 when no DHT comes before its scan
  uint32_t tables_at[2];     // per image: its first start of scan, where a DHT goes
  uint32_t polarity;         // the 'AVI1' segment's field polarity byte, 0 without one
};
// False when the bytes do not begin with a start of image or a segment
// runs past them before a scan.
bool scan_jpeg_frame(const uint8_t* data, uint32_t size, JpegFrameLayout* out);

}  // namespace vantorel
