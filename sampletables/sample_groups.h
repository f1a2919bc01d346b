#pragma once
// Sample groups ('sgpd' descriptions and 'sbgp' sample-to-group runs) and
// sample dependencies ('sdtp'): read from a track, and rebuilt for a written
// track one sample at a time, so each sample keeps its group and its
// dependency flags whatever part of the track an output holds. The group
// descriptions travel as the bytes read.
#include <cstdint>

#include "boxes/box_tree.h"
#include "boxes/owned_block.h"
#include "io/grow_array.h"

namespace vantorel {

struct GroupRun {
  uint32_t sample_count;
  uint32_t group_index;  // 1-based into the descriptions of its type; 0: no group
};

struct SampleGrouping {
  uint8_t version;
  uint32_t flags;
  uint32_t grouping_type;
  uint32_t parameter;  // version 1
  GrowArray<GroupRun> runs;
  // Where the last look-up ended, so samples asked for in order cost one step.
  uint32_t cursor_run;
  uint32_t cursor_first;  // 0-based sample at the start of cursor_run
};

// One sample's sub-sample information ('subs'): its sub-samples' bytes as
// stored, in `SampleGroupsRecord::subsample_bytes`.
struct SubsampleEntry {
  uint32_t sample;  // 0-based
  uint32_t offset;  // into subsample_bytes
  uint32_t length;
  uint16_t count;
};

// A joined input's groups as a written track numbers them: per group
// description type of the input, its entries' numbers in the written
// track's description of that type ([first, first + count) of `numbers`).
struct JoinedNumbering {
  uint32_t grouping_type;
  uint32_t first;
  uint32_t count;
};
struct JoinedGroups {
  const TrackBoxes* from;
  GrowArray<JoinedNumbering> types;
  GrowArray<uint32_t> numbers;
  // Per grouping of the written track (as many as it had when this input
  // joined): the input's grouping of the same type and parameter, 1-based; 0 none.
  GrowArray<uint32_t> groupings;
  bool subsamples;  // its 'subs' has the written one's form
};

struct SampleGroupsRecord {
  GrowArray<OwnedBlock> descriptions;  // whole 'sgpd' boxes, header included
  GrowArray<SampleGrouping> groupings;
  GrowArray<uint8_t> dependencies;     // 'sdtp': one byte a sample
  uint32_t has_dependencies;
  // 'subs': the samples that have sub-sample information, in order.
  uint32_t has_subsamples;
  uint8_t subs_version;  // 1: 32-bit sub-sample sizes
  uint32_t subs_flags;
  GrowArray<SubsampleEntry> subsamples;
  GrowArray<uint8_t> subsample_bytes;
  uint32_t subs_cursor;    // where the last look-up ended
  uint32_t samples_followed;  // written track: samples recorded so far
  // Written track: inputs joined after the one it started from.
  GrowArray<JoinedGroups> joined;
};

// Row operations of the 'stbl' list; the context is the track. Malformed
// for counts the boxes cannot hold.
ErrorCode sgpd_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode sbgp_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode sdtp_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode subs_read(BoxFile* file, const BoxHeader* header, void* context);

// The track's groups, or null.
SampleGroupsRecord* sample_groups(TrackBoxes* track);
// The same, made when the track has none yet (null without memory).
SampleGroupsRecord* sample_groups_make(TrackBoxes* track);
void sample_groups_release(TrackBoxes* track);
// The boxes after the sample tables: every 'sgpd' as read, an 'sbgp' per
// grouping, 'sdtp' and 'subs' (bytes with headers).
ErrorCode sample_groups_write(BoxFile* file, TrackBoxes* track);
uint64_t sample_groups_size(TrackBoxes* track);

// Gives the written track `to` the group descriptions and groupings (with no
// samples yet) of `from`, and dependencies when `from` has them.
ErrorCode sample_groups_start(TrackBoxes* to, TrackBoxes* from);
// Adds the groups of `from`, a track joined after the one `to` started
// from: its descriptions' entries join those of the same type (identical
// entries shared; an entry that cannot be told apart from its box's other
// entries, in a box not byte-identical to the written one, is no group),
// its groupings those of the same type and parameter, and its
// dependencies and sub-samples follow.
ErrorCode sample_groups_join(TrackBoxes* to, TrackBoxes* from);
// Records that the `count` samples just written to `to` are samples `index`
// on (0-based) of `from` (the track `to` started from, or one joined): their
// groups in each grouping, their dependency bytes and their sub-samples.
ErrorCode sample_groups_follow(TrackBoxes* to, TrackBoxes* from, uint32_t index, uint32_t count);

// Gives a written track of `sample_count` samples a 'roll' group that
// holds them all, each decoded right after the `-roll_distance` samples
// before it (AAC: -1), unless it has a 'roll' grouping already.
ErrorCode sample_groups_add_roll(TrackBoxes* track, int16_t roll_distance, uint32_t sample_count);
// The roll_distance of the first entry of the track's 'roll' description;
// false when it has none or the box is cut before it.
bool sample_groups_roll_distance(TrackBoxes* track, int16_t* roll_distance);

}  // namespace vantorel
