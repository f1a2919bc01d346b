// Opening and closing the output files of a pass.
#include <cstdlib>
#include <cstring>

#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "boxes/tref.h"
#include "meta/chapters.h"
#include "remux/remux_job.h"
#include "boxes/ftyp.h"
#include "sampletables/formats.h"
#include "sampletables/sample_groups.h"

namespace vantorel {

namespace {

// The writer-name string repeated in the payload of every 'free' box.
constexpr const char* kWriterName = "https://vantorel.invalid/ ";

bool has_brand(const GrowArray<FourCC>& brands, FourCC brand) {
  for (const FourCC& b : brands)
    if (b == brand) return true;
  return false;
}

// The output's brands: the input's, except that an MP4 never keeps
// QuickTime's 'qt  ' (nor does a movie without 'ftyp' get it): those get the
// MP4 defaults. Each carried format adds the brand its binding asks for.
ErrorCode output_brands(RemuxJob* job, OpenParams* params, GrowArray<FourCC>* brands) {
  static const FourCC kDefaultBrands[] = {FourCC::of("isom"), FourCC::of("iso2"), FourCC::of("mp41")};
  if (job->output_form == kOutputQuickTime) {
    params->major_brand = FourCC::of("qt  ");
    params->minor_version = 0x200;
    VT_TRY(brands->append(FourCC::of("qt  ")));
    params->compatible_brand_count = brands->count;
    params->compatible_brands = brands->items;
    return ErrorCode::Ok;
  }
  auto* ftyp = movie_record<FileTypeRecord>(job->input->root, BoxTypeId::Ftyp);
  if (ftyp == nullptr || ftyp->major_brand == "qt  ") {
    params->major_brand = FourCC::of("isom");
    params->minor_version = 0x200;
    for (const FourCC& b : kDefaultBrands) VT_TRY(brands->append(b));
  } else {
    params->major_brand = ftyp->major_brand;
    params->minor_version = ftyp->minor_version;
    // An 'ftyp' without compatible brands lists its major brand.
    if (ftyp->brand_count == 0) VT_TRY(brands->append(ftyp->major_brand));
    for (uint32_t i = 0; i < ftyp->brand_count; ++i)
      if (!(ftyp->compatible_brands[i] == "qt  ")) VT_TRY(brands->append(ftyp->compatible_brands[i]));
  }
  for (const TrackSurvey& row : job->survey) {
    TrackInfo info;
    if (track_info(job->input, row.input_track_id, &info) != ErrorCode::Ok) continue;
    FourCC brand = format_brand(info.fourcc);
    if (!brand.is_zero() && !has_brand(*brands, brand)) VT_TRY(brands->append(brand));
  }
  // An audio file named .m4a says so in its major brand.
  bool sound_only = job->survey.count > 0;
  for (const TrackSurvey& row : job->survey) sound_only = sound_only && row.audio;
  if (job->output_form == kOutputAudioMp4 && sound_only) {
    params->major_brand = FourCC::of("M4A ");
    params->minor_version = 0x200;
    if (!has_brand(*brands, params->major_brand)) VT_TRY(brands->append(params->major_brand));
  }
  params->compatible_brand_count = brands->count;
  params->compatible_brands = brands->items;
  return ErrorCode::Ok;
}

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

// How the input presents a track survives the remux: orientation, alternate
// group, enabled flags, layer, volume, display size and creation time. The
// modification times stay "now".
void copy_track_presentation(RemuxJob* job, const TrackSurvey& row) {
  TrackBoxes* in = find_track(job->input->root, row.input_track_id);
  TrackBoxes* out = find_track(job->output->root, row.output_track_id);
  auto* from = track_record<TkhdRecord>(in, BoxTypeId::Tkhd);
  auto* to = track_record<TkhdRecord>(out, BoxTypeId::Tkhd);
  if (from != nullptr && to != nullptr) {
    std::memcpy(to->matrix, from->matrix, sizeof to->matrix);
    to->alternate_group = from->alternate_group;
    to->flags = (to->flags & ~uint32_t{kTrackEnabled | kTrackInMovie | kTrackInPreview}) |
                (from->flags & (kTrackEnabled | kTrackInMovie | kTrackInPreview));
    to->layer = from->layer;
    to->volume = from->volume;
    if (from->width != 0 && from->height != 0) {
      to->width = from->width;
      to->height = from->height;
    }
    to->creation_time = from->creation_time;
    if (!fits_u32(to->creation_time)) to->version = 1;
  }
  auto* media_from = track_record<MdhdRecord>(in, BoxTypeId::Mdhd);
  auto* media_to = track_record<MdhdRecord>(out, BoxTypeId::Mdhd);
  if (media_from != nullptr && media_to != nullptr) {
    media_to->creation_time = media_from->creation_time;
    if (!fits_u32(media_to->creation_time)) media_to->version = 1;
  }
}

void copy_movie_presentation(RemuxJob* job) {
  auto* from = movie_record<MvhdRecord>(job->input->root, BoxTypeId::Mvhd);
  auto* to = movie_record<MvhdRecord>(job->output->root, BoxTypeId::Mvhd);
  if (from == nullptr || to == nullptr) return;
  std::memcpy(to->matrix, from->matrix, sizeof to->matrix);
  to->creation_time = from->creation_time;
  if (!fits_u32(to->creation_time)) to->version = 1;
}

ErrorCode add_tracks(RemuxJob* job, uint32_t continuation) {
  for (TrackSurvey& row : job->survey) {
    TrackInfo info;
    VT_TRY(track_info(job->input, row.input_track_id, &info));
    TrackSpec track_spec;
    uint32_t reason = 0;
    VT_TRY(build_track_spec(job, &row, &info, &track_spec, &reason));
    if (reason != 0) return ErrorCode::Missing;
    track_spec.media_time = continuation ? row.continuation_media_time : row.media_time;
    // A later part's media time starts again: the input's end is its own.
    track_spec.media_end = continuation ? 0 : row.media_end;
    GrowArray<uint32_t> ids{};
    ErrorCode e = carried_references(job, row.input_track_id, &track_spec.reference_type, &ids);
    if (e == ErrorCode::Ok) {
      track_spec.reference_count = ids.count;
      track_spec.reference_ids = ids.data();
      row.output_track_id = media_add_track(job->output, &track_spec);
      if (row.output_track_id == 0) e = ErrorCode::Missing;
    }
    ids.release();
    VT_TRY(e);
    // Sample groups and dependencies follow the samples; PCM counted in
    // frames has no samples of its own to follow.
    TrackBoxes* input_track = find_track(job->input->root, row.input_track_id);
    row.follows_groups = track_spec.kind != kKindPcm && sample_groups(input_track) != nullptr ? 1 : 0;
    if (row.follows_groups)
      VT_TRY(sample_groups_start(find_track(job->output->root, row.output_track_id), input_track));
    copy_track_presentation(job, row);
    VT_TRY(copy_track_metadata(job->input, row.input_track_id, job->output, row.output_track_id));
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
    char* kept = strdup(name);  // for checking the outputs at the end
    if (kept == nullptr || job->written_names.append(kept) != ErrorCode::Ok) {
      std::free(kept);
      std::free(name);
      return ErrorCode::OutOfMemory;
    }
    // A writing pass that opens more files than were measured reserves nothing.
    if (index < job->measures.count) {
      const OutputMeasure& measure = job->measures[index];
      if (job->measure_headers != 0) params.reserved_header_space = measure.header_reserve;
      params.planned_mdat_size = measure.total_sample_bytes;
      // The header measured goes first, and the file is written front to back.
      if (job->measure_headers != 0 && measure.header.data != nullptr) {
        params.header_first = 1;
        params.stored_header = measure.header.data;
        params.stored_header_size = measure.header.size;
        params.planned_mdat_size = measure.header.media_data_size;
      }
    }
  } else if (job->measure_headers != 0) {
    std::free(job->captured_header.data);
    job->captured_header = HeaderBlock{};
    params.header_first = 1;
    params.header_out = &job->captured_header;
  }
  ErrorCode e = ErrorCode::Ok;
  MovieInfo movie;
  e = movie_info(job->input, &movie);
  GrowArray<FourCC> brands{};
  if (e == ErrorCode::Ok) e = output_brands(job, &params, &brands);
  if (e == ErrorCode::Ok) {
    params.movie_timescale = job->movie_timescale;
    // The library must not adjust subpicture durations: the engine writes
    // them as they were.
    params.flags = movie.flags | kFlagNoSubpictureAdjust;
    if (job->output_form == kOutputQuickTime) params.flags |= kFlagQuickTimeForms;
    params.writer_name = kWriterName;
    e = media_open(&job->output, &params, kOpenCreate);
  }
  std::free(name);
  brands.release();
  if (e == ErrorCode::Ok) copy_movie_presentation(job);
  // Every part carries the movie's metadata whole.
  if (e == ErrorCode::Ok) e = copy_movie_metadata(job->input, job->output);
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
  // Text and time code samples can last past the file's stretch of the
  // movie (a chapter that goes on in the next part); they end with it.
  uint64_t stretch_end = job->last_cut_time != none64() ? job->last_cut_time : job->queued_end_time;
  for (const TrackSurvey& row : job->survey) {
    if (e != ErrorCode::Ok || row.output_track_id == 0 || row.video || row.audio || row.subpicture) continue;
    if (stretch_end > job->file_start_time) e = trim_track_end(job->output, row.output_track_id, stretch_end - job->file_start_time);
  }
  uint32_t ftyp_size = 0;
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
      ftyp_size = estimate.ftyp_size;
      measure->header_reserve = estimate.header_size - estimate.ftyp_size;
      uint64_t mdat_header = estimate.total_sample_bytes > 0xFFFFFFF7ull ? 16 : 8;
      measure->file_size = estimate.header_size + mdat_header + estimate.total_sample_bytes;
      // Rounded up: a part a fraction of a millisecond too long is too long.
      unsigned __int128 units = part_duration(job, index, false);
      uint32_t scale = job->movie_timescale != 0 ? job->movie_timescale : 1;
      measure->duration_ms = static_cast<uint64_t>((units * 1000 + scale - 1) / scale);
    }
  }
  if (e == ErrorCode::Ok && pass_flag(job) == 1) report_part_over_limit(job, index);
  // The next file holds none of the samples flushed so far.
  for (TrackSurvey& row : job->survey) row.flushed_presentation_end = 0;
  job->file_start_end_time = job->last_cut_end_time;
  job->file_start_time = job->last_cut_time;
  job->file_start_bytes = job->last_cut_bytes;
  // Closing finalises the file; its last writes may fail only now.
  ErrorCode closed = media_close(job->output);
  job->output = nullptr;
  if (e == ErrorCode::Ok && closed == ErrorCode::Ok && pass_flag(job) == 0 && job->captured_header.data != nullptr) {
    OutputMeasure& measure = job->measures[index];
    std::free(measure.header.data);
    measure.header = job->captured_header;
    job->captured_header = HeaderBlock{};
    measure.header_reserve = measure.header.size;
    // The samples start 16 bytes into the 'mdat' in both of its header forms.
    measure.file_size = ftyp_size + measure.header.size + measure.header.media_data_size +
                        (measure.header.media_data_size > 0 ? 16 : 0);
  }
  return e != ErrorCode::Ok ? e : closed;
}

}  // namespace vantorel
