#include "remux/scheduler.h"

#include "io/value64.h"

namespace vantorel {

namespace {

// What one more sample can add to the movie header at most: its size
// ('stsz' 4), a time run ('stts' 8), a composition offset run ('ctts' 8), a
// sync entry ('stss' 4), a chunk of its own ('stsc' 12, 'co64' 8), its
// dependency byte ('sdtp' 1) and a sample group run ('sbgp' 8). An upper
// bound, so a part never ends up above its size limit.
constexpr uint32_t kTableBytesPerSample = 53;
// The 'mdat' header: 16 bytes when the media data needs a 64-bit size.
constexpr uint32_t kMdatHeader = 8;
constexpr uint32_t kLargeMdatHeader = 16;

uint64_t movie_time(const Scheduler& s, const Lane& lane, uint64_t t) {
  return rescale(t, lane.setup.timescale, s.movie_timescale);
}

bool timed_media(const Lane& lane) { return lane.setup.video || lane.setup.audio || lane.setup.subpicture; }

ErrorCode place(Scheduler* s, uint32_t i) {
  VT_TRY(s->write_order.append_doubling(s->pending[i].lane));
  VT_TRY(s->write_samples.append_doubling(s->pending[i].sample));
  s->pending[i].lane = kPlaced;
  return ErrorCode::Ok;
}

}  // namespace

void scheduler_init(Scheduler* s, uint32_t movie_timescale, const SplitOptions& split) {
  s->movie_timescale = movie_timescale;
  s->split = split;
  s->no_video = true;
}

ErrorCode scheduler_add_lane(Scheduler* s, const LaneSetup& setup) {
  Lane lane{};
  lane.setup = setup;
  VT_TRY(s->lanes.append(lane));
  if (setup.video) s->no_video = false;
  return ErrorCode::Ok;
}

void scheduler_release(Scheduler* s) {
  s->lanes.release();
  s->pending.release();
  s->write_order.release();
  s->write_samples.release();
}

void scheduler_restart(Scheduler* s) {
  for (Lane& lane : s->lanes) {
    lane.start_time = rescale(lane.setup.start_delay, s->movie_timescale, lane.setup.timescale);
    lane.batch_start_time = lane.next_time = lane.start_time;
    lane.has_next = false;
    lane.filler_due = false;
    lane.flushed_presentation_end = lane.pending_presentation_end = 0;
  }
  s->pending.clear();
  s->write_order.clear();
  s->write_samples.clear();
  s->file_start_end_time = s->file_start_time = s->file_start_bytes = 0;
  s->last_cut_end_time = s->last_cut_time = s->last_cut_bytes = 0;
  s->queued_end_time = s->queued_bytes = 0;
  s->part_has_video = false;
}

void scheduler_feed(Scheduler* s, uint32_t lane, const SourceSample* next) {
  Lane& l = s->lanes[lane];
  l.has_next = next != nullptr;
  if (next == nullptr) return;
  l.next = *next;
  l.next_time = l.start_time + next->decode_time;
  l.next_movie_time = movie_time(*s, l, l.next_time);
}

uint32_t scheduler_next_lane(const Scheduler& s) {
  uint32_t best = kNoLane;
  uint64_t best_time = 0;
  for (uint32_t i = 0; i < s.lanes.count; ++i) {
    const Lane& lane = s.lanes[i];
    if (!lane.has_next) continue;
    uint64_t t = lane.next_movie_time;
    if (best == kNoLane || t < best_time) {
      best = i;
      best_time = t;
    }
  }
  return best;
}

bool scheduler_is_cut_point(const Scheduler& s, uint32_t lane) {
  if (s.no_video) return true;
  const Lane& l = s.lanes[lane];
  return l.setup.video && l.next.sync;
}

ErrorCode scheduler_queue(Scheduler* s, uint32_t lane) {
  Lane& l = s->lanes[lane];
  const SourceSample& sample = l.next;
  uint64_t dts = l.next_time;
  uint64_t time = l.next_movie_time;
  l.next_time = dts + sample.duration;
  // Where this sample's presentation ends: its decode time, its composition
  // offset and its duration.
  int64_t presentation_end = static_cast<int64_t>(dts) + sample.composition_offset + int64_t{sample.duration};
  if (presentation_end > l.pending_presentation_end) l.pending_presentation_end = presentation_end;
  // Text and time code samples can last as long as the movie: the time
  // reached (for progress and splitting by duration) follows the media.
  uint64_t end = movie_time(*s, l, l.next_time);
  if (timed_media(l) && end > s->queued_end_time) s->queued_end_time = end;
  s->queued_bytes += sample.size;
  l.has_next = false;
  // The group between two cut points can hold millions of samples (empty
  // fragment samples, audio without video): grown as a table, not by one.
  return s->pending.append_doubling(PendingSample{lane, time, sample});
}

bool split_limit(const SplitOptions& split, uint32_t index, uint64_t* limit) {
  if (!split.per_file_limits) {
    if (split.limit_count == 0) return false;
    *limit = split.limits[0];
    return true;
  }
  if (index >= split.limit_count) return false;
  *limit = split.limits[index];
  return true;
}

bool scheduler_split_limit(const Scheduler& s, uint32_t index, uint64_t* limit) {
  // A part that holds no sample yet is not closed: a group larger than the
  // limit goes into it whole instead of leaving an empty part behind.
  if (s.last_cut_bytes == s.file_start_bytes && s.last_cut_end_time == s.file_start_end_time) return false;
  // Nor is a part of a movie with video that holds no picture yet: it would
  // play as nothing.
  if (!s.no_video && !s.part_has_video) return false;
  if (s.split.mode != kSplitBySize && s.split.mode != kSplitByDuration) return false;
  return split_limit(s.split, index, limit);
}

bool scheduler_over_limit(const Scheduler& s, uint32_t index, uint64_t limit, uint64_t header_size) {
  if (s.split.mode == kSplitBySize) {
    // Everything the part would hold with the pending group: 'ftyp' and the
    // movie header as they stand, what the group adds to the tables at
    // most, the 'mdat' header and the samples.
    uint64_t samples = s.queued_bytes - s.file_start_bytes;
    uint64_t mdat_header = samples > 0xFFFFFFFFull - kMdatHeader ? kLargeMdatHeader : kMdatHeader;
    uint64_t estimate = samples + header_size + mdat_header + uint64_t{kTableBytesPerSample} * s.pending.count;
    return estimate > limit;
  }
  // The part's duration is its movie header's: units / timescale > limit /
  // 1000, exactly.
  uint64_t units = scheduler_part_duration(s, index, true);
  return static_cast<unsigned __int128>(units) * 1000 > static_cast<unsigned __int128>(limit) * s.movie_timescale;
}

ErrorCode scheduler_order(Scheduler* s) {
  s->write_order.clear();
  s->write_samples.clear();
  uint64_t look_ahead = s->no_video ? 0 : uint64_t{s->movie_timescale} * 50 / 100;
  uint64_t run_length = uint64_t{s->movie_timescale} * 25 / 100;
  GrowArray<PendingSample>& pending = s->pending;
  uint32_t i = 0;
  // Every sample before `scanned` is placed or not audio; placing never
  // undoes that, so the search for audio starts there, and the search costs
  // no more than one walk over the group (samples of one time would
  // otherwise be searched once for each video sample among them).
  uint32_t scanned = 0;
  while (i < pending.count) {
    if (pending[i].lane == kPlaced) {
      ++i;
      continue;
    }
    uint32_t audio_at = kNoLane;
    uint32_t l = scanned > i ? scanned : i;
    for (; l < pending.count && pending[l].time <= pending[i].time + look_ahead; ++l) {
      if (pending[l].lane != kPlaced && s->lanes[pending[l].lane].setup.audio) {
        audio_at = l;
        break;
      }
    }
    scanned = l;
    if (audio_at == kNoLane) {
      VT_TRY(place(s, i));
      ++i;
      continue;
    }
    uint32_t audio = pending[audio_at].lane;
    uint64_t run_end = pending[audio_at].time + run_length;
    // The sample found is placed even when the run rounds to no time at all
    // (a movie time scale below 4): every turn of the loop places one.
    VT_TRY(place(s, audio_at));
    for (uint32_t m = audio_at + 1; m < pending.count && pending[m].time < run_end; ++m)
      if (pending[m].lane == audio) VT_TRY(place(s, m));
  }
  return ErrorCode::Ok;
}

uint64_t scheduler_group_delay(const Scheduler& s, uint32_t lane) {
  const Lane& l = s.lanes[lane];
  // The track's start is its delay exactly: through the track's time scale
  // a delay shorter than a tick would be lost.
  uint64_t batch_start = l.batch_start_time == l.start_time ? l.setup.start_delay : movie_time(s, l, l.batch_start_time);
  return batch_start > s.file_start_time ? batch_start - s.file_start_time : 0;
}

void scheduler_group_written(Scheduler* s) {
  for (uint32_t lane : s->write_order) {
    s->lanes[lane].filler_due = false;
    if (s->lanes[lane].setup.video) s->part_has_video = true;
  }
  uint64_t smallest = none64();
  for (Lane& lane : s->lanes) {
    if (lane.pending_presentation_end > lane.flushed_presentation_end)
      lane.flushed_presentation_end = lane.pending_presentation_end;
    lane.pending_presentation_end = 0;
    lane.batch_start_time = lane.next_time;
    if (lane.has_next) {
      uint64_t t = movie_time(*s, lane, lane.batch_start_time);
      if (t < smallest) smallest = t;
    }
  }
  s->last_cut_time = smallest;
  s->last_cut_end_time = s->queued_end_time;
  s->last_cut_bytes = s->queued_bytes;
  s->pending.clear();
  s->write_order.clear();
  s->write_samples.clear();
}

void scheduler_part_opened(Scheduler* s, bool continuation) {
  for (Lane& lane : s->lanes) lane.filler_due = continuation && lane.setup.subpicture;
}

void scheduler_part_closed(Scheduler* s) {
  for (Lane& lane : s->lanes) lane.flushed_presentation_end = 0;
  s->file_start_end_time = s->last_cut_end_time;
  s->file_start_time = s->last_cut_time;
  s->file_start_bytes = s->last_cut_bytes;
  s->part_has_video = false;
}

uint64_t scheduler_part_duration(const Scheduler& s, uint32_t index, bool pending) {
  // Each track of the part lasts from the part's start to where the
  // presentation of its samples ends, less the media time its edit starts
  // at; the movie lasts as long as its longest track. Text and time code
  // tracks are left out, as from the time reached.
  uint64_t longest = 0;
  for (const Lane& lane : s.lanes) {
    if (!timed_media(lane)) continue;
    int64_t end = lane.flushed_presentation_end;
    if (pending && lane.pending_presentation_end > end) end = lane.pending_presentation_end;
    if (end <= 0) continue;
    int64_t media_time = index == 0 ? lane.setup.media_time : lane.setup.continuation_media_time;
    if (end <= media_time) continue;
    // Rounded up: the library's rescaled edits may round the other way.
    unsigned __int128 scaled = static_cast<unsigned __int128>(end - media_time) * s.movie_timescale;
    uint32_t scale = lane.setup.timescale != 0 ? lane.setup.timescale : 1;
    auto units = static_cast<uint64_t>((scaled + scale - 1) / scale);
    uint64_t duration = units > s.file_start_time ? units - s.file_start_time : 0;
    if (duration > longest) longest = duration;
  }
  return longest;
}

uint32_t scheduler_progress(const Scheduler& s, uint64_t duration) {
  // A movie without a duration reports 0 until its pass ends.
  if (duration == 0) return 0;
  uint64_t value = div64(mul64(s.queued_end_time, 1000), duration);
  return value > 1000 ? 1000 : static_cast<uint32_t>(value);
}

}  // namespace vantorel
