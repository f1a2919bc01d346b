#pragma once
// Colour description boxes of a visual sample entry: 'colr' (the colour
// primaries, transfer and matrix codes, with the range in an MP4), 'mdcv'
// (the mastering display) and 'clli' (content light levels).
#include <cstdint>

#include "boxes/box_file.h"

namespace vantorel {

struct ColourRecord {
  uint16_t colour_primaries;
  uint16_t transfer_characteristics;
  uint16_t matrix_coefficients;
  uint8_t full_range_flag;
};

// 'nclx' carries the full-range flag; QuickTime's 'nclc' has no room for it.
enum ColourForm : uint32_t { kColourNclx = 0, kColourNclc = 1 };

ErrorCode colr_write(BoxFile* file, const ColourRecord* colr, ColourForm form);
uint64_t colr_size(const ColourRecord* colr, ColourForm form);

// The mastering display as 'mdcv' stores it: chromaticities in 0.00002
// units, primaries in the order green, blue, red; luminance in 0.0001 cd/m2.
struct MasteringDisplayRecord {
  uint16_t display_primaries_x[3];  // green, blue, red
  uint16_t display_primaries_y[3];
  uint16_t white_point_x;
  uint16_t white_point_y;
  uint32_t max_display_mastering_luminance;
  uint32_t min_display_mastering_luminance;
};

// The display described as chromaticity coordinates (0 to 1) of red, green,
// blue and white, and luminance in cd/m2, rounded to the box's units; a value
// outside what the box holds is clamped.
struct MasteringDisplayFloats {
  double red_x, red_y, green_x, green_y, blue_x, blue_y, white_x, white_y;
  double max_luminance, min_luminance;
};
void mdcv_from_floats(const MasteringDisplayFloats* in, MasteringDisplayRecord* out);
// The 24 payload bytes; false when fewer are given.
bool mdcv_parse(const uint8_t* payload, uint32_t size, MasteringDisplayRecord* out);
ErrorCode mdcv_write(BoxFile* file, const MasteringDisplayRecord* mdcv);
constexpr uint64_t kMdcvPayloadSize = 24;

struct ContentLightLevelRecord {
  uint16_t max_content_light_level;
  uint16_t max_pic_average_light_level;
};
ErrorCode clli_write(BoxFile* file, const ContentLightLevelRecord* clli);
constexpr uint64_t kClliPayloadSize = 4;

}  // namespace vantorel
