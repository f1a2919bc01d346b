#pragma once
// 'dac3': the AC-3 specific box (ETSI TS 102 366, annex F).
#include <cstdint>

#include "boxes/owned_block.h"

namespace vantorel {

struct Dac3Record {
  uint8_t fscod;
  uint8_t bsid;
  uint8_t bsmod;
  uint8_t acmod;
  uint8_t lfeon;
  uint8_t bit_rate_code;
};

// The six fields packed into one word, least significant first: fscod in
// bits 0-1, bsid 2-6 (mask 0x7C), bsmod 7-9, acmod 10-12, lfeon 13,
// bit_rate_code 14-18. Builders pass the configuration in this form.
uint32_t dac3_packed(const Dac3Record* dac3);
void dac3_set_packed(Dac3Record* dac3, uint32_t packed);
// The fields of an AC-3 sync frame's header, packed as above. False when the
// bytes are not an AC-3 sync frame.
bool ac3_word_from_frame(const uint8_t* frame, uint32_t size, uint32_t* packed);

// `short_form`: the 2-byte box of "sac3" entries (a byte 1, then bsid).
ErrorCode dac3_read(BoxFile* file, const BoxHeader* header, Dac3Record* dac3, bool short_form);
ErrorCode dac3_write(BoxFile* file, const Dac3Record* dac3, bool short_form);
uint64_t dac3_size(BoxFile* file, const Dac3Record* dac3, bool short_form);

}  // namespace vantorel
