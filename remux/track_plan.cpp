// The survey of the input: the track plan both passes follow.
#include "remux/track_plan.h"

#include "io/value64.h"
#include "mediafile/mediafile.h"
#include "remux/range_plan.h"
#include "remux/track_selection.h"

namespace vantorel {

namespace {

// Where each kept track's presentation starts, and how the tracks start
// relative to each other: captured fragments keep their first decode times
// apart, and continuation files keep the tracks as far apart as the input.
void place_tracks_in_time(TrackPlan* plan) {
  MediaFile* input = plan->input;
  auto first_fragment = [&](const PlannedTrack& row) {
    TrackInfo info;
    return track_info(input, row.input_track_id, &info) == ErrorCode::Ok ? info.first_fragment_time : none64();
  };
  uint64_t earliest_fragment = none64();
  for (const PlannedTrack& row : plan->tracks) {
    if (const uint64_t fragment = first_fragment(row); fragment != none64()) {
      uint64_t at = rescale(fragment, row.timescale, plan->movie_timescale);
      if (at < earliest_fragment) earliest_fragment = at;
    }
  }
  uint64_t earliest_start = none64();
  for (PlannedTrack& row : plan->tracks) {
    if (const uint64_t fragment = first_fragment(row); fragment != none64() && earliest_fragment != none64())
      row.start_delay += rescale(fragment, row.timescale, plan->movie_timescale) - earliest_fragment;
    uint64_t start_us = row.timescale != 0 ? rescale(static_cast<uint64_t>(row.media_time), row.timescale, 1000000) : 0;
    if (start_us < earliest_start) earliest_start = start_us;
  }
  for (PlannedTrack& row : plan->tracks) {
    uint64_t start_us = row.timescale != 0 ? rescale(static_cast<uint64_t>(row.media_time), row.timescale, 1000000) : 0;
    row.continuation_media_time = static_cast<int64_t>(rescale(start_us - earliest_start, 1000000, row.timescale));
  }
}

// A kept track's plan row: its times, its samples (how many the input can
// deliver) and how it is rebuilt. `*cut` when samples lie past the input's end.
ErrorCode plan_track(TrackPlan* plan, const TrackInfo& info, PlannedTrack* row, const RemuxEvents& events, void* user,
                     bool* cut) {
  MediaFile* input = plan->input;
  row->input_track_id = info.track_id;
  row->fourcc = info.fourcc;
  row->start_delay = info.start_delay;
  row->media_time = info.first_edit_media_time + info.composition_shift;
  row->media_end = info.media_end;
  if (row->media_end > 0) row->media_end += info.composition_shift;
  row->timescale = info.timescale;
  ReadableSamples readable{};
  TrackShortfall shortfall{};
  bool past_end = false;
  VT_TRY(track_shortfall(input, info.track_id, &shortfall, &readable, &past_end));
  row->sample_count = readable.count;
  if (past_end) {
    *cut = true;
    if (events.truncated != nullptr)
      events.truncated(info.track_id, info.handler_type, shortfall.missing, shortfall.total, shortfall.missing_ms,
                       user);
  }
  if (readable.largest > plan->largest_sample) plan->largest_sample = readable.largest;
  VT_TRY(build_track_spec(input, row, &info, &row->shape, &row->shape_drop));
  // Sample groups and dependencies follow the samples; PCM counted in
  // frames has no samples of its own to follow.
  row->follows_groups = row->shape.kind != kKindPcm && row->shape.pcm_frame_size == 0 && info.has_sample_groups != 0;
  row->first_source = plan->sources.count;
  row->source_count = 1;
  return plan->sources.append(SampleSource{input, info.track_id, row->sample_count, 0, row->sample_count, 0, 0, 0, 0, 0, 0, 0});
}

}  // namespace

namespace {

// The tracks the reading already left out: their handler and format are
// unknown. Those the selection leaves out anyway go unmentioned.
void report_unread_tracks(MediaFile* input, SelectionCheck* check, const RemuxEvents& events, void* user) {
  DroppedTrackFacts d;
  for (uint32_t i = 0; dropped_track(input, i, &d) == ErrorCode::Ok; ++i) {
    bool kept = selection_check_track(check, d.track_id, handler_kind_of_type(d.handler));
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
        events.track_dropped(info.track_id, info.handler_type, info.fourcc, reason, user);
      continue;
    }
    if (info.timescale == 0) {
      e = media_malformed(input, "media time scale of 0");
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
  if (movie.timescale == 0) return media_malformed(input, "movie time scale of 0");
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
  if (movie.found_cut != 0) cut = true;
  if (cut && !options.salvage) return ErrorCode::Truncated;
  place_tracks_in_time(plan);
  // A range of joined inputs is cut from the joined movie, once it is whole.
  if (options.range.set && options.joined_count == 0) VT_TRY(track_plan_cut_range(plan, options, events, user));
  return ErrorCode::Ok;
}

ErrorCode classify_track(MediaFile* input, OutputForm form, const TrackInfo* info, PlannedTrack* row,
                         uint32_t* drop_reason) {
  TrackCarry carry{};
  VT_TRY(track_carry(input, info, form == kOutputQuickTime, &carry, drop_reason));
  row->carried_whole = carry.whole;
  row->carried_as_stored = carry.as_stored;
  row->derived_config = carry.derived_config;
  row->video = carry.video;
  row->audio = carry.audio;
  row->subpicture = carry.subpicture;
  row->ac3_packed = carry.ac3_packed;
  return ErrorCode::Ok;
}

ErrorCode build_track_spec(MediaFile* input, const PlannedTrack* row, const TrackInfo* info, TrackSpec* track_spec,
                           uint32_t* drop_reason) {
  const TrackCarry carry{row->carried_whole, row->carried_as_stored, row->derived_config, row->video,
                         row->audio,         row->subpicture,        row->ac3_packed};
  return track_carry_shape(input, info, &carry, track_spec, drop_reason);
}

const char* drop_reason_text(uint32_t reason) {
  switch (reason) {
    case kDropCodec: return "its codec is not carried";
    case kDropConfiguration: return "its codec configuration is missing";
    case kDropDescriptions: return "its samples switch between different sample descriptions";
    case kDropTables: return "its sample tables are missing";
    case kDropObjectType: return "its MPEG-4 audio object type is not carried";
    case kDropMalformed: return "one of its boxes is cut short";
    case kDropNeedsQuickTime: return "its codec needs a QuickTime movie (an output named .mov keeps it)";
    case kDropStreamUnreadable: return "its stream does not parse as its codec";
    case kDropOutsideRange: return "it shows nothing within the range";
  }
  return "it cannot be carried";
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
  return track_shortfall(input, track_id, out, nullptr, nullptr);
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
