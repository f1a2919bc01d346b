#include "sampletables/stss.h"

#include "sampletables/table_io.h"

namespace vantorel {

namespace {

SyncSampleTable* stss_of(void* context) {
  return track_record<SyncSampleTable>(static_cast<TrackBoxes*>(context), BoxTypeId::Stss);
}

}  // namespace

void stss_release(MediaFile*, void* context) {
  SyncSampleTable* t = stss_of(context);
  if (t != nullptr) t->samples.release();
}

ErrorCode stss_read(MediaFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  SyncSampleTable* t = stss_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  if (tables_skipped(file)) return ErrorCode::Ok;
  TableHead head;
  VT_TRY(read_table_head(file, header, 8, &head));
  t->version = head.version;
  t->flags = head.flags;
  uint32_t count = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (!box_holds(file, header, count, 4)) return malformed(file, "'stss' entry count larger than the box");
  if (count == 0) return ErrorCode::Ok;
  VT_TRY(t->samples.reserve(count));
  VT_TRY(read_u32_block(file, t->samples.items, count));
  t->samples.count = count;
  return ErrorCode::Ok;
}

uint64_t stss_size(MediaFile*, void* context) {
  SyncSampleTable* t = stss_of(context);
  if (t == nullptr) return 0;
  return 8 + 4 * uint64_t{t->samples.count};
}

ErrorCode sync_samples_write(MediaFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  SyncSampleTable* t = stss_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u8(file, t->version));
  VT_TRY(write_u24be(file, t->flags));
  VT_TRY(write_u32be(file, t->samples.count));
  return write_u32_block(file, t->samples.items, t->samples.count);
}

ErrorCode stss_append(MediaFile* file, TrackBoxes* track, uint32_t sample) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  SyncSampleTable* t = stss_of(track);
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
