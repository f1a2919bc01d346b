// Joined inputs matched to the first and appended to its planned tracks.
#include "remux/join_plan.h"

#include <algorithm>
#include <cstring>

#include "io/byte_io.h"
#include "io/value64.h"
#include "mediafile/mediafile.h"
#include "remux/join_match.h"
#include "remux/join_sound.h"

namespace vantorel {

namespace {

// The frame number a time code source's only sample holds; `*one` false
// when the source is no single 4-byte sample.
ErrorCode single_frame_number(const SampleSource& source, uint32_t* frame, bool* one) {
  *one = false;
  if (source.first_sample != 0 || source.end_sample != 1) return ErrorCode::Ok;
  uint8_t bytes[8];
  SampleRead read{};
  read.buffer = bytes;
  read.capacity = sizeof bytes;
  uint32_t index = 0;
  uint64_t time = 0;
  ErrorCode e = track_seek(source.input, source.track_id, 0, &index, &time, 0, 0);
  if (e == ErrorCode::Ok) e = read_next_sample(source.input, source.track_id, &read);
  if (e == ErrorCode::NoMore) return ErrorCode::Ok;
  VT_TRY(e);
  if (read.size != 4) return ErrorCode::Ok;
  *frame = load_u32be(bytes);
  *one = true;
  return ErrorCode::Ok;
}

// A time code that goes on from the previous input's (its frame number
// that one's plus the frames it lasts) lengthens that input's sample
// instead of adding one: the sources so merged keep no sample of their own.
ErrorCode lengthen_timecode(const TrackPlan& plan, const PlannedTrack& row, SampleSource* sources, uint32_t count,
                            uint32_t* merged) {
  *merged = 0;
  uint32_t counted = 0;
  if (!track_timecode_advance(plan.input, row.input_track_id, 0, 0, row.timescale, &counted))
    return ErrorCode::Ok;  // a time code it cannot count: each input keeps its sample
  const uint32_t* map = plan.description_map.data();
  const uint32_t map_count = plan.description_map.count;
  SampleSource* anchor = nullptr;
  uint32_t anchor_frame = 0;
  uint64_t anchor_length = 0;
  for (uint32_t i = 0; i < count; ++i) {
    SampleSource& s = sources[i];
    uint32_t frame = 0;
    bool one = false;
    VT_TRY(single_frame_number(s, &frame, &one));
    const uint64_t length =
        one ? static_cast<uint64_t>(source_units(s, static_cast<int64_t>(track_samples_duration(s.input, s.track_id, 0, 1))))
            : 0;
    if (one && anchor != nullptr &&
        source_description(s, map, map_count, 1) == source_description(*anchor, map, map_count, 1) &&
        track_timecode_advance(plan.input, row.input_track_id, anchor_frame, anchor_length, row.timescale, &counted) &&
        counted == frame &&
        length <= UINT32_MAX - anchor->tail_extend) {
      // What the merged input's own end was aligned by goes with it.
      const uint64_t aligned = length + s.tail_extend - std::min<uint64_t>(s.tail_trim, length + s.tail_extend);
      if (aligned > UINT32_MAX - anchor->tail_extend) break;
      anchor->tail_extend += static_cast<uint32_t>(aligned);
      anchor_length += length;
      s.first_sample = s.end_sample;
      ++*merged;
      continue;
    }
    anchor = one ? &s : nullptr;
    anchor_frame = frame;
    anchor_length = length;
  }
  return ErrorCode::Ok;
}

// The track units a source's samples last as the join plays them.
uint64_t span_length(const SampleSource& s) {
  uint64_t length = static_cast<uint64_t>(
      source_units(s, static_cast<int64_t>(track_samples_duration(s.input, s.track_id, s.first_sample, s.end_sample))));
  length -= std::min<uint64_t>(length, uint64_t{s.head_trim} + s.tail_trim);
  return length + s.tail_extend;
}

// Text and timed data a joined input's edit hides at its start (`hidden`
// units of the source) stay hidden: the samples wholly before it are left
// out, the one it starts in is shortened (to one unit at least).
ErrorCode hide_lead_in(SampleSource* source, uint64_t hidden) {
  uint32_t walk = 0;
  VT_TRY(sample_walk_open(source->input, source->track_id, source->end_sample, &walk));
  SampleRead read{};
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t i = 0; i < source->end_sample && hidden > 0; ++i) {
    e = sample_walk_next(source->input, walk, &read);
    if (e != ErrorCode::Ok) break;
    if (i < source->first_sample) continue;
    if (hidden >= read.duration && i + 1 < source->end_sample) {
      hidden -= read.duration;
      ++source->first_sample;
      continue;
    }
    const uint64_t units = static_cast<uint64_t>(source_units(*source, static_cast<int64_t>(hidden)));
    const uint64_t whole = static_cast<uint64_t>(source_units(*source, read.duration));
    source->head_trim = static_cast<uint32_t>(std::min<uint64_t>(units, whole > 0 ? whole - 1 : 0));
    break;
  }
  sample_walk_close(source->input, walk);
  return e == ErrorCode::NoMore ? ErrorCode::Ok : e;
}

// Text and timed data of a joined input start where its input does: the
// previous input's last sample is lengthened to there, or shortened (to
// one unit at least) where it reaches past it. The track's new end.
uint64_t align_to_start(SampleSource* previous, uint64_t end, uint64_t start) {
  if (previous->end_sample <= previous->first_sample) return end;
  if (start > end) {
    const uint64_t gap = start - end;
    if (gap > UINT32_MAX - previous->tail_extend) return end;
    previous->tail_extend += static_cast<uint32_t>(gap);
    return start;
  }
  const uint64_t last = static_cast<uint64_t>(source_units(
      *previous, static_cast<int64_t>(track_samples_duration(previous->input, previous->track_id,
                                                             previous->end_sample - 1, previous->end_sample))));
  const uint64_t room = last > previous->tail_trim + 1 ? last - previous->tail_trim - 1 : 0;
  const uint64_t trim = std::min<uint64_t>(end - start, room);
  previous->tail_trim += static_cast<uint32_t>(trim);
  return end - trim;
}

}  // namespace

ErrorCode join_plan_apply(TrackPlan* plan, const TrackPlan* later, uint32_t later_count, JoinMismatch* mismatch) {
  *mismatch = JoinMismatch{};
  const uint32_t tracks = plan->tracks.count;
  // Every check before anything changes: a refusal leaves the plan as surveyed.
  for (uint32_t k = 0; k < later_count; ++k) {
    const TrackPlan& other = later[k];
    if (other.tracks.count != tracks) {
      *mismatch = JoinMismatch{kJoinTrackCount, k + 2, 0};
      // The first track the input lacks, or the first it has in excess.
      const uint32_t at = other.tracks.count < tracks ? other.tracks.count : tracks;
      if (at < tracks) mismatch->track_id = plan->tracks[at].input_track_id;
      else if (at < other.tracks.count) mismatch->track_id = other.tracks[at].input_track_id;
      return ErrorCode::Unsupported;
    }
    for (uint32_t i = 0; i < tracks; ++i) {
      uint32_t fault = kJoinMet;
      VT_TRY(match_track(*plan, other, i, &fault));
      if (fault != kJoinMet) {
        *mismatch = JoinMismatch{fault, k + 2, plan->tracks[i].input_track_id};
        return ErrorCode::Unsupported;
      }
    }
  }
  // Where each input starts: the reference track's (the first video
  // track's) samples of the inputs before it, in its units.
  uint32_t reference = 0;
  for (uint32_t i = tracks; i > 0; --i)
    if (plan->tracks[i - 1].video) reference = i - 1;
  GrowArray<uint64_t> starts{};
  ErrorCode e = tracks > 0 ? starts.append(0) : ErrorCode::Ok;
  for (uint32_t k = 0; k < later_count && tracks > 0 && e == ErrorCode::Ok; ++k) {
    const SampleSource& s = k == 0 ? plan->sources[plan->tracks[reference].first_source]
                                   : later[k - 1].sources[later[k - 1].tracks[reference].first_source];
    SampleSource scaled = s;
    const uint32_t from = k == 0 ? plan->tracks[reference].timescale : later[k - 1].tracks[reference].timescale;
    if (from != plan->tracks[reference].timescale) {
      scaled.scale_from = from;
      scaled.scale_to = plan->tracks[reference].timescale;
    }
    e = starts.append(starts[k] + static_cast<uint64_t>(source_units(
                                      scaled, static_cast<int64_t>(track_samples_duration(
                                                  s.input, s.track_id, s.first_sample, s.end_sample)))));
  }
  GrowArray<SampleSource> sources{};
  GrowArray<JoinedEntries> joined{};
  for (uint32_t i = 0; i < tracks && e == ErrorCode::Ok; ++i) {
    PlannedTrack& row = plan->tracks[i];
    JoinedEntries entries{};
    const Entries first_entries = row.carried_whole ? entries_of(*plan, row) : Entries{};
    uint32_t map_at = 0;
    if (first_entries.count != 0) e = map_entries(&entries, first_entries, &plan->description_map, &map_at);
    const uint32_t first_source = sources.count;
    if (e == ErrorCode::Ok) e = sources.append(plan->sources[row.first_source]);
    if (e == ErrorCode::Ok) sources[first_source].description_map = map_at;
    uint64_t elapsed = 0;  // track units the inputs so far last
    int64_t media_end = row.media_end;
    for (uint32_t k = 0; k < later_count && e == ErrorCode::Ok; ++k) {
      SampleSource& previous = sources[sources.count - 1];
      elapsed += span_length(previous);
      if (!row.video && !row.audio && i != reference)
        elapsed = align_to_start(&previous, elapsed,
                                 rescale(starts[k + 1], plan->tracks[reference].timescale, row.timescale));
      const PlannedTrack& other = later[k].tracks[i];
      SampleSource source = later[k].sources[other.first_source];
      if (other.timescale != row.timescale) {
        source.scale_from = other.timescale;
        source.scale_to = row.timescale;
      }
      const int64_t other_media_time = source_units(source, other.media_time);
      if (!row.video && !row.audio && i != reference && other.media_time > 0)
        e = hide_lead_in(&source, static_cast<uint64_t>(other.media_time));
      // Pictures: each input's first presented picture shows where the
      // previous input's last ends, whatever their reordering delays.
      if (row.video) source.composition_shift = static_cast<int32_t>(row.media_time - other_media_time);
      const Entries other_entries = entries_of(later[k], other);
      if (first_entries.count != 0 && other_entries.count != 0)
        e = map_entries(&entries, other_entries, &plan->description_map, &source.description_map);
      // Only the last input's end may be cut short by its edit.
      media_end = other.media_end != 0 ? static_cast<int64_t>(elapsed) + source_units(source, other.media_end) : 0;
      row.sample_count = row.sample_count > UINT32_MAX - other.sample_count ? UINT32_MAX
                                                                            : row.sample_count + other.sample_count;
      if (e == ErrorCode::Ok) e = sources.append(source);
    }
    // Sound keeps its place beside the pictures of each input; without
    // pictures to follow, each input plays from its priming on.
    const bool follows_pictures = row.audio && i != reference && plan->tracks[reference].video && later_count > 0;
    uint32_t dropped = 0;
    if (e == ErrorCode::Ok && follows_pictures)
      e = align_sound(plan, later, later_count, i, reference, starts.data(), &sources[first_source], &dropped);
    else if (e == ErrorCode::Ok)
      e = plan_gapless(plan, later, later_count, i, &sources[first_source]);
    row.sample_count -= std::min(dropped, row.sample_count);
    uint32_t merged = 0;
    if (e == ErrorCode::Ok && later_count > 0 && row.fourcc == "tmcd")
      e = lengthen_timecode(*plan, row, &sources[first_source], sources.count - first_source, &merged);
    if (e != ErrorCode::Ok) break;
    row.sample_count -= merged < row.sample_count ? merged : row.sample_count;
    if (later_count > 0 && !follows_pictures) row.media_end = media_end;
    row.first_source = first_source;
    row.source_count = sources.count - first_source;
    // Sample groups, dependencies and sub-samples of any input are carried
    // (each later input's groups join the first's when a part opens).
    for (uint32_t k = 0; k < later_count; ++k) row.follows_groups = row.follows_groups || later[k].tracks[i].follows_groups;
    e = joined.append(entries);
    if (e != ErrorCode::Ok) entries.bytes.release();
  }
  // The joined entries, byte-identical ones once, where there are more than
  // the first input's.
  if (e == ErrorCode::Ok) {
    uint32_t size = 0;
    for (const JoinedEntries& j : joined) size += j.bytes.count;
    e = plan->joined_entries.reserve(size);
  }
  for (uint32_t i = 0; i < joined.count && e == ErrorCode::Ok; ++i) {
    PlannedTrack& row = plan->tracks[i];
    const JoinedEntries& j = joined[i];
    if (!row.carried_whole || j.count == 0) continue;
    const uint32_t at = plan->joined_entries.count;
    for (uint8_t b : j.bytes) e = plan->joined_entries.append(b);
    row.shape.codec.whole.entries = plan->joined_entries.data() + at;
    row.shape.codec.whole.entries_size = j.bytes.count;
    row.shape.codec.whole.entry_count = j.count;
  }
  for (JoinedEntries& j : joined) j.bytes.release();
  joined.release();
  // Each input's start for its chapters, in 100 ns units.
  for (uint32_t k = 0; k < starts.count && e == ErrorCode::Ok; ++k)
    e = plan->input_starts.append(rescale(starts[k], plan->tracks[reference].timescale, 10000000));
  starts.release();
  if (e == ErrorCode::Ok) {
    plan->sources.release();
    plan->sources = sources;
    for (uint32_t k = 0; k < later_count; ++k) {
      if (later[k].largest_sample > plan->largest_sample) plan->largest_sample = later[k].largest_sample;
      plan->movie_duration += rescale(later[k].movie_duration, later[k].movie_timescale, plan->movie_timescale);
    }
  } else {
    sources.release();
  }
  return e;
}

}  // namespace vantorel
