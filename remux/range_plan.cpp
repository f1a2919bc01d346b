// The range cut of a plan: where the range lies in each planned track's
// media, the cut of each track's samples (range_cut.cpp) mapped onto its
// sources, and the edits that show exactly the range.
#include "remux/range_plan.h"

#include <algorithm>
#include <cstdlib>

#include "io/value64.h"
#include "mediafile/mediafile.h"

namespace vantorel {

namespace {

constexpr uint32_t kNanoseconds = 1000000000;

// Opus decoders settle within 80 ms.
constexpr uint32_t kOpusPrerollMs = 80;

// A planned track as the range cut sees it.
struct Cutting {
  GrowArray<RangeSample> samples;
  RangeTrackKind kind;
  uint64_t delay;         // range units: where its presentation starts in the movie
  uint64_t shown_end;     // media units: where its presentation ends
  uint64_t preroll;       // media units
};

ErrorCode load_track(TrackPlan* plan, const PlannedTrack& row, uint32_t old_scale, uint32_t scale, Cutting* c) {
  MediaFile* input = plan->input;
  TrackInfo info;
  VT_TRY(track_info(input, row.input_track_id, &info));
  c->kind = RangeTrackKind::Data;
  if (row.video) c->kind = RangeTrackKind::Video;
  if (row.audio) c->kind = RangeTrackKind::Sound;
  if (info.kind == kHandlerText || info.kind == kHandlerSbtl || info.kind == kHandlerSubtitle)
    c->kind = RangeTrackKind::Text;
  c->delay = rescale(row.start_delay, old_scale, scale);
  // The samples as the output will have them: the track's sources one
  // after the other (the inputs of a join), their times as planned.
  TrackCursor cursor{};
  VT_TRY(track_source_start(&cursor, plan->sources.data() + row.first_source, row.source_count));
  SourceSample s{};
  ErrorCode e = ErrorCode::Ok;
  uint64_t end = 0;
  while (e == ErrorCode::Ok && track_source_next(&cursor, &s)) {
    const RangeSample r{s.decode_time, s.duration, s.composition_offset, s.sync};
    const int64_t shown = presentation_of(r) + r.duration;
    if (shown > 0 && static_cast<uint64_t>(shown) > end) end = static_cast<uint64_t>(shown);
    e = c->samples.append_doubling(r);
  }
  track_source_release(&cursor);
  VT_TRY(e);
  VT_TRY(cursor.failure);
  c->shown_end = row.media_end > 0 && static_cast<uint64_t>(row.media_end) < end ? static_cast<uint64_t>(row.media_end)
                                                                                   : end;
  c->preroll = 0;
  int16_t roll = 0;
  if (c->kind == RangeTrackKind::Sound && !c->samples.empty()) {
    if (row.fourcc == "Opus" && track_roll_distance(input, row.input_track_id, &roll) && roll < 0)
      c->preroll = uint64_t{c->samples[0].duration} * static_cast<uint32_t>(-roll);  // as the input says
    else if (row.fourcc == "Opus")
      c->preroll = rescale(kOpusPrerollMs, 1000, row.timescale);
    else if (row.fourcc == "mp4a" || row.fourcc == ".mp3")
      c->preroll = c->samples[0].duration;  // one frame
  }
  return ErrorCode::Ok;
}

// Where the track's presentation ends in the movie, range units.
uint64_t movie_end_of(const PlannedTrack& row, const Cutting& c, uint32_t scale) {
  const uint64_t start = row.media_time > 0 ? static_cast<uint64_t>(row.media_time) : 0;
  const uint64_t shown = c.shown_end > start ? c.shown_end - start : 0;
  return c.delay + rescale(shown, row.timescale, scale);
}

// The presentation times (range units, in the movie) of the pictures the
// video track shows, in order.
ErrorCode picture_times(const PlannedTrack& row, const Cutting& c, GrowArray<uint64_t>* out) {
  for (const RangeSample& s : c.samples) {
    const int64_t pts = presentation_of(s);
    if (pts < row.media_time || static_cast<uint64_t>(pts) >= c.shown_end) continue;
    VT_TRY(out->append_doubling(c.delay + static_cast<uint64_t>(pts - row.media_time)));
  }
  std::sort(out->begin(), out->end());
  return ErrorCode::Ok;
}

// Media times [start, end) of the track for movie times [from, to), range
// units; false when the track shows nothing there.
bool media_window(const PlannedTrack& row, const Cutting& c, uint32_t scale, uint64_t from, uint64_t to,
                  uint64_t* start, uint64_t* end) {
  if (to <= c.delay) return false;
  const uint64_t base = row.media_time > 0 ? static_cast<uint64_t>(row.media_time) : 0;
  *start = base + (from > c.delay ? rescale(from - c.delay, scale, row.timescale) : 0);
  *end = base + rescale(to - c.delay, scale, row.timescale);
  if (*end > c.shown_end) *end = c.shown_end;
  return *end > *start;
}

// The range in range units: [*from, *to), the end within the movie.
ErrorCode resolve_range(const RangeOptions& range, const PlannedTrack* video, const Cutting* video_cut,
                        uint32_t scale, uint64_t movie_end, uint64_t* from, uint64_t* to, bool* clamped,
                        uint32_t* fault) {
  *clamped = false;
  if (range.unit == kRangeFrames) {
    if (video == nullptr) {
      *fault = kRangeNoVideo;
      return ErrorCode::BadArgument;
    }
    GrowArray<uint64_t> times{};
    ErrorCode e = picture_times(*video, *video_cut, &times);
    const uint64_t count = times.count;
    if (e == ErrorCode::Ok && range.start >= count) {
      *fault = kRangeStartPastEnd;
      e = ErrorCode::BadArgument;
    }
    if (e == ErrorCode::Ok) {
      *from = times[static_cast<uint32_t>(range.start)];
      *to = range.end < count ? times[static_cast<uint32_t>(range.end)] : movie_end;
      *clamped = range.end != UINT64_MAX && range.end > count;
    }
    times.release();
    VT_TRY(e);
  } else {
    *from = rescale(range.start, kNanoseconds, scale);
    *to = range.end == UINT64_MAX ? movie_end : rescale(range.end, kNanoseconds, scale);
    if (*from >= movie_end) {
      *fault = kRangeStartPastEnd;
      return ErrorCode::BadArgument;
    }
  }
  if (*to > movie_end) {
    *to = movie_end;
    *clamped = *clamped || range.end != UINT64_MAX;
  }
  if (*to <= *from) {
    *fault = kRangeEmpty;
    return ErrorCode::BadArgument;
  }
  return ErrorCode::Ok;
}

// A time code track shows the time code of the range's first frame: its
// first stored sample (`first` of the track of `source`) is re-counted by
// the frames the cut passes over, and shown from its start (readers
// ignore a time code track's edit).
ErrorCode recount_timecode(const SampleSource& source, PlannedTrack* row, uint32_t first) {
  // A time code it cannot count is kept as read, behind the edit.
  if (!recount_timecode_sample(source.input, source.track_id, first, static_cast<uint64_t>(row->media_time),
                               row->timescale, row->first_bytes))
    return ErrorCode::Ok;
  row->first_replaced = true;
  row->media_end -= row->media_time;
  row->media_time = 0;
  return ErrorCode::Ok;
}

FourCC handler_type_of(MediaFile* input, uint32_t track_id) {
  TrackInfo info;
  return track_info(input, track_id, &info) == ErrorCode::Ok ? info.handler_type : FourCC{};
}

void release_cuts(Cutting* cuts, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) cuts[i].samples.release();
}

// Cuts each track; those that show nothing within the range leave the plan.
ErrorCode cut_tracks(TrackPlan* plan, Cutting* cuts, uint32_t scale, uint64_t from, uint64_t to,
                     const RemuxEvents& events, void* user) {
  uint32_t kept = 0;
  const uint32_t count = plan->tracks.count;
  for (uint32_t i = 0; i < count; ++i) {
    PlannedTrack row = plan->tracks[i];
    const Cutting& c = cuts[i];
    uint64_t start = 0, end = 0;
    RangeCut cut{};
    if (!media_window(row, c, scale, from, to, &start, &end) ||
        !range_cut_samples(c.samples.data(), c.samples.count, c.kind, start, end, c.preroll, &cut)) {
      if (events.track_dropped != nullptr)
        events.track_dropped(row.input_track_id, handler_type_of(plan->input, row.input_track_id), row.fourcc,
                             kDropOutsideRange, user);
      continue;
    }
    // The cut counts the samples of the track's sources one after the
    // other: each source keeps its part of [first, end).
    uint32_t counted = 0, first_used = UINT32_MAX, last_used = 0;
    for (uint32_t k = 0; k < row.source_count; ++k) {
      SampleSource& source = plan->sources[row.first_source + k];
      const uint32_t n = source.end_sample - source.first_sample;
      const uint32_t low = std::max(cut.first, counted), high = std::min(cut.end, counted + n);
      if (low < high) {
        if (first_used == UINT32_MAX) first_used = k;
        last_used = k;
        const uint32_t base = source.first_sample;
        source.first_sample = base + (low - counted);
        source.end_sample = base + (high - counted);
        source.head_trim = source.tail_trim = 0;
        // A lengthened last sample (a joined time code) that the cut ends before keeps its own length.
        if (high < counted + n) source.tail_extend = 0;
      }
      counted += n;
    }
    if (first_used == UINT32_MAX) return ErrorCode::Malformed;  // the cut lies within what was counted
    plan->sources[row.first_source + first_used].head_trim = cut.head_trim;
    SampleSource& closing = plan->sources[row.first_source + last_used];
    // The trim was counted on the lengthened sample: it takes the length added first.
    const uint32_t folded = std::min(cut.tail_trim, closing.tail_extend);
    closing.tail_extend -= folded;
    closing.tail_trim = cut.tail_trim - folded;
    const SampleSource& opening = plan->sources[row.first_source + first_used];
    row.first_source += first_used;
    row.source_count = last_used - first_used + 1;
    row.sample_count = cut.end - cut.first;
    row.start_delay = from < c.delay ? c.delay - from : 0;
    row.media_time = cut.media_time;
    row.media_end = cut.media_end;
    row.continuation_media_time = cut.media_time;
    row.edit_count = 0;  // a joined track's edits per input give way to the range's one
    if (row.fourcc == "tmcd" && row.media_time > 0) VT_TRY(recount_timecode(opening, &row, opening.first_sample));
    plan->tracks[kept++] = row;
  }
  plan->tracks.count = kept;
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode range_plan_apply(TrackPlan* plan, const RangeOptions& range, const RemuxEvents& events, void* user,
                           RangePlacement* placed, uint32_t* fault) {
  *fault = kRangeMet;
  *placed = RangePlacement{};
  const uint32_t count = plan->tracks.count;
  // The range is counted in the first video track's time scale (else the
  // first sound track's), which the output's movie takes: its edits are then
  // exact.
  const uint32_t old_scale = plan->movie_timescale;
  const PlannedTrack* video = nullptr;
  const PlannedTrack* sound = nullptr;
  for (const PlannedTrack& row : plan->tracks) {
    if (row.video && video == nullptr) video = &row;
    if (row.audio && sound == nullptr) sound = &row;
  }
  const uint32_t scale = video != nullptr ? video->timescale : sound != nullptr ? sound->timescale : old_scale;
  auto* cuts = count > 0 ? static_cast<Cutting*>(std::calloc(count, sizeof(Cutting))) : nullptr;
  if (count > 0 && cuts == nullptr) return ErrorCode::OutOfMemory;
  ErrorCode e = ErrorCode::Ok;
  uint64_t movie_end = 0, timed_end = 0;
  const Cutting* video_cut = nullptr;
  for (uint32_t i = 0; i < count && e == ErrorCode::Ok; ++i) {
    const PlannedTrack& row = plan->tracks[i];
    e = load_track(plan, row, old_scale, scale, &cuts[i]);
    if (e != ErrorCode::Ok) break;
    const uint64_t end = movie_end_of(row, cuts[i], scale);
    movie_end = std::max(movie_end, end);
    if (row.video || row.audio) timed_end = std::max(timed_end, end);
    if (&row == video) video_cut = &cuts[i];
  }
  // Text and data tracks may run on past the pictures and sound.
  if (timed_end > 0) movie_end = timed_end;
  uint64_t from = 0, to = 0;
  bool clamped = false;
  if (e == ErrorCode::Ok) e = resolve_range(range, video, video_cut, scale, movie_end, &from, &to, &clamped, fault);
  const uint64_t asked_from = from;
  if (e == ErrorCode::Ok && range.keyframe && video != nullptr) {
    // The output starts at the sync sample the pictures are decoded from.
    uint64_t start = 0, end = 0;
    RangeCut cut{};
    if (media_window(*video, *video_cut, scale, from, to, &start, &end) &&
        range_cut_samples(video_cut->samples.data(), video_cut->samples.count, RangeTrackKind::Video, start, end, 0,
                          &cut)) {
      const int64_t pts = presentation_of(video_cut->samples[cut.first]);
      const uint64_t at = pts > video->media_time ? video_cut->delay + static_cast<uint64_t>(pts - video->media_time)
                                                  : video_cut->delay;
      if (at < from) from = at;
    }
  }
  if (e == ErrorCode::Ok) e = cut_tracks(plan, cuts, scale, from, to, events, user);
  release_cuts(cuts, count);
  std::free(cuts);
  VT_TRY(e);
  plan->movie_timescale = scale;
  plan->movie_duration = to - from;
  placed->asked_start = range.unit == kRangeFrames ? rescale(asked_from, scale, kNanoseconds) : range.start;
  placed->start = rescale(from, scale, kNanoseconds);
  placed->asked_end = range.unit == kRangeFrames || range.end == UINT64_MAX ? none64() : range.end;
  placed->end = rescale(to, scale, kNanoseconds);
  placed->end_clamped = clamped;
  return ErrorCode::Ok;
}

}  // namespace vantorel
