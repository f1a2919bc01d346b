#include "codecs/vp9.h"

#include <cstring>

#include "io/byte_io.h"

namespace vantorel {

void vpcc_init(VpcConfigRecord* vpcc) {
  if (vpcc == nullptr) return;
  std::memset(vpcc, 0, sizeof *vpcc);
  vpcc->bitDepth = 8;
  vpcc->chromaSubsampling = 1;
}

bool vp9_config_from_frame(const uint8_t* f, uint32_t n, VpcConfigRecord* out) {
  if (f == nullptr || out == nullptr || n < 2 || (f[0] >> 6) != 2) return false;  // frame_marker
  uint32_t profile = ((f[0] >> 5) & 1) | (((f[0] >> 4) & 1) << 1);
  uint32_t depth = 8, chroma = 1, full_range = 0;
  // Bits after the profile: a reserved bit for profile 3, then
  // show_existing_frame, frame_type, show_frame, error_resilient_mode.
  auto read_bit = [&](uint32_t* at) -> uint32_t {
    uint32_t byte = *at / 8;
    uint32_t v = byte < n ? (f[byte] >> (7 - *at % 8)) & 1 : 0;
    ++*at;
    return v;
  };
  uint32_t at = profile == 3 ? 5 : 4;
  if (read_bit(&at) == 0 && read_bit(&at) == 0) {  // a shown key frame follows
    read_bit(&at);
    read_bit(&at);
    at += 24;  // sync code
    if (profile >= 2) depth = read_bit(&at) ? 12 : 10;
    uint32_t space = 0;
    for (int i = 0; i < 3; ++i) space = (space << 1) | read_bit(&at);
    if (space != 7) {  // not sRGB
      full_range = read_bit(&at);
      if (profile == 1 || profile == 3) {
        uint32_t x = read_bit(&at), y = read_bit(&at);
        chroma = x && y ? 1 : (x ? 2 : 3);
      }
    } else {
      full_range = 1;
      chroma = 3;
    }
  }
  out->profile = static_cast<uint8_t>(profile);
  out->bitDepth = static_cast<uint8_t>(depth);
  out->chromaSubsampling = static_cast<uint8_t>(chroma);
  out->videoFullRangeFlag = static_cast<uint8_t>(full_range);
  return true;
}

ErrorCode vpcc_write(BoxFile* file, const VpcConfigRecord* v) {
  if (file == nullptr || v == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u32be(file, 0x01000000));  // version 1, flags 0
  VT_TRY(write_u8(file, v->profile));
  VT_TRY(write_u8(file, v->level));
  VT_TRY(write_u8(file, static_cast<uint8_t>(((v->bitDepth & 0xF) << 4) | ((v->chromaSubsampling & 7) << 1) |
                                             (v->videoFullRangeFlag & 1))));
  VT_TRY(write_u8(file, v->colourPrimaries));
  VT_TRY(write_u8(file, v->transferCharacteristics));
  VT_TRY(write_u8(file, v->matrixCoefficients));
  return write_u16be(file, v->codecInitializationDataSize);
}

uint64_t vpcc_size(BoxFile*, const VpcConfigRecord* v) { return v != nullptr ? 12 : 0; }

}  // namespace vantorel
