#pragma once
// VC-1 (SMPTE 421M): 'dvc1', the VC-1 decoder configuration (annex J),
// read, written and sized; and what the advanced profile's bitstream
// (start codes 00 00 01 xx, annex E) says in its sequence, entry-point and
// frame headers.
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
  uint8_t advanced_flags;  // bits 5-1 of the word, each a "not": no interlace, no multiple sequence headers,
                           // no multiple entry points, no slice start codes, no B frames
  // Both.
  uint32_t frame_rate;
  OwnedBlock header_block;  // advanced profile: sequence and entry-point headers
};

void dvc1_release(DecoderConfigVc1* vc1);
ErrorCode dvc1_read(BoxFile* file, const BoxHeader* header, DecoderConfigVc1* vc1);
// Missing for an advanced-profile record without its header block.
ErrorCode dvc1_write(BoxFile* file, const DecoderConfigVc1* vc1);
uint64_t dvc1_size(BoxFile* file, const DecoderConfigVc1* vc1);

// The byte after 00 00 01 that names an advanced-profile unit.
enum : uint8_t {
  kVc1EndOfSequence = 0x0A,
  kVc1Slice = 0x0B,
  kVc1Field = 0x0C,
  kVc1Frame = 0x0D,
  kVc1EntryPoint = 0x0E,
  kVc1Sequence = 0x0F,
  kVc1UserDataFirst = 0x1B,  // slice, field, frame, entry-point and sequence user data
  kVc1UserDataLast = 0x1F,
};

// The advanced profile's sequence header.
struct Vc1Sequence {
  uint8_t level;          // 0-4
  uint8_t chroma_format;  // 1: 4:2:0, the only one defined
  uint32_t coded_width;   // the largest coded size, in pixels: (field + 1) * 2
  uint32_t coded_height;
  bool pulldown, interlace, frame_counter, frame_interpolation, psf;
  bool display;  // the display extension follows; the fields below are from it
  uint32_t display_width, display_height;
  uint8_t aspect_ratio;  // 0 when not given; 15: aspect_width:aspect_height
  uint8_t aspect_width, aspect_height;
  uint32_t rate_num, rate_den;  // frames a second as a fraction; 0/0 when not given
  bool hrd;
  uint8_t leaky_buckets;
};

// The sequence header whose start code is at `p` (`size` bytes there, up
// to the next start code). Unsupported for the simple and main profiles
// (which have no sequence header in the bitstream), Malformed when it is cut
// or holds a reserved value.
ErrorCode vc1_parse_sequence(const uint8_t* p, uint32_t size, Vc1Sequence* out);

struct Vc1EntryPoint {
  bool broken_link;   // the B frames after it cannot be decoded
  bool closed_entry;  // the B frames after it reference nothing before it
};
ErrorCode vc1_parse_entry_point(const uint8_t* p, uint32_t size, Vc1EntryPoint* out);

enum class Vc1FrameType : uint8_t { I, P, B, BI, Skipped };
// The type of the frame whose start code is at `p`, as the stream's
// interlace flag says it is coded. A field pair is the type of its first
// field, except that a pair with a B field is B.
ErrorCode vc1_parse_frame_type(const uint8_t* p, uint32_t size, bool interlace, Vc1FrameType* out);

// Where the unit whose start code is at `at` ends: at the next start code,
// or at `size`.
uint32_t vc1_unit_end(const uint8_t* p, uint32_t size, uint32_t at);

// Whether a frame start code is among the units of `p`.
bool vc1_has_frame(const uint8_t* p, uint32_t size);

// What the whole stream showed, for the advanced word of 'dvc1'.
struct Vc1StreamFacts {
  uint32_t sequences;    // sequence headers
  uint32_t entry_points;
  bool slices;
  bool b_frames;
};

// The advanced-profile 'dvc1' of a stream: its first sequence header and
// the entry-point header after it (`headers`, both with their start codes)
// and what the stream showed. Malformed when the headers do not parse.
ErrorCode dvc1_from_headers(const uint8_t* headers, uint32_t size, const Vc1StreamFacts& facts,
                            DecoderConfigVc1* out);

}  // namespace vantorel
