// The movie summary, one summary per track, and the size estimate.
#include <cstdlib>
#include <cstring>

#include "boxes/elst.h"
#include "boxes/ftyp.h"
#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "codecs/aac.h"
#include "codecs/ac3.h"
#include "codecs/eac3.h"
#include "codecs/es_descriptor.h"
#include "codecs/flac.h"
#include "codecs/h264.h"
#include "codecs/mpeg_audio.h"
#include "codecs/opus.h"
#include "codecs/vc1.h"
#include "mediafile/internal.h"
#include "mediafile/mediafile.h"
#include "sampletables/ctts.h"
#include "sampletables/sample_groups.h"
#include "sampletables/small_configs.h"
#include "sampletables/stsd.h"
#include "sampletables/stsz.h"
#include "sampletables/stts_total.h"

namespace vantorel {

namespace {

uint32_t rounded_16_16(uint32_t v) { return static_cast<uint32_t>((uint64_t{v} + 0x8000) >> 16); }

// The format code of a track's first sample entry, whatever its layout.
FourCC first_entry_format(MediaFile* file, TrackBoxes* track) {
  if (VisualSampleEntry* v = visual_entry(file, track, 0)) return v->format;
  if (SoundSampleEntry* s = sound_entry(file, track, 0)) return s->format;
  if (GenericSampleEntry* g = generic_entry(file, track, 0)) return g->format;
  auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
  if (stsd != nullptr && stsd->layout == kLayoutHint && stsd->hint.count > 0) return stsd->hint[0].format;
  // An entry the library does not lay out is still named by its box type.
  if (stsd != nullptr && stsd->whole_entry_count > 0 && stsd->whole_entries.length >= 8)
    return FourCC::from_u32(load_u32be(stsd->whole_entries.bytes + 4));
  return FourCC{};
}

void fill_video(MediaFile* file, TrackBoxes* track, const TkhdRecord* tkhd, TrackInfo* out) {
  VisualSampleEntry* entry = visual_entry(file, track, 0);
  if (entry != nullptr && entry->width != 0 && entry->height != 0 && file->flavour != kFlavourQuickTime) {
    out->width = entry->width;
    out->height = entry->height;
  } else {
    out->width = rounded_16_16(tkhd->width);
    out->height = rounded_16_16(tkhd->height);
  }
  if (entry == nullptr) return;
  if (entry->format == "avc1" && entry->avcC != nullptr) {
    out->nal_length_size = entry->avcC->lengthSizeMinusOne + 1u;
    if (entry->btrt != nullptr) {
      out->avg_bitrate = entry->btrt->avgBitrate;
      out->max_bitrate = entry->btrt->maxBitrate;
    }
    out->decoder_info = entry->avcC->parameter_sets;
    out->decoder_info_size = entry->avcC->sps_length + entry->avcC->pps_length;
  } else if (entry->format == "vc-1") {
    if (entry->dvc1 != nullptr && entry->dvc1->profile == kVc1Advanced) {
      out->decoder_info = entry->dvc1->header_block.bytes;
      out->decoder_info_size = entry->dvc1->header_block.length;
    }
  } else if (entry->opaque.length > 0) {
    out->decoder_info = entry->opaque.bytes;
    out->decoder_info_size = entry->opaque.length;
  }
}

void fill_sound(MediaFile* file, TrackBoxes* track, const MdhdRecord* mdhd, TrackInfo* out) {
  SoundSampleEntry* entry = sound_entry(file, track, 0);
  if (entry == nullptr) return;
  if (file->flavour == kFlavourAvi) {
    out->sample_rate = entry->samples_per_packet;
  } else if (entry->version == 2) {
    out->sample_rate = entry->sample_rate;
  } else {
    out->sample_rate = entry->sample_rate >> 16;
  }
  // A rate of 65536 Hz or more does not fit the 16.16 field, which is then 0.
  if (out->sample_rate == 0 && mdhd != nullptr) out->sample_rate = mdhd->timescale;
  out->sample_bits = entry->sample_size;
  out->channel_count = entry->channel_count;
  if (entry->opaque.length > 0) {
    out->decoder_info = entry->opaque.bytes;
    out->decoder_info_size = entry->opaque.length;
  }
}

}  // namespace

ErrorCode track_info(MediaFile* file, uint32_t track_id, TrackInfo* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  std::memset(out, 0, sizeof *out);
  FileBoxes* root = file->root;
  auto* mvhd = movie_record<MvhdRecord>(root, BoxTypeId::Mvhd);
  TrackBoxes* track = find_track(root, track_id);
  if (mvhd == nullptr || track == nullptr) return ErrorCode::Missing;
  auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd);
  auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
  auto* hdlr = track_record<HdlrRecord>(track, BoxTypeId::Hdlr);
  auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
  if (tkhd == nullptr || mdhd == nullptr || hdlr == nullptr || stsd == nullptr) return ErrorCode::Missing;

  out->track = track;
  out->track_id = tkhd->track_id;
  out->tkhd_flags = tkhd->flags;
  out->layer = tkhd->layer;
  out->kind = hdlr->kind;
  // A track of a handler the library does not know, or whose entries it
  // cannot lay out, still has a summary: kind 0 and no format code.
  out->fourcc = first_entry_format(file, track);
  EsDescriptorRecord* esds = entry_esds(file, track, 0);
  if (esds != nullptr) {
    out->object_type = esds->objectTypeIndication;
    out->avg_bitrate = esds->avgBitrate;
    out->max_bitrate = esds->maxBitrate;
    if (esds->decoder_info.length > 0) {
      out->decoder_info = esds->decoder_info.bytes;
      out->decoder_info_size = esds->decoder_info.length;
    }
  }
  out->handler_name = hdlr->name;
  std::memcpy(out->language, mdhd->language, sizeof out->language);
  out->timescale = mdhd->timescale;
  auto* ctts = track_record<CompositionOffsetTable>(track, BoxTypeId::Ctts);
  if (handler_is_video_like(hdlr->kind) && ctts != nullptr && ctts->entries.count > 0)
    out->first_composition_offset = ctts->entries[0].sample_offset;
  out->start_delay = initial_empty_duration(track);
  if (auto* mvhd = movie_record<MvhdRecord>(file->root, BoxTypeId::Mvhd)) {
    const int64_t end = single_edit_media_end(track, mvhd->timescale, mdhd->timescale);
    if (end > 0 && static_cast<uint64_t>(end) < presentation_end_time(track)) out->media_end = end;
  }
  out->media_duration = mdhd->duration;
  out->sample_count = track_sample_count(track);
  out->max_sample_size = track_max_sample_size(track);
  if (file->flavour == kFlavourAsf && esds != nullptr) out->max_sample_size = esds->bufferSizeDB;
  out->entry_count = stsd->entry_count;
  out->handler_type = hdlr->handler_type;
  out->first_edit_media_time = first_media_time(track);
  out->first_fragment_time = none64();
  if (track->extra != nullptr) {
    out->composition_shift = track->extra->composition_shift;
    out->first_fragment_time = track->extra->first_fragment_time;
  }
  out->has_sample_groups = sample_groups(track) != nullptr ? 1 : 0;

  if (handler_is_video_like(hdlr->kind)) {
    if (visual_entry(file, track, 0) == nullptr && !out->fourcc.is_zero()) return ErrorCode::Missing;
    fill_video(file, track, tkhd, out);
  } else if (hdlr->kind == kHandlerSound) {
    if (sound_entry(file, track, 0) == nullptr && !out->fourcc.is_zero()) return ErrorCode::Missing;
    fill_sound(file, track, mdhd, out);
  } else if (hdlr->kind == kHandlerSubpicture) {
    out->width = tkhd->width >> 16;
    out->height = tkhd->height >> 16;
  }
  return ErrorCode::Ok;
}

ErrorCode movie_info(MediaFile* file, MovieInfo* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  std::memset(out, 0, sizeof *out);
  FileBoxes* root = file->root;
  auto* mvhd = movie_record<MvhdRecord>(root, BoxTypeId::Mvhd);
  if (root == nullptr || root->moov == nullptr || mvhd == nullptr) {
    if (root != nullptr && root->moov == nullptr)
      set_error_reason(file, "no movie header ('moov'): the file may be truncated or still being written");
    return ErrorCode::Missing;
  }
  out->root = root;
  out->timescale = mvhd->timescale;
  out->duration = mvhd->duration;
  out->flavour = file->flavour;
  out->track_count = track_count(root);
  auto* ftyp = movie_record<FileTypeRecord>(root, BoxTypeId::Ftyp);
  if (ftyp != nullptr && ftyp->major_brand == "MSNV") out->flags |= kMovieBrandMsnv;
  if (find_box(root, BoxTypeId::Tdrm) != nullptr) out->flags |= kMovieHasTdrm;
  if (find_box(root, BoxTypeId::Strx) != nullptr) out->flags |= kMovieHasStrx;
  if (file->flags & kFlagLongDescriptorLengths) out->flags |= kMovieLongDescriptorLengths;
  out->found_cut = file->cut != 0 ? 1 : 0;
  for (uint32_t i = 0; i < out->track_count; ++i) {
    TrackBoxes* track = track_at(root, i);
    if (track->tkhd == nullptr) return ErrorCode::Missing;
    uint32_t id = track_id_of(track);
    uint32_t kind = handler_kind_of(track);
    auto count = [&](uint32_t* n, uint32_t* first) {
      if ((*n)++ == 0) *first = id;
    };
    if (handler_is_video_like(kind)) {
      count(&out->video_count, &out->first_video_id);
      VisualSampleEntry* entry = visual_entry(file, track, 0);
      if (entry != nullptr && entry->uuid != nullptr) out->flags |= kMovieHasAvcUuid;
    } else if (kind == kHandlerSound) {
      count(&out->sound_count, &out->first_sound_id);
    } else if (kind == kHandlerSubpicture) {
      count(&out->subpicture_count, &out->first_subpicture_id);
    } else if (kind == kHandlerSubtitle) {
      count(&out->subtitle_count, &out->first_subtitle_id);
    }
  }
  return ErrorCode::Ok;
}

TrackIterator* track_iterator_new(MediaFile* file, uint32_t filter, uint32_t kind) {
  if (file == nullptr) return nullptr;
  auto* it = alloc_record<TrackIterator>();
  if (it == nullptr) return nullptr;
  it->file = file;
  it->filter = filter;
  it->kind = kind;
  return it;
}

ErrorCode track_iterator_next(TrackIterator* it, TrackInfo* out) {
  if (it == nullptr || out == nullptr) return ErrorCode::BadArgument;
  FileBoxes* root = it->file->root;
  while (it->position < track_count(root)) {
    TrackBoxes* track = track_at(root, it->position);
    if (it->filter != 0 && handler_kind_of(track) != it->kind) {
      ++it->position;
      continue;
    }
    // The position moves on only past a track that could be described.
    VT_TRY(track_info(it->file, track_id_of(track), out));
    ++it->position;
    return ErrorCode::Ok;
  }
  return ErrorCode::NoMore;
}

void track_iterator_free(TrackIterator* it) { std::free(it); }

ErrorCode size_estimate(MediaFile* file, SizeEstimate* out, uint32_t what) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  std::memset(out, 0, sizeof *out);
  FileBoxes* root = file->root;
  if (what & kEstimateHeader) {
    if (root != nullptr && root->ftyp != nullptr) out->ftyp_size = static_cast<uint32_t>(ftyp_size(file, root) + 8);
    uint64_t header = top_level_size(file);
    // A written file's movie box goes out without the tables its clean-up
    // drops (an all-sync 'stss' lists every sample).
    if (file->mode == kOpenCreate || file->mode == kOpenUpdate) header -= clean_up_saving(file);
    out->header_size = fits_u32(header) ? static_cast<uint32_t>(header) : UINT32_MAX;
  }
  if (what & kEstimateSamples) {
    for (uint32_t i = 0; i < track_count(root); ++i) out->total_sample_bytes += track_total_bytes(track_at(root, i));
  }
  return ErrorCode::Ok;
}

const uint8_t* entry_child(TrackBoxes* track, const char* type, uint32_t* payload_size) {
  *payload_size = 0;
  auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
  if (stsd == nullptr || stsd->whole_entry_count == 0 || stsd->whole_entries.length < 16) return nullptr;
  const uint8_t* e = stsd->whole_entries.bytes;
  uint32_t end = load_u32be(e);
  if (end < 16 || end > stsd->whole_entries.length) return nullptr;
  uint32_t layout = stsd->layout != kLayoutNone ? stsd->layout : entry_layout_of_kind(handler_kind_of(track));
  uint32_t at = whole_entry_children_at(e, end, layout);
  if (at == 0) return nullptr;
  FourCC wanted = FourCC::of(type);
  uint32_t wave_end = 0;
  while (at + 8 <= end) {
    uint32_t size = load_u32be(e + at);
    if (size < 8 || size > end - at) break;
    FourCC child = FourCC::from_u32(load_u32be(e + at + 4));
    if (child == wanted) {
      *payload_size = size - 8;
      return e + at + 8;
    }
    if (child == "wave" && wave_end == 0) {
      // Step into the 'wave' box and go on with its children.
      wave_end = at + size;
      end = wave_end;
      at += 8;
      continue;
    }
    at += size;
  }
  return nullptr;
}

namespace {

// Channels as the codec configuration gives them; 0 when it does not.
uint32_t configured_channels(TrackBoxes* track) {
  if (track == nullptr) return 0;
  uint32_t n = 0;
  const uint8_t* p = entry_child(track, "dac3", &n);
  if (p != nullptr && n >= 3) return dac3_payload_channels(p, n);
  p = entry_child(track, "dec3", &n);
  if (p != nullptr && n >= 5) return dec3_payload_channels(p, n);
  p = entry_child(track, "dOps", &n);
  if (p != nullptr && dops_payload_channels(p, n) != 0) return dops_payload_channels(p, n);
  p = entry_child(track, "dfLa", &n);
  if (p != nullptr && dfla_payload_channels(p, n) != 0) return dfla_payload_channels(p, n);
  p = entry_child(track, "alac", &n);
  if (p != nullptr && n >= 4 + 10 && p[4 + 9] != 0) return p[4 + 9];
  p = entry_child(track, "chan", &n);
  if (p != nullptr && n >= 16) {
    uint32_t tag = load_u32be(p + 4);
    if (tag == 0) return load_u32be(p + 12);  // described one by one
    if (tag == 0x10000) return static_cast<uint32_t>(__builtin_popcount(load_u32be(p + 8)));
    if ((tag & 0xFFFF) != 0) return tag & 0xFFFF;
  }
  return 0;
}

}  // namespace

uint32_t track_decoded_channels(MediaFile* file, const TrackInfo* info) {
  if (file == nullptr || info == nullptr) return 0;
  uint32_t channels = configured_channels(find_track(file->root, info->track_id));
  if (channels != 0) return channels;
  if (is_aac_object_type(info->object_type)) {
    channels = aac_config_channels(info->decoder_info, info->decoder_info_size);
  } else if (is_mpeg_audio_object_type(info->object_type) && file->mode == kOpenRead) {
    // Frame headers sit in small samples; a huge first sample is not worth reading.
    constexpr uint32_t kLargestRead = 64 * 1024;
    uint32_t index = 0;
    uint64_t time = 0;
    uint32_t largest = info->max_sample_size;
    if (largest >= 4 && largest <= kLargestRead &&
        track_seek(file, info->track_id, 0, &index, &time, 0, 0) == ErrorCode::Ok) {
      auto* buffer = static_cast<uint8_t*>(std::malloc(largest));
      if (buffer != nullptr) {
        SampleRead sample{};
        sample.buffer = buffer;
        sample.capacity = largest;
        if (read_next_sample(file, info->track_id, &sample) == ErrorCode::Ok)
          channels = mpeg_audio_frame_channels(buffer, sample.size);
        std::free(buffer);
      }
    }
  }
  return channels != 0 ? channels : info->channel_count;
}

ErrorCode track_entry_boxes(MediaFile* file, uint32_t track_id, FourCC* out, uint32_t capacity, uint32_t* count) {
  if (file == nullptr || count == nullptr || (out == nullptr && capacity > 0)) return ErrorCode::BadArgument;
  *count = 0;
  TrackBoxes* track = find_track(file->root, track_id);
  if (track == nullptr) return ErrorCode::Missing;
  auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
  if (stsd == nullptr || stsd->whole_entry_count == 0) return ErrorCode::Ok;
  const uint8_t* e = stsd->whole_entries.bytes;
  uint32_t length = stsd->whole_entries.length;
  if (length < 16) return ErrorCode::Ok;
  uint32_t end = load_u32be(e);
  if (end < 16 || end > length) return ErrorCode::Ok;
  uint32_t layout = stsd->layout != kLayoutNone ? stsd->layout : entry_layout_of_kind(handler_kind_of(track));
  uint32_t at = whole_entry_children_at(e, end, layout);
  if (at == 0) return ErrorCode::Ok;
  while (at + 8 <= end) {
    uint32_t size = load_u32be(e + at);
    if (size < 8 || size > end - at) break;
    if (*count < capacity) out[*count] = FourCC::from_u32(load_u32be(e + at + 4));
    ++*count;
    at += size;
  }
  return ErrorCode::Ok;
}

bool track_roll_distance(MediaFile* file, uint32_t track_id, int16_t* distance) {
  if (file == nullptr || distance == nullptr) return false;
  TrackBoxes* track = find_track(file->root, track_id);
  return track != nullptr && sample_groups_roll_distance(track, distance);
}

}  // namespace vantorel
