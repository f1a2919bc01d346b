#include "import/codec_frames.h"

#include <initializer_list>

#include "sampletables/bit_reader.h"

namespace vantorel {

namespace {

// kbit/s by [MPEG-1 ? 0 : 1][layer - 1][index]; index 0 is free format.
constexpr uint16_t kMpegBitRates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
constexpr uint32_t kMpegRates[3] = {44100, 48000, 32000};

// AC-3 frame sizes in 16-bit words by frmsizecod / 2, for 48, 44.1 and 32 kHz.
constexpr uint16_t kAc3Words[19][3] = {
    {64, 69, 96},     {80, 87, 120},    {96, 104, 144},   {112, 121, 168},  {128, 139, 192},
    {160, 174, 240},  {192, 208, 288},  {224, 243, 336},  {256, 278, 384},  {320, 348, 480},
    {384, 417, 576},  {448, 487, 672},  {512, 557, 768},  {640, 696, 960},  {768, 835, 1152},
    {896, 975, 1344}, {1024, 1114, 1536}, {1152, 1253, 1728}, {1280, 1393, 1920}};
constexpr uint32_t kAc3Rates[3] = {48000, 44100, 32000};

bool is_start_code(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1; }

}  // namespace

bool parse_mpeg_audio_header(const uint8_t* h, MpegAudioFrame* out) {
  *out = MpegAudioFrame{};
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
  const uint32_t version = (h[1] >> 3) & 3;  // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
  const uint32_t layer_bits = (h[1] >> 1) & 3;
  const uint32_t rate_index = (h[2] >> 2) & 3;
  const uint32_t bit_rate_index = h[2] >> 4;
  if (version == 1 || layer_bits == 0 || rate_index == 3 || bit_rate_index == 0 || bit_rate_index == 15) return false;
  const uint32_t layer = 4 - layer_bits;
  const bool mpeg1 = version == 3;
  uint32_t rate = kMpegRates[rate_index];
  if (version == 2) rate /= 2;
  if (version == 0) rate /= 4;
  const uint32_t bit_rate = kMpegBitRates[mpeg1 ? 0 : 1][layer - 1][bit_rate_index] * 1000u;
  const uint32_t padding = (h[2] >> 1) & 1;
  if (layer == 1) {
    out->length = (12 * bit_rate / rate + padding) * 4;
    out->samples = 384;
  } else if (layer == 2 || mpeg1) {
    out->length = 144 * bit_rate / rate + padding;
    out->samples = 1152;
  } else {
    out->length = 72 * bit_rate / rate + padding;
    out->samples = 576;
  }
  out->sample_rate = rate;
  out->mpeg1 = mpeg1 ? 1 : 0;
  out->layer = layer;
  return out->length >= 4;
}

bool parse_ac3_header(const uint8_t* h, Ac3Frame* out) {
  *out = Ac3Frame{};
  if (h[0] != 0x0B || h[1] != 0x77) return false;
  const uint32_t fscod = h[4] >> 6;
  const uint32_t frmsizecod = h[4] & 0x3F;
  if (fscod == 3 || frmsizecod >= 38) return false;
  uint32_t words = kAc3Words[frmsizecod / 2][fscod];
  if (fscod == 1) words += frmsizecod & 1;  // 44.1 kHz frames alternate
  out->length = words * 2;
  out->sample_rate = kAc3Rates[fscod];
  return true;
}

bool parse_adts_header(const uint8_t* h, AdtsFrame* out) {
  *out = AdtsFrame{};
  if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0) return false;
  const bool protection_absent = (h[1] & 1) != 0;
  out->object_type = (h[2] >> 6) + 1u;
  out->rate_index = (h[2] >> 2) & 0xF;
  out->channel_config = ((h[2] & 1u) << 2) | (h[3] >> 6);
  out->length = ((h[3] & 3u) << 11) | (uint32_t{h[4]} << 3) | (h[5] >> 5);
  out->raw_blocks = (h[6] & 3u) + 1;
  out->header_length = protection_absent ? 7 : 9;
  if (out->rate_index >= 13) return false;
  return out->length > out->header_length;
}

void adts_audio_config(const AdtsFrame& frame, uint8_t out[2]) {
  out[0] = static_cast<uint8_t>((frame.object_type << 3) | (frame.rate_index >> 1));
  out[1] = static_cast<uint8_t>(((frame.rate_index & 1) << 7) | (frame.channel_config << 3));
}

bool parse_mpeg4_vol(const uint8_t* vol, uint32_t size, Mpeg4VolInfo* out) {
  *out = Mpeg4VolInfo{};
  if (size < 4 || !is_start_code(vol) || (vol[3] & 0xF0) != 0x20) return false;
  BitReader r;
  bits_init(&r, vol + 4, size - 4, false);
  uint32_t v = 0, verid = 1;
  auto read = [&](uint32_t n) -> bool { return bits_read(&r, n, &v) == ErrorCode::Ok; };
  if (!read(1) || !read(8) || !read(1)) return false;  // random access, object type, identifier flag
  if (v != 0) {
    if (!read(4)) return false;
    verid = v;
    if (!read(3)) return false;
  }
  if (!read(4)) return false;  // aspect ratio
  if (v == 15 && (!read(8) || !read(8))) return false;
  if (!read(1)) return false;  // control parameters
  if (v != 0) {
    if (!read(2) || !read(1) || !read(1)) return false;  // chroma format, low delay, VBV parameters
    if (v != 0) {
      // Bit rate, buffer size and occupancy with their markers: 79 bits.
      for (uint32_t n : {15u, 1u, 15u, 1u, 15u, 1u, 3u, 11u, 1u, 15u, 1u})
        if (!read(n)) return false;
    }
  }
  if (!read(2)) return false;
  const uint32_t shape = v;
  if (shape == 3 && verid != 1 && !read(4)) return false;
  if (!read(1) || !read(16)) return false;  // marker, time increment resolution
  const uint32_t resolution = v;
  if (resolution == 0) return false;
  uint32_t bits = 1;
  while (bits < 16 && (1u << bits) < resolution) ++bits;
  out->time_increment_bits = bits;
  return true;
}

void scan_mpeg4_vops(const uint8_t* data, uint32_t size, const Mpeg4VolInfo* vol, Mpeg4Vop* out, uint32_t capacity,
                     uint32_t* count) {
  *count = 0;
  for (uint32_t i = 0; i + 4 < size; ++i) {
    if (!is_start_code(data + i) || data[i + 3] != 0xB6) continue;
    Mpeg4Vop vop{i, static_cast<uint32_t>(data[i + 4] >> 6), 1};
    if (vol != nullptr) {
      BitReader r;
      bits_init(&r, data + i + 4, size - i - 4, false);
      uint32_t v = 0;
      bool ok = bits_read(&r, 2, &v) == ErrorCode::Ok;
      // modulo_time_base: ones closed by a zero.
      for (uint32_t n = 0; ok; ++n) {
        ok = n < 64 && bits_read(&r, 1, &v) == ErrorCode::Ok;
        if (ok && v == 0) break;
      }
      ok = ok && bits_read(&r, 1, &v) == ErrorCode::Ok && bits_read(&r, vol->time_increment_bits, &v) == ErrorCode::Ok &&
           bits_read(&r, 1, &v) == ErrorCode::Ok && bits_read(&r, 1, &v) == ErrorCode::Ok;
      if (ok) vop.coded = v;
    }
    if (*count < capacity) out[*count] = vop;
    ++*count;
    i += 3;
  }
}

uint32_t mpeg4_headers_length(const uint8_t* data, uint32_t size) {
  for (uint32_t i = 0; i + 3 < size; ++i)
    if (is_start_code(data + i) && (data[i + 3] == 0xB6 || data[i + 3] == 0xB3)) return i;
  return size;
}

uint32_t find_mpeg4_vol(const uint8_t* data, uint32_t size) {
  for (uint32_t i = 0; i + 3 < size; ++i)
    if (is_start_code(data + i) && (data[i + 3] & 0xF0) == 0x20) return i;
  return size;
}

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
