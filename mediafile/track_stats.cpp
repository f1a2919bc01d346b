// Statistics of one track: counts, sizes, durations and bit rates.
#include <algorithm>

#include "boxes/mdhd.h"
#include "mediafile/media_file.h"
#include "sampletables/formats.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stsd.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"

namespace vantorel {

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

namespace {

// A walk over a track's decode times and sizes alone: the bit-rate window
// steps two of them over every sample, and a table cursor would also keep
// offsets, composition offsets and sync samples that it never reads. Runs
// and sizes behave as the cursor's: the last run's delta goes on past the
// table, a size the table lacks is 0.
struct TimedSizes {
  const TimeToSampleEntry* runs;
  uint32_t run_count;
  uint32_t run;
  uint32_t in_run;
  const uint32_t* listed;  // null: every sample is `constant` bytes
  uint32_t listed_count;
  uint32_t constant;
  uint32_t index;  // 0-based
  uint64_t time;

  void start(const TimeToSampleTable& stts, const SampleSizeTable& sizes) {
    runs = stts.entries.items;
    run_count = stts.entries.count;
    run = 0;
    in_run = 0;
    while (run + 1 < run_count && runs[run].sample_count == 0) ++run;
    listed = stsz_is_listed(&sizes) ? sizes.sizes.items : nullptr;
    listed_count = sizes.sizes.count;
    constant = sizes.sample_size;
    index = 0;
    time = 0;
  }
  uint32_t duration() const { return run < run_count ? runs[run].sample_delta : 0; }
  uint32_t size() const { return size_at(index); }
  uint32_t size_at(uint32_t i) const {
    if (listed == nullptr) return constant;
    return i < listed_count ? listed[i] : 0;
  }
  void next() {
    time += duration();
    ++index;
    if (run >= run_count) return;
    if (++in_run < runs[run].sample_count || run + 1 >= run_count) return;
    ++run;
    in_run = 0;
    while (run + 1 < run_count && runs[run].sample_count == 0) ++run;
  }
};

// The most bytes in any window of one second (plus the first sample's
// duration) when one delta times every sample: each window holds the same
// number of samples, 1 + ceil(timescale / delta), and slides a sample at a time.
uint64_t busiest_even(const TimedSizes& sizes, uint32_t n, uint64_t delta, uint32_t timescale) {
  const uint64_t held = std::min<uint64_t>(n, 1 + (timescale + delta - 1) / delta);
  uint64_t sum = 0;
  for (uint32_t i = 0; i < held; ++i) sum += sizes.size_at(i);
  uint64_t largest = sum;
  for (uint64_t i = 1; i + held <= n; ++i) {
    sum -= sizes.size_at(static_cast<uint32_t>(i - 1));
    sum += sizes.size_at(static_cast<uint32_t>(i + held - 1));
    if (sum > largest) largest = sum;
  }
  return largest;
}

// The same for any time table, with a start and an end walk over the samples.
uint64_t busiest_walked(TimedSizes start, TimedSizes end, uint32_t n, uint32_t timescale) {
  uint64_t sum = 0;
  uint64_t largest = 0;
  for (uint32_t s = 0; s < n; ++s) {
    const uint64_t limit = start.time + start.duration() + timescale;
    while (end.index < n && end.time < limit) {
      sum += end.size();
      end.next();
    }
    if (sum > largest) largest = sum;
    if (end.index >= n) break;
    sum -= start.size();
    start.next();
  }
  return largest;
}

}  // namespace

uint32_t track_max_bitrate(TrackBoxes* track) {
  auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
  auto* stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  auto* sizes = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
  if (mdhd == nullptr || mdhd->timescale == 0 || stts == nullptr || sizes == nullptr) return 0;
  const uint32_t n = sizes->sample_count;
  if (n == 0) return 0;
  TimedSizes walk;
  walk.start(*stts, *sizes);
  const auto& runs = stts->entries;
  const uint64_t largest = runs.count == 1 && runs[0].sample_delta != 0
                               ? busiest_even(walk, n, runs[0].sample_delta, mdhd->timescale)
                               : busiest_walked(walk, walk, n, mdhd->timescale);
  uint64_t bits = largest * 8;
  return bits > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bits);
}

// Also the largest of the samples: the sample buffer is sized by what can be
// read, never by a size the tables merely claim. A 'twos' sample counts its
// PCM frames in its duration, and a frame takes at least one byte: a sample
// claiming more frames than bytes ends the track too. A track cut short (a
// recording ended by a power loss) is carried up to its last whole sample.
ErrorCode track_readable_samples(MediaFile* file, uint32_t track_id, ReadableSamples* out) {
  if (out == nullptr) return ErrorCode::BadArgument;
  *out = ReadableSamples{};
  if (file == nullptr) return ErrorCode::BadArgument;
  TrackBoxes* track = find_track(file->root, track_id);
  if (track == nullptr) return ErrorCode::Missing;
  TableCursor c;
  table_cursor_begin(&c, track, true);
  if (c.stts == nullptr || c.sizes == nullptr || c.stsc == nullptr || c.chunk_offsets == nullptr) return ErrorCode::Ok;
  if (c.stsc->entries.count == 0) return ErrorCode::Ok;
  SoundSampleEntry* sound = sound_entry(file, track, 0);
  const bool pcm_frames = sound != nullptr && pcm_counts_frames(sound->format);
  // Samples gathered from pieces of the file (an imported stream turned
  // into MP4 form) had every piece checked when the file was opened.
  const bool gathered = find_converted(file, track_id) != nullptr;
  const uint64_t file_length = file_size(file);
  uint64_t timed = 0;
  for (const TimeToSampleEntry& e : c.stts->entries) timed += e.sample_count;
  const uint32_t count = static_cast<uint32_t>(c.sizes->sample_count < timed ? c.sizes->sample_count : timed);
  out->described = count;
  // `count` is at most the timed samples: each has its own duration.
  table_cursor_limit(&c, count);
  // The cursor's own place and size: the rest of a sample is asked for only
  // where it counts.
  for (; c.current != 0; table_cursor_next(&c)) {
    if (!gathered && (c.offset > file_length || c.size > file_length - c.offset)) {
      out->past_end = true;
      break;
    }
    if (pcm_frames) {
      TableSample s;
      table_cursor_sample(c, &s);
      if (s.duration > s.size) break;
    }
    if (c.size > out->largest) out->largest = c.size;
    ++out->count;
  }
  return ErrorCode::Ok;
}

uint64_t track_samples_duration(MediaFile* file, uint32_t track_id, uint32_t from, uint32_t to) {
  TrackBoxes* track = file != nullptr ? find_track(file->root, track_id) : nullptr;
  auto* stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  if (stts == nullptr) return 0;
  // Run by run: a cut track's missing samples may be most of it.
  uint64_t units = 0;
  uint64_t first = 0;
  for (const TimeToSampleEntry& e : stts->entries) {
    uint64_t last = first + e.sample_count;
    uint64_t lo = first > from ? first : from;
    uint64_t hi = last < to ? last : to;
    if (hi > lo) units += (hi - lo) * e.sample_delta;
    first = last;
    if (first >= to) break;
  }
  return units;
}

uint32_t track_sample_size(MediaFile* file, uint32_t track_id, uint32_t index) {
  TrackBoxes* track = file != nullptr ? find_track(file->root, track_id) : nullptr;
  return stsz_sample_size(track_record<SampleSizeTable>(track, BoxTypeId::Stsz), index);
}

}  // namespace vantorel
