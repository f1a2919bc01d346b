#pragma once
// Reading a group's samples and writing them out: by plan, the input ranges
// of a stretch of the write order read into a window that is written at
// once (straight into place where the ranges lie densely); or sample by
// sample, as the library's per-sample calls do.
#include <cstdint>
#include <span>

#include "io/grow_array.h"
#include "io/io_routines.h"
#include "remux/stream_routines.h"
#include "remux/track_source.h"

namespace vantorel {

struct MediaFile;
struct TrackBoxes;

// One input range of a window: `size` bytes at input `offset`, due at
// `at` in the window.
struct PlannedRead {
  uint64_t offset;
  uint32_t size;
  uint32_t at;
};

// At most this much of a group is held at once (more only for a larger
// sample, or a group up to kGroupWindowBytes).
constexpr uint32_t kWindowBytes = 4u << 20;
// A group larger than the window, up to this size, gets a window of its
// own size: written across two windows, its sound (one chunk after the
// pictures) would be read a sample at a time from between pictures the
// previous window read already; in one window the whole stretch of input is
// one read.
constexpr uint32_t kGroupWindowBytes = 12u << 20;

// What writing one lane's samples of a group needs.
struct GroupTrack {
  uint32_t input_track_id;
  uint32_t output_track_id;  // in the open part
  uint64_t delay;            // movie units: the start delay its first sample in the part gets
  // An empty subpicture unit of `filler_duration` (track units) goes before
  // its first sample, which then starts without delay; cleared once written.
  bool filler;
  uint32_t filler_duration;
  // Its samples carry sample groups, dependencies or sub-samples: the
  // output's and the input's track (looked up once a group).
  bool follows_groups;
  TrackBoxes* groups_to;
  TrackBoxes* groups_from;
  // Its samples of the group whose groups are still to follow: consecutive
  // in `groups_from`, from `groups_first` on.
  uint32_t groups_first;
  uint32_t groups_count;
  // A range cut: the input's first sample of the lane's span (0-based),
  // a time code sample re-counted to the start when `first_replaced`.
  uint32_t span_first;
  bool first_replaced;
  uint8_t first_bytes[4];
  // Its sources, read one after the other as the lane's cursor walks them
  // (the caller's, kept for the run): the one read, and its samples left.
  const SampleSource* sources;
  uint32_t source_count;
  uint32_t source;
  uint32_t left;
};

// Back at the first sample of the lane's first source.
void group_track_restart(GroupTrack* track);

// A stretch of a window's scattered read: its reads (of the window's, in
// input order), where in the input it starts, and the least window
// position of the reads that come after it (the window is complete before
// that once it is read).
struct ScatterBatch {
  uint32_t first_read;
  uint32_t read_count;
  uint64_t start;
  uint32_t later_at;
};

struct ReadPlan {
  MediaFile* input;  // the input read from: the sources' in turn
  // The output description numbers of joined sources (SampleSource::description_map).
  const uint32_t* description_map;
  uint32_t description_map_count;
  const StreamContext* stream;  // the pass, and whether the routines read scattered pieces
  bool per_sample;              // reads each sample by itself
  uint8_t* sample_buffer;       // as large as the largest sample
  uint32_t sample_buffer_size;
  // The window: `window_size` bytes from `window`, which lies within
  // `window_block` (kWindowSlack bytes larger) where its bytes take the
  // same place in a page as they take in the output (read_plan.cpp says why).
  uint8_t* window_block;
  uint8_t* window;
  uint32_t window_size;
  uint32_t window_used;
  // The most bytes of any group laid out so far: the writing pass makes its
  // window that large at once (within kGroupWindowBytes), as every window
  // made anew has its pages faulted in afresh.
  uint64_t largest_group;
  GrowArray<PlannedRead> reads;
  GrowArray<PlannedRead> swaps;  // window stretches whose byte pairs are swapped once read
  bool converted_in_window;      // a sample of the window is read in pieces
  uint8_t* staging;  // a dense stretch of input, read at once (as large as the window)
  // A dense stretch read straight into place: the window's ranges in input
  // order, and where the bytes between them go.
  GrowArray<PlannedRead> sorted_reads;
  GrowArray<IoPiece> pieces;
  GrowArray<ScatterBatch> batches;
  // A window read in a ring (read_window.cpp): the reads that went where
  // the window places them, not into the ring, and the pieces written out.
  GrowArray<PlannedRead> far_reads;
  GrowArray<IoConstPiece> out_pieces;
  uint8_t* gap_sink;
};

// Sizes the sample buffer for samples of up to `largest` bytes.
ErrorCode read_plan_start(ReadPlan* plan, uint32_t largest);
// Reads and writes the samples of `order` (lanes, indices into `tracks`) to
// `output`: `samples` (as many) are the lanes' next samples of the input in
// turn, as their cursors walked them.
ErrorCode read_plan_write_group(ReadPlan* plan, MediaFile* output, std::span<GroupTrack> tracks,
                                std::span<const uint32_t> order, std::span<const SourceSample> samples);
// Reads the window's input ranges, adjacent ones in one go, straight to
// where they are written (or their dense stretch at once), and writes the
// window (read_window.cpp).
ErrorCode read_plan_flush_window(ReadPlan* plan, MediaFile* output);
// Frees the buffers.
void read_plan_release(ReadPlan* plan);
// The pass has written its last group: the window goes before
// the part closes, when its movie header takes the most memory; the next
// pass makes them again.
void read_plan_pass_done(ReadPlan* plan);

}  // namespace vantorel
