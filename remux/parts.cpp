#include "remux/parts.h"

#include <cstdlib>
#include <cstring>

#include "io/value64.h"
#include "mediafile/mediafile.h"
#include "remux/scheduler.h"

namespace vantorel {

namespace {

// The writer-name string repeated in the payload of every 'free' box.
constexpr const char* kWriterName = "https://vantorel.invalid/ ";

// Asks the namer for the next name, kept for checking the outputs at the end.
ErrorCode next_name(OutputParts* parts, char** name) {
  void* user = parts->stream->user;
  uint32_t length = 0;
  if (parts->namer == nullptr || parts->namer(nullptr, &length, user) == 0 || length == 0) return ErrorCode::NoName;
  *name = static_cast<char*>(std::calloc(1, length));
  if (*name == nullptr) return ErrorCode::OutOfMemory;
  if (parts->namer(*name, nullptr, user) == 0) return ErrorCode::NoName;
  char* kept = strdup(*name);
  if (kept == nullptr || parts->written_names.append(kept) != ErrorCode::Ok) {
    std::free(kept);
    return ErrorCode::OutOfMemory;
  }
  return ErrorCode::Ok;
}

// Tells the caller, in the writing pass, when part `index` (closed now)
// went past the split limit: the input had no cut point to keep it.
void report_part_over_limit(OutputParts* parts, uint32_t index) {
  const SplitOptions& split = parts->options->split;
  uint64_t limit;
  if (parts->events->part_over_limit == nullptr || index >= parts->measures.count) return;
  if (!split_limit(split, index, &limit)) return;
  const OutputMeasure& m = parts->measures[index];
  void* user = parts->stream->user;
  if (split.mode == kSplitBySize && m.file_size > limit)
    parts->events->part_over_limit(index, kSplitBySize, m.file_size, limit, user);
  if (split.mode == kSplitByDuration && m.duration_ms > limit)
    parts->events->part_over_limit(index, kSplitByDuration, m.duration_ms, limit, user);
}

}  // namespace

ErrorCode parts_open(OutputParts* parts, uint32_t index, bool continuation, std::span<const PlannedTrack> tracks) {
  OpenParams params{};
  params.routines = stream_routines();
  params.user = parts->stream;
  const bool measure_headers = parts->options->measure_headers;
  char* name = nullptr;
  ErrorCode e = ErrorCode::Ok;
  if (parts->stream->pass == Pass::Write) {
    e = next_name(parts, &name);
    if (e != ErrorCode::Ok) {
      std::free(name);
      return e;
    }
    params.path = name;
    // A writing pass that opens more files than were measured reserves nothing.
    if (index < parts->measures.count) {
      const OutputMeasure& measure = parts->measures[index];
      if (measure_headers) params.reserved_header_space = measure.header_reserve;
      params.planned_mdat_size = measure.total_sample_bytes;
      params.planned_file_size = measure.file_size;
      // The header measured goes first, and the file is written front to back.
      if (measure_headers && measure.header.data != nullptr) {
        params.header_first = 1;
        params.stored_header = measure.header.data;
        params.stored_header_size = measure.header.size;
        params.planned_mdat_size = measure.header.media_data_size;
      }
    }
  } else if (measure_headers) {
    std::free(parts->captured_header.data);
    parts->captured_header = HeaderBlock{};
    params.header_first = 1;
    params.header_out = &parts->captured_header;
  }
  MovieInfo movie;
  e = movie_info(parts->input, &movie);
  GrowArray<FourCC> brands{};
  if (e == ErrorCode::Ok) e = part_brands(*parts, tracks, &params, &brands);
  if (e == ErrorCode::Ok) {
    params.movie_timescale = parts->movie_timescale;
    // The library must not adjust subpicture durations: the engine writes
    // them as they were.
    params.flags = movie.flags | kFlagNoSubpictureAdjust;
    if (parts->options->output_form == kOutputQuickTime) params.flags |= kFlagQuickTimeForms;
    params.writer_name = kWriterName;
    e = media_open(&parts->output, &params, kOpenCreate);
  }
  std::free(name);
  brands.release();
  if (e == ErrorCode::Ok) e = part_carry(parts, continuation, tracks);
  // A joined track's sample groups: every later input's join the first's.
  for (uint32_t i = 0; e == ErrorCode::Ok && parts->sources != nullptr && parts->output != nullptr && i < tracks.size();
       ++i) {
    const PlannedTrack& row = tracks[i];
    for (uint32_t s = 1; row.follows_groups && s < row.source_count && e == ErrorCode::Ok; ++s) {
      const SampleSource& source = parts->sources[row.first_source + s];
      e = join_sample_groups(source.input, source.track_id, parts->output, parts->output_track_ids[i]);
    }
  }
  if (e != ErrorCode::Ok && parts->output != nullptr) {
    media_close(parts->output);
    parts->output = nullptr;
  }
  return e;
}

namespace {

// Calls `visit(at, title)` for the chapters of joined inputs in order (100 ns
// units of the movie): each input's shifted by where it starts, after the
// input's own chapter when it has a title (which then stands for a chapter
// of the input's at its very start).
template <class Visit>
ErrorCode each_joined_chapter(OutputParts* parts, Visit visit) {
  auto add = [&](uint64_t at, const char* title) { return visit(at, title); };
  for (uint32_t k = 0; k < parts->chapter_input_count; ++k) {
    const ChapterInput& joined = parts->chapter_inputs[k];
    if (joined.title != nullptr) VT_TRY(add(joined.start, joined.title));
    const uint32_t chapters = movie_chapter_count(joined.input);
    for (uint32_t i = 0; i < chapters; ++i) {
      ChapterMark chapter;
      VT_TRY(movie_chapter(joined.input, i, &chapter));
      if (joined.title != nullptr && chapter.start_time == 0) continue;
      if (chapter.start_time > UINT64_MAX - joined.start) continue;
      VT_TRY(add(joined.start + chapter.start_time, chapter.title));
    }
  }
  return ErrorCode::Ok;
}

// The chapters of joined inputs that start within [start, end); with
// `opening` (a range cut), also the one the range starts in, at 0.
ErrorCode add_joined_chapters(OutputParts* parts, uint64_t start, uint64_t end, bool opening) {
  uint64_t opening_at = UINT64_MAX;
  if (opening) {
    VT_TRY(each_joined_chapter(parts, [&](uint64_t at, const char*) {
      if (at <= start && (opening_at == UINT64_MAX || at >= opening_at)) opening_at = at;
      return ErrorCode::Ok;
    }));
  }
  bool opened = false;
  return each_joined_chapter(parts, [&](uint64_t at, const char* title) {
    if (opening_at != UINT64_MAX && at == opening_at && !opened) {
      opened = true;
      return add_movie_chapter(parts->output, 0, title);
    }
    if (opening ? at > start && at < end : at >= start && at < end)
      return add_movie_chapter(parts->output, at - start, title);
    return ErrorCode::Ok;
  });
}

}  // namespace

ErrorCode parts_close(OutputParts* parts, uint32_t index, const PartSpan& span, std::span<const PlannedTrack> tracks) {
  MediaFile* output = parts->output;
  const bool measuring = parts->stream->pass == Pass::Measure;
  // The chapters that start within this part's stretch of the movie.
  uint64_t start = rescale(span.start_time, parts->movie_timescale, 10000000);
  uint64_t end = rescale(span.cut_time, parts->movie_timescale, 10000000);
  uint32_t chapter_count = movie_chapter_count(parts->input);
  ErrorCode e = ErrorCode::Ok;
  if (parts->range_cut) {
    start = parts->range_start / 100;
    end = parts->range_end / 100;
  }
  if (parts->range_cut && parts->chapter_input_count == 0) {
    // The range's own: the chapter it starts in (from 0), those that start within it.
    uint32_t opening = chapter_count;
    for (uint32_t i = 0; e == ErrorCode::Ok && i < chapter_count; ++i) {
      ChapterMark chapter;
      e = movie_chapter(parts->input, i, &chapter);
      if (e == ErrorCode::Ok && chapter.start_time <= start) opening = i;
    }
    for (uint32_t i = 0; e == ErrorCode::Ok && i < chapter_count; ++i) {
      ChapterMark chapter;
      e = movie_chapter(parts->input, i, &chapter);
      if (e != ErrorCode::Ok) break;
      if (i == opening)
        e = add_movie_chapter(output, 0, chapter.title);
      else if (chapter.start_time > start && chapter.start_time < end)
        e = add_movie_chapter(output, chapter.start_time - start, chapter.title);
    }
    chapter_count = 0;
  }
  if (parts->chapter_input_count > 0) {
    chapter_count = 0;
    if (e == ErrorCode::Ok) e = add_joined_chapters(parts, start, end, parts->range_cut);
  }
  for (uint32_t i = 0; e == ErrorCode::Ok && i < chapter_count; ++i) {
    ChapterMark chapter;
    e = movie_chapter(parts->input, i, &chapter);
    if (e == ErrorCode::Ok && chapter.start_time >= start && chapter.start_time < end)
      e = add_movie_chapter(output, chapter.start_time - start, chapter.title);
  }
  // Joined sound with an edit per input: each input from its priming on.
  // Only a whole movie has them; a part of a split keeps the first edit.
  for (uint32_t i = 0; e == ErrorCode::Ok && i < tracks.size(); ++i) {
    const PlannedTrack& row = tracks[i];
    if (row.edit_count == 0 || parts->joined_edits == nullptr || index != 0 ||
        parts->options->split.mode != kSplitNone)
      continue;
    GrowArray<TrackEdit> edits{};
    for (uint32_t k = 0; e == ErrorCode::Ok && k < row.edit_count; ++k) {
      const JoinEdit& edit = parts->joined_edits[row.first_edit + k];
      e = edits.append(TrackEdit{edit.media_time, edit.duration, 1, 0});
    }
    if (e == ErrorCode::Ok) e = set_track_edits(output, parts->output_track_ids[i], edits.data(), edits.count);
    edits.release();
  }
  // Text and time code samples can last past the part's stretch of the
  // movie (a chapter that goes on in the next part); they end with it.
  uint64_t stretch_end = span.cut_time != none64() ? span.cut_time : span.queued_end_time;
  for (uint32_t i = 0; i < tracks.size(); ++i) {
    const PlannedTrack& row = tracks[i];
    uint32_t output_track_id = parts->output_track_ids[i];
    if (e != ErrorCode::Ok || output_track_id == 0 || row.video || row.audio || row.subpicture) continue;
    if (stretch_end > span.start_time) e = trim_track_end(output, output_track_id, stretch_end - span.start_time);
  }
  // A cut AAC track starts with a frame decoded only to prime the decoder:
  // its 'roll' group says each frame needs the one before.
  for (uint32_t i = 0; parts->range_cut && e == ErrorCode::Ok && i < tracks.size(); ++i)
    if (tracks[i].audio && tracks[i].fourcc == "mp4a") e = add_roll_group(output, parts->output_track_ids[i], -1);
  uint32_t ftyp_size = 0;
  if (e == ErrorCode::Ok && measuring) {
    OutputMeasure* measure = nullptr;
    while (e == ErrorCode::Ok && parts->measures.count <= index) e = parts->measures.append_zeroed(&measure);
    if (e == ErrorCode::Ok) e = close_chunk(output);
    SizeEstimate estimate;
    if (e == ErrorCode::Ok) e = size_estimate(output, &estimate, kEstimateHeader | kEstimateSamples);
    if (e == ErrorCode::Ok) {
      measure = &parts->measures[index];
      measure->total_sample_bytes = estimate.total_sample_bytes;
      ftyp_size = estimate.ftyp_size;
      measure->header_reserve = estimate.header_size - estimate.ftyp_size;
      uint64_t mdat_header = estimate.total_sample_bytes > 0xFFFFFFF7ull ? 16 : 8;
      measure->file_size = estimate.header_size + mdat_header + estimate.total_sample_bytes;
      // Rounded up: a part a fraction of a millisecond too long is too long.
      unsigned __int128 units = span.duration;
      uint32_t scale = parts->movie_timescale != 0 ? parts->movie_timescale : 1;
      measure->duration_ms = static_cast<uint64_t>((units * 1000 + scale - 1) / scale);
    }
  }
  if (e == ErrorCode::Ok && !measuring) report_part_over_limit(parts, index);
  // Closing finalises the file; its last writes may fail only now.
  ErrorCode closed = media_close(output);
  parts->output = nullptr;
  for (uint32_t& id : parts->output_track_ids) id = 0;
  if (e == ErrorCode::Ok && closed == ErrorCode::Ok && measuring && parts->captured_header.data != nullptr) {
    OutputMeasure& measure = parts->measures[index];
    std::free(measure.header.data);
    measure.header = parts->captured_header;
    parts->captured_header = HeaderBlock{};
    measure.header_reserve = measure.header.size;
    // The samples start 16 bytes into the 'mdat' in both of its header forms.
    measure.file_size = ftyp_size + measure.header.size + measure.header.media_data_size +
                        (measure.header.media_data_size > 0 ? 16 : 0);
  }
  return e != ErrorCode::Ok ? e : closed;
}

ErrorCode parts_header_size(OutputParts* parts, uint64_t* size) {
  SizeEstimate estimate;
  VT_TRY(size_estimate(parts->output, &estimate, kEstimateHeader));
  *size = estimate.header_size;
  return ErrorCode::Ok;
}

void parts_release(OutputParts* parts) {
  // A part left open by a failure is still finalised and closed.
  if (parts->output != nullptr) media_close(parts->output);
  parts->output = nullptr;
  parts->output_track_ids.release();
  for (OutputMeasure& m : parts->measures) std::free(m.header.data);
  parts->measures.release();
  std::free(parts->captured_header.data);
  parts->captured_header = HeaderBlock{};
  for (char* name : parts->written_names) std::free(name);
  parts->written_names.release();
}

}  // namespace vantorel
