#include "codecs/opus.h"

#include <cstring>

#include "boxes/box_tree.h"
#include "codecs/bit_reader.h"

namespace vantorel {

uint32_t opus_packet_samples(const uint8_t* f, uint32_t n) {
  if (f == nullptr || n < 1) return 0;
  const uint32_t config = f[0] >> 3;
  uint32_t frame;  // samples at 48 kHz per frame of the configuration
  if (config < 12) {
    const uint32_t silk[] = {480, 960, 1920, 2880};
    frame = silk[config & 3];
  } else if (config < 16) {
    frame = (config & 1) ? 960 : 480;
  } else {
    const uint32_t celt[] = {120, 240, 480, 960};
    frame = celt[config & 3];
  }
  uint32_t frames = 1;
  if ((f[0] & 3) == 1 || (f[0] & 3) == 2) frames = 2;
  if ((f[0] & 3) == 3) {
    if (n < 2) return 0;
    frames = f[1] & 0x3F;
  }
  return frame * frames;
}

bool dops_from_opus_head(const uint8_t* p, uint32_t size, OpusConfigRecord* out) {
  if (p == nullptr || out == nullptr || size < 19 || std::memcmp(p, "OpusHead", 8) != 0) return false;
  const uint8_t channels = p[9];
  const uint8_t family = p[18];
  if (family != 0 && size < 21u + channels) return false;
  std::memset(out, 0, sizeof *out);
  out->Version = 0;
  out->OutputChannelCount = channels;
  out->PreSkip = load_u16le(p + 10);
  out->InputSampleRate = load_u32le(p + 12);
  out->OutputGain = static_cast<int16_t>(load_u16le(p + 16));
  out->ChannelMappingFamily = family;
  if (family != 0) {
    out->StreamCount = p[19];
    out->CoupledCount = p[20];
    std::memcpy(out->ChannelMapping, p + 21, channels);
  }
  return true;
}

namespace {

// Bits of a field that holds the values 0 to `values` - 1.
uint32_t bits_for(uint32_t values) {
  uint32_t bits = 0;
  while ((1u << bits) < values) ++bits;
  return bits;
}

ErrorCode read_bits(BitReader* r, uint32_t n, uint32_t* out) {
  *out = 0;
  return n == 0 ? ErrorCode::Ok : bits_read(r, n, out);
}

// The explicit form: channel count, family, and the packed fields.
ErrorCode explicit_config(const uint8_t* p, uint32_t n, OpusConfigRecord* out) {
  if (n < 2 || p[0] == 0) return ErrorCode::Malformed;
  const uint32_t channels = p[0];
  out->OutputChannelCount = p[0];
  out->ChannelMappingFamily = p[1];
  if (p[1] == 0) return channels <= 2 ? ErrorCode::Ok : ErrorCode::Malformed;
  BitReader r;
  bits_init(&r, p + 2, n - 2, false);
  uint32_t streams = 0, coupled = 0;
  if (read_bits(&r, bits_for(channels), &streams) != ErrorCode::Ok) return ErrorCode::Malformed;
  ++streams;
  if (read_bits(&r, bits_for(streams + 1), &coupled) != ErrorCode::Ok) return ErrorCode::Malformed;
  // A decoder makes streams + coupled channels, at most 255.
  if (coupled > streams || streams + coupled > 255) return ErrorCode::Malformed;
  out->StreamCount = static_cast<uint8_t>(streams);
  out->CoupledCount = static_cast<uint8_t>(coupled);
  const uint32_t width = bits_for(streams + coupled + 1);
  for (uint32_t i = 0; i < channels; ++i) {
    uint32_t v = 0;
    if (read_bits(&r, width, &v) != ErrorCode::Ok || v >= streams + coupled) return ErrorCode::Malformed;
    out->ChannelMapping[i] = static_cast<uint8_t>(v);
  }
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode dops_from_ts_descriptor(const uint8_t* p, uint32_t n, OpusConfigRecord* out) {
  if (p == nullptr || out == nullptr || n < 1) return ErrorCode::Malformed;
  const uint8_t code = p[0];
  std::memset(out, 0, sizeof *out);
  out->InputSampleRate = 48000;
  if (code == 0x81) return explicit_config(p + 1, n - 1, out);
  if (code == 0x00 || code == 0x80) {
    // Two channels without a layout: one coupled stream, or two mono ones.
    out->OutputChannelCount = 2;
    out->ChannelMappingFamily = 255;
    out->StreamCount = code == 0 ? 1 : 2;
    out->CoupledCount = code == 0 ? 1 : 0;
    out->ChannelMapping[1] = 1;
    return ErrorCode::Ok;
  }
  const uint8_t channels = code & 0x7F;
  if (channels < 1 || channels > 8) return ErrorCode::Unsupported;
  out->OutputChannelCount = channels;
  if (code & 0x80) {
    // Vorbis order, each channel a stream of its own.
    out->ChannelMappingFamily = 1;
    out->StreamCount = channels;
    for (uint8_t i = 0; i < channels; ++i) out->ChannelMapping[i] = i;
    return ErrorCode::Ok;
  }
  // Streams, coupled streams and the order of channels per count.
  constexpr uint8_t kStreams[8] = {1, 1, 2, 2, 3, 4, 5, 5};
  constexpr uint8_t kCoupled[8] = {0, 1, 1, 2, 2, 2, 2, 3};
  constexpr uint8_t kMapping[8][8] = {{0},
                                      {0, 1},
                                      {0, 2, 1},
                                      {0, 1, 2, 3},
                                      {0, 4, 1, 2, 3},
                                      {0, 4, 1, 2, 3, 5},
                                      {0, 4, 1, 2, 3, 5, 6},
                                      {0, 6, 1, 2, 3, 4, 5, 7}};
  out->ChannelMappingFamily = channels > 2 ? 1 : 0;
  if (out->ChannelMappingFamily != 0) {
    out->StreamCount = kStreams[channels - 1];
    out->CoupledCount = kCoupled[channels - 1];
    std::memcpy(out->ChannelMapping, kMapping[channels - 1], channels);
  }
  return ErrorCode::Ok;
}

bool opus_control_header(const uint8_t* p, uint32_t n, OpusControlHeader* out) {
  if (p == nullptr || out == nullptr || n < 3 || (load_u16be(p) & 0xFFE0) != 0x7FE0) return false;
  *out = OpusControlHeader{};
  const bool start = (p[1] & 0x10) != 0, end = (p[1] & 0x08) != 0, extension = (p[1] & 0x04) != 0;
  uint32_t at = 2;
  // The size: bytes of 255 and the byte that ends them.
  for (;;) {
    if (at >= n) return false;
    out->size += p[at];
    if (p[at++] != 0xFF) break;
  }
  if (start) {
    if (n - at < 2) return false;
    out->start_trim = static_cast<uint16_t>(load_u16be(p + at) & 0x1FFF);
    at += 2;
  }
  if (end) {
    if (n - at < 2) return false;
    out->end_trim = static_cast<uint16_t>(load_u16be(p + at) & 0x1FFF);
    at += 2;
  }
  if (extension) {
    if (at >= n || p[at] > n - at - 1) return false;
    at += 1u + p[at];
  }
  out->header = at;
  return true;
}

ErrorCode dops_write(BoxFile* file, const OpusConfigRecord* d) {
  if (file == nullptr || d == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u8(file, d->Version));
  VT_TRY(write_u8(file, d->OutputChannelCount));
  VT_TRY(write_u16be(file, d->PreSkip));
  VT_TRY(write_u32be(file, d->InputSampleRate));
  VT_TRY(write_u16be(file, static_cast<uint16_t>(d->OutputGain)));
  VT_TRY(write_u8(file, d->ChannelMappingFamily));
  if (d->ChannelMappingFamily == 0) return ErrorCode::Ok;
  VT_TRY(write_u8(file, d->StreamCount));
  VT_TRY(write_u8(file, d->CoupledCount));
  return d->OutputChannelCount > 0 ? write_bytes(file, d->ChannelMapping, d->OutputChannelCount) : ErrorCode::Ok;
}

uint64_t dops_size(BoxFile*, const OpusConfigRecord* d) {
  if (d == nullptr) return 0;
  return 11 + (d->ChannelMappingFamily != 0 ? 2u + d->OutputChannelCount : 0u);
}

uint32_t dops_payload_channels(const uint8_t* payload, uint32_t size) {
  return payload != nullptr && size >= 2 ? payload[1] : 0;
}

uint32_t dops_payload_pre_skip(const uint8_t* payload, uint32_t size) {
  return payload != nullptr && size >= 4 ? uint32_t{payload[2]} << 8 | payload[3] : 0;
}

}  // namespace vantorel
