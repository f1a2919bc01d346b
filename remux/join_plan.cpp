// Joined inputs matched to the first and appended to its planned tracks.
#include "remux/join_plan.h"

#include <algorithm>
#include <cstring>

#include "io/byte_io.h"
#include "io/value64.h"
#include "mediafile/mediafile.h"

namespace vantorel {

namespace {

// Where the data reference index lies in a sample entry; the output
// writes its own there, so it does not tell entries apart.
constexpr uint32_t kIndexAt = 14;

// A track's sample entries as read; `count` 0 when they were not kept.
struct Entries {
  const uint8_t* bytes;
  uint32_t size;
  uint32_t count;
};

Entries entries_of(const TrackPlan& plan, const PlannedTrack& row) {
  Entries e{};
  if (track_whole_entries(plan.input, row.input_track_id, &e.bytes, &e.size, &e.count) != ErrorCode::Ok) return Entries{};
  return e;
}

bool same_entry(const uint8_t* a, uint32_t a_size, const uint8_t* b, uint32_t b_size) {
  return a_size == b_size && a_size >= kIndexAt + 2 && std::memcmp(a, b, kIndexAt) == 0 &&
         std::memcmp(a + kIndexAt + 2, b + kIndexAt + 2, a_size - kIndexAt - 2) == 0;
}

// Whether every duration and composition offset of `source`, counted in
// `from` units, is a whole number of `to` units.
bool converts_exactly(const SampleSource& source, uint32_t from, uint32_t to) {
  if (from == 0 || to == 0) return false;
  uint32_t walk = 0;
  if (sample_walk_open(source.input, source.track_id, source.end_sample, &walk) != ErrorCode::Ok) return false;
  bool exact = true;
  SampleRead read{};
  for (uint32_t i = 0; exact && i < source.end_sample; ++i) {
    if (sample_walk_next(source.input, walk, &read) != ErrorCode::Ok) break;
    // Exact, and within the fields the output writes them to.
    const int64_t offset = static_cast<int64_t>(read.composition_offset) * to;
    exact = uint64_t{read.duration} * to % from == 0 && offset % static_cast<int64_t>(from) == 0 &&
            uint64_t{read.duration} * to / from <= UINT32_MAX && offset / from <= INT32_MAX && offset / from >= INT32_MIN;
  }
  sample_walk_close(source.input, walk);
  return exact;
}

// Whether the shift that presents `b`'s pictures from where the previous
// input's end fits a composition offset (media times of an edit can be
// anything a file says).
bool shift_fits(const PlannedTrack& a, const PlannedTrack& b) {
  if (a.timescale == 0 || b.timescale == 0 || b.media_time < 0 || a.media_time < 0) return false;
  const uint64_t converted = rescale(static_cast<uint64_t>(b.media_time), b.timescale, a.timescale);
  const int64_t shift = a.media_time - static_cast<int64_t>(std::min<uint64_t>(converted, INT64_MAX / 2));
  return shift >= INT32_MIN / 2 && shift <= INT32_MAX / 2;
}

// The first failing check of track `i` of a later plan against the first's.
ErrorCode match_track(const TrackPlan& first, const TrackPlan& other, uint32_t i, uint32_t* fault) {
  const PlannedTrack& a = first.tracks[i];
  const PlannedTrack& b = other.tracks[i];
  TrackInfo ia, ib;
  VT_TRY(track_info(first.input, a.input_track_id, &ia));
  VT_TRY(track_info(other.input, b.input_track_id, &ib));
  uint32_t ma[9], mb[9];
  const bool has_a = track_matrix(first.input, a.input_track_id, ma) == ErrorCode::Ok;
  const bool has_b = track_matrix(other.input, b.input_track_id, mb) == ErrorCode::Ok;
  if (ia.kind != ib.kind || a.video != b.video || a.audio != b.audio || a.subpicture != b.subpicture) {
    *fault = kJoinKind;
  } else if (!(a.fourcc == b.fourcc)) {
    *fault = kJoinCodec;
  } else if (has_a != has_b || (has_a && std::memcmp(ma, mb, sizeof ma) != 0)) {
    *fault = kJoinMatrix;
  } else if (a.timescale != b.timescale && !converts_exactly(other.sources[b.first_source], b.timescale, a.timescale)) {
    *fault = kJoinTimescale;
  } else if (a.video && !shift_fits(a, b)) {
    *fault = kJoinTiming;
  } else if (!(a.carried_whole && entries_of(first, a).count != 0 && entries_of(other, b).count != 0) &&
             !track_configs_agree(&ia, &ib)) {
    // Entries built from the configuration are one description for all.
    *fault = kJoinConfiguration;
  } else {
    *fault = kJoinMet;
  }
  return ErrorCode::Ok;
}

// The descriptions of one joined track: the entries gathered so far and,
// per later input, where its numbers start in the map.
struct JoinedEntries {
  GrowArray<uint8_t> bytes;
  uint32_t count;
};

// Adds the entries not yet among `joined` and writes each one's output
// number into the map: count first, then the numbers.
ErrorCode map_entries(JoinedEntries* joined, const Entries& entries, GrowArray<uint32_t>* map, uint32_t* map_at) {
  const uint8_t* bytes = entries.bytes;
  const uint32_t size = entries.size;
  *map_at = map->count + 1;
  VT_TRY(map->append(entries.count));
  for (uint32_t e = 0; e < entries.count; ++e) {
    uint32_t at = 0, length = 0;
    if (!sample_entry_at(bytes, size, entries.count, e, &at, &length)) return ErrorCode::Malformed;
    uint32_t number = 0, seen = 0;
    for (uint32_t k = 0; k < joined->count && number == 0; ++k) {
      uint32_t seen_length = 0;
      if (!sample_entry_at(joined->bytes.data(), joined->bytes.count, joined->count, k, &seen, &seen_length))
        return ErrorCode::Malformed;
      if (same_entry(joined->bytes.data() + seen, seen_length, bytes + at, length)) number = k + 1;
    }
    if (number == 0) {
      if (joined->bytes.count > UINT32_MAX - length) return ErrorCode::OutOfMemory;
      VT_TRY(joined->bytes.reserve(joined->bytes.count + length));
      for (uint32_t b = 0; b < length; ++b) VT_TRY(joined->bytes.append(bytes[at + b]));
      number = ++joined->count;
    }
    VT_TRY(map->append(number));
  }
  return ErrorCode::Ok;
}

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

bool sample_entry_at(const uint8_t* bytes, uint32_t size, uint32_t count, uint32_t index, uint32_t* at,
                     uint32_t* length) {
  if (bytes == nullptr || index >= count) return false;
  uint32_t offset = 0;
  for (uint32_t i = 0;; ++i) {
    if (size - offset < kIndexAt + 2) return false;
    const uint32_t entry = load_u32be(bytes + offset);
    if (entry < kIndexAt + 2 || entry > size - offset) return false;
    if (i == index) {
      *at = offset;
      *length = entry;
      return true;
    }
    offset += entry;
  }
}

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
