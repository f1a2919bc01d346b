#pragma once
// MPEG-1 and MPEG-2 video (ISO/IEC 11172-2, 13818-2): the sequence header
// and its extension (picture size, profile), the picture header (coding
// type, temporal reference), and what an 'esds' says of such a stream.
#include <cstdint>

#include "io/error.h"

namespace vantorel {

enum Mpeg12StartCode : uint32_t {
  kMpeg12Picture = 0x00,
  kMpeg12UserData = 0xB2,
  kMpeg12Sequence = 0xB3,
  kMpeg12Extension = 0xB5,
  kMpeg12SequenceEnd = 0xB7,
  kMpeg12Gop = 0xB8,
};

enum Mpeg12PictureType : uint32_t { kMpeg12I = 1, kMpeg12P = 2, kMpeg12B = 3 };

struct Mpeg12Sequence {
  uint32_t horizontal_size;  // with the extension's high bits when there is one
  uint32_t vertical_size;
  uint32_t aspect_ratio_information;
  uint32_t frame_rate_code;
  bool mpeg2;  // a sequence extension follows the header
  uint32_t profile_and_level_indication;
  uint32_t chroma_format;
};

// Reads the sequence header whose start code (00 00 01 B3) is at `p`, and
// the sequence extension when one follows it. NoMore when the bytes end
// before the header's fixed fields; Malformed for a size of 0.
ErrorCode mpeg12_parse_sequence(const uint8_t* p, uint32_t size, Mpeg12Sequence* out);

struct Mpeg12Picture {
  uint32_t temporal_reference;
  uint32_t picture_coding_type;  // Mpeg12PictureType
};
// Reads the picture header whose start code (00 00 01 00) is at `p`.
ErrorCode mpeg12_parse_picture(const uint8_t* p, uint32_t size, Mpeg12Picture* out);

// The 'esds' object type of the stream: 0x6A for MPEG-1; for MPEG-2 by
// profile, 0x60 Simple, 0x61 Main, 0x62 SNR, 0x63 Spatial, 0x64 High, 0x65
// 4:2:2 (Main when the profile is none of them).
uint8_t mpeg12_object_type(const Mpeg12Sequence* sequence);

// Where the headers before the first group or picture end, from the
// sequence header at `p`: the sequence header with its extensions and user
// data, as the decoder specific information holds them. 0 when no
// sequence header is at `p`.
uint32_t mpeg12_headers_length(const uint8_t* p, uint32_t size);

// The offset of the next start code (00 00 01) at or after `from`; `size`
// when none.
uint32_t mpeg12_next_start_code(const uint8_t* p, uint32_t size, uint32_t from);

}  // namespace vantorel
