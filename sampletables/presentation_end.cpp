#include "boxes/box_tree.h"
#include "sampletables/ctts.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"
#include "sampletables/stts_total.h"

namespace vantorel {

uint64_t presentation_end_time(TrackBoxes* track) {
  auto* stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  auto* ctts = track_record<CompositionOffsetTable>(track, BoxTypeId::Ctts);
  if (stts == nullptr) return 0;
  if (ctts == nullptr || ctts->entries.count == 0) return stts_total_duration(track);
  uint64_t samples = sample_count(track);
  uint64_t dts = 0;
  uint64_t end = 0;
  uint32_t c = 0, in_c = 0;
  uint64_t done = 0;
  for (const TimeToSampleEntry& run : stts->entries) {
    for (uint32_t i = 0; i < run.sample_count && done < samples; ++i, ++done) {
      while (c + 1 < ctts->entries.count && in_c >= ctts->entries[c].sample_count) {
        ++c;
        in_c = 0;
      }
      int64_t pts = static_cast<int64_t>(dts) + ctts->entries[c].sample_offset;
      int64_t sample_end = pts + run.sample_delta;
      if (sample_end > 0 && static_cast<uint64_t>(sample_end) > end) end = static_cast<uint64_t>(sample_end);
      dts += run.sample_delta;
      ++in_c;
    }
  }
  return end;
}

}  // namespace vantorel
