#include "sampletables/dac3.h"

#include "boxes/fields.h"

namespace vantorel {

uint32_t dac3_packed(const Dac3Record* d) {
  if (d == nullptr) return 0;
  return (uint32_t{d->fscod} & 3) | ((uint32_t{d->bsid} & 0x1F) << 2) | ((uint32_t{d->bsmod} & 7) << 7) |
         ((uint32_t{d->acmod} & 7) << 10) | ((uint32_t{d->lfeon} & 1) << 13) | ((uint32_t{d->bit_rate_code} & 0x1F) << 14);
}

void dac3_set_packed(Dac3Record* d, uint32_t packed) {
  if (d == nullptr) return;
  d->fscod = packed & 3;
  d->bsid = (packed >> 2) & 0x1F;
  d->bsmod = (packed >> 7) & 7;
  d->acmod = (packed >> 10) & 7;
  d->lfeon = (packed >> 13) & 1;
  d->bit_rate_code = (packed >> 14) & 0x1F;
}

ErrorCode dac3_read(BoxFile* file, const BoxHeader* header, Dac3Record* d, bool short_form) {
  if (file == nullptr || header == nullptr || d == nullptr) return ErrorCode::BadArgument;
  if (short_form) {
    if (!box_has(file, header, 2)) return short_box(file, "'dac3' shorter than 2 bytes");
    read_u8(file);  // written as 1, not interpreted
    d->bsid = read_u8(file) & 0x1F;
  } else {
    if (!box_has(file, header, 3)) return short_box(file, "'dac3' shorter than 3 bytes");
    uint32_t v = read_u24be(file);
    d->fscod = static_cast<uint8_t>(v >> 22);
    d->bsid = (v >> 17) & 0x1F;
    d->bsmod = (v >> 14) & 7;
    d->acmod = (v >> 11) & 7;
    d->lfeon = (v >> 10) & 1;
    d->bit_rate_code = (v >> 5) & 0x1F;
  }
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

ErrorCode dac3_write(BoxFile* file, const Dac3Record* d, bool short_form) {
  if (file == nullptr || d == nullptr) return ErrorCode::BadArgument;
  if (short_form) {
    VT_TRY(write_u8(file, 1));
    return write_u8(file, d->bsid & 0x1F);
  }
  uint32_t v = ((uint32_t{d->fscod} & 3) << 22) | ((uint32_t{d->bsid} & 0x1F) << 17) | ((uint32_t{d->bsmod} & 7) << 14) |
               ((uint32_t{d->acmod} & 7) << 11) | ((uint32_t{d->lfeon} & 1) << 10) |
               ((uint32_t{d->bit_rate_code} & 0x1F) << 5);
  return write_u24be(file, v);
}

uint64_t dac3_size(BoxFile*, const Dac3Record* d, bool short_form) {
  if (d == nullptr) return 0;
  return short_form ? 2 : 3;
}

bool ac3_word_from_frame(const uint8_t* b, uint32_t size, uint32_t* packed) {
  if (size < 8 || b[0] != 0x0B || b[1] != 0x77) return false;
  uint32_t fscod = b[4] >> 6;
  uint32_t bit_rate_code = (b[4] >> 1) & 0x1F;
  uint32_t bsid = b[5] >> 3;
  uint32_t bsmod = b[5] & 7;
  uint32_t acmod = b[6] >> 5;
  uint32_t w = b[6] * 256u + b[7];
  // Skip the mixing-level fields that precede lfeon for this channel mode.
  if ((acmod & 1) && acmod != 1) w <<= 2;
  if (acmod & 4) w <<= 2;
  if (acmod == 2) w <<= 2;
  uint32_t lfeon = (w >> 12) & 1;
  *packed = fscod | (bsid << 2) | (bsmod << 7) | (acmod << 10) | (lfeon << 13) | (bit_rate_code << 14);
  return true;
}

}  // namespace vantorel
