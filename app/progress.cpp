#include "app/progress.h"

namespace vantorel::app {

void progress_print(std::FILE* out, uint32_t permille, ProgressState* progress) {
  if (out == nullptr || progress == nullptr) return;
  if (progress->printed && progress->last == permille) return;
  std::fprintf(out, "%u.%u %% \r", permille / 10, permille % 10);
  // Without a line feed a line-buffered console would show nothing.
  std::fflush(out);
  progress->printed = 1;
  progress->last = permille;
}

uint32_t progress_report(uint32_t permille, void* user) {
  auto* state = static_cast<RunState*>(user);
  if (state != nullptr) progress_print(state->progress.out, permille, &state->progress);
  return 1;
}

void print_done(std::FILE* out) {
  std::fputs("Done.     \n", out);
  std::fflush(out);
}

}  // namespace vantorel::app
