#include "boxes/prof.h"

namespace vantorel {

namespace {

constexpr uint64_t kFprfPayload = 12;
constexpr uint64_t kVprfPayload = 44;
constexpr uint64_t kAprfPayload = 36;

ProfRecord* prof_of(void* context) { return movie_record<ProfRecord>(static_cast<FileBoxes*>(context), BoxTypeId::Prof); }

ErrorCode read_audio(BoxFile* file, AudioProfile* a) {
  a->version = read_u8(file);
  a->flags = read_u24be(file);
  a->track_id = read_u32be(file);
  a->codec = read_fourcc(file);
  a->codec_word = read_u32be(file);
  a->profile_flags = read_u32be(file);
  a->average_bitrate = read_u32be(file);
  a->maximum_bitrate = read_u32be(file);
  a->sample_rate = read_u32be(file);
  a->channel_count = read_u32be(file);
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

ErrorCode read_video(BoxFile* file, VideoProfile* v) {
  v->version = read_u8(file);
  v->flags = read_u24be(file);
  v->track_id = read_u32be(file);
  v->codec = read_fourcc(file);
  v->codec_word = read_u32be(file);
  v->profile_flags = read_u32be(file);
  v->average_bitrate = read_u32be(file);
  v->maximum_bitrate = read_u32be(file);
  v->average_frame_rate = read_u32be(file);
  v->maximum_frame_rate = read_u32be(file);
  v->picture_size = read_u32be(file);
  v->pixel_aspect = read_u32be(file);
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

ErrorCode fprf_write(BoxFile* file, void* context) {
  const auto* f = static_cast<const FileProfile*>(context);
  VT_TRY(write_u8(file, f->version));
  VT_TRY(write_u24be(file, f->flags));
  VT_TRY(write_u32be(file, f->value1));
  return write_u32be(file, f->value2);
}

ErrorCode vprf_write(BoxFile* file, void* context) {
  const auto* v = static_cast<const VideoProfile*>(context);
  VT_TRY(write_u8(file, v->version));
  VT_TRY(write_u24be(file, v->flags));
  VT_TRY(write_u32be(file, v->track_id));
  VT_TRY(write_fourcc(file, v->codec));
  const uint32_t values[8] = {v->codec_word,         v->profile_flags,      v->average_bitrate, v->maximum_bitrate,
                              v->average_frame_rate, v->maximum_frame_rate, v->picture_size,    v->pixel_aspect};
  for (uint32_t x : values) VT_TRY(write_u32be(file, x));
  return ErrorCode::Ok;
}

ErrorCode aprf_write(BoxFile* file, void* context) {
  const auto* a = static_cast<const AudioProfile*>(context);
  VT_TRY(write_u8(file, a->version));
  VT_TRY(write_u24be(file, a->flags));
  VT_TRY(write_u32be(file, a->track_id));
  VT_TRY(write_fourcc(file, a->codec));
  const uint32_t values[6] = {a->codec_word,      a->profile_flags, a->average_bitrate,
                              a->maximum_bitrate, a->sample_rate,   a->channel_count};
  for (uint32_t x : values) VT_TRY(write_u32be(file, x));
  return ErrorCode::Ok;
}

}  // namespace

AudioProfile* add_audio_profile(ProfRecord* prof) {
  if (prof == nullptr) return nullptr;
  AudioProfile* a = nullptr;
  return prof->audio_profiles.append_zeroed(&a) == ErrorCode::Ok ? a : nullptr;
}

VideoProfile* add_video_profile(ProfRecord* prof) {
  if (prof == nullptr) return nullptr;
  VideoProfile* v = nullptr;
  return prof->video_profiles.append_zeroed(&v) == ErrorCode::Ok ? v : nullptr;
}

void prof_release(BoxFile*, void* context) {
  ProfRecord* p = prof_of(context);
  if (p == nullptr) return;
  p->audio_profiles.release();
  p->video_profiles.release();
}

ErrorCode prof_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  ProfRecord* p = prof_of(context);
  if (p == nullptr) return ErrorCode::Missing;
  file->flags |= kFlagPsp;
  p->version = read_u8(file);
  p->flags = read_u24be(file);
  p->entry_count = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (p->entry_count == 0) return malformed(file, "profile box without profiles");
  // Every profile is a box of at least a header: a count larger than that
  // cannot be true.
  if (!box_holds(file, header, p->entry_count, 8)) return malformed(file, "more profiles than the box holds");
  for (uint32_t i = 0; i < p->entry_count; ++i) {
    BoxHeader h;
    VT_TRY(read_box_header(file, &h));
    if (io_failed(file)) return ErrorCode::Io;
    if (h.end > header->end) return malformed(file, "profile runs past its box");
    uint64_t payload = box_bytes_left(file, &h);
    if (i == 0) {
      if (!(h.type == "FPRF")) return malformed(file, "profile box does not start with 'FPRF'");
      if (payload < kFprfPayload) return malformed(file, "'FPRF' shorter than its fields");
      FileProfile& f = p->file_profile;
      f.version = read_u8(file);
      f.flags = read_u24be(file);
      f.value1 = read_u32be(file);
      f.value2 = read_u32be(file);
    } else if (h.type == "VPRF") {
      if (payload < kVprfPayload) return malformed(file, "'VPRF' shorter than its fields");
      VideoProfile* v = nullptr;
      VT_TRY(p->video_profiles.append_zeroed(&v));
      VT_TRY(read_video(file, v));
    } else if (h.type == "APRF") {
      if (payload < kAprfPayload) return malformed(file, "'APRF' shorter than its fields");
      AudioProfile* a = nullptr;
      VT_TRY(p->audio_profiles.append_zeroed(&a));
      VT_TRY(read_audio(file, a));
    }
    VT_TRY(file_seek(file, h.end));
  }
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

ErrorCode prof_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  ProfRecord* p = prof_of(context);
  if (p == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u8(file, p->version));
  VT_TRY(write_u24be(file, p->flags));
  VT_TRY(write_u32be(file, p->audio_profiles.count + p->video_profiles.count + 1));
  VT_TRY(write_box(file, FourCC::of("FPRF"), nullptr, kFprfPayload, fprf_write, &p->file_profile));
  for (VideoProfile& v : p->video_profiles) VT_TRY(write_box(file, FourCC::of("VPRF"), nullptr, kVprfPayload, vprf_write, &v));
  for (AudioProfile& a : p->audio_profiles) VT_TRY(write_box(file, FourCC::of("APRF"), nullptr, kAprfPayload, aprf_write, &a));
  return ErrorCode::Ok;
}

uint64_t prof_size(BoxFile*, void* context) {
  ProfRecord* p = prof_of(context);
  if (p == nullptr) return 0;
  return 28 + uint64_t{p->audio_profiles.count} * (kAprfPayload + 8) +
         uint64_t{p->video_profiles.count} * (kVprfPayload + 8);
}

}  // namespace vantorel
