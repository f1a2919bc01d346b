#pragma once
// Where the NAL units an H.264 sample keeps lie in the picture's Annex B
// bytes, noted when the first pass gathers the picture: reading the sample
// back then copies each unit straight from the packets behind its 4-byte
// length, with no second gathering and no second search for start codes.
// A few bytes a picture: the count of units kept, then for each the bytes
// before it (start codes, zero bytes, units left out) and its length, as
// base-128 numbers.
#include <cstdint>

#include "io/error.h"
#include "io/grow_array.h"

namespace vantorel {

// A picture with more units kept is read by searching again; so are the
// pictures after a stream's notes reach the byte limit.
constexpr uint32_t kTsLayoutMaxUnits = 64;
constexpr uint32_t kTsLayoutMaxBytes = 16u << 20;
constexpr uint32_t kTsNoLayout = UINT32_MAX;

// A unit kept: [begin, end) of the picture's bytes.
struct TsNalSpan {
  uint32_t begin;
  uint32_t end;
};

// Notes a picture of `n` bytes whose sample is `spans` (in order, inside
// the picture, none empty), each behind a 4-byte length, `sample_size`
// bytes in all: its offset in `notes` goes to `*at`, or kTsNoLayout when
// the spans do not make that sample or the limits are reached.
ErrorCode ts_layout_append(GrowArray<uint8_t>* notes, const TsNalSpan* spans, uint32_t count, uint32_t n,
                           uint32_t sample_size, uint32_t* at);

// Where the picture's notes starting at `at` end, and the size of its
// sample: false when the bytes there are no whole notes.
bool ts_layout_read(const uint8_t* notes, uint32_t size, uint32_t at, uint32_t* end, uint32_t* sample_size);

// Writes a sample from the picture's bytes as they are handed to it in
// pieces (a TsPieceSink), `capacity` bytes at most.
struct TsLayoutWriter {
  const uint8_t* next;  // the notes of the next unit
  const uint8_t* end;
  uint32_t units;       // units not begun yet
  uint32_t skip;        // picture bytes to pass over before the unit being copied
  uint32_t copy;        // its bytes not copied yet
  uint8_t* out;
  uint8_t* out_end;
  bool failed;          // the notes are not whole, or the sample does not fit
};
void ts_layout_writer_start(TsLayoutWriter* w, const uint8_t* notes, uint32_t size, uint32_t at, uint8_t* out,
                            uint32_t capacity);
bool ts_layout_take(void* writer, const uint8_t* data, uint32_t count);
// Every unit written, and the room filled exactly.
inline bool ts_layout_writer_done(const TsLayoutWriter& w) {
  return !w.failed && w.units == 0 && w.skip == 0 && w.copy == 0 && w.out == w.out_end;
}

}  // namespace vantorel
