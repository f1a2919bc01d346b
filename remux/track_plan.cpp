// The survey of the input: the track plan both passes follow.
#include "remux/track_plan.h"

#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "mediafile/media_file.h"
#include "remux/range_plan.h"
#include "remux/track_selection.h"
#include "sampletables/sample_groups.h"

namespace vantorel {

namespace {

// Tracks end apart by up to this much in a whole file.
constexpr uint64_t kDeclaredEndSlackMs = 1000;

uint32_t sat_add32(uint32_t a, uint32_t b) { return b > UINT32_MAX - a ? UINT32_MAX : a + b; }
uint64_t sat_add64(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

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

// The duration, in milliseconds, of samples [from, to) of a track.
uint64_t duration_ms(MediaFile* input, const TrackInfo& info, uint32_t from, uint32_t to) {
  if (info.timescale == 0) return 0;
  return rescale(track_samples_duration(input, info.track_id, from, to), info.timescale, 1000);
}

// How many samples of a track are readable and, for a cut file, what it
// lacks: samples past the end of the input, samples its import could not
// carry whole, or a track ending well before the file's declared end. The
// one reckoning behind the survey's warning and the library's description.
ErrorCode measure_shortfall(MediaFile* input, const TrackInfo& info, uint64_t movie_duration, uint32_t movie_timescale,
                            ReadableSamples* readable, TrackShortfall* out, bool* past_end_out) {
  VT_TRY(track_readable_samples(input, info.track_id, readable));
  bool past_end = readable->past_end;
  uint32_t missing = readable->described - readable->count;
  uint32_t total = readable->described;
  uint64_t missing_ms = past_end ? duration_ms(input, info, readable->count, readable->described) : 0;
  if (const ImportCut* listed = import_cut_of(input, info.track_id)) {
    missing = sat_add32(missing, listed->missing);
    total = sat_add32(total, listed->missing);
    missing_ms = sat_add64(missing_ms, listed->missing_ms);
    past_end = past_end || listed->missing > 0;
  }
  // The declared end tells how much is lost, more than the last sample the
  // index lists: the file's own (an imported file found cut), else the
  // movie's duration for a track found cut. In a file found cut, a track
  // that ends short of it by more than a second is cut too.
  uint64_t declared_ms = input->cut ? input->declared_end_ms : 0;
  if (declared_ms == 0 && past_end) declared_ms = rescale(movie_duration, movie_timescale, 1000);
  if (declared_ms > 0 && declared_ms != none64()) {
    const uint64_t start_ms = rescale(info.start_delay, movie_timescale, 1000);
    const uint64_t end_ms = sat_add64(start_ms, duration_ms(input, info, 0, readable->count));
    const uint64_t short_ms = declared_ms > end_ms ? declared_ms - end_ms : 0;
    if (short_ms > missing_ms) missing_ms = short_ms;
    if (input->cut) past_end = past_end || short_ms > kDeclaredEndSlackMs;
  }
  *past_end_out = past_end;
  if (past_end) *out = TrackShortfall{missing, total, missing_ms};
  return ErrorCode::Ok;
}

// A kept track's plan row: its times, its samples (how many the input can
// deliver) and how it is rebuilt. `*cut` when samples lie past the input's end.
ErrorCode plan_track(TrackPlan* plan, const TrackInfo& info, PlannedTrack* row, const RemuxEvents& events, void* user,
                     bool* cut) {
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
  ReadableSamples readable{};
  TrackShortfall shortfall{};
  bool past_end = false;
  VT_TRY(measure_shortfall(input, info, plan->movie_duration, plan->movie_timescale, &readable, &shortfall, &past_end));
  row->sample_count = readable.count;
  if (past_end) {
    *cut = true;
    if (events.truncated != nullptr)
      events.truncated(info.track_id, handler_of(track), shortfall.missing, shortfall.total, shortfall.missing_ms,
                       user);
  }
  if (readable.largest > plan->largest_sample) plan->largest_sample = readable.largest;
  VT_TRY(build_track_spec(input, row, &info, &row->shape, &row->shape_drop));
  // Sample groups and dependencies follow the samples; PCM counted in
  // frames has no samples of its own to follow.
  row->follows_groups = row->shape.kind != kKindPcm && row->shape.pcm_frame_size == 0 && sample_groups(track) != nullptr;
  row->first_source = plan->sources.count;
  row->source_count = 1;
  return plan->sources.append(SampleSource{input, info.track_id, row->sample_count, 0, row->sample_count, 0, 0, 0, 0, 0, 0, 0});
}

}  // namespace

namespace {

// The tracks the reading already left out: their handler and format are
// unknown. Those the selection leaves out anyway go unmentioned.
void report_unread_tracks(MediaFile* input, SelectionCheck* check, const RemuxEvents& events, void* user) {
  for (const DroppedTrack& d : input->dropped_tracks) {
    bool kept = selection_check_track(check, d.track_id, handler_kind_from_type(d.handler));
    if (kept && events.track_dropped != nullptr)
      events.track_dropped(d.track_id, d.handler, d.format, d.format.is_zero() ? kDropMalformed : kDropStreamUnreadable,
                           user);
  }
}

ErrorCode survey_tracks(TrackPlan* plan, MediaFile* input, const RemuxOptions& options, const RemuxEvents& events,
                        void* user, SelectionCheck* check, bool* cut) {
  TrackIterator* it = track_iterator_new(input, 0, 0);
  if (it == nullptr) return ErrorCode::Missing;
  ErrorCode e = ErrorCode::Ok;
  TrackInfo info;
  while (e == ErrorCode::Ok) {
    e = track_iterator_next(it, &info);
    if (e == ErrorCode::NoMore) {
      e = ErrorCode::Ok;
      break;
    }
    if (e != ErrorCode::Ok) break;
    // A track the user leaves out is neither reported nor read.
    if (!selection_check_track(check, info.track_id, info.kind)) continue;
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
    e = plan_track(plan, info, &row, events, user, cut);
    if (e == ErrorCode::Ok) e = plan->tracks.append(row);
  }
  track_iterator_free(it);
  return e;
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
  SelectionCheck check{};
  ErrorCode e = selection_check_start(&check, options.tracks, input);
  if (e == ErrorCode::Ok) report_unread_tracks(input, &check, events, user);
  if (e == ErrorCode::Ok && events.input_note != nullptr)
    for (uint32_t i = 0; const char* note = import_note(input, i); ++i) events.input_note(note, user);
  bool cut = false;
  if (e == ErrorCode::Ok) e = survey_tracks(plan, input, options, events, user, &check, &cut);
  if (e == ErrorCode::Ok) {
    plan->selection_fault = selection_check_finish(check, &plan->selection_pick);
    if (plan->selection_fault != kSelectionMet) e = ErrorCode::BadArgument;
  }
  if (e == ErrorCode::Ok) e = plan_chapter_hosts(plan, check);
  selection_check_release(&check);
  VT_TRY(e);
  // The file says it holds more than it does, though no track shows it.
  if (input->cut) cut = true;
  if (cut && !options.salvage) return ErrorCode::Truncated;
  place_tracks_in_time(plan);
  // A range of joined inputs is cut from the joined movie, once it is whole.
  if (options.range.set && options.joined_count == 0) VT_TRY(track_plan_cut_range(plan, options, events, user));
  return ErrorCode::Ok;
}

ErrorCode remux_track_verdict(MediaFile* input, uint32_t track_id, uint32_t* drop_reason, bool* as_stored) {
  if (input == nullptr || drop_reason == nullptr) return ErrorCode::BadArgument;
  *drop_reason = 0;
  if (as_stored != nullptr) *as_stored = false;
  TrackInfo info;
  VT_TRY(track_info(input, track_id, &info));
  PlannedTrack row{};
  VT_TRY(classify_track(input, kOutputMp4, &info, &row, drop_reason));
  if (as_stored != nullptr) *as_stored = *drop_reason == 0 && row.carried_as_stored;
  return ErrorCode::Ok;
}

ErrorCode remux_track_shortfall(MediaFile* input, uint32_t track_id, TrackShortfall* out) {
  if (input == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = TrackShortfall{};
  TrackInfo info;
  VT_TRY(track_info(input, track_id, &info));
  MovieInfo movie;
  VT_TRY(movie_info(input, &movie));
  if (movie.timescale == 0) return ErrorCode::Ok;  // no time to measure a loss in
  ReadableSamples readable{};
  bool past_end = false;
  return measure_shortfall(input, info, movie.duration, movie.timescale, &readable, out, &past_end);
}

void track_plan_release(TrackPlan* plan) {
  plan->tracks.release();
  plan->sources.release();
  plan->description_map.release();
  plan->joined_entries.release();
  plan->input_starts.release();
  plan->joined_edits.release();
}

ErrorCode track_plan_cut_range(TrackPlan* plan, const RemuxOptions& options, const RemuxEvents& events, void* user) {
  VT_TRY(range_plan_apply(plan, options.range, events, user, &plan->range, &plan->range_fault));
  if (events.range_placed != nullptr) events.range_placed(plan->range, user);
  return ErrorCode::Ok;
}

}  // namespace vantorel
