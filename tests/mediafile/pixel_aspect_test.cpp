// The pixel aspect written as resolutions.
#include <gtest/gtest.h>

#include <string>

#include "mediafile/track_builders.h"
#include "sampletables/stsd.h"

namespace vantorel {
namespace {

TEST(VisualHeaders, PixelAspectStretchesOneResolution) {
  struct Case {
    uint32_t w, h;
    uint32_t horizontal, vertical;
  };
  constexpr uint32_t k72 = 0x00480000;
  const Case cases[] = {
      {1, 1, k72, k72},
      {12, 11, k72, static_cast<uint32_t>(uint64_t{k72} * 12 / 11)},
      {10, 11, static_cast<uint32_t>(uint64_t{k72} * 11 / 10), k72},
      {40, 33, k72, static_cast<uint32_t>(uint64_t{k72} * 40 / 33)},
      // A 16-bit ratio times 72 dpi needs more than 32 bits on the way.
      {4000, 3000, k72, 0x00600000},
      {0, 5, k72, k72},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + ":" + std::to_string(c.h));
    VisualSampleEntry e{};
    e.horizresolution = k72;
    e.vertresolution = k72;
    apply_pixel_aspect(&e, c.w, c.h);
    EXPECT_EQ(e.horizresolution, c.horizontal);
    EXPECT_EQ(e.vertresolution, c.vertical);
  }
}

}  // namespace
}  // namespace vantorel
