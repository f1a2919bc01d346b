#pragma once
// A run of the engine: the records of its jobs, which the two passes share.
#include <cstdint>

#include "io/grow_array.h"
#include "remux/join_plan.h"
#include "remux/parts.h"
#include "remux/read_plan.h"
#include "remux/remux.h"
#include "remux/scheduler.h"
#include "remux/stream_routines.h"
#include "remux/track_plan.h"
#include "remux/track_source.h"

namespace vantorel {

struct RemuxJob {
  StreamContext stream;  // the pass, the caller's routines and user value
  RemuxOptions options;
  RemuxEvents events;  // the caller's, or none
  const void* input_name;
  MediaFile* input;
  GrowArray<MediaFile*> joined;  // the inputs played after the first, open while the run lasts
  JoinMismatch join_mismatch;
  uint32_t failed_input;
  GrowArray<ChapterInput> chapter_inputs;  // every input of a join, for the chapters  // a joined input whose opening or survey failed (1-based), or 0
  TrackPlan plan;        // fixed across both passes
  Scheduler scheduler;   // pending samples, write order, cut points
  ReadPlan reads;        // how each group's samples are read
  OutputParts parts;     // the output files
  // Per planned track: the walk over its samples, and what writing its
  // samples of a group needs.
  GrowArray<TrackCursor> cursors;
  GrowArray<GroupTrack> group_tracks;
};

// One pass over the input into every part (pass_loop.cpp).
ErrorCode run_pass(RemuxJob* job);

}  // namespace vantorel
