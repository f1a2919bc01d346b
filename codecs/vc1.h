#pragma once
// VC-1 (SMPTE 421M): 'dvc1', the VC-1 decoder configuration (annex J),
// read, written and sized.
#include <cstdint>

#include "boxes/owned_block.h"

namespace vantorel {

enum Vc1Profile : uint8_t { kVc1Simple = 0, kVc1Main = 4, kVc1Advanced = 12 };

struct DecoderConfigVc1 {
  uint8_t profile;  // first byte, high nibble
  uint8_t level;    // first byte, bits 3-1
  // Simple and main profiles.
  uint32_t sequence_header;  // STRUCT_C; its reserved bits are fixed on writing
  uint8_t hrd_level;
  uint8_t cbr;
  uint32_t hrd_buffer;  // 24 bits
  uint32_t hrd_rate;
  // Advanced profile: the fields of the 16-bit word.
  uint8_t advanced_level;
  uint8_t advanced_cbr;
  uint8_t advanced_flags;  // bits 5-1 of the word: interlace, multiple sequence, multiple entry, slice, no B frames
  // Both.
  uint32_t frame_rate;
  OwnedBlock header_block;  // advanced profile: sequence and entry-point headers
};

void dvc1_release(DecoderConfigVc1* vc1);
ErrorCode dvc1_read(BoxFile* file, const BoxHeader* header, DecoderConfigVc1* vc1);
// Missing for an advanced-profile record without its header block.
ErrorCode dvc1_write(BoxFile* file, const DecoderConfigVc1* vc1);
uint64_t dvc1_size(BoxFile* file, const DecoderConfigVc1* vc1);

}  // namespace vantorel
