#include "import/mpegts/ts_time.h"

namespace vantorel {

int64_t ts_unwrap(TsUnwrap* u, uint64_t raw) {
  int64_t value = static_cast<int64_t>(raw & (kTsTimeWrap - 1));
  if (!u->started) {
    u->started = true;
    u->last = value;
    return value;
  }
  // The step modulo 2^33, taken as the signed value nearest zero.
  int64_t step = (value - u->last) & (kTsTimeWrap - 1);
  if (step >= kTsTimeWrap / 2) step -= kTsTimeWrap;
  u->last += step;
  return u->last;
}

TsJump ts_jump(int64_t previous, int64_t next, bool discontinuity, int64_t limit) {
  // Times that cannot be subtracted (one unknown, INT64_MIN) are as far apart as can be.
  int64_t step = 0;
  if (__builtin_sub_overflow(next, previous, &step)) return next > previous ? TsJump::Forward : TsJump::Backward;
  if (step > limit) return TsJump::Forward;
  if (step < 0 && (discontinuity || -step > limit)) return TsJump::Backward;
  return TsJump::None;
}

void ts_join_reference(const TsStretch* stretches, uint32_t n, int64_t* shifts) {
  for (uint32_t i = 0; i < n; ++i)
    shifts[i] = i == 0 ? 0 : stretches[i - 1].end + shifts[i - 1] - stretches[i].start;
}

uint32_t ts_match_stretch(const TsStretch* reference, uint32_t n, uint64_t offset) {
  uint32_t best = 0;
  uint64_t best_distance = UINT64_MAX;
  for (uint32_t i = 0; i < n; ++i) {
    uint64_t at = reference[i].offset;
    uint64_t distance = at > offset ? at - offset : offset - at;
    if (distance < best_distance) {
      best = i;
      best_distance = distance;
    }
  }
  return best;
}

}  // namespace vantorel
