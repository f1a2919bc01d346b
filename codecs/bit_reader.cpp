#include "codecs/bit_reader.h"

namespace vantorel {

void bits_init(BitReader* reader, const uint8_t* data, uint32_t length, bool remove_emulation) {
  if (reader == nullptr) return;
  reader->cursor = data;
  reader->end = data != nullptr ? data + length : nullptr;
  reader->bits_left = 0;
  reader->current = 0;
  reader->zero_count = 0;
  reader->remove_emulation = remove_emulation ? 1 : 0;
}

namespace {

// Loads the next byte into `current`; false at the end of the buffer.
bool load_byte(BitReader* r) {
  if (r->cursor == nullptr || r->cursor >= r->end) return false;
  uint8_t b = *r->cursor++;
  if (r->remove_emulation && b == 0x03 && r->zero_count >= 2) {
    r->zero_count = 0;
    if (r->cursor >= r->end) return false;
    b = *r->cursor++;
  }
  r->zero_count = b == 0 ? r->zero_count + 1 : 0;
  r->current = b;
  r->bits_left = 8;
  return true;
}

}  // namespace

ErrorCode bits_read(BitReader* reader, uint32_t n, uint32_t* out) {
  if (reader == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = 0;
  if (n == 0 || n > 32) return ErrorCode::BadArgument;
  if (n > reader->bits_left) {
    uint64_t whole = reader->cursor != nullptr && reader->cursor < reader->end
                         ? static_cast<uint64_t>(reader->end - reader->cursor)
                         : 0;
    if (whole * 8 < n - reader->bits_left) return ErrorCode::NoMore;
  }
  // Dropped emulation bytes can still make the buffer end early: the state
  // is restored so a failed read consumes nothing.
  const BitReader saved = *reader;
  uint64_t value = 0;
  while (n > 0) {
    if (reader->bits_left == 0 && !load_byte(reader)) {
      *reader = saved;
      return ErrorCode::NoMore;
    }
    uint32_t take = n < reader->bits_left ? n : reader->bits_left;
    value = (value << take) | (reader->current >> (8 - take));
    reader->current = static_cast<uint8_t>(reader->current << take);
    reader->bits_left -= take;
    n -= take;
  }
  *out = static_cast<uint32_t>(value);
  return ErrorCode::Ok;
}

ErrorCode bits_read_ue(BitReader* reader, uint32_t* out) {
  if (reader == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = 0;
  const BitReader saved = *reader;
  uint32_t count = 0;  // bits read up to and including the first 1
  uint32_t bit = 0;
  do {
    ErrorCode e = bits_read(reader, 1, &bit);
    if (e != ErrorCode::Ok) {
      *reader = saved;
      return e;
    }
    ++count;
    if (count > 32 && bit == 0) {
      *reader = saved;
      return ErrorCode::Malformed;  // no 32-bit value has a longer code
    }
  } while (bit == 0);
  uint32_t suffix = 0;
  if (count > 1) {
    ErrorCode e = bits_read(reader, count - 1, &suffix);
    if (e != ErrorCode::Ok) {
      *reader = saved;
      return e;
    }
  }
  uint64_t value = uint64_t{suffix} + (uint64_t{1} << (count - 1)) - 1;
  if (value > UINT32_MAX) {
    *reader = saved;
    return ErrorCode::Malformed;
  }
  *out = static_cast<uint32_t>(value);
  return ErrorCode::Ok;
}

ErrorCode bits_read_se(BitReader* reader, int32_t* out) {
  if (reader == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = 0;
  uint32_t k = 0;
  VT_TRY(bits_read_ue(reader, &k));
  int64_t value = (k & 1) != 0 ? (int64_t{k} + 1) / 2 : -(int64_t{k} / 2);
  *out = static_cast<int32_t>(value);
  return ErrorCode::Ok;
}

}  // namespace vantorel
