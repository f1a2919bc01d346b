#include "codecs/eac3.h"

#include <cstring>

#include "codecs/ac3.h"

namespace vantorel {

namespace {

constexpr uint32_t kRates[3] = {48000, 44100, 32000};
constexpr uint32_t kBlocks[4] = {1, 2, 3, 6};

// syncinfo() and bsi() up to lfeon: 5 bytes.
bool parse_up_to_lfeon(const uint8_t* f, uint32_t size, Eac3Header* out) {
  *out = Eac3Header{};
  if (f == nullptr || size < 5 || f[0] != 0x0B || f[1] != 0x77) return false;
  out->strmtyp = f[2] >> 6;
  out->substreamid = (f[2] >> 3) & 7;
  out->length = ((((uint32_t{f[2]} & 7) << 8) | f[3]) + 1) * 2;
  out->fscod = f[4] >> 6;
  if (out->fscod == 3) {
    out->fscod2 = (f[4] >> 4) & 3;
    out->numblkscod = 3;
    out->sample_rate = out->fscod2 < 3 ? kRates[out->fscod2] / 2 : 0;
  } else {
    out->numblkscod = (f[4] >> 4) & 3;
    out->sample_rate = kRates[out->fscod];
  }
  out->acmod = (f[4] >> 1) & 7;
  out->lfeon = f[4] & 1;
  out->samples = 256 * kBlocks[out->numblkscod];
  return true;
}

}  // namespace

bool eac3_parse_header(const uint8_t* frame, uint32_t size, Eac3Header* out) {
  if (!parse_up_to_lfeon(frame, size, out)) return false;
  if (size < 6) {
    *out = Eac3Header{};
    return false;
  }
  out->bsid = frame[5] >> 3;
  return true;
}

uint32_t eac3_frame_samples(const uint8_t* frame, uint32_t size) {
  Eac3Header h;
  return parse_up_to_lfeon(frame, size, &h) ? h.samples : 0;
}

bool eac3_config_from_frame(const uint8_t* frame, uint32_t size, uint32_t sample_rate, Dec3Record* out) {
  Eac3Header h;
  if (out == nullptr || !eac3_parse_header(frame, size, &h)) return false;
  // The stream's rate in kbit/s, from one frame's bytes and duration.
  const uint64_t kbps = uint64_t{h.length} * 8 * sample_rate / h.samples / 1000;
  block_release(&out->trailing);
  std::memset(out, 0, sizeof *out);
  out->data_rate = static_cast<uint16_t>(kbps < 0x1FFF ? kbps : 0x1FFF);
  out->num_ind_sub = 0;  // one independent substream, without dependent ones
  Dec3Substream& s = out->substreams[0];
  s.fscod = static_cast<uint8_t>(h.fscod);
  s.bsid = static_cast<uint8_t>(h.bsid);
  s.acmod = static_cast<uint8_t>(h.acmod);
  s.lfeon = static_cast<uint8_t>(h.lfeon);
  return true;
}

ErrorCode dec3_parse(const uint8_t* p, uint32_t size, Dec3Record* d, uint32_t* used, const char** why) {
  if (p == nullptr || d == nullptr || used == nullptr || why == nullptr) return ErrorCode::BadArgument;
  *used = 0;
  *why = nullptr;
  if (size < 2) {
    *why = "'dec3' shorter than 2 bytes";
    return ErrorCode::Malformed;
  }
  const uint16_t w = static_cast<uint16_t>((p[0] << 8) | p[1]);
  d->data_rate = w >> 3;
  d->num_ind_sub = w & 7;
  uint32_t at = 2;
  for (uint32_t i = 0; i <= d->num_ind_sub; ++i) {
    if (size - at < 3) {
      *why = "'dec3' substream count larger than the box holds";
      return ErrorCode::Malformed;
    }
    const uint8_t b0 = p[at], b1 = p[at + 1], b2 = p[at + 2];
    at += 3;
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
      if (size - at < 1) {
        *why = "'dec3' substream runs past the box";
        return ErrorCode::Malformed;
      }
      s.chan_loc = static_cast<uint16_t>(((b2 & 1) << 8) | p[at++]);
    } else {
      s.chan_loc = b2 & 1;
    }
  }
  *used = at;
  return ErrorCode::Ok;
}

uint32_t dec3_payload_channels(const uint8_t* payload, uint32_t size) {
  Dec3Record d{};
  uint32_t used = 0;
  const char* why = nullptr;
  if (dec3_parse(payload, size, &d, &used, &why) != ErrorCode::Ok) return 0;
  return ac3_channel_count(d.substreams[0].acmod, d.substreams[0].lfeon);
}

void dec3_release(Dec3Record* dec3) {
  if (dec3 == nullptr) return;
  block_release(&dec3->trailing);
}

ErrorCode dec3_read(BoxFile* file, const BoxHeader* header, Dec3Record* d) {
  if (file == nullptr || header == nullptr || d == nullptr) return ErrorCode::BadArgument;
  // The substreams take at most 2 + 8 * 4 bytes; the rest is kept as read.
  uint8_t head[2 + kMaxDec3Substreams * 4];
  const uint64_t left = box_bytes_left(file, header);
  const auto peek = static_cast<uint32_t>(left < sizeof head ? left : sizeof head);
  const uint64_t start = file_tell(file);
  if (peek > 0 && read_bytes(file, head, peek) != ErrorCode::Ok) return ErrorCode::Io;
  uint32_t used = 0;
  const char* why = nullptr;
  ErrorCode e = dec3_parse(head, peek, d, &used, &why);
  if (e == ErrorCode::Malformed) return malformed(file, why);
  VT_TRY(e);
  VT_TRY(file_seek(file, start + used));
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
