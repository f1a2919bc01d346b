// MPEG-4 visual headers as the 'mp4v' builder reads and trims them, and the
// pixel aspect written into a visual entry's resolutions.
#include <cstring>

#include "mediafile/track_builders.h"
#include "sampletables/bit_reader.h"
#include "sampletables/stsd.h"

namespace vantorel {

namespace {

constexpr uint8_t kSequenceStart = 0xB0;
constexpr uint8_t kUserDataStart = 0xB2;

bool start_code_at(const uint8_t* data, uint32_t size, uint32_t at) {
  return size >= 4 && at <= size - 4 && data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1;
}

// Position of the next start code at or after `from`; `size` when none.
uint32_t next_start_code(const uint8_t* data, uint32_t size, uint32_t from) {
  for (uint32_t at = from; size >= 4 && at <= size - 4; ++at)
    if (start_code_at(data, size, at)) return at;
  return size;
}

bool is_layer_start(uint8_t code) { return code >= 0x20 && code <= 0x2F; }

// The fields of a video object layer header up to its aspect ratio.
ErrorCode parse_layer(const uint8_t* bits, uint32_t length, VisualHeaderInfo* out) {
  BitReader r;
  bits_init(&r, bits, length, false);
  uint32_t v = 0;
  VT_TRY(bits_read(&r, 1, &v));  // random_accessible_vol
  VT_TRY(bits_read(&r, 8, &v));
  out->video_object_type = static_cast<uint8_t>(v);
  VT_TRY(bits_read(&r, 1, &v));              // is_object_layer_identifier
  if (v != 0) VT_TRY(bits_read(&r, 7, &v));  // verid, priority
  uint32_t info = 0;
  VT_TRY(bits_read(&r, 4, &info));
  static constexpr uint32_t kTable[6][2] = {{1, 1}, {1, 1}, {12, 11}, {10, 11}, {16, 11}, {40, 33}};
  out->aspect_width = 1;
  out->aspect_height = 1;
  if (info <= 5) {
    out->aspect_width = kTable[info][0];
    out->aspect_height = kTable[info][1];
  } else if (info == 15) {
    uint32_t w = 0, h = 0;
    VT_TRY(bits_read(&r, 8, &w));
    VT_TRY(bits_read(&r, 8, &h));
    if (w != 0 && h != 0) {
      out->aspect_width = w;
      out->aspect_height = h;
    }
  }
  out->found_layer = 1;
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode mpeg4_scan_headers(const uint8_t* data, uint32_t size, VisualHeaderInfo* out) {
  if (out == nullptr || (data == nullptr && size > 0)) return ErrorCode::BadArgument;
  std::memset(out, 0, sizeof *out);
  out->aspect_width = 1;
  out->aspect_height = 1;
  for (uint32_t at = next_start_code(data, size, 0); at < size; at = next_start_code(data, size, at + 3)) {
    uint8_t code = data[at + 3];
    uint32_t body = at + 4;
    if (is_layer_start(code)) {
      VT_TRY(parse_layer(data + body, size - body, out));
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

void apply_pixel_aspect(VisualSampleEntry* entry, uint32_t w, uint32_t h) {
  if (entry == nullptr || w == 0 || h == 0) return;
  // 64-bit products: a 16-bit aspect times 72 dpi in 16.16 does not fit 32 bits.
  if (h < w) {
    uint64_t v = uint64_t{w} * entry->horizresolution / h;
    entry->vertresolution = v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
  } else {
    uint64_t v = uint64_t{entry->vertresolution} * h / w;
    entry->horizresolution = v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
  }
}

}  // namespace vantorel
