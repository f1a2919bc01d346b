#include "import/format_headers.h"

#include <cstring>

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

void little_endian_pcm_entry(uint8_t out[kLittleEndianPcmEntrySize], const char format[4], uint32_t channels,
                             uint32_t rate, uint32_t bytes) {
  uint8_t* e = out;
  std::memset(e, 0, kLittleEndianPcmEntrySize);
  auto put32 = [e](uint32_t at, uint32_t v) {
    for (uint32_t i = 0; i < 4; ++i) e[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  auto put16 = [e](uint32_t at, uint32_t v) {
    e[at] = static_cast<uint8_t>(v >> 8);
    e[at + 1] = static_cast<uint8_t>(v);
  };
  put32(0, kLittleEndianPcmEntrySize);
  std::memcpy(e + 4, format, 4);
  put16(14, 1);  // data reference index
  put16(16, 1);  // version
  put16(24, channels);
  put16(26, 16);
  put16(28, 0xFFFE);  // compression id -2
  put32(32, rate <= 0xFFFF ? rate << 16 : 0);
  put32(36, 1);
  put32(40, bytes);
  put32(44, bytes * channels);
  put32(48, bytes);
  put32(52, 38);
  std::memcpy(e + 56, "wave", 4);
  put32(60, 12);
  std::memcpy(e + 64, "frma", 4);
  std::memcpy(e + 68, format, 4);
  put32(72, 10);
  std::memcpy(e + 76, "enda", 4);
  put16(80, 1);
  put32(82, 8);
}

void pcm_entry(uint8_t out[kPcmEntrySize], const char format[4], uint32_t channels, uint32_t rate, uint32_t bits) {
  std::memset(out, 0, kPcmEntrySize);
  store_u32be(out, kPcmEntrySize);
  std::memcpy(out + 4, format, 4);
  store_u16be(out + 14, 1);  // data reference index
  store_u16be(out + 24, static_cast<uint16_t>(channels));
  store_u16be(out + 26, static_cast<uint16_t>(bits));
  store_u32be(out + 32, rate <= 0xFFFF ? rate << 16 : 0);
}

void mlpa_entry(uint8_t out[kMlpaEntrySize], uint32_t channels, uint32_t rate, const DmlpRecord& dmlp) {
  pcm_entry(out, "mlpa", channels, 0, 16);
  store_u32be(out, kMlpaEntrySize);
  store_u32be(out + 32, rate);
  store_u32be(out + kPcmEntrySize, 8 + kDmlpPayloadSize);
  std::memcpy(out + kPcmEntrySize + 4, "dmlp", 4);
  dmlp_store(out + kPcmEntrySize + 8, dmlp);
}

void channel_layout_box(uint8_t out[kChannelLayoutBoxSize], uint32_t channel_mask) {
  struct Row {
    uint32_t mask;
    uint32_t tag;
  };
  // Only layouts whose channel order is the mask's.
  static const Row kLayouts[] = {
      {0x4, 0x00640001},    // mono: C
      {0x3, 0x00650002},    // stereo: L R
      {0x7, 0x00710003},    // L R C
      {0x33, 0x006C0004},   // quadraphonic: L R Ls Rs
      {0x60F, 0x00790006},  // 5.1: L R C LFE Ls Rs (side)
  };
  constexpr uint32_t kUseBitmap = 0x10000;
  uint32_t tag = kUseBitmap;
  for (const Row& r : kLayouts)
    if (r.mask == channel_mask) tag = r.tag;
  std::memset(out, 0, kChannelLayoutBoxSize);
  store_u32be(out, kChannelLayoutBoxSize);
  std::memcpy(out + 4, "chan", 4);
  // version and flags 0
  store_u32be(out + 12, tag);
  store_u32be(out + 16, tag == kUseBitmap ? channel_mask : 0);
  // no channel descriptions
}

}  // namespace vantorel
