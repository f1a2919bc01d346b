#pragma once
// VP9 (and VP8, which shares its configuration box): the uncompressed
// header of a key frame, and 'vpcC', the VP codec configuration box, built
// and written.
#include <cstdint>

#include "boxes/box_file.h"

namespace vantorel {

struct VpcConfigRecord {
  uint8_t profile;
  uint8_t level;
  uint8_t bitDepth;
  uint8_t chromaSubsampling;
  uint8_t videoFullRangeFlag;
  uint8_t colourPrimaries;
  uint8_t transferCharacteristics;
  uint8_t matrixCoefficients;
  uint16_t codecInitializationDataSize;  // always 0: VP8 and VP9 have none
};

// A record of the fixed VP8 form: profile 0, 8 bits, 4:2:0 (colocated with
// luma), limited range, level not signalled.
void vpcc_init(VpcConfigRecord* vpcc);
// The profile, bit depth, chroma subsampling and range of a VP9 frame's
// uncompressed header (those of a key frame; the profile alone for other
// frames): false when the bytes are no VP9 frame.
bool vp9_config_from_frame(const uint8_t* frame, uint32_t size, VpcConfigRecord* out);
ErrorCode vpcc_write(BoxFile* file, const VpcConfigRecord* vpcc);
uint64_t vpcc_size(BoxFile* file, const VpcConfigRecord* vpcc);

}  // namespace vantorel
