#include "codecs/flac.h"

#include <cstring>

namespace vantorel {

uint32_t flac_frame_samples(const uint8_t* f, uint32_t n) {
  if (f == nullptr || n < 5 || f[0] != 0xFF || (f[1] & 0xFE) != 0xF8) return 0;
  const uint32_t code = f[2] >> 4;
  if (code == 1) return 192;
  if (code >= 2 && code <= 5) return 576u << (code - 2);
  if (code >= 8) return 256u << (code - 8);
  if (code != 6 && code != 7) return 0;
  // The coded frame or sample number: a UTF-8-like run of 1 to 7 bytes.
  uint32_t at = 4;
  uint32_t extra = 0;
  for (uint8_t lead = f[at]; lead & 0x80; lead = static_cast<uint8_t>(lead << 1)) ++extra;
  at += extra == 0 ? 1 : extra;
  if (code == 6) return at < n ? f[at] + 1u : 0;
  return at + 1 < n ? load_u16be(f + at) + 1u : 0;
}

// "fLaC", then a metadata block header and the 34 bytes of STREAMINFO.
constexpr uint32_t kShortestHeader = 4 + 4 + 34;

ErrorCode dfla_from_stream_header(const uint8_t* p, uint32_t size, FlacConfigRecord* out) {
  if (p == nullptr || out == nullptr) return ErrorCode::BadArgument;
  if (size < kShortestHeader || std::memcmp(p, "fLaC", 4) != 0) return ErrorCode::Malformed;
  return block_assign(&out->metadata_blocks, p + 4, size - 4);
}

void dfla_release(FlacConfigRecord* dfla) {
  if (dfla != nullptr) block_release(&dfla->metadata_blocks);
}

ErrorCode dfla_write(BoxFile* file, const FlacConfigRecord* dfla) {
  if (file == nullptr || dfla == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u32be(file, 0));  // version 0, flags 0
  return block_write(file, &dfla->metadata_blocks);
}

uint64_t dfla_size(BoxFile*, const FlacConfigRecord* dfla) {
  return dfla != nullptr ? 4 + uint64_t{dfla->metadata_blocks.length} : 0;
}

uint32_t dfla_payload_channels(const uint8_t* p, uint32_t n) {
  // Full box header, a metadata block header of type 0, then STREAMINFO:
  // the channel count less one in bits 3-1 of its byte 12.
  if (p == nullptr || n < 4 + 4 + 13 || (p[4] & 0x7F) != 0) return 0;
  return ((p[8 + 12] >> 1) & 7) + 1u;
}

}  // namespace vantorel
