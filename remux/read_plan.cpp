#include "remux/read_plan.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "io/byte_io.h"
#include "mediafile/mediafile.h"

namespace vantorel {

namespace {

// The window's bytes take the place in a page that they take in the output:
// the system's copy into the output's pages then runs aligned (788 MB written
// at 17 bytes into a page: 0.29 s of CPU from a buffer placed alike, 0.33 s
// from one that starts on a page).
constexpr uint32_t kWindowSlack = 4096;

ErrorCode make_window(ReadPlan* plan, uint64_t size) {
  auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size) + kWindowSlack));
  if (block == nullptr) return ErrorCode::OutOfMemory;
  plan->window_block = block;
  plan->window = block;
  plan->window_size = static_cast<uint32_t>(size);
  plan->window_used = 0;
  return ErrorCode::Ok;
}

// An empty window placed for the output's next bytes (once its first sample
// is recorded, where its bytes go is where the output stands).
void place_window(ReadPlan* plan, MediaFile* output) {
  const uint64_t at = file_tell(media_io(output));
  const auto address = reinterpret_cast<uintptr_t>(plan->window_block);
  plan->window = plan->window_block + static_cast<uint32_t>((at - address) % kWindowSlack);
}

// The window a group of `bytes` needs: whole mebibytes, so that groups of
// nearly one size share one window.
uint64_t group_window(uint64_t bytes) {
  if (bytes <= kWindowBytes || bytes > kGroupWindowBytes) return kWindowBytes;
  constexpr uint64_t kStep = 1u << 20;
  return std::min<uint64_t>((bytes + kStep - 1) / kStep * kStep, kGroupWindowBytes);
}

// Whether this group is read by plan: in both passes (the measuring pass
// lays the samples out the same way without reading them), unless the
// caller asked for the per-sample path or the output mirrors every sample.
// A sample converted at import is laid out by the library: the bytes it
// makes go into the window at once, the input ranges are read with the rest.
ErrorCode plan_reads(ReadPlan* plan, MediaFile* output, bool* planned) {
  *planned = false;
  if (plan->per_sample || media_mirrors_samples(output)) return ErrorCode::Ok;
  if (plan->window == nullptr) {
    uint64_t size = group_window(plan->largest_group);
    if (plan->sample_buffer_size > size - 9) size = uint64_t{plan->sample_buffer_size} + 9;
    VT_TRY(make_window(plan, size));
  }
  *planned = true;
  return ErrorCode::Ok;
}

// A group larger than the window gets a larger one (kGroupWindowBytes
// says why), and one that would not fit what is left of the window starts
// an empty one, for the same reason.
ErrorCode fit_group(ReadPlan* plan, MediaFile* output, uint64_t bytes) {
  if (bytes > plan->window_size - plan->window_used && (plan->window_used > 0 || plan->reads.count > 0))
    VT_TRY(read_plan_flush_window(plan, output));
  if (bytes <= plan->window_size || bytes > kGroupWindowBytes) return ErrorCode::Ok;
  uint8_t* before = plan->window_block;
  plan->window_block = nullptr;
  if (make_window(plan, group_window(bytes)) != ErrorCode::Ok) {
    plan->window_block = before;  // the window it has will do
    return ErrorCode::Ok;
  }
  std::free(before);
  // The staging buffer is the window's size: made again when next needed.
  std::free(plan->staging);
  plan->staging = nullptr;
  return ErrorCode::Ok;
}

// Room for `size` more bytes in the window, writing it out when full.
ErrorCode window_room(ReadPlan* plan, MediaFile* output, uint32_t size) {
  if (size > plan->window_size - plan->window_used) VT_TRY(read_plan_flush_window(plan, output));
  return ErrorCode::Ok;
}

// Reads from `input` from now on: what the window holds of the input read
// so far is written first.
ErrorCode use_input(ReadPlan* plan, MediaFile* output, MediaFile* input) {
  if (plan->input == input) return ErrorCode::Ok;
  if (plan->window != nullptr && (plan->window_used > 0 || plan->reads.count > 0)) VT_TRY(read_plan_flush_window(plan, output));
  plan->input = input;
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
  // Recorded first: the first sample of an empty window places it.
  const uint8_t* data = sample->data;
  sample->data = nullptr;
  VT_TRY(record_sample(output, track_id, sample));
  if (plan->window_used == 0 && plan->stream->pass == Pass::Write) place_window(plan, output);
  if (place != nullptr) {
    if (plan->stream->pass == Pass::Write) {
      LaidOut laid{plan, plan->window_used, sample->size};
      VT_TRY(lay_out_located_sample(plan->input, input_track_id, place, plan->window + plan->window_used, plan_range,
                                    &laid));
    }
  } else {
    std::memcpy(plan->window + plan->window_used, data, sample->size);
  }
  plan->window_used += sample->size;
  return ErrorCode::Ok;
}

// The lane's samples still to follow their groups, followed as one run:
// a track's samples mostly share their groups.
ErrorCode follow_groups(GroupTrack* g) {
  if (g->groups_count == 0) return ErrorCode::Ok;
  const uint32_t count = g->groups_count;
  g->groups_count = 0;
  return follow_sample_groups(g->groups_to, g->groups_from, g->groups_first, count);
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
                                std::span<const uint32_t> order, std::span<const SourceSample> samples) {
  // An empty subpicture unit: size 9, control sequence at 4, only the end command.
  static const uint8_t kEmptySubpicture[9] = {0x00, 0x09, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0xFF};
  if (samples.size() != order.size()) return ErrorCode::BadArgument;
  bool planned = false;
  VT_TRY(plan_reads(plan, output, &planned));
  if (planned) {
    uint64_t bytes = 0;
    for (const SourceSample& s : samples) bytes += s.size;
    if (bytes > plan->largest_group) plan->largest_group = bytes;
    if (plan->stream->pass == Pass::Write) VT_TRY(fit_group(plan, output, bytes));
  }
  for (size_t k = 0; k < order.size(); ++k) {
    GroupTrack& g = tracks[order[k]];
    // The cursor timed and located the sample already: trimmed, converted
    // and shifted as its source says.
    const SourceSample& at = samples[k];
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
    const uint8_t* data = nullptr;
    if (!planned) {
      SampleRead read{};
      read.buffer = plan->sample_buffer;
      read.capacity = plan->sample_buffer_size;
      VT_TRY(read_next_sample(plan->input, track_id, &read));
      // The read cursor and the walk go through the same tables.
      if (read.index != at.index || read.size != at.size) return ErrorCode::Malformed;
      data = read.buffer;
    } else if (at.size > plan->sample_buffer_size) {
      // A sample larger than the survey's largest would not fit the window.
      return ErrorCode::OutOfMemory;
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
    // A time code sample re-counted to a range's start goes out from the
    // lane's own bytes.
    const bool replaced = g.first_replaced && at.index == g.span_first && at.size == sizeof g.first_bytes;
    SampleWrite sample{};
    sample.data = replaced ? g.first_bytes : data;
    sample.size = at.size;
    sample.start_delay = delay;
    sample.duration = at.duration;
    sample.composition_offset = at.composition_offset;
    sample.flags = at.sync ? uint32_t{kSampleSync} : 0u;
    sample.description_index =
        source != nullptr
            ? source_description(*source, plan->description_map, plan->description_map_count, at.description_index)
            : at.description_index;
    const SamplePlace place{at.offset, at.index, at.size};
    VT_TRY(put_sample(plan, output, g.output_track_id, &sample, planned, track_id,
                      planned && !replaced ? &place : nullptr));
    if (g.follows_groups) {
      // Tracks are neither added nor removed while a group is written.
      if (g.groups_to == nullptr) g.groups_to = media_track(output, g.output_track_id);
      // A joined track's groups are its source's input's.
      if (g.groups_from == nullptr || first_of_source) {
        VT_TRY(follow_groups(&g));
        g.groups_from = source != nullptr ? media_track(source->input, source->track_id)
                                          : media_track(plan->input, g.input_track_id);
      }
      if (g.groups_count > 0 && g.groups_first + g.groups_count != at.index) VT_TRY(follow_groups(&g));
      if (g.groups_count == 0) g.groups_first = at.index;
      ++g.groups_count;
    }
  }
  for (GroupTrack& g : tracks) VT_TRY(follow_groups(&g));
  // Groups of small samples gather in the window until a quarter of it is
  // used (or the part or the pass ends): each alone would be a short write,
  // copied once more into the output's buffer. A quarter: enough for a write
  // that bypasses that buffer, while the stretch of input they come from, a
  // little wider than their bytes, still fits the staging buffer, and the
  // pages of both that are touched stay few.
  if (planned && plan->window_used >= plan->window_size / 4) VT_TRY(read_plan_flush_window(plan, output));
  return ErrorCode::Ok;
}

namespace {

// The window and its staging copy go; the next pass makes them again.
void free_window(ReadPlan* plan) {
  std::free(plan->window_block);
  plan->window_block = nullptr;
  plan->window = nullptr;
  plan->window_size = 0;
  plan->window_used = 0;
  std::free(plan->staging);
  plan->staging = nullptr;
}

}  // namespace

void read_plan_pass_done(ReadPlan* plan) {
  free_window(plan);
}

void read_plan_release(ReadPlan* plan) {
  std::free(plan->sample_buffer);
  plan->sample_buffer = nullptr;
  free_window(plan);
  plan->reads.release();
  plan->swaps.release();
  plan->sorted_reads.release();
  plan->pieces.release();
  plan->batches.release();
  plan->far_reads.release();
  plan->out_pieces.release();
  std::free(plan->gap_sink);
  plan->gap_sink = nullptr;
}

}  // namespace vantorel
