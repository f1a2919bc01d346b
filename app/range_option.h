#pragma once
// --range START-END: a stretch of the input as seconds, [hh:]mm:ss[.fff]
// or frames (fA-fB), turned into the engine's range.
#include <cstdint>

namespace vantorel::app {

enum RangeValueUnit : uint32_t { kRangeValueNanoseconds = 0, kRangeValueFrames = 1 };

struct RangeValue {
  const char* text;  // as given, for messages
  uint32_t unit;     // RangeValueUnit
  uint64_t start;    // 0 for an empty START
  uint64_t end;      // UINT64_MAX for an empty END: to the end
};

enum class RangeParse : uint32_t {
  Ok = 0,
  Malformed = 1,  // not START-END: ends of two kinds, a field out of its range, a number past 64 bits
  Backwards = 2,  // END at or before START
};

// "3.0-7.0", "1:02-1:05.5", "01:00:00-", "-7", "f90-f210" into `out`.
// Minutes and seconds after a colon stay below 60.
RangeParse parse_range_value(const char* text, RangeValue* out);

// A time in nanoseconds as seconds with three decimals ("2.002").
void format_range_seconds(uint64_t nanoseconds, char* out, uint32_t capacity);

}  // namespace vantorel::app
