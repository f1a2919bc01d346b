// Writing samples: the media data box, chunks, the sample tables kept in
// memory, the first sample's edit list and the Streaming Extension mirror.
#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "mediafile/internal.h"
#include "sampletables/ctts.h"
#include "sampletables/formats.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stsd.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"

namespace vantorel {

namespace {

// Sample data starts 16 bytes after the 'mdat' start in both header forms,
// so finish_box can widen a 32-bit header in place.
constexpr uint32_t kMdatHeaderRoom = 16;

ErrorCode open_media_data(MediaFile* file) {
  if (file->mdat.type == "mdat") return ErrorCode::Ok;
  uint64_t planned = file->planned_mdat_size;
  uint64_t size = planned > UINT64_MAX - kMdatHeaderRoom ? UINT64_MAX : planned + kMdatHeaderRoom;
  make_box_header(&file->mdat, FourCC::of("mdat"), nullptr, 0, 0, size);
  VT_TRY(begin_box(file, &file->mdat));
  if (fits_u32(size)) VT_TRY(write_zeros(file, 8));
  return ErrorCode::Ok;
}

// PCM tables count one sample per frame: the 'stsz' size of a frame, or 0
// when the track's blocks are whole samples. A track built here says its
// frame size; one read for updating had such tables regrouped into one
// sample per block, and its new blocks are counted the same way, as whole
// samples, unless its tables still count frames of size 1.
uint32_t pcm_frame_size(MediaFile* file, TrackBoxes* track, const StblRecord* stbl) {
  if (track->extra != nullptr && track->extra->write_frame_size != 0) return track->extra->write_frame_size;
  // Only sound entries count frames; the others are not looked into.
  if (stbl->stsd == nullptr || stbl->stsd->layout != kLayoutSound) return 0;
  SoundSampleEntry* entry = sound_entry(file, track, 0);
  if (entry == nullptr || !pcm_counts_frames(entry->format)) return 0;
  const SampleSizeTable* sizes = stbl->sample_sizes;
  return sizes->sample_count == 0 || (!stsz_is_listed(sizes) && sizes->sample_size == 1) ? 1 : 0;
}

// The time of a sample in milliseconds for its mirror record.
uint32_t mirror_time(TrackBoxes* track, const MdhdRecord* mdhd, const SampleWrite* sample) {
  if (sample_count(track) == 0 || mdhd->timescale == 0) return 0;
  int64_t t = static_cast<int64_t>(mdhd->duration) + sample->composition_offset;
  auto* ctts = track_record<CompositionOffsetTable>(track, BoxTypeId::Ctts);
  if (ctts != nullptr && ctts->entries.count > 0) t -= ctts->entries[0].sample_offset;
  if (t < 0) t = 0;
  return low32(rescale(static_cast<uint64_t>(t), mdhd->timescale, 1000));
}

ErrorCode write_mirror(MediaFile* file, uint32_t track_id, TrackBoxes* track, const MdhdRecord* mdhd,
                       const SampleWrite* sample) {
  uint8_t record[8];
  record[0] = static_cast<uint8_t>(((sample->flags & kSampleSync) != 0 ? 0x80 : 0) | (track_id & 0x7F));
  record[1] = static_cast<uint8_t>(sample->size >> 16);
  record[2] = static_cast<uint8_t>(sample->size >> 8);
  record[3] = static_cast<uint8_t>(sample->size);
  store_u32be(record + 4, mirror_time(track, mdhd, sample));
  SampleWrite mirror{};
  mirror.data = record;
  mirror.size = sizeof record;
  mirror.duration = 1;
  mirror.flags = kSampleSync;
  return write_sample(file, file->strx_track, &mirror);
}

// The first sample of a track decides its edit list: an empty edit for a
// start delay, then an edit from the media time the presentation starts at.
// An edit that would start before the first sample is presented starts at
// that sample instead, behind a longer empty edit: the same presentation,
// in the form readers show the same way.
ErrorCode start_edit_list(MediaFile* file, TrackBoxes* track, uint64_t start_delay, int32_t first_offset) {
  int64_t media_time = track->extra != nullptr ? track->extra->presentation_start : 0;
  if (media_time != 0 && first_offset > media_time) {
    auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
    auto* mvhd = movie_record<MvhdRecord>(file->root, BoxTypeId::Mvhd);
    if (mdhd != nullptr && mvhd != nullptr && mdhd->timescale != 0) {
      start_delay += rescale(static_cast<uint64_t>(first_offset - media_time), mdhd->timescale, mvhd->timescale);
      media_time = first_offset;
    }
  }
  // A text track ends with its last sample: without an edit, readers stretch
  // that sample to the end of the movie.
  const uint32_t kind = handler_kind_of(track);
  const bool sparse = kind == kHandlerText || kind == kHandlerSbtl || kind == kHandlerSubtitle;
  // A presentation that ends before the samples do needs its edit too.
  const bool ends_early = track->extra != nullptr && track->extra->presentation_end > 0;
  if (start_delay == 0 && media_time == 0 && !sparse && !ends_early) return ErrorCode::Ok;
  remove_track_box(file, track, BoxTypeId::Edts);
  VT_TRY(add_track_box(file, track, BoxTypeId::Edts));
  VT_TRY(add_track_box(file, track, BoxTypeId::Elst));
  if (start_delay != 0) VT_TRY(add_edit(file, track, start_delay, kEmptyEdit, 1, 0));
  VT_TRY(add_edit(file, track, 0, media_time, 1, 0));
  TrackExtra* extra = track_extra(track);
  if (extra == nullptr) return ErrorCode::OutOfMemory;
  extra->writer_edit_list = 1;
  return ErrorCode::Ok;
}

// Composition offsets: the table is made by the first non-zero offset, with
// the samples before it at offset 0, so an offset never goes unrecorded.
ErrorCode record_composition(MediaFile* file, TrackBoxes* track, StblRecord* stbl, uint32_t before, uint32_t count,
                             int32_t offset) {
  if (stbl->ctts == nullptr) {
    if (offset == 0) return ErrorCode::Ok;
    VT_TRY(add_track_box(file, track, BoxTypeId::Ctts));
    if (before > 0) VT_TRY(ctts_append(stbl->ctts, before, 0));
  }
  return ctts_append(stbl->ctts, count, offset);
}

// Entries of the track's sample description, parsed or kept whole.
uint32_t description_count(const SampleDescriptionTable* stsd) {
  if (stsd == nullptr) return 0;
  return stsd->write_whole ? stsd->whole_entry_count : stsd->entry_count;
}

ErrorCode start_chunk(MediaFile* file, TrackBoxes* track, uint32_t track_id) {
  VT_TRY(close_chunk(file));
  // Recorded samples whose bytes are still to come lie before this chunk.
  VT_TRY(stco_append(file, track, file_tell(file) + file->unwritten_bytes));
  file->chunk_track = track_id;
  uint32_t index = track_index_of(file->root, track_id);
  while (file->track_changed.count <= index) VT_TRY(file->track_changed.append(0));
  file->track_changed[index] = 1;
  return ErrorCode::Ok;
}

}  // namespace

namespace {

// The track a sample goes to, with its records: the last sample's while the
// tree still holds them where they were, else looked up (null: missing).
TrackBoxes* write_target(MediaFile* file, uint32_t track_id, MdhdRecord** mdhd, StblRecord** stbl) {
  WriteTarget& t = file->write_target;
  TrackBoxes* track = t.track_id == track_id ? track_at(file->root, t.index) : nullptr;
  if (track == nullptr || track->tkhd == nullptr || track->tkhd->track_id != track_id || track->mdia == nullptr ||
      track->mdia->mdhd != t.mdhd || track->mdia->minf == nullptr || track->mdia->minf->stbl != t.stbl) {
    t = WriteTarget{};
    track = find_track(file->root, track_id);
    if (track == nullptr) return nullptr;
    t.track_id = track_id;
    t.index = track_index_of(file->root, track_id);
    t.mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
    t.stbl = track_record<StblRecord>(track, BoxTypeId::Stbl);
  }
  *mdhd = t.mdhd;
  *stbl = t.stbl;
  return track;
}

ErrorCode put_sample(MediaFile* file, uint32_t track_id, const SampleWrite* sample, bool with_data) {
  if (file == nullptr || track_id == 0 || sample == nullptr || (with_data && sample->data == nullptr))
    return ErrorCode::BadArgument;
  if (!with_data && (file->flags & kFlagStreamingExtension) != 0) return ErrorCode::BadArgument;
  // Bytes owed by recorded samples must come before any written here.
  if (with_data && file->unwritten_bytes != 0) return ErrorCode::BadArgument;
  if (file->mode != kOpenCreate && file->mode != kOpenUpdate) return ErrorCode::ReadOnly;
  MdhdRecord* mdhd = nullptr;
  StblRecord* stbl = nullptr;
  TrackBoxes* track = write_target(file, track_id, &mdhd, &stbl);
  if (track == nullptr) return ErrorCode::Missing;
  if (mdhd == nullptr || stbl == nullptr || stbl->stts == nullptr || stbl->sample_sizes == nullptr ||
      stbl->stsc == nullptr || stbl->chunk_offsets == nullptr)
    return ErrorCode::Missing;

  // PCM tables count frames of one time unit each; a block is one chunk.
  uint32_t count = 1;
  uint32_t size = sample->size;
  uint32_t delta = sample->duration;
  const uint32_t frame_size = pcm_frame_size(file, track, stbl);
  // An empty chunk of a PCM track read from a file holds nothing to record.
  if (frame_size != 0 && sample->duration == 0 && sample->size == 0) return ErrorCode::Ok;
  if (frame_size != 0) {
    // A block of no frames would open a chunk that no table entry describes;
    // frames that do not fill the block exactly (or, at one unit a frame,
    // more frames than bytes) would describe data that was never written.
    if (sample->duration == 0 || sample->duration > sample->size) return ErrorCode::BadArgument;
    if (frame_size > 1 && uint64_t{sample->duration} * frame_size != sample->size) return ErrorCode::BadArgument;
    count = sample->duration;
    size = frame_size;
    delta = 1;
  }

  VT_TRY(open_media_data(file));
  if ((file->flags & kFlagStreamingExtension) != 0 && file->strx_track != 0 && track_id != file->strx_track)
    VT_TRY(write_mirror(file, track_id, track, mdhd, sample));

  // A chunk holds samples of one description.
  uint32_t description = sample->description_index != 0 ? sample->description_index : 1;
  uint32_t descriptions = description_count(stbl->stsd);
  if (descriptions != 0 && description > descriptions) return ErrorCode::BadArgument;
  uint32_t before = stbl->sample_sizes->sample_count;
  if (file->chunk_track != track_id || file->chunk_samples >= file->samples_per_chunk ||
      file->chunk_description != description || frame_size != 0)
    VT_TRY(start_chunk(file, track, track_id));
  file->chunk_description = description;
  if (before == 0) VT_TRY(start_edit_list(file, track, sample->start_delay, sample->composition_offset));

  VT_TRY(stts_append(stbl->stts, count, delta));
  mdhd->duration += uint64_t{count} * delta;
  VT_TRY(stsz_append(stbl->sample_sizes, size, count));
  if ((sample->flags & kSampleSync) != 0 && stbl->stss != nullptr) VT_TRY(stss_append(stbl->stss, before + 1));
  VT_TRY(record_composition(file, track, stbl, before, count, sample->composition_offset));
  if (with_data) {
    VT_TRY(write_bytes(file, sample->data, sample->size));
  } else {
    file->unwritten_bytes += sample->size;
  }
  file->chunk_samples += count;
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode write_sample(MediaFile* file, uint32_t track_id, const SampleWrite* sample) {
  return put_sample(file, track_id, sample, true);
}

ErrorCode record_sample(MediaFile* file, uint32_t track_id, const SampleWrite* sample) {
  return put_sample(file, track_id, sample, false);
}

ErrorCode write_recorded_bytes(MediaFile* file, const void* data, uint32_t count) {
  if (file == nullptr || data == nullptr || count > file->unwritten_bytes) return ErrorCode::BadArgument;
  VT_TRY(write_bytes(file, data, count));
  file->unwritten_bytes -= count;
  return ErrorCode::Ok;
}

ErrorCode write_recorded_pieces(MediaFile* file, const IoConstPiece* pieces, uint32_t count, uint64_t total) {
  if (file == nullptr || (pieces == nullptr && count > 0) || total > file->unwritten_bytes) return ErrorCode::BadArgument;
  uint64_t sum = 0;
  for (uint32_t i = 0; i < count; ++i) sum += pieces[i].count;
  if (sum != total) return ErrorCode::BadArgument;
  VT_TRY(write_pieces(file, pieces, count));
  file->unwritten_bytes -= total;
  return ErrorCode::Ok;
}

ErrorCode close_chunk(MediaFile* file) {
  if (file == nullptr) return ErrorCode::BadArgument;
  if (file->chunk_track == 0 || file->chunk_samples == 0) return ErrorCode::Ok;
  TrackBoxes* track = find_track(file->root, file->chunk_track);
  if (track == nullptr) return ErrorCode::Missing;
  auto* stsc = track_record<SampleToChunkTable>(track, BoxTypeId::Stsc);
  auto* offsets = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco);
  if (stsc == nullptr || offsets == nullptr) return ErrorCode::Missing;
  uint32_t description = file->chunk_description != 0 ? file->chunk_description : 1;
  if (stsc->entries.count == 0 || stsc->entries.back().samples_per_chunk != file->chunk_samples ||
      stsc->entries.back().sample_description_index != description)
    VT_TRY(stsc_append(file, track, offsets->offsets.count, file->chunk_samples, description));
  file->chunk_track = 0;
  file->chunk_samples = 0;
  return ErrorCode::Ok;
}

}  // namespace vantorel

namespace vantorel {

ErrorCode trim_track_end(MediaFile* file, uint32_t track_id, uint64_t movie_end) {
  if (file == nullptr) return ErrorCode::BadArgument;
  TrackBoxes* track = find_track(file->root, track_id);
  if (track == nullptr) return ErrorCode::Missing;
  auto* stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
  auto* mvhd = movie_record<MvhdRecord>(file->root, BoxTypeId::Mvhd);
  if (stts == nullptr || stts->entries.count == 0 || mdhd == nullptr || mvhd == nullptr || mdhd->timescale == 0 ||
      mvhd->timescale == 0)
    return ErrorCode::Ok;
  uint64_t start = initial_empty_duration(track);
  if (movie_end <= start) return ErrorCode::Ok;
  uint64_t allowed = rescale(movie_end - start, mvhd->timescale, mdhd->timescale);
  uint64_t total = 0;
  for (const TimeToSampleEntry& e : stts->entries) total += uint64_t{e.sample_count} * e.sample_delta;
  if (total <= allowed) return ErrorCode::Ok;
  TimeToSampleEntry& last = stts->entries[stts->entries.count - 1];
  if (last.sample_count == 0) return ErrorCode::Ok;
  uint64_t excess = total - allowed;
  // The last sample keeps at least one tick: it is still a sample.
  uint32_t delta = excess >= last.sample_delta ? 1 : static_cast<uint32_t>(last.sample_delta - excess);
  if (delta == last.sample_delta) return ErrorCode::Ok;
  if (last.sample_count == 1) {
    last.sample_delta = delta;
    return ErrorCode::Ok;
  }
  --last.sample_count;
  return stts->entries.append(TimeToSampleEntry{1, delta});
}

}  // namespace vantorel
