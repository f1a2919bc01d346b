#include "sampletables/tables_from_samples.h"

#include "sampletables/ctts.h"
#include "sampletables/sample_groups.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stsd.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"
#include "sampletables/table_fixups.h"

namespace vantorel {

namespace {

// Which of the optional tables the samples need.
struct Needs {
  bool composition;
  bool sync_table;
  bool dependencies;
};

ErrorCode check_samples(BoxFile* file, uint32_t descriptions, const ImportedSample* samples, uint32_t count,
                        Needs* needs) {
  const uint64_t input = file_size(file);
  for (uint32_t i = 0; i < count; ++i) {
    const ImportedSample& s = samples[i];
    if (s.description == 0 || s.description > descriptions) return ErrorCode::BadArgument;
    if (s.where > kSampleLocated) return ErrorCode::BadArgument;
    // Readers size their buffers by the largest sample: a range cannot be
    // larger than the input it lies in.
    if (s.where == kSampleRange && s.size > input) return malformed(file, "imported sample larger than its input");
    if (s.decode_time > UINT64_MAX - s.duration) return malformed(file, "imported sample times past 64 bits");
    if (i > 0 && s.decode_time != samples[i - 1].decode_time + samples[i - 1].duration) return ErrorCode::BadArgument;
    if (s.composition_offset != 0) needs->composition = true;
    if (!s.sync) needs->sync_table = true;
    if (s.dependency != 0) needs->dependencies = true;
  }
  return ErrorCode::Ok;
}

// The optional table `id` present and empty when `wanted`, else absent.
template <class Table>
ErrorCode make_optional(BoxFile* file, TrackBoxes* track, BoxTypeId id, bool wanted, Table** out) {
  *out = nullptr;
  if (!wanted) {
    if (find_box(track, id) != nullptr) remove_track_box(file, track, id);
    return ErrorCode::Ok;
  }
  if (find_box(track, id) == nullptr) VT_TRY(add_track_box(file, track, id));
  *out = track_record<Table>(track, id);
  if (*out == nullptr) return ErrorCode::Missing;
  return ErrorCode::Ok;
}

ErrorCode set_dependencies(TrackBoxes* track, const ImportedSample* samples, uint32_t count, bool wanted) {
  SampleGroupsRecord* groups = wanted ? sample_groups_make(track) : sample_groups(track);
  if (groups == nullptr) return wanted ? ErrorCode::OutOfMemory : ErrorCode::Ok;
  groups->dependencies.release();
  groups->has_dependencies = wanted ? 1 : 0;
  if (!wanted) return ErrorCode::Ok;
  VT_TRY(groups->dependencies.reserve(count));
  for (uint32_t i = 0; i < count; ++i) groups->dependencies.items[i] = samples[i].dependency;
  groups->dependencies.count = count;
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode tables_from_samples(BoxFile* file, TrackBoxes* track, const ImportedSample* samples, uint32_t count) {
  if (file == nullptr || track == nullptr || (samples == nullptr && count > 0)) return ErrorCode::BadArgument;
  auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
  auto* stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  auto* stsc = track_record<SampleToChunkTable>(track, BoxTypeId::Stsc);
  auto* stsz = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
  auto* stco = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco);
  if (stsd == nullptr || stts == nullptr || stsc == nullptr || stsz == nullptr || stco == nullptr)
    return ErrorCode::Missing;
  Needs needs{};
  VT_TRY(check_samples(file, stsd->entry_count, samples, count, &needs));

  stts->entries.count = 0;
  stsc->entries.count = 0;
  stco->offsets.count = 0;
  stsz->sizes.release();
  stsz->sample_count = 0;
  stsz->sample_size = 0;
  CompositionOffsetTable* ctts = nullptr;
  SyncSampleTable* stss = nullptr;
  VT_TRY(make_optional(file, track, BoxTypeId::Ctts, needs.composition, &ctts));
  VT_TRY(make_optional(file, track, BoxTypeId::Stss, needs.sync_table, &stss));
  if (ctts != nullptr) ctts->entries.count = 0;
  if (track->extra != nullptr) track->extra->composition_shift = 0;  // of the samples replaced
  if (stss != nullptr) stss->samples.count = 0;
  if (count > 0) VT_TRY(stco->offsets.reserve(count));

  uint32_t description = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const ImportedSample& s = samples[i];
    stco->offsets.items[stco->offsets.count++] = s.at;
    VT_TRY(stsz_append(file, track, s.size, 1));
    VT_TRY(stts_append(file, track, 1, s.duration));
    if (ctts != nullptr) VT_TRY(ctts_append(file, track, 1, s.composition_offset));
    if (stss != nullptr && s.sync) VT_TRY(stss_append(file, track, i + 1));
    if (s.description != description) {
      // Every sample is a chunk of its own: chunk numbers are sample numbers.
      VT_TRY(stsc_append(file, track, i + 1, 1, s.description));
      description = s.description;
    }
  }
  if (ctts != nullptr) VT_TRY(ctts_normalise_track(file, track));
  return set_dependencies(track, samples, count, needs.dependencies);
}

}  // namespace vantorel
