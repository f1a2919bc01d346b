#include "fuzz/fuzz_support.h"

#include <cstdlib>

#include "mediafile/mediafile.h"

namespace vantorel::fuzz {

namespace {

// Reads on from the cursor until the track ends, a read fails or `limit`
// samples were read. Every sample costs at least one step, so a lying table
// cannot loop for ever here; the library has to stop on its own.
void read_samples(MediaFile* file, uint32_t track_id, uint8_t* buffer, uint32_t capacity, uint32_t limit) {
  for (uint32_t n = 0; n < limit; ++n) {
    SampleRead sample{};
    sample.buffer = buffer;
    sample.capacity = capacity;
    if (read_next_sample(file, track_id, &sample) != ErrorCode::Ok) return;
  }
}

}  // namespace

void read_everything(const uint8_t* data, size_t size, uint32_t mode) {
  if (size > UINT32_MAX) return;
  MemoryPair pair{data, static_cast<uint32_t>(size)};
  OpenParams params{};
  params.routines = memory_routines();
  params.path = &pair;
  MediaFile* file = nullptr;
  if (media_open(&file, &params, mode) != ErrorCode::Ok) return;

  MovieInfo movie{};
  movie_info(file, &movie);
  SizeEstimate estimate{};
  size_estimate(file, &estimate, kEstimateHeader | kEstimateSamples);

  TrackIterator* iterator = track_iterator_new(file, 0, 0);
  if (iterator != nullptr) {
    TrackInfo info{};
    while (track_iterator_next(iterator, &info) == ErrorCode::Ok) {
      // As a careful player would: by the largest sample the track claims,
      // but never more than the file holds.
      uint32_t capacity = info.max_sample_size > 0 ? info.max_sample_size : 1;
      if (capacity > size) capacity = static_cast<uint32_t>(size) + 1;
      auto* buffer = static_cast<uint8_t*>(std::malloc(capacity));
      if (buffer == nullptr) break;
      uint32_t index = 0;
      uint64_t time = 0;
      // Fragments may declare millions of empty samples (the library
      // bounds them): read them all once, and only a few after each seek.
      if (track_seek(file, info.track_id, 0, &index, &time, 0, 0) == ErrorCode::Ok)
        read_samples(file, info.track_id, buffer, capacity, UINT32_MAX);
      index = info.sample_count / 2;
      if (track_seek(file, info.track_id, 0, &index, &time, 1, 0) == ErrorCode::Ok)
        read_samples(file, info.track_id, buffer, capacity, 64);
      time = info.media_duration / 3;
      if (track_seek(file, info.track_id, 1, &index, &time, 1, 1) == ErrorCode::Ok)
        read_samples(file, info.track_id, buffer, capacity, 64);
      std::free(buffer);
    }
    track_iterator_free(iterator);
  }
  media_close(file);
}

}  // namespace vantorel::fuzz
