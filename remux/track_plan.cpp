// The survey of the input: the track plan both passes follow.
#include "remux/track_plan.h"

#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "mediafile/media_file.h"
#include "sampletables/sample_groups.h"

namespace vantorel {

namespace {

FourCC handler_of(TrackBoxes* track) {
  auto* hdlr = track_record<HdlrRecord>(track, BoxTypeId::Hdlr);
  return hdlr != nullptr ? hdlr->handler_type : FourCC{};
}

// Where each kept track's presentation starts, and how the tracks start
// relative to each other: captured fragments keep their first decode times
// apart, and continuation files keep the tracks as far apart as the input.
void place_tracks_in_time(TrackPlan* plan) {
  MediaFile* input = plan->input;
  uint64_t earliest_fragment = none64();
  for (const PlannedTrack& row : plan->tracks) {
    TrackExtra* extra = find_track(input->root, row.input_track_id)->extra;
    if (extra != nullptr && extra->first_fragment_time != none64()) {
      uint64_t at = rescale(extra->first_fragment_time, row.timescale, plan->movie_timescale);
      if (at < earliest_fragment) earliest_fragment = at;
    }
  }
  uint64_t earliest_start = none64();
  for (PlannedTrack& row : plan->tracks) {
    TrackExtra* extra = find_track(input->root, row.input_track_id)->extra;
    if (extra != nullptr && extra->first_fragment_time != none64() && earliest_fragment != none64())
      row.start_delay += rescale(extra->first_fragment_time, row.timescale, plan->movie_timescale) - earliest_fragment;
    uint64_t start_us = row.timescale != 0 ? rescale(static_cast<uint64_t>(row.media_time), row.timescale, 1000000) : 0;
    if (start_us < earliest_start) earliest_start = start_us;
  }
  for (PlannedTrack& row : plan->tracks) {
    uint64_t start_us = row.timescale != 0 ? rescale(static_cast<uint64_t>(row.media_time), row.timescale, 1000000) : 0;
    row.continuation_media_time = static_cast<int64_t>(rescale(start_us - earliest_start, 1000000, row.timescale));
  }
}

// A kept track's plan row: its times, its samples (how many the input, of
// `file_length` bytes, can deliver) and how it is rebuilt. `*cut` when
// samples lie past the input's end.
ErrorCode plan_track(TrackPlan* plan, const TrackInfo& info, uint64_t file_length, PlannedTrack* row,
                     const RemuxEvents& events, void* user, bool* cut) {
  MediaFile* input = plan->input;
  TrackBoxes* track = find_track(input->root, info.track_id);
  row->input_track_id = info.track_id;
  row->fourcc = info.fourcc;
  row->start_delay = info.start_delay;
  row->media_time = first_media_time(track);
  row->media_end = info.media_end;
  if (track->extra != nullptr) row->media_time += track->extra->composition_shift;
  if (track->extra != nullptr && row->media_end > 0) row->media_end += track->extra->composition_shift;
  row->timescale = info.timescale;
  uint32_t largest = 0;
  uint32_t described = 0;
  bool past_end = false;
  row->sample_count = track_source_deliverable(input, track, file_length, &largest, &described, &past_end);
  if (past_end) {
    // Samples past the end of the input: a cut file. Never carried
    // silently; without salvage nothing is written.
    *cut = true;
    if (events.truncated != nullptr)
      events.truncated(info.track_id, handler_of(track), described - row->sample_count, described,
                       track_source_duration_ms(track, info.timescale, row->sample_count, described), user);
  }
  if (largest > plan->largest_sample) plan->largest_sample = largest;
  VT_TRY(build_track_spec(input, row, &info, &row->spec, &row->spec_drop));
  // Sample groups and dependencies follow the samples; PCM counted in
  // frames has no samples of its own to follow.
  row->follows_groups = row->spec.kind != kKindPcm && sample_groups(track) != nullptr;
  row->first_source = plan->sources.count;
  row->source_count = 1;
  return plan->sources.append(SampleSource{input, info.track_id, row->sample_count, 0, none64()});
}

}  // namespace

ErrorCode track_plan_survey(TrackPlan* plan, MediaFile* input, const RemuxOptions& options, const RemuxEvents& events,
                            void* user) {
  plan->input = input;
  MovieInfo movie;
  VT_TRY(movie_info(input, &movie));
  // Every time of the output is counted from the input's time scales; with
  // a scale of 0 no sample has a place in time.
  if (movie.timescale == 0) return malformed(input, "movie time scale of 0");
  plan->movie_timescale = movie.timescale;
  plan->movie_duration = movie.duration;
  // Tracks the reading already left out: their handler and format are unknown.
  if (events.track_dropped != nullptr)
    for (const DroppedTrack& d : input->dropped_tracks)
      events.track_dropped(d.track_id, d.handler, d.format, d.format.is_zero() ? kDropMalformed : kDropStreamUnreadable,
                           user);
  if (events.input_note != nullptr)
    for (uint32_t i = 0; const char* note = import_note(input, i); ++i) events.input_note(note, user);
  uint64_t file_length = file_size(input);
  TrackIterator* it = track_iterator_new(input, 0, 0);
  if (it == nullptr) return ErrorCode::Missing;
  bool cut = false;
  ErrorCode e = ErrorCode::Ok;
  TrackInfo info;
  while (e == ErrorCode::Ok) {
    e = track_iterator_next(it, &info);
    if (e == ErrorCode::NoMore) {
      e = ErrorCode::Ok;
      break;
    }
    if (e != ErrorCode::Ok) break;
    PlannedTrack row{};
    uint32_t reason = 0;
    e = classify_track(input, options.output_form, &info, &row, &reason);
    if (e != ErrorCode::Ok) break;
    if (reason != 0) {
      if (events.track_dropped != nullptr)
        events.track_dropped(info.track_id, handler_of(find_track(input->root, info.track_id)), info.fourcc, reason,
                             user);
      continue;
    }
    if (info.timescale == 0) {
      e = malformed(input, "media time scale of 0");
      break;
    }
    e = plan_track(plan, info, file_length, &row, events, user, &cut);
    if (e == ErrorCode::Ok) e = plan->tracks.append(row);
  }
  track_iterator_free(it);
  VT_TRY(e);
  if (cut && !options.salvage) return ErrorCode::Truncated;
  place_tracks_in_time(plan);
  return ErrorCode::Ok;
}

ErrorCode remux_track_verdict(MediaFile* input, uint32_t track_id, uint32_t* drop_reason) {
  if (input == nullptr || drop_reason == nullptr) return ErrorCode::BadArgument;
  *drop_reason = 0;
  TrackInfo info;
  VT_TRY(track_info(input, track_id, &info));
  PlannedTrack row{};
  return classify_track(input, kOutputMp4, &info, &row, drop_reason);
}

ErrorCode remux_track_shortfall(MediaFile* input, uint32_t track_id, TrackShortfall* out) {
  if (input == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = TrackShortfall{};
  TrackInfo info;
  VT_TRY(track_info(input, track_id, &info));
  TrackBoxes* track = find_track(input->root, track_id);
  uint32_t largest = 0;
  uint32_t described = 0;
  bool past_end = false;
  uint32_t deliverable = track_source_deliverable(input, track, file_size(input), &largest, &described, &past_end);
  if (!past_end) return ErrorCode::Ok;
  out->missing = described - deliverable;
  out->total = described;
  out->missing_ms = track_source_duration_ms(track, info.timescale, deliverable, described);
  return ErrorCode::Ok;
}

void track_plan_release(TrackPlan* plan) {
  plan->tracks.release();
  plan->sources.release();
}

}  // namespace vantorel
