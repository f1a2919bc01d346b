#pragma once
// Reading bit fields most significant bit first, with the Exp-Golomb codes
// of ISO/IEC 14496-10 and the optional removal of emulation-prevention
// bytes (0x03 after two zero bytes). A read never goes past the buffer: it
// fails with ErrorCode::NoMore and leaves the reader where it was.
#include <cstdint>

#include "io/error.h"

namespace vantorel {

struct BitReader {
  const uint8_t* cursor;      // next byte to load
  const uint8_t* end;
  uint32_t bits_left;         // bits still unread in `current`
  uint8_t current;            // shifted so that the next bit is its top bit
  uint32_t zero_count;        // consecutive zero bytes loaded so far
  uint32_t remove_emulation;  // 1: drop 0x03 after two zero bytes
};

void bits_init(BitReader* reader, const uint8_t* data, uint32_t length, bool remove_emulation);
// n from 1 to 32 bits into *out.
ErrorCode bits_read(BitReader* reader, uint32_t n, uint32_t* out);
// ue(v); a code longer than 32 bits is malformed.
ErrorCode bits_read_ue(BitReader* reader, uint32_t* out);
// se(v).
ErrorCode bits_read_se(BitReader* reader, int32_t* out);

}  // namespace vantorel
