#include "app/banner.h"

namespace vantorel::app {

void print_banner_and_usage(std::FILE* out) {
  std::fprintf(out, "%s %s - MP4 remultiplexing utility\n", kProgramName, kProgramVersion);
  std::fprintf(out, "Rewrites MP4, QuickTime and AVI files as interleaved MP4 files with the movie header first.\n");
  std::fprintf(out, "Build: Apr 27 2009\n");
  std::fprintf(out, "\n");
  std::fprintf(out, "Usage: Vantorel.exe <in.mp4> <out.mp4>\n");
}

}  // namespace vantorel::app
