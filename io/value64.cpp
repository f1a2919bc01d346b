#include "io/value64.h"

#include <ctime>

namespace vantorel {

Value64 now_1904() {
  std::time_t t = std::time(nullptr);
  if (t < 0) t = 0;
  return static_cast<Value64>(t) + 2082844800u;
}

}  // namespace vantorel
