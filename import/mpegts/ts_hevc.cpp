// HEVC access units of a transport stream: parameter sets into sample
// descriptions, picture kinds for sync samples and leading pictures.
#include "import/mpegts/ts_hevc.h"

#include <cstring>

#include "codecs/hevc.h"
#include "codecs/nal_units.h"
#include "io/byte_io.h"

namespace vantorel {

namespace {

constexpr uint32_t kRaslN = 8;
constexpr uint32_t kRaslR = 9;

void config_release(TsHevcConfig* c) {
  for (uint32_t i = 0; i < c->sets.count; ++i) block_release(&c->sets.items[i]);
  c->sets.release();
  c->keys.release();
}

// Index of the set under `key`, or the count when there is none.
uint32_t find_key(const TsHevcConfig* c, uint32_t key) {
  uint32_t i = 0;
  while (i < c->keys.count && c->keys[i] != key) ++i;
  return i;
}

ErrorCode add_set(TsHevcConfig* c, uint32_t key, const uint8_t* nal, uint32_t n) {
  OwnedBlock b{};
  VT_TRY(block_assign(&b, nal, n));
  ErrorCode e = c->sets.append_doubling(b, 8);
  if (e == ErrorCode::Ok) e = c->keys.append_doubling(key, 8);
  if (e != ErrorCode::Ok) {
    if (c->sets.count > c->keys.count) --c->sets.count;
    block_release(&b);
  }
  return e;
}

ErrorCode copy_config(TsHevcConfig* to, const TsHevcConfig* from) {
  for (uint32_t i = 0; i < from->sets.count; ++i)
    VT_TRY(add_set(to, from->keys[i], from->sets[i].bytes, from->sets[i].length));
  return ErrorCode::Ok;
}

bool same_set(const TsHevcConfig* c, uint32_t i, const uint8_t* nal, uint32_t n) {
  return c->sets[i].length == n && std::memcmp(c->sets[i].bytes, nal, n) == 0;
}

// A parameter set met in the unit. `fresh`: the current configuration was
// made for this unit, so a redefinition may change it in place.
ErrorCode take_set(TsHevcConfigs* cs, const uint8_t* nal, uint32_t n, bool* fresh) {
  uint32_t id = 0;
  if (n > 0xFFFF || !hevc_parameter_set_id(nal, n, &id)) return ErrorCode::Ok;  // stays in the sample
  const uint32_t key = hevc_nal_type(nal) << 8 | id;
  if (cs->count == 0) {
    cs->count = 1;
    *fresh = true;
  }
  TsHevcConfig* c = &cs->configs[cs->count - 1];
  const uint32_t at = find_key(c, key);
  if (at == c->keys.count) return add_set(c, key, nal, n);
  if (same_set(c, at, nal, n)) return ErrorCode::Ok;
  if (!*fresh) {
    if (cs->count == kTsMaxDescriptions) {
      cs->in_band = true;
      return ErrorCode::Ok;
    }
    TsHevcConfig* next = &cs->configs[cs->count++];
    VT_TRY(copy_config(next, c));
    c = next;
    *fresh = true;
  }
  OwnedBlock& b = c->sets.items[at];
  return block_assign(&b, nal, n);
}

// Whether the set is the current configuration's.
bool known_set(const TsHevcConfigs* cs, const uint8_t* nal, uint32_t n) {
  uint32_t id = 0;
  if (cs->count == 0 || !hevc_parameter_set_id(nal, n, &id)) return false;
  const TsHevcConfig* c = &cs->configs[cs->count - 1];
  const uint32_t at = find_key(c, hevc_nal_type(nal) << 8 | id);
  return at < c->keys.count && same_set(c, at, nal, n);
}

}  // namespace

void ts_hevc_configs_release(TsHevcConfigs* cs) {
  if (cs == nullptr) return;
  for (TsHevcConfig& c : cs->configs) config_release(&c);
  cs->count = 0;
}

bool ts_hevc_scan(TsHevcConfigs* cs, const uint8_t* au, uint32_t n, TsHevcPicture* out, ErrorCode* error) {
  *out = TsHevcPicture{};
  *error = ErrorCode::Ok;
  uint32_t code = 0, begin = 0, end = 0;
  if (!annexb_first_start_code(au, n, &code)) return false;
  bool fresh = false;
  while (annexb_next_unit(au, n, &code, &begin, &end)) {
    const uint8_t* nal = au + begin;
    const uint32_t length = end - begin;
    if (length < 2) continue;
    const uint32_t type = hevc_nal_type(nal);
    if (type >= kHevcNalVps && type <= kHevcNalPps) {
      // Sets after the picture's first slice are for the pictures after it:
      // one that differs stays in the sample.
      if (!out->picture) {
        *error = take_set(cs, nal, length, &fresh);
        if (*error != ErrorCode::Ok) return true;
      } else if (!known_set(cs, nal, length)) {
        cs->in_band = true;
      }
    } else if (type == kHevcNalSeiPrefix && !out->picture) {
      int32_t poc = 0;
      if (hevc_sei_recovery_poc(nal, length, &poc)) {
        out->recovery = true;
        out->recovery_poc = poc;
      }
    } else if (hevc_is_slice(type) && !out->picture) {
      out->picture = true;
      out->irap = hevc_is_irap(type);
      out->leading = type == kRaslN || type == kRaslR;
    }
  }
  out->description = cs->count > 0 ? cs->count - 1 : 0;
  return true;
}

bool ts_hevc_sample(const uint8_t* au, uint32_t n, const TsHevcConfig* config, uint8_t* out, uint32_t* size) {
  uint32_t code = 0, begin = 0, end = 0;
  uint64_t total = 0;
  bool any = false;
  if (!annexb_first_start_code(au, n, &code)) return false;
  while (annexb_next_unit(au, n, &code, &begin, &end)) {
    const uint8_t* nal = au + begin;
    const uint32_t length = end - begin;
    const uint32_t type = length >= 2 ? hevc_nal_type(nal) : 0;
    if (length >= 2 && type == kHevcNalDelimiter) continue;
    uint32_t id = 0;
    if (config != nullptr && length >= 2 && type >= kHevcNalVps && type <= kHevcNalPps &&
        hevc_parameter_set_id(nal, length, &id)) {
      const uint32_t at = find_key(config, type << 8 | id);
      if (at < config->keys.count && same_set(config, at, nal, length)) continue;
    }
    if (out != nullptr) {
      store_u32be(out + total, length);
      std::memcpy(out + total + 4, nal, length);
    }
    total += 4 + uint64_t{length};
    any = true;
  }
  if (!any || total > UINT32_MAX) return false;
  *size = static_cast<uint32_t>(total);
  return true;
}

}  // namespace vantorel
