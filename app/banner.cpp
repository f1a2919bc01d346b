#include "app/banner.h"

#include "app/command_line.h"

namespace vantorel::app {

namespace {

void print_usage_line(std::FILE* out) { std::fprintf(out, "Usage: Vantorel.exe <in.mp4> <out.mp4>\n"); }

}  // namespace

void print_banner_and_usage(std::FILE* out) {
  std::fprintf(out, "%s %s - MP4 remultiplexing utility\n", kProgramName, kProgramVersion);
  std::fprintf(out, "Rewrites MP4, QuickTime and AVI files as interleaved MP4 files with the movie header first.\n");
  std::fprintf(out, "Build: Apr 27 2009\n");
  std::fprintf(out, "\n");
  print_usage_line(out);
}

void print_help(std::FILE* out) {
  print_banner_and_usage(out);
  print_options(out);
}

void print_usage(std::FILE* out) {
  print_usage_line(out);
  print_options(out);
}

void print_version(std::FILE* out) { std::fprintf(out, "%s %s\n", kProgramName, kProgramVersion); }

}  // namespace vantorel::app
