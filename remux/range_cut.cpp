// The cut of one track's samples for a range: which it stores and the edit
// that shows exactly the range; a pure function of their times and flags.
#include <algorithm>

#include "remux/range_plan.h"

namespace vantorel {

namespace {

// The largest index whose decode time is at or before `t` (0 when none is).
uint32_t sample_at_or_before(const RangeSample* samples, uint32_t count, uint64_t t) {
  uint32_t low = 0, high = count;  // the answer lies in [low, high)
  while (high - low > 1) {
    uint32_t mid = low + (high - low) / 2;
    if (samples[mid].decode_time <= t)
      low = mid;
    else
      high = mid;
  }
  return low;
}

}  // namespace

bool range_cut_samples(const RangeSample* samples, uint32_t count, RangeTrackKind kind, uint64_t media_start,
                       uint64_t media_end, uint64_t preroll, RangeCut* cut) {
  *cut = RangeCut{};
  if (count == 0 || media_end <= media_start) return false;
  uint32_t first = 0, last = 0;
  if (kind == RangeTrackKind::Video) {
    // Every picture shown within the range, wherever it lies in decode order.
    bool any = false;
    for (uint32_t i = 0; i < count; ++i) {
      const int64_t pts = presentation_of(samples[i]);
      if (pts >= static_cast<int64_t>(media_end) || pts + samples[i].duration <= static_cast<int64_t>(media_start))
        continue;
      if (!any) first = i;
      last = i;
      any = true;
    }
    if (!any) return false;
    // Decoding starts at a sync sample; the pictures up to the last shown
    // are all stored, as the pictures shown depend on them.
    while (first > 0 && !samples[first].sync) --first;
  } else {
    first = sample_at_or_before(samples, count, media_start);
    if (samples[first].decode_time + samples[first].duration <= media_start) {
      if (first + 1 == count) return false;
      ++first;
    }
    if (samples[first].decode_time >= media_end) return false;
    last = sample_at_or_before(samples, count, media_end - 1);
    if (kind == RangeTrackKind::Sound) {
      const uint64_t covering = samples[first].decode_time;
      while (first > 0 && covering - samples[first].decode_time < preroll) --first;
    }
  }
  cut->first = first;
  cut->end = last + 1;
  const uint64_t base = samples[first].decode_time;
  if (kind == RangeTrackKind::Text) {
    // Re-timed instead: the samples that straddle a cut are shortened.
    const uint64_t last_end = samples[last].decode_time + samples[last].duration;
    if (media_start > base) cut->head_trim = static_cast<uint32_t>(std::min<uint64_t>(media_start - base, UINT32_MAX));
    if (last_end > media_end) cut->tail_trim = static_cast<uint32_t>(std::min<uint64_t>(last_end - media_end, UINT32_MAX));
    return true;
  }
  cut->media_time = media_start > base ? static_cast<int64_t>(media_start - base) : 0;
  cut->media_end = static_cast<int64_t>(media_end - base);
  return true;
}

}  // namespace vantorel
