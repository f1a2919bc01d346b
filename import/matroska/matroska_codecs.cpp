// Sample entries of the Matroska codecs the import carries, built from
// CodecPrivate and, where the configuration lives there, the first frame.
#include "import/matroska/matroska_codecs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include "boxes/hdlr.h"
#include "codecs/aac.h"
#include "codecs/ac3.h"
#include "codecs/av1.h"
#include "codecs/colour.h"
#include "codecs/dts.h"
#include "codecs/eac3.h"
#include "codecs/es_descriptor.h"
#include "codecs/flac.h"
#include "codecs/h264.h"
#include "codecs/hevc.h"
#include "codecs/mpeg4_visual.h"
#include "codecs/mpeg_audio.h"
#include "codecs/opus.h"
#include "codecs/truehd.h"
#include "codecs/vfw_formats.h"
#include "codecs/vp9.h"
#include "import/format_headers.h"
#include "io/byte_io.h"
#include "io/file_io.h"
#include "sampletables/stsd.h"

namespace vantorel {

namespace {

void visual_fields(MkvBytes* o, const MkvTrack* t) {
  o->zeros(6);
  o->u16(1);
  o->zeros(16);
  o->u16(static_cast<uint32_t>(std::min<uint64_t>(t->width, 0xFFFF)));
  o->u16(static_cast<uint32_t>(std::min<uint64_t>(t->height, 0xFFFF)));
  o->u32(0x00480000);
  o->u32(0x00480000);
  o->u32(0);
  o->u16(1);
  o->zeros(32);
  o->u16(0x18);
  o->u16(0xFFFF);
}

void sound_fields(MkvBytes* o, uint32_t channels, uint32_t bits, uint32_t rate) {
  o->zeros(6);
  o->u16(1);
  o->zeros(8);
  o->u16(channels);
  o->u16(bits);
  o->u32(0);
  o->u32(rate <= 0xFFFF ? rate << 16 : 0);
}

uint32_t channels_of(const MkvTrack* t) { return static_cast<uint32_t>(std::min<uint64_t>(t->channels, 0xFFFF)); }

// A configuration box its record's own writer fills.
template <class Write>
void put_config(MkvBytes* o, const char* type, Write write) {
  if (o->e != ErrorCode::Ok) return;
  BoxFile scratch{};
  ScopedMemoryStream memory(&scratch);
  o->e = memory.open_writable();
  if (o->e == ErrorCode::Ok) o->e = write(&scratch);
  if (o->e != ErrorCode::Ok) return;
  const uint32_t box = o->open(type);
  o->put(memory.stream()->data, memory.stream()->size);
  o->close(box);
}

// A note for the user about a track: what is lost of one carried, or why
// one is left out (`left_out`).
void note(MkvImport* imp, const MkvTrack* t, const char* what, bool left_out = false) {
  ImportFile* file = imp->file;
  if (file->note_count >= kMaxImportNotes) return;
  char* text = file->notes[file->note_count++].text;
  const unsigned long long number = t->number;
  if (left_out)
    std::snprintf(text, sizeof file->notes[0].text, "Matroska track %llu (%.31s) is left out: %.100s", number,
                  t->codec_id, what);
  else
    std::snprintf(text, sizeof file->notes[0].text, "Matroska track %llu (%.63s): %.100s", number, t->codec_id, what);
}

// The boxes after a visual entry's configuration: the Colour element's
// 'colr', the mastering display's 'mdcv' and the light levels' 'clli'.
void colour_boxes(const MkvTrack* t, MkvBytes* o) {
  if (t->colour_given) {
    ColourRecord colr{static_cast<uint16_t>(std::min<uint64_t>(t->primaries, 255)),
                      static_cast<uint16_t>(std::min<uint64_t>(t->transfer, 255)),
                      static_cast<uint16_t>(std::min<uint64_t>(t->matrix, 255)), static_cast<uint8_t>(t->range == 2)};
    put_config(o, "colr", [&](BoxFile* file) { return colr_write(file, &colr, kColourNclx); });
  }
  if (t->mastering_given) {
    const double* m = t->mastering;
    MasteringDisplayFloats floats{m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9]};
    MasteringDisplayRecord mdcv{};
    mdcv_from_floats(&floats, &mdcv);
    put_config(o, "mdcv", [&](BoxFile* file) { return mdcv_write(file, &mdcv); });
  }
  if (t->max_cll != 0 || t->max_fall != 0) {
    ContentLightLevelRecord clli{static_cast<uint16_t>(std::min<uint64_t>(t->max_cll, 0xFFFF)),
                                 static_cast<uint16_t>(std::min<uint64_t>(t->max_fall, 0xFFFF))};
    put_config(o, "clli", [&](BoxFile* file) { return clli_write(file, &clli); });
  }
}

// Dolby Vision, as "Dolby Vision Streams Within the ISO Base Media File
// Format" (version 2.1.2) places it: the configuration record in a box of
// its own type ('dvcC' for profiles up to 7, 'dvvC' for 8 to 10) beside the
// base layer's configuration, the entry type by profile (its sample entry
// section): 5 'dvh1' (HEVC, parameter sets out of band) or 'dvhe'; 8 and 9
// keep 'hvc1'/'hev1' and 'avc1'; 10 keeps 'av01', 'dav1' when the base layer
// is not compatible (compatibility id 0). Other profiles (7 and 4 are dual
// layer) have no single-track form: the base layer goes alone.
// `format` may be replaced; false when the record is left out.
bool dolby_vision_entry(MkvImport* imp, const MkvTrack* t, char format[5]) {
  if (t->addition_type == 0) return false;
  const uint8_t* r = t->addition_record.bytes;
  const uint32_t profile = r[2] >> 1;
  const uint32_t compatibility = r[4] >> 4;
  const bool hevc = std::strcmp(format, "hvc1") == 0 || std::strcmp(format, "hev1") == 0;
  bool kept = false;
  if (profile == 5 && hevc) {
    std::memcpy(format, std::strcmp(format, "hvc1") == 0 ? "dvh1" : "dvhe", 5);
    kept = true;
  } else if ((profile == 8 && hevc) || (profile == 9 && std::strcmp(format, "avc1") == 0)) {
    kept = true;
  } else if (profile == 10 && std::strcmp(format, "av01") == 0) {
    if (compatibility == 0) std::memcpy(format, "dav1", 5);
    kept = true;
  }
  if (!kept) {
    char why[160];
    std::snprintf(why, sizeof why, "its Dolby Vision profile %u has no single-track form here; the base layer is carried",
                  profile);
    note(imp, t, why);
  }
  return kept;
}

// A configuration box holding CodecPrivate as it is, when the codec takes
// it, with the colour boxes and a Dolby Vision record after it.
bool private_box(MkvImport* imp, const MkvTrack* t, const char* format, const char* box,
                 bool (*valid)(const uint8_t*, uint32_t), MkvBytes* o) {
  const OwnedBlock& p = t->codec_private;
  if (!valid(p.bytes, p.length)) return false;
  char type[5];
  std::memcpy(type, format, 5);
  const bool dolby = dolby_vision_entry(imp, t, type);
  uint32_t entry = o->open(type);
  visual_fields(o, t);
  uint32_t config = o->open(box);
  o->put(p.bytes, p.length);
  o->close(config);
  colour_boxes(t, o);
  if (dolby) {
    char addition[4];
    store_u32be(reinterpret_cast<uint8_t*>(addition), t->addition_type);
    uint32_t record = o->open(addition);
    o->put(t->addition_record.bytes, t->addition_record.length);
    o->close(record);
  }
  o->close(entry);
  return true;
}

bool build_avc(MkvImport* imp, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerVideo;
  return private_box(imp, t, "avc1", "avcC", avcc_payload_valid, o);
}

// 'hvc1' when CodecPrivate holds the three parameter set kinds and the first
// frame none, else 'hev1'.
bool build_hevc(MkvImport* imp, const MkvTrack* t, const uint8_t* first, uint32_t first_n, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerVideo;
  const OwnedBlock& p = t->codec_private;
  if (!hvcc_payload_valid(p.bytes, p.length)) return false;
  const bool all_kinds = hvcc_parameter_set_kinds(p.bytes, p.length) == 7;
  const bool in_band = hevc_parameter_sets_in_band(first, first_n, hvcc_nal_length_size(p.bytes, p.length));
  return private_box(imp, t, all_kinds && !in_band ? "hvc1" : "hev1", "hvcC", hvcc_payload_valid, o);
}

bool build_av1(MkvImport* imp, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerVideo;
  return private_box(imp, t, "av01", "av1C", av1c_payload_valid, o);
}

// 'vpcC' from the first frame's uncompressed header (VP9) or the fixed
// profile of VP8, with the Colour element's values.
bool build_vpx(const MkvTrack* t, const uint8_t* f, uint32_t n, bool vp9, MkvBytes* o) {
  VpcConfigRecord config;
  vpcc_init(&config);
  if (vp9 && !vp9_config_from_frame(f, n, &config)) return false;
  // The Colour element, when it says, over the frame header.
  if (t->range == 1 || t->range == 2) config.videoFullRangeFlag = t->range == 2 ? 1 : 0;
  config.colourPrimaries = static_cast<uint8_t>(std::min<uint64_t>(t->primaries, 255));
  config.transferCharacteristics = static_cast<uint8_t>(std::min<uint64_t>(t->transfer, 255));
  config.matrixCoefficients = static_cast<uint8_t>(std::min<uint64_t>(t->matrix, 255));
  uint32_t entry = o->open(vp9 ? "vp09" : "vp08");
  visual_fields(o, t);
  put_config(o, "vpcC", [&](BoxFile* file) { return vpcc_write(file, &config); });
  colour_boxes(t, o);
  o->close(entry);
  return true;
}

bool build_vp9(MkvImport*, const MkvTrack* t, const uint8_t* f, uint32_t n, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerVideo;
  return build_vpx(t, f, n, true, o);
}
bool build_vp8(MkvImport*, const MkvTrack* t, const uint8_t* f, uint32_t n, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerVideo;
  return build_vpx(t, f, n, false, o);
}

// An 'esds' of the object type and stream type with the decoder information.
void put_esds(MkvBytes* o, uint8_t object_type, uint8_t stream_type, const uint8_t* info, uint32_t info_size) {
  EsDescriptorRecord esds;
  esds_init(&esds);
  if (o->e == ErrorCode::Ok) o->e = esds_set_stream(&esds, object_type, stream_type, info, info_size);
  // Buffer size and bit rates stay 0: the upkeep at close fills them.
  put_config(o, "esds", [&](BoxFile* file) { return esds_write(file, &esds); });
  esds_release(&esds);
}

// An 'mp4a' entry with an 'esds' of the object type and decoder information.
bool mp4a_entry(const MkvTrack* t, uint32_t rate, uint8_t object_type, const uint8_t* info, uint32_t info_size,
                MkvBytes* o) {
  if (info_size > 0xFFFF) return false;
  uint32_t entry = o->open("mp4a");
  sound_fields(o, channels_of(t), 16, rate);
  put_esds(o, object_type, kStreamTypeAudio, info, info_size);
  o->close(entry);
  return true;
}

// MPEG-4 Visual: CodecPrivate holds the headers an 'esds' carries.
bool build_mp4v(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerVideo;
  const OwnedBlock& p = t->codec_private;
  if (p.length > 0xFFFF) return false;
  uint32_t entry = o->open("mp4v");
  visual_fields(o, t);
  put_esds(o, kObjectTypeMpeg4Visual, kStreamTypeVisual, p.bytes, p.length);
  colour_boxes(t, o);
  o->close(entry);
  return true;
}

bool build_aac(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerSound;
  plan->frame_samples = 1024;
  const OwnedBlock& p = t->codec_private;
  if (p.length < 2) return false;
  return mp4a_entry(t, plan->timescale, kObjectTypeMpeg4Audio, p.bytes, p.length, o);
}

// The old ids name the profile: the AudioSpecificConfig is built from it,
// the rate and the channel count.
bool build_aac_by_profile(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerSound;
  plan->frame_samples = 1024;
  const char* profile = t->codec_id + 6;  // after "A_AAC/"
  uint32_t object_type = 2;
  if (std::strstr(profile, "/MAIN") != nullptr) object_type = 1;
  if (std::strstr(profile, "/SSR") != nullptr) object_type = 3;
  if (std::strstr(profile, "/LTP") != nullptr) object_type = 4;
  uint8_t asc[2];
  if (!aac_config_build(object_type, plan->timescale, channels_of(t), asc)) return false;
  return mp4a_entry(t, plan->timescale, kObjectTypeMpeg4Audio, asc, sizeof asc, o);
}

// CodecPrivate is the 24-byte ALAC configuration; its frame length is every
// frame's sample count.
bool build_alac(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerSound;
  const OwnedBlock& p = t->codec_private;
  if (p.length < 24) return false;
  plan->frame_samples = load_u32be(p.bytes);
  if (plan->frame_samples == 0) return false;
  uint32_t entry = o->open("alac");
  sound_fields(o, p.bytes[9], p.bytes[5], plan->timescale);
  uint32_t config = o->open("alac");
  o->u32(0);
  o->put(p.bytes, 24);
  o->close(config);
  o->close(entry);
  return true;
}

bool build_mjpeg(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerVideo;
  uint32_t entry = o->open("jpeg");
  visual_fields(o, t);
  o->close(entry);
  return true;
}

bool build_mp3(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerSound;
  plan->samples_of = mpeg_audio_frame_samples;
  return mp4a_entry(t, plan->timescale, kObjectTypeMpeg1Audio, nullptr, 0, o);
}
bool build_mp2(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerSound;
  plan->samples_of = mpeg_audio_frame_samples;
  return mp4a_entry(t, plan->timescale, kObjectTypeMpeg2Audio, nullptr, 0, o);
}

// 'dOps' from the OpusHead in CodecPrivate.
bool build_opus(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerSound;
  plan->timescale = 48000;
  plan->samples_of = opus_packet_samples;
  const OwnedBlock& p = t->codec_private;
  OpusConfigRecord config;
  if (!dops_from_opus_head(p.bytes, p.length, &config)) return false;
  plan->opus_pre_skip = config.PreSkip;
  uint32_t entry = o->open("Opus");
  sound_fields(o, config.OutputChannelCount, 16, 48000);
  put_config(o, "dOps", [&](BoxFile* file) { return dops_write(file, &config); });
  o->close(entry);
  return true;
}

// 'dfLa' from the metadata blocks in CodecPrivate.
bool build_flac(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerSound;
  plan->samples_of = flac_frame_samples;
  const OwnedBlock& p = t->codec_private;
  FlacConfigRecord config{};
  const ErrorCode e = dfla_from_stream_header(p.bytes, p.length, &config);
  if (e != ErrorCode::Ok) {
    if (e == ErrorCode::OutOfMemory) o->e = e;
    return false;
  }
  uint32_t entry = o->open("fLaC");
  sound_fields(o, channels_of(t), t->bit_depth > 0 ? static_cast<uint32_t>(t->bit_depth) : 16, plan->timescale);
  put_config(o, "dfLa", [&](BoxFile* file) { return dfla_write(file, &config); });
  o->close(entry);
  dfla_release(&config);
  return true;
}

// 'dac3' from the first frame's sync information and bit stream information.
bool build_ac3(MkvImport*, const MkvTrack* t, const uint8_t* f, uint32_t n, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerSound;
  plan->frame_samples = 1536;
  Dac3Record config{};
  if (!ac3_config_from_frame(f, n, &config)) return false;
  uint32_t entry = o->open("ac-3");
  sound_fields(o, channels_of(t), 16, plan->timescale);
  put_config(o, "dac3", [&](BoxFile* file) { return dac3_write(file, &config, false); });
  o->close(entry);
  return true;
}

// 'dec3' for every substream of the first block's access unit.
bool build_eac3(MkvImport*, const MkvTrack* t, const uint8_t* f, uint32_t n, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerSound;
  plan->samples_of = eac3_frame_samples;
  Dec3Record config{};
  if (!eac3_config_from_access_unit(f, n, plan->timescale, &config)) return false;
  uint32_t entry = o->open("ec-3");
  sound_fields(o, channels_of(t), 16, plan->timescale);
  put_config(o, "dec3", [&](BoxFile* file) { return dec3_write(file, &config); });
  o->close(entry);
  dec3_release(&config);
  return true;
}

// PCM as a QuickTime movie stores it: 8-bit unsigned 'raw ', big-endian
// 'twos', 'in24' and 'in32' (16-bit little-endian samples swapped into
// 'twos'), and little-endian wider or float samples in a version 1 entry
// that says their order.
bool pcm_entry(const MkvTrack* t, bool big, bool is_float, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerSound;
  const uint32_t bits = static_cast<uint32_t>(t->bit_depth);
  const uint32_t channels = channels_of(t);
  if (channels == 0 || bits == 0 || bits % 8 != 0) return false;
  plan->bytes_per_frame = channels * (bits / 8);
  const char* format = nullptr;
  if (is_float) {
    format = bits == 32 ? "fl32" : bits == 64 ? "fl64" : nullptr;
  } else if (bits == 8) {
    format = big ? "twos" : "raw ";
  } else if (bits == 16) {
    format = "twos";
    plan->swap16 = big ? 0 : 1;
  } else {
    format = bits == 24 ? "in24" : bits == 32 ? "in32" : nullptr;
  }
  if (format == nullptr) return false;
  if (big || bits <= 16) {
    uint32_t entry = o->open(format);
    sound_fields(o, channels, bits, plan->timescale);
    o->close(entry);
    return true;
  }
  uint8_t e[kLittleEndianPcmEntrySize];
  little_endian_pcm_entry(e, format, channels, plan->timescale, bits / 8);
  o->put(e, sizeof e);
  return true;
}
bool build_pcm_little(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  return pcm_entry(t, false, false, o, plan);
}
bool build_pcm_big(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  return pcm_entry(t, true, false, o, plan);
}
bool build_pcm_float(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  return pcm_entry(t, false, true, o, plan);
}

// 'ddts' from the first core frame header. A stream with an extension (in
// the core frame, or a DTS-HD extension substream after it) needs an entry
// this import does not build, and is left out with the extension named.
bool build_dts(MkvImport* imp, const MkvTrack* t, const uint8_t* f, uint32_t n, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerSound;
  plan->samples_of = dts_frame_samples;
  DtsCoreHeader core{};
  DdtsRecord config{};
  if (!dts_parse_core(f, n, &core) || !ddts_from_core(&core, &config)) return false;
  const char* extension = nullptr;
  if (core.ext_audio != 0)
    extension = core.ext_audio_id == 0 ? "XCh" : core.ext_audio_id == 2 ? "X96" : core.ext_audio_id == 6 ? "XXCh" : "core";
  if (core.frame_size < n && dts_is_extension_substream(f + core.frame_size, n - core.frame_size))
    extension = "DTS-HD extension substream";
  if (extension != nullptr) {
    char why[160];
    std::snprintf(why, sizeof why, "its DTS stream has an extension (%s) that a core 'dtsc' entry cannot describe",
                  extension);
    note(imp, t, why, true);
    return false;
  }
  plan->timescale = core.sample_rate;
  uint32_t entry = o->open("dtsc");
  sound_fields(o, channels_of(t), core.pcm_bits == 24 ? 24 : 16, core.sample_rate);
  put_config(o, "ddts", [&](BoxFile* file) { return ddts_write(file, &config); });
  o->close(entry);
  return true;
}

// 'dmlp' from the first major sync. Frame durations come from the block
// times.
bool build_truehd(MkvImport*, const MkvTrack* t, const uint8_t* f, uint32_t n, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerSound;
  DmlpRecord config{};
  uint32_t rate = 0;
  if (!dmlp_from_access_unit(f, n, &config, &rate)) return false;
  plan->timescale = rate;
  uint8_t e[kMlpaEntrySize];
  mlpa_entry(e, channels_of(t), rate, config);
  o->put(e, sizeof e);
  return true;
}


// A_MS/ACM: CodecPrivate is a WAVEFORMATEX, whose format tag names the codec
// as an AVI stream's does; the entry is built as for that codec's own id,
// with the channels, rate and sample size the format gives.
bool build_acm(MkvImport* imp, const MkvTrack* t, const uint8_t* f, uint32_t n, MkvBytes* o, EntryPlan* plan) {
  const OwnedBlock& p = t->codec_private;
  if (p.length < kWaveFormatSize) return false;
  WaveFormat w{};
  parse_wave(p.bytes, &w);
  const uint32_t extra_size = std::min<uint32_t>(w.extra_size, p.length - kWaveFormatSize);
  const uint8_t* extra = p.bytes + kWaveFormatSize;
  const uint16_t tag = acm_codec_tag(w.format_tag, extra, extra_size);
  if (w.channels == 0 || w.samples_per_sec == 0) return false;
  MkvTrack as = *t;
  as.channels = w.channels;
  as.sampling_frequency = w.samples_per_sec;
  as.bit_depth = w.bits_per_sample;
  plan->timescale = w.samples_per_sec;
  switch (acm_sound_of(tag)) {
    case AcmSound::kPcm: return pcm_entry(&as, false, false, o, plan);
    case AcmSound::kFloat: return pcm_entry(&as, false, true, o, plan);
    case AcmSound::kMpegAudio:
      return tag == 0x0050 ? build_mp2(imp, &as, f, n, o, plan) : build_mp3(imp, &as, f, n, o, plan);
    case AcmSound::kAc3: return build_ac3(imp, &as, f, n, o, plan);
    case AcmSound::kDts: return build_dts(imp, &as, f, n, o, plan);
    case AcmSound::kAac: {
      // Raw frames with their configuration after the fixed fields; frames
      // with ADTS headers would need them taken off, which this import does not.
      AdtsHeader adts;
      if (extra_size < 2 || adts_parse_header(f, n, &adts)) break;
      plan->kind = kHandlerSound;
      plan->frame_samples = aac_config_frame_samples(extra, extra_size);
      return mp4a_entry(&as, plan->timescale, kObjectTypeMpeg4Audio, extra, extra_size, o);
    }
    case AcmSound::kUnknown: break;
  }
  char why[160];
  std::snprintf(why, sizeof why, "its ACM format tag 0x%04X has no MP4 form Vantorel writes", tag);
  note(imp, t, why, true);
  return false;
}

// V_MS/VFW/FOURCC: CodecPrivate is a BITMAPINFOHEADER. The frames are
// converted as an AVI stream's are (mkv_convert_vfw_frames), which sets the
// entry; here only the codec is checked to be one that conversion carries.
bool build_vfw(MkvImport* imp, const MkvTrack* t, const uint8_t* first, uint32_t first_n, MkvBytes*, EntryPlan* plan) {
  plan->kind = kHandlerVideo;
  plan->vfw = 1;
  const OwnedBlock& p = t->codec_private;
  if (p.length < kBitmapInfoHeaderSize) return false;
  BitmapInfoHeader h{};
  parse_bitmap(p.bytes, &h);
  if (vfw_video_of(h.compression, FourCC{}) != VfwVideo::kUnknown) return true;
  // An MPEG-4 Visual stream under a FOURCC of its own, as the AVI import finds it.
  if (first_n >= 4 && mpeg4_starts_stream(first)) return true;
  char why[160];
  std::snprintf(why, sizeof why, "its FOURCC '%s' has no MP4 form Vantorel writes", fourcc_text(h.compression).text);
  note(imp, t, why, true);
  return false;
}

}  // namespace

uint32_t rate_of(const MkvTrack* t) {
  double f = t->sampling_frequency;
  return f >= 1 && f <= 1e6 ? static_cast<uint32_t>(std::lround(f)) : 0;
}

constexpr Codec kCodecs[] = {
    {"V_MPEG4/ISO/AVC", build_avc}, {"V_MPEGH/ISO/HEVC", build_hevc}, {"V_AV1", build_av1},
    {"V_MPEG4/ISO/ASP", build_mp4v}, {"V_MPEG4/ISO/SP", build_mp4v},
    {"V_VP9", build_vp9},           {"V_VP8", build_vp8},             {"A_AAC", build_aac},
    {"A_OPUS", build_opus},         {"A_FLAC", build_flac},           {"A_AC3", build_ac3}, {"A_EAC3", build_eac3},
    {"A_ALAC", build_alac},         {"V_MJPEG", build_mjpeg},
    {"A_MPEG/L3", build_mp3},       {"A_MPEG/L2", build_mp2},
    {"A_DTS", build_dts},           {"A_TRUEHD", build_truehd},       {"A_MS/ACM", build_acm},
    {"V_MS/VFW/FOURCC", build_vfw},
    {"A_PCM/INT/LIT", build_pcm_little}, {"A_PCM/INT/BIG", build_pcm_big}, {"A_PCM/FLOAT/IEEE", build_pcm_float},
    {"S_TEXT/UTF8", nullptr},       {"S_TEXT/WEBVTT", nullptr},
};

const Codec* codec_of(const char* id) {
  static constexpr Codec kAacByProfile = {"A_AAC/", build_aac_by_profile};
  static constexpr Codec kWebVttKinds = {"D_WEBVTT/", nullptr};
  for (const Codec& c : kCodecs)
    if (std::strcmp(c.id, id) == 0) return &c;
  if (std::strncmp(id, kAacByProfile.id, 6) == 0) return &kAacByProfile;
  if (std::strncmp(id, kWebVttKinds.id, 9) == 0) return &kWebVttKinds;
  return nullptr;
}

}  // namespace vantorel
