#include "sampletables/stbl.h"

#include "boxes/hdlr.h"
#include "sampletables/sample_groups.h"
#include "sampletables/sound_format.h"
#include "sampletables/stco.h"
#include "sampletables/stss.h"
#include "sampletables/table_fixups.h"

namespace vantorel {

void stbl_release(BoxFile* file, void* context) {
  sample_groups_release(static_cast<TrackBoxes*>(context));
  remove_all_children(file, context, level_list(file, BoxLevel::Stbl));
}

ErrorCode stbl_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  VT_TRY(read_children(file, header, context, level_list(file, BoxLevel::Stbl), nullptr));
  if (file->mode == kOpenInspect) return ErrorCode::Ok;
  // QuickTime PCM counted one sample per frame becomes one sample per chunk.
  auto* track = static_cast<TrackBoxes*>(context);
  if (handler_kind_of(track) != kHandlerSound) return ErrorCode::Ok;
  // A track without its tables has no samples to regroup.
  for (BoxTypeId id : {BoxTypeId::Stts, BoxTypeId::Stsz, BoxTypeId::Stsc, BoxTypeId::Stco})
    if (find_box(track, id) == nullptr) return ErrorCode::Ok;
  SoundFormatInfo format{};
  if (sound_format_of(track, &format) != ErrorCode::Ok) return ErrorCode::Ok;
  return sound_tables_per_chunk(file, track, &format);
}

ErrorCode stbl_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* track = static_cast<TrackBoxes*>(context);
  // The rows with a write operation: stsd, stts, ctts, stsc, stsz.
  VT_TRY(write_children(file, context, level_list(file, BoxLevel::Stbl)));
  if (track_record<ChunkOffsetTable>(track, BoxTypeId::Stco) != nullptr) {
    FourCC type = FourCC::of(chunk_offsets_need_64bit(track) ? "co64" : "stco");
    VT_TRY(write_box(file, type, nullptr, stco_size(file, context), chunk_offsets_write, context));
  }
  if (track_record<SyncSampleTable>(track, BoxTypeId::Stss) != nullptr)
    VT_TRY(write_box(file, FourCC::of("stss"), nullptr, stss_size(file, context), sync_samples_write, context));
  return sample_groups_write(file, track);
}

uint64_t stbl_size(BoxFile* file, void* context) {
  // The 'stco' and 'stss' rows have size operations, so the list's size
  // counts them (and the chunk offsets at their written width) already.
  return children_size(file, context, level_list(file, BoxLevel::Stbl)) +
         sample_groups_size(static_cast<TrackBoxes*>(context));
}

}  // namespace vantorel
