#include <csignal>
#include <cstdio>

#include "app/front_end.h"

int main(int argc, char** argv) {
  // Past a file-size limit a write should fail with EFBIG and be reported,
  // not kill the process with the output half written.
  std::signal(SIGXFSZ, SIG_IGN);
  return vantorel::app::app_main(argc, argv, stdout, stderr);
}
