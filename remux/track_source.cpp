#include "remux/track_source.h"

#include "io/value64.h"
#include "mediafile/mediafile.h"

namespace vantorel {

namespace {

ErrorCode open_source(TrackCursor* c) {
  const SampleSource& s = c->sources[c->source];
  VT_TRY(sample_walk_open(s.input, s.track_id, s.sample_count, &c->walk));
  c->walking = true;
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode track_source_start(TrackCursor* cursor, const SampleSource* sources, uint32_t count) {
  *cursor = TrackCursor{};
  for (uint32_t i = 0; i < count; ++i)
    if (sources[i].span_start != 0 || sources[i].span_end != none64()) return ErrorCode::Unsupported;
  cursor->sources = sources;
  cursor->source_count = count;
  return count > 0 ? open_source(cursor) : ErrorCode::Ok;
}

bool track_source_next(TrackCursor* c, SourceSample* out) {
  SampleRead next{};
  while (c->walking) {
    ErrorCode e = sample_walk_next(c->sources[c->source].input, c->walk, &next);
    if (e == ErrorCode::Ok) break;
    track_source_release(c);
    if (e != ErrorCode::NoMore) c->failure = e;
    if (e == ErrorCode::NoMore && ++c->source < c->source_count) c->failure = open_source(c);
  }
  if (!c->walking) return false;
  out->decode_time = c->time;
  out->duration = next.duration;
  out->composition_offset = next.composition_offset;
  out->size = next.size;
  out->sync = next.sync != 0;
  c->time += next.duration;
  return true;
}

void track_source_release(TrackCursor* c) {
  if (c->walking) sample_walk_close(c->sources[c->source].input, c->walk);
  c->walking = false;
}

}  // namespace vantorel
