// What carrying a file's tracks into another needs to know of the file
// read: how much a cut recording lacks, the tracks its reading left out,
// its time codes and its tags.
#include <cstring>

#include "boxes/hdlr.h"
#include "io/value64.h"
#include "mediafile/internal.h"
#include "meta/tags.h"

namespace vantorel {

namespace {

// Tracks end apart by up to this much in a whole file.
constexpr uint64_t kDeclaredEndSlackMs = 1000;

uint32_t sat_add32(uint32_t a, uint32_t b) { return b > UINT32_MAX - a ? UINT32_MAX : a + b; }
uint64_t sat_add64(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

// The duration, in milliseconds, of samples [from, to) of a track.
uint64_t duration_ms(MediaFile* file, const TrackInfo& info, uint32_t from, uint32_t to) {
  if (info.timescale == 0) return 0;
  return rescale(track_samples_duration(file, info.track_id, from, to), info.timescale, 1000);
}

}  // namespace

// The one reckoning behind the remux's warning and the file's description.
ErrorCode track_shortfall(MediaFile* file, uint32_t track_id, TrackShortfall* out, ReadableSamples* readable_out,
                          bool* past_end_out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = TrackShortfall{};
  if (past_end_out != nullptr) *past_end_out = false;
  TrackInfo info;
  VT_TRY(track_info(file, track_id, &info));
  MovieInfo movie;
  VT_TRY(movie_info(file, &movie));
  if (movie.timescale == 0 && readable_out == nullptr) return ErrorCode::Ok;  // no time to measure a loss in
  ReadableSamples readable{};
  VT_TRY(track_readable_samples(file, track_id, &readable));
  if (readable_out != nullptr) *readable_out = readable;
  if (movie.timescale == 0) return ErrorCode::Ok;
  bool past_end = readable.past_end;
  uint32_t missing = readable.described - readable.count;
  uint32_t total = readable.described;
  uint64_t missing_ms = past_end ? duration_ms(file, info, readable.count, readable.described) : 0;
  if (const ImportCut* listed = import_cut_of(file, track_id)) {
    missing = sat_add32(missing, listed->missing);
    total = sat_add32(total, listed->missing);
    missing_ms = sat_add64(missing_ms, listed->missing_ms);
    past_end = past_end || listed->missing > 0;
  }
  // The declared end tells how much is lost, more than the last sample the
  // index lists: the file's own (an imported file found cut), else the
  // movie's duration for a track found cut. In a file found cut, a track
  // that ends short of it by more than a second is cut too.
  uint64_t declared_ms = file->cut ? file->declared_end_ms : 0;
  if (declared_ms == 0 && past_end) declared_ms = rescale(movie.duration, movie.timescale, 1000);
  if (declared_ms > 0 && declared_ms != none64()) {
    const uint64_t start_ms = rescale(info.start_delay, movie.timescale, 1000);
    const uint64_t end_ms = sat_add64(start_ms, duration_ms(file, info, 0, readable.count));
    const uint64_t short_ms = declared_ms > end_ms ? declared_ms - end_ms : 0;
    if (short_ms > missing_ms) missing_ms = short_ms;
    if (file->cut) past_end = past_end || short_ms > kDeclaredEndSlackMs;
  }
  if (past_end_out != nullptr) *past_end_out = past_end;
  if (past_end) *out = TrackShortfall{missing, total, missing_ms};
  return ErrorCode::Ok;
}

ErrorCode dropped_track(MediaFile* file, uint32_t index, DroppedTrackFacts* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  if (index >= file->dropped_tracks.count) return ErrorCode::NoMore;
  const DroppedTrack& d = file->dropped_tracks[index];
  *out = DroppedTrackFacts{d.track_id, d.handler, d.format};
  return ErrorCode::Ok;
}

uint32_t handler_kind_of_type(FourCC type) { return handler_kind_from_type(type); }

ErrorCode media_malformed(MediaFile* file, const char* reason) {
  if (file == nullptr) return ErrorCode::Malformed;
  return malformed(file, reason);
}

// A time code track shows the time code of a later first frame: its sample
// re-counted by the frames passed over.
bool recount_timecode_sample(MediaFile* file, uint32_t track_id, uint32_t index, uint64_t media_time,
                             uint32_t timescale, uint8_t out[4]) {
  uint32_t at = 0;
  if (file == nullptr || !track_timecode_advance(file, track_id, 0, 0, timescale, &at)) return false;
  uint8_t bytes[8];
  SampleRead read{};
  read.buffer = bytes;
  read.capacity = sizeof bytes;
  uint64_t time = 0;
  ErrorCode e = track_seek(file, track_id, 0, &index, &time, 0, 0);
  if (e == ErrorCode::Ok) e = read_next_sample(file, track_id, &read);
  if (e != ErrorCode::Ok || read.size != 4) return false;  // not a frame number
  const uint32_t frame = uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
  if (!track_timecode_advance(file, track_id, frame, media_time, timescale, &at)) return false;
  for (uint32_t i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(at >> (24 - 8 * i));
  return true;
}

bool movie_tags_equal(MediaFile* a, MediaFile* b) {
  if (a == nullptr || b == nullptr) return a == b;
  const uint32_t count = tag_count(a, kMovieTags);
  if (tag_count(b, kMovieTags) != count) return false;
  for (uint32_t i = 0; i < count; ++i) {
    TagRecord* x = nullptr;
    TagRecord* y = nullptr;
    if (tag_at(a, i, kMovieTags, &x) != ErrorCode::Ok || tag_at(b, i, kMovieTags, &y) != ErrorCode::Ok) return false;
    if (std::strcmp(x->name, y->name) != 0 || x->values.count != y->values.count) return false;
    for (uint32_t v = 0; v < x->values.count; ++v)
      if (v >= x->value_sizes.count || v >= y->value_sizes.count || x->value_sizes[v] != y->value_sizes[v] ||
          std::memcmp(x->values[v], y->values[v], x->value_sizes[v]) != 0)
        return false;
  }
  return true;
}

}  // namespace vantorel
