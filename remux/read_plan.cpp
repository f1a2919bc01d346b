#include "remux/read_plan.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "mediafile/media_file.h"
#include "sampletables/sample_groups.h"

namespace vantorel {

namespace {

// Whether this group is read by plan: in both passes (the measuring pass
// lays the samples out the same way without reading them), unless the
// caller asked for the per-sample path or the output mirrors every sample.
// A sample converted at import is laid out by the library: the bytes it
// makes go into the window at once, the input ranges are read with the rest.
ErrorCode plan_reads(ReadPlan* plan, MediaFile* output, bool* planned) {
  *planned = false;
  if (plan->per_sample || (output->flags & kFlagStreamingExtension) != 0) return ErrorCode::Ok;
  if (plan->window == nullptr) {
    uint32_t size = plan->sample_buffer_size > kWindowBytes - 9 ? plan->sample_buffer_size + 9 : kWindowBytes;
    plan->window = static_cast<uint8_t*>(std::malloc(size));
    if (plan->window == nullptr) return ErrorCode::OutOfMemory;
    plan->window_size = size;
    plan->window_used = 0;
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
  if (covered == 0 || hi - lo > plan->window_size) return false;
  // At most 5 % more than the samples hold.
  if (covered * 20 < (hi - lo) * 19) return false;
  *low = lo;
  *length = static_cast<uint32_t>(hi - lo);
  *runs_out = runs;
  return true;
}

// Reads the window's stretch of input from `low` on, scattered into place:
// `*done` false (nothing read) when ranges overlap or memory is short.
ErrorCode read_scattered(ReadPlan* plan, uint64_t low, bool* done) {
  *done = false;
  constexpr uint32_t kGapSink = 64 * 1024;
  GrowArray<PlannedRead>& sorted = plan->sorted_reads;
  GrowArray<IoPiece>& pieces = plan->pieces;
  sorted.clear();
  pieces.clear();
  if (plan->gap_sink == nullptr) plan->gap_sink = static_cast<uint8_t*>(std::malloc(kGapSink));
  if (plan->gap_sink == nullptr) return ErrorCode::Ok;
  for (const PlannedRead& r : plan->reads)
    if (r.size > 0 && sorted.append_doubling(r, 64) != ErrorCode::Ok) return ErrorCode::Ok;
  std::sort(sorted.begin(), sorted.end(), [](const PlannedRead& a, const PlannedRead& b) { return a.offset < b.offset; });
  uint64_t at = low;
  for (const PlannedRead& r : sorted) {
    if (r.offset < at) return ErrorCode::Ok;  // an input range read twice
    for (uint64_t gap = r.offset - at; gap > 0;) {
      const uint32_t n = gap < kGapSink ? static_cast<uint32_t>(gap) : kGapSink;
      if (pieces.append_doubling(IoPiece{plan->gap_sink, n}, 64) != ErrorCode::Ok) return ErrorCode::Ok;
      gap -= n;
    }
    if (pieces.append_doubling(IoPiece{plan->window + r.at, r.size}, 64) != ErrorCode::Ok) return ErrorCode::Ok;
    at = r.offset + r.size;
  }
  ErrorCode e = read_pieces_at(plan->input, low, pieces.data(), pieces.count);
  if (e != ErrorCode::Ok) set_error_at(plan->input, low, "sample data beyond the end of the file");
  *done = e == ErrorCode::Ok;
  return e;
}

ErrorCode read_input(ReadPlan* plan, uint64_t at, uint8_t* into, uint32_t size) {
  ErrorCode e = read_bytes_at(plan->input, at, into, size);
  if (e != ErrorCode::Ok) set_error_at(plan->input, at, "sample data beyond the end of the file");
  return e;
}

// Writes the window from a view of the input: its ranges straight from the
// input's pages, the bytes laid out here (fillers, samples built in memory)
// from the window, in one gathered write. `*done` false when this window
// does not qualify (nothing written): pieces of converted samples, swapped
// bytes, ranges out of order or spread wider than a view.
ErrorCode write_from_view(ReadPlan* plan, MediaFile* output, bool* done) {
  *done = false;
  const GrowArray<PlannedRead>& reads = plan->reads;
  if (plan->no_view || plan->stream->pass != Pass::Write || reads.count == 0 || plan->swaps.count != 0 ||
      plan->converted_in_window || !can_view(plan->input))
    return ErrorCode::Ok;
  uint64_t lo = UINT64_MAX, hi = 0;
  uint32_t last_end = 0;
  for (const PlannedRead& r : reads) {
    if (r.at < last_end) return ErrorCode::Ok;
    last_end = r.at + r.size;
    if (r.size == 0) continue;
    lo = std::min(lo, r.offset);
    hi = std::max(hi, r.offset + r.size);
  }
  if (lo == UINT64_MAX) return ErrorCode::Ok;
  if (plan->input_size == 0) plan->input_size = file_size(plan->input);
  // Ranges past the end are reported by the reading path.
  if (hi > plan->input_size || hi - lo > kViewBytes) return ErrorCode::Ok;
  if (plan->view.base == nullptr || lo < plan->view_start || hi > plan->view_start + plan->view.length) {
    unview_bytes(plan->input, &plan->view);
    const uint64_t length = std::min(kViewBytes, plan->input_size - lo);
    if (view_bytes_at(plan->input, lo, length, &plan->view) != ErrorCode::Ok) {
      plan->view = IoView{};
      plan->no_view = true;
      return ErrorCode::Ok;
    }
    plan->view_start = lo;
  }
  GrowArray<IoConstPiece>& pieces = plan->out_pieces;
  pieces.clear();
  auto add = [&](const uint8_t* p, uint32_t n) -> ErrorCode {
    if (n == 0) return ErrorCode::Ok;
    if (pieces.count > 0) {
      IoConstPiece& back = pieces[pieces.count - 1];
      if (static_cast<const uint8_t*>(back.buffer) + back.count == p) {
        back.count += n;  // within the window: no overflow
        return ErrorCode::Ok;
      }
    }
    return pieces.append_doubling(IoConstPiece{p, n}, 256);
  };
  uint32_t at = 0;
  for (const PlannedRead& r : reads) {
    if (r.size == 0) continue;
    VT_TRY(add(plan->window + at, r.at - at));
    VT_TRY(add(plan->view.data + (r.offset - plan->view_start), r.size));
    at = r.at + r.size;
  }
  VT_TRY(add(plan->window + at, plan->window_used - at));
  VT_TRY(write_recorded_pieces(output, pieces.data(), pieces.count, plan->window_used));
  *done = true;
  return ErrorCode::Ok;
}

// Reads the window's input ranges, adjacent ones in one go, straight to
// where they are written (or their dense stretch at once), and writes the
// window.
ErrorCode flush_window(ReadPlan* plan, MediaFile* output) {
  GrowArray<PlannedRead>& reads = plan->reads;
  // The measuring pass only counts the bytes.
  if (plan->stream->pass == Pass::Measure) {
    reads.clear();
    plan->swaps.clear();
    plan->converted_in_window = false;
  }
  bool done = false;
  VT_TRY(write_from_view(plan, output, &done));
  if (done) {
    reads.clear();
    plan->window_used = 0;
    return ErrorCode::Ok;
  }
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
    VT_TRY(read_scattered(plan, low, &done));
  if (done) reads.clear();
  if (!done && dense && length / runs < kLongRun) {
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
      ErrorCode e = file_seek(plan->input, run.offset);
      if (e == ErrorCode::Ok) e = read_bytes(plan->input, plan->window + run.at, run.size);
      if (e != ErrorCode::Ok) set_error_at(plan->input, run.offset, "sample data beyond the end of the file");
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
  if (plan->window_used > 0) VT_TRY(write_recorded_bytes(output, plan->window, plan->window_used));
  reads.clear();
  plan->window_used = 0;
  return ErrorCode::Ok;
}

// Room for `size` more bytes in the window, writing it out when full.
ErrorCode window_room(ReadPlan* plan, MediaFile* output, uint32_t size) {
  if (size > plan->window_size - plan->window_used) VT_TRY(flush_window(plan, output));
  return ErrorCode::Ok;
}

// Reads from `input` from now on: what the window holds of the input read
// so far is written first, and its view let go.
ErrorCode use_input(ReadPlan* plan, MediaFile* output, MediaFile* input) {
  if (plan->input == input) return ErrorCode::Ok;
  if (plan->window != nullptr && (plan->window_used > 0 || plan->reads.count > 0)) VT_TRY(flush_window(plan, output));
  read_plan_drop_view(plan);
  plan->input = input;
  plan->input_size = 0;
  plan->no_view = false;
  return ErrorCode::Ok;
}

// Where a sample laid out in the window starts.
struct LaidOut {
  ReadPlan* plan;
  uint32_t start;
  uint32_t size;  // the sample's
};

// An input range of a sample laid out in the window: read there with the
// window's other ranges, and swapped after when it asks.
ErrorCode plan_range(void* user, const SampleRange* range) {
  auto* laid = static_cast<LaidOut*>(user);
  ReadPlan* plan = laid->plan;
  // The library hands ranges inside the sample, which fits the window.
  const PlannedRead read{range->offset, range->size, laid->start + range->at};
  if (range->at != 0 || range->size != laid->size) plan->converted_in_window = true;
  VT_TRY(plan->reads.append(read));
  if (range->swap16) VT_TRY(plan->swaps.append(read));
  return ErrorCode::Ok;
}

// Writes `sample` to the output track: at once, or when `planned` into the
// window, laid out there from input sample `place` (its input ranges read
// later; the measuring pass reads nothing) or, without one, copied from its
// data now.
ErrorCode put_sample(ReadPlan* plan, MediaFile* output, uint32_t track_id, SampleWrite* sample, bool planned,
                     uint32_t input_track_id, const SamplePlace* place) {
  if (!planned) return write_sample(output, track_id, sample);
  VT_TRY(window_room(plan, output, sample->size));
  if (place != nullptr) {
    if (plan->stream->pass == Pass::Write) {
      LaidOut laid{plan, plan->window_used, sample->size};
      VT_TRY(lay_out_located_sample(plan->input, input_track_id, place, plan->window + plan->window_used, plan_range,
                                    &laid));
    }
    sample->data = nullptr;
  } else {
    std::memcpy(plan->window + plan->window_used, sample->data, sample->size);
  }
  plan->window_used += sample->size;
  return record_sample(output, track_id, sample);
}

}  // namespace

void group_track_restart(GroupTrack* track) {
  track->source = 0;
  track->left = track->source_count > 0 ? track->sources[0].end_sample - track->sources[0].first_sample : 0;
}

ErrorCode read_plan_start(ReadPlan* plan, uint32_t largest) {
  plan->sample_buffer = static_cast<uint8_t*>(std::malloc(largest > 0 ? largest : 1));
  if (plan->sample_buffer == nullptr) return ErrorCode::OutOfMemory;
  plan->sample_buffer_size = largest;
  return ErrorCode::Ok;
}

ErrorCode read_plan_write_group(ReadPlan* plan, MediaFile* output, std::span<GroupTrack> tracks,
                                std::span<const uint32_t> order) {
  // An empty subpicture unit: size 9, control sequence at 4, only the end command.
  static const uint8_t kEmptySubpicture[9] = {0x00, 0x09, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0xFF};
  bool planned = false;
  VT_TRY(plan_reads(plan, output, &planned));
  for (uint32_t t : order) {
    GroupTrack& g = tracks[t];
    // The lane's source of this sample: the next one once a source is done.
    const SampleSource* source = nullptr;
    bool first_of_source = false;
    uint32_t track_id = g.input_track_id;
    if (g.source_count > 0) {
      while (g.left == 0 && g.source + 1 < g.source_count) {
        ++g.source;
        g.left = g.sources[g.source].end_sample - g.sources[g.source].first_sample;
      }
      source = &g.sources[g.source];
      first_of_source = g.left == source->end_sample - source->first_sample;
      if (g.left > 0) --g.left;
      track_id = source->track_id;
      VT_TRY(use_input(plan, output, source->input));
    }
    SampleRead read{};
    read.buffer = plan->sample_buffer;
    read.capacity = plan->sample_buffer_size;
    uint64_t offset = 0;
    if (planned) {
      VT_TRY(locate_next_sample(plan->input, track_id, &read, &offset));
      // A sample larger than the survey's largest would not fit the window.
      if (read.size > plan->sample_buffer_size) return ErrorCode::OutOfMemory;
    } else {
      VT_TRY(read_next_sample(plan->input, track_id, &read));
    }
    uint64_t delay = g.delay;
    if (g.filler) {
      SampleWrite filler{};
      filler.data = kEmptySubpicture;
      filler.size = sizeof kEmptySubpicture;
      filler.duration = g.filler_duration;
      filler.flags = kSampleSync;
      VT_TRY(put_sample(plan, output, g.output_track_id, &filler, planned, 0, nullptr));
      delay = 0;
      g.filler = false;
    }
    // A text sample that straddles a cut is shortened as the cursor did;
    // a re-counted time code sample goes out from the lane's own bytes.
    uint32_t duration = source != nullptr ? static_cast<uint32_t>(source_units(*source, read.duration)) : read.duration;
    // A joined input's last sample, aligned to where the next input starts.
    if (source != nullptr && g.source_count > 1 && first_of_source && source->head_trim > 0)
      duration = source->head_trim < duration ? duration - source->head_trim : 1;
    if (source != nullptr && g.source_count > 1 && g.left == 0) {
      if (source->tail_trim > 0) duration = source->tail_trim < duration ? duration - source->tail_trim : 1;
      duration += source->tail_extend;
    }
    if (read.index == g.span_first && g.head_trim > 0) duration = g.head_trim < duration ? duration - g.head_trim : 1;
    if (read.index == g.span_last && g.tail_trim > 0) duration = g.tail_trim < duration ? duration - g.tail_trim : 1;
    const bool replaced = g.first_replaced && read.index == g.span_first && read.size == sizeof g.first_bytes;
    SampleWrite sample{};
    sample.data = replaced ? g.first_bytes : read.buffer;
    sample.size = read.size;
    sample.start_delay = delay;
    sample.duration = duration;
    sample.composition_offset =
        source != nullptr ? source_offset(*source, read.composition_offset) : read.composition_offset;
    sample.flags = read.sync != 0 ? uint32_t{kSampleSync} : 0u;
    sample.description_index =
        source != nullptr
            ? source_description(*source, plan->description_map, plan->description_map_count, read.description_index)
            : read.description_index;
    const SamplePlace place{offset, read.index, read.size};
    VT_TRY(put_sample(plan, output, g.output_track_id, &sample, planned, track_id,
                      planned && !replaced ? &place : nullptr));
    if (g.follows_groups) {
      // Tracks are neither added nor removed while a group is written.
      if (g.groups_to == nullptr) g.groups_to = find_track(output->root, g.output_track_id);
      // A joined track's groups are its source's input's.
      if (g.groups_from == nullptr || first_of_source)
        g.groups_from = source != nullptr ? find_track(source->input->root, source->track_id)
                                          : find_track(plan->input->root, g.input_track_id);
      VT_TRY(sample_groups_follow(g.groups_to, g.groups_from, read.index));
    }
  }
  if (planned) VT_TRY(flush_window(plan, output));
  return ErrorCode::Ok;
}

void read_plan_drop_view(ReadPlan* plan) {
  if (plan->input != nullptr) unview_bytes(plan->input, &plan->view);
  plan->view = IoView{};
}

void read_plan_release(ReadPlan* plan) {
  std::free(plan->sample_buffer);
  plan->sample_buffer = nullptr;
  std::free(plan->window);
  plan->window = nullptr;
  std::free(plan->staging);
  plan->staging = nullptr;
  plan->reads.release();
  plan->swaps.release();
  plan->sorted_reads.release();
  plan->pieces.release();
  plan->out_pieces.release();
  std::free(plan->gap_sink);
  plan->gap_sink = nullptr;
}

}  // namespace vantorel
