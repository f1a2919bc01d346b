#include "io/value64.h"

#include <ctime>

namespace vantorel {

namespace {

bool now_pinned = false;
Value64 pinned_now = 0;

}  // namespace

Value64 now_1904() {
  if (now_pinned) return pinned_now;
  std::time_t t = std::time(nullptr);
  if (t < 0) t = 0;
  return static_cast<Value64>(t) + 2082844800u;
}

void now_pin(Value64 value) {
  pinned_now = value;
  now_pinned = true;
}

void now_unpin() { now_pinned = false; }

}  // namespace vantorel
