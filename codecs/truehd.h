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
ErrorCode dmlp_write(BoxFile* file, const DmlpRecord* dmlp);

}  // namespace vantorel
