// Writing the read plan's window: its input ranges read in as few calls as
// their layout allows (one scattered read, one dense stretch, or adjacent
// runs), then the window written (a scattered one part by part as it is
// read). Read, not mapped: measured,
// writing from a mapping of the input cost more system time than reading
// into the window and writing it, whose pages stay in the cache.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "io/byte_io.h"
#include "mediafile/mediafile.h"
#include "remux/read_plan.h"

namespace vantorel {

namespace {

// The write order rarely keeps input ranges adjacent: a group's video
// samples go out before its sound, which the input interleaves. When the
// window's ranges fill nearly all of the stretch of input they come from,
// that stretch is read in one go: scattered straight into place when the
// platform can, else into the staging buffer and each range copied. False
// when the ranges are too sparse, or few enough to read one by one.
bool spans_densely(const ReadPlan* plan, uint64_t* low, uint32_t* length, uint32_t* runs_out) {
  const GrowArray<PlannedRead>& reads = plan->reads;
  // A few reads cost less than copying the window once more.
  constexpr uint32_t kFewReads = 16;
  uint32_t runs = 0;
  for (uint32_t i = 0; i < reads.count; ++i)
    if (i == 0 || reads[i].at != reads[i - 1].at + reads[i - 1].size ||
        reads[i].offset != reads[i - 1].offset + reads[i - 1].size)
      ++runs;
  if (runs <= kFewReads) return false;
  uint64_t lo = UINT64_MAX, hi = 0, covered = 0;
  for (const PlannedRead& r : reads) {
    if (r.size == 0) continue;
    if (r.offset < lo) lo = r.offset;
    if (r.offset + r.size > hi) hi = r.offset + r.size;
    covered += r.size;
  }
  // At most 5 % more than the samples hold (so the stretch may be a little
  // wider than the window: a window of video read from between its sound).
  if (covered == 0 || covered * 20 < (hi - lo) * 19 || hi - lo > UINT32_MAX) return false;
  *low = lo;
  *length = static_cast<uint32_t>(hi - lo);
  *runs_out = runs;
  return true;
}

// A window read scattered goes through its first kRingBytes as through a
// ring when every byte of it is read: a read whose bytes all lie within a
// ring's length of what is written goes to its place in the ring, any other
// (bytes the input holds well before the output's order reaches them, as in
// an input interleaved more coarsely than the output) to its own place in
// the window. The bytes then pass through a few megabytes of memory that
// stay in the processor's cache, not through the whole window (a group of
// 9 MB): 788 MB copied through a ring of 9 MiB took 0.33 s of CPU, through
// one of 2 MiB 0.30 s.
constexpr uint32_t kRingBytes = 2u << 20;

// The ring's stretches that hold window positions [p, end), handed to `add`
// in turn: split where the ring ends.
template <typename Add>
ErrorCode in_ring(const ReadPlan* plan, uint32_t p, uint32_t end, Add add) {
  while (p < end) {
    const uint32_t slot = p % kRingBytes;
    const uint32_t n = std::min(end - p, kRingBytes - slot);
    VT_TRY(add(plan->window + slot, n));
    p += n;
  }
  return ErrorCode::Ok;
}

ErrorCode add_piece(GrowArray<IoConstPiece>* out, const uint8_t* data, uint32_t size) {
  if (out->count > 0) {
    IoConstPiece& last = (*out)[out->count - 1];
    if (static_cast<const uint8_t*>(last.buffer) + last.count == data) {
      last.count += size;
      return ErrorCode::Ok;
    }
  }
  return out->append_doubling(IoConstPiece{data, size}, 64);
}

// Writes window positions [from, to) of a window read in a ring: from the
// ring, but the far reads from their own places. No far read straddles
// `from` or `to`: both are where a read starts, or the window's end.
ErrorCode write_ring(ReadPlan* plan, MediaFile* output, uint32_t from, uint32_t to) {
  GrowArray<PlannedRead>& far = plan->far_reads;
  GrowArray<IoConstPiece>& out = plan->out_pieces;
  out.clear();
  std::sort(far.begin(), far.end(), [](const PlannedRead& a, const PlannedRead& b) { return a.at < b.at; });
  const PlannedRead* next = std::lower_bound(far.begin(), far.end(), from,
                                             [](const PlannedRead& r, uint32_t at) { return r.at < at; });
  uint32_t p = from;
  while (p < to) {
    const bool far_next = next != far.end() && next->at < to;
    const uint32_t ring_end = far_next ? next->at : to;
    VT_TRY(in_ring(plan, p, ring_end, [&out](const uint8_t* data, uint32_t n) { return add_piece(&out, data, n); }));
    p = ring_end;
    if (far_next) {
      VT_TRY(add_piece(&out, plan->window + next->at, next->size));
      p = next->at + next->size;
      ++next;
    }
  }
  return write_recorded_pieces(output, out.data(), out.count, to - from);
}

// Reads the window's stretch of input from `low` on, scattered into place,
// a megabyte or so of input a call; and, when `output` is given, writes
// each part of the window that is complete as soon as it is, while its
// bytes are still in the processor's cache (a window of 9 MB read whole and
// then written cost more: 480 against 455 ms of CPU for an 802 MB input).
// `*written`: the window's bytes written. `*done` false
// (nothing read) when ranges overlap or memory is short.
ErrorCode read_scattered(ReadPlan* plan, MediaFile* output, uint64_t low, uint32_t* written, bool* done) {
  *done = false;
  *written = 0;
  constexpr uint32_t kGapSink = 64 * 1024;
  constexpr uint64_t kBatchBytes = 1u << 20;
  // A write this large leaves without passing through the output's buffer.
  constexpr uint32_t kWriteBytes = 1u << 20;
  GrowArray<PlannedRead>& sorted = plan->sorted_reads;
  GrowArray<IoPiece>& pieces = plan->pieces;
  GrowArray<ScatterBatch>& batches = plan->batches;
  sorted.clear();
  batches.clear();
  plan->far_reads.clear();
  if (plan->gap_sink == nullptr) plan->gap_sink = static_cast<uint8_t*>(std::malloc(kGapSink));
  if (plan->gap_sink == nullptr) return ErrorCode::Ok;
  for (const PlannedRead& r : plan->reads)
    if (r.size > 0 && sorted.append_doubling(r, 64) != ErrorCode::Ok) return ErrorCode::Ok;
  std::sort(sorted.begin(), sorted.end(), [](const PlannedRead& a, const PlannedRead& b) { return a.offset < b.offset; });
  uint64_t at = low;
  uint64_t covered = 0;
  ScatterBatch batch{0, 0, low, UINT32_MAX};
  for (uint32_t i = 0; i < sorted.count; ++i) {
    const PlannedRead& r = sorted[i];
    if (r.offset < at) return ErrorCode::Ok;  // an input range read twice
    if (at - batch.start >= kBatchBytes) {
      batch.read_count = i - batch.first_read;
      if (batches.append_doubling(batch, 16) != ErrorCode::Ok) return ErrorCode::Ok;
      batch = ScatterBatch{i, 0, at, UINT32_MAX};
    }
    batch.later_at = std::min(batch.later_at, r.at);  // for now: this batch's own least position
    at = r.offset + r.size;
    covered += r.size;
  }
  batch.read_count = sorted.count - batch.first_read;
  if (batches.append_doubling(batch, 16) != ErrorCode::Ok) return ErrorCode::Ok;
  // Each batch's own least position becomes the least of those after it.
  uint32_t later = UINT32_MAX;
  for (uint32_t b = batches.count; b-- > 0;) {
    const uint32_t own = batches[b].later_at;
    batches[b].later_at = later;
    later = std::min(later, own);
  }
  // The reads do not overlap in the window: when they cover it, each byte
  // of it is read, none was put there before (a converted sample's made
  // bytes, a filler).
  const bool ring = output != nullptr && covered == plan->window_used && plan->window_size > kRingBytes;
  // Once a batch is read the window is not read again another way (a
  // ring's bytes are not where the window places them): short of memory
  // then, the remux fails.
  auto short_of_memory = [done] { return *done ? ErrorCode::OutOfMemory : ErrorCode::Ok; };
  for (const ScatterBatch& part : batches) {
    pieces.clear();
    at = part.start;
    for (uint32_t i = part.first_read; i < part.first_read + part.read_count; ++i) {
      const PlannedRead& r = sorted[i];
      for (uint64_t gap = r.offset - at; gap > 0;) {
        const uint32_t n = gap < kGapSink ? static_cast<uint32_t>(gap) : kGapSink;
        if (pieces.append_doubling(IoPiece{plan->gap_sink, n}, 64) != ErrorCode::Ok) return short_of_memory();
        gap -= n;
      }
      at = r.offset + r.size;
      if (ring && r.at + uint64_t{r.size} <= uint64_t{*written} + kRingBytes) {
        // Its ring slots hold nothing still to write: what they held lay a
        // ring's length back, before `*written`.
        auto add = [&pieces](uint8_t* data, uint32_t n) { return pieces.append_doubling(IoPiece{data, n}, 64); };
        if (in_ring(plan, r.at, r.at + r.size, add) != ErrorCode::Ok) return short_of_memory();
        continue;
      }
      if (ring && plan->far_reads.append_doubling(r, 64) != ErrorCode::Ok) return short_of_memory();
      if (pieces.append_doubling(IoPiece{plan->window + r.at, r.size}, 64) != ErrorCode::Ok) return short_of_memory();
    }
    ErrorCode e = read_pieces_at(media_io(plan->input), part.start, pieces.data(), pieces.count);
    if (e != ErrorCode::Ok) set_error_at(media_io(plan->input), part.start, "sample data beyond the end of the file");
    VT_TRY(e);
    *done = true;
    if (output == nullptr) continue;
    const uint32_t complete = std::min(part.later_at, plan->window_used);
    if (ring && complete > *written) {
      VT_TRY(write_ring(plan, output, *written, complete));
      *written = complete;
    } else if (!ring && complete > *written && complete - *written >= kWriteBytes) {
      VT_TRY(write_recorded_bytes(output, plan->window + *written, complete - *written));
      *written = complete;
    }
  }
  *done = true;
  return ErrorCode::Ok;
}

ErrorCode read_input(ReadPlan* plan, uint64_t at, uint8_t* into, uint32_t size) {
  ErrorCode e = read_bytes_at(media_io(plan->input), at, into, size);
  if (e != ErrorCode::Ok) set_error_at(media_io(plan->input), at, "sample data beyond the end of the file");
  return e;
}

}  // namespace

ErrorCode read_plan_flush_window(ReadPlan* plan, MediaFile* output) {
  GrowArray<PlannedRead>& reads = plan->reads;
  if (plan->window == nullptr) return ErrorCode::Ok;  // the per-sample path, or a pass done
  // The measuring pass only counts the bytes.
  if (plan->stream->pass == Pass::Measure) {
    reads.clear();
    plan->swaps.clear();
    plan->converted_in_window = false;
  }
  bool done = false;
  uint32_t written = 0;  // the window's bytes already out
  uint64_t low = 0;
  uint32_t length = 0;
  uint32_t runs = 0;
  // Runs this short cost the scattered read more a piece than copying them
  // does; runs this long are read where they go, a call each, when the
  // platform cannot scatter.
  constexpr uint64_t kShortRun = 4 * 1024;
  constexpr uint64_t kLongRun = 64 * 1024;
  const bool dense = spans_densely(plan, &low, &length, &runs);
  if (dense && length / runs >= kShortRun && plan->stream->routines.read_pieces_at != nullptr)
    // Byte pairs swapped once read are not ready as read.
    VT_TRY(read_scattered(plan, plan->swaps.count == 0 ? output : nullptr, low, &written, &done));
  if (done) reads.clear();
  if (!done && dense && length / runs < kLongRun && length <= plan->window_size) {
    if (plan->staging == nullptr) plan->staging = static_cast<uint8_t*>(std::malloc(plan->window_size));
    if (plan->staging != nullptr) {
      VT_TRY(read_input(plan, low, plan->staging, length));
      for (const PlannedRead& r : reads)
        if (r.size > 0) std::memcpy(plan->window + r.at, plan->staging + (r.offset - low), r.size);
      reads.clear();
    }
  }
  for (uint32_t i = 0; i < reads.count;) {
    PlannedRead run = reads[i];
    uint32_t j = i + 1;
    while (j < reads.count && reads[j].at == run.at + run.size && reads[j].offset == run.offset + run.size) {
      run.size += reads[j].size;  // within the window: no overflow
      ++j;
    }
    if (run.size > 0 && plan->converted_in_window && run.size < kShortRun) {
      // Pieces of converted samples (frames straddling chunks, units
      // between start codes) are many and short: read as the per-sample
      // path reads them, through the stream's buffer, not a call each.
      ErrorCode e = file_seek(media_io(plan->input), run.offset);
      if (e == ErrorCode::Ok) e = read_bytes(media_io(plan->input), plan->window + run.at, run.size);
      if (e != ErrorCode::Ok) set_error_at(media_io(plan->input), run.offset, "sample data beyond the end of the file");
      VT_TRY(e);
    } else if (run.size > 0) {
      VT_TRY(read_input(plan, run.offset, plan->window + run.at, run.size));
    }
    i = j;
  }
  plan->converted_in_window = false;
  for (const PlannedRead& r : plan->swaps)
    for (uint8_t *b = plan->window + r.at, *end = b + (r.size & ~1u); b != end; b += 2) std::swap(b[0], b[1]);
  plan->swaps.clear();
  if (plan->window_used > written)
    VT_TRY(write_recorded_bytes(output, plan->window + written, plan->window_used - written));
  reads.clear();
  plan->window_used = 0;
  return ErrorCode::Ok;
}

}  // namespace vantorel
