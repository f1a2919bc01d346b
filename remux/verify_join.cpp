// Verify's checks of a whole joined movie: each input's sound presents
// beside its pictures through the output's edits, and the rebuilt chapters
// stand where their inputs put them.
#include "remux/verify_join.h"

#include "io/value64.h"
#include "remux/track_source.h"

namespace vantorel {

ErrorCode edits_of(MediaFile* file, uint32_t track_id, GrowArray<TrackEdit>* out) {
  out->clear();
  const uint32_t count = track_edits(file, track_id, nullptr, 0);
  if (count == 0) return ErrorCode::Ok;
  VT_TRY(out->reserve(count));
  out->count = track_edits(file, track_id, out->items, count);
  return ErrorCode::Ok;
}

namespace {

// Where media time `media` of a track presents through its edits, in
// movie units; false when no edit shows it.
bool presented_at(const GrowArray<TrackEdit>& edits, uint32_t movie_units, uint32_t units, int64_t media, uint64_t* at) {
  if (units == 0) return false;
  uint64_t start = 0;
  for (const TrackEdit& e : edits) {
    const uint64_t shown = rescale(e.duration, movie_units, units);
    if (e.media_time >= 0 && media >= e.media_time && static_cast<uint64_t>(media - e.media_time) < shown) {
      *at = start + rescale(static_cast<uint64_t>(media - e.media_time), units, movie_units);
      return true;
    }
    start += e.duration;
  }
  return false;
}

// Joined sound with edits of its own (more than one): each input's sound,
// from where its own edit starts it, presents where that input's pictures
// start (the first video track's inputs played back to back) plus the
// offset it had to them in its input, within one of its samples.
// The first video track's segments of a join: [*first, *first + *count);
// *count 0 without one.
ErrorCode reference_segments(const VerifyJoin& join, VerifyReader& first_input, VerifyReader* readers, uint32_t* first,
                             uint32_t* count) {
  *first = join.segment_count;
  *count = 0;
  for (uint32_t i = 0; i < join.segment_count && *first == join.segment_count; ++i) {
    const VerifySegment& s = join.segments[i];
    TrackInfo info;
    VT_TRY(track_info(s.input == 0 ? first_input.file : readers[s.input].file, s.source.track_id, &info));
    if (handler_is_video_like(info.kind)) *first = i;
  }
  while (*first + *count < join.segment_count && join.segments[*first + *count].track == join.segments[*first].track)
    ++*count;
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode check_joined_sound(const VerifyJoin& join, VerifyReader& first, VerifyReader* readers, MediaFile* out,
                             uint32_t* track_id) {
  *track_id = 0;
  auto file_of = [&](const VerifySegment& s) { return s.input == 0 ? first.file : readers[s.input].file; };
  MovieInfo movie;
  VT_TRY(movie_info(out, &movie));
  uint32_t reference = 0, reference_count = 0;
  VT_TRY(reference_segments(join, first, readers, &reference, &reference_count));
  if (reference_count == 0) return ErrorCode::Ok;
  const uint32_t reference_track = join.segments[reference].track;
  TrackInfo pictures;
  if (track_info(out, movie_track_id(out, reference_track), &pictures) != ErrorCode::Ok) return ErrorCode::Ok;
  GrowArray<TrackEdit> edits{};
  struct Release {
    GrowArray<TrackEdit>* e;
    ~Release() { e->release(); }
  } release{&edits};
  for (uint32_t i = 0; i < join.segment_count;) {
    const uint32_t track = join.segments[i].track;
    uint32_t end = i;
    while (end < join.segment_count && join.segments[end].track == track) ++end;
    const uint32_t sound_id = movie_track_id(out, track);
    TrackInfo sound;
    VT_TRY(edits_of(out, sound_id, &edits));
    uint32_t shown = 0;
    for (const TrackEdit& e : edits) shown += e.media_time >= 0;
    if (track_handler_kind(out, sound_id) != kHandlerSound || shown < 2 ||
        track_info(out, sound_id, &sound) != ErrorCode::Ok || end - i != reference_count) {
      i = end;
      continue;
    }
    uint64_t media = 0, pictures_at = pictures.start_delay;
    for (uint32_t k = 0; k < end - i; ++k) {
      const VerifySegment& a = join.segments[i + k];
      const VerifySegment& v = join.segments[reference + k];
      MediaFile* in = file_of(a);
      TrackInfo ia, iv;
      MovieInfo in_movie;
      VT_TRY(track_info(in, a.source.track_id, &ia));
      VT_TRY(track_info(in, v.source.track_id, &iv));
      VT_TRY(movie_info(in, &in_movie));
      // The sound's offset to the pictures in its input, output movie units.
      const int64_t offset = static_cast<int64_t>(rescale(ia.start_delay, in_movie.timescale, movie.timescale)) -
                             static_cast<int64_t>(rescale(iv.start_delay, in_movie.timescale, movie.timescale));
      const int64_t own = std::max<int64_t>(0, ia.first_edit_media_time);
      const uint64_t slack =
          rescale(track_samples_duration(in, a.source.track_id, 0, 1), ia.timescale, movie.timescale) + 1;
      uint64_t at = 0;
      const int64_t wanted = static_cast<int64_t>(pictures_at) + offset;
      const int64_t media_time = static_cast<int64_t>(media) + source_units(a.source, own);
      if (!presented_at(edits, movie.timescale, sound.timescale, media_time, &at) ||
          static_cast<uint64_t>(std::max<int64_t>(wanted, static_cast<int64_t>(at)) -
                                std::min<int64_t>(wanted, static_cast<int64_t>(at))) > slack) {
        *track_id = join.segments[i].source.track_id;
        return ErrorCode::Ok;
      }
      media += static_cast<uint64_t>(source_units(
          a.source, static_cast<int64_t>(track_samples_duration(in, a.source.track_id, a.source.first_sample,
                                                                a.source.end_sample))));
      MediaFile* vin = file_of(v);
      pictures_at += rescale(static_cast<uint64_t>(source_units(
                                 v.source, static_cast<int64_t>(track_samples_duration(
                                               vin, v.source.track_id, v.source.first_sample, v.source.end_sample)))),
                             pictures.timescale, movie.timescale);
    }
    i = end;
  }
  return ErrorCode::Ok;
}

namespace {

// Where each input of a join starts in the movie, 100 ns units: the
// first video track's inputs before it (none without one).
ErrorCode joined_starts(const VerifyJoin& join, VerifyReader& first, VerifyReader* readers, MediaFile* out,
                        GrowArray<uint64_t>* starts) {
  uint32_t reference = 0, count = 0;
  VT_TRY(reference_segments(join, first, readers, &reference, &count));
  TrackInfo pictures;
  if (count == 0 || track_info(out, movie_track_id(out, join.segments[reference].track), &pictures) != ErrorCode::Ok)
    return ErrorCode::Ok;
  uint64_t units = 0;
  for (uint32_t k = 0; k < count; ++k) {
    const VerifySegment& v = join.segments[reference + k];
    VT_TRY(starts->append(rescale(units, pictures.timescale, 10000000)));
    MediaFile* in = v.input == 0 ? first.file : readers[v.input].file;
    units += static_cast<uint64_t>(source_units(
        v.source, static_cast<int64_t>(track_samples_duration(in, v.source.track_id, v.source.first_sample,
                                                              v.source.end_sample))));
  }
  return ErrorCode::Ok;
}

}  // namespace

// A whole joined movie's chapters: every input's, at its start plus where
// its input starts, and no other but one at an input's start (a chapter
// per input); an input's own chapter at its very start may be renamed so.
// Within a millisecond. `*placed` false at the first that breaks the rule.
ErrorCode check_joined_chapters(const VerifyJoin& join, VerifyReader& first, VerifyReader* readers, MediaFile* out, bool* placed) {
  *placed = true;
  GrowArray<uint64_t> starts{};
  struct Release {
    GrowArray<uint64_t>* s;
    ~Release() { s->release(); }
  } release{&starts};
  VT_TRY(joined_starts(join, first, readers, out, &starts));
  if (starts.count == 0 || starts.count != join.input_count) return ErrorCode::Ok;
  constexpr uint64_t kSlack = 10000;  // 1 ms
  auto near = [](uint64_t a, uint64_t b) { return (a > b ? a - b : b - a) <= kSlack; };
  const uint32_t made = movie_chapter_count(out);
  // Every input's chapters are found where they belong.
  for (uint32_t k = 0; k < join.input_count && *placed; ++k) {
    MediaFile* in = k == 0 ? first.file : readers[k].file;
    const uint32_t chapters = movie_chapter_count(in);
    for (uint32_t c = 0; c < chapters && *placed; ++c) {
      ChapterMark chapter;
      VT_TRY(movie_chapter(in, c, &chapter));
      const uint64_t at = starts[k] + chapter.start_time;
      bool found = false;
      for (uint32_t o = 0; o < made && !found; ++o) {
        ChapterMark written;
        VT_TRY(movie_chapter(out, o, &written));
        found = near(written.start_time, at) &&
                (std::strcmp(written.title, chapter.title) == 0 || near(chapter.start_time, 0));
      }
      *placed = found;
    }
  }
  // And no chapter stands anywhere else.
  for (uint32_t o = 0; o < made && *placed; ++o) {
    ChapterMark written;
    VT_TRY(movie_chapter(out, o, &written));
    bool known = false;
    for (uint32_t k = 0; k < join.input_count && !known; ++k) {
      known = near(written.start_time, starts[k]);
      MediaFile* in = k == 0 ? first.file : readers[k].file;
      const uint32_t chapters = movie_chapter_count(in);
      for (uint32_t c = 0; c < chapters && !known; ++c) {
        ChapterMark chapter;
        VT_TRY(movie_chapter(in, c, &chapter));
        known = near(written.start_time, starts[k] + chapter.start_time);
      }
    }
    *placed = known;
  }
  return ErrorCode::Ok;
}

}  // namespace vantorel
