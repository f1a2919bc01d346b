#pragma once
// Time code tracks ('tmcd'): the fields of the sample entry that say how
// its samples, each a 32-bit frame number, count frames.
#include <cstdint>

namespace vantorel {

struct TimecodeEntry {
  uint32_t flags;           // 1: drop frame, 2: wraps at 24 hours, 4: negative times, 8: counter
  uint32_t timescale;       // of frame_duration
  uint32_t frame_duration;  // one frame, in `timescale` units
  uint8_t frames_per_second;
};

// Reads the 'tmcd' sample entry at `entry` (`size` bytes, from its size
// field). False when it is no 'tmcd' entry or is too short for its fields.
bool timecode_entry_read(const uint8_t* entry, uint32_t size, TimecodeEntry* out);

// The frame number a sample of value `frame` reads after `elapsed` track
// units of `media_timescale` (rounded up to a whole frame: the first frame
// shown at or after that time).
uint32_t timecode_advance(const TimecodeEntry& entry, uint32_t frame, uint64_t elapsed, uint32_t media_timescale);

}  // namespace vantorel
