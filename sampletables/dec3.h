#pragma once
// 'dec3': the E-AC-3 specific box (ETSI TS 102 366, annex F).
#include <cstdint>

#include "boxes/owned_block.h"

namespace vantorel {

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

void dec3_release(Dec3Record* dec3);
ErrorCode dec3_read(BoxFile* file, const BoxHeader* header, Dec3Record* dec3);
ErrorCode dec3_write(BoxFile* file, const Dec3Record* dec3);
uint64_t dec3_size(BoxFile* file, const Dec3Record* dec3);
// A deep copy into a zero or released record.
ErrorCode dec3_copy(Dec3Record* to, const Dec3Record* from);

}  // namespace vantorel
