#include "codecs/ac3.h"

#include "boxes/fields.h"

namespace vantorel {

namespace {

// Frame sizes in 16-bit words by frmsizecod / 2, for 48, 44.1 and 32 kHz.
constexpr uint16_t kFrameWords[19][3] = {
    {64, 69, 96},     {80, 87, 120},    {96, 104, 144},   {112, 121, 168},  {128, 139, 192},
    {160, 174, 240},  {192, 208, 288},  {224, 243, 336},  {256, 278, 384},  {320, 348, 480},
    {384, 417, 576},  {448, 487, 672},  {512, 557, 768},  {640, 696, 960},  {768, 835, 1152},
    {896, 975, 1344}, {1024, 1114, 1536}, {1152, 1253, 1728}, {1280, 1393, 1920}};
constexpr uint32_t kRates[3] = {48000, 44100, 32000};

// Full-bandwidth channels by acmod.
constexpr uint32_t kModeChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};

bool has_sync_word(const uint8_t* frame, uint32_t size) {
  return frame != nullptr && size >= 2 && frame[0] == 0x0B && frame[1] == 0x77;
}

}  // namespace

bool ac3_parse_syncinfo(const uint8_t* h, uint32_t size, Ac3SyncInfo* out) {
  *out = Ac3SyncInfo{};
  if (size < 5 || !has_sync_word(h, size)) return false;
  const uint32_t fscod = h[4] >> 6;
  const uint32_t frmsizecod = h[4] & 0x3F;
  if (fscod == 3 || frmsizecod >= 38) return false;
  uint32_t words = kFrameWords[frmsizecod / 2][fscod];
  if (fscod == 1) words += frmsizecod & 1;  // 44.1 kHz frames alternate
  out->fscod = fscod;
  out->frmsizecod = frmsizecod;
  out->sample_rate = kRates[fscod];
  out->length = words * 2;
  return true;
}

bool ac3_parse_bsi(const uint8_t* b, uint32_t size, Ac3Bsi* out) {
  *out = Ac3Bsi{};
  if (size < 8 || !has_sync_word(b, size)) return false;
  out->bsid = b[5] >> 3;
  out->bsmod = b[5] & 7;
  out->acmod = b[6] >> 5;
  uint32_t w = b[6] * 256u + b[7];
  // Skip the mixing-level fields that precede lfeon for this channel mode.
  if ((out->acmod & 1) && out->acmod != 1) w <<= 2;
  if (out->acmod & 4) w <<= 2;
  if (out->acmod == 2) w <<= 2;
  out->lfeon = (w >> 12) & 1;
  return true;
}

uint32_t ac3_channel_count(uint32_t acmod, uint32_t lfeon) { return kModeChannels[acmod & 7] + (lfeon & 1); }

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

bool ac3_config_from_frame(const uint8_t* frame, uint32_t size, Dac3Record* out) {
  Ac3SyncInfo sync;
  Ac3Bsi bsi;
  if (out == nullptr || !ac3_parse_syncinfo(frame, size, &sync) || !ac3_parse_bsi(frame, size, &bsi)) return false;
  out->fscod = static_cast<uint8_t>(sync.fscod);
  out->bsid = static_cast<uint8_t>(bsi.bsid);
  out->bsmod = static_cast<uint8_t>(bsi.bsmod);
  out->acmod = static_cast<uint8_t>(bsi.acmod);
  out->lfeon = static_cast<uint8_t>(bsi.lfeon);
  out->bit_rate_code = static_cast<uint8_t>(sync.frmsizecod >> 1);
  return true;
}

bool ac3_word_from_frame(const uint8_t* frame, uint32_t size, uint32_t* packed) {
  Dac3Record d{};
  if (packed == nullptr || !ac3_config_from_frame(frame, size, &d)) return false;
  *packed = dac3_packed(&d);
  return true;
}

bool dac3_parse(const uint8_t* p, uint32_t size, bool short_form, Dac3Record* d) {
  if (p == nullptr || d == nullptr || size < (short_form ? 2u : 3u)) return false;
  if (short_form) {
    d->bsid = p[1] & 0x1F;  // the first byte is written as 1, not interpreted
    return true;
  }
  const uint32_t v = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  d->fscod = static_cast<uint8_t>(v >> 22);
  d->bsid = (v >> 17) & 0x1F;
  d->bsmod = (v >> 14) & 7;
  d->acmod = (v >> 11) & 7;
  d->lfeon = (v >> 10) & 1;
  d->bit_rate_code = (v >> 5) & 0x1F;
  return true;
}

uint32_t dac3_payload_channels(const uint8_t* payload, uint32_t size) {
  Dac3Record d{};
  return dac3_parse(payload, size, false, &d) ? ac3_channel_count(d.acmod, d.lfeon) : 0;
}

ErrorCode dac3_read(BoxFile* file, const BoxHeader* header, Dac3Record* d, bool short_form) {
  if (file == nullptr || header == nullptr || d == nullptr) return ErrorCode::BadArgument;
  const uint32_t size = short_form ? 2 : 3;
  if (!box_has(file, header, size))
    return short_box(file, short_form ? "'dac3' shorter than 2 bytes" : "'dac3' shorter than 3 bytes");
  uint8_t payload[3];
  if (read_bytes(file, payload, size) != ErrorCode::Ok || io_failed(file)) return ErrorCode::Io;
  dac3_parse(payload, size, short_form, d);
  return ErrorCode::Ok;
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
