// Opening and closing the output files of a pass.
#include <cstdlib>
#include <cstring>

#include "boxes/tref.h"
#include "meta/chapters.h"
#include "remux/remux_job.h"
#include "sampletables/ftyp.h"

namespace vantorel {

namespace {

// The writer-name string repeated in the payload of every 'free' box.
constexpr const char* kWriterName = "https://vantorel.invalid/ ";

bool is_carried(const RemuxJob* job, uint32_t track_id) {
  for (const TrackSurvey& row : job->survey)
    if (row.input_track_id == track_id) return true;
  return false;
}

// The input track's references to carried tracks, into `ids`.
ErrorCode carried_references(RemuxJob* job, uint32_t track_id, uint32_t* type, GrowArray<uint32_t>* ids) {
  *type = kReferenceNone;
  TrackBoxes* track = find_track(job->input->root, track_id);
  auto* tref = track_record<TrefRecord>(track, BoxTypeId::Tref);
  if (tref == nullptr || tref->reference_type == kReferenceNone) return ErrorCode::Ok;
  for (uint32_t id : tref->track_ids)
    if (is_carried(job, id)) VT_TRY(ids->append(id));
  // A reference left without tracks is not written.
  if (ids->count > 0) *type = tref->reference_type;
  return ErrorCode::Ok;
}

ErrorCode add_tracks(RemuxJob* job, uint32_t continuation) {
  for (TrackSurvey& row : job->survey) {
    TrackInfo info;
    VT_TRY(track_info(job->input, row.input_track_id, &info));
    TrackSpec spec;
    uint32_t reason = 0;
    VT_TRY(build_track_spec(job, &row, &info, &spec, &reason));
    if (reason != 0) return ErrorCode::Missing;
    GrowArray<uint32_t> ids{};
    ErrorCode e = carried_references(job, row.input_track_id, &spec.reference_type, &ids);
    if (e == ErrorCode::Ok) {
      spec.reference_count = ids.count;
      spec.reference_ids = ids.data();
      row.output_track_id = media_add_track(job->output, &spec);
      if (row.output_track_id == 0) e = ErrorCode::Missing;
    }
    ids.release();
    VT_TRY(e);
    row.continuation = continuation;
  }
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode open_output(RemuxJob* job, uint32_t index, uint32_t continuation) {
  OpenParams params{};
  params.routines = stream_routines();
  params.user = &job->stream;
  char* name = nullptr;
  if (pass_flag(job) == 1) {
    uint32_t length = 0;
    if (job->namer == nullptr || job->namer(nullptr, &length, job->stream.user) == 0 || length == 0)
      return ErrorCode::NoName;
    name = static_cast<char*>(std::calloc(1, length));
    if (name == nullptr) return ErrorCode::OutOfMemory;
    if (job->namer(name, nullptr, job->stream.user) == 0) {
      std::free(name);
      return ErrorCode::NoName;
    }
    params.path = name;
    // A writing pass that opens more files than were measured reserves nothing.
    if (index < job->measures.count) {
      if (job->measure_headers != 0) params.reserved_header_space = job->measures[index].header_reserve;
      params.planned_mdat_size = job->measures[index].total_sample_bytes;
    }
  }
  ErrorCode e = ErrorCode::Ok;
  MovieInfo movie;
  e = movie_info(job->input, &movie);
  auto* ftyp = movie_record<FileTypeRecord>(job->input->root, BoxTypeId::Ftyp);
  if (e == ErrorCode::Ok && ftyp == nullptr) e = ErrorCode::Missing;
  if (e == ErrorCode::Ok) {
    params.major_brand = ftyp->major_brand;
    params.minor_version = ftyp->minor_version;
    params.compatible_brand_count = ftyp->brand_count;
    params.compatible_brands = ftyp->compatible_brands;
    params.movie_timescale = job->movie_timescale;
    // The library must not adjust subpicture durations: the engine writes
    // them as they were.
    params.flags = movie.flags | kFlagNoSubpictureAdjust;
    params.writer_name = kWriterName;
    e = media_open(&job->output, &params, kOpenCreate);
  }
  std::free(name);
  if (e == ErrorCode::Ok) e = add_tracks(job, continuation);
  if (e != ErrorCode::Ok && job->output != nullptr) {
    media_close(job->output);
    job->output = nullptr;
  }
  return e;
}

ErrorCode close_output(RemuxJob* job, uint32_t index) {
  // The chapters that start within this file's stretch of the movie.
  uint64_t start = rescale(job->file_start_time, job->movie_timescale, 10000000);
  uint64_t end = rescale(job->last_cut_time, job->movie_timescale, 10000000);
  MetadataCounts counts;
  ErrorCode e = metadata_counts(job->input, &counts);
  for (uint32_t i = 0; e == ErrorCode::Ok && i < counts.chapter_count; ++i) {
    ChapterInfo chapter;
    e = get_chapter(job->input, i, &chapter);
    if (e == ErrorCode::Ok && chapter.start_time >= start && chapter.start_time < end)
      e = add_chapter(job->output, chapter.start_time - start, chapter.title);
  }
  if (e == ErrorCode::Ok && pass_flag(job) == 0) {
    OutputMeasure* measure = nullptr;
    if (index >= job->measures.count) {
      while (e == ErrorCode::Ok && job->measures.count <= index) e = job->measures.append_zeroed(&measure);
    }
    if (e == ErrorCode::Ok) e = close_chunk(job->output);
    SizeEstimate estimate;
    if (e == ErrorCode::Ok) e = size_estimate(job->output, &estimate, kEstimateHeader | kEstimateSamples);
    if (e == ErrorCode::Ok) {
      measure = &job->measures[index];
      measure->total_sample_bytes = estimate.total_sample_bytes;
      measure->header_reserve = estimate.header_size - estimate.ftyp_size;
    }
  }
  job->file_start_end_time = job->last_cut_end_time;
  job->file_start_time = job->last_cut_time;
  job->file_start_bytes = job->last_cut_bytes;
  // Closing finalises the file; its last writes may fail only now.
  ErrorCode closed = media_close(job->output);
  job->output = nullptr;
  return e != ErrorCode::Ok ? e : closed;
}

}  // namespace vantorel
