#include "app/progress.h"

#include <cerrno>
#include <chrono>

#include "app/platform.h"

namespace vantorel::app {

namespace {

uint64_t steady_ms() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

}  // namespace

void progress_print(std::FILE* out, uint32_t permille, ProgressState* progress) {
  if (out == nullptr || progress == nullptr) return;
  if (progress->printed && progress->last == permille) return;
  // A terminal repainted a thousand times a second costs more than the
  // remux of a small file; the eye needs ten.
  if (progress->interval_ms != 0) {
    uint64_t now = progress->clock_ms != nullptr ? progress->clock_ms() : steady_ms();
    if (progress->printed && now - progress->painted_ms < progress->interval_ms) return;
    progress->painted_ms = now;
  }
  int width;
  if (progress->label != nullptr) {
    width = console_printf(out, "%s %u.%u %% \r", progress->label, permille / 10, permille % 10);
  } else {
    width = console_printf(out, "%u.%u %% \r", permille / 10, permille % 10);
  }
  // Without a line feed a line-buffered console would show nothing.
  std::fflush(out);
  progress->printed = 1;
  progress->shown = 1;
  progress->last = permille;
  // The widest line, without its carriage return, is what clearing covers.
  if (width > 1 && static_cast<uint32_t>(width - 1) > progress->width)
    progress->width = static_cast<uint32_t>(width - 1);
}

void progress_begin_pass(ProgressState* progress, uint32_t pass) {
  if (progress == nullptr) return;
  progress->label = pass == 0 ? "analysing" : "writing";
  progress->printed = 0;
}

void progress_clear(ProgressState* progress) {
  if (progress == nullptr || progress->out == nullptr || !progress->shown) return;
  console_printf(progress->out, "%*s\r", static_cast<int>(progress->width), "");
  std::fflush(progress->out);
  progress->shown = 0;
  progress->width = 0;
}

uint32_t progress_report(uint32_t permille, void* user) {
  auto* state = static_cast<RunState*>(user);
  if (state != nullptr) progress_print(state->progress.out, permille, &state->progress);
  return 1;
}

void progress_pass_started(uint32_t pass, void* user) {
  auto* state = static_cast<RunState*>(user);
  if (state != nullptr) progress_begin_pass(&state->progress, pass);
}

std::FILE* progress_stream(std::FILE* out, std::FILE* err, bool quiet) {
  if (quiet) return nullptr;
  if (stream_is_terminal(out)) return out;
  if (stream_is_terminal(err)) return err;
  return nullptr;
}

bool print_done(std::FILE* out, int* error_number) {
  errno = 0;
  console_puts("Done.\n", out);
  bool failed = std::fflush(out) != 0;
  if (error_number != nullptr) *error_number = failed ? errno : 0;
  return !failed && std::ferror(out) == 0;
}

}  // namespace vantorel::app
