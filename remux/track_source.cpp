#include "remux/track_source.h"

#include "io/value64.h"
#include "mediafile/media_file.h"
#include "sampletables/ctts.h"
#include "sampletables/formats.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stsd.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"

namespace vantorel {

namespace {

void load_source(TrackCursor* c) {
  const SampleSource& s = c->sources[c->source];
  TrackBoxes* track = find_track(s.input->root, s.track_id);
  c->index = 0;
  c->stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  c->stts_entry = c->stts_in_entry = 0;
  c->ctts = track_record<CompositionOffsetTable>(track, BoxTypeId::Ctts);
  c->ctts_entry = c->ctts_in_entry = 0;
  c->sizes = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
  c->stss = track_record<SyncSampleTable>(track, BoxTypeId::Stss);
  c->stss_index = 0;
}

}  // namespace

ErrorCode track_source_start(TrackCursor* cursor, const SampleSource* sources, uint32_t count) {
  *cursor = TrackCursor{};
  for (uint32_t i = 0; i < count; ++i)
    if (sources[i].span_start != 0 || sources[i].span_end != none64()) return ErrorCode::Unsupported;
  cursor->sources = sources;
  cursor->source_count = count;
  if (count > 0) load_source(cursor);
  return ErrorCode::Ok;
}

bool track_source_next(TrackCursor* c, SourceSample* out) {
  while (c->source < c->source_count && c->index >= c->sources[c->source].sample_count) {
    if (++c->source < c->source_count) load_source(c);
  }
  if (c->source >= c->source_count) return false;
  // The sample count never exceeds the timed samples of 'stts' (the survey
  // counted only those), and runs of no samples are stepped over.
  const auto& runs = c->stts->entries;
  while (c->stts_entry < runs.count && c->stts_in_entry >= runs[c->stts_entry].sample_count) {
    ++c->stts_entry;
    c->stts_in_entry = 0;
  }
  out->decode_time = c->time;
  out->duration = 0;
  if (c->stts_entry < runs.count) {
    out->duration = runs[c->stts_entry].sample_delta;
    ++c->stts_in_entry;
  }
  c->time += out->duration;
  out->composition_offset = 0;
  if (c->ctts != nullptr) {
    const auto& offsets = c->ctts->entries;
    while (c->ctts_entry < offsets.count && c->ctts_in_entry >= offsets[c->ctts_entry].sample_count) {
      ++c->ctts_entry;
      c->ctts_in_entry = 0;
    }
    if (c->ctts_entry < offsets.count) {
      out->composition_offset = offsets[c->ctts_entry].sample_offset;
      ++c->ctts_in_entry;
    }
  }
  // 'stss' numbers its samples from 1, in order.
  out->sync = true;
  if (c->stss != nullptr) {
    out->sync = c->stss_index < c->stss->samples.count && c->stss->samples[c->stss_index] == c->index + 1;
    if (out->sync) ++c->stss_index;
  }
  out->size = stsz_sample_size(c->sizes, c->index);
  ++c->index;
  return true;
}

// Also the largest of the samples: the sample buffer is sized by what can be
// read, never by a size the tables merely claim. A 'twos' sample counts its
// PCM frames in its duration, and a frame takes at least one byte: a sample
// claiming more frames than bytes ends the track too. A track cut short (a
// recording ended by a power loss) is carried up to its last whole sample.
uint32_t track_source_deliverable(MediaFile* file, TrackBoxes* track, uint64_t file_length, uint32_t* largest,
                                  uint32_t* described, bool* past_end) {
  *largest = 0;
  *described = 0;
  *past_end = false;
  auto* stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  auto* sizes = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
  auto* stsc = track_record<SampleToChunkTable>(track, BoxTypeId::Stsc);
  auto* offsets = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco);
  if (stts == nullptr || sizes == nullptr || stsc == nullptr || offsets == nullptr) return 0;
  if (stsc->entries.count == 0) return 0;
  SoundSampleEntry* sound = sound_entry(file, track, 0);
  bool pcm_frames = sound != nullptr && pcm_counts_frames(sound->format);
  // Samples gathered from pieces of the file (an imported stream turned
  // into MP4 form) had every piece checked when the file was opened.
  bool gathered = find_converted(file, track_id_of(track)) != nullptr;
  uint64_t timed = 0;
  for (const TimeToSampleEntry& e : stts->entries) timed += e.sample_count;
  uint64_t count = sizes->sample_count < timed ? sizes->sample_count : timed;
  *described = static_cast<uint32_t>(count);
  // Walk the chunks: each sample must lie inside the file.
  uint64_t sample = 0;
  uint32_t entry = 0;
  uint32_t stts_entry = 0;
  uint32_t stts_in_entry = 0;
  for (uint32_t chunk = 0; chunk < offsets->offsets.count && sample < count; ++chunk) {
    while (entry + 1 < stsc->entries.count && chunk + 1 >= stsc->entries[entry + 1].first_chunk) ++entry;
    uint64_t at = offsets->offsets[chunk];
    uint32_t in_chunk = stsc->entries[entry].samples_per_chunk;
    for (uint32_t i = 0; i < in_chunk && sample < count; ++i) {
      uint64_t size = stsz_sample_size(sizes, static_cast<uint32_t>(sample));
      if (!gathered && (at > file_length || size > file_length - at)) {
        *past_end = true;
        return static_cast<uint32_t>(sample);
      }
      // `sample` < count keeps the 'stts' walk inside its entries.
      while (stts->entries[stts_entry].sample_count <= stts_in_entry) {
        ++stts_entry;
        stts_in_entry = 0;
      }
      if (pcm_frames && stts->entries[stts_entry].sample_delta > size) return static_cast<uint32_t>(sample);
      ++stts_in_entry;
      if (size > *largest) *largest = static_cast<uint32_t>(size);
      at += size;
      ++sample;
    }
  }
  return static_cast<uint32_t>(sample);
}

uint32_t track_source_sample_size(TrackBoxes* track, uint32_t index) {
  return stsz_sample_size(track_record<SampleSizeTable>(track, BoxTypeId::Stsz), index);
}

uint64_t track_source_duration_ms(TrackBoxes* track, uint32_t timescale, uint32_t from, uint32_t to) {
  auto* stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  if (stts == nullptr || timescale == 0) return 0;
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
  return rescale(units, timescale, 1000);
}

}  // namespace vantorel
