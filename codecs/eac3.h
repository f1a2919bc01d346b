#pragma once
// E-AC-3 (ETSI TS 102 366, annex E): the sync frame's header, and the
// 'dec3' box built from it, read, written and sized.
#include <cstdint>

#include "boxes/owned_block.h"

namespace vantorel {

// syncinfo() and the start of bsi(): needs 6 bytes from the sync word.
struct Eac3Header {
  uint32_t strmtyp;      // 0 independent, 1 dependent, 2 converted from AC-3
  uint32_t substreamid;
  uint32_t length;       // bytes of the whole sync frame
  uint32_t fscod;
  uint32_t fscod2;       // when fscod is 3
  uint32_t numblkscod;   // 3 (six blocks) when fscod is 3
  uint32_t acmod;
  uint32_t lfeon;
  uint32_t bsid;
  uint32_t sample_rate;  // Hz; 0 for a reserved code
  uint32_t samples;      // per channel: 256 a block
};
// False without the sync word 0x0B77 or with fewer than 6 bytes.
bool eac3_parse_header(const uint8_t* frame, uint32_t size, Eac3Header* out);
// Samples per channel in the frame; 0 when the bytes are no header.
uint32_t eac3_frame_samples(const uint8_t* frame, uint32_t size);

constexpr uint32_t kMaxDec3Substreams = 8;

struct Dec3Substream {
  uint8_t fscod;
  uint8_t bsid;
  uint8_t reserved1;  // 1 bit after bsid
  uint8_t asvc;
  uint8_t bsmod;
  uint8_t acmod;
  uint8_t lfeon;
  uint8_t reserved2;  // 3 bits
  uint8_t num_dep_sub;
  uint16_t chan_loc;  // 9 bits when num_dep_sub is non-zero, else the 1 reserved bit
};

struct Dec3Record {
  uint16_t data_rate;   // 13 bits
  uint8_t num_ind_sub;  // substreams - 1
  Dec3Substream substreams[kMaxDec3Substreams];
  // Bytes after the last substream, such as the extension that signals
  // object-based audio; written back unchanged.
  OwnedBlock trailing;
};

// The configuration of a stream whose first sync frame is at `frame`: its
// one independent substream, and the data rate from the frame's bytes and
// duration at `sample_rate` (the stream's rate). False when the bytes are
// no E-AC-3 header. `out` is a zero or released record.
bool eac3_config_from_frame(const uint8_t* frame, uint32_t size, uint32_t sample_rate, Dec3Record* out);

// The substreams of a 'dec3' payload in memory (not its trailing bytes):
// `*used` is the bytes they take. Malformed, with `*why` set, when the
// payload ends inside them.
ErrorCode dec3_parse(const uint8_t* payload, uint32_t size, Dec3Record* out, uint32_t* used, const char** why);
// The channels of the first independent substream of a 'dec3' payload; 0
// when the payload does not parse.
uint32_t dec3_payload_channels(const uint8_t* payload, uint32_t size);

void dec3_release(Dec3Record* dec3);
ErrorCode dec3_read(BoxFile* file, const BoxHeader* header, Dec3Record* dec3);
ErrorCode dec3_write(BoxFile* file, const Dec3Record* dec3);
uint64_t dec3_size(BoxFile* file, const Dec3Record* dec3);
// A deep copy into a zero or released record.
ErrorCode dec3_copy(Dec3Record* to, const Dec3Record* from);

}  // namespace vantorel
