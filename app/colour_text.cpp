#include "app/colour_text.h"

#include "app/json_writer.h"
#include "app/platform.h"

namespace vantorel::app {

namespace {

struct CodeName {
  uint32_t code;
  const char* name;
};

template <size_t N>
const char* name_of(const CodeName (&table)[N], uint32_t code) {
  for (const CodeName& row : table)
    if (row.code == code) return row.name;
  return nullptr;
}

constexpr CodeName kPrimaries[] = {
    {1, "bt709"},      {2, "unknown"},    {4, "bt470m"},   {5, "bt470bg"},  {6, "smpte170m"}, {7, "smpte240m"},
    {8, "film"},       {9, "bt2020"},     {10, "smpte428"}, {11, "smpte431"}, {12, "smpte432"}, {22, "ebu3213"},
};
constexpr CodeName kTransfers[] = {
    {1, "bt709"},         {2, "unknown"},       {4, "gamma22"},      {5, "gamma28"},       {6, "smpte170m"},
    {7, "smpte240m"},     {8, "linear"},        {9, "log100"},       {10, "log316"},       {11, "iec61966-2-4"},
    {12, "bt1361e"},      {13, "iec61966-2-1"}, {14, "bt2020-10"},   {15, "bt2020-12"},    {16, "smpte2084"},
    {17, "smpte428"},     {18, "arib-std-b67"},
};
constexpr CodeName kMatrices[] = {
    {0, "gbr"},       {1, "bt709"},     {2, "unknown"},  {4, "fcc"},      {5, "bt470bg"},
    {6, "smpte170m"}, {7, "smpte240m"}, {8, "ycgco"},    {9, "bt2020nc"}, {10, "bt2020c"},
    {11, "smpte2085"}, {12, "chroma-derived-nc"}, {13, "chroma-derived-c"}, {14, "ictcp"},
};

void print_named(std::FILE* out, const char* name, uint32_t code) {
  if (name != nullptr) {
    console_puts(name, out);
  } else {
    console_printf(out, "%u", code);
  }
}

// A chromaticity coordinate in 0.00002 units, as a decimal.
void print_coordinate(std::FILE* out, uint16_t value) { console_printf(out, "%.4f", value * 0.00002); }

void json_named(JsonWriter* w, const char* key, const char* name, uint32_t code) {
  if (name != nullptr) {
    json_text(w, key, name);
  } else {
    json_u64(w, key, code);
  }
}

// A value over its fixed denominator, as a fraction.
void json_fraction(JsonWriter* w, const char* key, uint32_t value, uint32_t denominator) {
  char text[32];
  std::snprintf(text, sizeof text, "%u/%u", value, denominator);
  json_text(w, key, text);
}

}  // namespace

const char* colour_primaries_name(uint32_t code) { return name_of(kPrimaries, code); }
const char* colour_transfer_name(uint32_t code) { return name_of(kTransfers, code); }
const char* colour_matrix_name(uint32_t code) { return name_of(kMatrices, code); }

void print_colour_text(std::FILE* out, const TrackDetails& t) {
  const ColourFacts& c = t.colour;
  if (c.colour_type == "nclx" || c.colour_type == "nclc") {
    console_puts(", colour primaries ", out);
    print_named(out, colour_primaries_name(c.primaries), c.primaries);
    console_puts(", transfer ", out);
    print_named(out, colour_transfer_name(c.transfer), c.transfer);
    console_puts(", matrix ", out);
    print_named(out, colour_matrix_name(c.matrix), c.matrix);
    if (c.range_known) console_puts(c.full_range ? ", full range" : ", limited range", out);
  } else if (!c.colour_type.is_zero()) {
    console_printf(out, ", colour ICC profile of %u byte%s", c.profile_size, c.profile_size == 1 ? "" : "s");
  }
  const MasteringDisplayFacts& m = t.mastering_display;
  if (m.present) {
    // Stored green, blue, red; told red, green, blue.
    static constexpr int kOrder[] = {2, 0, 1};
    static constexpr char kNames[] = {'R', 'G', 'B'};
    console_puts(", mastering display", out);
    for (int i = 0; i < 3; ++i) {
      console_printf(out, " %c(", kNames[i]);
      print_coordinate(out, m.primary_x[kOrder[i]]);
      console_putc(',', out);
      print_coordinate(out, m.primary_y[kOrder[i]]);
      console_putc(')', out);
    }
    console_puts(" white point (", out);
    print_coordinate(out, m.white_x);
    console_putc(',', out);
    print_coordinate(out, m.white_y);
    console_printf(out, "), luminance %.4f to %.4f cd/m2", m.min_luminance * 0.0001, m.max_luminance * 0.0001);
  }
  const LightLevelFacts& l = t.light_level;
  if (l.present)
    console_printf(out, ", content light level %u cd/m2 maximum, %u cd/m2 frame average", l.max_content,
                   l.max_frame_average);
  const DolbyVisionFacts& v = t.dolby_vision;
  if (!v.box.is_zero()) {
    console_printf(out, ", Dolby Vision %u.%u profile %u level %u", v.version_major, v.version_minor, v.profile,
                   v.level);
    if (v.rpu_present) console_puts(", RPU", out);
    if (v.el_present) console_puts(", enhancement layer", out);
    if (v.bl_present) console_printf(out, ", base layer compatible with %u", v.compatibility_id);
  }
}

}  // namespace vantorel::app

namespace vantorel::app {

void print_colour_json(JsonWriter* w, const TrackDetails& t) {
  const ColourFacts& c = t.colour;
  if (c.colour_type == "nclx" || c.colour_type == "nclc") {
    json_named(w, "color_primaries", colour_primaries_name(c.primaries), c.primaries);
    json_named(w, "color_transfer", colour_transfer_name(c.transfer), c.transfer);
    json_named(w, "color_space", colour_matrix_name(c.matrix), c.matrix);
    if (c.range_known) json_text(w, "color_range", c.full_range ? "pc" : "tv");
  } else if (!c.colour_type.is_zero()) {
    json_u64(w, "color_profile_bytes", c.profile_size);
  }
  const MasteringDisplayFacts& m = t.mastering_display;
  if (m.present) {
    json_key(w, "mastering_display");
    json_open(w, '{');
    static constexpr const char* kKeys[3][2] = {{"green_x", "green_y"}, {"blue_x", "blue_y"}, {"red_x", "red_y"}};
    // Told in the order ffprobe tells them: red, green, blue.
    for (int i : {2, 0, 1}) {
      json_fraction(w, kKeys[i][0], m.primary_x[i], 50000);
      json_fraction(w, kKeys[i][1], m.primary_y[i], 50000);
    }
    json_fraction(w, "white_point_x", m.white_x, 50000);
    json_fraction(w, "white_point_y", m.white_y, 50000);
    json_fraction(w, "min_luminance", m.min_luminance, 10000);
    json_fraction(w, "max_luminance", m.max_luminance, 10000);
    json_close(w, '}');
  }
  const LightLevelFacts& l = t.light_level;
  if (l.present) {
    json_key(w, "content_light_level");
    json_open(w, '{');
    json_u64(w, "max_content", l.max_content);
    json_u64(w, "max_average", l.max_frame_average);
    json_close(w, '}');
  }
  const DolbyVisionFacts& v = t.dolby_vision;
  if (!v.box.is_zero()) {
    json_key(w, "dolby_vision");
    json_open(w, '{');
    json_code(w, "box", v.box);
    json_u64(w, "dv_version_major", v.version_major);
    json_u64(w, "dv_version_minor", v.version_minor);
    json_u64(w, "dv_profile", v.profile);
    json_u64(w, "dv_level", v.level);
    json_u64(w, "rpu_present_flag", v.rpu_present);
    json_u64(w, "el_present_flag", v.el_present);
    json_u64(w, "bl_present_flag", v.bl_present);
    json_u64(w, "dv_bl_signal_compatibility_id", v.compatibility_id);
    json_close(w, '}');
  }
}

}  // namespace vantorel::app
