#include "codecs/mpeg12_video.h"

#include "codecs/bit_reader.h"

namespace vantorel {

namespace {

constexpr uint32_t kStartCodeBytes = 4;
constexpr uint32_t kSequenceExtensionId = 1;

bool start_code_at(const uint8_t* p, uint32_t size, uint32_t at, uint32_t code) {
  return at + kStartCodeBytes <= size && p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1 && p[at + 3] == code;
}

}  // namespace

uint32_t mpeg12_next_start_code(const uint8_t* p, uint32_t size, uint32_t from) {
  for (uint32_t i = from; i + 3 <= size; ++i) {
    if (p[i + 2] > 1) {
      i += 2;  // no start code can begin at i, i + 1 or i + 2
      continue;
    }
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return i;
  }
  return size;
}

ErrorCode mpeg12_parse_sequence(const uint8_t* p, uint32_t size, Mpeg12Sequence* out) {
  if (p == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = Mpeg12Sequence{};
  if (!start_code_at(p, size, 0, kMpeg12Sequence)) return size < kStartCodeBytes ? ErrorCode::NoMore : ErrorCode::BadArgument;
  BitReader r;
  bits_init(&r, p + kStartCodeBytes, size - kStartCodeBytes, false);
  uint32_t v = 0;
  VT_TRY(bits_read(&r, 12, &out->horizontal_size));
  VT_TRY(bits_read(&r, 12, &out->vertical_size));
  VT_TRY(bits_read(&r, 4, &out->aspect_ratio_information));
  VT_TRY(bits_read(&r, 4, &out->frame_rate_code));
  VT_TRY(bits_read(&r, 29, &v));  // bit_rate_value, marker_bit, vbv_buffer_size_value
  VT_TRY(bits_read(&r, 1, &v));   // constrained_parameters_flag
  // Quantiser matrices: 64 bytes each when loaded.
  uint32_t header = 12;
  VT_TRY(bits_read(&r, 1, &v));
  if (v != 0) {
    VT_TRY(bits_read(&r, 32, &v));
    VT_TRY(bits_read(&r, 32, &v));
    for (int i = 0; i < 14; ++i) VT_TRY(bits_read(&r, 32, &v));
    header += 64;
  }
  VT_TRY(bits_read(&r, 1, &v));
  if (v != 0) header += 64;
  if (out->horizontal_size == 0 || out->vertical_size == 0) return ErrorCode::Malformed;
  // A sequence extension right after the header makes the stream MPEG-2.
  const uint32_t next = mpeg12_next_start_code(p, size, header);
  if (!start_code_at(p, size, next, kMpeg12Extension) || next + 10 > size || (p[next + 4] >> 4) != kSequenceExtensionId)
    return ErrorCode::Ok;
  BitReader x;
  bits_init(&x, p + next + kStartCodeBytes, size - next - kStartCodeBytes, false);
  uint32_t high_h = 0, high_v = 0;
  VT_TRY(bits_read(&x, 4, &v));  // extension_start_code_identifier
  VT_TRY(bits_read(&x, 8, &out->profile_and_level_indication));
  VT_TRY(bits_read(&x, 1, &v));  // progressive_sequence
  VT_TRY(bits_read(&x, 2, &out->chroma_format));
  VT_TRY(bits_read(&x, 2, &high_h));
  VT_TRY(bits_read(&x, 2, &high_v));
  out->horizontal_size |= high_h << 12;
  out->vertical_size |= high_v << 12;
  out->mpeg2 = true;
  return ErrorCode::Ok;
}

ErrorCode mpeg12_parse_picture(const uint8_t* p, uint32_t size, Mpeg12Picture* out) {
  if (p == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = Mpeg12Picture{};
  if (!start_code_at(p, size, 0, kMpeg12Picture)) return size < kStartCodeBytes ? ErrorCode::NoMore : ErrorCode::BadArgument;
  BitReader r;
  bits_init(&r, p + kStartCodeBytes, size - kStartCodeBytes, false);
  VT_TRY(bits_read(&r, 10, &out->temporal_reference));
  VT_TRY(bits_read(&r, 3, &out->picture_coding_type));
  return out->picture_coding_type >= kMpeg12I && out->picture_coding_type <= 4 ? ErrorCode::Ok : ErrorCode::Malformed;
}

uint8_t mpeg12_object_type(const Mpeg12Sequence* s) {
  if (!s->mpeg2) return 0x6A;
  const uint32_t pl = s->profile_and_level_indication;
  // The escape bit marks the profiles outside the hierarchy: 4:2:2 at 0x82 and 0x85.
  if ((pl & 0x80) != 0) return (pl & 0x0F) == 0x02 || (pl & 0x0F) == 0x05 ? 0x65 : 0x61;
  switch ((pl >> 4) & 7) {
    case 5: return 0x60;  // Simple
    case 4: return 0x61;  // Main
    case 3: return 0x62;  // SNR scalable
    case 2: return 0x63;  // Spatially scalable
    case 1: return 0x64;  // High
    default: return 0x61;
  }
}

uint32_t mpeg12_headers_length(const uint8_t* p, uint32_t size) {
  if (p == nullptr || !start_code_at(p, size, 0, kMpeg12Sequence)) return 0;
  uint32_t at = mpeg12_next_start_code(p, size, kStartCodeBytes);
  while (at + kStartCodeBytes <= size && (p[at + 3] == kMpeg12Extension || p[at + 3] == kMpeg12UserData))
    at = mpeg12_next_start_code(p, size, at + kStartCodeBytes);
  return at < size ? at : size;
}

}  // namespace vantorel
