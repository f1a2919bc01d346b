#include "codecs/latm.h"

#include <cstring>

#include "codecs/aac.h"
#include "codecs/bit_reader.h"

namespace vantorel {

namespace {

// Bits read so far from `start` (no emulation bytes in audio).
uint64_t bit_position(const BitReader& r, const uint8_t* start) {
  return static_cast<uint64_t>(r.cursor - start) * 8 - r.bits_left;
}

// LatmGetValue: 2 bits saying how many bytes follow.
ErrorCode latm_value(BitReader* r, uint32_t* out) {
  uint32_t bytes = 0, v = 0;
  VT_TRY(bits_read(r, 2, &bytes));
  *out = 0;
  for (uint32_t i = 0; i <= bytes; ++i) {
    VT_TRY(bits_read(r, 8, &v));
    *out = *out << 8 | v;
  }
  return ErrorCode::Ok;
}

ErrorCode object_type(BitReader* r, uint32_t* out) {
  VT_TRY(bits_read(r, 5, out));
  if (*out != 31) return ErrorCode::Ok;
  uint32_t more = 0;
  VT_TRY(bits_read(r, 6, &more));
  *out = 32 + more;
  return ErrorCode::Ok;
}

ErrorCode rate(BitReader* r, uint32_t* out) {
  uint32_t index = 0;
  VT_TRY(bits_read(r, 4, &index));
  if (index == 15) return bits_read(r, 24, out);
  *out = aac_sample_rate(index);
  return *out != 0 ? ErrorCode::Ok : ErrorCode::Malformed;
}

// The AudioSpecificConfig at the reader, read to its end (its length is
// known only so) for the general audio object types.
ErrorCode audio_specific_config(BitReader* r, LatmConfig* c) {
  uint32_t type = 0, sample_rate = 0, channel_config = 0;
  VT_TRY(object_type(r, &type));
  VT_TRY(rate(r, &sample_rate));
  VT_TRY(bits_read(r, 4, &channel_config));
  if (type == 5 || type == 29) {
    // Explicit SBR (and PS): the output rate, then the core's type. Frames
    // are timed at the core's rate, 1024 samples each.
    uint32_t output_rate = 0;
    VT_TRY(rate(r, &output_rate));
    VT_TRY(object_type(r, &type));
  }
  const bool general = type == 1 || type == 2 || type == 3 || type == 4 || type == 6 || type == 7 ||
                       type == 17 || (type >= 19 && type <= 23);
  // Configuration 0 describes its channels in a program config element.
  if (!general || channel_config == 0 || channel_config > 7) return ErrorCode::Unsupported;
  uint32_t frame_length_flag = 0, core = 0, extension = 0, skip = 0;
  VT_TRY(bits_read(r, 1, &frame_length_flag));
  VT_TRY(bits_read(r, 1, &core));
  if (core != 0) VT_TRY(bits_read(r, 14, &skip));  // coreCoderDelay
  VT_TRY(bits_read(r, 1, &extension));
  if (type == 6 || type == 20) VT_TRY(bits_read(r, 3, &skip));  // layerNr
  if (extension != 0) {
    if (type == 22) VT_TRY(bits_read(r, 16, &skip));  // numOfSubFrame, layer_length
    if (type == 17 || type == 19 || type == 20 || type == 23) VT_TRY(bits_read(r, 3, &skip));
    VT_TRY(bits_read(r, 1, &skip));  // extensionFlag3
  }
  static const uint32_t kChannels[8] = {0, 1, 2, 3, 4, 5, 6, 8};
  c->sample_rate = sample_rate;
  c->channels = kChannels[channel_config];
  c->frame_samples = frame_length_flag != 0 ? 960 : 1024;
  return ErrorCode::Ok;
}

// Copies `bits` bits from the reader into whole bytes, the last padded with zeros.
ErrorCode copy_bits(BitReader* r, uint64_t bits, uint8_t* out) {
  uint32_t v = 0;
  uint32_t i = 0;
  for (; bits >= 8; bits -= 8, ++i) {
    VT_TRY(bits_read(r, 8, &v));
    if (out != nullptr) out[i] = static_cast<uint8_t>(v);
  }
  if (bits > 0) {
    VT_TRY(bits_read(r, static_cast<uint32_t>(bits), &v));
    if (out != nullptr) out[i] = static_cast<uint8_t>(v << (8 - bits));
  }
  return ErrorCode::Ok;
}

ErrorCode stream_mux_config(BitReader* r, const uint8_t* start, LatmConfig* c) {
  uint32_t version = 0, version_a = 0, v = 0;
  VT_TRY(bits_read(r, 1, &version));
  if (version != 0) VT_TRY(bits_read(r, 1, &version_a));
  if (version_a != 0) return ErrorCode::Unsupported;
  if (version != 0) VT_TRY(latm_value(r, &v));  // taraBufferFullness
  uint32_t same_framing = 0, subframes = 0, programs = 0, layers = 0;
  VT_TRY(bits_read(r, 1, &same_framing));
  VT_TRY(bits_read(r, 6, &subframes));
  VT_TRY(bits_read(r, 4, &programs));
  VT_TRY(bits_read(r, 3, &layers));
  if (same_framing == 0 || subframes != 0 || programs != 0 || layers != 0) return ErrorCode::Unsupported;
  uint32_t asc_bits = 0;
  if (version != 0) VT_TRY(latm_value(r, &asc_bits));
  // The config is read once to learn its length, then copied.
  const BitReader at_config = *r;
  const uint64_t begin = bit_position(*r, start);
  LatmConfig next{};
  VT_TRY(audio_specific_config(r, &next));
  const uint64_t read = bit_position(*r, start) - begin;
  if (version != 0) {
    if (asc_bits < read) return ErrorCode::Malformed;
  } else {
    asc_bits = static_cast<uint32_t>(read);
  }
  if (asc_bits > 8 * sizeof next.asc) return ErrorCode::Unsupported;
  *r = at_config;
  VT_TRY(copy_bits(r, asc_bits, next.asc));
  next.asc_size = (asc_bits + 7) / 8;
  uint32_t frame_length_type = 0;
  VT_TRY(bits_read(r, 3, &frame_length_type));
  if (frame_length_type != 0) return ErrorCode::Unsupported;
  VT_TRY(bits_read(r, 8, &v));  // latmBufferFullness
  uint32_t other_data = 0, crc_present = 0;
  VT_TRY(bits_read(r, 1, &other_data));
  if (other_data != 0) {
    if (version != 0) {
      VT_TRY(latm_value(r, &v));
    } else {
      uint32_t escape = 1;
      while (escape != 0) {
        VT_TRY(bits_read(r, 1, &escape));
        VT_TRY(bits_read(r, 8, &v));
      }
    }
  }
  VT_TRY(bits_read(r, 1, &crc_present));
  if (crc_present != 0) VT_TRY(bits_read(r, 8, &v));
  next.known = true;
  next.audio_mux_version = version;
  *c = next;
  return ErrorCode::Ok;
}

bool same_config(const LatmConfig& a, const LatmConfig& b) {
  return a.asc_size == b.asc_size && std::memcmp(a.asc, b.asc, a.asc_size) == 0 &&
         a.audio_mux_version == b.audio_mux_version;
}

}  // namespace

bool loas_frame_length(const uint8_t* p, uint32_t n, uint32_t* length) {
  if (p == nullptr || n < kLoasHeaderSize || p[0] != 0x56 || (p[1] & 0xE0) != 0xE0) return false;
  *length = kLoasHeaderSize + ((uint32_t{p[1]} & 0x1F) << 8 | p[2]);
  return true;
}

ErrorCode latm_read_element(const uint8_t* p, uint32_t n, LatmConfig* config, bool* config_changed, uint8_t* out,
                            uint32_t* size) {
  if (p == nullptr || config == nullptr || size == nullptr) return ErrorCode::BadArgument;
  if (config_changed != nullptr) *config_changed = false;
  BitReader r;
  bits_init(&r, p, n, false);
  uint32_t same_mux = 0;
  ErrorCode e = bits_read(&r, 1, &same_mux);
  if (e == ErrorCode::Ok && same_mux == 0) {
    const LatmConfig before = *config;
    e = stream_mux_config(&r, p, config);
    if (e == ErrorCode::Ok && config_changed != nullptr) *config_changed = before.known && !same_config(before, *config);
  }
  if (e == ErrorCode::Ok && !config->known) e = ErrorCode::Malformed;
  // PayloadLengthInfo: bytes in runs of 255.
  uint32_t length = 0, step = 255;
  while (e == ErrorCode::Ok && step == 255) {
    e = bits_read(&r, 8, &step);
    length += step;
    if (e == ErrorCode::Ok && length > n) e = ErrorCode::Malformed;
  }
  if (e == ErrorCode::Ok && bit_position(r, p) + uint64_t{length} * 8 > uint64_t{n} * 8) e = ErrorCode::Malformed;
  if (e == ErrorCode::Ok && length == 0) e = ErrorCode::Malformed;
  if (e == ErrorCode::Ok) e = copy_bits(&r, uint64_t{length} * 8, out);
  if (e == ErrorCode::NoMore) e = ErrorCode::Malformed;
  if (e == ErrorCode::Ok) *size = length;
  return e;
}

}  // namespace vantorel
