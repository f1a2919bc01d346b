#include "sampletables/dec3.h"

namespace vantorel {

void dec3_release(Dec3Record* dec3) {
  if (dec3 == nullptr) return;
  block_release(&dec3->trailing);
}

ErrorCode dec3_read(BoxFile* file, const BoxHeader* header, Dec3Record* d) {
  if (file == nullptr || header == nullptr || d == nullptr) return ErrorCode::BadArgument;
  if (!box_has(file, header, 2)) return malformed(file, "'dec3' shorter than 2 bytes");
  uint16_t w = read_u16be(file);
  d->data_rate = w >> 3;
  d->num_ind_sub = w & 7;
  for (uint32_t i = 0; i <= d->num_ind_sub; ++i) {
    if (!box_has(file, header, 3)) return malformed(file, "'dec3' substream count larger than the box holds");
    uint8_t b0 = read_u8(file);
    uint8_t b1 = read_u8(file);
    uint8_t b2 = read_u8(file);
    Dec3Substream& s = d->substreams[i];
    s.fscod = b0 >> 6;
    s.bsid = (b0 >> 1) & 0x1F;
    s.reserved1 = b0 & 1;
    s.asvc = b1 >> 7;
    s.bsmod = (b1 >> 4) & 7;
    s.acmod = (b1 >> 1) & 7;
    s.lfeon = b1 & 1;
    s.reserved2 = b2 >> 5;
    s.num_dep_sub = (b2 >> 1) & 0xF;
    if (s.num_dep_sub != 0) {
      if (!box_has(file, header, 1)) return malformed(file, "'dec3' substream runs past the box");
      s.chan_loc = static_cast<uint16_t>(((b2 & 1) << 8) | read_u8(file));
    } else {
      s.chan_loc = b2 & 1;
    }
  }
  if (io_failed(file)) return ErrorCode::Io;
  return block_read_rest(file, header, &d->trailing, "'dec3' larger than 16 MiB");
}

ErrorCode dec3_write(BoxFile* file, const Dec3Record* d) {
  if (file == nullptr || d == nullptr) return ErrorCode::BadArgument;
  uint32_t count = (d->num_ind_sub & 7) + 1u;
  VT_TRY(write_u16be(file, static_cast<uint16_t>(((d->data_rate & 0x1FFF) << 3) | (d->num_ind_sub & 7))));
  for (uint32_t i = 0; i < count; ++i) {
    const Dec3Substream& s = d->substreams[i];
    VT_TRY(write_u8(file, static_cast<uint8_t>(((s.fscod & 3) << 6) | ((s.bsid & 0x1F) << 1) | (s.reserved1 & 1))));
    VT_TRY(write_u8(file, static_cast<uint8_t>(((s.asvc & 1) << 7) | ((s.bsmod & 7) << 4) | ((s.acmod & 7) << 1) |
                                               (s.lfeon & 1))));
    uint8_t b2 = static_cast<uint8_t>(((s.reserved2 & 7) << 5) | ((s.num_dep_sub & 0xF) << 1));
    if ((s.num_dep_sub & 0xF) != 0) {
      VT_TRY(write_u8(file, static_cast<uint8_t>(b2 | ((s.chan_loc >> 8) & 1))));
      VT_TRY(write_u8(file, static_cast<uint8_t>(s.chan_loc)));
    } else {
      VT_TRY(write_u8(file, static_cast<uint8_t>(b2 | (s.chan_loc & 1))));
    }
  }
  return block_write(file, &d->trailing);
}

uint64_t dec3_size(BoxFile*, const Dec3Record* d) {
  if (d == nullptr) return 0;
  uint64_t size = 2;
  uint32_t count = (d->num_ind_sub & 7) + 1u;
  for (uint32_t i = 0; i < count; ++i) size += (d->substreams[i].num_dep_sub & 0xF) != 0 ? 4 : 3;
  return size + d->trailing.length;
}

ErrorCode dec3_copy(Dec3Record* to, const Dec3Record* from) {
  if (to == nullptr || from == nullptr) return ErrorCode::BadArgument;
  OwnedBlock trailing{};
  VT_TRY(block_assign(&trailing, from->trailing.bytes, from->trailing.length));
  block_release(&to->trailing);
  *to = *from;
  to->trailing = trailing;
  return ErrorCode::Ok;
}

}  // namespace vantorel
