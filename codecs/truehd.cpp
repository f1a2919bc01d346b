#include "codecs/truehd.h"

#include "io/byte_io.h"

namespace vantorel {

uint32_t truehd_sample_rate(uint32_t format_info) {
  const uint32_t code = format_info >> 28;  // audio_sampling_frequency
  if (code == 0xF) return 0;
  const uint32_t base = (code & 8) != 0 ? 44100 : 48000;
  return (code & 7) <= 2 ? base << (code & 7) : 0;
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

ErrorCode dmlp_write(BoxFile* file, const DmlpRecord* d) {
  if (file == nullptr || d == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u32be(file, d->format_info));
  // peak_data_rate(15), reserved(1), reserved(32).
  VT_TRY(write_u16be(file, static_cast<uint16_t>(d->peak_data_rate << 1)));
  return write_u32be(file, 0);
}

}  // namespace vantorel
