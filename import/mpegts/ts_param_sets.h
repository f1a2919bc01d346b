#pragma once
// The parameter sets of an H.264 or HEVC stream in a transport stream, kept
// per sample description: sets met before a picture join the current
// description; one that redefines a set of the current description starts
// the next (a copy of the current one with it changed). A sample leaves out
// the sets its description holds and keeps any other.
#include <cstdint>

#include "boxes/owned_block.h"
#include "io/error.h"
#include "io/grow_array.h"

namespace vantorel {

enum class TsNalCodec : uint8_t { H264, Hevc };

// One description's parameter sets: whole NAL units, one per kind and id,
// in the order first met.
struct TsNalConfig {
  GrowArray<OwnedBlock> sets;
  GrowArray<uint32_t> keys;  // NAL unit type << 8 | id, beside each set
};

// More descriptions than this are not made: a later redefinition stays in
// the samples, and the entries say so ('avc3', 'hev1').
constexpr uint32_t kTsMaxDescriptions = 32;

struct TsNalConfigs {
  TsNalCodec codec;
  TsNalConfig configs[kTsMaxDescriptions];
  uint32_t count;
  bool in_band;  // some sample carries a set of its own
};
void ts_nal_configs_release(TsNalConfigs* configs);

// Whether `nal` is a parameter set the descriptions hold (SPS and PPS;
// for HEVC also VPS), and its key.
bool ts_nal_set_key(TsNalCodec codec, const uint8_t* nal, uint32_t n, uint32_t* key);

// A set met before the unit's first picture. `*fresh` (false at the start
// of each unit): the current description was made for this unit, so a
// redefinition changes it in place. Sets that cannot be a description's
// (no id, longer than 65535 bytes) are left to the sample.
ErrorCode ts_nal_configs_take(TsNalConfigs* configs, const uint8_t* nal, uint32_t n, bool* fresh);

// A set met after the unit's first picture is for the pictures after it:
// one the current description does not hold stays in the sample.
void ts_nal_configs_after_picture(TsNalConfigs* configs, const uint8_t* nal, uint32_t n);

// The description units are read by now.
inline uint32_t ts_nal_configs_current(const TsNalConfigs* configs) {
  return configs->count > 0 ? configs->count - 1 : 0;
}

// Whether a sample read by `config` leaves the unit out: a copy of one of
// the first `held` of its sets. A description gains sets as the stream goes
// on but never changes or drops one, so its first sets are those it held
// when a unit was split: the unit is read back as it was measured then.
bool ts_nal_config_holds(TsNalCodec codec, const TsNalConfig* config, const uint8_t* nal, uint32_t n,
                         uint32_t held = UINT32_MAX);

// How many sets a description holds now (0 for none): what a unit split
// against it now is read back with.
inline uint32_t ts_nal_config_sets(const TsNalConfig* config) { return config != nullptr ? config->sets.count : 0; }

// An Annex B access unit as the sample holds it: 4-byte lengths, access
// unit delimiters and copies of `config`'s sets (may be null) left out.
// `*size` receives their count and `out` (may be null) the bytes when they
// are at most `capacity`; false when no unit is left. `restart`: the unit starts a stream spliced on to
// another, and an HEVC CRA picture in it is written as the BLA picture it
// then is (same size), so a decoder neither keeps its order count nor
// decodes its leading pictures. `held`: as ts_nal_config_holds.
bool ts_nal_sample(TsNalCodec codec, const uint8_t* au, uint32_t n, const TsNalConfig* config, uint8_t* out,
                   uint32_t capacity, uint32_t* size, bool restart = false, uint32_t held = UINT32_MAX);

}  // namespace vantorel
