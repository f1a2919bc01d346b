#pragma once
// The framing H.264 and HEVC share: NAL units in an Annex B byte stream,
// each after a start code (00 00 01, often with a leading zero byte), and
// the messages of a supplemental enhancement information unit.
#include <cstdint>

#include "codecs/bit_reader.h"

namespace vantorel {

// Offset of the next 00 00 01 at or after `from`; `size` when there is none.
uint32_t annexb_next_start_code(const uint8_t* data, uint32_t size, uint32_t from);

// Where the first start code is: false when other bytes than one zero
// byte come before it (a buffer that is no Annex B stream). A buffer
// without any start code gives `size`.
bool annexb_first_start_code(const uint8_t* data, uint32_t size, uint32_t* at);

// The next NAL unit after the start code at `*code`: its bytes are
// [*begin, *end), without the zero bytes before the next start code, and
// `*code` moves to that start code. Units left empty by the trimming are
// stepped over. False when no unit is left.
bool annexb_next_unit(const uint8_t* data, uint32_t size, uint32_t* code, uint32_t* begin, uint32_t* end);

// The next message of an SEI unit's payload (the reader is past the NAL
// unit header): its payloadType and payloadSize. False when the bytes end.
bool sei_next_message(BitReader* reader, uint32_t* type, uint32_t* size);
// Steps over a message's payload.
bool sei_skip_payload(BitReader* reader, uint32_t size);

}  // namespace vantorel
