// Verify's tracks: which input tracks the outputs hold, in which order, and
// the checks of each output track that come before its samples.
#include "remux/verify_tracks.h"

#include "io/value64.h"
#include "mediafile/mediafile.h"
#include "remux/remux.h"
#include "remux/verify_join.h"

namespace vantorel {

ErrorCode verify_differs(VerifyReport* report, uint32_t part, uint32_t track_id, uint32_t sample, const char* field) {
  report->part = part;
  report->track_id = track_id;
  report->sample = sample;
  report->field = field;
  return ErrorCode::Differs;
}

namespace {

constexpr uint64_t kHashStart = 0xCBF29CE484222325ull;  // FNV-1a's

// A listed track of input track `id`: its kind, and nothing compared yet.
VerifyTrack listed_track(const TrackInfo& info, uint32_t id) {
  VerifyTrack t{};
  t.input_id = id;
  t.pcm = format_counts_frames(info.fourcc);
  t.subpicture = info.kind == kHandlerSubpicture;
  t.timed_media = handler_is_video_like(info.kind) || info.kind == kHandlerSound || t.subpicture;
  t.input_bytes_hash = t.output_bytes_hash = kHashStart;
  return t;
}

// A join's planned tracks, each the run of segments that names it.
ErrorCode list_joined(const VerifyInputs& inputs, GrowArray<VerifyTrack>* tracks) {
  const VerifyJoin& join = *inputs.join;
  for (uint32_t i = 0; i < join.segment_count;) {
    const VerifySegment& first = join.segments[i];
    TrackInfo info;
    VT_TRY(track_info(inputs.first->file, first.source.track_id, &info));
    VerifyTrack t = listed_track(info, first.source.track_id);
    t.first_segment = i;
    t.left = first.source.end_sample - first.source.first_sample;
    // A range of joined inputs: the spans follow the planned tracks' order.
    if (inputs.range != nullptr) {
      if (first.track >= inputs.range->count) return ErrorCode::BadArgument;
      t.joined_span = &inputs.range->spans[first.track];
    }
    for (; i < join.segment_count && join.segments[i].track == first.track; ++i) {
      t.count += join.segments[i].source.end_sample - join.segments[i].source.first_sample;
      ++t.segment_count;
    }
    VT_TRY(tracks->append(t));
  }
  return ErrorCode::Ok;
}

// A range's spans, each input track moved to its span's first sample.
ErrorCode list_spans(const VerifyInputs& inputs, GrowArray<VerifyTrack>* tracks) {
  MediaFile* in = inputs.first->file;
  for (uint32_t i = 0; i < inputs.range->count; ++i) {
    const VerifySpan& span = inputs.range->spans[i];
    TrackInfo info;
    VT_TRY(track_info(in, span.input_track_id, &info));
    VerifyTrack t = listed_track(info, span.input_track_id);
    t.next = span.first_sample;
    t.count = span.end_sample;
    t.span = &span;
    uint32_t index = span.first_sample;
    uint64_t time = 0;
    ErrorCode e = track_seek(in, t.input_id, 0, &index, &time, 0, 0);
    if (e != ErrorCode::Ok && e != ErrorCode::NoMore) return e;
    VT_TRY(tracks->append(t));
  }
  return ErrorCode::Ok;
}

// The input's tracks that the selection keeps and the remux carries.
ErrorCode list_carried(const VerifyInputs& inputs, SelectionCheck* check, GrowArray<VerifyTrack>* tracks) {
  MediaFile* in = inputs.first->file;
  MovieInfo movie;
  VT_TRY(movie_info(in, &movie));
  for (uint32_t i = 0; i < movie.track_count; ++i) {
    uint32_t id = movie_track_id(in, i);
    if (!selection_check_track(check, id, track_handler_kind(in, id))) continue;
    uint32_t reason = 0;
    if (remux_track_verdict(in, id, &reason) != ErrorCode::Ok || reason != 0) continue;
    TrackInfo info;
    VT_TRY(track_info(in, id, &info));
    VerifyTrack t = listed_track(info, id);
    t.count = info.sample_count;
    VT_TRY(tracks->append(t));
  }
  return ErrorCode::Ok;
}

// The first edit that shows media: its media time and duration; false without one.
bool shown_edit(const GrowArray<TrackEdit>& edits, int64_t* media_time, uint64_t* duration) {
  for (const TrackEdit& e : edits)
    if (e.media_time >= 0) {
      *media_time = e.media_time;
      *duration = e.duration;
      return true;
    }
  return false;
}

// Whether the output track's edit shows the span: from its media time for
// as long as [media_time, media_end) lasts, give or take a unit of rounding.
ErrorCode edit_shows_span(MediaFile* out, uint32_t track_id, const VerifySpan& span, bool* shows) {
  *shows = false;
  GrowArray<TrackEdit> edits{};
  ErrorCode e = edits_of(out, track_id, &edits);
  int64_t media_time = 0;
  uint64_t duration = 0;
  const bool shown = e == ErrorCode::Ok && shown_edit(edits, &media_time, &duration);
  edits.release();
  VT_TRY(e);
  if (!shown) {
    *shows = span.media_time == 0 && span.media_end == 0;
    return ErrorCode::Ok;
  }
  TrackInfo info;
  MovieInfo movie;
  if (media_time != span.media_time || track_info(out, track_id, &info) != ErrorCode::Ok ||
      movie_info(out, &movie) != ErrorCode::Ok || span.media_end <= span.media_time)
    return ErrorCode::Ok;
  const uint64_t expected =
      rescale(static_cast<uint64_t>(span.media_end - span.media_time), info.timescale, movie.timescale);
  *shows = duration + 1 >= expected && duration <= expected + 1;
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode verify_list_tracks(const VerifyInputs& inputs, SelectionCheck* check, GrowArray<VerifyTrack>* tracks) {
  if (inputs.join != nullptr) return list_joined(inputs, tracks);
  if (inputs.range != nullptr) return list_spans(inputs, tracks);
  return list_carried(inputs, check, tracks);
}

ErrorCode verify_match_tracks(const VerifyInputs& inputs, const GrowArray<VerifyTrack>& tracks, VerifyReader& out, uint32_t part,
                              GrowArray<VerifyLane>* lanes, VerifyReport* report) {
  VerifyReader& in = *inputs.first;
  MovieInfo out_movie;
  VT_TRY(movie_info(out.file, &out_movie));
  if (out_movie.track_count != tracks.count) return verify_differs(report, part, 0, 0, "track count");
  if (carried_metadata_hash(out.file, 0) != inputs.movie_metadata) return verify_differs(report, part, 0, 0, "metadata");
  uint32_t largest_out = 0;
  for (uint32_t k = 0; k < tracks.count; ++k) {
    const VerifyTrack& t = tracks[k];
    uint32_t out_id = movie_track_id(out.file, k);
    if (carried_metadata_hash(out.file, out_id) != carried_metadata_hash(in.file, t.input_id))
      return verify_differs(report, part, t.input_id, 0, "track metadata");
    TrackInfo in_info, out_info;
    VT_TRY(track_info(in.file, t.input_id, &in_info));
    VT_TRY(track_info(out.file, out_id, &out_info));
    if (!(in_info.fourcc == out_info.fourcc)) return verify_differs(report, part, t.input_id, 0, "format");
    const VerifySpan* edited = t.span != nullptr ? t.span : t.joined_span;
    if (edited != nullptr && edited->edited) {
      bool shows = false;
      VT_TRY(edit_shows_span(out.file, out_id, *edited, &shows));
      if (!shows) return verify_differs(report, part, t.input_id, 0, "edit");
    }
    if (inputs.join == nullptr) VT_TRY(in.reserve(in_info.max_sample_size));
    if (out_info.max_sample_size > largest_out) largest_out = out_info.max_sample_size;
    VT_TRY(lanes->append(VerifyLane{out_id, 0, out_info.sample_count, true, false, SampleRead{}, 0}));
  }
  return out.reserve(largest_out);
}

}  // namespace vantorel
