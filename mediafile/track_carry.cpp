// The codec table: whether a track read from a file can go into a new one,
// and the TrackSpec that rebuilds it there.
#include <cstring>

#include "boxes/hdlr.h"
#include "boxes/media_headers.h"
#include "boxes/tref.h"
#include "codecs/ac3.h"
#include "codecs/eac3.h"
#include "codecs/es_descriptor.h"
#include "codecs/h264.h"
#include "codecs/vc1.h"
#include "io/byte_io.h"
#include "mediafile/internal.h"
#include "sampletables/formats.h"
#include "sampletables/small_configs.h"
#include "sampletables/stsd.h"

namespace vantorel {

namespace {

bool is_video_code(FourCC f) { return format_kind(f) == kHandlerVideo; }
bool is_audio_code(FourCC f) { return format_kind(f) == kHandlerSound; }

// Whether entry i is of format f and holds the configuration box a rebuild
// would otherwise derive.
bool entry_holds_configuration(MediaFile* in, TrackBoxes* track, uint32_t i, FourCC f) {
  if (VisualSampleEntry* v = visual_entry(in, track, i)) {
    if (!(v->format == f)) return false;
    if (f == "avc1") return v->avcC != nullptr;
    if (f == "mp4v") return v->esds != nullptr;
    if (f == "s263") return v->d263 != nullptr;
    if (f == "vc-1") return v->dvc1 != nullptr;
    if (f == "jpeg" || f == "mjpa" || f == "mjpb") return v->fiel != nullptr;
    return false;
  }
  if (SoundSampleEntry* s = sound_entry(in, track, i)) {
    if (!(s->format == f)) return false;
    if (f == "mp4a") return s->esds != nullptr;
    if (f == "ac-3") return s->dac3 != nullptr;
    if (f == "ec-3") return s->dec3 != nullptr;
    if (f == "samr" || f == "sawb") return s->damr != nullptr;
    if (f == "sawp") return s->dawp != nullptr;
  }
  return false;
}

// Whether the track's entries can go out as read at all: kept whole, with
// no profile parts to add, and (for an MP4) no QuickTime sound forms.
bool entries_can_go_whole(MediaFile* in, TrackBoxes* track, uint32_t movie_flags, bool quicktime) {
  auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
  if (stsd == nullptr || stsd->whole_entry_count == 0 || stsd->whole_entries.length == 0) return false;
  constexpr uint32_t kEntryParts = kFlagPsp | kFlagAvcUuidExtension | kFlagStripVisualUserData | kFlagLowerSimpleLevel |
                                   kFlagStreamingExtension;
  if ((movie_flags & kEntryParts) != 0) return false;
  if (!quicktime)
    for (uint32_t i = 0; i < stsd->entry_count; ++i)
      if (SoundSampleEntry* s = sound_entry(in, track, i); s != nullptr && s->version != 0) return false;
  return true;
}

// Whether a track of a format the remux can rebuild goes out as read
// instead: its entries can, and each holds its configuration, so nothing is
// left to derive.
bool entries_go_whole(MediaFile* in, TrackBoxes* track, FourCC f, uint32_t movie_flags, bool quicktime) {
  if (!entries_can_go_whole(in, track, movie_flags, quicktime)) return false;
  auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
  if (stsd->entry_count != stsd->whole_entry_count) return false;
  for (uint32_t i = 0; i < stsd->entry_count; ++i)
    if (!entry_holds_configuration(in, track, i, f)) return false;
  return true;
}

ErrorCode first_frame_ac3_word(MediaFile* in, const TrackInfo* info, uint32_t* packed, bool* found) {
  *found = false;
  // Only the first sample is read: the buffer is sized by it, and a first
  // sample larger than the file cannot be read at all.
  uint32_t first_size = track_sample_size(in, info->track_id, 0);
  if (first_size > file_size(in)) return ErrorCode::Ok;
  GrowArray<uint8_t> buffer{};
  VT_TRY(buffer.reserve(first_size > 0 ? first_size : 1));
  uint32_t index = 0;
  uint64_t time = 0;
  ErrorCode e = track_seek(in, info->track_id, 0, &index, &time, 0, 0);
  SampleRead s{};
  s.buffer = buffer.data();
  s.capacity = buffer.capacity;
  if (e == ErrorCode::Ok) e = read_next_sample(in, info->track_id, &s);
  if (e == ErrorCode::Ok) *found = ac3_word_from_frame(s.buffer, s.size, packed);
  buffer.release();
  index = 0;
  ErrorCode back = track_seek(in, info->track_id, 0, &index, &time, 0, 0);
  if (e == ErrorCode::NoMore) e = ErrorCode::Ok;  // no samples: nothing to derive
  if (e == ErrorCode::Ok && back != ErrorCode::NoMore) e = back;
  return e;
}

// Whether a track's format is one the table only carries as stored: not
// known at all, or known by name only, under a handler of its own.
bool stored_format(FourCC f) {
  uint32_t kind = format_kind(f);
  return kind == kHandlerUnknown || kind == kHandlerOther;
}

// The handler kind a track carried as stored keeps: its own, or "other"
// (its handler type travels as read); unknown for the kinds that are not
// carried so: hint and MPEG-4 systems tracks point into other tracks'
// samples and streams, and the interleaved and mirror kinds are the
// library's own.
uint32_t stored_kind(TrackBoxes* track, uint32_t kind) {
  switch (kind) {
    case kHandlerVideo:
    case kHandlerSound:
    case kHandlerText:
    case kHandlerSbtl:
    case kHandlerSubtitle:
    case kHandlerTimecode: return kind;
    case kHandlerUnknown: {
      auto* hdlr = track_record<HdlrRecord>(track, BoxTypeId::Hdlr);
      return hdlr != nullptr && !hdlr->handler_type.is_zero() ? kHandlerOther : kHandlerUnknown;
    }
    default: return kHandlerUnknown;
  }
}

// A sample entry the format table does not rebuild goes out whole under its
// own handler, unless the output cannot hold it.
ErrorCode classify_stored(MediaFile* in, bool quicktime, const TrackInfo* info, TrackCarry* row, uint32_t* drop_reason) {
  TrackBoxes* track = find_track(in->root, info->track_id);
  auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
  uint32_t kind = stored_kind(track, info->kind);
  // Imported tracks have no entries as read: what their import could not
  // map stays out.
  if (kind == kHandlerUnknown || stsd == nullptr || stsd->whole_entry_count == 0 || stsd->whole_entries.length == 0) {
    *drop_reason = kDropCodec;
    return ErrorCode::Ok;
  }
  if (format_quicktime_only(info->fourcc) && !quicktime) {
    *drop_reason = kDropNeedsQuickTime;
    return ErrorCode::Ok;
  }
  if (find_box(track, BoxTypeId::Stts) == nullptr || find_box(track, BoxTypeId::Stsz) == nullptr) {
    *drop_reason = kDropTables;
    return ErrorCode::Ok;
  }
  MovieInfo movie{};
  VT_TRY(movie_info(in, &movie));
  if (!entries_can_go_whole(in, track, movie.flags, quicktime)) {
    *drop_reason = !quicktime && entries_can_go_whole(in, track, movie.flags, true) ? kDropNeedsQuickTime
                                                                                      : kDropConfiguration;
    return ErrorCode::Ok;
  }
  row->whole = true;
  row->as_stored = true;
  row->video = kind == kHandlerVideo;
  row->audio = kind == kHandlerSound;
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode track_carry(MediaFile* in, const TrackInfo* info, bool quicktime, TrackCarry* row, uint32_t* drop_reason) {
  if (in == nullptr || info == nullptr || row == nullptr || drop_reason == nullptr) return ErrorCode::BadArgument;
  *row = TrackCarry{};
  *drop_reason = 0;
  TrackBoxes* track = find_track(in->root, info->track_id);
  FourCC f = info->fourcc;
  bool subpicture = info->kind == kHandlerSubpicture;
  if (stored_format(f) && !subpicture) return classify_stored(in, quicktime, info, row, drop_reason);
  if (format_quicktime_only(f) && !quicktime) {
    *drop_reason = kDropNeedsQuickTime;
    return ErrorCode::Ok;
  }
  if (find_box(track, BoxTypeId::Stts) == nullptr || find_box(track, BoxTypeId::Stsz) == nullptr) {
    *drop_reason = kDropTables;
    return ErrorCode::Ok;
  }
  MovieInfo movie{};
  VT_TRY(movie_info(in, &movie));
  // PCM read from a file keeps its entries as read ('chan' and every other
  // child) wherever the output can hold them.
  bool whole = format_carried_whole(f) || entries_go_whole(in, track, f, movie.flags, quicktime) ||
               (pcm_counts_frames(f) && entries_can_go_whole(in, track, movie.flags, quicktime));
  if (format_carried_whole(f)) {
    // Carried as read: the entries must have been kept, under a handler of
    // the format's kind.
    if (!entries_can_go_whole(in, track, movie.flags, quicktime)) {
      *drop_reason = kDropConfiguration;
      return ErrorCode::Ok;
    }
    if (!kinds_agree(info->kind, format_kind(f))) {
      *drop_reason = kDropCodec;
      return ErrorCode::Ok;
    }
  }
  // What the rebuilt entries cannot describe (an object type without a
  // builder, a missing configuration, descriptions that differ) is carried
  // as read when the output can hold the entries so; only then is it left out.
  VisualSampleEntry* visual = visual_entry(in, track, 0);
  SoundSampleEntry* sound = sound_entry(in, track, 0);
  uint32_t rebuild_fails = 0;
  if (f == "mp4a" && info->object_type != kObjectTypeMpeg4Audio && !is_mpeg_audio_object_type(info->object_type)) {
    rebuild_fails = kDropObjectType;
  } else if ((f == "avc1" && (visual == nullptr || visual->avcC == nullptr)) ||
             (f == "vc-1" && (visual == nullptr || visual->dvc1 == nullptr)) ||
             (f == "ec-3" && (sound == nullptr || sound->dec3 == nullptr)) ||
             (f == "vc-1" && visual->dvc1->profile == kVc1Advanced && info->decoder_info_size == 0)) {
    rebuild_fails = kDropConfiguration;
  } else if (!whole) {
    bool same = true;
    VT_TRY(stsd_entries_equal(track, &same));
    if (!same) rebuild_fails = kDropDescriptions;
  }
  if (!whole && rebuild_fails != 0) {
    if (!entries_can_go_whole(in, track, movie.flags, quicktime)) {
      *drop_reason = rebuild_fails;
      return ErrorCode::Ok;
    }
    whole = true;
  }
  row->whole = whole;
  if (!whole && (f == "sac3" || f == "ac-3")) {
    if (f == "ac-3" && sound != nullptr && sound->dac3 != nullptr) {
      row->ac3_packed = dac3_packed(sound->dac3);
    } else {
      // The word is read from the stream once, here, not in the passes.
      bool found = false;
      VT_TRY(first_frame_ac3_word(in, info, &row->ac3_packed, &found));
      if (!found && info->sample_count > 0) {
        *drop_reason = kDropConfiguration;
        return ErrorCode::Ok;
      }
      row->derived_config = true;
    }
  }
  row->video = is_video_code(f);
  row->audio = is_audio_code(f);
  row->subpicture = subpicture;
  return ErrorCode::Ok;
}

ErrorCode track_carry_shape(MediaFile* in, const TrackInfo* info, const TrackCarry* row, TrackSpec* track_spec,
                            uint32_t* drop_reason) {
  if (in == nullptr || info == nullptr || row == nullptr || track_spec == nullptr || drop_reason == nullptr)
    return ErrorCode::BadArgument;
  std::memset(track_spec, 0, sizeof *track_spec);
  *drop_reason = 0;
  TrackBoxes* track = find_track(in->root, info->track_id);
  VisualSampleEntry* visual = visual_entry(in, track, 0);
  SoundSampleEntry* sound = sound_entry(in, track, 0);
  FourCC f = info->fourcc;
  bool video_params = true;
  if (row->whole) {
    auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
    track_spec->kind = kKindWhole;
    track_spec->codec.whole.handler_kind = row->as_stored ? stored_kind(track, info->kind) : info->kind;
    if (track_spec->codec.whole.handler_kind == kHandlerOther)
      track_spec->codec.whole.handler_type = track_record<HdlrRecord>(track, BoxTypeId::Hdlr)->handler_type;
    track_spec->codec.whole.entries = stsd->whole_entries.bytes;
    track_spec->codec.whole.entries_size = stsd->whole_entries.length;
    track_spec->codec.whole.entry_count = stsd->whole_entry_count;
    if (auto* gmhd = track_record<RawBoxRecord>(track, BoxTypeId::Gmhd)) {
      track_spec->codec.whole.base_media_header = gmhd->payload.bytes;
      track_spec->codec.whole.base_media_header_size = gmhd->payload.length;
    } else if (auto* sthd = track_record<RawBoxRecord>(track, BoxTypeId::Sthd)) {
      track_spec->codec.whole.base_media_header = sthd->payload.bytes;
      track_spec->codec.whole.base_media_header_size = sthd->payload.length;
      track_spec->codec.whole.base_media_header_type = FourCC::of("sthd");
    }
    video_params = row->as_stored ? row->video : format_kind(f) == kHandlerVideo;
  } else if (f == "mp4v") {
    track_spec->kind = kKindMpeg4Visual;
    track_spec->codec.mpeg4_visual.decoder_info = info->decoder_info;
    track_spec->codec.mpeg4_visual.decoder_info_size = info->decoder_info_size;
    track_spec->codec.mpeg4_visual.object_type = static_cast<uint8_t>(info->object_type);
  } else if (f == "mp4a" && info->object_type == kObjectTypeMpeg4Audio) {
    track_spec->kind = kKindMpeg4Audio;
    track_spec->codec.mpeg4_audio.audio_level = 15;
    track_spec->codec.mpeg4_audio.decoder_info = info->decoder_info;
    track_spec->codec.mpeg4_audio.decoder_info_size = info->decoder_info_size;
    video_params = false;
  } else if (f == "mp4a" && is_mpeg_audio_object_type(info->object_type)) {
    track_spec->kind = kKindMpeg1Audio;
    track_spec->codec.mpeg1_audio.object_type = static_cast<uint8_t>(info->object_type);
    video_params = false;
  } else if (pcm_counts_frames(f)) {
    track_spec->kind = kKindPcm;
    track_spec->codec.pcm.format = f;
    track_spec->codec.pcm.sample_bits = info->sample_bits;
    // Frames of one unit when the input's tables did not count frames.
    track_spec->pcm_frame_size = 1;
    video_params = false;
  } else if (f == "avc1") {
    const AvcConfigRecord* avc = visual->avcC;
    track_spec->kind = kKindAvc;
    track_spec->codec.avc.nal_length_minus_one = avc->lengthSizeMinusOne;
    track_spec->codec.avc.sps_count = avc->numOfSequenceParameterSets;
    track_spec->codec.avc.sps_size = avc->sps_length;
    track_spec->codec.avc.sps = avc_sps_block(avc);
    track_spec->codec.avc.pps_count = avc->numOfPictureParameterSets;
    track_spec->codec.avc.pps_size = avc->pps_length;
    track_spec->codec.avc.pps = avc_pps_block(avc);
    track_spec->codec.avc.trailing = avc->trailing.bytes;
    track_spec->codec.avc.trailing_size = avc->trailing.length;
  } else if (f == "vc-1") {
    track_spec->kind = kKindVc1;
    track_spec->codec.vc1.config = visual->dvc1;
    track_spec->codec.vc1.header = info->decoder_info;
    track_spec->codec.vc1.header_size = info->decoder_info_size;
  } else if (f == "jpeg" || f == "mjpa" || f == "mjpb") {
    track_spec->kind = kKindMotionJpeg;
    track_spec->codec.mjpeg.variant = f == "jpeg" ? 0 : f == "mjpa" ? 1 : 2;
    // No 'fiel': one field. The orderings map back to the flags the builder
    // turns into them.
    const FielRecord* fiel = visual != nullptr ? visual->fiel : nullptr;
    if (fiel != nullptr && fiel->field_count == 2) {
      track_spec->codec.mjpeg.interlaced = 1;
      uint8_t o = fiel->field_ordering;
      track_spec->codec.mjpeg.field_a = (o == 1 || o == 14) ? 1 : 0;
      track_spec->codec.mjpeg.field_b = (o == 1 || o == 9) ? 1 : 0;
    }
  } else if (f == "samr" || f == "sawb") {
    track_spec->kind = kKindAmr;
    track_spec->codec.amr.variant = f == "samr" ? 0 : 1;
    const DamrRecord* damr = sound != nullptr ? sound->damr : nullptr;
    if (damr != nullptr) {
      track_spec->codec.amr.vendor = damr->vendor;
      track_spec->codec.amr.decoder_version = damr->decoder_version;
      track_spec->codec.amr.mode_set = damr->mode_set;
      track_spec->codec.amr.mode_change_period = damr->mode_change_period;
      track_spec->codec.amr.frames_per_sample = damr->frames_per_sample;
    } else {
      track_spec->codec.amr.frames_per_sample = 1;  // derived: one frame a sample
    }
    video_params = false;
  } else if (f == "sawp") {
    track_spec->kind = kKindAmr;
    track_spec->codec.amr.variant = 2;
    const DawpRecord* dawp = sound != nullptr ? sound->dawp : nullptr;
    if (dawp != nullptr) {
      track_spec->codec.amr.vendor = dawp->vendor;
      track_spec->codec.amr.decoder_version = dawp->decoder_version;
    }
    video_params = false;
  } else if (f == "sac3" || f == "ac-3") {
    track_spec->kind = kKindAc3;
    track_spec->codec.ac3.variant = 0;
    track_spec->codec.ac3.packed = row->ac3_packed;
    video_params = false;
  } else if (f == "ec-3") {
    track_spec->kind = kKindEac3;
    track_spec->codec.eac3.config = sound->dec3;
    video_params = false;
  } else if (info->kind == kHandlerSubpicture) {
    track_spec->kind = kKindSubpicture;
    track_spec->codec.subpicture.decoder_info = info->decoder_info;
    track_spec->codec.subpicture.decoder_info_size = info->decoder_info_size;
  } else if (f == "s263") {
    track_spec->kind = kKindH263;
    const D263Record* d263 = visual != nullptr ? visual->d263 : nullptr;
    if (d263 != nullptr) {
      track_spec->codec.h263.vendor = d263->vendor;
      track_spec->codec.h263.decoder_version = d263->decoder_version;
      track_spec->codec.h263.level = d263->H263_Level;
      track_spec->codec.h263.profile = d263->H263_Profile;
    } else {
      track_spec->codec.h263.level = 10;  // derived: baseline level 10
    }
  } else {
    *drop_reason = kDropCodec;
    return ErrorCode::Ok;
  }
  if (video_params) {
    track_spec->width = info->width;
    track_spec->height = info->height;
  } else {
    track_spec->sample_rate = info->sample_rate;
    track_spec->channel_count = info->channel_count & 0xFFFF;
  }
  // PCM stored one sample per frame keeps that shape, with its frame size as read.
  if (track->extra != nullptr && track->extra->pcm_frame_size != 0 && info->kind == kHandlerSound)
    track_spec->pcm_frame_size = track->extra->pcm_frame_size;
  track_spec->timescale = info->timescale;
  std::memcpy(track_spec->language, info->language, 3);
  track_spec->handler_name = info->handler_name;
  track_spec->track_id = info->track_id;
  return ErrorCode::Ok;
}

FourCC carried_format_brand(FourCC format) { return format_brand(format); }

}  // namespace vantorel
