// Joined sound: each input's sound beside its own pictures, and gapless
// edits where every input starts after its encoder's priming.
#include "remux/join_sound.h"

#include <algorithm>

#include "io/value64.h"
#include "mediafile/mediafile.h"

namespace vantorel {

namespace {

// The edit of an input's sound track that starts after its encoder's
// priming, alone in its list: its media time and duration in
// `movie_timescale`. False for any other list.
bool priming_edit(const TrackPlan& plan, const PlannedTrack& row, uint32_t movie_timescale, JoinEdit* out) {
  if (plan.movie_timescale == 0) return false;
  TrackEdit edit{};
  if (track_edits(plan.input, row.input_track_id, &edit, 1) != 1) return false;
  if (edit.rate_integer != 1 || edit.rate_fraction != 0) return false;
  if (!edit_skips_priming(plan.input, row.input_track_id, edit.media_time)) return false;
  *out = JoinEdit{edit.media_time, rescale(edit.duration, plan.movie_timescale, movie_timescale)};
  return true;
}

}  // namespace

// Gapless sound: an edit per input, each from its priming on, when every
// input's track has its priming edit; else the track keeps the first
// input's edit.
ErrorCode plan_gapless(TrackPlan* plan, const TrackPlan* later, uint32_t later_count, uint32_t i,
                       const SampleSource* sources) {
  PlannedTrack& row = plan->tracks[i];
  if (!row.audio || later_count == 0) return ErrorCode::Ok;
  JoinEdit edit{};
  if (!priming_edit(*plan, row, plan->movie_timescale, &edit)) return ErrorCode::Ok;
  for (uint32_t k = 0; k < later_count; ++k)
    if (!priming_edit(later[k], later[k].tracks[i], plan->movie_timescale, &edit) ||
        later[k].tracks[i].timescale != row.timescale)
      return ErrorCode::Ok;
  const uint32_t first_edit = plan->joined_edits.count;
  uint64_t elapsed = 0;
  for (uint32_t k = 0; k <= later_count; ++k) {
    const TrackPlan& input = k == 0 ? *plan : later[k - 1];
    priming_edit(input, input.tracks[i], plan->movie_timescale, &edit);
    edit.media_time += static_cast<int64_t>(elapsed);
    VT_TRY(plan->joined_edits.append(edit));
    const SampleSource& s = sources[k];
    elapsed += track_samples_duration(s.input, s.track_id, s.first_sample, s.end_sample);
  }
  row.first_edit = first_edit;
  row.edit_count = later_count + 1;
  return ErrorCode::Ok;
}

namespace {

// One input's sound as the joined track shows it: from `start` (movie
// units) its media from `media` (track units) for `length` track units.
struct SoundRun {
  uint64_t start;
  int64_t media;
  uint64_t length;
};

// The track units of samples [first_sample, end) of a source.
uint64_t samples_length(const SampleSource& s, uint32_t end) {
  return static_cast<uint64_t>(
      source_units(s, static_cast<int64_t>(track_samples_duration(s.input, s.track_id, s.first_sample, end))));
}

// Drops the samples of a source's sound that would play past `limit`
// (track units from its first sample): whole samples, those whose greater
// half lies past it; the first sample shown (from `media`) always stays.
ErrorCode drop_overlap(SampleSource* s, uint64_t media, uint64_t limit, uint32_t* dropped) {
  uint32_t walk = 0;
  VT_TRY(sample_walk_open(s->input, s->track_id, s->end_sample, &walk));
  SampleRead read{};
  ErrorCode e = ErrorCode::Ok;
  uint64_t time = 0;
  uint32_t keep = s->end_sample;
  for (uint32_t j = 0; j < s->end_sample; ++j) {
    e = sample_walk_next(s->input, walk, &read);
    if (e != ErrorCode::Ok) break;
    if (j < s->first_sample) continue;
    const uint64_t duration = static_cast<uint64_t>(source_units(*s, read.duration));
    if (time + duration / 2 >= limit && time + duration > media) {
      keep = j;
      break;
    }
    time += duration;
  }
  sample_walk_close(s->input, walk);
  if (e != ErrorCode::Ok && e != ErrorCode::NoMore) return e;
  *dropped = s->end_sample > s->first_sample ? s->end_sample - std::max(keep, s->first_sample + 1) : 0;
  s->end_sample -= *dropped;
  return ErrorCode::Ok;
}

}  // namespace

// Sound of each input keeps its offset to that input's pictures (the
// reference track's, each input's starting at `starts`): sound that
// outlasts them loses its samples past the next input's start, sound that
// falls short leaves a gap, filled first by what the next input's edit
// hides (unless that is priming), else by an empty edit. Within half a
// sample counts as in place, so sound cut from one recording goes on as
// it was. The track gets an edit per stretch where the sound does not go
// on; `*dropped` samples fewer.
ErrorCode align_sound(TrackPlan* plan, const TrackPlan* later, uint32_t later_count, uint32_t i, uint32_t reference,
                      const uint64_t* starts, SampleSource* sources, uint32_t* dropped) {
  *dropped = 0;
  PlannedTrack& row = plan->tracks[i];
  const uint32_t movie = plan->movie_timescale;
  const uint32_t units = row.timescale;
  const uint32_t reference_units = plan->tracks[reference].timescale;
  if (movie == 0 || units == 0 || reference_units == 0) return ErrorCode::Ok;
  constexpr uint64_t kFar = INT64_MAX / 4;  // past any time a track holds
  auto in_movie = [&](uint64_t track_units) { return std::min<uint64_t>(rescale(track_units, units, movie), kFar); };
  auto in_units = [&](uint64_t movie_units) { return std::min<uint64_t>(rescale(movie_units, movie, units), kFar); };
  GrowArray<SoundRun> runs{};
  struct Release {
    GrowArray<SoundRun>* r;
    ~Release() { r->release(); }
  } release{&runs};
  uint64_t elapsed = 0;  // track units of the kept samples of the inputs before
  const uint64_t first_pictures = std::min<uint64_t>(plan->tracks[reference].start_delay, kFar);
  for (uint32_t k = 0; k <= later_count; ++k) {
    const TrackPlan& input = k == 0 ? *plan : later[k - 1];
    const PlannedTrack& a = input.tracks[i];
    const PlannedTrack& v = input.tracks[reference];
    SampleSource& s = sources[k];
    const int64_t offset =
        static_cast<int64_t>(std::min<uint64_t>(rescale(a.start_delay, input.movie_timescale, movie), kFar)) -
        static_cast<int64_t>(std::min<uint64_t>(rescale(v.start_delay, input.movie_timescale, movie), kFar));
    const int64_t at = static_cast<int64_t>(first_pictures +
                                            std::min<uint64_t>(rescale(starts[k], reference_units, movie), kFar)) +
                       offset;
    uint64_t wanted = at > 0 ? static_cast<uint64_t>(at) : 0;
    uint64_t from = static_cast<uint64_t>(std::max<int64_t>(0, source_units(s, a.media_time)));
    uint64_t shown = samples_length(s, s.end_sample);
    if (a.media_end > 0) shown = std::min<uint64_t>(shown, static_cast<uint64_t>(source_units(s, a.media_end)));
    uint64_t length = shown > from ? shown - from : 0;
    uint64_t start = wanted;
    if (k > 0) {
      SoundRun& previous = runs[k - 1];
      SampleSource& p = sources[k - 1];
      const uint64_t previous_from = static_cast<uint64_t>(previous.media) - elapsed;
      uint64_t end = previous.start + in_movie(previous.length);
      if (end > wanted && previous.start < wanted) {
        uint32_t cut = 0;
        VT_TRY(drop_overlap(&p, previous_from, previous_from + in_units(wanted - previous.start), &cut));
        *dropped += cut;
        const uint64_t kept = samples_length(p, p.end_sample);
        previous.length = std::min<uint64_t>(previous.length, kept > previous_from ? kept - previous_from : 0);
        end = previous.start + in_movie(previous.length);
      }
      elapsed += samples_length(p, p.end_sample);
      const uint64_t half = p.end_sample > p.first_sample
                                ? in_movie(static_cast<uint64_t>(source_units(
                                      p, static_cast<int64_t>(track_samples_duration(p.input, p.track_id,
                                                                                     p.end_sample - 1, p.end_sample))))) / 2
                                : 0;
      // What an edit hides to skip the encoder's priming never fills a gap.
      if (wanted > end + half && !edit_skips_priming(input.input, a.input_track_id, a.media_time)) {
        // What the edit hides at the input's start fills the gap first.
        const uint64_t gap = in_units(wanted - end);
        const uint64_t fill = from <= gap + in_units(half) ? from : gap;
        from -= fill;
        length += fill;
        wanted -= std::min<uint64_t>(wanted, in_movie(fill));
      }
      start = wanted > end + half ? wanted : end;
    }
    VT_TRY(runs.append(SoundRun{start, static_cast<int64_t>(elapsed + from), length}));
  }
  // Stretches that go on from each other are one edit.
  const uint64_t total = elapsed + samples_length(sources[later_count], sources[later_count].end_sample);
  const uint32_t first_edit = plan->joined_edits.count;
  if (runs[0].start > 0) VT_TRY(plan->joined_edits.append(JoinEdit{-1, runs[0].start}));
  SoundRun current = runs[0];
  uint32_t shown_edits = 0;
  for (uint32_t k = 1; k <= runs.count; ++k) {
    const uint64_t end = current.start + in_movie(current.length);
    if (k < runs.count && runs[k].start == end &&
        runs[k].media == current.media + static_cast<int64_t>(current.length)) {
      current.length += runs[k].length;
      continue;
    }
    // A stretch that shows nothing (sound wholly hidden by its edit) is left out.
    if (in_movie(current.length) > 0) {
      VT_TRY(plan->joined_edits.append(JoinEdit{current.media, in_movie(current.length)}));
      ++shown_edits;
    }
    if (k == runs.count) break;
    if (runs[k].start > end && plan->joined_edits.count > first_edit && plan->joined_edits.back().media_time < 0)
      plan->joined_edits.back().duration += runs[k].start - end;
    else if (runs[k].start > end)
      VT_TRY(plan->joined_edits.append(JoinEdit{-1, runs[k].start - end}));
    current = runs[k];
  }
  const uint64_t last_end = static_cast<uint64_t>(current.media) + current.length;
  row.media_end = last_end >= total ? 0 : static_cast<int64_t>(last_end);
  if (shown_edits <= 1) {
    // One stretch: the track's own edit says it.
    plan->joined_edits.count = first_edit;
    return ErrorCode::Ok;
  }
  row.first_edit = first_edit;
  row.edit_count = plan->joined_edits.count - first_edit;
  return ErrorCode::Ok;
}

}  // namespace vantorel
