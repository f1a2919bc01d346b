// The engine's entry: the run's records set up from the survey of the
// input, the two passes, and the outputs checked.
#include "remux/remux_job.h"

#include <cstdlib>
#include <cstring>

#include "io/value64.h"
#include "mediafile/mediafile.h"
#include "remux/verify.h"

namespace vantorel {

namespace {

// Positions the library's read cursor of every source at its first sample.
ErrorCode rewind_input(RemuxJob* job) {
  for (const SampleSource& source : job->plan.sources) {
    // From the first sample of its span, sync or not: the scheduler counts
    // from there.
    uint32_t index = source.first_sample;
    uint64_t time = 0;
    ErrorCode e = track_seek(source.input, source.track_id, 0, &index, &time, 0, 0);
    if (e != ErrorCode::Ok && e != ErrorCode::NoMore) return e;
  }
  return ErrorCode::Ok;
}

// The records of the passes, one lane, cursor and part track per planned
// track.
ErrorCode set_up_passes(RemuxJob* job) {
  const TrackPlan& plan = job->plan;
  scheduler_init(&job->scheduler, plan.movie_timescale, job->options.split);
  for (const PlannedTrack& row : plan.tracks) {
    const LaneSetup lane{row.timescale,   row.video,      row.audio, row.subpicture,
                         row.start_delay, row.media_time, row.continuation_media_time};
    VT_TRY(scheduler_add_lane(&job->scheduler, lane));
    VT_TRY(job->cursors.append(TrackCursor{}));
    GroupTrack group{};
    group.input_track_id = row.input_track_id;
    group.follows_groups = row.follows_groups;
    const SampleSource& source = plan.sources[row.first_source];
    if (row.source_count == 1 && source.end_sample > source.first_sample) group.span_first = source.first_sample;
    group.sources = &source;
    group.source_count = row.source_count;
    group.first_replaced = row.first_replaced;
    std::memcpy(group.first_bytes, row.first_bytes, sizeof group.first_bytes);
    VT_TRY(job->group_tracks.append(group));
    VT_TRY(job->parts.output_track_ids.append(0));
  }
  OutputParts& parts = job->parts;
  parts.input = job->input;
  parts.stream = &job->stream;
  parts.options = &job->options;
  parts.events = &job->events;
  parts.movie_timescale = plan.movie_timescale;
  parts.range_cut = job->options.range.set;
  parts.range_start = plan.range.start;
  parts.range_end = plan.range.end;
  parts.chapter_inputs = job->chapter_inputs.data();
  parts.chapter_input_count = job->chapter_inputs.count;
  parts.joined_edits = plan.joined_edits.data();
  parts.sources = plan.sources.data();
  job->reads.input = job->input;
  job->reads.description_map = plan.description_map.data();
  job->reads.description_map_count = plan.description_map.count;
  job->reads.stream = &job->stream;
  job->reads.per_sample = job->options.per_sample;
  return read_plan_start(&job->reads, plan.largest_sample);
}

ErrorCode open_input(RemuxJob* job, const void* name, ErrorDetail* failure, MediaFile** out) {
  OpenParams params{};
  params.routines = stream_routines();
  params.path = name;
  params.user = &job->stream;
  params.failure_detail = failure;
  params.program_number = job->options.program_number;
  return media_open(out, &params, kOpenRead);
}

// Opens and surveys the joined inputs and adds their samples to the plan.
// Their tracks are reported by the first input's: only their import notes
// and cut tracks are told.
ErrorCode survey_joined(RemuxJob* job, ErrorDetail* failure) {
  const uint32_t count = job->options.joined_count;
  if (count == 0) return ErrorCode::Ok;
  RemuxEvents events{};
  events.input_note = job->events.input_note;
  events.truncated = job->events.truncated;
  GrowArray<TrackPlan> plans{};
  ErrorCode e = plans.reserve(count);
  for (uint32_t k = 0; k < count && e == ErrorCode::Ok; ++k) {
    MediaFile* input = nullptr;
    e = open_input(job, job->options.joined[k], failure, &input);
    if (e == ErrorCode::Ok) e = job->joined.append(input);
    if (e != ErrorCode::Ok) {
      if (input != nullptr) media_close(input);
      break;
    }
    if (job->events.input_surveyed != nullptr) job->events.input_surveyed(k + 2, job->stream.user);
    TrackPlan* plan = nullptr;
    e = plans.append_zeroed(&plan);
    if (e == ErrorCode::Ok) e = track_plan_survey(plan, input, job->options, events, job->stream.user);
    // Where the input failed, for the message.
    if (e != ErrorCode::Ok) {
      job->failed_input = k + 2;
      media_failure_detail(input, failure);
    }
  }
  if (e == ErrorCode::Ok && job->events.input_surveyed != nullptr) job->events.input_surveyed(1, job->stream.user);
  if (e == ErrorCode::Ok) e = join_plan_apply(&job->plan, plans.data(), plans.count, &job->join_mismatch);
  for (TrackPlan& plan : plans) track_plan_release(&plan);
  plans.release();
  VT_TRY(e);
  const uint64_t* starts = job->plan.input_starts.data();
  for (uint32_t k = 0; k <= count && k < job->plan.input_starts.count; ++k) {
    const char* title = job->options.join_titles != nullptr ? job->options.join_titles[k] : nullptr;
    VT_TRY(job->chapter_inputs.append(ChapterInput{k == 0 ? job->input : job->joined[k - 1], starts[k], title}));
  }
  uint32_t differing = 0, first_differing = 0;
  for (uint32_t k = 0; k < count; ++k)
    if (!movie_tags_equal(job->input, job->joined[k]) && differing++ == 0) first_differing = k + 2;
  if (differing > 0 && job->events.joined_metadata_differs != nullptr)
    job->events.joined_metadata_differs(first_differing, differing, job->stream.user);
  return ErrorCode::Ok;
}

// Opens the input and surveys it. NoMore when the caller stops the run after
// the survey.
ErrorCode survey(RemuxJob* job, ErrorDetail* failure) {
  VT_TRY(open_input(job, job->input_name, failure, &job->input));
  void* user = job->stream.user;
  VT_TRY(track_plan_survey(&job->plan, job->input, job->options, job->events, user));
  VT_TRY(survey_joined(job, failure));
  if (job->options.range.set && job->options.joined_count > 0)
    VT_TRY(track_plan_cut_range(&job->plan, job->options, job->events, user));
  if (job->events.surveyed != nullptr && job->events.surveyed(job->plan.tracks.count, user) == 0)
    return ErrorCode::NoMore;  // nothing is written
  VT_TRY(set_up_passes(job));
  return rewind_input(job);
}

ErrorCode both_passes(RemuxJob* job) {
  void* user = job->stream.user;
  if (job->events.pass_started != nullptr) job->events.pass_started(Pass::Measure, user);
  job->stream.pass = Pass::Measure;
  VT_TRY(run_pass(job));
  // Every output name is known now: the caller may refuse them before the
  // writing pass creates any file.
  if (job->events.outputs_planned != nullptr && job->events.outputs_planned(job->parts.measures.count, user) == 0)
    return ErrorCode::NoName;
  job->stream.pass = Pass::Write;
  VT_TRY(rewind_input(job));
  if (job->events.pass_started != nullptr) job->events.pass_started(Pass::Write, user);
  return run_pass(job);
}

// What --verify checks of each track a range cut: its span and its edit.
ErrorCode range_spans(const TrackPlan& plan, GrowArray<VerifySpan>* spans) {
  for (const PlannedTrack& row : plan.tracks) {
    const SampleSource& source = plan.sources[row.first_source];
    const bool edited = row.media_time != 0 || row.media_end != 0;
    VT_TRY(spans->append(VerifySpan{row.input_track_id, source.first_sample, source.end_sample, source.head_trim,
                                    source.tail_trim, row.first_replaced, edited, row.media_time, row.media_end}));
  }
  return ErrorCode::Ok;
}

// What --verify checks of a join: each planned track's sources, by input.
ErrorCode join_segments(const RemuxJob* job, GrowArray<VerifySegment>* segments, GrowArray<const void*>* names) {
  VT_TRY(names->append(job->input_name));
  for (uint32_t k = 0; k < job->options.joined_count; ++k) VT_TRY(names->append(job->options.joined[k]));
  const TrackPlan& plan = job->plan;
  for (uint32_t i = 0; i < plan.tracks.count; ++i) {
    const PlannedTrack& row = plan.tracks[i];
    for (uint32_t s = 0; s < row.source_count; ++s) {
      const SampleSource& source = plan.sources[row.first_source + s];
      uint32_t input = 0;
      for (uint32_t k = 0; k < job->joined.count; ++k)
        if (job->joined[k] == source.input) input = k + 1;
      VT_TRY(segments->append(VerifySegment{i, input, source}));
    }
  }
  return ErrorCode::Ok;
}

void release_job(RemuxJob* job) {
  parts_release(&job->parts);
  read_plan_release(&job->reads);
  scheduler_release(&job->scheduler);
  track_plan_release(&job->plan);
  job->cursors.release();
  job->group_tracks.release();
  job->joined.release();
  job->chapter_inputs.release();
}

}  // namespace

ErrorCode remux_run(const void* input_name, OutputNamer namer, const IoRoutines* routines, const RemuxOptions* options,
                    const RemuxEvents* events, void* user, RemuxResult* result) {
  const RemuxOptions defaults{};
  const RemuxOptions& o = options != nullptr ? *options : defaults;
  if (o.split.mode != kSplitNone && (o.split.limits == nullptr || o.split.limit_count == 0))
    return ErrorCode::BadArgument;
  // A range is one output.
  if (o.range.set && (o.split.mode != kSplitNone || o.range.end <= o.range.start)) return ErrorCode::BadArgument;
  if (o.joined_count > 0 && o.joined == nullptr) return ErrorCode::BadArgument;
  if (result != nullptr) *result = RemuxResult{};
  RemuxJob* job = alloc_record<RemuxJob>();
  if (job == nullptr) return ErrorCode::OutOfMemory;
  job->options = o;
  if (events != nullptr) job->events = *events;
  job->input_name = input_name;
  job->parts.namer = namer;
  job->stream.user = user;
  job->stream.routines = routines != nullptr ? *routines : std_routines();
  // One "now" for the whole run: both passes must build the same headers.
  uint64_t unix_epoch_in_1904 = 2082844800u;
  if (o.fixed_time_set) {
    now_pin(o.fixed_time > UINT64_MAX - unix_epoch_in_1904 ? UINT64_MAX : o.fixed_time + unix_epoch_in_1904);
  } else {
    now_pin(now_1904());
  }
  // The survey reads the input for real.
  job->stream.pass = Pass::Write;
  ErrorCode e = survey(job, result != nullptr ? &result->input_failure : nullptr);
  if (e == ErrorCode::NoMore) {
    e = ErrorCode::Ok;  // stopped by the caller after the survey
  } else if (e == ErrorCode::Ok) {
    e = both_passes(job);
  }
  // An output left open by a failure is still finalised and closed.
  if (job->parts.output != nullptr) {
    ErrorCode closed = media_close(job->parts.output);
    if (e == ErrorCode::Ok) e = closed;
    job->parts.output = nullptr;
  }
  // Each output read back and compared with the input, before the caller
  // puts it in place.
  if (e == ErrorCode::Ok && o.verify && job->parts.written_names.count > 0) {
    VerifyReport scratch{};
    GrowArray<VerifySpan> spans{};
    if (o.range.set) e = range_spans(job->plan, &spans);
    const VerifyRange range{spans.data(), spans.count};
    GrowArray<VerifySegment> segments{};
    GrowArray<const void*> names{};
    if (e == ErrorCode::Ok && o.joined_count > 0) e = join_segments(job, &segments, &names);
    const VerifyJoin join{names.data(), names.count, segments.data(), segments.count,
                          job->plan.description_map.data(), job->plan.description_map.count};
    if (e == ErrorCode::Ok)
      e = verify_remux(input_name, job->parts.written_names.items, job->parts.written_names.count,
                       &job->stream.routines, user, o.salvage ? 1 : 0, result != nullptr ? &result->verify : &scratch,
                       &o.tracks, o.program_number, o.range.set ? &range : nullptr,
                       o.joined_count > 0 ? &join : nullptr);
    spans.release();
    segments.release();
    names.release();
  }
  if (result != nullptr) {
    result->selection_fault = job->plan.selection_fault;
    result->selection_pick = job->plan.selection_pick;
    result->range_fault = job->plan.range_fault;
    result->failed_input = job->failed_input;
    result->join_fault = job->join_mismatch.fault;
    result->join_input = job->join_mismatch.input;
    result->join_track = job->join_mismatch.track_id;
  }
  // The walks are the input's: let go before it is (a stopped run leaves them open).
  for (TrackCursor& cursor : job->cursors) track_source_release(&cursor);
  if (job->input != nullptr) {
    if (e != ErrorCode::Ok && result != nullptr && job->failed_input == 0)
      media_failure_detail(job->input, &result->input_failure);
    media_close(job->input);
  }
  for (MediaFile* joined : job->joined) media_close(joined);
  release_job(job);
  std::free(job);
  now_unpin();
  return e;
}

}  // namespace vantorel
