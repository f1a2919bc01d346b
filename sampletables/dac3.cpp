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

}  // namespace vantorel
