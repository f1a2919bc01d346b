// Sample-entry builders of the video kinds: MPEG-4 visual, AVC, H.263,
// VC-1 and Motion JPEG.
#include <cstring>

#include "boxes/prof.h"
#include "boxes/tkhd.h"
#include "codecs/es_descriptor.h"
#include "codecs/h264.h"
#include "codecs/mpeg4_visual.h"
#include "mediafile/track_builders.h"
#include "sampletables/stsd.h"

namespace vantorel {

namespace {

// The common part of every video builder: sizes, the entry and its format.
ErrorCode video_entry(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track, const char* format,
                      VisualSampleEntry** out) {
  *out = nullptr;
  auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd);
  VisualSampleEntry* entry = visual_entry(file, track, 0);
  if (tkhd == nullptr || entry == nullptr) return ErrorCode::Missing;
  tkhd->width = track_spec->width << 16;
  tkhd->height = track_spec->height << 16;
  entry->format = FourCC::of(format);
  entry->width = static_cast<uint16_t>(track_spec->width);
  entry->height = static_cast<uint16_t>(track_spec->height);
  *out = entry;
  return ErrorCode::Ok;
}

void set_compressor_name(VisualSampleEntry* entry, const char* name) {
  size_t n = std::strlen(name);
  if (n > sizeof entry->compressorname - 1) n = sizeof entry->compressorname - 1;
  std::memset(entry->compressorname, 0, sizeof entry->compressorname);
  entry->compressorname[0] = static_cast<uint8_t>(n);
  std::memcpy(entry->compressorname + 1, name, n);
}

VideoProfile* new_video_profile(MediaFile* file, TrackBoxes* track, const VisualSampleEntry* entry) {
  auto* prof = movie_record<ProfRecord>(file->root, BoxTypeId::Prof);
  if (prof == nullptr) return nullptr;
  VideoProfile* p = add_video_profile(prof);
  if (p == nullptr) return nullptr;
  p->track_id = track_id_of(track);
  p->codec = entry->format;
  p->picture_size = (uint32_t{entry->width} << 16) | entry->height;
  return p;
}

uint32_t pixel_aspect_word(uint32_t w, uint32_t h) { return ((w & 0xFFFF) << 16) | (h & 0xFFFF); }

}  // namespace

ErrorCode build_mpeg4_visual(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track) {
  const auto& c = track_spec->codec.mpeg4_visual;
  if (c.decoder_info == nullptr && c.decoder_info_size > 0) return ErrorCode::BadArgument;
  VisualSampleEntry* entry = nullptr;
  VT_TRY(video_entry(file, track_spec, track, "mp4v", &entry));
  uint8_t object_type = c.object_type != 0 ? c.object_type : kObjectTypeMpeg4Visual;
  // MPEG-2, MPEG-1 and JPEG streams carried as 'mp4v' have no such headers.
  bool visual = object_type == kObjectTypeMpeg4Visual;
  VisualHeaderInfo info{};
  if (visual) {
    VT_TRY(mpeg4_scan_headers(c.decoder_info, c.decoder_info_size, &info));
    apply_pixel_aspect(entry, info.aspect_width, info.aspect_height);
  }
  VT_TRY(add_esds(file, track, object_type, kStreamTypeVisual, c.decoder_info, c.decoder_info_size));
  EsDescriptorRecord* esds = entry->esds;
  if (visual && esds->decoder_info.length > 0) {
    OwnedBlock& d = esds->decoder_info;
    if ((file->flags & (kFlagPsp | kFlagStripVisualUserData)) != 0) d.length = mpeg4_strip_user_data(d.bytes, d.length);
    if ((file->flags & kFlagLowerSimpleLevel) != 0) info.profile_level = mpeg4_lower_level(d.bytes, d.length);
    if (d.length == 0) block_release(&d);
  }
  if ((file->flags & kFlagPsp) == 0) return ErrorCode::Ok;
  VT_TRY(add_profile_track_parts(file, track));
  VideoProfile* p = new_video_profile(file, track, entry);
  if (p == nullptr) return ErrorCode::OutOfMemory;
  p->codec_word = (uint32_t{info.video_object_type} << 8) | info.profile_level;
  p->pixel_aspect = pixel_aspect_word(info.aspect_width, info.aspect_height);
  return ErrorCode::Ok;
}

ErrorCode build_avc(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track) {
  const auto& c = track_spec->codec.avc;
  const AvcParameterSets sets{c.sps, c.sps_size, c.sps_count, c.pps, c.pps_size, c.pps_count, c.nal_length_minus_one};
  if (!avc_parameter_sets_valid(&sets)) return ErrorCode::BadArgument;
  if (c.trailing == nullptr && c.trailing_size > 0) return ErrorCode::BadArgument;
  VisualSampleEntry* entry = nullptr;
  VT_TRY(video_entry(file, track_spec, track, "avc1", &entry));
  set_compressor_name(entry, "AVC Coding");

  VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::Avcc));
  AvcConfigRecord* avc = entry->avcC;
  VT_TRY(avcc_build(avc, &sets));
  // The input's own bytes after the picture parameter sets win over the
  // ones derived from the sequence parameter set.
  if (c.trailing_size > 0) VT_TRY(block_assign(&avc->trailing, c.trailing, c.trailing_size));
  const uint8_t* sps = nullptr;
  uint32_t sps_length = 0;
  AvcSpsInfo sps_info{};
  // A stream the probe cannot follow is shown 1:1.
  if (!avc_first_parameter_set(c.sps, c.sps_size, c.sps_count, &sps, &sps_length) || sps_length < 4 ||
      h264_parse_sps(sps, sps_length, &sps_info) != ErrorCode::Ok) {
    sps_info.sar_width = 1;
    sps_info.sar_height = 1;
  }
  apply_pixel_aspect(entry, sps_info.sar_width, sps_info.sar_height);

  if ((file->flags & kFlagAvcUuidExtension) != 0) VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::UuidExtension));
  if ((file->flags & kFlagPsp) == 0) return entry_add_config(file, track, 0, ConfigBoxId::Btrt);

  VT_TRY(add_profile_track_parts(file, track));
  uint32_t entropy = 0;
  const uint8_t* pps = nullptr;
  uint32_t pps_length = 0;
  if (avc_first_parameter_set(c.pps, c.pps_size, c.pps_count, &pps, &pps_length) && pps_length >= 2 &&
      avc_probe_pps(pps + 1, pps_length - 1, &entropy) != ErrorCode::Ok)
    entropy = 0;
  VideoProfile* p = new_video_profile(file, track, entry);
  if (p == nullptr) return ErrorCode::OutOfMemory;
  p->codec_word = ((entropy & 0xFF) << 24) | (uint32_t{avc->AVCProfileIndication} << 16) |
                  (uint32_t{avc->profile_compatibility} << 8) | avc->AVCLevelIndication;
  p->pixel_aspect = pixel_aspect_word(sps_info.sar_width, sps_info.sar_height);
  return ErrorCode::Ok;
}

ErrorCode build_h263(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track) {
  VisualSampleEntry* entry = nullptr;
  VT_TRY(video_entry(file, track_spec, track, "s263", &entry));
  VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::D263));
  entry->d263->vendor = track_spec->codec.h263.vendor;
  entry->d263->decoder_version = track_spec->codec.h263.decoder_version;
  entry->d263->H263_Level = track_spec->codec.h263.level;
  entry->d263->H263_Profile = track_spec->codec.h263.profile;
  return ErrorCode::Ok;
}

ErrorCode build_vc1(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track) {
  const DecoderConfigVc1* from = track_spec->codec.vc1.config;
  if (from == nullptr) return ErrorCode::BadArgument;
  bool advanced = (from->profile & 0x0F) == kVc1Advanced;
  if (advanced && (track_spec->codec.vc1.header == nullptr || track_spec->codec.vc1.header_size == 0))
    return ErrorCode::BadArgument;
  VisualSampleEntry* entry = nullptr;
  VT_TRY(video_entry(file, track_spec, track, "vc-1", &entry));
  VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::Dvc1));
  DecoderConfigVc1* to = entry->dvc1;
  to->profile = from->profile & 0x0F;
  to->level = from->level & 0x07;
  if (to->profile == kVc1Simple || to->profile == kVc1Main) {
    to->sequence_header = from->sequence_header;
    to->hrd_level = from->hrd_level;
    to->cbr = from->cbr;
    to->hrd_buffer = from->hrd_buffer;
    to->hrd_rate = from->hrd_rate;
    to->frame_rate = from->frame_rate;
  } else if (advanced) {
    to->advanced_level = from->advanced_level;
    to->advanced_cbr = from->advanced_cbr;
    to->advanced_flags = from->advanced_flags;
    to->frame_rate = from->frame_rate;
    VT_TRY(block_assign(&to->header_block, track_spec->codec.vc1.header, track_spec->codec.vc1.header_size));
  }
  return ErrorCode::Ok;
}

ErrorCode build_motion_jpeg(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track) {
  static constexpr const char* kFormats[3] = {"jpeg", "mjpa", "mjpb"};
  static constexpr const char* kNames[3] = {"Motion JPEG", "Motion JPEG A", "Motion JPEG B"};
  const auto& c = track_spec->codec.mjpeg;
  if (c.variant > 2) return ErrorCode::BadArgument;
  VisualSampleEntry* entry = nullptr;
  VT_TRY(video_entry(file, track_spec, track, kFormats[c.variant], &entry));
  set_compressor_name(entry, kNames[c.variant]);
  VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::Fiel));
  FielRecord* fiel = entry->fiel;
  if (c.interlaced == 0) {
    fiel->field_count = 1;
    fiel->field_ordering = 0;
  } else {
    fiel->field_count = 2;
    if (c.field_a != 0)
      fiel->field_ordering = c.field_b != 0 ? 1 : 14;
    else
      fiel->field_ordering = c.field_b != 0 ? 9 : 6;
  }
  return ErrorCode::Ok;
}

}  // namespace vantorel
