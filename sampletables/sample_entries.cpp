// The configuration record table and the entry operations of 'stsd'.
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "boxes/hdlr.h"
#include "sampletables/config_table.h"
#include "sampletables/sound_format.h"

namespace vantorel {

namespace {

template <class R, ErrorCode (*Read)(BoxFile*, const BoxHeader*, R*)>
ErrorCode read_as(BoxFile* f, const BoxHeader* h, void* r, FourCC) {
  return Read(f, h, static_cast<R*>(r));
}
template <class R, ErrorCode (*Write)(BoxFile*, const R*)>
ErrorCode write_as(BoxFile* f, const void* r, FourCC) {
  return Write(f, static_cast<const R*>(r));
}
template <class R, uint64_t (*Size)(BoxFile*, const R*)>
uint64_t size_as(BoxFile* f, const void* r, FourCC) {
  return Size(f, static_cast<const R*>(r));
}
template <uint64_t N>
uint64_t fixed_size(BoxFile*, const void*, FourCC) {
  return N;
}
template <class R, void (*Op)(R*)>
void record_op(void* r) {
  Op(static_cast<R*>(r));
}

// 'dac3' takes its 2-byte form inside "sac3" entries.
ErrorCode dac3_read_op(BoxFile* f, const BoxHeader* h, void* r, FourCC format) {
  return dac3_read(f, h, static_cast<Dac3Record*>(r), format == "sac3");
}
ErrorCode dac3_write_op(BoxFile* f, const void* r, FourCC format) {
  return dac3_write(f, static_cast<const Dac3Record*>(r), format == "sac3");
}
uint64_t dac3_size_op(BoxFile* f, const void* r, FourCC format) {
  return dac3_size(f, static_cast<const Dac3Record*>(r), format == "sac3");
}

#define VT_VISUAL(field) offsetof(VisualSampleEntry, field)
#define VT_SOUND(field) offsetof(SoundSampleEntry, field)

const ConfigRow kRows[] = {
    {ConfigBoxId::Esds, FourCC::of("esds"), nullptr, sizeof(EsDescriptorRecord), VT_VISUAL(esds), VT_SOUND(esds),
     offsetof(GenericSampleEntry, esds), true, record_op<EsDescriptorRecord, esds_init>,
     record_op<EsDescriptorRecord, esds_release>, read_as<EsDescriptorRecord, esds_read>,
     write_as<EsDescriptorRecord, esds_write>, size_as<EsDescriptorRecord, esds_size>},
    {ConfigBoxId::Avcc, FourCC::of("avcC"), nullptr, sizeof(AvcConfigRecord), VT_VISUAL(avcC), kNoSlot, kNoSlot, true,
     record_op<AvcConfigRecord, avcc_init>, record_op<AvcConfigRecord, avcc_release>,
     read_as<AvcConfigRecord, avcc_read>, write_as<AvcConfigRecord, avcc_write>, size_as<AvcConfigRecord, avcc_size>},
    {ConfigBoxId::UuidExtension, FourCC::of("uuid"), kVisualExtensionUuid, sizeof(UuidExtensionRecord),
     VT_VISUAL(uuid), kNoSlot, kNoSlot, false, nullptr, nullptr, read_as<UuidExtensionRecord, uuid_extension_read>,
     write_as<UuidExtensionRecord, uuid_extension_write>, fixed_size<kUuidExtensionSize>},
    {ConfigBoxId::Btrt, FourCC::of("btrt"), nullptr, sizeof(BtrtRecord), VT_VISUAL(btrt), kNoSlot, kNoSlot, false,
     nullptr, nullptr, read_as<BtrtRecord, btrt_read>, write_as<BtrtRecord, btrt_write>, fixed_size<kBtrtSize>},
    {ConfigBoxId::D263, FourCC::of("d263"), nullptr, sizeof(D263Record), VT_VISUAL(d263), kNoSlot, kNoSlot, true,
     nullptr, nullptr, read_as<D263Record, d263_read>, write_as<D263Record, d263_write>, fixed_size<kD263Size>},
    {ConfigBoxId::Damr, FourCC::of("damr"), nullptr, sizeof(DamrRecord), kNoSlot, VT_SOUND(damr), kNoSlot, true,
     nullptr, nullptr, read_as<DamrRecord, damr_read>, write_as<DamrRecord, damr_write>, fixed_size<kDamrSize>},
    {ConfigBoxId::Dawp, FourCC::of("dawp"), nullptr, sizeof(DawpRecord), kNoSlot, VT_SOUND(dawp), kNoSlot, true,
     nullptr, nullptr, read_as<DawpRecord, dawp_read>, write_as<DawpRecord, dawp_write>, fixed_size<kDawpSize>},
    {ConfigBoxId::Devc, FourCC::of("devc"), nullptr, sizeof(PresenceRecord), kNoSlot, VT_SOUND(devc), kNoSlot, false,
     nullptr, nullptr, nullptr, nullptr, nullptr},
    {ConfigBoxId::Dqcp, FourCC::of("dqcp"), nullptr, sizeof(PresenceRecord), kNoSlot, VT_SOUND(dqcp), kNoSlot, false,
     nullptr, nullptr, nullptr, nullptr, nullptr},
    {ConfigBoxId::Dsmv, FourCC::of("dsmv"), nullptr, sizeof(PresenceRecord), kNoSlot, VT_SOUND(dsmv), kNoSlot, false,
     nullptr, nullptr, nullptr, nullptr, nullptr},
    {ConfigBoxId::Dac3, FourCC::of("dac3"), nullptr, sizeof(Dac3Record), kNoSlot, VT_SOUND(dac3), kNoSlot, true,
     nullptr, nullptr, dac3_read_op, dac3_write_op, dac3_size_op},
    {ConfigBoxId::Dvc1, FourCC::of("dvc1"), nullptr, sizeof(DecoderConfigVc1), VT_VISUAL(dvc1), kNoSlot, kNoSlot, true,
     nullptr, record_op<DecoderConfigVc1, dvc1_release>, read_as<DecoderConfigVc1, dvc1_read>,
     write_as<DecoderConfigVc1, dvc1_write>, size_as<DecoderConfigVc1, dvc1_size>},
    {ConfigBoxId::Fiel, FourCC::of("fiel"), nullptr, sizeof(FielRecord), VT_VISUAL(fiel), kNoSlot, kNoSlot, true,
     nullptr, nullptr, read_as<FielRecord, fiel_read>, write_as<FielRecord, fiel_write>, fixed_size<kFielSize>},
    {ConfigBoxId::Dec3, FourCC::of("dec3"), nullptr, sizeof(Dec3Record), kNoSlot, VT_SOUND(dec3), kNoSlot, true,
     nullptr, record_op<Dec3Record, dec3_release>, read_as<Dec3Record, dec3_read>, write_as<Dec3Record, dec3_write>,
     size_as<Dec3Record, dec3_size>},
};

#undef VT_VISUAL
#undef VT_SOUND

constexpr ConfigBoxId kVisualOrder[] = {ConfigBoxId::Esds, ConfigBoxId::Avcc, ConfigBoxId::Dvc1,
                                        ConfigBoxId::UuidExtension, ConfigBoxId::Btrt, ConfigBoxId::D263,
                                        ConfigBoxId::Fiel};
constexpr ConfigBoxId kSoundOrder[] = {ConfigBoxId::Esds, ConfigBoxId::Damr, ConfigBoxId::Dawp, ConfigBoxId::Dac3,
                                       ConfigBoxId::Dec3};
constexpr ConfigBoxId kGenericOrder[] = {ConfigBoxId::Esds};

size_t slot_offset(const ConfigRow* row, uint32_t layout) {
  switch (layout) {
    case kLayoutVisual: return row->visual_slot;
    case kLayoutSound: return row->sound_slot;
    case kLayoutGeneric: return row->generic_slot;
    default: return kNoSlot;
  }
}

SampleDescriptionTable* table_of(TrackBoxes* track) {
  return track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
}

void set_defaults(void* entry, uint32_t layout) {
  switch (layout) {
    case kLayoutVisual: {
      auto* v = static_cast<VisualSampleEntry*>(entry);
      v->data_reference_index = 1;
      v->horizresolution = 0x00480000;  // 72 dpi
      v->vertresolution = 0x00480000;
      v->frame_count = 1;
      v->depth = 0x0018;
      v->color_table_id = -1;
      break;
    }
    case kLayoutSound: {
      auto* s = static_cast<SoundSampleEntry*>(entry);
      s->data_reference_index = 1;
      s->channel_count = 2;
      s->sample_size = 16;
      break;
    }
    case kLayoutHint: static_cast<HintSampleEntry*>(entry)->data_reference_index = 1; break;
    case kLayoutGeneric: static_cast<GenericSampleEntry*>(entry)->data_reference_index = 1; break;
    default: break;
  }
}

void* entry_of(BoxFile*, TrackBoxes* track, uint32_t index, uint32_t* layout) {
  *layout = kLayoutNone;
  SampleDescriptionTable* t = table_of(track);
  if (t == nullptr) return nullptr;
  *layout = t->layout;
  return table_entry(t, index);
}

}  // namespace

uint32_t entry_layout_of_kind(uint32_t handler_kind) {
  switch (handler_kind) {
    case kHandlerVideo:
    case kHandlerInterleaved: return kLayoutVisual;
    case kHandlerSound: return kLayoutSound;
    case kHandlerHint: return kLayoutHint;
    default: return kLayoutGeneric;
  }
}

const ConfigRow* config_row(ConfigBoxId id) {
  for (const ConfigRow& row : kRows)
    if (row.id == id) return &row;
  return nullptr;
}

const ConfigRow* config_row_matching(const BoxHeader* header, uint32_t layout) {
  for (const ConfigRow& row : kRows)
    if (slot_offset(&row, layout) != kNoSlot && box_matches(header, row.type, row.extended_type)) return &row;
  return nullptr;
}

void** config_slot(void* entry, uint32_t layout, const ConfigRow* row) {
  if (entry == nullptr || row == nullptr) return nullptr;
  size_t offset = slot_offset(row, layout);
  if (offset == kNoSlot) return nullptr;
  return reinterpret_cast<void**>(static_cast<char*>(entry) + offset);
}

ErrorCode config_create(void* entry, uint32_t layout, const ConfigRow* row, void** out) {
  if (out != nullptr) *out = nullptr;
  void** slot = config_slot(entry, layout, row);
  if (slot == nullptr) return ErrorCode::BadArgument;
  if (*slot != nullptr) return ErrorCode::Exists;
  void* record = std::calloc(1, row->record_size);
  if (record == nullptr) return ErrorCode::OutOfMemory;
  if (row->init != nullptr) row->init(record);
  *slot = record;
  if (out != nullptr) *out = record;
  return ErrorCode::Ok;
}

void config_destroy(void* entry, uint32_t layout, const ConfigRow* row) {
  void** slot = config_slot(entry, layout, row);
  if (slot == nullptr || *slot == nullptr) return;
  if (row->release != nullptr) row->release(*slot);
  std::free(*slot);
  *slot = nullptr;
}

void entry_release(void* entry, uint32_t layout) {
  if (entry == nullptr) return;
  for (const ConfigRow& row : kRows) config_destroy(entry, layout, &row);
  switch (layout) {
    case kLayoutVisual: block_release(&static_cast<VisualSampleEntry*>(entry)->opaque); break;
    case kLayoutSound:
      block_release(&static_cast<SoundSampleEntry*>(entry)->opaque);
      block_release(&static_cast<SoundSampleEntry*>(entry)->v2_fields);
      break;
    case kLayoutHint: block_release(&static_cast<HintSampleEntry*>(entry)->opaque); break;
    default: break;
  }
}

ConfigOrder config_write_order(uint32_t layout) {
  switch (layout) {
    case kLayoutVisual: return {kVisualOrder, static_cast<uint32_t>(std::size(kVisualOrder))};
    case kLayoutSound: return {kSoundOrder, static_cast<uint32_t>(std::size(kSoundOrder))};
    case kLayoutGeneric: return {kGenericOrder, static_cast<uint32_t>(std::size(kGenericOrder))};
    default: return {nullptr, 0};
  }
}

void* table_entry(SampleDescriptionTable* t, uint32_t index) {
  if (t == nullptr || index >= t->entry_count) return nullptr;
  switch (t->layout) {
    case kLayoutVisual: return index < t->visual.count ? &t->visual[index] : nullptr;
    case kLayoutSound: return index < t->sound.count ? &t->sound[index] : nullptr;
    case kLayoutHint: return index < t->hint.count ? &t->hint[index] : nullptr;
    case kLayoutGeneric: return index < t->generic.count ? &t->generic[index] : nullptr;
    default: return nullptr;
  }
}

ErrorCode stsd_add_entry(BoxFile* file, TrackBoxes* track, uint32_t handler_kind) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  SampleDescriptionTable* t = table_of(track);
  if (t == nullptr) return ErrorCode::BadArgument;
  uint32_t layout = entry_layout_of_kind(handler_kind);
  if (t->entry_count > 0 && t->layout != layout) return ErrorCode::BadArgument;
  void* entry = nullptr;
  switch (layout) {
    case kLayoutVisual: {
      VisualSampleEntry* e = nullptr;
      VT_TRY(t->visual.append_zeroed(&e));
      entry = e;
      break;
    }
    case kLayoutSound: {
      SoundSampleEntry* e = nullptr;
      VT_TRY(t->sound.append_zeroed(&e));
      entry = e;
      break;
    }
    case kLayoutHint: {
      HintSampleEntry* e = nullptr;
      VT_TRY(t->hint.append_zeroed(&e));
      entry = e;
      break;
    }
    default: {
      GenericSampleEntry* e = nullptr;
      VT_TRY(t->generic.append_zeroed(&e));
      entry = e;
      break;
    }
  }
  set_defaults(entry, layout);
  t->layout = layout;
  ++t->entry_count;
  return ErrorCode::Ok;
}

ErrorCode stsd_remove_entry(BoxFile* file, TrackBoxes* track, uint32_t index) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  SampleDescriptionTable* t = table_of(track);
  void* entry = table_entry(t, index);
  if (entry == nullptr) return ErrorCode::BadArgument;
  entry_release(entry, t->layout);
  switch (t->layout) {
    case kLayoutVisual: t->visual.remove_at(index); break;
    case kLayoutSound: t->sound.remove_at(index); break;
    case kLayoutHint: t->hint.remove_at(index); break;
    default: t->generic.remove_at(index); break;
  }
  if (--t->entry_count == 0) t->layout = kLayoutNone;
  return ErrorCode::Ok;
}

VisualSampleEntry* visual_entry(BoxFile* file, TrackBoxes* track, uint32_t index) {
  uint32_t layout = kLayoutNone;
  void* e = entry_of(file, track, index, &layout);
  return layout == kLayoutVisual ? static_cast<VisualSampleEntry*>(e) : nullptr;
}

SoundSampleEntry* sound_entry(BoxFile* file, TrackBoxes* track, uint32_t index) {
  uint32_t layout = kLayoutNone;
  void* e = entry_of(file, track, index, &layout);
  return layout == kLayoutSound ? static_cast<SoundSampleEntry*>(e) : nullptr;
}

GenericSampleEntry* generic_entry(BoxFile* file, TrackBoxes* track, uint32_t index) {
  uint32_t layout = kLayoutNone;
  void* e = entry_of(file, track, index, &layout);
  return layout == kLayoutGeneric ? static_cast<GenericSampleEntry*>(e) : nullptr;
}

ErrorCode entry_add_config(BoxFile* file, TrackBoxes* track, uint32_t index, ConfigBoxId id) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  uint32_t layout = kLayoutNone;
  void* entry = entry_of(file, track, index, &layout);
  const ConfigRow* row = config_row(id);
  if (entry == nullptr || row == nullptr) return ErrorCode::BadArgument;
  return config_create(entry, layout, row, nullptr);
}

ErrorCode entry_remove_config(BoxFile* file, TrackBoxes* track, uint32_t index, ConfigBoxId id) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  uint32_t layout = kLayoutNone;
  void* entry = entry_of(file, track, index, &layout);
  const ConfigRow* row = config_row(id);
  if (entry == nullptr || row == nullptr) return ErrorCode::BadArgument;
  config_destroy(entry, layout, row);
  return ErrorCode::Ok;
}

void* entry_config(BoxFile* file, TrackBoxes* track, uint32_t index, ConfigBoxId id) {
  uint32_t layout = kLayoutNone;
  void* entry = entry_of(file, track, index, &layout);
  void** slot = config_slot(entry, layout, config_row(id));
  return slot != nullptr ? *slot : nullptr;
}

EsDescriptorRecord* entry_esds(BoxFile* file, TrackBoxes* track, uint32_t index) {
  return static_cast<EsDescriptorRecord*>(entry_config(file, track, index, ConfigBoxId::Esds));
}

ErrorCode sound_format_of(TrackBoxes* track, SoundFormatInfo* out) {
  if (track == nullptr || out == nullptr) return ErrorCode::BadArgument;
  std::memset(out, 0, sizeof *out);
  SampleDescriptionTable* t = table_of(track);
  if (t == nullptr || t->layout != kLayoutSound) return ErrorCode::Missing;
  const SoundSampleEntry* s = static_cast<SoundSampleEntry*>(table_entry(t, 0));
  if (s == nullptr) return ErrorCode::Missing;
  out->format = s->format;
  out->version = s->version;
  out->channel_count = s->channel_count;
  out->sample_size = s->sample_size;
  out->samples_per_packet = s->samples_per_packet;
  out->bytes_per_frame = s->bytes_per_frame;
  return ErrorCode::Ok;
}

}  // namespace vantorel
