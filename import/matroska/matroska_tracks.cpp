// From Matroska frames to MP4 tracks: a sample entry per codec, exact times
// from the rounded block timestamps, and tables that point into the input.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "codecs/aac.h"
#include "codecs/ac3.h"
#include "codecs/av1.h"
#include "codecs/eac3.h"
#include "codecs/es_descriptor.h"
#include "codecs/flac.h"
#include "codecs/h264.h"
#include "codecs/hevc.h"
#include "codecs/mpeg_audio.h"
#include "codecs/opus.h"
#include "codecs/vp9.h"
#include "import/format_headers.h"
#include "import/imported_sample.h"
#include "import/matroska/matroska_internal.h"
#include "io/file_io.h"
#include "sampletables/movie_upkeep.h"
#include "sampletables/sample_groups.h"
#include "sampletables/stsd.h"
#include "sampletables/stsz.h"
#include "sampletables/table_fixups.h"
#include "sampletables/track_builder.h"

namespace vantorel {

namespace {

constexpr uint64_t kNanos = 1000000000;

// What the codec table gives a track.
struct EntryPlan {
  uint32_t kind;       // HandlerKind
  uint32_t timescale;  // media time scale; for sound the sample rate
  uint32_t frame_samples;  // per frame, when every frame has as many
  uint32_t opus_pre_skip;
  uint32_t (*samples_of)(const uint8_t* frame, uint32_t n);  // per frame from its first bytes; 0 when unknown
  uint32_t bytes_per_frame;  // PCM: a frame's duration is its size over this
  uint32_t swap16;           // PCM: little-endian 16-bit samples stored big-endian
};

struct Codec;
using EntryBuilder = bool (*)(MkvImport* imp, const MkvTrack* t, const uint8_t* first, uint32_t first_n, MkvBytes* out,
                              EntryPlan* plan);

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

uint32_t rate_of(const MkvTrack* t) {
  double f = t->sampling_frequency;
  return f >= 1 && f <= 1e6 ? static_cast<uint32_t>(std::lround(f)) : 0;
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

// A configuration box holding CodecPrivate as it is, when the codec takes it.
bool private_box(const MkvTrack* t, const char* format, const char* box, bool (*valid)(const uint8_t*, uint32_t),
                 MkvBytes* o) {
  const OwnedBlock& p = t->codec_private;
  if (!valid(p.bytes, p.length)) return false;
  uint32_t entry = o->open(format);
  visual_fields(o, t);
  uint32_t config = o->open(box);
  o->put(p.bytes, p.length);
  o->close(config);
  o->close(entry);
  return true;
}

bool build_avc(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerVideo;
  return private_box(t, "avc1", "avcC", avcc_payload_valid, o);
}

// 'hvc1' when CodecPrivate holds the three parameter set kinds and the first
// frame none, else 'hev1'.
bool build_hevc(MkvImport*, const MkvTrack* t, const uint8_t* first, uint32_t first_n, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerVideo;
  const OwnedBlock& p = t->codec_private;
  if (!hvcc_payload_valid(p.bytes, p.length)) return false;
  const bool all_kinds = hvcc_parameter_set_kinds(p.bytes, p.length) == 7;
  const bool in_band = hevc_parameter_sets_in_band(first, first_n, hvcc_nal_length_size(p.bytes, p.length));
  return private_box(t, all_kinds && !in_band ? "hvc1" : "hev1", "hvcC", hvcc_payload_valid, o);
}

bool build_av1(MkvImport*, const MkvTrack* t, const uint8_t*, uint32_t, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerVideo;
  return private_box(t, "av01", "av1C", av1c_payload_valid, o);
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

// 'dec3' for the one independent substream of the first frame.
bool build_eac3(MkvImport*, const MkvTrack* t, const uint8_t* f, uint32_t n, MkvBytes* o, EntryPlan* plan) {
  plan->kind = kHandlerSound;
  plan->samples_of = eac3_frame_samples;
  Dec3Record config{};
  if (!eac3_config_from_frame(f, n, plan->timescale, &config)) return false;
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

// A codec with a null builder is a subtitle format, converted as text.
struct Codec {
  const char* id;
  EntryBuilder build;
};

constexpr Codec kCodecs[] = {
    {"V_MPEG4/ISO/AVC", build_avc}, {"V_MPEGH/ISO/HEVC", build_hevc}, {"V_AV1", build_av1},
    {"V_MPEG4/ISO/ASP", build_mp4v}, {"V_MPEG4/ISO/SP", build_mp4v},
    {"V_VP9", build_vp9},           {"V_VP8", build_vp8},             {"A_AAC", build_aac},
    {"A_OPUS", build_opus},         {"A_FLAC", build_flac},           {"A_AC3", build_ac3}, {"A_EAC3", build_eac3},
    {"A_ALAC", build_alac},         {"V_MJPEG", build_mjpeg},
    {"A_MPEG/L3", build_mp3},       {"A_MPEG/L2", build_mp2},
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

// The first bytes of frame `i`, as many as the file holds up to `capacity`;
// through `decoded` when the track's frames are encoded.
uint32_t peek_frame(MkvImport* imp, const MkvTrack* t, const ConvertedTrack* decoded, uint32_t i, uint8_t* out,
                    uint32_t capacity) {
  if (decoded != nullptr) {
    uint32_t got = 0;
    return converted_peek(imp->file, decoded, i, out, capacity, &got) == ErrorCode::Ok ? got : 0;
  }
  const MkvFrame& f = t->frames[i];
  if (f.offset >= imp->file_size) return 0;
  uint64_t n = std::min<uint64_t>({f.size, capacity, imp->file_size - f.offset});
  if (file_seek(imp->file, f.offset) != ErrorCode::Ok || read_bytes(imp->file, out, static_cast<uint32_t>(n)) != ErrorCode::Ok)
    return 0;
  return static_cast<uint32_t>(n);
}

struct Timed {
  int64_t pts;  // media units
  uint32_t index;
};

// The grid of a constant frame rate that every time lies on within half a
// timestamp tick, as rate = num / den frames per second; false when none
// fits. Times are in ns, sorted.
bool fit_grid(const int64_t* ns, uint32_t n, uint64_t tolerance, const uint64_t* nums, const uint64_t* dens,
              uint32_t rates, uint32_t* chosen, int64_t* ticks) {
  for (uint32_t r = 0; r < rates; ++r) {
    const long double tick = static_cast<long double>(dens[r]) * kNanos / nums[r];
    long double low = 0, high = 0;
    bool fits = true;
    int64_t previous = -1;
    for (uint32_t i = 0; i < n && fits; ++i) {
      const long double u = static_cast<long double>(ns[i] - ns[0]) / tick;
      const int64_t k = std::llroundl(u);
      if (k <= previous) fits = false;
      previous = k;
      const long double residual = (ns[i] - ns[0]) - k * tick;
      low = std::min(low, residual);
      high = std::max(high, residual);
      ticks[i] = k;
    }
    if (fits && high - low <= static_cast<long double>(tolerance)) {
      *chosen = r;
      return true;
    }
  }
  return false;
}

// Hands the track its frames as samples: `pts` and `durations` in media
// units, the offsets moved by `shift`; read through `pieces` when the frames
// are not as the file holds them. The frames are let go once described, so
// that they and the tables are not held at once.
ErrorCode hand_over_frames(MkvImport* imp, TrackBoxes* track, MkvTrack* t, const int64_t* pts,
                           const uint32_t* durations, int64_t shift, ConvertedTrack* pieces) {
  ImportFile* file = imp->file;
  const uint32_t n = t->frames.count;
  bool offsets = false;
  for (uint32_t i = 0; i < n; ++i)
    if (pts[i] != 0) offsets = true;
  // Sound frames are all sync samples, whatever the blocks say.
  const bool keyed = handler_is_video_like(handler_kind_of(track));
  const bool gathered = pieces->first_piece.count > 0;
  auto* samples = static_cast<ImportedSample*>(std::calloc(n, sizeof(ImportedSample)));
  if (samples == nullptr) return ErrorCode::OutOfMemory;
  uint64_t time = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const MkvFrame& f = t->frames[i];
    ImportedSample& s = samples[i];
    s.at = f.offset;
    s.decode_time = time;
    s.size = f.size;
    s.duration = durations[i];
    time += durations[i];
    if (offsets) {
      const int64_t o = pts[i] + shift;
      if (o < INT32_MIN || o > INT32_MAX) {
        std::free(samples);
        return malformed(file, "Matroska frame shown too far from its decoding");
      }
      s.composition_offset = static_cast<int32_t>(o);
    }
    s.description = 1;
    s.where = gathered ? kSamplePieces : kSampleRange;
    s.sync = !keyed || f.key != 0;
  }
  t->frames.release();
  ErrorCode e = import_track_samples(file, track, samples, n, pieces);
  std::free(samples);
  return e;
}

// Durations of audio frames from their sample counts; a frame whose count is
// unknown lasts as long as the time to the next frame says.
void audio_durations(MkvImport* imp, const MkvTrack* t, const ConvertedTrack* decoded, const EntryPlan& plan,
                     uint32_t* durations) {
  const uint32_t n = t->frames.count;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t d = plan.frame_samples;
    if (plan.samples_of != nullptr) {
      uint8_t head[16];
      uint32_t got = peek_frame(imp, t, decoded, i, head, sizeof head);
      d = static_cast<uint32_t>(plan.samples_of(head, got));
    }
    if (plan.bytes_per_frame != 0) d = t->frames[i].size / plan.bytes_per_frame;
    if (d == 0 && i + 1 < n) {
      int64_t gap = t->frames[i + 1].time - t->frames[i].time;
      d = gap > 0 ? static_cast<uint32_t>(rescale(static_cast<uint64_t>(gap) * imp->timestamp_scale, 1000000000u,
                                                  plan.timescale))
                  : 0;
    }
    if (d == 0 && i > 0) d = durations[i - 1];
    durations[i] = d;
  }
}

struct TrackTimes {
  int64_t* pts;          // composition offsets relative to decode time, before the shift
  uint32_t* durations;
  int64_t shift;         // added to every offset
  int64_t first_shown;   // media time of the first frame shown
  int64_t presented_ns;  // when it is shown
  uint64_t shown_end;    // media time the last frame ends
  uint32_t timescale;
  bool trimmed;          // the end is before the last frame's
};

// Video: exact times on a frame-rate grid when the rounded times allow it,
// else the stored times; decode times are the sorted presentation times
// moved back by the reorder depth.
ErrorCode video_times(MkvImport* imp, const MkvTrack* t, TrackTimes* out) {
  const uint32_t n = t->frames.count;
  const uint64_t scale = imp->timestamp_scale;
  Timed* order = static_cast<Timed*>(std::calloc(n, sizeof(Timed)));
  int64_t* ns = static_cast<int64_t*>(std::calloc(n, sizeof(int64_t)));
  int64_t* ticks = static_cast<int64_t*>(std::calloc(n, sizeof(int64_t)));
  if (order == nullptr || ns == nullptr || ticks == nullptr) {
    std::free(order), std::free(ns), std::free(ticks);
    return ErrorCode::OutOfMemory;
  }
  for (uint32_t i = 0; i < n; ++i) order[i] = Timed{t->frames[i].time, i};
  std::stable_sort(order, order + n, [](const Timed& a, const Timed& b) { return a.pts < b.pts; });
  for (uint32_t i = 0; i < n; ++i) ns[i] = order[i].pts * static_cast<int64_t>(scale);

  // The standard rates first: DefaultDuration is itself rounded to the ns.
  uint64_t nums[10] = {24000, 24, 25, 30000, 30, 48, 50, 60000, 60, kNanos};
  uint64_t dens[10] = {1001, 1, 1, 1001, 1, 1, 1, 1001, 1, t->default_duration};
  const uint32_t rates = t->default_duration > 0 && t->default_duration < kNanos ? 10 : 9;
  uint32_t chosen = 0;
  // Matroska rounds each time to the nearest tick: half a tick either way.
  const bool grid = n >= 2 && fit_grid(ns, n, scale, nums, dens, rates, &chosen, ticks);
  uint64_t step = 0;  // media units per grid step
  if (grid) {
    uint64_t num = nums[chosen], den = dens[chosen];
    while (num > UINT32_MAX) {  // a DefaultDuration rate: ns ticks, reduced
      if (num % 10 != 0 || den % 10 != 0) break;
      num /= 10, den /= 10;
    }
    if (num > UINT32_MAX) {
      std::free(order), std::free(ns), std::free(ticks);
      return malformed(imp->file, "Matroska frame rate out of range");
    }
    // Start delays are stored in the track's time scale: a multiple of 1000
    // keeps a delay of whole milliseconds, as the block times give it.
    uint64_t g = num, b = 1000;
    while (b != 0) g = std::exchange(b, g % b);
    const uint64_t m = 1000 / g;
    if (num * m <= UINT32_MAX) num *= m, den *= m;
    out->timescale = static_cast<uint32_t>(num);
    step = den;
    for (uint32_t i = 0; i < n; ++i) order[i].pts = ticks[i] * static_cast<int64_t>(den);
  } else {
    uint64_t g = scale, b = kNanos;
    while (b != 0) g = std::exchange(b, g % b);
    out->timescale = static_cast<uint32_t>(kNanos / g);
    step = scale / g;
    for (uint32_t i = 0; i < n; ++i) order[i].pts = (ns[i] - ns[0]) / static_cast<int64_t>(g);
    if (t->default_duration > 0) step = rescale(t->default_duration, 1000000000u, out->timescale);
  }
  // Presentation times in decode order, and the reorder depth.
  int64_t depth = 0;
  for (uint32_t i = 0; i < n; ++i) out->pts[order[i].index] = order[i].pts;
  for (uint32_t i = 0; i < n; ++i) depth = std::max(depth, order[i].pts - out->pts[i]);
  for (uint32_t i = 0; i < n; ++i) {
    // The last frame lasts as long as the one before it.
    const int64_t next = i + 1 < n ? order[i + 1].pts - order[i].pts
                                   : (i > 0 ? static_cast<int64_t>(out->durations[i - 1]) : static_cast<int64_t>(step));
    out->durations[i] = static_cast<uint32_t>(next > 0 && next <= UINT32_MAX ? next : (i > 0 ? out->durations[i - 1] : step));
    out->pts[i] -= order[i].pts;  // offset before the shift: pts - sorted pts
  }
  out->shift = depth;
  out->first_shown = depth;
  out->presented_ns = n > 0 ? ns[0] : 0;
  out->shown_end = n > 0 ? static_cast<uint64_t>(order[n - 1].pts + depth) + out->durations[n - 1] : 0;
  std::free(order), std::free(ns), std::free(ticks);
  return ErrorCode::Ok;
}

ErrorCode add_edits(MkvImport* imp, TrackBoxes* track, const TrackTimes& tt) {
  ImportFile* file = imp->file;
  auto* mvhd = movie_record<MvhdRecord>(imp->root, BoxTypeId::Mvhd);
  if (mvhd == nullptr) return ErrorCode::Missing;
  int64_t media_time = tt.first_shown;
  int64_t presented = tt.presented_ns;
  if (presented < 0) {
    media_time += static_cast<int64_t>(rescale(static_cast<uint64_t>(-presented), 1000000000u, tt.timescale));
    presented = 0;
  }
  if (media_time == 0 && presented == 0 && !tt.trimmed) return ErrorCode::Ok;
  VT_TRY(add_track_box(file, track, BoxTypeId::Edts));
  VT_TRY(add_track_box(file, track, BoxTypeId::Elst));
  const uint64_t delay = rescale(static_cast<uint64_t>(presented), 1000000000u, mvhd->timescale);
  if (delay > 0) VT_TRY(add_edit(file, track, delay, kEmptyEdit, 1, 0));
  const uint64_t shown = tt.shown_end > static_cast<uint64_t>(media_time) ? tt.shown_end - media_time : 0;
  return add_edit(file, track, rescale(shown, tt.timescale, mvhd->timescale), media_time, 1, 0);
}

// Records why a track is left out, for the user.
void note_left_out(MkvImport* imp, const MkvTrack* t, const char* why) {
  ImportFile* file = imp->file;
  if (file->note_count >= kMaxImportNotes) return;
  std::snprintf(file->notes[file->note_count++].text, sizeof file->notes[0].text,
                "Matroska track %llu (%.63s) is left out: %.80s", static_cast<unsigned long long>(t->number), t->codec_id,
                why);
}

// The 'roll' group of a codec that needs `preroll` ns decoded before what
// is shown (Opus): every sample recovers `distance` samples back.
ErrorCode add_roll_group(TrackBoxes* track, uint64_t preroll, uint32_t timescale, uint32_t frame, uint32_t samples) {
  if (preroll == 0 || frame == 0 || samples == 0) return ErrorCode::Ok;
  const uint64_t back = (rescale(preroll, 1000000000u, timescale) + frame - 1) / frame;
  if (back == 0 || back > 0x7FFF) return ErrorCode::Ok;
  SampleGroupsRecord* groups = sample_groups_make(track);
  if (groups == nullptr) return ErrorCode::OutOfMemory;
  uint8_t sgpd[26] = {0, 0, 0, 26, 's', 'g', 'p', 'd', 1, 0, 0, 0, 'r', 'o', 'l', 'l', 0, 0, 0, 2, 0, 0, 0, 1};
  const uint16_t distance = static_cast<uint16_t>(-static_cast<int32_t>(back));
  sgpd[24] = static_cast<uint8_t>(distance >> 8);
  sgpd[25] = static_cast<uint8_t>(distance);
  OwnedBlock description{};
  VT_TRY(block_assign(&description, sgpd, sizeof sgpd));
  ErrorCode e = groups->descriptions.append(description);
  if (e != ErrorCode::Ok) {
    block_release(&description);
    return e;
  }
  SampleGrouping grouping{};
  grouping.grouping_type = FourCC::of("roll").to_u32();
  VT_TRY(grouping.runs.append(GroupRun{samples, 1}));
  e = groups->groupings.append(grouping);
  if (e != ErrorCode::Ok) grouping.runs.release();
  return e;
}

ErrorCode build_track(MkvImport* imp, MkvTrack* t, uint32_t track_id) {
  ImportFile* file = imp->file;
  const Codec* codec = codec_of(t->codec_id);
  // Tracks left out: a codec without an MP4 form, an encoding not undone, no frames.
  if (codec == nullptr) {
    note_left_out(imp, t, "its codec has no MP4 form Vantorel writes");
    return ErrorCode::Ok;
  }
  if (t->frames.count == 0) return ErrorCode::Ok;
  const bool text = codec->build == nullptr;
  if (text ? t->type != kMkvSubtitle : (t->type == kMkvVideo) != (codec->id[0] == 'V')) return ErrorCode::Ok;
  const uint32_t n = t->frames.count;
  // Every time in ns, and every difference of two, fits 63 bits.
  const int64_t most = (int64_t{1} << 61) / static_cast<int64_t>(imp->timestamp_scale);
  for (uint32_t i = 0; i < n; ++i)
    if (t->frames[i].time > most || t->frames[i].time < -most) return malformed(file, "Matroska block time out of range");
  // The frames as the MP4 holds them, when that is not as the file does.
  ConvertedTrack converted{};
  const bool encoded = t->encodings > 0;
  const char* why = nullptr;
  ErrorCode e = encoded ? mkv_decode_frames(imp, t, &converted, &why) : ErrorCode::Ok;
  if (e == ErrorCode::Ok && why == nullptr && text)
    e = mkv_build_text_track(imp, t, encoded ? &converted : nullptr, track_id, &why);
  if (e != ErrorCode::Ok || why != nullptr || text) {
    if (e == ErrorCode::Ok && why != nullptr) note_left_out(imp, t, why);
    converted_release(&converted);
    return e;
  }
  const ConvertedTrack* decoded = encoded ? &converted : nullptr;
  // Enough of the first frame for its headers and leading NAL units.
  uint8_t first[4096];
  uint32_t first_n = peek_frame(imp, t, decoded, 0, first, sizeof first);
  MkvBytes entry{};
  EntryPlan plan{};
  plan.timescale = rate_of(t);
  bool built = codec->build(imp, t, first, first_n, &entry, &plan) && entry.e == ErrorCode::Ok && plan.timescale != 0;
  if (built && plan.swap16 && encoded) {
    note_left_out(imp, t, "its 16-bit little-endian PCM has a content encoding");
    built = false;
  } else if (!built && entry.e == ErrorCode::Ok) {
    note_left_out(imp, t, "its codec configuration is missing or malformed");
  }
  if (!built) {
    entry.b.release();
    converted_release(&converted);
    return entry.e == ErrorCode::OutOfMemory ? ErrorCode::OutOfMemory : ErrorCode::Ok;
  }
  for (uint32_t i = 0; plan.swap16 && e == ErrorCode::Ok && i < n; ++i) {
    SamplePiece swapped{t->frames[i].offset, t->frames[i].size, kPieceSwap16};
    e = converted_add_sample(&converted, &swapped, 1);
  }
  TrackTimes tt{};
  tt.pts = static_cast<int64_t*>(std::calloc(n, sizeof(int64_t)));
  tt.durations = static_cast<uint32_t*>(std::calloc(n, sizeof(uint32_t)));
  if (e == ErrorCode::Ok && (tt.pts == nullptr || tt.durations == nullptr)) e = ErrorCode::OutOfMemory;
  if (e == ErrorCode::Ok && plan.kind == kHandlerVideo) {
    e = video_times(imp, t, &tt);
  } else if (e == ErrorCode::Ok) {
    tt.timescale = plan.timescale;
    audio_durations(imp, t, decoded, plan, tt.durations);
    for (uint32_t i = 0; i < n; ++i) tt.shown_end += tt.durations[i];
    tt.presented_ns = t->frames[0].time * static_cast<int64_t>(imp->timestamp_scale);
    if (plan.opus_pre_skip > 0) {
      // The pre-skip is the codec delay the block times already leave out.
      tt.first_shown = plan.opus_pre_skip;
      tt.presented_ns += static_cast<int64_t>(rescale(plan.opus_pre_skip, 48000, 1000000000u)) -
                         static_cast<int64_t>(t->codec_delay);
    }
    // The last block's DiscardPadding: samples decoded but never played.
    if (t->discard_frame == n && t->discard_padding > 0) {
      const uint64_t cut = std::min<uint64_t>(rescale(static_cast<uint64_t>(t->discard_padding), 1000000000u,
                                                      tt.timescale),
                                              tt.durations[n - 1]);
      tt.shown_end -= cut;
      tt.trimmed = cut > 0;
    }
  }
  TrackBoxes* track = nullptr;
  if (e == ErrorCode::Ok) {
    char language[4];
    mkv_language(t, language);
    TrackSetup setup{};
    setup.kind = plan.kind;
    setup.timescale = tt.timescale;
    setup.handler_name = t->name[0] != '\0' ? t->name : nullptr;
    setup.language = language;
    setup.track_id = track_id;
    track = create_track(file, &setup);
    if (track == nullptr) e = ErrorCode::Missing;
  }
  if (e == ErrorCode::Ok) e = mkv_set_entry(imp, track, entry);
  if (e == ErrorCode::Ok) e = add_edits(imp, track, tt);
  if (e == ErrorCode::Ok && plan.kind == kHandlerSound)
    e = add_roll_group(track, t->seek_preroll, tt.timescale, tt.durations[0], n);
  if (e == ErrorCode::Ok) {
    auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd);
    if (tkhd == nullptr) e = ErrorCode::Missing;
    else if (t->enabled == 0) tkhd->flags &= ~uint32_t{kTrackEnabled};
    if (tkhd != nullptr && plan.kind == kHandlerVideo) {
      tkhd->width = static_cast<uint32_t>(std::min<uint64_t>(t->width, 0xFFFF)) << 16;
      tkhd->height = static_cast<uint32_t>(std::min<uint64_t>(t->height, 0xFFFF)) << 16;
    }
  }
  // Last, so that a track removed on failure leaves no pieces behind.
  if (e == ErrorCode::Ok) e = hand_over_frames(imp, track, t, tt.pts, tt.durations, tt.shift, &converted);
  if (e != ErrorCode::Ok && track != nullptr) remove_track(file, find_track(imp->root, track_id));
  converted_release(&converted);
  entry.b.release();
  std::free(tt.pts);
  std::free(tt.durations);
  return e;
}

// Tracks of one type are alternatives to each other: one group per type,
// and of each group only the default tracks are enabled (the first usable
// one when none is the default).
void set_alternates(MkvImport* imp, const MkvTrack* const* built, uint32_t count) {
  const uint64_t types[] = {kMkvVideo, kMkvAudio, kMkvSubtitle};
  for (uint32_t g = 0; g < 3; ++g) {
    uint32_t members = 0, enabled = 0;
    for (uint32_t i = 0; i < count; ++i) members += built[i] != nullptr && built[i]->type == types[g];
    if (members < 2) continue;
    TkhdRecord* first_usable = nullptr;
    for (uint32_t i = 0; i < count; ++i) {
      if (built[i] == nullptr || built[i]->type != types[g]) continue;
      auto* tkhd = track_record<TkhdRecord>(find_track(imp->root, i + 1), BoxTypeId::Tkhd);
      if (tkhd == nullptr) continue;
      tkhd->alternate_group = static_cast<uint16_t>(g + 1);
      const bool usable = built[i]->enabled != 0;
      if (usable && first_usable == nullptr) first_usable = tkhd;
      if (usable && built[i]->is_default != 0) {
        tkhd->flags |= kTrackEnabled;
        ++enabled;
      } else {
        tkhd->flags &= ~uint32_t{kTrackEnabled};
      }
    }
    if (enabled == 0 && first_usable != nullptr) first_usable->flags |= kTrackEnabled;
  }
}

}  // namespace

// Gives the track the entry `bytes` describes, read as an MP4 reader reads
// an 'stsd', so the entry is both parsed and kept whole.
ErrorCode mkv_set_entry(MkvImport* imp, TrackBoxes* track, const MkvBytes& entry) {
  ImportFile* file = imp->file;
  auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
  if (stsd == nullptr) return ErrorCode::Missing;
  while (stsd->entry_count > 0) VT_TRY(stsd_remove_entry(file, track, stsd->entry_count - 1));
  MkvBytes box{};
  uint32_t at = box.open("stsd");
  box.u32(0);
  box.u32(1);
  box.put(entry.b.items, entry.b.count);
  box.close(at);
  ErrorCode e = box.e;
  if (e == ErrorCode::Ok) {
    BoxHeader h;
    make_box_header(&h, FourCC::of("stsd"), nullptr, 0, box.b.count, box.b.count);
    ScopedMemoryStream view(file);
    e = view.open_view(box.b.items, box.b.count);
    if (e == ErrorCode::Ok) e = file_seek(file, 8);
    if (e == ErrorCode::Ok) e = stsd_read(file, &h, track);
  }
  box.b.release();
  return e;
}

ErrorCode mkv_build_tracks(MkvImport* imp) {
  ImportFile* file = imp->file;
  // A block the file cuts inside its header still counts as a frame that is
  // missing: one past the end of the file, for the last track that had one.
  if (imp->cut_track != 0) {
    MkvTrack* last = nullptr;
    uint64_t last_offset = 0;
    for (uint32_t i = 0; i < imp->track_count; ++i) {
      MkvTrack* t = imp->tracks[i];
      if (t->frames.count > 0 && t->frames.back().offset >= last_offset) {
        last = t;
        last_offset = t->frames.back().offset;
      }
    }
    if (last != nullptr) {
      MkvFrame missing{imp->file_size, 1, 0, last->frames.back().time, 0};
      VT_TRY(last->frames.append_doubling(missing));
    }
  }
  uint32_t id = 1;
  const MkvTrack* built[kMatroskaMaxTracks] = {};  // by track id - 1
  for (uint32_t i = 0; i < imp->track_count; ++i) {
    uint32_t before = track_count(imp->root);
    VT_TRY(build_track(imp, imp->tracks[i], id));
    if (track_count(imp->root) > before) built[id++ - 1] = imp->tracks[i];
  }
  set_alternates(imp, built, id - 1);
  VT_TRY(update_durations(file, imp->root));
  VT_TRY(set_next_track_id(imp->root));
  bool any_sample = false;
  for (uint32_t i = 0; i < track_count(imp->root); ++i) {
    TrackBoxes* track = track_at(imp->root, i);
    VT_TRY(stss_drop_if_redundant(file, track));
    if (sample_count(track) > 0) any_sample = true;
  }
  if (file->mode == kOpenInspect || any_sample) return ErrorCode::Ok;
  set_error_reason(file, "a Matroska file without a track Vantorel can carry");
  return ErrorCode::Unsupported;
}

}  // namespace vantorel
