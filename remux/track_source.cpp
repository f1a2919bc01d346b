#include "remux/track_source.h"

#include <algorithm>

#include "io/value64.h"
#include "mediafile/mediafile.h"

namespace vantorel {

namespace {

// Opens the walk over the source and steps over the samples before its span.
ErrorCode open_source(TrackCursor* c) {
  const SampleSource& s = c->sources[c->source];
  VT_TRY(sample_walk_open(s.input, s.track_id, s.end_sample, &c->walk, true));
  c->walking = true;
  c->index = 0;
  SampleRead skipped{};
  for (; c->index < s.first_sample; ++c->index) {
    ErrorCode e = sample_walk_next(s.input, c->walk, &skipped);
    if (e != ErrorCode::Ok) return e == ErrorCode::NoMore ? ErrorCode::Malformed : e;
  }
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode track_source_start(TrackCursor* cursor, const SampleSource* sources, uint32_t count) {
  *cursor = TrackCursor{};
  for (uint32_t i = 0; i < count; ++i)
    if (sources[i].first_sample > sources[i].end_sample || sources[i].end_sample > sources[i].sample_count)
      return ErrorCode::BadArgument;
  cursor->sources = sources;
  cursor->source_count = count;
  return count > 0 ? open_source(cursor) : ErrorCode::Ok;
}

bool track_source_next(TrackCursor* c, SourceSample* out) {
  SampleRead next{};
  uint64_t offset = 0;
  while (c->walking) {
    ErrorCode e = sample_walk_next(c->sources[c->source].input, c->walk, &next, &offset);
    if (e == ErrorCode::Ok) break;
    track_source_release(c);
    if (e != ErrorCode::NoMore) c->failure = e;
    if (e == ErrorCode::NoMore && ++c->source < c->source_count) c->failure = open_source(c);
  }
  if (!c->walking) return false;
  // A trimmed sample keeps at least one unit: a duration of 0 would merge
  // it with its neighbour.
  const SampleSource& s = c->sources[c->source];
  uint32_t duration = static_cast<uint32_t>(source_units(s, next.duration));
  if (c->index == s.first_sample && s.head_trim > 0) duration = s.head_trim < duration ? duration - s.head_trim : 1;
  if (c->index + 1 == s.end_sample && s.tail_trim > 0) duration = s.tail_trim < duration ? duration - s.tail_trim : 1;
  if (c->index + 1 == s.end_sample) duration += s.tail_extend;
  ++c->index;
  out->decode_time = c->time;
  out->duration = duration;
  out->composition_offset = source_offset(s, next.composition_offset);
  out->size = next.size;
  out->sync = next.sync != 0;
  out->index = next.index;
  out->description_index = next.description_index;
  out->offset = offset;
  c->time += duration;
  return true;
}

int64_t source_units(const SampleSource& source, int64_t units) {
  if (source.scale_from == 0) return units;
  const uint64_t magnitude = units < 0 ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  const uint64_t scaled = std::min<uint64_t>(rescale(magnitude, source.scale_from, source.scale_to), INT64_MAX);
  return units < 0 ? -static_cast<int64_t>(scaled) : static_cast<int64_t>(scaled);
}

int32_t source_offset(const SampleSource& source, int32_t offset) {
  const int64_t shifted = source_units(source, offset) + source.composition_shift;
  return static_cast<int32_t>(std::clamp<int64_t>(shifted, INT32_MIN, INT32_MAX));
}

uint32_t source_description(const SampleSource& source, const uint32_t* map, uint32_t map_count, uint32_t index) {
  if (source.description_map == 0) return index;
  // The map holds the source's count first, then its numbers.
  const uint32_t at = source.description_map - 1;
  if (at >= map_count) return index;
  const uint32_t count = map[at];
  const uint32_t i = index != 0 ? index - 1 : 0;
  return i < count && at + 1 + i < map_count ? map[at + 1 + i] : index;
}

void track_source_release(TrackCursor* c) {
  if (c->walking) sample_walk_close(c->sources[c->source].input, c->walk);
  c->walking = false;
}

}  // namespace vantorel
