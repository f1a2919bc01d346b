#include "sampletables/table_fixups.h"

#include "boxes/hdlr.h"
#include "sampletables/ctts.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"

namespace vantorel {

namespace {

struct PcmLayout {
  uint32_t bytes_per_packet;   // B
  uint32_t frames_per_packet;  // F
};

// B and F of a sound entry: the version-1 fields when both are set, else by
// format and channel count. False for formats that are not regrouped.
bool pcm_layout(const SoundFormatInfo* format, PcmLayout* out) {
  if (format->version == 1 && format->samples_per_packet != 0 && format->bytes_per_frame != 0) {
    out->frames_per_packet = format->samples_per_packet;
    out->bytes_per_packet = format->bytes_per_frame;
    return true;
  }
  struct Row {
    const char* code;
    uint32_t bytes_per_channel;
    uint32_t frames;
  };
  static const Row kRows[] = {
      {"ima4", 34, 64}, {"MAC6", 1, 6}, {"MAC3", 2, 6}, {"alaw", 1, 1}, {"ulaw", 1, 1}, {"raw ", 1, 1},
      {"sowt", 2, 1},   {"twos", 2, 1}, {"in24", 3, 1}, {"in32", 4, 1}, {"fl32", 4, 1}, {"fl64", 8, 1},
  };
  for (const Row& r : kRows) {
    if (format->format == r.code) {
      uint32_t bytes = r.bytes_per_channel;
      // Big- and little-endian PCM say their sample size: 8-bit 'twos' is one byte a channel.
      bool sized = format->format == "twos" || format->format == "sowt";
      uint32_t s = format->sample_size;
      if (sized && (s == 8 || s == 16 || s == 24 || s == 32)) bytes = s / 8;
      out->bytes_per_packet = bytes * format->channel_count;
      out->frames_per_packet = r.frames;
      return true;
    }
  }
  return false;
}

}  // namespace

ErrorCode ctts_normalise(BoxFile* file, TrackBoxes* track, int64_t* shift) {
  if (file == nullptr || track == nullptr || shift == nullptr) return ErrorCode::BadArgument;
  *shift = 0;
  auto* t = track_record<CompositionOffsetTable>(track, BoxTypeId::Ctts);
  if (t == nullptr) return ErrorCode::Ok;
  int64_t smallest = 0;
  for (const CompositionOffsetEntry& e : t->entries)
    if (e.sample_count != 0 && e.sample_offset < smallest) smallest = e.sample_offset;
  if (smallest == 0) return ErrorCode::Ok;
  for (CompositionOffsetEntry& e : t->entries) {
    // Kept as the same 32 bits; a span of more than 2^31 reads back unsigned.
    e.sample_offset = static_cast<int32_t>(static_cast<uint32_t>(int64_t{e.sample_offset} - smallest));
  }
  *shift = -smallest;
  return ErrorCode::Ok;
}

bool ctts_is_single_zero(TrackBoxes* track) {
  auto* t = track != nullptr ? track_record<CompositionOffsetTable>(track, BoxTypeId::Ctts) : nullptr;
  // Only an offset of 0 says nothing: a constant offset still moves every
  // sample's presentation, which an edit list may count on.
  return t != nullptr && t->entries.count == 1 && t->entries[0].sample_offset == 0;
}

bool stss_is_redundant(TrackBoxes* track) {
  auto* t = track != nullptr ? track_record<SyncSampleTable>(track, BoxTypeId::Stss) : nullptr;
  return t != nullptr && (t->samples.count == 0 || t->samples.count == sample_count(track));
}

ErrorCode ctts_drop_if_single(BoxFile* file, TrackBoxes* track) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  if (ctts_is_single_zero(track)) remove_track_box(file, track, BoxTypeId::Ctts);
  return ErrorCode::Ok;
}

ErrorCode stss_drop_if_redundant(BoxFile* file, TrackBoxes* track) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  if (stss_is_redundant(track)) remove_track_box(file, track, BoxTypeId::Stss);
  return ErrorCode::Ok;
}

ErrorCode stts_shift_first_to_last(BoxFile* file, TrackBoxes* track) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  auto* t = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  if (t == nullptr) return ErrorCode::Missing;
  // A leading run of no samples has none to give.
  while (t->entries.count > 0 && t->entries[0].sample_count == 0) t->entries.remove_at(0);
  if (t->entries.count < 2) return ErrorCode::Ok;
  TimeToSampleEntry& last = t->entries.back();
  if (last.sample_count == UINT32_MAX) return ErrorCode::Ok;  // the last run cannot take one more
  ++last.sample_count;
  if (t->entries[0].sample_count == 1)
    t->entries.remove_at(0);
  else
    --t->entries[0].sample_count;
  return ErrorCode::Ok;
}

ErrorCode sound_tables_per_chunk(BoxFile* file, TrackBoxes* track, const SoundFormatInfo* format) {
  if (file == nullptr || track == nullptr || format == nullptr) return ErrorCode::BadArgument;
  if (handler_kind_of(track) != kHandlerSound) return ErrorCode::Ok;
  auto* stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  auto* sizes = track_record<SampleSizeTable>(track, BoxTypeId::Stsz);
  auto* stsc = track_record<SampleToChunkTable>(track, BoxTypeId::Stsc);
  auto* offsets = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco);
  if (stts == nullptr || sizes == nullptr || stsc == nullptr || offsets == nullptr) return ErrorCode::Missing;

  // One sample per PCM frame: a single run of delta 1 over every sample.
  if (stts->entries.count != 1 || stsz_is_listed(sizes) || sizes->sample_count == 0) return ErrorCode::Ok;
  const TimeToSampleEntry run = stts->entries[0];
  if (run.sample_count != sizes->sample_count || run.sample_delta != 1) return ErrorCode::Ok;
  PcmLayout layout;
  if (!pcm_layout(format, &layout)) return ErrorCode::Ok;
  // Writers store either 1 or the bytes of one frame (B / F) as the size.
  const uint64_t size = sizes->sample_size;
  if (size != 1 && size * layout.frames_per_packet != layout.bytes_per_packet) return ErrorCode::Ok;

  const uint64_t chunk_count = offsets->offsets.count;
  VT_TRY(stsc_check(file, stsc, chunk_count, sizes->sample_count));
  const uint32_t n = stsc->entries.count;
  for (uint32_t i = 0; i < n; ++i) {
    uint64_t bytes = uint64_t{layout.bytes_per_packet} * stsc->entries[i].samples_per_chunk / layout.frames_per_packet;
    if (!fits_u32(bytes)) return malformed(file, "PCM chunk larger than a sample can be");
  }

  // A copy keeps the frames as they were stored. Packets of several frames
  // (IMA ADPCM, MACE) are not frames a sample can be made of.
  if (layout.frames_per_packet == 1) {
    TrackExtra* extra = track_extra(track);
    if (extra == nullptr) return ErrorCode::OutOfMemory;
    extra->pcm_frame_size = static_cast<uint32_t>(size);
  }

  // Copy the runs of chunks before the tables are rebuilt.
  GrowArray<SampleToChunkEntry> chunks{};
  VT_TRY(chunks.reserve(n));
  for (uint32_t i = 0; i < n; ++i) chunks.items[i] = stsc->entries[i];
  chunks.count = n;

  remove_track_box(file, track, BoxTypeId::Stts);
  remove_track_box(file, track, BoxTypeId::Stsz);
  remove_track_box(file, track, BoxTypeId::Stsc);
  ErrorCode e = add_track_box(file, track, BoxTypeId::Stts);
  if (e == ErrorCode::Ok) e = add_track_box(file, track, BoxTypeId::Stsz);
  if (e == ErrorCode::Ok) e = add_track_box(file, track, BoxTypeId::Stsc);
  for (uint32_t i = 0; i < n && e == ErrorCode::Ok; ++i) {
    // The first run covers chunk 1 on, whatever its first chunk says.
    uint64_t start = i == 0 ? 1 : chunks[i].first_chunk;
    uint64_t end = i + 1 < n ? chunks[i + 1].first_chunk : chunk_count + 1;
    auto count = static_cast<uint32_t>(end - start);
    uint32_t frames = chunks[i].samples_per_chunk;
    auto bytes = static_cast<uint32_t>(uint64_t{layout.bytes_per_packet} * frames / layout.frames_per_packet);
    e = stts_append(file, track, count, frames);
    if (e == ErrorCode::Ok) e = stsz_append(file, track, bytes, count);
  }
  if (e == ErrorCode::Ok) e = stsc_append(file, track, 1, 1, 1);
  chunks.release();
  return e;
}

ErrorCode ctts_normalise_track(BoxFile* file, TrackBoxes* track) {
  int64_t shift = 0;
  VT_TRY(ctts_normalise(file, track, &shift));
  if (shift == 0) return ErrorCode::Ok;
  TrackExtra* extra = track_extra(track);
  if (extra == nullptr) return ErrorCode::OutOfMemory;
  extra->composition_shift = shift;
  return ErrorCode::Ok;
}

}  // namespace vantorel
