#pragma once
// HEVC access units of a transport stream: the parameter sets each sample
// description gets (a set that redefines one starts the next description),
// what kind of picture a unit holds, and the unit in the form a sample
// holds it.
#include <cstdint>

#include "boxes/owned_block.h"
#include "io/grow_array.h"

namespace vantorel {

// One description's parameter sets: whole NAL units, one per kind and id,
// in the order first met.
struct TsHevcConfig {
  GrowArray<OwnedBlock> sets;
  GrowArray<uint32_t> keys;  // nal_unit_type << 8 | id, beside each set
};

// More descriptions than this are not made: a later redefinition stays in
// the samples, and the entries say so ('hev1').
constexpr uint32_t kTsMaxDescriptions = 32;

struct TsHevcConfigs {
  TsHevcConfig configs[kTsMaxDescriptions];
  uint32_t count;
  bool in_band;  // some sample carries a set of its own
};
void ts_hevc_configs_release(TsHevcConfigs* configs);

struct TsHevcPicture {
  bool picture;   // a slice is in the unit
  bool irap;      // an IDR, CRA or BLA picture: decoding may start here
  bool leading;   // a RASL picture: it references pictures before its IRAP
  bool recovery;  // a recovery point message
  int32_t recovery_poc;
  uint32_t description;  // index of the configuration the unit is read by
};

// Reads the NAL units of an Annex B access unit: parameter sets go into
// the current configuration (a redefinition into a new one), the first
// slice tells the picture's kind. False when the bytes hold no start code.
bool ts_hevc_scan(TsHevcConfigs* configs, const uint8_t* au, uint32_t n, TsHevcPicture* out, ErrorCode* error);

// An access unit as the sample holds it: 4-byte lengths, access unit
// delimiters and copies of `config`'s sets left out. `out` (may be null)
// receives the bytes, `*size` their count; false when no unit is left.
bool ts_hevc_sample(const uint8_t* au, uint32_t n, const TsHevcConfig* config, uint8_t* out, uint32_t* size);

}  // namespace vantorel
