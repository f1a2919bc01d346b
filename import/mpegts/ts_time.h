#pragma once
// Transport stream time: 33-bit timestamps of 90 kHz unwrapped into a
// 64-bit line, jumps in it found, and the stretches between jumps joined
// back to back on the reference track, the other tracks following it.
#include <cstdint>

namespace vantorel {

constexpr int64_t kTsTimeWrap = int64_t{1} << 33;
constexpr int64_t kTsClockRate = 90000;

// One timeline being unwrapped (one per track, in decode order).
struct TsUnwrap {
  int64_t last;
  bool started;
};

// The unwrapped value of a 33-bit timestamp: of all values that equal it
// modulo 2^33, the one nearest the previous result (the first is taken as
// it is). Steps are thus within half the wrap, about 13 hours, either way.
int64_t ts_unwrap(TsUnwrap* u, uint64_t raw);

enum class TsJump : uint8_t { None, Backward, Forward };

// Whether the step from one decode time to the next breaks the timeline:
// backward when it goes back past a discontinuity indicator or by more than
// `limit`; forward when it goes ahead by more than `limit` (a second is
// kTsClockRate). A step back within the limit and without an indicator is
// left to the caller (a faulty time, not a new recording).
TsJump ts_jump(int64_t previous, int64_t next, bool discontinuity, int64_t limit);

// A stretch of one track between jumps: where in the file it begins (the
// offset of its first unit), its first decode time, and where it ends (the
// last decode time plus that unit's duration).
struct TsStretch {
  uint64_t offset;
  int64_t start;
  int64_t end;
};

// The shift to add to each stretch of the reference track so that each
// begins where the one before it ends: the first keeps its times, and no
// duration inside a stretch changes.
void ts_join_reference(const TsStretch* stretches, uint32_t n, int64_t* shifts);

// The reference stretch that another track's stretch beginning at byte
// `offset` goes with: the one whose beginning lies nearest in the file (the
// earlier one on a tie). The other track takes its shift, so it keeps its
// offset to the reference across the jump. `n` must be at least 1.
uint32_t ts_match_stretch(const TsStretch* reference, uint32_t n, uint64_t offset);

}  // namespace vantorel
