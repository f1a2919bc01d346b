#pragma once
// What verify reads an input or an output with: a file open for reading,
// its samples seen in place where they can be, else read into a buffer.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "io/byte_io.h"
#include "io/grow_array.h"
#include "mediafile/mediafile.h"
#include "remux/read_plan.h"

namespace vantorel {

// A file open for reading, with room for its largest sample.
struct VerifyReader {
  MediaFile* file = nullptr;
  uint8_t* buffer = nullptr;
  uint32_t capacity = 0;
  // Where the file can be seen in place, samples are compared there, not
  // copied out first: a view of up to kViewBytes kept while it serves.
  IoView view{};
  uint64_t view_start = 0;
  bool no_view = false;
  uint64_t size = 0;
  GrowArray<SampleRange> ranges{};
  ~VerifyReader() {
    if (file != nullptr) {
      unview_bytes(media_io(file), &view);
      media_close(file);
    }
    std::free(buffer);
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
  // `n` bytes at `offset` in place, or null when they cannot be seen so.
  const uint8_t* seen(uint64_t offset, uint32_t n) {
    if (no_view || n == 0 || offset > size || n > size - offset) return nullptr;
    if (view.base == nullptr || offset < view_start || offset + n > view_start + view.length) {
      unview_bytes(media_io(file), &view);
      if (view_bytes_at(media_io(file), offset, std::min<uint64_t>(std::max<uint64_t>(kViewBytes, n), size - offset), &view) !=
          ErrorCode::Ok) {
        view = IoView{};
        no_view = true;
        return nullptr;
      }
      view_start = offset;
    }
    return view.data + (offset - view_start);
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
