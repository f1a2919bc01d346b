// Prints how many tracks a file has: the library used from another project.
#include <cstdio>

#include "mediafile/mediafile.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  vantorel::OpenParams params{};
  params.routines = vantorel::std_routines();
  params.path = argv[1];
  vantorel::MediaFile* file = nullptr;
  if (vantorel::media_open(&file, &params, vantorel::kOpenRead) != vantorel::ErrorCode::Ok) return 1;
  vantorel::MovieInfo movie{};
  vantorel::ErrorCode e = vantorel::movie_info(file, &movie);
  vantorel::media_close(file);
  if (e != vantorel::ErrorCode::Ok) return 1;
  std::printf("%u tracks\n", movie.track_count);
  return 0;
}
