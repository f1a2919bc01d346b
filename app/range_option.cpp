#include "app/range_option.h"

#include <cstdio>
#include <cstring>

namespace vantorel::app {

namespace {

constexpr uint64_t kNanosecondsPerSecond = 1000000000;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits in [p, end) as a whole number; false for none or past 64 bits.
bool whole_number(const char* p, const char* end, uint64_t* out) {
  if (p == end) return false;
  uint64_t value = 0;
  for (; p < end; ++p) {
    if (!is_digit(*p)) return false;
    const auto d = static_cast<uint64_t>(*p - '0');
    if (value > (UINT64_MAX - d) / 10) return false;
    value = value * 10 + d;
  }
  *out = value;
  return true;
}

// "ss", "ss.fff" (up to nine decimals) as nanoseconds.
bool seconds_field(const char* p, const char* end, uint64_t* out) {
  const char* point = static_cast<const char*>(std::memchr(p, '.', static_cast<size_t>(end - p)));
  uint64_t whole = 0;
  if (!whole_number(p, point != nullptr ? point : end, &whole)) return false;
  if (whole > UINT64_MAX / kNanosecondsPerSecond) return false;
  uint64_t fraction = 0;
  if (point != nullptr) {
    const char* digits = point + 1;
    if (digits == end || end - digits > 9) return false;
    if (!whole_number(digits, end, &fraction)) return false;
    for (auto n = end - digits; n < 9; ++n) fraction *= 10;
  }
  const uint64_t value = whole * kNanosecondsPerSecond;
  if (value > UINT64_MAX - fraction) return false;
  *out = value + fraction;
  return true;
}

// "[hh:]mm:ss[.fff]" or plain seconds, as nanoseconds.
bool time_value(const char* p, const char* end, uint64_t* out) {
  const char* colons[2] = {nullptr, nullptr};
  uint32_t colon_count = 0;
  for (const char* q = p; q < end; ++q) {
    if (*q != ':') continue;
    if (colon_count == 2) return false;
    colons[colon_count++] = q;
  }
  if (colon_count == 0) return seconds_field(p, end, out);
  uint64_t seconds = 0;
  if (!seconds_field(colons[colon_count - 1] + 1, end, &seconds) || seconds >= 60 * kNanosecondsPerSecond) return false;
  uint64_t minutes = 0, hours = 0;
  const char* minutes_start = colon_count == 2 ? colons[0] + 1 : p;
  if (!whole_number(minutes_start, colons[colon_count - 1], &minutes)) return false;
  if (colon_count == 2 && (!whole_number(p, colons[0], &hours) || minutes >= 60)) return false;
  // Hours and minutes of any size a movie can have stay far inside 64 bits.
  if (hours > 1000000 || minutes > 60000000) return false;
  *out = ((hours * 60 + minutes) * 60) * kNanosecondsPerSecond + seconds;
  return true;
}

// One end: empty (`*given` false), a time, or "fN" (`*frames`).
bool range_end(const char* p, const char* end, bool* given, bool* frames, uint64_t* out) {
  *given = p != end;
  *frames = false;
  if (!*given) return true;
  if (*p == 'f' || *p == 'F') {
    *frames = true;
    return whole_number(p + 1, end, out);
  }
  return time_value(p, end, out);
}

}  // namespace

RangeParse parse_range_value(const char* text, RangeValue* out) {
  *out = RangeValue{text, kRangeValueNanoseconds, 0, UINT64_MAX};
  if (text == nullptr) return RangeParse::Malformed;
  const char* dash = std::strchr(text, '-');
  if (dash == nullptr || std::strchr(dash + 1, '-') != nullptr) return RangeParse::Malformed;
  const char* end = text + std::strlen(text);
  bool start_given = false, end_given = false, start_frames = false, end_frames = false;
  uint64_t start = 0, stop = UINT64_MAX;
  if (!range_end(text, dash, &start_given, &start_frames, &start)) return RangeParse::Malformed;
  if (!range_end(dash + 1, end, &end_given, &end_frames, &stop)) return RangeParse::Malformed;
  if (!start_given && !end_given) return RangeParse::Malformed;
  // Both ends count the same thing.
  if (start_given && end_given && start_frames != end_frames) return RangeParse::Malformed;
  if (!start_given) start = 0;
  if (!end_given) stop = UINT64_MAX;
  if (stop <= start) return RangeParse::Backwards;
  out->unit = start_frames || end_frames ? kRangeValueFrames : kRangeValueNanoseconds;
  out->start = start;
  out->end = stop;
  return RangeParse::Ok;
}

void format_range_seconds(uint64_t nanoseconds, char* out, uint32_t capacity) {
  // Rounded to the millisecond.
  const uint64_t ms = nanoseconds / 1000000 + (nanoseconds % 1000000 >= 500000 ? 1 : 0);
  std::snprintf(out, capacity, "%llu.%03llu", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000));
}

}  // namespace vantorel::app
