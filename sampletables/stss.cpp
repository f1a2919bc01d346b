#include "sampletables/stss.h"

#include "sampletables/table_io.h"

namespace vantorel {

namespace {

SyncSampleTable* stss_of(void* context) {
  return track_record<SyncSampleTable>(static_cast<TrackBoxes*>(context), BoxTypeId::Stss);
}

}  // namespace

void stss_release(BoxFile*, void* context) {
  SyncSampleTable* t = stss_of(context);
  if (t != nullptr) t->samples.release();
}

ErrorCode stss_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  SyncSampleTable* t = stss_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  if (tables_skipped(file)) return ErrorCode::Ok;
  return read_word_table(file, header, &t->version, &t->flags, &t->samples, "'stss' entry count larger than the box");
}

uint64_t stss_size(BoxFile*, void* context) {
  SyncSampleTable* t = stss_of(context);
  if (t == nullptr) return 0;
  return word_table_size(t->samples);
}

ErrorCode sync_samples_write(BoxFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  SyncSampleTable* t = stss_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  return write_word_table(file, t->version, t->flags, t->samples);
}

ErrorCode stss_append(BoxFile* file, TrackBoxes* track, uint32_t sample) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  return stss_append(stss_of(track), sample);
}

ErrorCode stss_append(SyncSampleTable* t, uint32_t sample) {
  if (t == nullptr) return ErrorCode::BadArgument;
  return t->samples.append_doubling(sample);
}

uint32_t stss_sync_at_or_before(TrackBoxes* track, uint32_t k) {
  SyncSampleTable* t = stss_of(track);
  if (k == 0 || t == nullptr || t->samples.count == 0) return k;
  for (uint32_t i = t->samples.count; i-- > 0;)
    if (t->samples[i] <= k) return t->samples[i];
  return t->samples[0];
}

uint32_t stss_sync_at_or_after(TrackBoxes* track, uint32_t k) {
  SyncSampleTable* t = stss_of(track);
  if (k == 0 || t == nullptr || t->samples.count == 0) return k;
  for (uint32_t s : t->samples)
    if (s >= k) return s;
  return t->samples.back();
}

uint32_t stss_index_of(TrackBoxes* track, uint32_t k) {
  SyncSampleTable* t = stss_of(track);
  if (k == 0 || t == nullptr) return 0;
  for (uint32_t i = 0; i < t->samples.count; ++i)
    if (t->samples[i] == k) return i;
  return 0;
}

}  // namespace vantorel
