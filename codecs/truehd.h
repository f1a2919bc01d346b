#pragma once
// Dolby TrueHD (MLP): the major sync of an access unit, and the 'dmlp' box
// an 'mlpa' entry carries.
#include <cstdint>

#include "boxes/box_file.h"

namespace vantorel {

struct DmlpRecord {
  uint32_t format_info;
  uint16_t peak_data_rate;  // 15 bits
};
constexpr uint64_t kDmlpPayloadSize = 10;

// The record and sample rate from the first access unit of `data` that
// carries a TrueHD major sync (format_sync 0xF8726FBA); false when the first
// unit has none.
bool dmlp_from_access_unit(const uint8_t* data, uint32_t size, DmlpRecord* out, uint32_t* sample_rate);
// The rate a TrueHD format_info names; 0 for a reserved code.
uint32_t truehd_sample_rate(uint32_t format_info);
// The channels of the widest presentation a TrueHD format_info assigns
// (the 8-channel one, else the 6-channel one); 0 when it assigns none.
uint32_t truehd_channel_count(uint32_t format_info);

// One access unit at the front of `data`: its length from the header, and
// what its major sync says when it has one. An access unit lasts 40 samples
// at 44.1 and 48 kHz, twice that at 88.2 and 96 kHz, and so on.
struct TrueHdUnit {
  uint32_t length;  // bytes, header included
  bool major_sync;       // a whole one
  uint32_t format_info;  // with a major sync
  uint32_t sample_rate;  // with a major sync; 0 without one
};
// False when fewer than 4 bytes are given or the header's length is shorter
// than a header and a substream directory entry. Only the bytes within the
// unit's length are looked at for a major sync.
bool truehd_parse_unit(const uint8_t* data, uint32_t size, TrueHdUnit* out);
uint32_t truehd_unit_samples(uint32_t sample_rate);
ErrorCode dmlp_write(BoxFile* file, const DmlpRecord* dmlp);
// The box's payload as bytes.
void dmlp_store(uint8_t out[kDmlpPayloadSize], const DmlpRecord& dmlp);

}  // namespace vantorel
