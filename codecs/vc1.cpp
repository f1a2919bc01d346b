#include "codecs/vc1.h"

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
