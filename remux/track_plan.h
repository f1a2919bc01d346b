#pragma once
// The track plan: which input tracks the remux carries, what each becomes
// and where its samples come from. Made once, in the survey of the input,
// so both passes build the same tracks.
#include <cstdint>

#include "io/grow_array.h"
#include "mediafile/mediafile.h"
#include "remux/remux.h"
#include "remux/track_source.h"

namespace vantorel {

// An edit of a joined track: media time (track units) and duration (movie units).
struct JoinEdit {
  int64_t media_time;
  uint64_t duration;
};

struct PlannedTrack {
  // The output keeps the id of the first source's track.
  uint32_t input_track_id;
  FourCC fourcc;
  uint32_t timescale;
  uint32_t sample_count;  // of all its sources
  bool video;
  bool audio;
  bool subpicture;
  // Codec decisions.
  bool carried_whole;    // its sample entries go out as read
  bool carried_as_stored;  // a format the table does not rebuild, carried whole under its own handler
  bool derived_config;   // a missing configuration record was derived
  uint32_t ac3_packed;   // 'dac3' fields of an AC-3 track (from its first frame when needed)
  bool follows_groups;   // its samples carry sample groups, dependencies or sub-samples
  // How it is rebuilt (the part fills in media times and references), or,
  // when `shape_drop` is set, why it cannot be.
  TrackSpec shape;
  uint32_t shape_drop;
  uint64_t start_delay;  // leading empty edit (and later first fragment), movie units
  // Media time at which the track's presentation starts (its first edit plus
  // what normalising its composition offsets added), media units; and the
  // same for continuation files, relative to the earliest track.
  int64_t media_time;
  int64_t continuation_media_time;
  int64_t media_end;  // the input's presentation end in its media time; 0: the samples' end
  // A chapter track none of whose referring tracks is kept, and the kept
  // track that names such tracks as its chapters instead.
  bool chapter_orphan;
  bool chapter_host;
  // A time code track cut by a range: its first sample's bytes, re-counted
  // to the time the range starts at.
  bool first_replaced;
  uint8_t first_bytes[4];
  // Joined sound whose every input starts after its encoder's priming: an
  // edit per input, entries [first_edit, first_edit + edit_count) of the
  // plan's joined_edits; none otherwise.
  uint32_t first_edit;
  uint32_t edit_count;
  // Its sources: entries [first_source, first_source + source_count) of the plan's.
  uint32_t first_source;
  uint32_t source_count;
};

struct TrackPlan {
  MediaFile* input;  // the first input
  uint32_t movie_timescale;
  uint64_t movie_duration;
  uint32_t largest_sample;  // bytes, over every source
  GrowArray<PlannedTrack> tracks;
  GrowArray<SampleSource> sources;
  // With a track selection that cannot be met (the survey then fails with
  // BadArgument): the SelectionFault and the pick it concerns.
  uint32_t selection_fault;
  uint32_t selection_pick;
  // With a range (the survey fails with BadArgument when it does not fit):
  // the RangeFault, and where it was placed.
  uint32_t range_fault;
  RangePlacement range;
  // Joined inputs: each source's output description numbers
  // (SampleSource::description_map), and the sample entries of tracks
  // whose inputs bring more than one (their track shapes point here).
  GrowArray<uint32_t> description_map;
  GrowArray<uint8_t> joined_entries;
  // Where each input starts in the movie (100 ns units), the first's at 0:
  // its reference track's (the first video track's) inputs before it.
  GrowArray<uint64_t> input_starts;
  GrowArray<JoinEdit> joined_edits;
};

// Surveys `input` (open for reading) into the plan: keeps the tracks the
// options select, reports those it cannot carry, what the import left out
// and the tracks cut short; Truncated for a cut input unless salvaging.
ErrorCode track_plan_survey(TrackPlan* plan, MediaFile* input, const RemuxOptions& options, const RemuxEvents& events,
                            void* user);
void track_plan_release(TrackPlan* plan);

// Whether an input track is carried (a drop reason, or 0) and what the
// survey derives for it: the library's codec table (track_carry) as a plan row.
ErrorCode classify_track(MediaFile* input, OutputForm form, const TrackInfo* info, PlannedTrack* row,
                         uint32_t* drop_reason);
// How a kept track is rebuilt: the TrackSpec of its codec, or a drop reason.
ErrorCode build_track_spec(MediaFile* input, const PlannedTrack* row, const TrackInfo* info, TrackSpec* track_spec,
                           uint32_t* drop_reason);

// Cuts the surveyed plan (of one input, or of joined inputs) to the
// options' range (range_plan_apply), and tells where it was placed.
ErrorCode track_plan_cut_range(TrackPlan* plan, const RemuxOptions& options, const RemuxEvents& events, void* user);

}  // namespace vantorel
