// The engine's entry: the job, the survey of the input, the two passes and
// the reset between them.
#include <cstdlib>
#include <cstring>

#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "remux/remux_job.h"
#include "remux/verify.h"
#include "sampletables/formats.h"
#include "sampletables/ctts.h"
#include "sampletables/stco.h"
#include "sampletables/stsd.h"
#include "sampletables/stsc.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"

namespace vantorel {

namespace {

// How many of a track's samples the tables describe consistently and the
// file holds: the scheduler walks 'stts' and 'stsz' for that many, and the
// reader finds each one's bytes. A track cut short (a recording ended by a
// power loss) is carried up to its last whole sample.
// Also the largest of those samples: the sample buffer is sized by what can
// be read, never by a size the tables merely claim. A 'twos' sample counts
// its PCM frames in its duration, and a frame takes at least one byte: a
// sample claiming more frames than bytes ends the track too.
// `described` is the count the tables describe; `past_end` is set when the
// walk stopped at a sample that lies (wholly or partly) past the file's end.
uint32_t deliverable_samples(MediaFile* file, TrackBoxes* track, uint64_t file_length, uint32_t* largest,
                             uint32_t* described, uint32_t* past_end) {
  *largest = 0;
  *described = 0;
  *past_end = 0;
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
        *past_end = 1;
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

// The duration, in milliseconds, of samples [from, to) of a track.
uint64_t samples_duration_ms(TrackBoxes* track, uint32_t timescale, uint32_t from, uint32_t to) {
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

void report_drop(RemuxJob* job, const TrackInfo& info, uint32_t reason) {
  if (job->events == nullptr || job->events->track_dropped == nullptr) return;
  auto* hdlr = track_record<HdlrRecord>(find_track(job->input->root, info.track_id), BoxTypeId::Hdlr);
  FourCC handler = hdlr != nullptr ? hdlr->handler_type : FourCC{};
  job->events->track_dropped(info.track_id, handler, info.fourcc, reason, job->stream.user);
}

// Where each kept track's presentation starts, and how the tracks start
// relative to each other: captured fragments keep their first decode times
// apart, and continuation files keep the tracks as far apart as the input.
void place_tracks_in_time(RemuxJob* job) {
  uint64_t earliest_fragment = none64();
  for (const TrackSurvey& row : job->survey) {
    TrackExtra* extra = find_track(job->input->root, row.input_track_id)->extra;
    if (extra != nullptr && extra->first_fragment_time != none64()) {
      uint64_t at = rescale(extra->first_fragment_time, row.timescale, job->movie_timescale);
      if (at < earliest_fragment) earliest_fragment = at;
    }
  }
  uint64_t earliest_start = none64();
  for (TrackSurvey& row : job->survey) {
    TrackExtra* extra = find_track(job->input->root, row.input_track_id)->extra;
    if (extra != nullptr && extra->first_fragment_time != none64() && earliest_fragment != none64())
      row.start_delay += rescale(extra->first_fragment_time, row.timescale, job->movie_timescale) - earliest_fragment;
    uint64_t start_us = row.timescale != 0 ? rescale(static_cast<uint64_t>(row.media_time), row.timescale, 1000000) : 0;
    if (start_us < earliest_start) earliest_start = start_us;
  }
  for (TrackSurvey& row : job->survey) {
    uint64_t start_us = row.timescale != 0 ? rescale(static_cast<uint64_t>(row.media_time), row.timescale, 1000000) : 0;
    row.continuation_media_time = static_cast<int64_t>(rescale(start_us - earliest_start, 1000000, row.timescale));
    row.batch_start_time = row.next_time = row.start_time = rescale(row.start_delay, job->movie_timescale, row.timescale);
  }
}

void free_job(RemuxJob* job) {
  job->survey.release();
  job->pending.release();
  job->write_order.release();
  for (OutputMeasure& m : job->measures) std::free(m.header.data);
  job->measures.release();
  std::free(job->captured_header.data);
  job->captured_header = HeaderBlock{};
  job->limits.release();
  for (char* name : job->written_names) std::free(name);
  job->written_names.release();
  std::free(job->sample_buffer);
  job->sample_buffer = nullptr;
  std::free(job->window);
  job->window = nullptr;
  std::free(job->staging);
  job->staging = nullptr;
  job->reads.release();
  job->sorted_reads.release();
  job->pieces.release();
  std::free(job->gap_sink);
  job->gap_sink = nullptr;
}

}  // namespace

ErrorCode rewind_tracks(RemuxJob* job) {
  for (TrackSurvey& row : job->survey) {
    // From the first sample, sync or not: the scheduler counts from there.
    uint32_t index = 0;
    uint64_t time = 0;
    ErrorCode e = track_seek(job->input, row.input_track_id, 0, &index, &time, 0, 0);
    if (e != ErrorCode::Ok && e != ErrorCode::NoMore) return e;
  }
  return ErrorCode::Ok;
}

ErrorCode survey_input(RemuxJob* job) {
  OpenParams params{};
  params.routines = stream_routines();
  params.path = job->input_name;
  params.user = &job->stream;
  if (job->events != nullptr) params.failure_detail = job->events->input_failure;
  VT_TRY(media_open(&job->input, &params, kOpenRead));
  MovieInfo movie;
  VT_TRY(movie_info(job->input, &movie));
  // Every time of the output is counted from the input's time scales; with
  // a scale of 0 no sample has a place in time.
  if (movie.timescale == 0) return malformed(job->input, "movie time scale of 0");
  job->movie_timescale = movie.timescale;
  job->movie_duration = movie.duration;
  // Tracks the reading already left out: their handler and format are unknown.
  if (job->events != nullptr && job->events->track_dropped != nullptr)
    for (const DroppedTrack& d : job->input->dropped_tracks)
      job->events->track_dropped(d.track_id, d.handler, d.format, d.format.is_zero() ? kDropMalformed : kDropStreamUnreadable,
                                 job->stream.user);
  if (job->events != nullptr && job->events->input_note != nullptr)
    for (uint32_t i = 0; const char* note = import_note(job->input, i); ++i) job->events->input_note(note, job->stream.user);
  job->no_video = 1;
  uint64_t file_length = file_size(job->input);
  TrackIterator* it = track_iterator_new(job->input, 0, 0);
  if (it == nullptr) return ErrorCode::Missing;
  uint32_t largest = 0;
  uint32_t truncated = 0;
  ErrorCode e = ErrorCode::Ok;
  TrackInfo info;
  while (e == ErrorCode::Ok) {
    e = track_iterator_next(it, &info);
    if (e == ErrorCode::NoMore) {
      e = ErrorCode::Ok;
      break;
    }
    if (e != ErrorCode::Ok) break;
    TrackSurvey row{};
    uint32_t reason = 0;
    e = classify_track(job, &info, &row, &reason);
    if (e != ErrorCode::Ok) break;
    if (reason != 0) {
      report_drop(job, info, reason);
      continue;
    }
    if (info.timescale == 0) {
      e = malformed(job->input, "media time scale of 0");
      break;
    }
    TrackBoxes* track = find_track(job->input->root, info.track_id);
    if (row.video) job->no_video = 0;
    row.input_track_id = info.track_id;
    row.start_delay = info.start_delay;
    row.media_time = first_media_time(track);
    row.media_end = info.media_end;
    if (track->extra != nullptr) row.media_time += track->extra->composition_shift;
    if (track->extra != nullptr && row.media_end > 0) row.media_end += track->extra->composition_shift;
    row.timescale = info.timescale;
    uint32_t track_largest = 0;
    uint32_t described = 0;
    uint32_t past_end = 0;
    row.sample_count = deliverable_samples(job->input, track, file_length, &track_largest, &described, &past_end);
    if (past_end) {
      // Samples past the end of the input: a cut file. Never carried
      // silently; without salvage nothing is written.
      truncated = 1;
      if (job->events != nullptr && job->events->truncated != nullptr) {
        auto* hdlr = track_record<HdlrRecord>(track, BoxTypeId::Hdlr);
        job->events->truncated(info.track_id, hdlr != nullptr ? hdlr->handler_type : FourCC{},
                               described - row.sample_count, described,
                               samples_duration_ms(track, info.timescale, row.sample_count, described),
                               job->stream.user);
      }
    }
    if (track_largest > largest) largest = track_largest;
    row.stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
    row.sizes = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
    row.stss = track_record<SyncSampleTable>(track, BoxTypeId::Stss);
    row.ctts = track_record<CompositionOffsetTable>(track, BoxTypeId::Ctts);
    e = job->survey.append(row);
  }
  track_iterator_free(it);
  VT_TRY(e);
  if (truncated && (job->events == nullptr || job->events->salvage == 0)) return ErrorCode::Truncated;
  place_tracks_in_time(job);
  if (job->events != nullptr && job->events->surveyed != nullptr &&
      job->events->surveyed(job->survey.count, job->stream.user) == 0)
    return ErrorCode::NoMore;  // the caller asked to stop: nothing is written
  job->sample_buffer = static_cast<uint8_t*>(std::malloc(largest > 0 ? largest : 1));
  if (job->sample_buffer == nullptr) return ErrorCode::OutOfMemory;
  job->sample_buffer_size = largest;
  return rewind_tracks(job);
}

ErrorCode reset_tracks(RemuxJob* job) {
  for (TrackSurvey& row : job->survey) {
    row.output_track_id = 0;
    row.batch_start_time = row.next_time = row.start_time = rescale(row.start_delay, job->movie_timescale, row.timescale);
    row.queued_count = 0;
    row.stts_entry = row.stts_in_entry = 0;
    row.size_index = 0;
    row.stss_index = 0;
    row.ctts_entry = row.ctts_in_entry = 0;
    row.flushed_presentation_end = row.pending_presentation_end = 0;
  }
  VT_TRY(rewind_tracks(job));
  job->file_start_end_time = job->file_start_time = job->file_start_bytes = 0;
  job->last_cut_end_time = job->last_cut_time = job->last_cut_bytes = 0;
  job->queued_end_time = job->queued_bytes = 0;
  return ErrorCode::Ok;
}

ErrorCode remux_track_verdict(MediaFile* input, uint32_t track_id, uint32_t* drop_reason) {
  if (input == nullptr || drop_reason == nullptr) return ErrorCode::BadArgument;
  *drop_reason = 0;
  TrackInfo info;
  VT_TRY(track_info(input, track_id, &info));
  RemuxJob job{};
  job.input = input;
  TrackSurvey row{};
  return classify_track(&job, &info, &row, drop_reason);
}

ErrorCode remux_run_with_events(const void* input_name, OutputNamer namer, ProgressCallback progress,
                                uint32_t split_mode, const uint64_t* split_limits, uint32_t limit_count,
                                uint32_t per_file_limits, uint32_t measure_headers, const IoRoutines* routines,
                                void* user, const RemuxEvents* events) {
  if (split_mode != kSplitNone && (split_limits == nullptr || limit_count == 0)) return ErrorCode::BadArgument;
  RemuxJob* job = alloc_record<RemuxJob>();
  if (job == nullptr) return ErrorCode::OutOfMemory;
  ErrorCode e = ErrorCode::Ok;
  job->split_mode = split_mode;
  if (split_limits != nullptr && limit_count != 0) {
    e = job->limits.reserve(limit_count);
    if (e == ErrorCode::Ok) {
      std::memcpy(job->limits.items, split_limits, sizeof(uint64_t) * limit_count);
      job->limits.count = limit_count;
    }
  }
  job->per_file_limits = per_file_limits;
  job->measure_headers = measure_headers;
  job->namer = namer;
  job->progress = progress;
  job->events = events;
  job->output_form = events != nullptr ? events->output_form : kOutputMp4;
  job->per_sample = events != nullptr ? events->per_sample : 0;
  job->input_name = input_name;
  job->stream.user = user;
  job->stream.routines = routines != nullptr ? *routines : std_routines();

  // One "now" for the whole run: both passes must build the same headers.
  uint64_t unix_epoch_in_1904 = 2082844800u;
  if (events != nullptr && events->fixed_time_set) {
    now_pin(events->fixed_time > UINT64_MAX - unix_epoch_in_1904 ? UINT64_MAX : events->fixed_time + unix_epoch_in_1904);
  } else {
    now_pin(now_1904());
  }
  if (e == ErrorCode::Ok) {
    job->stream.pass_flag = 1;
    e = survey_input(job);
    if (e == ErrorCode::NoMore) {
      e = ErrorCode::Ok;  // stopped by the caller after the survey
    } else if (e == ErrorCode::Ok) {
      if (events != nullptr && events->pass_started != nullptr) events->pass_started(0, user);
      job->stream.pass_flag = 0;
      e = run_pass(job);
      // Every output name is known now: the caller may refuse them before
      // the writing pass creates any file.
      if (e == ErrorCode::Ok && events != nullptr && events->outputs_planned != nullptr &&
          events->outputs_planned(job->measures.count, user) == 0)
        e = ErrorCode::NoName;
      if (e == ErrorCode::Ok) {
        job->stream.pass_flag = 1;
        e = reset_tracks(job);
        if (e == ErrorCode::Ok) {
          if (events != nullptr && events->pass_started != nullptr) events->pass_started(1, user);
          e = run_pass(job);
        }
      }
    }
  }
  // An output left open by a failure is still finalised and closed.
  if (job->output != nullptr) {
    ErrorCode closed = media_close(job->output);
    if (e == ErrorCode::Ok) e = closed;
    job->output = nullptr;
  }
  // Each output read back and compared with the input, before the caller
  // puts it in place.
  if (e == ErrorCode::Ok && events != nullptr && events->verify != 0 && job->written_names.count > 0) {
    VerifyReport scratch{};
    VerifyReport* report = events->verify_report != nullptr ? events->verify_report : &scratch;
    e = verify_remux(input_name, job->written_names.items, job->written_names.count, &job->stream.routines, user,
                     events->salvage, report);
  }
  if (job->input != nullptr) {
    if (e != ErrorCode::Ok && events != nullptr && events->input_failure != nullptr)
      *events->input_failure = job->input->detail;
    media_close(job->input);
  }
  free_job(job);
  std::free(job);
  now_unpin();
  return e;
}

ErrorCode remux_run(const void* input_name, OutputNamer namer, ProgressCallback progress, uint32_t split_mode,
                    const uint64_t* split_limits, uint32_t limit_count, uint32_t per_file_limits,
                    uint32_t measure_headers, const IoRoutines* routines, void* user) {
  return remux_run_with_events(input_name, namer, progress, split_mode, split_limits, limit_count, per_file_limits,
                               measure_headers, routines, user, nullptr);
}

}  // namespace vantorel
