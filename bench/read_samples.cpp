// Reads every sample of every track of a file through the library, track
// after track, and reports samples per second and MB/s.
#include <chrono>
#include <cstdio>
#include <vector>

#include "io/io_routines.h"
#include "mediafile/mediafile.h"

using namespace vantorel;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <file>\n", argv[0]);
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  OpenParams params{};
  params.routines = std_routines();
  params.path = argv[1];
  MediaFile* file = nullptr;
  ErrorCode e = media_open(&file, &params, kOpenRead);
  if (e != ErrorCode::Ok) {
    std::fprintf(stderr, "open failed: %s\n", error_name(e));
    return 1;
  }
  auto opened = std::chrono::steady_clock::now();
  uint64_t samples = 0, bytes = 0;
  TrackIterator* it = track_iterator_new(file, 0, 0);
  TrackInfo info;
  while (track_iterator_next(it, &info) == ErrorCode::Ok) {
    std::vector<uint8_t> buffer(info.max_sample_size + 1);
    uint32_t index = 0;
    uint64_t time = 0;
    if (track_seek(file, info.track_id, 0, &index, &time, 0, 0) != ErrorCode::Ok) continue;
    for (;;) {
      SampleRead s{};
      s.buffer = buffer.data();
      s.capacity = static_cast<uint32_t>(buffer.size());
      e = read_next_sample(file, info.track_id, &s);
      if (e != ErrorCode::Ok) break;
      ++samples;
      bytes += s.size;
    }
    if (e != ErrorCode::NoMore) std::fprintf(stderr, "track %u: %s\n", info.track_id, error_name(e));
  }
  track_iterator_free(it);
  media_close(file);
  auto done = std::chrono::steady_clock::now();
  double open_s = std::chrono::duration<double>(opened - start).count();
  double read_s = std::chrono::duration<double>(done - opened).count();
  std::printf("open: %.3f s; read %llu samples, %.1f MB in %.3f s: %.0f samples/s, %.1f MB/s\n", open_s,
              static_cast<unsigned long long>(samples), bytes / 1e6, read_s, samples / read_s, bytes / 1e6 / read_s);
  return 0;
}
