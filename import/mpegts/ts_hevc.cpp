// HEVC access units of a transport stream: picture kinds for sync samples
// and leading pictures.
#include "import/mpegts/ts_hevc.h"

#include "codecs/hevc.h"
#include "codecs/nal_units.h"

namespace vantorel {

namespace {

constexpr uint32_t kRaslN = 8;
constexpr uint32_t kRaslR = 9;

}  // namespace

bool ts_hevc_scan(TsNalConfigs* cs, const uint8_t* au, uint32_t n, TsHevcPicture* out, ErrorCode* error) {
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
        *error = ts_nal_configs_take(cs, nal, length, &fresh);
        if (*error != ErrorCode::Ok) return true;
      } else {
        ts_nal_configs_after_picture(cs, nal, length);
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
      out->broken_link = type >= kHevcNalBlaWLp && type <= kHevcNalBlaWLp + 2;
    }
  }
  out->description = ts_nal_configs_current(cs);
  return true;
}

}  // namespace vantorel
