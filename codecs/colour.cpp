#include "codecs/colour.h"

#include <cmath>

#include "io/byte_io.h"

namespace vantorel {

namespace {

// `v` in units of `unit`, rounded and clamped to [0, most].
uint32_t in_units(double v, double per_unit, uint32_t most) {
  if (!(v > 0)) return 0;  // also NaN
  const double scaled = std::round(v * per_unit);
  return scaled >= most ? most : static_cast<uint32_t>(scaled);
}

}  // namespace

ErrorCode colr_write(BoxFile* file, const ColourRecord* c, ColourForm form) {
  if (file == nullptr || c == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_bytes(file, form == kColourNclc ? "nclc" : "nclx", 4));
  VT_TRY(write_u16be(file, c->colour_primaries));
  VT_TRY(write_u16be(file, c->transfer_characteristics));
  VT_TRY(write_u16be(file, c->matrix_coefficients));
  if (form == kColourNclc) return ErrorCode::Ok;
  return write_u8(file, static_cast<uint8_t>(c->full_range_flag != 0 ? 0x80 : 0));
}

uint64_t colr_size(const ColourRecord*, ColourForm form) { return form == kColourNclc ? 10 : 11; }

void mdcv_from_floats(const MasteringDisplayFloats* in, MasteringDisplayRecord* out) {
  constexpr double kChroma = 50000;  // 0.00002 units
  constexpr uint32_t kChromaMost = 50000;
  const double xs[3] = {in->green_x, in->blue_x, in->red_x};
  const double ys[3] = {in->green_y, in->blue_y, in->red_y};
  for (int i = 0; i < 3; ++i) {
    out->display_primaries_x[i] = static_cast<uint16_t>(in_units(xs[i], kChroma, kChromaMost));
    out->display_primaries_y[i] = static_cast<uint16_t>(in_units(ys[i], kChroma, kChromaMost));
  }
  out->white_point_x = static_cast<uint16_t>(in_units(in->white_x, kChroma, kChromaMost));
  out->white_point_y = static_cast<uint16_t>(in_units(in->white_y, kChroma, kChromaMost));
  out->max_display_mastering_luminance = in_units(in->max_luminance, 10000, UINT32_MAX);
  out->min_display_mastering_luminance = in_units(in->min_luminance, 10000, UINT32_MAX);
}

bool mdcv_parse(const uint8_t* p, uint32_t size, MasteringDisplayRecord* out) {
  if (p == nullptr || out == nullptr || size < kMdcvPayloadSize) return false;
  for (int i = 0; i < 3; ++i) {
    out->display_primaries_x[i] = load_u16be(p + 4 * i);
    out->display_primaries_y[i] = load_u16be(p + 4 * i + 2);
  }
  out->white_point_x = load_u16be(p + 12);
  out->white_point_y = load_u16be(p + 14);
  out->max_display_mastering_luminance = load_u32be(p + 16);
  out->min_display_mastering_luminance = load_u32be(p + 20);
  return true;
}

ErrorCode mdcv_write(BoxFile* file, const MasteringDisplayRecord* m) {
  if (file == nullptr || m == nullptr) return ErrorCode::BadArgument;
  for (int i = 0; i < 3; ++i) {
    VT_TRY(write_u16be(file, m->display_primaries_x[i]));
    VT_TRY(write_u16be(file, m->display_primaries_y[i]));
  }
  VT_TRY(write_u16be(file, m->white_point_x));
  VT_TRY(write_u16be(file, m->white_point_y));
  VT_TRY(write_u32be(file, m->max_display_mastering_luminance));
  return write_u32be(file, m->min_display_mastering_luminance);
}

ErrorCode clli_write(BoxFile* file, const ContentLightLevelRecord* c) {
  if (file == nullptr || c == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u16be(file, c->max_content_light_level));
  return write_u16be(file, c->max_pic_average_light_level);
}

}  // namespace vantorel
