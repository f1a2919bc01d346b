#pragma once
// What verify reads an input or an output with: a file open for reading,
// its samples seen in a window read ahead where they can be, else read
// into a buffer.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "io/byte_io.h"
#include "io/grow_array.h"
#include "mediafile/mediafile.h"

namespace vantorel {

// A file open for reading, with room for its largest sample.
struct VerifyReader {
  MediaFile* file = nullptr;
  uint8_t* buffer = nullptr;
  uint32_t capacity = 0;
  // Samples are compared in a window of the file read ahead, not in a
  // mapping: filling and clearing a page-table entry per page costs more
  // than the copy of a read, and the compare then finds its bytes cached.
  static constexpr uint32_t kWindowBytes = 2u << 20;
  // Kept behind the sample a window moves forward to: the other tracks'
  // samples of the same stretch of an interleaved file, compared after it.
  static constexpr uint32_t kWindowKeep = kWindowBytes / 2;
  // What this reader keeps: none for a file read in its own order.
  uint32_t keep = kWindowKeep;
  uint8_t* window = nullptr;
  uint64_t window_start = 0;
  uint32_t window_length = 0;
  uint64_t size = 0;
  GrowArray<SampleRange> ranges{};
  ~VerifyReader() {
    if (file != nullptr) media_close(file);
    std::free(buffer);
    std::free(window);
    ranges.release();
  }
  ErrorCode open(const void* name, const IoRoutines* routines, void* user, uint32_t program_number = 0) {
    OpenParams params{};
    params.program_number = program_number;
    params.routines = routines != nullptr ? *routines : std_routines();
    params.path = name;
    params.user = user;
    VT_TRY(media_open(&file, &params, kOpenRead));
    size = file_size(media_io(file));
    return ErrorCode::Ok;
  }
  // Room for the track's largest sample, asked once per track, not per sample.
  ErrorCode reserve(uint32_t n) {
    if (n <= capacity && buffer != nullptr) return ErrorCode::Ok;
    std::free(buffer);
    capacity = n;
    buffer = static_cast<uint8_t*>(std::malloc(capacity == 0 ? 1 : capacity));
    return buffer != nullptr ? ErrorCode::Ok : ErrorCode::OutOfMemory;
  }
  ErrorCode read(uint32_t track_id, SampleRead* s) {
    *s = SampleRead{};
    s->buffer = buffer;
    s->capacity = capacity;
    return read_next_sample(file, track_id, s);
  }
  // `n` bytes at `offset` in the window, moved forward to them when they
  // lie ahead of it; null for bytes behind it or larger than it (read them
  // alone: the window does not turn back for a file laid out track by track).
  const uint8_t* seen(uint64_t offset, uint32_t n) {
    if (n == 0 || offset > size || n > size - offset) return nullptr;
    const uint64_t end = window_start + window_length;
    if (offset >= window_start && offset + n <= end) return window + (offset - window_start);
    if (n > kWindowBytes || (window_length != 0 && offset < window_start)) return nullptr;
    if (window == nullptr && (window = static_cast<uint8_t*>(std::malloc(kWindowBytes))) == nullptr) return nullptr;
    const uint64_t behind = window_length != 0 ? offset - window_start : offset;
    const uint64_t start = offset - std::min<uint64_t>({keep, behind, kWindowBytes - n});
    const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(kWindowBytes, size - start));
    // What the window holds of the new one moves to its front, the rest is read.
    const uint32_t kept = window_length != 0 && start < end ? static_cast<uint32_t>(end - start) : 0;
    if (kept > 0) std::memmove(window, window + (start - window_start), kept);
    window_start = start;
    window_length = 0;
    if (length > kept && read_bytes_at(media_io(file), start + kept, window + kept, length - kept) != ErrorCode::Ok)
      return nullptr;
    window_length = length;
    return window + (offset - start);
  }
  static ErrorCode collect(void* user, const SampleRange* range) {
    return static_cast<GrowArray<SampleRange>*>(user)->append_doubling(*range, 16);
  }
  // The next sample of a track, its bytes in `*bytes`: seen in place when
  // the file holds them as they are, else put together in the buffer.
  ErrorCode next(uint32_t track_id, SampleRead* s, const uint8_t** bytes) {
    *s = SampleRead{};
    s->buffer = buffer;
    s->capacity = capacity;
    uint64_t offset = 0;
    VT_TRY(locate_next_sample(file, track_id, s, &offset));
    if (s->size > capacity) return ErrorCode::OutOfMemory;
    ranges.clear();
    const SamplePlace place{offset, s->index, s->size};
    VT_TRY(lay_out_located_sample(file, track_id, &place, buffer, collect, &ranges));
    if (ranges.count == 1 && ranges[0].at == 0 && ranges[0].size == s->size && !ranges[0].swap16)
      if (const uint8_t* p = seen(ranges[0].offset, s->size)) {
        *bytes = p;
        return ErrorCode::Ok;
      }
    for (const SampleRange& r : ranges) {
      if (r.size == 0) continue;
      if (const uint8_t* p = seen(r.offset, r.size)) {
        std::memcpy(buffer + r.at, p, r.size);
      } else {
        VT_TRY(read_bytes_at(media_io(file), r.offset, buffer + r.at, r.size));
      }
      if (r.swap16)
        for (uint8_t *b = buffer + r.at, *end = b + (r.size & ~1u); b != end; b += 2) std::swap(b[0], b[1]);
    }
    *bytes = buffer;
    return ErrorCode::Ok;
  }
};

}  // namespace vantorel
