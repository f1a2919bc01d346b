#include "import/mpegts/ts_param_sets.h"

#include <cstring>

#include "codecs/h264.h"
#include "codecs/hevc.h"
#include "codecs/nal_units.h"
#include "io/byte_io.h"

namespace vantorel {

namespace {

void config_release(TsNalConfig* c) {
  for (uint32_t i = 0; i < c->sets.count; ++i) block_release(&c->sets.items[i]);
  c->sets.release();
  c->keys.release();
}

// Index of the set under `key`, or the count when there is none.
uint32_t find_key(const TsNalConfig* c, uint32_t key) {
  uint32_t i = 0;
  while (i < c->keys.count && c->keys[i] != key) ++i;
  return i;
}

ErrorCode add_set(TsNalConfig* c, uint32_t key, const uint8_t* nal, uint32_t n) {
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

ErrorCode copy_config(TsNalConfig* to, const TsNalConfig* from) {
  for (uint32_t i = 0; i < from->sets.count; ++i)
    VT_TRY(add_set(to, from->keys[i], from->sets[i].bytes, from->sets[i].length));
  return ErrorCode::Ok;
}

bool same_set(const TsNalConfig* c, uint32_t i, const uint8_t* nal, uint32_t n) {
  return c->sets[i].length == n && std::memcmp(c->sets[i].bytes, nal, n) == 0;
}

bool is_delimiter(TsNalCodec codec, const uint8_t* nal, uint32_t n) {
  if (codec == TsNalCodec::H264) return n >= 1 && h264_nal_type(nal) == kH264NalDelimiter;
  return n >= 2 && hevc_nal_type(nal) == kHevcNalDelimiter;
}

}  // namespace

void ts_nal_configs_release(TsNalConfigs* cs) {
  if (cs == nullptr) return;
  for (TsNalConfig& c : cs->configs) config_release(&c);
  cs->count = 0;
}

bool ts_nal_set_key(TsNalCodec codec, const uint8_t* nal, uint32_t n, uint32_t* key) {
  uint32_t id = 0;
  if (codec == TsNalCodec::Hevc) {
    if (n < 2) return false;
    const uint32_t type = hevc_nal_type(nal);
    if (type < kHevcNalVps || type > kHevcNalPps || !hevc_parameter_set_id(nal, n, &id)) return false;
    *key = type << 8 | id;
    return true;
  }
  if (n < 1) return false;
  const uint32_t type = h264_nal_type(nal);
  if (type == kH264NalSps) {
    AvcSpsInfo info;
    if (h264_parse_sps(nal, n, &info) != ErrorCode::Ok) return false;
    id = info.seq_parameter_set_id;
  } else if (type == kH264NalPps) {
    H264Pps pps;
    if (h264_parse_pps(nal, n, &pps) != ErrorCode::Ok) return false;
    id = pps.pic_parameter_set_id;
  } else {
    return false;
  }
  *key = type << 8 | id;
  return true;
}

ErrorCode ts_nal_configs_take(TsNalConfigs* cs, const uint8_t* nal, uint32_t n, bool* fresh) {
  uint32_t key = 0;
  // A configuration record gives each set 16 bits of length.
  if (n > 0xFFFF || !ts_nal_set_key(cs->codec, nal, n, &key)) return ErrorCode::Ok;
  if (cs->count == 0) {
    cs->count = 1;
    *fresh = true;
  }
  TsNalConfig* c = &cs->configs[cs->count - 1];
  const uint32_t at = find_key(c, key);
  if (at == c->keys.count) return add_set(c, key, nal, n);
  if (same_set(c, at, nal, n)) return ErrorCode::Ok;
  if (!*fresh) {
    if (cs->count == kTsMaxDescriptions) {
      cs->in_band = true;
      return ErrorCode::Ok;
    }
    TsNalConfig* next = &cs->configs[cs->count++];
    VT_TRY(copy_config(next, c));
    c = next;
    *fresh = true;
  }
  return block_assign(&c->sets.items[at], nal, n);
}

void ts_nal_configs_after_picture(TsNalConfigs* cs, const uint8_t* nal, uint32_t n) {
  uint32_t key = 0;
  if (!ts_nal_set_key(cs->codec, nal, n, &key)) return;
  if (cs->count > 0) {
    const TsNalConfig* c = &cs->configs[cs->count - 1];
    const uint32_t at = find_key(c, key);
    if (at < c->keys.count && same_set(c, at, nal, n)) return;
  }
  cs->in_band = true;
}

bool ts_nal_config_holds(TsNalCodec codec, const TsNalConfig* config, const uint8_t* nal, uint32_t n,
                         uint32_t held) {
  uint32_t key = 0;
  if (config == nullptr || !ts_nal_set_key(codec, nal, n, &key)) return false;
  const uint32_t at = find_key(config, key);
  return at < config->keys.count && at < held && same_set(config, at, nal, n);
}

bool ts_nal_sample(TsNalCodec codec, const uint8_t* au, uint32_t n, const TsNalConfig* config, uint8_t* out,
                   uint32_t capacity, uint32_t* size, bool restart, uint32_t held) {
  uint32_t code = 0, begin = 0, end = 0;
  uint64_t total = 0;
  bool any = false;
  if (!annexb_first_start_code(au, n, &code)) return false;
  while (annexb_next_unit(au, n, &code, &begin, &end)) {
    const uint8_t* nal = au + begin;
    const uint32_t length = end - begin;
    if (is_delimiter(codec, nal, length)) continue;
    if (ts_nal_config_holds(codec, config, nal, length, held)) continue;
    // One pass both measures and writes: past the capacity it only measures.
    if (out != nullptr && total + 4 + length <= capacity) {
      store_u32be(out + total, length);
      std::memcpy(out + total + 4, nal, length);
      if (restart && codec == TsNalCodec::Hevc && length >= 2 && hevc_nal_type(nal) == kHevcNalCra)
        out[total + 4] = static_cast<uint8_t>((nal[0] & 0x81) | kHevcNalBlaWLp << 1);
    }
    total += 4 + uint64_t{length};
    any = true;
  }
  if (!any || total > UINT32_MAX) return false;
  *size = static_cast<uint32_t>(total);
  return true;
}

}  // namespace vantorel
