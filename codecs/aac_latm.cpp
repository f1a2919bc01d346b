#include "codecs/aac_latm.h"

#include <cstring>

#include "codecs/aac.h"

namespace vantorel {

namespace {

// Bits most significant first, never past `size` bytes.
struct Bits {
  const uint8_t* p;
  uint64_t size_bits;
  uint64_t at;
  bool ok;
  uint32_t read(uint32_t n) {
    if (!ok || at + n > size_bits) {
      ok = false;
      return 0;
    }
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; ++i, ++at) v = (v << 1) | ((p[at >> 3] >> (7 - (at & 7))) & 1u);
    return v;
  }
};

// The AudioSpecificConfig at the reader's place: AAC (object types 1 to 4)
// with a channel configuration and no extension, as LATM muxers write it.
bool read_asc(Bits* b, LatmConfig* out) {
  const uint64_t start = b->at;
  uint32_t object = b->read(5);
  if (object == 31) object = 32 + b->read(6);
  const uint32_t index = b->read(4);
  const uint32_t rate = index == 15 ? b->read(24) : aac_sample_rate(index);
  const uint32_t channels = b->read(4);
  if (!b->ok || object < 1 || object > 4 || rate == 0 || channels == 0 || channels > 7) return false;
  b->read(1);                       // frameLengthFlag
  if (b->read(1) != 0) b->read(14);  // dependsOnCoreCoder: coreCoderDelay
  if (b->read(1) != 0) return false;  // extensionFlag
  const uint64_t bits = b->at - start;
  if (!b->ok || bits > 8 * sizeof out->asc || (start >> 3) + (bits + 7) / 8 + 1 > b->size_bits / 8) return false;
  LatmConfig c{};
  latm_copy_bits(b->p, start, static_cast<uint32_t>((bits + 7) / 8), c.asc);
  // Bits past the config are not part of it.
  if (bits % 8 != 0) c.asc[bits / 8] &= static_cast<uint8_t>(0xFF << (8 - bits % 8));
  c.asc_size = static_cast<uint32_t>((bits + 7) / 8);
  c.sample_rate = rate;
  c.channels = channels == 7 ? 8 : channels;
  *out = c;
  return true;
}

bool read_stream_mux_config(Bits* b, LatmConfig* config) {
  if (b->read(1) != 0) return false;  // audioMuxVersion 1 is not read
  b->read(1);                          // allStreamsSameTimeFraming
  if (b->read(6) != 0 || b->read(4) != 0 || b->read(3) != 0) return false;  // sub-frames, programs, layers
  if (!read_asc(b, config)) return false;
  if (b->read(3) != 0) return false;  // frameLengthType 0 only
  b->read(8);                         // latmBufferFullness
  if (b->read(1) != 0) {              // otherDataPresent: otherDataLenBits
    uint32_t escape = 1;
    while (escape != 0 && b->ok) {
      escape = b->read(1);
      b->read(8);
    }
  }
  if (b->read(1) != 0) b->read(8);  // crcCheckSum
  return b->ok;
}

}  // namespace

bool loas_frame_length(const uint8_t* p, uint32_t n, uint32_t* length) {
  if (n < 3 || p[0] != 0x56 || (p[1] & 0xE0) != 0xE0) return false;
  *length = 3 + (((p[1] & 0x1Fu) << 8) | p[2]);
  return true;
}

bool latm_parse(const uint8_t* p, uint32_t n, LatmConfig* config, uint64_t* payload_bit, uint32_t* payload_length) {
  uint32_t length = 0;
  if (!loas_frame_length(p, n, &length) || length > n) return false;
  Bits b{p, uint64_t{length} * 8, 24, true};
  if (b.read(1) == 0) {  // useSameStreamMux clear: a StreamMuxConfig follows
    LatmConfig read{};
    if (!read_stream_mux_config(&b, &read)) return false;
    *config = read;
  }
  if (config->asc_size == 0) return false;
  uint32_t bytes = 0, piece = 255;
  while (piece == 255 && b.ok) {
    piece = b.read(8);
    bytes += piece;
  }
  if (!b.ok || b.at + uint64_t{bytes} * 8 > b.size_bits) return false;
  *payload_bit = b.at;
  *payload_length = bytes;
  return true;
}

void latm_copy_bits(const uint8_t* p, uint64_t bit, uint32_t length, uint8_t* out) {
  const uint64_t byte = bit >> 3;
  const uint32_t shift = static_cast<uint32_t>(bit & 7);
  if (shift == 0) {
    std::memcpy(out, p + byte, length);
    return;
  }
  // The last byte may need bits of one more input byte: only when it lies
  // within what the caller said is there, which the payload checks ensure.
  for (uint32_t i = 0; i < length; ++i)
    out[i] = static_cast<uint8_t>((p[byte + i] << shift) | (p[byte + i + 1] >> (8 - shift)));
}

}  // namespace vantorel
