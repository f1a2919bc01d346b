#pragma once
// Opus (RFC 6716, RFC 7845): the packet's table of contents, and 'dOps', the
// Opus specific box, built from an OpusHead and written.
#include <cstdint>

#include "boxes/box_file.h"

namespace vantorel {

// Samples at 48 kHz in a packet, from its table of contents; 0 when the
// packet is empty or cut before its frame count.
uint32_t opus_packet_samples(const uint8_t* packet, uint32_t size);

struct OpusConfigRecord {
  uint8_t Version;
  uint8_t OutputChannelCount;
  uint16_t PreSkip;
  uint32_t InputSampleRate;
  int16_t OutputGain;
  uint8_t ChannelMappingFamily;
  // Family other than 0 only.
  uint8_t StreamCount;
  uint8_t CoupledCount;
  uint8_t ChannelMapping[255];
};

// From the identification header (little-endian, after "OpusHead"): false
// when the bytes are no such header or end before its channel mapping.
bool dops_from_opus_head(const uint8_t* head, uint32_t size, OpusConfigRecord* out);
ErrorCode dops_write(BoxFile* file, const OpusConfigRecord* dops);
uint64_t dops_size(BoxFile* file, const OpusConfigRecord* dops);
// The record a transport stream's Opus descriptor gives, from its bytes
// after the extension tag: the channel configuration code (0 and 0x80 two
// discrete channels, 1 to 8 the standard layouts of RFC 7845, 0x82 to 0x88
// that many uncoupled streams in order), and for code 0x81 the explicit
// channel count, mapping family and, for a family other than 0, the
// bit-packed stream counts and channel mapping. Unsupported for a reserved
// code; Malformed when the explicit fields are cut or describe no layout a
// decoder can build. The pre-skip is left 0.
ErrorCode dops_from_ts_descriptor(const uint8_t* p, uint32_t n, OpusConfigRecord* out);

// The control header before each Opus packet in a transport stream.
struct OpusControlHeader {
  uint32_t header;  // its bytes
  uint32_t size;    // of the packet after it
  uint16_t start_trim;  // samples at the packet's start not played
  uint16_t end_trim;    // and at its end
};
// False when `p` holds no whole control header (its 11-bit prefix, its
// size bytes, the trims and extension its flags announce).
bool opus_control_header(const uint8_t* p, uint32_t n, OpusControlHeader* out);

// The output channel count of a 'dOps' payload; 0 when it does not say.
uint32_t dops_payload_channels(const uint8_t* payload, uint32_t size);
// The samples (at 48 kHz) a decoder drops at the start, from a 'dOps'
// payload; 0 when it does not say.
uint32_t dops_payload_pre_skip(const uint8_t* payload, uint32_t size);

}  // namespace vantorel
