// What the engine asks of a track beyond its summary and samples: its
// entries as read, matrix, time code, edits, chapters and sample groups.
#include <cstring>

#include "boxes/carried_boxes.h"
#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/tkhd.h"
#include "codecs/aac.h"
#include "codecs/opus.h"
#include "io/byte_io.h"
#include "io/value64.h"
#include "codecs/timecode.h"
#include "mediafile/internal.h"
#include "meta/chapters.h"
#include "sampletables/formats.h"
#include "sampletables/sample_groups.h"
#include "sampletables/stsd.h"

namespace vantorel {

ErrorCode track_whole_entries(MediaFile* file, uint32_t track_id, const uint8_t** entries, uint32_t* size,
                              uint32_t* count) {
  if (file == nullptr || entries == nullptr || size == nullptr || count == nullptr) return ErrorCode::BadArgument;
  auto* stsd = track_record<SampleDescriptionTable>(find_track(file->root, track_id), BoxTypeId::Stsd);
  if (stsd == nullptr || stsd->whole_entry_count == 0 || stsd->whole_entries.length == 0) return ErrorCode::Missing;
  *entries = stsd->whole_entries.bytes;
  *size = stsd->whole_entries.length;
  *count = stsd->whole_entry_count;
  return ErrorCode::Ok;
}

bool track_configs_agree(const TrackInfo* a, const TrackInfo* b) {
  if (a == nullptr || b == nullptr) return false;
  // An AudioSpecificConfig from an ADTS header lacks what an encoder may
  // add after it (an explicit "no SBR"), and an entry's channel count may
  // say 2 for mono: the same sound by what the configuration says.
  if (a->fourcc == "mp4a" && b->fourcc == "mp4a" && a->decoder_info_size >= 2 && b->decoder_info_size >= 2 &&
      a->sample_rate == b->sample_rate &&
      aac_config_object_type(a->decoder_info, a->decoder_info_size) ==
          aac_config_object_type(b->decoder_info, b->decoder_info_size) &&
      aac_config_channels(a->decoder_info, a->decoder_info_size) ==
          aac_config_channels(b->decoder_info, b->decoder_info_size) &&
      aac_config_frame_samples(a->decoder_info, a->decoder_info_size) ==
          aac_config_frame_samples(b->decoder_info, b->decoder_info_size))
    return true;
  return a->fourcc == b->fourcc && a->width == b->width && a->height == b->height && a->sample_rate == b->sample_rate &&
         a->channel_count == b->channel_count && a->decoder_info_size == b->decoder_info_size &&
         (a->decoder_info_size == 0 || std::memcmp(a->decoder_info, b->decoder_info, a->decoder_info_size) == 0);
}

ErrorCode track_matrix(MediaFile* file, uint32_t track_id, uint32_t out[9]) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  auto* tkhd = track_record<TkhdRecord>(find_track(file->root, track_id), BoxTypeId::Tkhd);
  if (tkhd == nullptr) return ErrorCode::Missing;
  static_assert(sizeof tkhd->matrix == 9 * sizeof(uint32_t));
  std::memcpy(out, tkhd->matrix, sizeof tkhd->matrix);
  return ErrorCode::Ok;
}

uint32_t track_handler_kind(MediaFile* file, uint32_t track_id) {
  if (file == nullptr) return kHandlerUnknown;
  TrackBoxes* track = find_track(file->root, track_id);
  return track != nullptr ? handler_kind_of(track) : kHandlerUnknown;
}

bool track_timecode_advance(MediaFile* file, uint32_t track_id, uint32_t frame, uint64_t elapsed, uint32_t timescale,
                            uint32_t* out) {
  if (file == nullptr || out == nullptr) return false;
  auto* stsd = track_record<SampleDescriptionTable>(find_track(file->root, track_id), BoxTypeId::Stsd);
  TimecodeEntry entry;
  if (stsd == nullptr || !timecode_entry_read(stsd->whole_entries.bytes, stsd->whole_entries.length, &entry))
    return false;
  *out = timecode_advance(entry, frame, elapsed, timescale);
  return true;
}

uint32_t track_edits(MediaFile* file, uint32_t track_id, TrackEdit* out, uint32_t capacity) {
  if (file == nullptr) return 0;
  auto* elst = track_record<ElstRecord>(find_track(file->root, track_id), BoxTypeId::Elst);
  if (elst == nullptr) return 0;
  for (uint32_t i = 0; out != nullptr && i < elst->entries.count && i < capacity; ++i) {
    const ElstEntry& e = elst->entries[i];
    out[i] = TrackEdit{e.media_time, e.segment_duration, e.media_rate_integer, e.media_rate_fraction};
  }
  return elst->entries.count;
}

ErrorCode set_track_edits(MediaFile* file, uint32_t track_id, const TrackEdit* edits, uint32_t count) {
  if (file == nullptr || (edits == nullptr && count > 0)) return ErrorCode::BadArgument;
  TrackBoxes* track = find_track(file->root, track_id);
  if (track == nullptr) return ErrorCode::Missing;
  remove_track_box(file, track, BoxTypeId::Edts);
  VT_TRY(add_track_box(file, track, BoxTypeId::Edts));
  VT_TRY(add_track_box(file, track, BoxTypeId::Elst));
  for (uint32_t i = 0; i < count; ++i) VT_TRY(add_edit(file, track, edits[i].duration, edits[i].media_time, 1, 0));
  // The list is complete: the writer's rule for its own list no longer applies.
  if (track->extra != nullptr) track->extra->writer_edit_list = 0;
  return ErrorCode::Ok;
}

ErrorCode add_movie_chapter(MediaFile* file, uint64_t start_time, const char* title) {
  if (file == nullptr) return ErrorCode::BadArgument;
  return add_chapter(file, start_time, title);
}

ErrorCode add_roll_group(MediaFile* file, uint32_t track_id, int16_t distance) {
  if (file == nullptr) return ErrorCode::BadArgument;
  TrackBoxes* track = find_track(file->root, track_id);
  if (track == nullptr) return ErrorCode::Ok;
  return sample_groups_add_roll(track, distance, track_sample_count(track));
}

TrackBoxes* media_track(MediaFile* file, uint32_t track_id) {
  return file != nullptr ? find_track(file->root, track_id) : nullptr;
}

ErrorCode follow_sample_groups(TrackBoxes* to, TrackBoxes* from, uint32_t index, uint32_t count) {
  return sample_groups_follow(to, from, index, count);
}

bool media_mirrors_samples(MediaFile* file) { return file != nullptr && (file->flags & kFlagStreamingExtension) != 0; }

bool format_counts_frames(FourCC format) { return pcm_counts_frames(format); }

FileIo* media_io(MediaFile* file) { return file; }

ErrorCode join_sample_groups(MediaFile* from, uint32_t from_track, MediaFile* to, uint32_t to_track) {
  if (from == nullptr || to == nullptr) return ErrorCode::BadArgument;
  TrackBoxes* in = find_track(from->root, from_track);
  TrackBoxes* out = find_track(to->root, to_track);
  return in != nullptr && out != nullptr ? sample_groups_join(out, in) : ErrorCode::Ok;
}

bool edit_skips_priming(MediaFile* file, uint32_t track_id, int64_t media_time) {
  TrackInfo info;
  if (file == nullptr || track_info(file, track_id, &info) != ErrorCode::Ok) return false;
  if (info.fourcc == "mp4a") return media_time == 1024 || media_time == 2112;
  if (!(info.fourcc == "Opus")) return false;
  auto* stsd = track_record<SampleDescriptionTable>(find_track(file->root, track_id), BoxTypeId::Stsd);
  if (stsd == nullptr || stsd->whole_entry_count == 0 || stsd->whole_entries.length < 8) return false;
  // The first entry's 'dOps' child; its pre-skip counts 48 kHz samples.
  const uint8_t* entry = stsd->whole_entries.bytes;
  const uint32_t length = load_u32be(entry);
  if (length < 8 || length > stsd->whole_entries.length) return false;
  for (uint32_t child = whole_entry_children_at(entry, length, kLayoutSound); child != 0 && length - child >= 8;) {
    const uint32_t size = load_u32be(entry + child);
    if (size < 8 || size > length - child) return false;
    if (std::memcmp(entry + child + 4, "dOps", 4) == 0) {
      const uint64_t skip = rescale(dops_payload_pre_skip(entry + child + 8, size - 8), 48000, info.timescale);
      return skip > 0 && media_time == static_cast<int64_t>(skip);
    }
    child += size;
  }
  return false;
}

namespace {

constexpr uint64_t kHashStart = 0xCBF29CE484222325ull;

uint64_t carried_hash(const CarriedBoxes* a, uint64_t h) {
  if (a == nullptr) return h;
  for (const OwnedBlock& b : a->boxes)
    for (uint32_t i = 0; i < b.length; ++i) h = (h ^ b.bytes[i]) * 0x100000001B3ull;  // FNV-1a
  return h;
}

}  // namespace

uint64_t carried_metadata_hash(MediaFile* file, uint32_t track_id) {
  if (file == nullptr || file->root == nullptr) return kHashStart;
  if (track_id != 0) {
    TrackBoxes* track = find_track(file->root, track_id);
    return track != nullptr ? carried_hash(track->carried, kHashStart) : kHashStart;
  }
  MoovRecord* moov = file->root->moov;
  if (moov == nullptr) return kHashStart;
  uint64_t h = carried_hash(moov->carried, kHashStart);
  return moov->udta != nullptr ? carried_hash(moov->udta->carried, h) : h;
}

}  // namespace vantorel
