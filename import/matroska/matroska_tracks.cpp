// From Matroska frames to MP4 tracks: a sample entry per codec, exact times
// from the rounded block timestamps, and tables that point into the input.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "boxes/carried_boxes.h"
#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "import/format_headers.h"
#include "import/imported_sample.h"
#include "import/matroska/matroska_codecs.h"
#include "import/matroska/matroska_internal.h"
#include "import/stream_tracks.h"
#include "io/file_io.h"
#include "io/value64.h"
#include "sampletables/movie_upkeep.h"
#include "sampletables/random_access_groups.h"
#include "sampletables/sample_groups.h"
#include "sampletables/stsd.h"
#include "sampletables/stsz.h"
#include "sampletables/table_fixups.h"
#include "sampletables/track_builder.h"

namespace vantorel {

namespace {

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

}  // namespace

ErrorCode mkv_add_track_name(TrackBoxes* track, const char* name) {
  MkvBytes b{};
  uint32_t udta = b.open("udta");
  uint32_t box = b.open("name");
  b.put(name, static_cast<uint32_t>(std::strlen(name)));
  b.close(box);
  b.close(udta);
  ErrorCode e = b.e;
  if (e == ErrorCode::Ok) {
    CarriedBoxes* carried = carried_list(&track->carried);
    e = carried == nullptr ? ErrorCode::OutOfMemory : carry_bytes(carried, b.b.items, b.b.count);
  }
  b.b.release();
  return e;
}

namespace {

// DateUTC (ns from 2001) as seconds from 1904; 0 without one, as the
// creation time is not the time of the remux.
uint64_t creation_time(const MkvImport* imp) {
  constexpr int64_t k2001From1904 = 3061152000;
  if (!imp->dated) return 0;
  const int64_t seconds = k2001From1904 + imp->date_utc / static_cast<int64_t>(kNanos);
  return seconds > 0 ? static_cast<uint64_t>(seconds) : 0;
}

ErrorCode build_track(MkvImport* imp, MkvTrack* t, uint32_t track_id) {
  ImportFile* file = imp->file;
  const Codec* codec = codec_of(t->codec_id);
  // Tracks left out: a codec without an MP4 form, an encoding not undone, no frames.
  if (codec == nullptr) {
    note_left_out(imp, t, "its codec has no MP4 form Vantorel writes");
    return ErrorCode::Ok;
  }
  if (t->left_out != nullptr || t->frames.count == 0) {
    note_left_out(imp, t, t->left_out != nullptr ? t->left_out : "no frames");
    return ErrorCode::Ok;
  }
  const bool text = codec->build == nullptr;
  if (text ? t->type != kMkvSubtitle : (t->type == kMkvVideo) != (codec->id[0] == 'V')) {
    note_left_out(imp, t, "its TrackType does not match its codec");
    return ErrorCode::Ok;
  }
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
  uint8_t first[16384];
  uint32_t first_n = peek_frame(imp, t, decoded, 0, first, sizeof first);
  MkvBytes entry{};
  EntryPlan plan{};
  const uint32_t notes_before = file->note_count;
  plan.timescale = rate_of(t);
  bool built = codec->build(imp, t, first, first_n, &entry, &plan) && entry.e == ErrorCode::Ok && plan.timescale != 0;
  if (built && plan.swap16 && encoded) {
    note_left_out(imp, t, "its 16-bit little-endian PCM has a content encoding");
    built = false;
  } else if (built && plan.vfw && encoded) {
    note_left_out(imp, t, "its Video for Windows frames have a content encoding");
    built = false;
  } else if (!built && entry.e == ErrorCode::Ok && file->note_count == notes_before) {
    // Unless the builder said why.
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
  if (e == ErrorCode::Ok && !plan.vfw) e = mkv_set_entry(imp, track, entry);
  if (e == ErrorCode::Ok) e = add_edits(imp, track, tt);
  if (e == ErrorCode::Ok && plan.kind == kHandlerSound)
    e = add_preroll_group(track, t->seek_preroll, tt.timescale, tt.durations[0], n);
  if (e == ErrorCode::Ok) {
    auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd);
    if (tkhd == nullptr) e = ErrorCode::Missing;
    else if (t->enabled == 0) tkhd->flags &= ~uint32_t{kTrackEnabled};
    if (tkhd != nullptr && plan.kind == kHandlerVideo) {
      tkhd->width = static_cast<uint32_t>(std::min<uint64_t>(t->width, 0xFFFF)) << 16;
      tkhd->height = static_cast<uint32_t>(std::min<uint64_t>(t->height, 0xFFFF)) << 16;
    }
    auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
    if (tkhd != nullptr && mdhd != nullptr) {
      tkhd->creation_time = mdhd->creation_time = creation_time(imp);
      if (!fits_u32(tkhd->creation_time)) tkhd->version = mdhd->version = 1;
    }
  }
  if (e == ErrorCode::Ok && t->colour_given && plan.kind == kHandlerVideo && !plan.vfw) {
    TrackExtra* extra = track_extra(track);
    if (extra == nullptr) e = ErrorCode::OutOfMemory;
    else extra->colour_built = 1;
  }
  if (e == ErrorCode::Ok && t->name[0] != '\0') e = mkv_add_track_name(track, t->name);
  // PCM is stored one sample per frame, as QuickTime stores it, when every
  // block holds whole frames.
  if (e == ErrorCode::Ok && plan.bytes_per_frame != 0) {
    bool whole_frames = true;
    for (uint32_t i = 0; i < n; ++i) whole_frames = whole_frames && t->frames[i].size % plan.bytes_per_frame == 0;
    TrackExtra* extra = whole_frames ? track_extra(track) : nullptr;
    if (whole_frames && extra == nullptr) e = ErrorCode::OutOfMemory;
    if (extra != nullptr) extra->pcm_frame_size = plan.bytes_per_frame;
  }
  // Last, so that a track removed on failure leaves no pieces behind.
  const char* vfw_failure = nullptr;
  if (e == ErrorCode::Ok && plan.vfw) e = mkv_convert_vfw_frames(imp, track, t, tt.durations, &vfw_failure);
  else if (e == ErrorCode::Ok) e = hand_over_frames(imp, track, t, tt.pts, tt.durations, tt.shift, &converted);
  if (e == ErrorCode::Ok && vfw_failure != nullptr) {
    note_left_out(imp, t, vfw_failure);
    remove_track(file, find_track(imp->root, track_id));
  }
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
  return set_entries_from_bytes(imp->file, track, entry.b.items, entry.b.count, 1);
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
    MkvTrack* t = imp->tracks[i];
    VT_TRY(build_track(imp, t, id));
    if (track_count(imp->root) == before) continue;
    // Encoded frames the cut file lacks were taken off the track: counted here.
    if (t->frames_cut > 0 && file->cut_count < kMaxImportCuts)
      file->cuts[file->cut_count++] = ImportCut{id, t->frames_cut, t->frames.count + t->frames_cut, t->cut_ms};
    built[id++ - 1] = t;
  }
  if (imp->stray_blocks > 0)
    import_note_add(file, "%llu Matroska blocks name a track number no track entry has; they are left out",
                    static_cast<unsigned long long>(imp->stray_blocks));
  set_alternates(imp, built, id - 1);
  auto* mvhd = movie_record<MvhdRecord>(imp->root, BoxTypeId::Mvhd);
  if (mvhd != nullptr) {
    mvhd->creation_time = creation_time(imp);
    if (!fits_u32(mvhd->creation_time)) mvhd->version = 1;
  }
  VT_TRY(update_durations(file, imp->root));
  VT_TRY(set_next_track_id(imp->root));
  bool any_sample = false;
  for (uint32_t i = 0; i < track_count(imp->root); ++i) {
    TrackBoxes* track = track_at(imp->root, i);
    VT_TRY(stss_drop_if_redundant(file, track));
    if (sample_count(track) > 0) any_sample = true;
  }
  if (file->mode == kOpenInspect || any_sample) return ErrorCode::Ok;
  if (file->cut) {
    set_error_at(file, imp->file_size, "Matroska file cut before its first whole frame");
    return ErrorCode::Malformed;
  }
  set_error_reason(file, "a Matroska file without a track Vantorel can carry");
  return ErrorCode::Unsupported;
}

}  // namespace vantorel
