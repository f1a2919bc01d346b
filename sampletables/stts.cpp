#include "sampletables/stts.h"

#include <cstring>

#include "sampletables/runs.h"
#include "sampletables/table_io.h"

namespace vantorel {

namespace {

TimeToSampleTable* stts_of(void* context) {
  return track_record<TimeToSampleTable>(static_cast<TrackBoxes*>(context), BoxTypeId::Stts);
}

// Sum of the deltas of the first `samples` samples. With at most 2^32 - 1
// samples of at most 2^32 - 1 ticks the sum cannot wrap.
uint64_t sum_of_first(const TimeToSampleTable* t, uint64_t samples) {
  uint64_t time = 0;
  for (const TimeToSampleEntry& e : t->entries) {
    if (samples == 0) break;
    uint64_t n = e.sample_count < samples ? e.sample_count : samples;
    time += n * e.sample_delta;
    samples -= n;
  }
  return time;
}

}  // namespace

void stts_release(BoxFile*, void* context) {
  TimeToSampleTable* t = stts_of(context);
  if (t != nullptr) t->entries.release();
}

ErrorCode stts_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  TimeToSampleTable* t = stts_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  if (tables_skipped(file)) return ErrorCode::Ok;
  return read_word_table(file, header, &t->version, &t->flags, &t->entries, "'stts' entry count larger than the box");
}

ErrorCode stts_write(BoxFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  TimeToSampleTable* t = stts_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  return write_word_table(file, t->version, t->flags, t->entries);
}

uint64_t stts_size(BoxFile*, void* context) {
  TimeToSampleTable* t = stts_of(context);
  if (t == nullptr) return 0;
  return word_table_size(t->entries);
}

ErrorCode stts_append(BoxFile* file, TrackBoxes* track, uint32_t n, uint32_t d) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  return stts_append(stts_of(track), n, d);
}

ErrorCode stts_append(TimeToSampleTable* t, uint32_t n, uint32_t d) {
  if (t == nullptr) return ErrorCode::BadArgument;
  return append_run(&t->entries, n, &TimeToSampleEntry::sample_delta, d);
}

ErrorCode stts_locate(TrackBoxes* track, uint32_t k, uint32_t* entry_index, uint32_t* index_in_entry) {
  if (track == nullptr || entry_index == nullptr || index_in_entry == nullptr) return ErrorCode::BadArgument;
  *entry_index = 0;
  *index_in_entry = 0;
  TimeToSampleTable* t = stts_of(track);
  if (t == nullptr || t->entries.count == 0) return ErrorCode::Missing;
  if (!run_locate(t->entries.items, t->entries.count, k, entry_index, index_in_entry)) return ErrorCode::BadArgument;
  return ErrorCode::Ok;
}

uint64_t stts_decode_time(TrackBoxes* track, uint32_t k) {
  TimeToSampleTable* t = stts_of(track);
  if (t == nullptr || k == 0) return 0;
  uint64_t limit = sample_limit(track);
  return sum_of_first(t, k - 1 < limit ? k - 1 : limit);
}

uint32_t stts_sample_at_time(TrackBoxes* track, uint64_t t) {
  TimeToSampleTable* table = stts_of(track);
  if (table == nullptr) return 1;
  uint64_t left = sample_limit(track);
  uint64_t start = 0;   // decode time of the run's first sample
  uint64_t before = 0;  // samples before the run
  for (const TimeToSampleEntry& e : table->entries) {
    if (left == 0) break;
    uint64_t n = e.sample_count < left ? e.sample_count : left;
    left -= n;
    if (n == 0) continue;
    if (e.sample_delta == 0) {
      if (t == start) return static_cast<uint32_t>(before + 1);
    } else {
      uint64_t span = n * e.sample_delta;
      if (t - start < span) return static_cast<uint32_t>(before + 1 + (t - start) / e.sample_delta);
      start += span;
    }
    before += n;
  }
  return 0;
}

uint64_t stts_total_duration(TrackBoxes* track) {
  TimeToSampleTable* t = stts_of(track);
  if (t == nullptr) return 0;
  return sum_of_first(t, sample_limit(track));
}

}  // namespace vantorel
