#pragma once
// The order in which samples go out and where the outputs are cut: samples
// are queued in decode-time order over all tracks and grouped at video sync
// samples; each group is written with its audio pulled ahead of the video it
// accompanies, and the output is split between groups when it is full.
// Pure functions of each sample's time, duration, size and sync flag: the
// caller feeds every lane its next sample and does the reading and writing.
#include <cstdint>

#include "io/grow_array.h"
#include "remux/remux.h"
#include "remux/track_source.h"

namespace vantorel {

// What the scheduler knows of a planned track; fixed for the run.
struct LaneSetup {
  uint32_t timescale;
  bool video;
  bool audio;
  bool subpicture;
  uint64_t start_delay;  // movie units: where the track starts in the first part
  // Media time at which the track's presentation starts (track units), in
  // the first part and in later ones.
  int64_t media_time;
  int64_t continuation_media_time;
};

// One planned track within a pass.
struct Lane {
  LaneSetup setup;
  uint64_t start_time;        // track units: its start delay
  uint64_t batch_start_time;  // track units: decode time of its first sample in the group
  uint64_t next_time;         // track units: decode time of its next sample
  uint64_t next_movie_time;   // the same in movie units, while it has a next sample
  SourceSample next;          // its next sample, while it has one
  bool has_next;
  // A later part's subpicture track starts with an empty unit that lasts
  // until its first sample; due until that sample is written.
  bool filler_due;
  // Where the presentation of its samples in the current part ends (track
  // units, absolute; 0 when none): of those written, and of those pending.
  int64_t flushed_presentation_end;
  int64_t pending_presentation_end;
};

struct PendingSample {
  uint32_t lane;  // or kPlaced once in the write order
  uint64_t time;  // movie units
  SourceSample sample;
};
constexpr uint32_t kPlaced = 0xFFFFFFFF;
constexpr uint32_t kNoLane = 0xFFFFFFFF;

struct Scheduler {
  uint32_t movie_timescale;
  SplitOptions split;
  bool no_video;  // no lane is video: every sample is a cut point
  GrowArray<Lane> lanes;
  GrowArray<PendingSample> pending;  // the group queued since the last cut point
  GrowArray<uint32_t> write_order;   // its lanes, in the order their samples go out
  GrowArray<SourceSample> write_samples;  // and their samples, in the same order
  // Running values of a pass (movie units, except the byte counts): where
  // the current part began, where the last group ended, and how far the
  // queued samples reach.
  uint64_t file_start_end_time;
  uint64_t file_start_time;
  uint64_t file_start_bytes;
  uint64_t last_cut_end_time;
  uint64_t last_cut_time;  // none64 once every lane is finished
  uint64_t last_cut_bytes;
  uint64_t queued_end_time;
  uint64_t queued_bytes;
  // Whether the current part holds a video sample: until it does it is not
  // closed, so no part of a movie with video is without one (sound that
  // starts before the first picture goes with it).
  bool part_has_video;
};

void scheduler_init(Scheduler* s, uint32_t movie_timescale, const SplitOptions& split);
ErrorCode scheduler_add_lane(Scheduler* s, const LaneSetup& setup);
void scheduler_release(Scheduler* s);

// A pass begins: every lane back at its start, waiting for its first sample.
void scheduler_restart(Scheduler* s);
// Lane `lane`'s next sample, or null when it has none left.
void scheduler_feed(Scheduler* s, uint32_t lane, const SourceSample* next);

// The lane whose next sample comes first in decode time (the lowest index
// among equals), or kNoLane when every lane is finished.
uint32_t scheduler_next_lane(const Scheduler& s);
// Whether the pending group ends before that lane's next sample.
bool scheduler_is_cut_point(const Scheduler& s, uint32_t lane);
// Appends the lane's next sample to the pending group; the caller feeds the
// lane again.
ErrorCode scheduler_queue(Scheduler* s, uint32_t lane);

// The limit part `index` is held to, or false when it may not be split now
// (it holds no sample yet, no split is asked, or no limit is left for it).
bool split_limit(const SplitOptions& split, uint32_t index, uint64_t* limit);
bool scheduler_split_limit(const Scheduler& s, uint32_t index, uint64_t* limit);
// Whether the pending group would take part `index` past `limit`: by size,
// with `header_size` the part's 'ftyp' and movie header as they stand.
bool scheduler_over_limit(const Scheduler& s, uint32_t index, uint64_t limit, uint64_t header_size);

// Fills the write order of the pending group: audio is pulled ahead of the
// video it overlaps by up to half a second, in runs of a quarter second per
// lane.
ErrorCode scheduler_order(Scheduler* s);
// Movie units from the part's start to where the lane's samples of the
// group start: the start delay its first sample in the part gets.
uint64_t scheduler_group_delay(const Scheduler& s, uint32_t lane);
// The group is written: it becomes part of the current part.
void scheduler_group_written(Scheduler* s);

void scheduler_part_opened(Scheduler* s, bool continuation);
// The current part is closed: the next starts where the last group ended.
void scheduler_part_closed(Scheduler* s);
// The movie header duration (movie units) part `index` has with its written
// samples, and with the pending ones too when `pending`.
uint64_t scheduler_part_duration(const Scheduler& s, uint32_t index, bool pending);
// How far the queued samples reach, in tenths of a per cent of `duration`
// (movie units); 0 when the movie has no duration.
uint32_t scheduler_progress(const Scheduler& s, uint64_t duration);

}  // namespace vantorel
