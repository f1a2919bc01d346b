#include "app/banner.h"

#include <cstring>

#include "app/command_line.h"
#include "app/platform.h"

namespace vantorel::app {

namespace {

constexpr size_t kInvokedCapacity = 256;
char g_invoked[kInvokedCapacity] = "vantorel";
char g_build_date[16] = "";

void print_usage_line(std::FILE* out) { console_printf(out, "Usage: %s <in> <out.mp4>\n", banner_invoked_name()); }

}  // namespace

void banner_set_invoked_name(const char* argv0) {
  if (argv0 == nullptr) return;
  const char* slash = last_path_separator(argv0);
  const char* base = slash != nullptr ? slash + 1 : argv0;
  if (*base == '\0') return;
  std::snprintf(g_invoked, sizeof g_invoked, "%s", base);
}

const char* banner_invoked_name() { return g_invoked; }

const char* banner_build_date() {
  if (g_build_date[0] == '\0') {
    // __DATE__ pads a day below 10 with a blank: "Dec  7 2026".
    const char* date = __DATE__;
    size_t j = 0;
    for (size_t i = 0; date[i] != '\0' && j + 1 < sizeof g_build_date; ++i) {
      if (date[i] == ' ' && j > 0 && g_build_date[j - 1] == ' ') continue;
      g_build_date[j++] = date[i];
    }
    g_build_date[j] = '\0';
  }
  return g_build_date;
}

void print_banner_and_usage(std::FILE* out) {
  console_printf(out, "%s %s - MP4 remultiplexing utility\n", kProgramName, kProgramVersion);
  console_printf(out, "Rewrites MP4, QuickTime, AVI, Matroska, WebM and MPEG-TS/PS files as interleaved MP4 files with the movie header first.\n");
  console_printf(out, "Build: %s\n", banner_build_date());
  console_printf(out, "\n");
  print_usage_line(out);
}

void print_help(std::FILE* out) {
  print_banner_and_usage(out);
  print_options(out, banner_invoked_name());
}

void print_usage(std::FILE* out) {
  print_usage_line(out);
  print_options(out, banner_invoked_name());
}

void print_version(std::FILE* out) { console_printf(out, "%s %s\n", kProgramName, kProgramVersion); }

}  // namespace vantorel::app
