#pragma once
// HEVC access units of a transport stream: what kind of picture a unit
// holds, its parameter sets taken into the descriptions on the way.
#include <cstdint>

#include "import/mpegts/ts_param_sets.h"

namespace vantorel {

struct TsHevcPicture {
  bool picture;   // a slice is in the unit
  bool irap;      // an IDR, CRA or BLA picture: decoding may start here
  bool leading;   // a RASL picture: it references pictures before its IRAP
  bool broken_link;  // a BLA picture: a splice, the RASL pictures after it cannot be decoded
  bool recovery;  // a recovery point message
  int32_t recovery_poc;
  uint32_t description;  // index of the configuration the unit is read by
};

// Reads the NAL units of an Annex B access unit: parameter sets go into
// the current configuration (a redefinition into a new one), the first
// slice tells the picture's kind. False when the bytes hold no start code.
bool ts_hevc_scan(TsNalConfigs* configs, const uint8_t* au, uint32_t n, TsHevcPicture* out, ErrorCode* error);

}  // namespace vantorel
