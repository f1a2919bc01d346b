// Statistics of one track: counts, sizes, durations and bit rates.
#include "boxes/mdhd.h"
#include "mediafile/mediafile.h"
#include "sampletables/stco.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"

namespace vantorel {

namespace {

// Walks the decode times of a track's samples run by run.
struct DeltaWalker {
  const TimeToSampleTable* stts;
  uint32_t entry = 0;
  uint32_t in_entry = 0;
  uint64_t time = 0;

  uint32_t delta() const {
    if (stts == nullptr || stts->entries.count == 0) return 0;
    uint32_t e = entry < stts->entries.count ? entry : stts->entries.count - 1;
    return stts->entries[e].sample_delta;
  }
  void settle() {
    while (stts != nullptr && entry < stts->entries.count && in_entry >= stts->entries[entry].sample_count) {
      ++entry;
      in_entry = 0;
    }
  }
  void next() {
    time += delta();
    ++in_entry;
    settle();
  }
};

}  // namespace

uint32_t track_sample_count(TrackBoxes* track) { return sample_count(track); }

uint32_t track_chunk_count(TrackBoxes* track) {
  auto* t = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco);
  return t != nullptr ? t->offsets.count : 0;
}

uint32_t track_max_sample_size(TrackBoxes* track) {
  auto* t = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
  if (t == nullptr) return 0;
  if (!stsz_is_listed(t)) return t->sample_size;
  uint32_t largest = 0;
  for (uint32_t s : t->sizes)
    if (s > largest) largest = s;
  return largest;
}

uint32_t track_min_delta(TrackBoxes* track) {
  auto* t = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  uint32_t smallest = UINT32_MAX;
  if (t == nullptr) return smallest;
  for (const TimeToSampleEntry& e : t->entries)
    if (e.sample_count != 0 && e.sample_delta < smallest) smallest = e.sample_delta;
  return smallest;
}

bool track_delta_varies(TrackBoxes* track) {
  auto* t = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  return t != nullptr && t->entries.count > 1;
}

uint64_t track_total_bytes(TrackBoxes* track) {
  auto* t = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
  if (t == nullptr) return 0;
  if (!stsz_is_listed(t)) return uint64_t{t->sample_size} * t->sample_count;
  uint64_t total = 0;
  for (uint32_t s : t->sizes) total += s;
  return total;
}

uint32_t track_avg_bitrate(TrackBoxes* track) {
  auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
  uint64_t bytes = track_total_bytes(track);
  if (mdhd == nullptr || mdhd->duration == 0 || bytes == 0) return 0;
  return low32(div64(mul64(bytes, mdhd->timescale), mdhd->duration)) * 8;
}

uint32_t track_max_bitrate(TrackBoxes* track) {
  auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
  auto* stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  auto* sizes = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
  uint32_t n = sample_count(track);
  if (mdhd == nullptr || stts == nullptr || sizes == nullptr || n == 0 || mdhd->timescale == 0) return 0;
  // The most bytes in any window of one second (plus the first sample's
  // duration), with a start and an end walker over the samples.
  DeltaWalker start{stts};
  DeltaWalker end{stts};
  start.settle();
  end.settle();
  uint32_t e = 0;
  uint64_t sum = 0;
  uint64_t largest = 0;
  for (uint32_t s = 0; s < n; ++s) {
    uint64_t limit = start.time + start.delta() + mdhd->timescale;
    while (e < n && end.time < limit) {
      sum += stsz_sample_size(sizes, e);
      end.next();
      ++e;
    }
    if (sum > largest) largest = sum;
    if (e >= n) break;
    sum -= stsz_sample_size(sizes, s);
    start.next();
  }
  uint64_t bits = largest * 8;
  return bits > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bits);
}

}  // namespace vantorel
