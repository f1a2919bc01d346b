#include <csignal>
#include <cstdio>

#include "app/front_end.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <vector>

#include "app/windows_routines.h"

// Arguments arrive as UTF-16 (-municode), so any file name reaches the
// program; the front end takes them as UTF-8, as everywhere else.
int wmain(int argc, wchar_t** argv) {
  // A streamed MP4 on standard output must leave byte for byte.
  if (_setmode(_fileno(stdout), _O_BINARY) == -1) {
    std::perror("vantorel: cannot put standard output in binary mode");
    return vantorel::app::kExitFailure;
  }
  std::vector<char*> arguments(static_cast<size_t>(argc > 0 ? argc : 0) + 1, nullptr);
  for (int i = 0; i < argc; ++i) {
    arguments[static_cast<size_t>(i)] = vantorel::app::utf8_from_wide(argv[i]);
    if (arguments[static_cast<size_t>(i)] == nullptr) {
      std::fprintf(stderr, "vantorel: argument %d is not valid text\n", i);
      return vantorel::app::kExitBadOptions;
    }
  }
  int status = vantorel::app::app_main(argc, arguments.data(), stdout, stderr);
  for (char* argument : arguments) std::free(argument);
  return status;
}
#else
#if defined(__GLIBC__)
#include <malloc.h>
#endif

int main(int argc, char** argv) {
  // Past a file-size limit a write should fail with EFBIG and be reported,
  // not kill the process with the output half written.
  std::signal(SIGXFSZ, SIG_IGN);
#if defined(__GLIBC__)
  // Sample tables of megabytes are grown, freed and made again by the next
  // pass; with a fixed threshold each stays its own mapping, returned when
  // freed, instead of raising the threshold and staying in the heap (a
  // four-hour file peaked at 41 MiB against 24 MiB, at the same speed).
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
  return vantorel::app::app_main(argc, argv, stdout, stderr);
}
#endif
