// One pass over the input: samples in decode-time order, grouped at video
// sync samples, audio pulled ahead of the video it accompanies, and the
// output split at those cut points when it is full.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "io/byte_io.h"
#include "remux/remux_job.h"
#include "sampletables/ctts.h"
#include "sampletables/sample_groups.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"

namespace vantorel {

namespace {

constexpr uint32_t kNoTrack = 0xFFFFFFFF;
// What one more sample can add to the movie header at most: its size
// ('stsz' 4), a time run ('stts' 8), a composition offset run ('ctts' 8), a
// sync entry ('stss' 4), a chunk of its own ('stsc' 12, 'co64' 8), its
// dependency byte ('sdtp' 1) and a sample group run ('sbgp' 8). An upper
// bound, so a part never ends up above its size limit.
constexpr uint32_t kTableBytesPerSample = 53;
// The 'mdat' header: 16 bytes when the media data needs a 64-bit size.
constexpr uint32_t kMdatHeader = 8;
constexpr uint32_t kLargeMdatHeader = 16;

uint64_t movie_time(const RemuxJob* job, const TrackSurvey& row, uint64_t t) {
  return rescale(t, row.timescale, job->movie_timescale);
}

bool finished(const TrackSurvey& row) { return row.queued_count >= row.sample_count; }

uint32_t choose_next_track(const RemuxJob* job) {
  uint32_t best = kNoTrack;
  uint64_t best_time = 0;
  for (uint32_t i = 0; i < job->survey.count; ++i) {
    const TrackSurvey& row = job->survey[i];
    if (finished(row)) continue;
    uint64_t t = movie_time(job, row, row.next_time);
    if (best == kNoTrack || t < best_time) {
      best = i;
      best_time = t;
    }
  }
  return best;
}

bool next_is_sync(const TrackSurvey& row) {
  return row.stss_index < row.stss->samples.count && row.stss->samples[row.stss_index] == row.queued_count + 1;
}

bool is_cut_point(const RemuxJob* job, uint32_t t) {
  if (job->no_video) return true;
  const TrackSurvey& row = job->survey[t];
  if (!row.video) return false;
  if (row.stss == nullptr) return true;
  return next_is_sync(row);
}

ErrorCode split_due(RemuxJob* job, uint32_t file_index, bool* due) {
  *due = false;
  // A file that holds no sample yet is not closed: a group larger than the
  // limit goes into it whole instead of leaving an empty file behind.
  if (job->last_cut_bytes == job->file_start_bytes && job->last_cut_end_time == job->file_start_end_time)
    return ErrorCode::Ok;
  if (job->split_mode != kSplitBySize && job->split_mode != kSplitByDuration) return ErrorCode::Ok;
  uint64_t limit;
  if (job->per_file_limits == 0) {
    if (job->limits.count == 0) return ErrorCode::Ok;
    limit = job->limits[0];
  } else if (file_index < job->limits.count) {
    limit = job->limits[file_index];
  } else {
    return ErrorCode::Ok;
  }
  if (job->split_mode == kSplitBySize) {
    SizeEstimate size;
    VT_TRY(size_estimate(job->output, &size, kEstimateHeader));
    // Everything the file would hold with the pending group: 'ftyp' and the
    // movie header as they stand, what the group adds to the tables at
    // most, the 'mdat' header and the samples.
    uint64_t samples = job->queued_bytes - job->file_start_bytes;
    uint64_t mdat_header = samples > 0xFFFFFFFFull - kMdatHeader ? kLargeMdatHeader : kMdatHeader;
    uint64_t estimate =
        samples + size.header_size + mdat_header + uint64_t{kTableBytesPerSample} * job->pending.count;
    *due = estimate > limit;
  } else if (job->split_mode == kSplitByDuration) {
    // The part's duration is its movie header's.
    uint64_t units = part_duration(job, file_index, true);
    // units / timescale > limit / 1000, exactly.
    *due = static_cast<unsigned __int128>(units) * 1000 > static_cast<unsigned __int128>(limit) * job->movie_timescale;
  }
  return ErrorCode::Ok;
}

ErrorCode queue_sample(RemuxJob* job, uint32_t t) {
  TrackSurvey& row = job->survey[t];
  uint64_t time = movie_time(job, row, row.next_time);
  const auto& runs = row.stts->entries;
  // Runs of no samples are stepped over; the survey counted only timed samples.
  while (row.stts_entry < runs.count && row.stts_in_entry >= runs[row.stts_entry].sample_count) {
    ++row.stts_entry;
    row.stts_in_entry = 0;
  }
  uint64_t dts = row.next_time;
  uint32_t delta = 0;
  if (row.stts_entry < runs.count) {
    delta = runs[row.stts_entry].sample_delta;
    row.next_time += delta;
    ++row.stts_in_entry;
  }
  // Where this sample's presentation ends: its decode time, its composition
  // offset and its duration.
  int64_t offset = 0;
  if (row.ctts != nullptr) {
    const auto& offsets = row.ctts->entries;
    while (row.ctts_entry < offsets.count && row.ctts_in_entry >= offsets[row.ctts_entry].sample_count) {
      ++row.ctts_entry;
      row.ctts_in_entry = 0;
    }
    if (row.ctts_entry < offsets.count) {
      offset = offsets[row.ctts_entry].sample_offset;
      ++row.ctts_in_entry;
    }
  }
  int64_t presentation_end = static_cast<int64_t>(dts) + offset + delta;
  if (presentation_end > row.pending_presentation_end) row.pending_presentation_end = presentation_end;
  if (row.stss != nullptr && next_is_sync(row)) ++row.stss_index;
  // Text and time code samples can last as long as the movie: the time
  // reached (for progress and splitting by duration) follows the media.
  uint64_t end = movie_time(job, row, row.next_time);
  bool media = row.video || row.audio || row.subpicture;
  if (media && end > job->queued_end_time) job->queued_end_time = end;
  job->queued_bytes += stsz_sample_size(row.sizes, row.size_index);
  ++row.size_index;
  // The group between two cut points can hold millions of samples (empty
  // fragment samples, audio without video): grown as a table, not by one.
  VT_TRY(job->pending.append_doubling(PendingSample{t, time}));
  ++row.queued_count;
  return ErrorCode::Ok;
}

ErrorCode place(RemuxJob* job, uint32_t i) {
  VT_TRY(job->write_order.append_doubling(job->pending[i].track));
  job->pending[i].track = kPlaced;
  return ErrorCode::Ok;
}

// The write order of the pending samples: audio is pulled ahead of the video
// it overlaps by up to half a second, in runs of a quarter second per track.
ErrorCode order_pending(RemuxJob* job) {
  job->write_order.clear();
  uint64_t look_ahead = job->no_video ? 0 : uint64_t{job->movie_timescale} * 50 / 100;
  uint64_t run_length = uint64_t{job->movie_timescale} * 25 / 100;
  GrowArray<PendingSample>& pending = job->pending;
  uint32_t i = 0;
  // Every sample before `scanned` is placed or not audio; placing never
  // undoes that, so the search for audio starts there, and the search costs
  // no more than one walk over the group (samples of one time would
  // otherwise be searched once for each video sample among them).
  uint32_t scanned = 0;
  while (i < pending.count) {
    if (pending[i].track == kPlaced) {
      ++i;
      continue;
    }
    uint32_t audio_at = kNoTrack;
    uint32_t l = scanned > i ? scanned : i;
    for (; l < pending.count && pending[l].time <= pending[i].time + look_ahead; ++l) {
      if (pending[l].track != kPlaced && job->survey[pending[l].track].audio) {
        audio_at = l;
        break;
      }
    }
    scanned = l;
    if (audio_at == kNoTrack) {
      VT_TRY(place(job, i));
      ++i;
      continue;
    }
    uint32_t audio = pending[audio_at].track;
    uint64_t run_end = pending[audio_at].time + run_length;
    // The sample found is placed even when the run rounds to no time at all
    // (a movie time scale below 4): every turn of the loop places one.
    VT_TRY(place(job, audio_at));
    for (uint32_t m = audio_at + 1; m < pending.count && pending[m].time < run_end; ++m)
      if (pending[m].track == audio) VT_TRY(place(job, m));
  }
  return ErrorCode::Ok;
}

// Whether this flush reads by plan: in both passes (the measuring pass
// lays the samples out the same way without reading them), unless the
// caller asked for the per-sample path, the output mirrors every sample,
// or a track's samples are converted at import (gathered from pieces of
// the input, they are no input ranges to copy).
ErrorCode plan_reads(RemuxJob* job, bool* planned) {
  *planned = false;
  if (job->per_sample || (job->output->flags & kFlagStreamingExtension) != 0) return ErrorCode::Ok;
  for (const TrackSurvey& row : job->survey)
    if (find_converted(job->input, row.input_track_id) != nullptr) return ErrorCode::Ok;
  if (job->window == nullptr) {
    uint32_t size = job->sample_buffer_size > kWindowBytes - 9 ? job->sample_buffer_size + 9 : kWindowBytes;
    job->window = static_cast<uint8_t*>(std::malloc(size));
    if (job->window == nullptr) return ErrorCode::OutOfMemory;
    job->window_size = size;
    job->window_used = 0;
  }
  *planned = true;
  return ErrorCode::Ok;
}

// The write order rarely keeps input ranges adjacent: a group's video
// samples go out before its sound, which the input interleaves. When the
// window's ranges fill nearly all of the stretch of input they come from,
// that stretch is read in one go: scattered straight into place when the
// platform can, else into the staging buffer and each range copied. False
// when the ranges are too sparse, or few enough to read one by one.
bool spans_densely(const RemuxJob* job, uint64_t* low, uint32_t* length, uint32_t* runs_out) {
  const GrowArray<PlannedRead>& reads = job->reads;
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
  if (covered == 0 || hi - lo > job->window_size) return false;
  // At most 5 % more than the samples hold.
  if (covered * 20 < (hi - lo) * 19) return false;
  *low = lo;
  *length = static_cast<uint32_t>(hi - lo);
  *runs_out = runs;
  return true;
}

// Reads the window's stretch of input from `low` on, scattered into place:
// `*done` false (nothing read) when ranges overlap or memory is short.
ErrorCode read_scattered(RemuxJob* job, uint64_t low, bool* done) {
  *done = false;
  constexpr uint32_t kGapSink = 64 * 1024;
  GrowArray<PlannedRead>& sorted = job->sorted_reads;
  GrowArray<IoPiece>& pieces = job->pieces;
  sorted.clear();
  pieces.clear();
  if (job->gap_sink == nullptr) job->gap_sink = static_cast<uint8_t*>(std::malloc(kGapSink));
  if (job->gap_sink == nullptr) return ErrorCode::Ok;
  for (const PlannedRead& r : job->reads)
    if (r.size > 0 && sorted.append_doubling(r, 64) != ErrorCode::Ok) return ErrorCode::Ok;
  std::sort(sorted.begin(), sorted.end(), [](const PlannedRead& a, const PlannedRead& b) { return a.offset < b.offset; });
  uint64_t at = low;
  for (const PlannedRead& r : sorted) {
    if (r.offset < at) return ErrorCode::Ok;  // an input range read twice
    for (uint64_t gap = r.offset - at; gap > 0;) {
      const uint32_t n = gap < kGapSink ? static_cast<uint32_t>(gap) : kGapSink;
      if (pieces.append_doubling(IoPiece{job->gap_sink, n}, 64) != ErrorCode::Ok) return ErrorCode::Ok;
      gap -= n;
    }
    if (pieces.append_doubling(IoPiece{job->window + r.at, r.size}, 64) != ErrorCode::Ok) return ErrorCode::Ok;
    at = r.offset + r.size;
  }
  ErrorCode e = read_pieces_at(job->input, low, pieces.data(), pieces.count);
  if (e != ErrorCode::Ok) set_error_at(job->input, low, "sample data beyond the end of the file");
  *done = e == ErrorCode::Ok;
  return e;
}

ErrorCode read_input(RemuxJob* job, uint64_t at, uint8_t* into, uint32_t size) {
  ErrorCode e = read_bytes_at(job->input, at, into, size);
  if (e != ErrorCode::Ok) set_error_at(job->input, at, "sample data beyond the end of the file");
  return e;
}

// Reads the window's input ranges, adjacent ones in one go, straight to
// where they are written (or their dense stretch at once), and writes the
// window.
ErrorCode flush_window(RemuxJob* job) {
  GrowArray<PlannedRead>& reads = job->reads;
  // The measuring pass only counts the bytes.
  if (pass_flag(job) == 0) reads.clear();
  uint64_t low = 0;
  uint32_t length = 0;
  uint32_t runs = 0;
  bool done = false;
  // Runs this short cost the scattered read more a piece than copying them
  // does; runs this long are read where they go, a call each, when the
  // platform cannot scatter.
  constexpr uint64_t kShortRun = 4 * 1024;
  constexpr uint64_t kLongRun = 64 * 1024;
  const bool dense = spans_densely(job, &low, &length, &runs);
  if (dense && length / runs >= kShortRun && job->stream.routines.read_pieces_at != nullptr)
    VT_TRY(read_scattered(job, low, &done));
  if (done) reads.clear();
  if (!done && dense && length / runs < kLongRun) {
    if (job->staging == nullptr) job->staging = static_cast<uint8_t*>(std::malloc(job->window_size));
    if (job->staging != nullptr) {
      VT_TRY(read_input(job, low, job->staging, length));
      for (const PlannedRead& r : reads)
        if (r.size > 0) std::memcpy(job->window + r.at, job->staging + (r.offset - low), r.size);
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
    if (run.size > 0) VT_TRY(read_input(job, run.offset, job->window + run.at, run.size));
    i = j;
  }
  if (job->window_used > 0) VT_TRY(write_recorded_bytes(job->output, job->window, job->window_used));
  reads.clear();
  job->window_used = 0;
  return ErrorCode::Ok;
}

// Room for `size` more bytes in the window, writing it out when full.
ErrorCode window_room(RemuxJob* job, uint32_t size) {
  if (size > job->window_size - job->window_used) VT_TRY(flush_window(job));
  return ErrorCode::Ok;
}

ErrorCode flush_pending(RemuxJob* job) {
  // An empty subpicture unit: size 9, control sequence at 4, only the end command.
  static const uint8_t kEmptySubpicture[9] = {0x00, 0x09, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0xFF};
  bool planned = false;
  VT_TRY(plan_reads(job, &planned));
  // Each row's output and input track, looked up once a flush (rows past
  // the first 64 each time).
  constexpr uint32_t kCachedRows = 64;
  TrackBoxes* group_tracks[2 * kCachedRows] = {};
  for (uint32_t t : job->write_order) {
    TrackSurvey& row = job->survey[t];
    SampleRead read{};
    read.buffer = job->sample_buffer;
    read.capacity = job->sample_buffer_size;
    uint64_t offset = 0;
    if (planned) {
      VT_TRY(locate_next_sample(job->input, row.input_track_id, &read, &offset));
      // A sample larger than the survey's largest would not fit the window.
      if (read.size > job->sample_buffer_size) return ErrorCode::OutOfMemory;
    } else {
      VT_TRY(read_next_sample(job->input, row.input_track_id, &read));
    }
    // The track's start is its delay exactly: through the track's time
    // scale a delay shorter than a tick would be lost.
    uint64_t batch_start = row.batch_start_time == row.start_time ? row.start_delay
                                                                  : movie_time(job, row, row.batch_start_time);
    uint64_t delay = batch_start > job->file_start_time ? batch_start - job->file_start_time : 0;
    if (row.continuation && row.subpicture) {
      SampleWrite filler{};
      filler.data = kEmptySubpicture;
      filler.size = sizeof kEmptySubpicture;
      filler.duration = low32(rescale(delay, job->movie_timescale, row.timescale));
      filler.flags = kSampleSync;
      if (planned) {
        VT_TRY(window_room(job, sizeof kEmptySubpicture));
        std::memcpy(job->window + job->window_used, kEmptySubpicture, sizeof kEmptySubpicture);
        job->window_used += sizeof kEmptySubpicture;
        VT_TRY(record_sample(job->output, row.output_track_id, &filler));
      } else {
        VT_TRY(write_sample(job->output, row.output_track_id, &filler));
      }
      delay = 0;
    }
    row.continuation = 0;
    SampleWrite sample{};
    sample.data = read.buffer;
    sample.size = read.size;
    sample.start_delay = delay;
    sample.duration = read.duration;
    sample.composition_offset = read.composition_offset;
    sample.flags = read.sync != 0 ? uint32_t{kSampleSync} : 0u;
    sample.description_index = read.description_index;
    if (planned) {
      VT_TRY(window_room(job, read.size));
      VT_TRY(job->reads.append(PlannedRead{offset, read.size, job->window_used}));
      job->window_used += read.size;
      sample.data = nullptr;
      VT_TRY(record_sample(job->output, row.output_track_id, &sample));
    } else {
      VT_TRY(write_sample(job->output, row.output_track_id, &sample));
    }
    if (row.follows_groups) {
      // Tracks are neither added nor removed while a group is written.
      TrackBoxes* to = t < kCachedRows ? group_tracks[2 * t] : nullptr;
      TrackBoxes* from = t < kCachedRows ? group_tracks[2 * t + 1] : nullptr;
      if (to == nullptr) to = find_track(job->output->root, row.output_track_id);
      if (from == nullptr) from = find_track(job->input->root, row.input_track_id);
      if (t < kCachedRows) group_tracks[2 * t] = to, group_tracks[2 * t + 1] = from;
      VT_TRY(sample_groups_follow(to, from, read.index));
    }
  }
  if (planned) VT_TRY(flush_window(job));
  uint64_t smallest = none64();
  for (TrackSurvey& row : job->survey) {
    if (row.pending_presentation_end > row.flushed_presentation_end)
      row.flushed_presentation_end = row.pending_presentation_end;
    row.pending_presentation_end = 0;
    row.batch_start_time = row.next_time;
    if (!finished(row)) {
      uint64_t t = movie_time(job, row, row.batch_start_time);
      if (t < smallest) smallest = t;
    }
  }
  job->last_cut_time = smallest;
  job->last_cut_end_time = job->queued_end_time;
  job->last_cut_bytes = job->queued_bytes;
  job->pending.clear();
  job->write_order.clear();
  return ErrorCode::Ok;
}

uint32_t report_progress(RemuxJob* job) {
  if (job->progress == nullptr) return 1;
  // A movie without a duration reports 0 until its pass ends.
  uint32_t permille = 0;
  if (job->movie_duration != 0) {
    uint64_t value = div64(mul64(job->queued_end_time, 1000), job->movie_duration);
    permille = value > 1000 ? 1000 : static_cast<uint32_t>(value);
  }
  return job->progress(permille, job->stream.user);
}

// Moves on to the next output file when the pending group would take the
// current one past its limit.
ErrorCode split_if_due(RemuxJob* job, uint32_t* file_index) {
  bool due = false;
  VT_TRY(split_due(job, *file_index, &due));
  if (!due) return ErrorCode::Ok;
  VT_TRY(close_output(job, *file_index));
  ++*file_index;
  return open_output(job, *file_index, 1);
}

}  // namespace

uint64_t part_duration(const RemuxJob* job, uint32_t index, bool pending) {
  // Each track of the file lasts from the file's start to where the
  // presentation of its samples ends, less the media time its edit starts
  // at; the movie lasts as long as its longest track. Text and time code
  // tracks are left out, as from the time reached.
  uint64_t longest = 0;
  for (const TrackSurvey& row : job->survey) {
    if (!(row.video || row.audio || row.subpicture)) continue;
    int64_t end = row.flushed_presentation_end;
    if (pending && row.pending_presentation_end > end) end = row.pending_presentation_end;
    if (end <= 0) continue;
    int64_t media_time = index == 0 ? row.media_time : row.continuation_media_time;
    if (end <= media_time) continue;
    // Rounded up: the library's rescaled edits may round the other way.
    unsigned __int128 scaled = static_cast<unsigned __int128>(end - media_time) * job->movie_timescale;
    uint32_t scale = row.timescale != 0 ? row.timescale : 1;
    auto units = static_cast<uint64_t>((scaled + scale - 1) / scale);
    uint64_t duration = units > job->file_start_time ? units - job->file_start_time : 0;
    if (duration > longest) longest = duration;
  }
  return longest;
}

void report_part_over_limit(RemuxJob* job, uint32_t index) {
  if (job->events == nullptr || job->events->part_over_limit == nullptr || index >= job->measures.count) return;
  uint64_t limit;
  if (job->per_file_limits == 0 && job->limits.count > 0) {
    limit = job->limits[0];
  } else if (index < job->limits.count) {
    limit = job->limits[index];
  } else {
    return;
  }
  const OutputMeasure& m = job->measures[index];
  if (job->split_mode == kSplitBySize && m.file_size > limit)
    job->events->part_over_limit(index, kSplitBySize, m.file_size, limit, job->stream.user);
  if (job->split_mode == kSplitByDuration && m.duration_ms > limit)
    job->events->part_over_limit(index, kSplitByDuration, m.duration_ms, limit, job->stream.user);
}

ErrorCode run_pass(RemuxJob* job) {
  uint32_t file_index = 0;
  VT_TRY(open_output(job, 0, 0));
  for (;;) {
    uint32_t t = choose_next_track(job);
    if (t == kNoTrack) break;
    if (is_cut_point(job, t)) {
      VT_TRY(split_if_due(job, &file_index));
      VT_TRY(order_pending(job));
      VT_TRY(flush_pending(job));
      if (report_progress(job) == 0) break;
    }
    VT_TRY(queue_sample(job, t));
  }
  // The last group too must not take the file past its limit.
  if (job->pending.count > 0) VT_TRY(split_if_due(job, &file_index));
  VT_TRY(order_pending(job));
  VT_TRY(flush_pending(job));
  // The pass is done: its progress reaches its end.
  if (job->progress != nullptr) job->progress(1000, job->stream.user);
  return close_output(job, file_index);
}

}  // namespace vantorel
