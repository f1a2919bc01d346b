#include "codecs/truehd.h"

#include "io/byte_io.h"

namespace vantorel {

uint32_t truehd_sample_rate(uint32_t format_info) {
  const uint32_t code = format_info >> 28;  // audio_sampling_frequency
  if (code == 0xF) return 0;
  const uint32_t base = (code & 8) != 0 ? 44100 : 48000;
  return (code & 7) <= 2 ? base << (code & 7) : 0;
}

uint32_t truehd_channel_count(uint32_t format_info) {
  // Channels of each assignment bit: L/R, C, LFE, Ls/Rs, Lvh/Rvh, Lc/Rc,
  // Lrs/Rrs, Cs, Ts, Lsd/Rsd, Lw/Rw, Cvh, LFE2.
  constexpr uint8_t kChannels[13] = {2, 1, 1, 2, 2, 2, 2, 1, 1, 2, 2, 1, 1};
  uint32_t assignment = format_info & 0x1FFF;
  if (assignment == 0) assignment = (format_info >> 15) & 0x1F;
  uint32_t count = 0;
  for (uint32_t bit = 0; bit < 13; ++bit)
    if ((assignment >> bit & 1) != 0) count += kChannels[bit];
  return count;
}

bool truehd_parse_unit(const uint8_t* d, uint32_t size, TrueHdUnit* out) {
  if (d == nullptr || out == nullptr || size < 4) return false;
  *out = TrueHdUnit{};
  out->length = (load_u16be(d) & 0xFFFu) * 2;
  if (out->length < 6) return false;
  DmlpRecord record{};
  uint32_t rate = 0;
  const uint32_t within = size < out->length ? size : out->length;
  if (within >= 4 + 16 && load_u32be(d + 4) == 0xF8726FBA) {
    out->major_sync = true;
    if (dmlp_from_access_unit(d, within, &record, &rate)) {
      out->format_info = record.format_info;
      out->sample_rate = rate;
    }
  }
  return true;
}

uint32_t truehd_unit_samples(uint32_t sample_rate) {
  return sample_rate == 0 ? 0 : 40u * (sample_rate % 44100 == 0 ? sample_rate / 44100 : sample_rate / 48000);
}

bool dmlp_from_access_unit(const uint8_t* d, uint32_t size, DmlpRecord* out, uint32_t* sample_rate) {
  // Access unit header (check nibble and length, input timing), then the
  // major sync: format_sync, format_info, signature 0xB752, flags, a
  // reserved word, then variable_rate and peak_data_rate.
  if (d == nullptr || out == nullptr || sample_rate == nullptr || size < 4 + 16) return false;
  const uint8_t* m = d + 4;
  if (load_u32be(m) != 0xF8726FBA || load_u16be(m + 8) != 0xB752) return false;
  out->format_info = load_u32be(m + 4);
  out->peak_data_rate = static_cast<uint16_t>(load_u16be(m + 14) & 0x7FFF);
  *sample_rate = truehd_sample_rate(out->format_info);
  return *sample_rate != 0;
}

void dmlp_store(uint8_t out[kDmlpPayloadSize], const DmlpRecord& d) {
  // format_info, peak_data_rate(15), reserved(1), reserved(32).
  store_u32be(out, d.format_info);
  store_u16be(out + 4, static_cast<uint16_t>(d.peak_data_rate << 1));
  store_u32be(out + 6, 0);
}

ErrorCode dmlp_write(BoxFile* file, const DmlpRecord* d) {
  if (file == nullptr || d == nullptr) return ErrorCode::BadArgument;
  uint8_t payload[kDmlpPayloadSize];
  dmlp_store(payload, *d);
  return write_bytes(file, payload, kDmlpPayloadSize);
}

}  // namespace vantorel
