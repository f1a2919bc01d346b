// One pass over the input: the scheduler's groups read and written into
// parts, and the parts cut where the scheduler finds them full. Each job
// keeps its own record; this loop hands each one what it needs of the others.
#include "io/value64.h"
#include "remux/remux_job.h"

namespace vantorel {

namespace {

std::span<const PlannedTrack> planned_tracks(const RemuxJob* job) {
  return {job->plan.tracks.data(), job->plan.tracks.count};
}

// The lane's next sample from its track's sources.
ErrorCode feed(RemuxJob* job, uint32_t lane) {
  SourceSample next;
  bool more = track_source_next(&job->cursors[lane], &next);
  VT_TRY(job->cursors[lane].failure);
  scheduler_feed(&job->scheduler, lane, more ? &next : nullptr);
  return ErrorCode::Ok;
}

// Every lane back at its first sample.
ErrorCode start_pass(RemuxJob* job) {
  scheduler_restart(&job->scheduler);
  const TrackPlan& plan = job->plan;
  for (uint32_t i = 0; i < plan.tracks.count; ++i) {
    const PlannedTrack& row = plan.tracks[i];
    track_source_release(&job->cursors[i]);
    group_track_restart(&job->group_tracks[i]);
    VT_TRY(track_source_start(&job->cursors[i], &plan.sources[row.first_source], row.source_count));
    VT_TRY(feed(job, i));
  }
  return ErrorCode::Ok;
}

ErrorCode open_part(RemuxJob* job, uint32_t index) {
  const bool continuation = index > 0;
  VT_TRY(parts_open(&job->parts, index, continuation, planned_tracks(job)));
  scheduler_part_opened(&job->scheduler, continuation);
  return ErrorCode::Ok;
}

ErrorCode close_part(RemuxJob* job, uint32_t index) {
  VT_TRY(read_plan_flush_window(&job->reads, job->parts.output));
  const Scheduler& s = job->scheduler;
  const PartSpan span{s.file_start_time, s.last_cut_time, s.queued_end_time, scheduler_part_duration(s, index, false)};
  ErrorCode e = parts_close(&job->parts, index, span, planned_tracks(job));
  scheduler_part_closed(&job->scheduler);
  return e;
}

// Moves on to the next part when the pending group would take the current
// one past its limit.
ErrorCode split_if_due(RemuxJob* job, uint32_t* index) {
  uint64_t limit = 0;
  if (!scheduler_split_limit(job->scheduler, *index, &limit)) return ErrorCode::Ok;
  uint64_t header_size = 0;
  if (job->options.split.mode == kSplitBySize) VT_TRY(parts_header_size(&job->parts, &header_size));
  if (!scheduler_over_limit(job->scheduler, *index, limit, header_size)) return ErrorCode::Ok;
  VT_TRY(close_part(job, *index));
  ++*index;
  return open_part(job, *index);
}

// Orders the pending group and writes it into the open part.
ErrorCode write_group(RemuxJob* job) {
  Scheduler& s = job->scheduler;
  VT_TRY(scheduler_order(&s));
  for (uint32_t i = 0; i < job->group_tracks.count; ++i) {
    GroupTrack& g = job->group_tracks[i];
    const Lane& lane = s.lanes[i];
    g.output_track_id = job->parts.output_track_ids[i];
    g.delay = scheduler_group_delay(s, i);
    g.filler = lane.filler_due;
    g.filler_duration = g.filler ? low32(rescale(g.delay, s.movie_timescale, lane.setup.timescale)) : 0;
    g.groups_to = g.groups_from = nullptr;
    g.groups_count = 0;
  }
  VT_TRY(read_plan_write_group(&job->reads, job->parts.output, {job->group_tracks.data(), job->group_tracks.count},
                               {s.write_order.data(), s.write_order.count},
                               {s.write_samples.data(), s.write_samples.count}));
  scheduler_group_written(&s);
  return ErrorCode::Ok;
}

uint32_t report_progress(RemuxJob* job) {
  if (job->events.progress == nullptr) return 1;
  return job->events.progress(scheduler_progress(job->scheduler, job->plan.movie_duration), job->stream.user);
}

}  // namespace

ErrorCode run_pass(RemuxJob* job) {
  VT_TRY(start_pass(job));
  Scheduler& s = job->scheduler;
  uint32_t index = 0;
  VT_TRY(open_part(job, 0));
  for (;;) {
    uint32_t lane = scheduler_next_lane(s);
    if (lane == kNoLane) break;
    if (scheduler_is_cut_point(s, lane)) {
      VT_TRY(split_if_due(job, &index));
      VT_TRY(write_group(job));
      if (report_progress(job) == 0) break;
    }
    VT_TRY(scheduler_queue(&s, lane));
    VT_TRY(feed(job, lane));
  }
  // The last group too must not take the part past its limit.
  if (s.pending.count > 0) VT_TRY(split_if_due(job, &index));
  VT_TRY(write_group(job));
  VT_TRY(read_plan_flush_window(&job->reads, job->parts.output));
  read_plan_pass_done(&job->reads);
  // The pass is done: its progress reaches its end.
  if (job->events.progress != nullptr) job->events.progress(1000, job->stream.user);
  return close_part(job, index);
}

}  // namespace vantorel
