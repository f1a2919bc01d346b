// Sample-entry builders of the sound kinds (MPEG-4 audio, AMR, AC-3,
// MPEG-1 audio, PCM, E-AC-3) and of the two generic 'mp4s' kinds.
#include "boxes/prof.h"
#include "boxes/tkhd.h"
#include "codecs/aac.h"
#include "codecs/es_descriptor.h"
#include "mediafile/track_builders.h"
#include "sampletables/formats.h"
#include "sampletables/stsd.h"

namespace vantorel {

namespace {

// The entry's format code and, for the kinds that say it, its channel
// count. The 16.16 rate stays as the track's tables set it from the time
// scale (0 where the rate does not fit).
ErrorCode sound_entry_for(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track, const char* format, bool channels,
                          SoundSampleEntry** out) {
  *out = nullptr;
  SoundSampleEntry* entry = sound_entry(file, track, 0);
  if (entry == nullptr) return ErrorCode::Missing;
  entry->format = FourCC::of(format);
  if (channels) entry->channel_count = static_cast<uint16_t>(track_spec->channel_count);
  *out = entry;
  return ErrorCode::Ok;
}

ErrorCode generic_entry_for(MediaFile* file, TrackBoxes* track, GenericSampleEntry** out) {
  *out = generic_entry(file, track, 0);
  if (*out == nullptr) return ErrorCode::Missing;
  (*out)->format = FourCC::of("mp4s");
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode add_esds(MediaFile* file, TrackBoxes* track, uint8_t object_type, uint8_t stream_type, const uint8_t* bytes,
                   uint32_t count) {
  if (bytes == nullptr && count > 0) return ErrorCode::BadArgument;
  VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::Esds));
  EsDescriptorRecord* esds = entry_esds(file, track, 0);
  if (esds == nullptr) return ErrorCode::Missing;
  return esds_set_stream(esds, object_type, stream_type, bytes, count);
}

ErrorCode build_mpeg4_audio(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track) {
  const auto& c = track_spec->codec.mpeg4_audio;
  if (c.decoder_info == nullptr && c.decoder_info_size > 0) return ErrorCode::BadArgument;
  SoundSampleEntry* entry = nullptr;
  VT_TRY(sound_entry_for(file, track_spec, track, "mp4a", true, &entry));
  VT_TRY(add_esds(file, track, kObjectTypeMpeg4Audio, kStreamTypeAudio, c.decoder_info, c.decoder_info_size));
  if ((file->flags & kFlagPsp) == 0) return ErrorCode::Ok;
  VT_TRY(add_profile_track_parts(file, track));
  auto* prof = movie_record<ProfRecord>(file->root, BoxTypeId::Prof);
  AudioProfile* p = prof != nullptr ? add_audio_profile(prof) : nullptr;
  if (p == nullptr) return ErrorCode::OutOfMemory;
  p->track_id = track_id_of(track);
  p->codec = entry->format;
  uint32_t object_type = aac_config_object_type(c.decoder_info, c.decoder_info_size);
  p->codec_word = (object_type << 8) | (c.audio_level & 0xFF);
  p->sample_rate = track_spec->sample_rate;
  p->channel_count = track_spec->channel_count & 0xFFFF;
  return ErrorCode::Ok;
}

ErrorCode build_amr(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track) {
  static constexpr const char* kFormats[3] = {"samr", "sawb", "sawp"};
  const auto& c = track_spec->codec.amr;
  if (c.variant > 2) return ErrorCode::BadArgument;
  SoundSampleEntry* entry = nullptr;
  VT_TRY(sound_entry_for(file, track_spec, track, kFormats[c.variant], false, &entry));
  if (c.variant == 2) {
    VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::Dawp));
    entry->dawp->vendor = c.vendor;
    entry->dawp->decoder_version = c.decoder_version;
    return ErrorCode::Ok;
  }
  VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::Damr));
  entry->damr->vendor = c.vendor;
  entry->damr->decoder_version = c.decoder_version;
  entry->damr->mode_set = c.mode_set;
  entry->damr->mode_change_period = c.mode_change_period;
  entry->damr->frames_per_sample = c.frames_per_sample;
  return ErrorCode::Ok;
}

ErrorCode build_ac3(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track) {
  const auto& c = track_spec->codec.ac3;
  bool short_form = c.variant != 0;
  SoundSampleEntry* entry = nullptr;
  VT_TRY(sound_entry_for(file, track_spec, track, short_form ? "sac3" : "ac-3", short_form, &entry));
  VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::Dac3));
  // The short form carries the bitstream identification alone.
  dac3_set_packed(entry->dac3, short_form ? (c.packed & 0x7C) : c.packed);
  return ErrorCode::Ok;
}

ErrorCode build_mpeg1_audio(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track) {
  SoundSampleEntry* entry = nullptr;
  VT_TRY(sound_entry_for(file, track_spec, track, "mp4a", true, &entry));
  const uint8_t object_type = track_spec->codec.mpeg1_audio.object_type;
  return add_esds(file, track, object_type != 0 ? object_type : kObjectTypeMpeg1Audio, kStreamTypeAudio, nullptr, 0);
}

ErrorCode build_pcm(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track) {
  SoundSampleEntry* entry = nullptr;
  FourCC format = track_spec->codec.pcm.format;
  if (format.is_zero()) format = FourCC::of("twos");
  if (!pcm_counts_frames(format)) return ErrorCode::BadArgument;
  VT_TRY(sound_entry_for(file, track_spec, track, "twos", true, &entry));
  entry->format = format;
  if (track_spec->codec.pcm.sample_bits != 0) entry->sample_size = static_cast<uint16_t>(track_spec->codec.pcm.sample_bits);
  return ErrorCode::Ok;
}

ErrorCode build_eac3(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track) {
  if (track_spec->codec.eac3.config == nullptr) return ErrorCode::BadArgument;
  SoundSampleEntry* entry = nullptr;
  VT_TRY(sound_entry_for(file, track_spec, track, "ec-3", false, &entry));
  VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::Dec3));
  return dec3_copy(entry->dec3, track_spec->codec.eac3.config);
}

ErrorCode build_subpicture(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track) {
  const auto& c = track_spec->codec.subpicture;
  auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd);
  if (tkhd == nullptr) return ErrorCode::Missing;
  tkhd->width = track_spec->width << 16;
  tkhd->height = track_spec->height << 16;
  GenericSampleEntry* entry = nullptr;
  VT_TRY(generic_entry_for(file, track, &entry));
  return add_esds(file, track, 0xE0, 0x38, c.decoder_info, c.decoder_info_size);
}

ErrorCode build_streaming_extension(MediaFile* file, const TrackSpec*, TrackBoxes* track) {
  GenericSampleEntry* entry = nullptr;
  VT_TRY(generic_entry_for(file, track, &entry));
  return add_esds(file, track, 0xE2, 0x39, nullptr, 0);
}

}  // namespace vantorel
