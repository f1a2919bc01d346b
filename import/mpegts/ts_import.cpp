// Transport streams into tracks: the first pass indexes the packets and
// splits each carried stream into access units; each becomes a track with
// its sample entry, times on one line with the first video track's, and
// samples that are expanded from the packets (and, for H.264, given length
// prefixes) when they are read.
#include "import/mpegts/ts_import.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "codecs/aac.h"
#include "codecs/ac3.h"
#include "codecs/bluray_lpcm.h"
#include "codecs/dts.h"
#include "codecs/eac3.h"
#include "codecs/es_descriptor.h"
#include "codecs/mpeg12_video.h"
#include "codecs/vc1.h"
#include "codecs/mpeg_audio.h"
#include "codecs/opus.h"
#include "codecs/truehd.h"
#include "import/format_headers.h"
#include "import/imported_sample.h"
#include "import/mpegts/ts_access.h"
#include "import/mpegts/ts_entries.h"
#include "import/mpegts/ts_notes.h"
#include "io/file_io.h"
#include "sampletables/movie_upkeep.h"
#include "sampletables/random_access_groups.h"
#include "sampletables/stsd.h"
#include "sampletables/stsz.h"
#include "sampletables/table_fixups.h"
#include "sampletables/track_builder.h"

namespace vantorel {

namespace {

constexpr uint32_t kMaxTracks = 64;

// ---- Reading samples back --------------------------------------------------

struct ReaderTrack {
  uint16_t pid;
  bool lpcm;                // Blu-ray LPCM, by its header
  BlurayLpcmHeader header;
  GrowArray<EsLocator> where;
  // H.264 and HEVC: each description's parameter sets (left out of the
  // samples read by it), and by sample the configuration it is read by.
  TsNalConfigs* configs;
  GrowArray<uint8_t> config_of;  // and kRestartsStream
  GrowArray<uint16_t> sets_held;  // by sample: of its configuration's sets, those it was measured against
  LatmConfig* latm;  // AAC in LATM: the configuration every element has
  // H.264: where each sample's units lie (kTsNoLayout: found by searching).
  GrowArray<uint8_t> layouts;
  GrowArray<uint32_t> layout_at;
};

// Beside a sample's configuration (fewer than kTsMaxDescriptions): the
// sync sample a stream restarts at after a jump, whose HEVC CRA picture is
// marked as the splice point it is (BLA), so that decoders start afresh.
constexpr uint8_t kRestartsStream = 0x80;
static_assert(kTsMaxDescriptions <= kRestartsStream);

// An access unit as its sample holds it: its size, and its bytes into
// `out` when they are at most `capacity`.
bool sample_form(const ReaderTrack& t, uint32_t index, const uint8_t* raw, uint32_t n, uint8_t* out, uint32_t capacity,
                 uint32_t* size) {
  if (t.lpcm) {
    const uint32_t frames = n / bluray_lpcm_stored_frame(t.header);
    *size = frames * bluray_lpcm_frame(t.header);
    if (out != nullptr && *size <= capacity) bluray_lpcm_convert(t.header, raw, frames, out);
    return true;
  }
  if (t.latm != nullptr) {
    LatmConfig config = *t.latm;
    uint32_t needed = 0;
    if (n <= kLoasHeaderSize ||
        latm_read_element(raw + kLoasHeaderSize, n - kLoasHeaderSize, &config, nullptr, nullptr, &needed) !=
            ErrorCode::Ok)
      return false;
    *size = needed;
    if (out == nullptr || needed > capacity) return true;
    return latm_read_element(raw + kLoasHeaderSize, n - kLoasHeaderSize, &config, nullptr, out, size) == ErrorCode::Ok;
  }
  const uint32_t c = index < t.config_of.count ? t.config_of[index] & ~kRestartsStream : 0;
  const bool restart = index < t.config_of.count && (t.config_of[index] & kRestartsStream) != 0;
  // Sets its description gained after it was measured stay in the sample.
  const uint32_t held = index < t.sets_held.count ? t.sets_held[index] : 0;
  return ts_nal_sample(t.configs->codec, raw, n, c < t.configs->count ? &t.configs->configs[c] : nullptr, out,
                       capacity, size, restart, held);
}

// Shared by the tracks of one file; the last track to let it go frees it.
struct Reader {
  uint32_t holders;
  EsSource source;  // when it has an expander, the bytes come from it instead of packets
  TsLayout layout;
  TsWindow window;
  FileIo* window_file;
  GrowArray<uint8_t> raw;
  GrowArray<uint8_t> converted;
  uint32_t count;
  ReaderTrack tracks[kMaxTracks];
};

void reader_free(Reader* r) {
  for (uint32_t i = 0; i < r->count; ++i) {
    r->tracks[i].where.release();
    ts_nal_configs_release(r->tracks[i].configs);
    std::free(r->tracks[i].latm);
    std::free(r->tracks[i].configs);
    r->tracks[i].config_of.release();
    r->tracks[i].sets_held.release();
    r->tracks[i].layouts.release();
    r->tracks[i].layout_at.release();
  }
  ts_window_release(&r->window);
  r->raw.release();
  r->converted.release();
  if (r->source.release != nullptr) r->source.release(r->source.state);
  std::free(r);
}

void reader_release(void* state) {
  auto* r = static_cast<Reader*>(state);
  if (r != nullptr && --r->holders == 0) reader_free(r);
}

// Whether a packet starts at `offset`, reading afresh when the window's
// bytes say no: they may be those of a pass that reads none (a measuring
// pass reads zeros). NoMore when the file itself reads as zeros there: the
// bytes are not used, and the packets are not walked, for a walk over zeros
// would search the rest of the file for a sync byte.
ErrorCode packet_at(Reader* r, uint64_t offset) {
  const uint8_t* p = nullptr;
  uint32_t got = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    VT_TRY(ts_window_get(&r->window, offset, 1, &p, &got));
    if (got == 1 && p[0] == kTsSync) return ErrorCode::Ok;
    r->window.length = 0;
    r->window.io_position = UINT64_MAX;
  }
  return got == 1 && p[0] == 0 ? ErrorCode::NoMore : ErrorCode::Malformed;
}

// The bytes of one access unit, before any conversion, into `out`.
ErrorCode expand_raw(Reader* r, const ReaderTrack& t, const EsLocator& where, uint8_t* out) {
  VT_TRY(packet_at(r, where.pes_offset));
  return ts_expand(&r->window, r->layout, t.pid, where, out);
}

ErrorCode reader_expand(void* state, FileIo* file, uint64_t locator, uint8_t* out, uint32_t count) {
  auto* r = static_cast<Reader*>(state);
  const uint64_t slot = locator >> 32;
  const uint32_t index = static_cast<uint32_t>(locator);
  if (r == nullptr || file == nullptr || slot >= r->count || index >= r->tracks[slot].where.count)
    return ErrorCode::BadArgument;
  if (r->source.expand != nullptr) {
    const ReaderTrack& t = r->tracks[slot];
    const EsLocator& where = t.where[index];
    if (count > where.length) return ErrorCode::Malformed;
    uint8_t* raw = out;
    if (count < where.length) {
      VT_TRY(r->raw.reserve(where.length));
      raw = r->raw.items;
    }
    VT_TRY(r->source.expand(r->source.state, file, t.pid, where, raw));
    if (raw != out) std::memcpy(out, raw, count);
    return ErrorCode::Ok;
  }
  VT_TRY(ts_window_follow(&r->window, &r->window_file, file));
  // Others move the file's position between samples.
  r->window.io_position = UINT64_MAX;
  const ReaderTrack& t = r->tracks[slot];
  const EsLocator& where = t.where[index];
  // A picture whose layout is known goes from the packets straight into
  // `out`, when the whole sample is asked for.
  uint32_t sample_end = 0, sample_size = 0;
  const uint32_t laid_at = index < t.layout_at.count ? t.layout_at[index] : kTsNoLayout;
  if (laid_at != kTsNoLayout &&
      ts_layout_read(t.layouts.items, t.layouts.count, laid_at, &sample_end, &sample_size) && sample_size == count) {
    ErrorCode e = packet_at(r, where.pes_offset);
    if (e == ErrorCode::NoMore) {
      std::memset(out, 0, count);
      return ErrorCode::Ok;
    }
    VT_TRY(e);
    TsLayoutWriter writer;
    ts_layout_writer_start(&writer, t.layouts.items, t.layouts.count, laid_at, out, count);
    VT_TRY(ts_expand_pieces(&r->window, r->layout, t.pid, where, ts_layout_take, &writer));
    return ts_layout_writer_done(writer) ? ErrorCode::Ok : ErrorCode::Malformed;
  }
  // Annex B video, LATM audio and Blu-ray LPCM are converted; other
  // samples are the bytes.
  const bool converted = t.configs != nullptr || t.latm != nullptr || t.lpcm;
  if (!converted && count > where.length) return ErrorCode::Malformed;
  uint8_t* raw = out;
  if (converted || count < where.length) {
    VT_TRY(r->raw.reserve(where.length > 0 ? where.length : 1));
    raw = r->raw.items;
  }
  ErrorCode e = expand_raw(r, t, where, raw);
  if (e == ErrorCode::NoMore) {
    std::memset(out, 0, count);
    return ErrorCode::Ok;
  }
  VT_TRY(e);
  if (!converted) {
    if (raw != out) std::memcpy(out, raw, count);
    return ErrorCode::Ok;
  }
  // Most reads are of whole samples: converted straight into `out`.
  uint32_t size = 0;
  if (!sample_form(t, index, raw, where.length, out, count, &size) || size < count) return ErrorCode::Malformed;
  if (size == count) return ErrorCode::Ok;
  VT_TRY(r->converted.reserve(size));
  sample_form(t, index, raw, where.length, r->converted.items, size, &size);
  std::memcpy(out, r->converted.items, count);
  return ErrorCode::Ok;
}

// ---- Times -----------------------------------------------------------------

// A track's samples on its own time scale, and where it starts on the
// program's 90 kHz line.
struct TrackTimes {
  uint32_t timescale;
  GrowArray<uint32_t> kept;  // indexes of the access units that become samples
  GrowArray<uint32_t> restarts;  // of `kept`: sync samples that follow a jump
  GrowArray<uint32_t> durations;
  GrowArray<int32_t> offsets;
  int64_t first_shown;      // 90 kHz line: when its first sample is shown
  int64_t media_start;      // media units: the composition time of the first sample shown
  uint64_t shown_end;       // media units: where the last sample shown ends
  uint32_t jumps;
  uint64_t first_jump_at;
  bool jump_back;
  void release() {
    kept.release();
    restarts.release();
    durations.release();
    offsets.release();
  }
};

struct Rate {
  uint32_t num, den;
};
// Larger steps first, so a stream is not taken for one of twice its rate.
constexpr Rate kRates[] = {{24000, 1001}, {24, 1}, {25, 1},    {30000, 1001}, {30, 1},
                           {48, 1},       {50, 1}, {60000, 1001}, {60, 1}};

// The rate every valid step fits within a tick, as a whole number of frames.
const Rate* fit_rate(const int64_t* steps, uint32_t n) {
  for (const Rate& rate : kRates) {
    const double step = 90000.0 * rate.den / rate.num;
    bool fits = n > 0;
    for (uint32_t i = 0; i < n && fits; ++i) {
      if (steps[i] <= 0) continue;  // a jump: not a step
      const double frames = std::round(static_cast<double>(steps[i]) / step);
      fits = frames >= 1 && frames <= 1000 && std::fabs(static_cast<double>(steps[i]) - frames * step) <= 1.0;
    }
    if (fits) return &rate;
  }
  return nullptr;
}

ErrorCode video_times(const TsStreamAccess* s, bool cut_at_end, TrackTimes* tt) {
  const GrowArray<TsAccessUnit>& units = s->units;
  uint32_t first = 0;
  while (first < units.count && ((units[first].flags & kTsAuBroken) != 0 || (units[first].flags & kTsAuSync) == 0))
    ++first;
  uint32_t end = units.count;
  // A picture the end of the file cut is not whole.
  if (cut_at_end && end > first && (units[end - 1].flags & kTsAuOpenAtEnd) != 0) --end;
  // Pictures that lead the first sync sample reference what came before
  // it. After a jump in time (two recordings joined) what came before is
  // another stream: pictures up to the next sync sample are dropped, and
  // that one's leading pictures too, as those of a splice point (BLA).
  bool leading = true, awaiting_sync = false;
  int64_t last_dts = units.count > first ? units[first].dts : INT64_MIN;  // INT64_MIN: not known
  for (uint32_t i = first + 1; i <= end; ++i) {
    const uint32_t at = i - 1;
    const TsAccessUnit& u = units[at];
    if (at > first) {
      // A unit that lost its bytes or its time tells no jump.
      const bool timed = (u.flags & kTsAuBroken) == 0 && u.dts != INT64_MIN && last_dts != INT64_MIN;
      if (timed && ts_jump(last_dts, u.dts, (u.flags & kTsAuDiscontinuity) != 0, kTsClockRate) != TsJump::None)
        awaiting_sync = true;
      if ((u.flags & kTsAuSync) != 0) {
        leading = awaiting_sync || (u.flags & kTsAuSplice) != 0;
        if (awaiting_sync && (u.flags & kTsAuBroken) == 0) VT_TRY(tt->restarts.append_doubling(tt->kept.count));
        awaiting_sync = false;
      } else if (awaiting_sync || (leading && (u.flags & kTsAuLeading) != 0)) {
        continue;
      } else {
        leading = false;
      }
    }
    if ((u.flags & kTsAuBroken) != 0) continue;
    if (u.dts != INT64_MIN) last_dts = u.dts;
    VT_TRY(tt->kept.append_doubling(at));
  }
  const uint32_t n = tt->kept.count;
  if (n == 0) return ErrorCode::Ok;
  // Steps between decode times; 0 marks a jump.
  int64_t* steps = static_cast<int64_t*>(std::calloc(n, sizeof(int64_t)));
  if (steps == nullptr) return ErrorCode::OutOfMemory;
  for (uint32_t i = 0; i + 1 < n; ++i) {
    const TsAccessUnit& a = units[tt->kept[i]];
    const TsAccessUnit& b = units[tt->kept[i + 1]];
    const TsJump jump = ts_jump(a.dts, b.dts, (b.flags & kTsAuDiscontinuity) != 0, kTsClockRate);
    steps[i] = jump == TsJump::None && b.dts > a.dts ? b.dts - a.dts : 0;
    if (steps[i] == 0) {
      if (tt->jumps++ == 0) {
        tt->first_jump_at = b.where.pes_offset;
        tt->jump_back = b.dts < a.dts;
      }
    }
  }
  const Rate* rate = fit_rate(steps, n - 1);
  const double step = rate != nullptr ? 90000.0 * rate->den / rate->num : 1.0;
  // A rate of whole frames per second counts in a multiple of 1000, so a
  // start delay of whole milliseconds is kept in its time scale too.
  uint32_t scale_up = 1;
  if (rate != nullptr && rate->num < 1000) {
    uint32_t a = rate->num, b = 1000;
    while (b != 0) {
      const uint32_t t = a % b;
      a = b;
      b = t;
    }
    scale_up = 1000 / a;
  }
  tt->timescale = rate != nullptr ? rate->num * scale_up : static_cast<uint32_t>(kTsClockRate);
  const uint32_t unit = rate != nullptr ? rate->den * scale_up : 1;
  ErrorCode e = tt->durations.reserve(n);
  if (e == ErrorCode::Ok) e = tt->offsets.reserve(n);
  uint32_t previous = rate != nullptr ? unit : 3003;
  for (uint32_t i = 0; i < n && e == ErrorCode::Ok; ++i) {
    uint64_t d = previous;
    if (i + 1 < n && steps[i] > 0) d = static_cast<uint64_t>(std::llround(static_cast<double>(steps[i]) / step)) * unit;
    if (d == 0 || d > UINT32_MAX) d = previous;
    previous = static_cast<uint32_t>(d);
    tt->durations.items[tt->durations.count++] = previous;
    const TsAccessUnit& u = units[tt->kept[i]];
    const int64_t gap = u.pts - u.dts;
    const int64_t offset = rate != nullptr ? std::llround(static_cast<double>(gap) / step) * unit : gap;
    if (offset < INT32_MIN || offset > INT32_MAX) e = ErrorCode::Malformed;
    tt->offsets.items[tt->offsets.count++] = static_cast<int32_t>(offset);
  }
  std::free(steps);
  VT_TRY(e);
  // The first picture shown, and where the last one ends.
  int64_t time = 0, start = INT64_MAX, shown_end = 0;
  int64_t first_pts = INT64_MAX;
  for (uint32_t i = 0; i < n; ++i) {
    const int64_t shown = time + tt->offsets[i];
    if (shown < start) start = shown;
    shown_end = std::max(shown_end, shown + static_cast<int64_t>(tt->durations[i]));
    time += tt->durations[i];
    if (i < 64) first_pts = std::min(first_pts, units[tt->kept[i]].pts);
  }
  tt->media_start = start;
  tt->shown_end = shown_end > 0 ? static_cast<uint64_t>(shown_end) : 0;
  tt->first_shown = first_pts;
  return ErrorCode::Ok;
}

ErrorCode audio_times(const TsStreamAccess* s, TrackTimes* tt) {
  tt->timescale = s->rate;
  const uint32_t n = s->units.count;
  VT_TRY(tt->kept.reserve(n));
  VT_TRY(tt->durations.reserve(n));
  VT_TRY(tt->offsets.reserve(n));
  for (uint32_t i = 0; i < n; ++i) {
    tt->kept.items[tt->kept.count++] = i;
    tt->durations.items[tt->durations.count++] = s->units[i].samples;
    tt->offsets.items[tt->offsets.count++] = 0;
    tt->shown_end += s->units[i].samples;
  }
  tt->first_shown = n > 0 ? s->units[0].pts : 0;
  if (s->kind == TsKind::Opus && n > 0) {
    // The samples the first packet's trim leaves unplayed (the pre-skip),
    // and those of the last packet's: an edit leaves them out.
    const uint64_t start = std::min<uint64_t>(s->start_trim, tt->shown_end);
    tt->media_start = static_cast<int64_t>(start);
    tt->shown_end -= std::min<uint64_t>(s->end_trim, tt->shown_end - start);
    tt->first_shown += static_cast<int64_t>(start * kTsClockRate / 48000);
  }
  return ErrorCode::Ok;
}

// ---- Sample entries ----------------------------------------------------------

ErrorCode set_esds(ImportFile* file, TrackBoxes* track, uint8_t object_type, const uint8_t* info, uint32_t size,
                   uint8_t stream_type = kStreamTypeAudio) {
  if (entry_esds(file, track, 0) == nullptr) VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::Esds));
  EsDescriptorRecord* esds = entry_esds(file, track, 0);
  if (esds == nullptr) return ErrorCode::Missing;
  return esds_set_stream(esds, object_type, stream_type, info, size);
}

// MPEG-1/2 video: 'mp4v' whose decoder specific information is the first
// sequence header with its extensions. `*why` when it does not parse.
ErrorCode set_mpeg12_entry(ImportFile* file, TrackBoxes* track, const TsStreamAccess* s, uint32_t* width,
                           uint32_t* height, const char** why) {
  Mpeg12Sequence sequence;
  const OwnedBlock& h = s->sequence_headers;
  if (h.length == 0 || mpeg12_parse_sequence(h.bytes, h.length, &sequence) != ErrorCode::Ok) {
    *why = "no MPEG video sequence header in the stream";
    return ErrorCode::Ok;
  }
  VisualSampleEntry* entry = visual_entry(file, track, 0);
  if (entry == nullptr) return ErrorCode::Missing;
  entry->format = FourCC::of("mp4v");
  entry->width = static_cast<uint16_t>(sequence.horizontal_size);
  entry->height = static_cast<uint16_t>(sequence.vertical_size);
  *width = sequence.horizontal_size;
  *height = sequence.vertical_size;
  return set_esds(file, track, mpeg12_object_type(&sequence), h.bytes, h.length, kStreamTypeVisual);
}

constexpr const char* kNoVc1Headers = "no whole VC-1 sequence header followed by an entry point in the stream";

// VC-1: 'vc-1' with the 'dvc1' of a sequence header and entry point; the
// entry holds the largest coded size, the track the display size where the
// sequence header gives one.
ErrorCode set_vc1_entry(ImportFile* file, TrackBoxes* track, const OwnedBlock& h, const Vc1StreamFacts& facts,
                        uint32_t* width, uint32_t* height, const char** why) {
  Vc1Sequence sequence;
  if (h.length == 0 || vc1_parse_sequence(h.bytes, vc1_unit_end(h.bytes, h.length, 0), &sequence) != ErrorCode::Ok) {
    *why = kNoVc1Headers;
    return ErrorCode::Ok;
  }
  VisualSampleEntry* entry = visual_entry(file, track, 0);
  if (entry == nullptr) return ErrorCode::Missing;
  entry->format = FourCC::of("vc-1");
  entry->width = static_cast<uint16_t>(sequence.coded_width);
  entry->height = static_cast<uint16_t>(sequence.coded_height);
  *width = sequence.display ? sequence.display_width : sequence.coded_width;
  *height = sequence.display ? sequence.display_height : sequence.coded_height;
  VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::Dvc1));
  entry = visual_entry(file, track, 0);
  if (entry == nullptr || entry->dvc1 == nullptr) return ErrorCode::Missing;
  return dvc1_from_headers(h.bytes, h.length, facts, entry->dvc1);
}

// A sound entry carried as its bytes read (kept beside the parsed one, as
// a read file's entries are): `format` with the configuration box `box`
// that `write` fills.
template <typename Write>
ErrorCode set_whole_entry(ImportFile* file, TrackBoxes* track, const char* format, uint32_t channels, uint32_t rate,
                          uint32_t bits, const char* box, Write write) {
  BoxFile scratch{};
  ScopedMemoryStream memory(&scratch);
  VT_TRY(memory.open_writable());
  VT_TRY(write(&scratch));
  const uint32_t config = 8 + memory.stream()->size;
  GrowArray<uint8_t> e{};
  VT_TRY(e.reserve(kPcmEntrySize + config));
  pcm_entry(e.items, format, channels, rate, bits);
  store_u32be(e.items, kPcmEntrySize + config);
  store_u32be(e.items + kPcmEntrySize, config);
  std::memcpy(e.items + kPcmEntrySize + 4, box, 4);
  std::memcpy(e.items + kPcmEntrySize + 8, memory.stream()->data, memory.stream()->size);
  SoundSampleEntry* entry = sound_entry(file, track, 0);
  auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
  ErrorCode r = entry != nullptr && stsd != nullptr ? ErrorCode::Ok : ErrorCode::Missing;
  if (r == ErrorCode::Ok) {
    entry->format = FourCC::of(format);
    entry->channel_count = static_cast<uint16_t>(channels);
    r = entry_remove_config(file, track, 0, ConfigBoxId::Esds);
  }
  if (r == ErrorCode::Ok) r = block_assign(&stsd->whole_entries, e.items, kPcmEntrySize + config);
  if (r == ErrorCode::Ok) stsd->whole_entry_count = 1;
  e.release();
  return r;
}

// DTS core: 'dtsc' with its 'ddts'.
ErrorCode set_dts_entry(ImportFile* file, TrackBoxes* track, const DtsCoreHeader& core, const DdtsRecord& config) {
  constexpr uint8_t kAmodeChannels[10] = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5};
  const uint32_t channels = kAmodeChannels[core.amode] + (core.lfe != 0 ? 1 : 0);
  return set_whole_entry(file, track, "dtsc", channels, core.sample_rate, core.pcm_bits == 24 ? 24 : 16, "ddts",
                         [&](BoxFile* f) { return ddts_write(f, &config); });
}

ErrorCode set_audio_entry(ImportFile* file, TrackBoxes* track, const TsIndex* index, const TsStreamAccess* s,
                          const TsStream* stream, const char** why) {
  SoundSampleEntry* entry = sound_entry(file, track, 0);
  if (entry == nullptr) return ErrorCode::Missing;
  const uint8_t* f = s->first_frame;
  const uint32_t n = s->first_frame_size;
  entry->sample_size = 16;
  switch (s->kind) {
    case TsKind::AacAdts: {
      AdtsHeader h;
      if (!adts_parse_header(f, n, &h)) break;
      if (h.channel_config == 0) {
        *why = "its AAC channel layout is in a program config element";
        return ErrorCode::Ok;
      }
      uint8_t config[2];
      adts_audio_config(h, config);
      entry->format = FourCC::of("mp4a");
      entry->channel_count = static_cast<uint16_t>(h.channel_config == 7 ? 8 : h.channel_config);
      return set_esds(file, track, kObjectTypeMpeg4Audio, config, 2);
    }
    case TsKind::AacLatm: {
      const LatmConfig* c = s->latm;
      if (c == nullptr || !c->known) break;
      entry->format = FourCC::of("mp4a");
      entry->channel_count = static_cast<uint16_t>(c->channels);
      return set_esds(file, track, kObjectTypeMpeg4Audio, c->asc, c->asc_size);
    }
    case TsKind::MpegAudio: {
      MpegAudioHeader h;
      if (!mpeg_audio_parse_header(f, n, &h)) break;
      entry->format = FourCC::of("mp4a");
      entry->channel_count = static_cast<uint16_t>(mpeg_audio_frame_channels(f, n));
      return set_esds(file, track, h.mpeg1 != 0 ? kObjectTypeMpeg1Audio : kObjectTypeMpeg2Audio, nullptr, 0);
    }
    case TsKind::Ac3: {
      Dac3Record config{};
      if (!ac3_config_from_frame(f, n, &config)) break;
      entry->format = FourCC::of("ac-3");
      entry->channel_count = static_cast<uint16_t>(ac3_channel_count(config.acmod, config.lfeon));
      VT_TRY(entry_remove_config(file, track, 0, ConfigBoxId::Esds));
      VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::Dac3));
      entry = sound_entry(file, track, 0);
      *entry->dac3 = config;
      return ErrorCode::Ok;
    }
    case TsKind::Eac3: {
      Dec3Record config{};
      // The first access unit names the dependent substreams (7.1) too.
      const bool whole = s->first_unit.count > 0 &&
                         eac3_config_from_access_unit(s->first_unit.items, s->first_unit.count, s->rate, &config);
      if (!whole) {
        dec3_release(&config);
        config = Dec3Record{};
        if (!eac3_config_from_frame(f, n, s->rate, &config)) break;
      }
      entry->format = FourCC::of("ec-3");
      entry->channel_count =
          static_cast<uint16_t>(ac3_channel_count(config.substreams[0].acmod, config.substreams[0].lfeon));
      ErrorCode e = entry_remove_config(file, track, 0, ConfigBoxId::Esds);
      if (e == ErrorCode::Ok) e = entry_add_config(file, track, 0, ConfigBoxId::Dec3);
      if (e == ErrorCode::Ok) e = dec3_copy(sound_entry(file, track, 0)->dec3, &config);
      dec3_release(&config);
      return e;
    }
    case TsKind::Dts: {
      DtsCoreHeader core{};
      DdtsRecord config{};
      if (!dts_parse_core(f, n, &core) || !ddts_from_core(&core, &config)) break;
      if (core.ext_audio != 0) {
        *why = "its DTS stream has an extension in the core frame that a core 'dtsc' entry cannot describe";
        return ErrorCode::Ok;
      }
      return set_dts_entry(file, track, core, config);
    }
    case TsKind::Opus: {
      OpusConfigRecord config{};
      if (!stream->descriptors.has_opus_channels) {
        *why = "no Opus channel configuration in its descriptors";
        return ErrorCode::Ok;
      }
      // The descriptor as kept; only its code when the pool had no room.
      const uint8_t* body = &stream->descriptors.opus_channels;
      uint32_t length = 1;
      if (stream->info_length > 0 && stream->info_at + stream->info_length <= index->descriptor_bytes.count)
        ts_find_extension(index->descriptor_bytes.items + stream->info_at, stream->info_length, kTsDescExtensionOpus,
                          &body, &length);
      const ErrorCode read = dops_from_ts_descriptor(body, length, &config);
      if (read != ErrorCode::Ok) {
        *why = read == ErrorCode::Unsupported
                   ? "its Opus channel configuration code is a reserved one"
                   : "its Opus descriptor's explicit channel configuration is cut or out of range";
        return ErrorCode::Ok;
      }
      config.PreSkip = static_cast<uint16_t>(s->start_trim);
      return set_whole_entry(file, track, "Opus", config.OutputChannelCount, 48000, 16, "dOps",
                             [&](BoxFile* f) { return dops_write(f, &config); });
    }
    case TsKind::TrueHd: {
      DmlpRecord config{};
      uint32_t rate = 0;
      if (!dmlp_from_access_unit(f, n, &config, &rate)) break;
      const uint32_t channels = truehd_channel_count(config.format_info);
      if (channels == 0) break;
      uint8_t e[kMlpaEntrySize];
      mlpa_entry(e, channels, rate, config);
      auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
      if (stsd == nullptr) return ErrorCode::Missing;
      entry->format = FourCC::of("mlpa");
      entry->channel_count = static_cast<uint16_t>(channels);
      VT_TRY(entry_remove_config(file, track, 0, ConfigBoxId::Esds));
      VT_TRY(block_assign(&stsd->whole_entries, e, kMlpaEntrySize));
      stsd->whole_entry_count = 1;
      return ErrorCode::Ok;
    }
    case TsKind::Lpcm:
    case TsKind::DvdLpcm: {
      if (s->pcm_channels == 0 || (s->pcm_bits != 16 && s->pcm_bits != 24)) break;
      entry->format = FourCC::of(s->pcm_bits == 16 ? "twos" : "in24");
      entry->channel_count = s->pcm_channels;
      entry->sample_size = s->pcm_bits;
      VT_TRY(entry_remove_config(file, track, 0, ConfigBoxId::Esds));
      // One sample per frame, 'stsz' giving the bytes of a frame.
      TrackExtra* extra = track_extra(track);
      if (extra == nullptr) return ErrorCode::OutOfMemory;
      extra->pcm_frame_size = uint32_t{s->pcm_channels} * (s->pcm_bits / 8);
      if (s->pcm_bits == 16) return ErrorCode::Ok;
      // 'in24' is carried as its entry reads, kept beside the parsed one as
      // a read file's entries are: only a QuickTime movie holds it.
      uint8_t e[kPcmEntrySize];
      pcm_entry(e, "in24", s->pcm_channels, s->rate, 24);
      auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
      if (stsd == nullptr) return ErrorCode::Missing;
      VT_TRY(block_assign(&stsd->whole_entries, e, kPcmEntrySize));
      stsd->whole_entry_count = 1;
      return ErrorCode::Ok;
    }
    default: break;
  }
  *why = "its first frame header does not parse";
  return ErrorCode::Ok;
}

// ---- Tracks ------------------------------------------------------------------

struct Built {
  TsStreamAccess* access;
  const TsStream* stream;
  TrackTimes times;
  uint32_t track_id;
  uint32_t slot;  // in the reader
};

struct Import {
  ImportFile* file;
  FileBoxes* root;
  const TsIndex* index;
  TsAccessPass* pass;
  Reader* reader;
  Built built[kMaxTracks];
  uint32_t built_count;
};

bool video_kind(TsKind kind) {
  return kind == TsKind::H264 || kind == TsKind::Hevc || kind == TsKind::Vc1 || kind == TsKind::Mpeg1Video ||
         kind == TsKind::Mpeg2Video;
}

// VC-1: an entry per sequence header the kept frames are read by, in order.
ErrorCode vc1_entries(Import* imp, TrackBoxes* track, Built* b, uint32_t* width, uint32_t* height, const char** why) {
  const TsStreamAccess* s = b->access;
  const OwnedBlock* blocks[kTsMaxDescriptions];
  uint32_t count = 0;
  for (uint32_t i = 0; i < b->times.kept.count; ++i) {
    const uint32_t d = s->units[b->times.kept[i]].description;
    const OwnedBlock* h = d == 0 ? &s->sequence_headers : d <= s->vc1_later.count ? &s->vc1_later[d - 1] : nullptr;
    if (h == nullptr) return ErrorCode::BadArgument;
    if ((count == 0 || blocks[count - 1] != h) && count < kTsMaxDescriptions) blocks[count++] = h;  // never falls
  }
  if (count <= 1)
    return set_vc1_entry(imp->file, track, count == 1 ? *blocks[0] : s->sequence_headers, s->vc1, width, height, why);
  const ErrorCode e = ts_set_vc1_entries(imp->file, track, blocks, count, s->vc1, width, height);
  if (e == ErrorCode::BadArgument) *why = kNoVc1Headers;
  return e == ErrorCode::BadArgument ? ErrorCode::Ok : e;
}

// H.264 and HEVC: the configurations the kept samples are read by, in
// order, and each sample's description.
ErrorCode nal_entries(Import* imp, TrackBoxes* track, Built* b, uint32_t* width, uint32_t* height) {
  const TsStreamAccess* s = b->access;
  uint32_t used[kTsMaxDescriptions];
  uint32_t count = 0;
  for (uint32_t i = 0; i < b->times.kept.count; ++i) {
    const uint32_t c = s->units[b->times.kept[i]].description;
    if (count == 0 || used[count - 1] != c) used[count++] = c;  // the indexes never fall
  }
  return ts_set_nal_entries(imp->file, track, s->configs, used, count, width, height);
}

ErrorCode add_edits(Import* imp, TrackBoxes* track, const TrackTimes& tt, int64_t earliest) {
  const uint64_t delay = static_cast<uint64_t>(tt.first_shown - earliest);
  if (delay == 0 && tt.media_start == 0) return ErrorCode::Ok;
  auto* mvhd = movie_record<MvhdRecord>(imp->root, BoxTypeId::Mvhd);
  if (mvhd == nullptr) return ErrorCode::Missing;
  VT_TRY(add_track_box(imp->file, track, BoxTypeId::Edts));
  VT_TRY(add_track_box(imp->file, track, BoxTypeId::Elst));
  if (delay > 0) VT_TRY(add_edit(imp->file, track, rescale(delay, 90000, mvhd->timescale), kEmptyEdit, 1, 0));
  const uint64_t start = tt.media_start > 0 ? static_cast<uint64_t>(tt.media_start) : 0;
  const uint64_t shown = tt.shown_end > start ? tt.shown_end - start : 0;
  return add_edit(imp->file, track, rescale(shown, tt.timescale, mvhd->timescale), static_cast<int64_t>(start), 1, 0);
}

// The reader takes the stream's picture layouts, and notes where each
// kept sample's begins.
ErrorCode take_layouts(TsStreamAccess* s, const GrowArray<uint32_t>& kept, ReaderTrack* rt) {
  if (s->layouts.count == 0) return ErrorCode::Ok;
  GrowArray<uint32_t> starts{};
  ErrorCode e = starts.reserve(s->units.count);
  if (e == ErrorCode::Ok) e = rt->layout_at.reserve(kept.count);
  uint32_t at = 0;
  bool readable = true;  // a sample without a layout is searched: never worse than slower
  for (uint32_t i = 0; i < s->units.count && e == ErrorCode::Ok; ++i) {
    uint32_t start = kTsNoLayout, end = 0, size = 0;
    if ((s->units[i].flags & kTsAuLaidOut) != 0 && readable) {
      readable = ts_layout_read(s->layouts.items, s->layouts.count, at, &end, &size);
      if (readable && size == s->units[i].size) start = at;
      at = end;
    }
    starts.items[starts.count++] = start;
  }
  for (uint32_t i = 0; i < kept.count && e == ErrorCode::Ok; ++i)
    rt->layout_at.items[rt->layout_at.count++] = kept[i] < starts.count ? starts[kept[i]] : kTsNoLayout;
  starts.release();
  if (e != ErrorCode::Ok) {
    rt->layout_at.count = 0;
    return e;
  }
  rt->layouts = s->layouts;
  s->layouts = GrowArray<uint8_t>{};
  return ErrorCode::Ok;
}

// The samples of a built track, handed over as located samples.
ErrorCode hand_over(Import* imp, TrackBoxes* track, Built* b) {
  const TrackTimes& tt = b->times;
  const uint32_t n = tt.kept.count;
  ReaderTrack& rt = imp->reader->tracks[b->slot];
  VT_TRY(rt.where.reserve(n));
  if (rt.configs != nullptr) VT_TRY(rt.config_of.reserve(n));
  if (rt.configs != nullptr) VT_TRY(rt.sets_held.reserve(n));
  uint32_t description = 0;
  VT_TRY(take_layouts(b->access, tt.kept, &rt));
  auto* samples = static_cast<ImportedSample*>(std::calloc(n, sizeof(ImportedSample)));
  if (samples == nullptr) return ErrorCode::OutOfMemory;
  uint64_t time = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const TsAccessUnit& u = b->access->units[tt.kept[i]];
    rt.where.items[rt.where.count++] = u.where;
    ImportedSample& s = samples[i];
    s.at = (uint64_t{b->slot} << 32) | i;
    s.decode_time = time;
    s.size = u.size;
    s.duration = tt.durations[i];
    s.composition_offset = tt.offsets[i];
    s.description = 1;
    if (rt.configs != nullptr || b->access->kind == TsKind::Vc1) {
      // Descriptions are numbered in the order their configurations are used.
      if (i > 0 && u.description != b->access->units[tt.kept[i - 1]].description) ++description;
      s.description = description + 1;
    }
    if (rt.configs != nullptr) {
      rt.config_of.items[rt.config_of.count++] = u.description;
      rt.sets_held.items[rt.sets_held.count++] = u.sets_held;
    }
    s.where = kSampleLocated;
    s.sync = (u.flags & kTsAuSync) != 0 ? 1 : 0;
    time += s.duration;
  }
  for (uint32_t r : tt.restarts)
    if (r < rt.config_of.count) rt.config_of.items[r] |= kRestartsStream;
  // Recovery points that take frames to recover.
  GrowArray<uint32_t> rolls{};
  ErrorCode e = ErrorCode::Ok;
  bool any_roll = false;
  for (uint32_t i = 0; i < n && rt.configs != nullptr; ++i) any_roll = any_roll || b->access->units[tt.kept[i]].roll != 0;
  if (any_roll) e = rolls.reserve(n);
  for (uint32_t i = 0; i < n && any_roll && e == ErrorCode::Ok; ++i)
    rolls.items[rolls.count++] = b->access->units[tt.kept[i]].roll;
  if (any_roll && e == ErrorCode::Ok) e = add_random_access_groups(track, rolls);
  rolls.release();
  // Opus decoders settle within 80 ms: every packet is decoded from 80 ms before.
  if (e == ErrorCode::Ok && b->access->kind == TsKind::Opus && n > 0)
    e = add_preroll_group(track, 80000000u, tt.timescale, tt.durations[0], n);
  if (e != ErrorCode::Ok) {
    std::free(samples);
    return e;
  }
  b->access->units.release();  // the locators are the reader's now
  ConvertedTrack source{};
  source.expander = SampleExpander{reader_expand, imp->reader, reader_release};
  ++imp->reader->holders;
  e = import_track_samples(imp->file, track, samples, n, &source);
  std::free(samples);
  return e;
}

// Makes the track of one stream, or notes why it is left out.
ErrorCode build_track(Import* imp, Built* b, bool cut_at_end) {
  TsStreamAccess* s = b->access;
  const bool video = video_kind(s->kind);
  if (s->failure != nullptr) return ts_note_left_out(imp->file, imp->index, b->stream, s->failure);
  if (s->kind == TsKind::H264 && s->configs->count == 0)
    return ts_note_left_out(imp->file, imp->index, b->stream, "no H.264 parameter sets in the stream");
  if (s->kind == TsKind::Hevc && s->configs->count == 0)
    return ts_note_left_out(imp->file, imp->index, b->stream, "no HEVC parameter sets in the stream");
  if (s->kind == TsKind::Vc1 && s->sequence_headers.length == 0)
    return ts_note_left_out(imp->file, imp->index, b->stream, kNoVc1Headers);
  if (!video && s->rate == 0) return ts_note_left_out(imp->file, imp->index, b->stream, "no whole frame in the stream");
  VT_TRY(video ? video_times(s, cut_at_end, &b->times)
               : audio_times(s, &b->times));
  if (b->times.kept.count == 0)
    return ts_note_left_out(imp->file, imp->index, b->stream, video ? "no picture a decoder can start at" : "no whole frame");
  const char* language = b->stream->descriptors.language[0] != '\0' ? b->stream->descriptors.language : nullptr;
  TrackSetup setup{};
  setup.kind = video ? kHandlerVideo : kHandlerSound;
  setup.timescale = b->times.timescale;
  setup.language = language;
  setup.track_id = b->track_id;
  TrackBoxes* track = create_track(imp->file, &setup);
  if (track == nullptr) return ErrorCode::OutOfMemory;
  const char* why = nullptr;
  uint32_t width = 0, height = 0;
  const bool nal = s->kind == TsKind::H264 || s->kind == TsKind::Hevc;
  ErrorCode e = nal     ? nal_entries(imp, track, b, &width, &height)
               : s->kind == TsKind::Vc1 ? vc1_entries(imp, track, b, &width, &height, &why)
               : video ? set_mpeg12_entry(imp->file, track, s, &width, &height, &why)
                       : set_audio_entry(imp->file, track, imp->index, s, b->stream, &why);
  if (e == ErrorCode::BadArgument && nal) {
    remove_track(imp->file, find_track(imp->root, b->track_id));
    return ts_note_left_out(imp->file, imp->index, b->stream,
                            s->kind == TsKind::Hevc ? "its HEVC sequence parameter set does not parse"
                                                    : "its H.264 parameter sets do not make a configuration");
  }
  if (e == ErrorCode::Ok && why != nullptr) {
    remove_track(imp->file, find_track(imp->root, b->track_id));
    return ts_note_left_out(imp->file, imp->index, b->stream, why);
  }
  if (e == ErrorCode::Ok && video) {
    auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd);
    if (tkhd != nullptr) {
      tkhd->width = width << 16;
      tkhd->height = height << 16;
    }
  }
  if (e == ErrorCode::Ok) {
    b->slot = imp->reader->count++;
    ReaderTrack& rt = imp->reader->tracks[b->slot];
    rt.pid = b->stream->pid;
    rt.configs = s->configs;  // the reader's now
    s->configs = nullptr;
    rt.latm = s->latm;
    s->latm = nullptr;
    rt.lpcm = s->kind == TsKind::Lpcm && bluray_lpcm_parse(s->first_frame, s->first_frame_size, &rt.header);
  }
  if (e != ErrorCode::Ok) remove_track(imp->file, find_track(imp->root, b->track_id));
  return e;
}

ErrorCode import_tracks(Import* imp, EsSource* source) {
  ImportFile* file = imp->file;
  const TsIndex& x = *imp->index;
  imp->reader = alloc_record<Reader>();
  if (imp->reader == nullptr) return ErrorCode::OutOfMemory;
  imp->reader->holders = 1;  // the import's own hold, let go at its end
  imp->reader->layout = x.layout;
  if (source != nullptr) {
    imp->reader->source = *source;  // the reader's now
    *source = EsSource{};
  }
  const bool cut_at_end = x.diagnostic_counts[static_cast<uint32_t>(TsDiag::CutPacket)] > 0;
  uint32_t listed = 0;
  // The chosen program's streams in the order its PMTs list them.
  uint32_t next_id = 1;
  for (uint32_t order = 0; order < x.programs[x.chosen].streams; ++order) {
    const TsStream* stream = nullptr;
    for (const TsStream& t : x.streams)
      if (t.program == x.chosen && t.order == order) stream = &t;
    if (stream == nullptr) continue;
    if (stream->cls->disposition != TsDisposition::Skipped) ++listed;
    bool seen = false;  // a PID listed again with another type: its first listing counts
    for (const TsStream& t : x.streams)
      seen = seen || (&t != stream && t.program == x.chosen && t.pid_index == stream->pid_index && t.order < order);
    if (seen) continue;
    TsStreamAccess* access = ts_access_of(imp->pass, stream->pid_index);
    if (access == nullptr || (!access->probed && access->kind != stream->cls->kind) || imp->built_count >= kMaxTracks) {
      VT_TRY(ts_note_stream(imp->file, imp->index, stream));
      continue;
    }
    // TrueHD's AC-3 core follows it as a track of its own.
    for (TsStreamAccess* part = access; part != nullptr && imp->built_count < kMaxTracks; part = part->core) {
      Built* b = &imp->built[imp->built_count];
      *b = Built{};
      b->access = part;
      b->stream = stream;
      b->track_id = next_id;
      const uint32_t before = track_count(imp->root);
      VT_TRY(build_track(imp, b, cut_at_end));
      if (track_count(imp->root) > before) {
        ++imp->built_count;
        ++next_id;
      } else {
        b->times.release();
      }
    }
  }
  // Every track keeps its distance to the others from their first
  // presentation times: the earliest starts at 0.
  int64_t earliest = INT64_MAX;
  for (uint32_t i = 0; i < imp->built_count; ++i) earliest = std::min(earliest, imp->built[i].times.first_shown);
  for (uint32_t i = 0; i < imp->built_count; ++i) {
    Built* b = &imp->built[i];
    TrackBoxes* track = find_track(imp->root, b->track_id);
    if (track == nullptr) return ErrorCode::Missing;
    VT_TRY(add_edits(imp, track, b->times, earliest));
    VT_TRY(hand_over(imp, track, b));
    if (video_kind(b->access->kind) && b->times.jumps > 0)
      ts_note_jump(imp->file, b->times.first_jump_at, b->times.jump_back, b->times.jumps);
  }
  ts_note_diagnostics(file, &x, imp->pass->streams, imp->pass->count);
  // Which program, and what it holds, is worth telling when there was a
  // choice or a stream is left out.
  if (x.programs.count > 1 || imp->built_count < listed) ts_note_program(file, &x);
  VT_TRY(update_durations(file, imp->root));
  VT_TRY(set_next_track_id(imp->root));
  bool any_sample = false;
  for (uint32_t i = 0; i < track_count(imp->root); ++i) {
    TrackBoxes* track = track_at(imp->root, i);
    VT_TRY(stss_drop_if_redundant(file, track));
    if (sample_count(track) > 0) any_sample = true;
  }
  if (file->mode == kOpenInspect || any_sample) return ErrorCode::Ok;
  set_error_reason(file, x.program_stream ? "an MPEG program stream without a stream Vantorel can carry"
                                          : "an MPEG transport stream without a stream Vantorel can carry");
  return ErrorCode::Unsupported;
}

}  // namespace

ErrorCode ts_import_tracks(ImportFile* file, FileBoxes* root, const TsIndex* index, TsAccessPass* pass,
                           EsSource* source) {
  // One time scale for every edit: the streams' own clock.
  ErrorCode e = ErrorCode::Ok;
  if (root->moov == nullptr) e = add_movie_box(file, BoxTypeId::Moov);
  if (e == ErrorCode::Ok && root->moov->mvhd == nullptr) e = add_movie_box(file, BoxTypeId::Mvhd);
  if (e == ErrorCode::Ok) {
    auto* mvhd = movie_record<MvhdRecord>(root, BoxTypeId::Mvhd);
    if (mvhd == nullptr) e = ErrorCode::Missing;
    else mvhd->timescale = static_cast<uint32_t>(kTsClockRate);
  }
  Import* imp = e == ErrorCode::Ok ? alloc_record<Import>() : nullptr;
  if (e == ErrorCode::Ok && imp == nullptr) e = ErrorCode::OutOfMemory;
  if (e != ErrorCode::Ok) {
    if (source != nullptr && source->release != nullptr) source->release(source->state);
    return e;
  }
  imp->file = file;
  imp->root = root;
  imp->index = index;
  imp->pass = pass;
  e = import_tracks(imp, source);
  if (source != nullptr && source->release != nullptr) source->release(source->state);  // not taken: failed early
  for (uint32_t i = 0; i < kMaxTracks; ++i) imp->built[i].times.release();
  if (imp->reader != nullptr) reader_release(imp->reader);
  std::free(imp);
  return e;
}

bool ts_probe_file(ImportFile* file) { return ts_probe(file, nullptr); }

ErrorCode ts_import(ImportFile* file, FileBoxes* root) {
  TsIndex* index = alloc_record<TsIndex>();
  TsAccessPass* pass = alloc_record<TsAccessPass>();
  ErrorCode e = index != nullptr && pass != nullptr ? ErrorCode::Ok : ErrorCode::OutOfMemory;
  if (e == ErrorCode::Ok) {
    pass->max_units = UINT32_MAX;
    TsIndexOptions options{};
    options.program_number = static_cast<uint16_t>(file->program_number);
    options.on_unit = ts_access_on_unit;
    options.user = pass;
    options.drop_units = true;  // the access units are all the import keeps
    e = ts_index_build(file, &options, index);
    if (e == ErrorCode::Ok) e = ts_access_finish(pass, index);
    if (e == ErrorCode::Missing) {
      if (file->program_number != 0) set_error_reason(file, "the transport stream has no such program");
      else set_error_reason(file, "a transport stream without a program map table");
    }
    if (e == ErrorCode::Ok) e = ts_import_tracks(file, root, index, pass, nullptr);
  }
  if (pass != nullptr) ts_access_release(pass);
  if (index != nullptr) ts_index_release(index);
  std::free(pass);
  std::free(index);
  return e;
}

}  // namespace vantorel
