#pragma once
// AC-3 (ETSI TS 102 366): the sync frame's header, and the 'dac3' box built
// from it, read, written and sized.
#include <cstdint>

#include "boxes/owned_block.h"

namespace vantorel {

// syncinfo(): needs 5 bytes from the sync word.
struct Ac3SyncInfo {
  uint32_t fscod;
  uint32_t frmsizecod;
  uint32_t sample_rate;  // Hz
  uint32_t length;       // bytes of the whole sync frame
};
// False without the sync word 0x0B77, with fewer than 5 bytes, or with a
// reserved sample rate or frame size code.
bool ac3_parse_syncinfo(const uint8_t* frame, uint32_t size, Ac3SyncInfo* out);

// The start of bsi(): needs 8 bytes from the sync word.
struct Ac3Bsi {
  uint32_t bsid;
  uint32_t bsmod;
  uint32_t acmod;
  uint32_t lfeon;
};
bool ac3_parse_bsi(const uint8_t* frame, uint32_t size, Ac3Bsi* out);

// Full-bandwidth channels of an audio coding mode, plus the LFE channel.
uint32_t ac3_channel_count(uint32_t acmod, uint32_t lfeon);

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

// The configuration of the sync frame at `frame`: false when the bytes are
// not a whole AC-3 sync frame header (syncinfo and the start of bsi).
bool ac3_config_from_frame(const uint8_t* frame, uint32_t size, Dac3Record* out);
// The same, packed as above.
bool ac3_word_from_frame(const uint8_t* frame, uint32_t size, uint32_t* packed);

// The payload of a 'dac3' box in memory: 3 bytes, or 2 in the short form of
// "sac3" entries (a byte 1, then bsid; only bsid is set). False when shorter.
bool dac3_parse(const uint8_t* payload, uint32_t size, bool short_form, Dac3Record* out);
// The channels a 'dac3' payload describes; 0 when it is too short.
uint32_t dac3_payload_channels(const uint8_t* payload, uint32_t size);

// `short_form`: the 2-byte box of "sac3" entries.
ErrorCode dac3_read(BoxFile* file, const BoxHeader* header, Dac3Record* dac3, bool short_form);
ErrorCode dac3_write(BoxFile* file, const Dac3Record* dac3, bool short_form);
uint64_t dac3_size(BoxFile* file, const Dac3Record* dac3, bool short_form);

}  // namespace vantorel
