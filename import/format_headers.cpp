#include "import/format_headers.h"

#include "io/byte_io.h"

namespace vantorel {

void parse_bitmap(const uint8_t* b, BitmapInfoHeader* h) {
  h->size = load_u32le(b);
  h->width = static_cast<int32_t>(load_u32le(b + 4));
  h->height = static_cast<int32_t>(load_u32le(b + 8));
  h->planes = load_u16le(b + 12);
  h->bit_count = load_u16le(b + 14);
  h->compression = load_fourcc(b + 16);
  h->image_size = load_u32le(b + 20);
  h->x_pels_per_meter = static_cast<int32_t>(load_u32le(b + 24));
  h->y_pels_per_meter = static_cast<int32_t>(load_u32le(b + 28));
  h->colours_used = load_u32le(b + 32);
  h->colours_important = load_u32le(b + 36);
}

void parse_wave(const uint8_t* b, WaveFormat* w) {
  w->format_tag = load_u16le(b);
  w->channels = load_u16le(b + 2);
  w->samples_per_sec = load_u32le(b + 4);
  w->avg_bytes_per_sec = load_u32le(b + 8);
  w->block_align = load_u16le(b + 12);
  w->bits_per_sample = load_u16le(b + 14);
  w->extra_size = load_u16le(b + 16);
}

FourCC format_tag_fourcc(uint16_t format_tag) {
  FourCC f{};
  f.c[2] = static_cast<char>(format_tag >> 8);
  f.c[3] = static_cast<char>(format_tag & 0xFF);
  return f;
}

}  // namespace vantorel
