#pragma once
// Matching joined inputs to the first, and their sample entries
// (join_match.cpp), for the join plan.
#include <cstdint>

#include "io/grow_array.h"
#include "remux/track_plan.h"

namespace vantorel {

// A track's sample entries as read; `count` 0 when they were not kept.
struct Entries {
  const uint8_t* bytes;
  uint32_t size;
  uint32_t count;
};

Entries entries_of(const TrackPlan& plan, const PlannedTrack& row);

// The first failing check of track `i` of a later plan against the first's
// (a JoinFault; kJoinMet when it matches).
ErrorCode match_track(const TrackPlan& first, const TrackPlan& other, uint32_t i, uint32_t* fault);

// The descriptions of one joined track: the entries gathered so far and,
// per later input, where its numbers start in the map.
struct JoinedEntries {
  GrowArray<uint8_t> bytes;
  uint32_t count;
};

// Adds the entries not yet among `joined` and writes each one's output
// number into the map: count first, then the numbers.
ErrorCode map_entries(JoinedEntries* joined, const Entries& entries, GrowArray<uint32_t>* map, uint32_t* map_at);

}  // namespace vantorel
