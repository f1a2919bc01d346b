#include "codecs/vc1.h"

#include "codecs/bit_reader.h"
#include "codecs/mpeg12_video.h"

namespace vantorel {

namespace {

bool simple_or_main(uint8_t profile) { return profile == kVc1Simple || profile == kVc1Main; }

// Reserved bits of STRUCT_C, counting the most significant bit as 31:
// bits 18 and 10 are 0, bits 16 and 0 are 1.
uint32_t fix_reserved_bits(uint32_t word) {
  word &= ~((1u << 18) | (1u << 10));
  return word | (1u << 16) | 1u;
}

}  // namespace

void dvc1_release(DecoderConfigVc1* vc1) {
  if (vc1 == nullptr) return;
  block_release(&vc1->header_block);
}

ErrorCode dvc1_read(BoxFile* file, const BoxHeader* header, DecoderConfigVc1* vc1) {
  if (file == nullptr || header == nullptr || vc1 == nullptr) return ErrorCode::BadArgument;
  if (!box_has(file, header, 1)) return malformed(file, "empty 'dvc1' box");
  uint8_t first = read_u8(file);
  vc1->profile = first >> 4;
  vc1->level = (first >> 1) & 7;
  if (simple_or_main(vc1->profile)) {
    if (!box_has(file, header, 16)) return malformed(file, "'dvc1' shorter than its simple or main profile fields");
    vc1->sequence_header = read_u32be(file);
    uint8_t b = read_u8(file);
    vc1->hrd_level = b >> 5;
    vc1->cbr = (b >> 4) & 1;
    vc1->hrd_buffer = read_u24be(file);
    vc1->hrd_rate = read_u32be(file);
    vc1->frame_rate = read_u32be(file);
  } else if (vc1->profile == kVc1Advanced) {
    if (!box_has(file, header, 6)) return malformed(file, "'dvc1' shorter than its advanced profile fields");
    uint16_t w = read_u16be(file);
    vc1->advanced_level = static_cast<uint8_t>(w >> 13);
    vc1->advanced_cbr = (w >> 12) & 1;
    vc1->advanced_flags = (w >> 1) & 0x1F;
    vc1->frame_rate = read_u32be(file);
    if (io_failed(file)) return ErrorCode::Io;
    VT_TRY(block_read_rest(file, header, &vc1->header_block, "'dvc1' header block larger than 16 MiB"));
  }
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

ErrorCode dvc1_write(BoxFile* file, const DecoderConfigVc1* vc1) {
  if (file == nullptr || vc1 == nullptr) return ErrorCode::BadArgument;
  if (vc1->profile == kVc1Advanced && vc1->header_block.length == 0) return ErrorCode::Missing;
  VT_TRY(write_u8(file, static_cast<uint8_t>(((vc1->profile & 0xF) << 4) | ((vc1->level & 7) << 1))));
  if (simple_or_main(vc1->profile)) {
    VT_TRY(write_u32be(file, fix_reserved_bits(vc1->sequence_header)));
    VT_TRY(write_u8(file, static_cast<uint8_t>(((vc1->hrd_level & 7) << 5) | ((vc1->cbr & 1) << 4))));
    VT_TRY(write_u24be(file, vc1->hrd_buffer & 0xFFFFFF));
    VT_TRY(write_u32be(file, vc1->hrd_rate));
    return write_u32be(file, vc1->frame_rate);
  }
  if (vc1->profile == kVc1Advanced) {
    VT_TRY(write_u16be(file, static_cast<uint16_t>(((vc1->advanced_level & 7) << 13) | ((vc1->advanced_cbr & 1) << 12) |
                                                   ((vc1->advanced_flags & 0x1F) << 1))));
    VT_TRY(write_u32be(file, vc1->frame_rate));
    return block_write(file, &vc1->header_block);
  }
  return ErrorCode::Ok;
}

uint64_t dvc1_size(BoxFile*, const DecoderConfigVc1* vc1) {
  if (vc1 == nullptr) return 0;
  if (simple_or_main(vc1->profile)) return 17;
  if (vc1->profile == kVc1Advanced) return 7 + uint64_t{vc1->header_block.length};
  return 1;
}

}  // namespace vantorel

namespace vantorel {

namespace {

constexpr uint32_t kStartCodeBytes = 4;

bool start_code_at(const uint8_t* p, uint32_t size, uint32_t at, uint8_t code) {
  return at + kStartCodeBytes <= size && p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1 && p[at + 3] == code;
}

// A header's bits after its start code, with the 0x03 bytes that keep
// start codes out of it removed.
ErrorCode header_bits(const uint8_t* p, uint32_t size, uint8_t code, BitReader* bits) {
  if (p == nullptr) return ErrorCode::BadArgument;
  if (!start_code_at(p, size, 0, code)) return ErrorCode::Malformed;
  bits_init(bits, p + kStartCodeBytes, size - kStartCodeBytes, true);
  return ErrorCode::Ok;
}

// Any read past the header's end makes it a cut one.
struct Bits {
  BitReader* r;
  ErrorCode e = ErrorCode::Ok;
  uint32_t operator()(uint32_t n) {
    uint32_t v = 0;
    if (e == ErrorCode::Ok && bits_read(r, n, &v) != ErrorCode::Ok) e = ErrorCode::Malformed;
    return e == ErrorCode::Ok ? v : 0;
  }
};

// FRAMERATENR 1-7 and FRAMERATEDR 1-2; other values are reserved.
constexpr uint32_t kRateNumerators[8] = {0, 24000, 25000, 30000, 50000, 60000, 48000, 72000};
constexpr uint32_t kRateDenominators[3] = {0, 1000, 1001};

}  // namespace

ErrorCode vc1_parse_sequence(const uint8_t* p, uint32_t size, Vc1Sequence* out) {
  if (out == nullptr) return ErrorCode::BadArgument;
  BitReader reader;
  VT_TRY(header_bits(p, size, kVc1Sequence, &reader));
  Bits get{&reader};
  Vc1Sequence s{};
  constexpr uint32_t kAdvanced = 3;
  if (get(2) != kAdvanced) return get.e != ErrorCode::Ok ? get.e : ErrorCode::Unsupported;
  s.level = static_cast<uint8_t>(get(3));
  s.chroma_format = static_cast<uint8_t>(get(2));
  get(3 + 5 + 1);  // frame rate and bit rate quantizers for post-processing, post-processing flag
  s.coded_width = (get(12) + 1) * 2;
  s.coded_height = (get(12) + 1) * 2;
  s.pulldown = get(1) != 0;
  s.interlace = get(1) != 0;
  s.frame_counter = get(1) != 0;
  s.frame_interpolation = get(1) != 0;
  get(1);  // reserved
  s.psf = get(1) != 0;
  s.display = get(1) != 0;
  if (s.display) {
    s.display_width = get(14) + 1;
    s.display_height = get(14) + 1;
    if (get(1) != 0) {
      s.aspect_ratio = static_cast<uint8_t>(get(4));
      if (s.aspect_ratio == 15) {
        s.aspect_width = static_cast<uint8_t>(get(8) + 1);
        s.aspect_height = static_cast<uint8_t>(get(8) + 1);
      }
    }
    if (get(1) != 0) {
      if (get(1) != 0) {
        // FRAMERATEEXP: (value + 1) / 32 frames a second.
        s.rate_num = get(16) + 1;
        s.rate_den = 32;
      } else {
        const uint32_t nr = get(8), dr = get(4);
        if (nr >= 1 && nr <= 7 && dr >= 1 && dr <= 2) {
          s.rate_num = kRateNumerators[nr];
          s.rate_den = kRateDenominators[dr];
        }
      }
    }
    if (get(1) != 0) get(24);  // colour primaries, transfer characteristics, matrix coefficients
  }
  s.hrd = get(1) != 0;
  if (s.hrd) {
    s.leaky_buckets = static_cast<uint8_t>(get(5));
    get(4 + 4);  // rate and buffer size exponents
    for (uint32_t i = 0; i < s.leaky_buckets && get.e == ErrorCode::Ok; ++i) get(32);  // rate and buffer
  }
  VT_TRY(get.e);
  // Levels 5-7 and chroma formats other than 4:2:0 are reserved.
  if (s.level > 4 || s.chroma_format != 1) return ErrorCode::Malformed;
  *out = s;
  return ErrorCode::Ok;
}

ErrorCode vc1_parse_entry_point(const uint8_t* p, uint32_t size, Vc1EntryPoint* out) {
  if (out == nullptr) return ErrorCode::BadArgument;
  BitReader reader;
  VT_TRY(header_bits(p, size, kVc1EntryPoint, &reader));
  Bits get{&reader};
  const bool broken_link = get(1) != 0;
  const bool closed_entry = get(1) != 0;
  VT_TRY(get.e);
  *out = Vc1EntryPoint{broken_link, closed_entry};
  return ErrorCode::Ok;
}

ErrorCode vc1_parse_frame_type(const uint8_t* p, uint32_t size, bool interlace, Vc1FrameType* out) {
  if (out == nullptr) return ErrorCode::BadArgument;
  BitReader reader;
  VT_TRY(header_bits(p, size, kVc1Frame, &reader));
  Bits get{&reader};
  // Frame coding mode: 0 progressive, 10 interlaced frame, 11 field pair.
  const bool field_pair = interlace && get(1) != 0 && get(1) != 0;
  Vc1FrameType type = Vc1FrameType::P;
  if (field_pair) {
    // The two fields' types: I/I, I/P, P/I, P/P, B/B, B/BI, BI/B, BI/BI.
    constexpr Vc1FrameType kPairs[8] = {Vc1FrameType::I, Vc1FrameType::I, Vc1FrameType::P, Vc1FrameType::P,
                                        Vc1FrameType::B, Vc1FrameType::B, Vc1FrameType::B, Vc1FrameType::BI};
    type = kPairs[get(3)];
  } else {
    // 0 P, 10 B, 110 I, 1110 BI, 1111 skipped.
    constexpr Vc1FrameType kTypes[5] = {Vc1FrameType::P, Vc1FrameType::B, Vc1FrameType::I, Vc1FrameType::BI,
                                        Vc1FrameType::Skipped};
    uint32_t ones = 0;
    while (ones < 4 && get(1) != 0) ++ones;
    type = kTypes[ones];
  }
  VT_TRY(get.e);
  *out = type;
  return ErrorCode::Ok;
}

uint32_t vc1_unit_end(const uint8_t* p, uint32_t size, uint32_t at) {
  return mpeg12_next_start_code(p, size, at + kStartCodeBytes > size ? size : at + kStartCodeBytes);
}

bool vc1_has_frame(const uint8_t* p, uint32_t size) {
  for (uint32_t at = mpeg12_next_start_code(p, size, 0); at + kStartCodeBytes <= size; at = vc1_unit_end(p, size, at))
    if (p[at + 3] == kVc1Frame) return true;
  return false;
}

ErrorCode dvc1_from_headers(const uint8_t* headers, uint32_t size, const Vc1StreamFacts& facts,
                            DecoderConfigVc1* out) {
  if (headers == nullptr || out == nullptr) return ErrorCode::BadArgument;
  const uint32_t sequence_end = vc1_unit_end(headers, size, 0);
  Vc1Sequence s;
  Vc1EntryPoint entry;
  VT_TRY(vc1_parse_sequence(headers, sequence_end, &s));
  VT_TRY(vc1_parse_entry_point(headers + sequence_end, size - sequence_end, &entry));
  DecoderConfigVc1 c{};
  c.profile = kVc1Advanced;
  c.level = s.level;
  c.advanced_level = s.level;
  c.advanced_cbr = 0;  // the sequence header does not tell
  c.advanced_flags = static_cast<uint8_t>((s.interlace ? 0 : 0x10) | (facts.sequences > 1 ? 0 : 0x08) |
                                          (facts.entry_points > 1 ? 0 : 0x04) | (facts.slices ? 0 : 0x02) |
                                          (facts.b_frames ? 0 : 0x01));
  // Whole frames a second, rounded; all ones when the stream does not say.
  c.frame_rate = s.rate_den != 0 ? static_cast<uint32_t>((uint64_t{s.rate_num} + s.rate_den / 2) / s.rate_den)
                                 : 0xFFFFFFFFu;
  VT_TRY(block_assign(&c.header_block, headers, size));
  dvc1_release(out);
  *out = c;
  return ErrorCode::Ok;
}

}  // namespace vantorel
