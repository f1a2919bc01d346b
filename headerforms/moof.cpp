#include "headerforms/moof.h"

#include "boxes/fields.h"

#include <bit>

#include "boxes/mvex.h"
#include "sampletables/ctts.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"

namespace vantorel {

namespace {

constexpr uint32_t kTrunSampleFields = kTrunDuration | kTrunSize | kTrunFlags | kTrunCompositionOffset;
constexpr uint32_t kRunBlock = 256;  // samples whose fields are read at once

// What one 'moof' carries from box to box while it is read.
struct FragmentState {
  uint32_t track_id;
  uint64_t base_data_offset;
  uint64_t data_offset;  // where the next sample's data starts
  uint32_t sample_description_index;
  uint32_t default_sample_duration;
  uint32_t default_sample_size;
  uint32_t default_sample_flags;
  uint64_t moof_start;
  uint64_t sample_budget;  // samples the file can still be said to hold
  bool have_header;  // the current 'traf' has had its 'tfhd'
};

ErrorCode missing(MetaFile* file, const char* reason) {
  set_error_reason(file, reason);
  return ErrorCode::Missing;
}

bool is_video(TrackBoxes* track) { return find_box(track, BoxTypeId::Vmhd) != nullptr; }

// ---- 'tfhd' ---------------------------------------------------------------------

struct TfhdFields {
  uint8_t version;
  uint32_t flags;
  uint32_t track_id;
  uint64_t base_data_offset;
  uint32_t description_index;
  uint32_t default_duration;
  uint32_t default_size;
  uint32_t default_flags;
};
constexpr Field kTfhdLayout[] = {
    version_field(offsetof(TfhdFields, version)),
    flags_field(offsetof(TfhdFields, flags)),
    u32_field(offsetof(TfhdFields, track_id)),
    optional(u64_field(offsetof(TfhdFields, base_data_offset)), kTfhdBaseDataOffset),
    optional(u32_field(offsetof(TfhdFields, description_index)), kTfhdDescriptionIndex),
    optional(u32_field(offsetof(TfhdFields, default_duration)), kTfhdDefaultDuration),
    optional(u32_field(offsetof(TfhdFields, default_size)), kTfhdDefaultSize),
    optional(u32_field(offsetof(TfhdFields, default_flags)), kTfhdDefaultFlags),
};

struct TfdtFields {
  uint8_t version;
  uint32_t flags;
  uint64_t decode_time;
};
constexpr Field kTfdtLayout[] = {version_field(offsetof(TfdtFields, version)), flags_field(offsetof(TfdtFields, flags)),
                                 time_field(offsetof(TfdtFields, decode_time))};

ErrorCode tfhd_read(MetaFile* file, const BoxHeader* box, FileBoxes* root, FragmentState* s) {
  TfhdFields t{};
  VT_TRY(read_fields(file, box, kTfhdLayout, &t, "'tfhd' shorter than its flags say"));
  uint32_t flags = t.flags;
  if (find_track(root, t.track_id) == nullptr) return missing(file, "track fragment of a track the movie lacks");
  const TrexEntry* trex = find_track_extends(root, t.track_id);
  if (trex == nullptr) return missing(file, "track fragment of a track without 'trex'");
  s->track_id = t.track_id;
  if (flags & kTfhdBaseDataOffset) {
    s->base_data_offset = t.base_data_offset;
    s->data_offset = s->base_data_offset;
  } else if (flags & kTfhdDefaultBaseIsMoof) {
    // Offsets of this fragment count from the enclosing 'moof', whatever
    // the track fragments before it held.
    s->base_data_offset = s->moof_start;
    s->data_offset = s->moof_start;
  }
  s->sample_description_index = flags & kTfhdDescriptionIndex ? t.description_index : trex->default_sample_description_index;
  s->default_sample_duration = flags & kTfhdDefaultDuration ? t.default_duration : trex->default_sample_duration;
  s->default_sample_size = flags & kTfhdDefaultSize ? t.default_size : trex->default_sample_size;
  s->default_sample_flags = flags & kTfhdDefaultFlags ? t.default_flags : trex->default_sample_flags;
  s->have_header = true;
  return ErrorCode::Ok;
}

// ---- 'tfdt' ---------------------------------------------------------------------

// Keeps the decode time of a track's first fragment; later ones add nothing.
ErrorCode tfdt_read(MetaFile* file, const BoxHeader* box, FileBoxes* root, const FragmentState* s) {
  // Without its 'tfhd' the time belongs to no known track; the runs after
  // it fail on their own.
  if (!s->have_header) return ErrorCode::Ok;
  TfdtFields t{};
  VT_TRY(read_fields(file, box, kTfdtLayout, &t, "'tfdt' shorter than its time"));
  uint64_t time = t.decode_time;
  TrackExtra* extra = track_extra(find_track(root, s->track_id));
  if (extra == nullptr) return ErrorCode::OutOfMemory;
  if (extra->first_fragment_time == none64()) extra->first_fragment_time = time;
  return ErrorCode::Ok;
}

// ---- 'trun' ---------------------------------------------------------------------

ErrorCode note_sync(MetaFile* file, TrackBoxes* track, bool video) {
  uint32_t number = sample_count(track);
  if (find_box(track, BoxTypeId::Stss) != nullptr) return stss_append(file, track, number);
  // A video track without a table whose first sample is a sync sample gets
  // one; otherwise every sample stays a sync sample.
  if (!video || number != 1) return ErrorCode::Ok;
  VT_TRY(add_track_box(file, track, BoxTypeId::Stss));
  return stss_append(file, track, 1);
}

// A video track without a sync table has had only sync samples so far: its
// first non-sync sample brings the table, listing every sample before it, so
// later samples are not all taken for sync samples.
ErrorCode note_non_sync(MetaFile* file, TrackBoxes* track, bool video, uint32_t number) {
  if (!video || find_box(track, BoxTypeId::Stss) != nullptr) return ErrorCode::Ok;
  VT_TRY(add_track_box(file, track, BoxTypeId::Stss));
  for (uint32_t k = 1; k < number; ++k) VT_TRY(stss_append(file, track, k));
  return ErrorCode::Ok;
}

ErrorCode note_composition_offset(MetaFile* file, TrackBoxes* track, bool video, int32_t offset) {
  if (find_box(track, BoxTypeId::Ctts) != nullptr) return ctts_append(file, track, 1, offset);
  // Audio keeps no offsets it did not have. A video track gets a table at
  // its first sample, or at the first sample that needs one, with the
  // samples before it at offset 0.
  uint32_t number = sample_count(track);
  if (!video || (number != 1 && offset == 0)) return ErrorCode::Ok;
  VT_TRY(add_track_box(file, track, BoxTypeId::Ctts));
  VT_TRY(ctts_append(file, track, number - 1, 0));
  return ctts_append(file, track, 1, offset);
}

// Appends n samples that all take the defaults, after at least one sample
// of the track: a table of sync samples, if any, exists by now.
ErrorCode append_alike(MetaFile* file, TrackBoxes* track, FragmentState* s, uint32_t n, bool video) {
  uint32_t before = sample_count(track);
  VT_TRY(stts_append(file, track, n, s->default_sample_duration));
  VT_TRY(stsz_append(file, track, s->default_sample_size, n));
  s->data_offset += uint64_t{s->default_sample_size} * n;
  if ((s->default_sample_flags & kSampleNonSync) != 0) {
    VT_TRY(note_non_sync(file, track, video, before + 1));
  } else if (find_box(track, BoxTypeId::Stss) != nullptr) {
    for (uint32_t k = 1; k <= n; ++k) VT_TRY(stss_append(file, track, before + k));
  }
  if (find_box(track, BoxTypeId::Ctts) != nullptr) VT_TRY(ctts_append(file, track, n, 0));
  return ErrorCode::Ok;
}

// Bounds a run's sample count before anything is appended: by the box when
// samples bring fields, else by the data the run describes.
ErrorCode check_run_count(MetaFile* file, const BoxHeader* box, const FragmentState* s, uint32_t per_sample,
                          uint32_t count) {
  if (per_sample != 0) {
    if (!box_holds(file, box, count, per_sample)) return malformed(file, "'trun' sample count larger than the box");
    return ErrorCode::Ok;
  }
  uint32_t size = s->default_sample_size;
  if (size == 0) {
    if (count > kMaxEmptyRunSamples) return malformed(file, "'trun' of too many samples without data");
    return ErrorCode::Ok;
  }
  uint64_t length = file_size(file);
  if (s->data_offset > length || count > (length - s->data_offset) / size)
    return malformed(file, "'trun' data beyond the end of the file");
  return ErrorCode::Ok;
}

ErrorCode trun_read(MetaFile* file, const BoxHeader* box, FileBoxes* root, FragmentState* s) {
  if (!s->have_header) return missing(file, "'trun' before its 'tfhd'");
  TrackBoxes* track = find_track(root, s->track_id);
  if (track == nullptr) return missing(file, "track run of a track the movie lacks");
  if (!box_holds(file, box, 1, 8)) return malformed(file, "'trun' shorter than its sample count");
  read_u8(file);  // version: 1 stores signed offsets, 0 unsigned ones; the table keeps both as the same 32 bits
  uint32_t flags = read_u24be(file);
  uint32_t count = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (count == 0) return ErrorCode::Ok;
  auto* chunks = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco);
  if (find_box(track, BoxTypeId::Stts) == nullptr || find_box(track, BoxTypeId::Stsz) == nullptr ||
      find_box(track, BoxTypeId::Stsc) == nullptr || chunks == nullptr)
    return missing(file, "track run of a track without sample tables");
  uint64_t optional = (flags & kTrunDataOffset ? 4 : 0) + (flags & kTrunFirstSampleFlags ? 4 : 0);
  if (!box_holds(file, box, 1, optional)) return malformed(file, "'trun' shorter than its flags say");
  if (flags & kTrunDataOffset) {
    auto relative = static_cast<int32_t>(read_u32be(file));
    s->data_offset = s->base_data_offset + static_cast<uint64_t>(static_cast<int64_t>(relative));
  }
  uint32_t first_flags = flags & kTrunFirstSampleFlags ? read_u32be(file) : s->default_sample_flags;
  if (io_failed(file)) return ErrorCode::Io;
  uint32_t per_sample = 4 * static_cast<uint32_t>(std::popcount(flags & kTrunSampleFields));
  VT_TRY(check_run_count(file, box, s, per_sample, count));
  if (count > s->sample_budget) return malformed(file, "fragments declare more samples than the file holds");
  s->sample_budget -= count;

  // The run is one chunk.
  VT_TRY(stsc_append(file, track, chunks->offsets.count + 1, count, s->sample_description_index));
  VT_TRY(stco_append(file, track, s->data_offset));
  bool video = is_video(track);
  // The per-sample fields are fetched a block of samples at a time.
  uint8_t block[kRunBlock * 16];
  const uint8_t* field = block;
  auto next = [&field]() {
    uint32_t v = load_u32be(field);
    field += 4;
    return v;
  };
  // Without per-sample fields only the first sample can differ (by its
  // flags); the rest are appended as one.
  uint32_t one_by_one = per_sample != 0 ? count : 1;
  for (uint32_t i = 0; i < one_by_one; ++i) {
    if (per_sample != 0 && i % kRunBlock == 0) {
      uint32_t n = count - i < kRunBlock ? count - i : kRunBlock;
      VT_TRY(read_bytes(file, block, n * per_sample));
      field = block;
    }
    uint32_t sample_flags = i == 0 ? first_flags : s->default_sample_flags;
    uint32_t duration = flags & kTrunDuration ? next() : s->default_sample_duration;
    uint32_t size = flags & kTrunSize ? next() : s->default_sample_size;
    if (flags & kTrunFlags) sample_flags = next();
    auto offset = static_cast<int32_t>(flags & kTrunCompositionOffset ? next() : 0);
    VT_TRY(stts_append(file, track, 1, duration));
    VT_TRY(stsz_append(file, track, size, 1));
    s->data_offset += size;
    if ((sample_flags & kSampleNonSync) == 0) {
      VT_TRY(note_sync(file, track, video));
    } else {
      VT_TRY(note_non_sync(file, track, video, sample_count(track)));
    }
    if (flags & kTrunCompositionOffset) {
      VT_TRY(note_composition_offset(file, track, video, offset));
    } else if (find_box(track, BoxTypeId::Ctts) != nullptr) {
      VT_TRY(ctts_append(file, track, 1, 0));
    }
  }
  if (one_by_one < count) VT_TRY(append_alike(file, track, s, count - one_by_one, video));
  return ErrorCode::Ok;
}

// ---- 'traf' ---------------------------------------------------------------------

ErrorCode traf_read(MetaFile* file, const BoxHeader* traf, FileBoxes* root, FragmentState* s) {
  s->have_header = false;
  return walk_children(file, traf, [&](const BoxHeader* h) {
    if (h->type == "tfhd") return tfhd_read(file, h, root, s);
    if (h->type == "trun") return trun_read(file, h, root, s);
    if (h->type == "tfdt") return tfdt_read(file, h, root, s);
    return ErrorCode::Ok;
  });
}

}  // namespace

ErrorCode moof_read(MetaFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  if (file->mode == kOpenInspect) return ErrorCode::Ok;
  auto* root = static_cast<FileBoxes*>(context);
  FragmentState s{};
  s.moof_start = header->start;
  s.base_data_offset = header->start;
  s.data_offset = header->start;
  // Every sample with data takes a byte of the file of its own, so all the
  // tracks together hold no more samples than the file has bytes, beside a
  // margin of empty ones. This bounds what many runs over the same bytes
  // could make the tables grow to.
  uint64_t held = 0;
  for (uint32_t i = 0; i < track_count(root); ++i) held += sample_count(track_at(root, i));
  uint64_t room = file_size(file) + kMaxEmptyRunSamples;
  s.sample_budget = room > held ? room - held : 0;
  return walk_children(file, header, [&](const BoxHeader* h) {
    if (h->type != "traf") return ErrorCode::Ok;
    VT_TRY(traf_read(file, h, root, &s));
    // A track fragment without a base of its own starts where this one's
    // data ended.
    s.base_data_offset = s.data_offset;
    return ErrorCode::Ok;
  });
}

}  // namespace vantorel
