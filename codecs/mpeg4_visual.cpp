#include "codecs/mpeg4_visual.h"

#include <cstring>
#include <initializer_list>

#include "codecs/bit_reader.h"

namespace vantorel {

namespace {

constexpr uint8_t kSequenceStart = 0xB0;
constexpr uint8_t kUserDataStart = 0xB2;
constexpr uint8_t kGroupStart = 0xB3;
constexpr uint8_t kVopStart = 0xB6;

bool is_start_code(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1; }
bool is_layer_start(uint8_t code) { return (code & 0xF0) == 0x20; }

// Position of the next start code with its code byte at or after `from`;
// `size` when none.
uint32_t next_start_code(const uint8_t* data, uint32_t size, uint32_t from) {
  for (uint32_t at = from; size >= 4 && at <= size - 4; ++at)
    if (is_start_code(data + at)) return at;
  return size;
}

// Pixel aspect ratios of aspect_ratio_info 1 to 5; 0 (forbidden) and the
// reserved values read as square.
constexpr uint32_t kAspect[6][2] = {{1, 1}, {1, 1}, {12, 11}, {10, 11}, {16, 11}, {40, 33}};

// The fields after the aspect ratio, up to the time increment resolution.
bool read_time_increment_bits(BitReader* r, uint32_t verid, Mpeg4VolInfo* out) {
  uint32_t v = 0;
  auto read = [&](uint32_t n) -> bool { return bits_read(r, n, &v) == ErrorCode::Ok; };
  if (!read(1)) return false;  // vol_control_parameters
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

}  // namespace

ErrorCode mpeg4_parse_vol_body(const uint8_t* body, uint32_t size, Mpeg4VolInfo* out) {
  if (out == nullptr || (body == nullptr && size > 0)) return ErrorCode::BadArgument;
  *out = Mpeg4VolInfo{};
  out->aspect_width = 1;
  out->aspect_height = 1;
  BitReader r;
  bits_init(&r, body, size, false);
  uint32_t v = 0;
  VT_TRY(bits_read(&r, 1, &v));  // random_accessible_vol
  VT_TRY(bits_read(&r, 8, &out->video_object_type));
  uint32_t identifier = 0;
  uint32_t verid = 1;
  VT_TRY(bits_read(&r, 1, &identifier));  // is_object_layer_identifier
  if (identifier != 0) {
    VT_TRY(bits_read(&r, 4, &verid));
    VT_TRY(bits_read(&r, 3, &v));  // priority
  }
  uint32_t info = 0;
  VT_TRY(bits_read(&r, 4, &info));
  if (info <= 5) {
    out->aspect_width = kAspect[info][0];
    out->aspect_height = kAspect[info][1];
  } else if (info == 15) {
    uint32_t w = 0, h = 0;
    VT_TRY(bits_read(&r, 8, &w));
    VT_TRY(bits_read(&r, 8, &h));
    if (w != 0 && h != 0) {
      out->aspect_width = w;
      out->aspect_height = h;
    }
  }
  read_time_increment_bits(&r, verid, out);
  return ErrorCode::Ok;
}

bool parse_mpeg4_vol(const uint8_t* vol, uint32_t size, Mpeg4VolInfo* out) {
  *out = Mpeg4VolInfo{};
  if (vol == nullptr || size < 4 || !is_start_code(vol) || !is_layer_start(vol[3])) return false;
  return mpeg4_parse_vol_body(vol + 4, size - 4, out) == ErrorCode::Ok && out->time_increment_bits != 0;
}

ErrorCode mpeg4_scan_headers(const uint8_t* data, uint32_t size, VisualHeaderInfo* out) {
  if (out == nullptr || (data == nullptr && size > 0)) return ErrorCode::BadArgument;
  std::memset(out, 0, sizeof *out);
  out->aspect_width = 1;
  out->aspect_height = 1;
  for (uint32_t at = next_start_code(data, size, 0); at < size; at = next_start_code(data, size, at + 3)) {
    uint8_t code = data[at + 3];
    uint32_t body = at + 4;
    if (is_layer_start(code)) {
      Mpeg4VolInfo vol;
      VT_TRY(mpeg4_parse_vol_body(data + body, size - body, &vol));
      out->video_object_type = static_cast<uint8_t>(vol.video_object_type);
      out->aspect_width = vol.aspect_width;
      out->aspect_height = vol.aspect_height;
      out->found_layer = 1;
    } else if (code == kSequenceStart && body < size) {
      out->profile_level = data[body];
      out->found_sequence = 1;
    }
    if (out->found_layer && out->found_sequence) break;
  }
  return ErrorCode::Ok;
}

uint32_t mpeg4_strip_user_data(uint8_t* data, uint32_t size) {
  if (data == nullptr) return 0;
  uint32_t at = next_start_code(data, size, 0);
  while (at < size) {
    if (data[at + 3] != kUserDataStart) {
      at = next_start_code(data, size, at + 3);
      continue;
    }
    uint32_t next = next_start_code(data, size, at + 4);
    if (next >= size) return at;  // the data ends in user data: cut it there
    std::memmove(data + at, data + next, size - next);
    size -= next - at;
    // The start code moved to `at` is looked at too, so user data right
    // after user data goes as well.
  }
  return size;
}

uint8_t mpeg4_lower_level(uint8_t* data, uint32_t size) {
  if (data == nullptr) return 0;
  for (uint32_t at = next_start_code(data, size, 0); at < size; at = next_start_code(data, size, at + 3)) {
    if (data[at + 3] != kSequenceStart) continue;
    if (at + 4 >= size) return 0;
    uint8_t& level = data[at + 4];
    if (level == 2 || level == 3 || level == 4 || level == 5 || level == 8) level = 1;
    return level;
  }
  return 0;
}

bool mpeg4_starts_stream(const uint8_t b[4]) {
  return is_start_code(b) && (b[3] == kSequenceStart || b[3] == kVopStart || b[3] <= 0x2F);
}

void scan_mpeg4_vops(const uint8_t* data, uint32_t size, const Mpeg4VolInfo* vol, Mpeg4Vop* out, uint32_t capacity,
                     uint32_t* count) {
  *count = 0;
  for (uint32_t i = 0; i + 4 < size; ++i) {
    if (!is_start_code(data + i) || data[i + 3] != kVopStart) continue;
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
    if (is_start_code(data + i) && (data[i + 3] == kVopStart || data[i + 3] == kGroupStart)) return i;
  return size;
}

uint32_t find_mpeg4_vol(const uint8_t* data, uint32_t size) {
  for (uint32_t i = 0; i + 3 < size; ++i)
    if (is_start_code(data + i) && is_layer_start(data[i + 3])) return i;
  return size;
}

}  // namespace vantorel
