// Bit rates and buffer sizes of every track, written into its decoder
// configuration, its 'btrt' and its profile entry.
#include "boxes/mdhd.h"
#include "boxes/prof.h"
#include "codecs/es_descriptor.h"
#include "mediafile/internal.h"
#include "sampletables/small_configs.h"
#include "sampletables/stsd.h"
#include "sampletables/stts.h"

namespace vantorel {

namespace {

uint32_t low32_or_zero(Value64 v) { return v == none64() ? 0 : low32(v); }

void fill_profile(ProfRecord* prof, TrackBoxes* track, uint32_t avg, uint32_t max) {
  uint32_t id = track_id_of(track);
  for (VideoProfile& v : prof->video_profiles) {
    if (v.track_id != id) continue;
    auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
    auto* stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
    v.average_bitrate = avg / 1000;
    v.maximum_bitrate = max / 1000;
    v.profile_flags |= kProfileBitratesFilled;
    if (mdhd != nullptr) {
      uint64_t frames = mul64(mul64(track_sample_count(track), 65536), mdhd->timescale);
      v.average_frame_rate = low32_or_zero(div64(frames, mdhd->duration));
      v.maximum_frame_rate = low32_or_zero(div64(mul64(mdhd->timescale, 65536), track_min_delta(track)));
    }
    if (stts != nullptr && stts->entries.count > 1) v.profile_flags |= kProfileVariableFrameRate;
    return;
  }
  for (AudioProfile& a : prof->audio_profiles) {
    if (a.track_id != id) continue;
    a.average_bitrate = avg / 1000;
    a.maximum_bitrate = max / 1000;
    a.profile_flags |= kProfileBitratesFilled;
    return;
  }
}

}  // namespace

void update_bit_rates(MediaFile* file) {
  FileBoxes* root = file->root;
  auto* prof = movie_record<ProfRecord>(root, BoxTypeId::Prof);
  for (uint32_t i = 0; i < track_count(root); ++i) {
    TrackBoxes* track = track_at(root, i);
    uint32_t avg = track_avg_bitrate(track);
    uint32_t max = track_max_bitrate(track);
    uint32_t buffer = track_max_sample_size(track);
    if (EsDescriptorRecord* esds = entry_esds(file, track, 0)) {
      esds->bufferSizeDB = buffer;
      esds->maxBitrate = max;
      esds->avgBitrate = avg;
    }
    VisualSampleEntry* visual = visual_entry(file, track, 0);
    if (visual != nullptr && visual->btrt != nullptr) {
      visual->btrt->bufferSizeDB = buffer;
      visual->btrt->maxBitrate = max;
      visual->btrt->avgBitrate = avg;
    }
    whole_entries_set_bit_rates(track, buffer, max, avg);
    if (prof != nullptr) fill_profile(prof, track, avg, max);
  }
}

}  // namespace vantorel
