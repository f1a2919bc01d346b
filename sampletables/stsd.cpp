// 'stsd': reading, writing and sizing the sample description and its entries.
#include "sampletables/stsd.h"

#include <vector>

#include <cstring>

#include "boxes/fields.h"
#include "boxes/hdlr.h"
#include "sampletables/config_table.h"
#include "sampletables/formats.h"

namespace vantorel {

namespace {

constexpr uint64_t kSoundV2MinStructure = 72;  // counted from the entry box's start
constexpr uint32_t kMaxWaveDepth = 4;
constexpr uint64_t kMinEntryBox = 8;

SampleDescriptionTable* table_of(void* context) {
  return track_record<SampleDescriptionTable>(static_cast<TrackBoxes*>(context), BoxTypeId::Stsd);
}

// QuickTime formats whose codec data sits in a child named like the format.
bool codec_data_format(FourCC format) { return (format.c[0] == 'm' && format.c[1] == 's') || format == ".mp3"; }

uint64_t whole(FourCC type, uint64_t payload) { return box_header_length(type, payload) + payload; }

// ---- Layouts of the fixed fields ---------------------------------------------------

// Every entry opens with six reserved bytes and its data reference index.
#define ENTRY_BASE(R) reserved(6), u16_field(offsetof(R, data_reference_index))

constexpr Field kVisualLayout[] = {
    ENTRY_BASE(VisualSampleEntry),
    u16_field(offsetof(VisualSampleEntry, version)),
    u16_field(offsetof(VisualSampleEntry, revision)),
    u32_field(offsetof(VisualSampleEntry, vendor)),
    u32_field(offsetof(VisualSampleEntry, temporal_quality)),
    u32_field(offsetof(VisualSampleEntry, spatial_quality)),
    u16_field(offsetof(VisualSampleEntry, width)),
    u16_field(offsetof(VisualSampleEntry, height)),
    u32_field(offsetof(VisualSampleEntry, horizresolution)),
    u32_field(offsetof(VisualSampleEntry, vertresolution)),
    u32_field(offsetof(VisualSampleEntry, data_size)),
    u16_field(offsetof(VisualSampleEntry, frame_count)),
    bytes_field(offsetof(VisualSampleEntry, compressorname), 32),
    u16_field(offsetof(VisualSampleEntry, depth)),
    u16_field(offsetof(VisualSampleEntry, color_table_id)),
};

// Versions 0 and 1 share these; version 2 keeps constants in the channel
// and rate fields and its values in its structure.
constexpr Field kSoundLayout[] = {
    ENTRY_BASE(SoundSampleEntry),
    u16_field(offsetof(SoundSampleEntry, version)),
    u16_field(offsetof(SoundSampleEntry, revision)),
    u32_field(offsetof(SoundSampleEntry, vendor)),
    u16_field(offsetof(SoundSampleEntry, channel_count)),
    u16_field(offsetof(SoundSampleEntry, sample_size)),
    u16_field(offsetof(SoundSampleEntry, compression_id)),
    u16_field(offsetof(SoundSampleEntry, packet_size)),
    u32_field(offsetof(SoundSampleEntry, sample_rate)),
};

constexpr Field kSoundV1Layout[] = {
    u32_field(offsetof(SoundSampleEntry, samples_per_packet)),
    u32_field(offsetof(SoundSampleEntry, bytes_per_packet)),
    u32_field(offsetof(SoundSampleEntry, bytes_per_frame)),
    u32_field(offsetof(SoundSampleEntry, bytes_per_sample)),
};

constexpr Field kGenericLayout[] = {ENTRY_BASE(GenericSampleEntry)};
constexpr Field kHintLayout[] = {ENTRY_BASE(HintSampleEntry)};

#undef ENTRY_BASE

// ---- Reading ---------------------------------------------------------------------

struct ChildScan {
  void* entry;
  uint32_t layout;
  FourCC format;
  bool configured;
};

ErrorCode read_codec_data(BoxFile* file, const BoxHeader* child, ChildScan* scan) {
  const ConfigRow* row = config_row(ConfigBoxId::Esds);
  void** slot = config_slot(scan->entry, scan->layout, row);
  if (slot == nullptr || *slot != nullptr) return ErrorCode::Ok;  // the first configuration wins
  void* record = nullptr;
  VT_TRY(config_create(scan->entry, scan->layout, row, &record));
  auto* esds = static_cast<EsDescriptorRecord*>(record);
  VT_TRY(block_read_rest(file, child, &esds->decoder_info, "codec data larger than 16 MiB"));
  scan->configured = true;
  return ErrorCode::Ok;
}

// Reads the child boxes of an entry. A sound entry's 'wave' is entered as if
// its children were the entry's own.
ErrorCode read_entry_children(BoxFile* file, const BoxHeader* parent, ChildScan* scan, uint32_t wave_depth) {
  return walk_children(file, parent, [&](const BoxHeader* h) {
    if (scan->layout == kLayoutSound && h->type == "wave") {
      if (wave_depth >= kMaxWaveDepth) return malformed(file, "'wave' boxes nested too deeply");
      return read_entry_children(file, h, scan, wave_depth + 1);
    }
    if (scan->layout == kLayoutSound && h->type == scan->format && codec_data_format(scan->format))
      return read_codec_data(file, h, scan);
    const ConfigRow* row = config_row_matching(h, scan->layout);
    if (row == nullptr) return ErrorCode::Ok;
    void** slot = config_slot(scan->entry, scan->layout, row);
    // A second box of a kind the entry already has is skipped: the first wins.
    if (*slot != nullptr) return ErrorCode::Ok;
    void* record = nullptr;
    VT_TRY(config_create(scan->entry, scan->layout, row, &record));
    if (row->read != nullptr) VT_TRY(row->read(file, h, record, scan->format));
    if (row->configures) scan->configured = true;
    return ErrorCode::Ok;
  });
}

// The bytes from `from` to the entry's end, kept when nothing configured it.
ErrorCode read_opaque(BoxFile* file, const BoxHeader* entry, uint64_t from, OwnedBlock* block) {
  VT_TRY(file_seek(file, from));
  return block_read_rest(file, entry, block, "sample entry extension larger than 16 MiB");
}

ErrorCode read_visual(BoxFile* file, const BoxHeader* h, VisualSampleEntry* v) {
  v->format = h->type;
  VT_TRY(read_fields(file, h, kVisualLayout, v, "visual sample entry shorter than its fixed fields"));
  uint64_t fixed_end = file_tell(file);
  ChildScan scan{v, kLayoutVisual, v->format, false};
  VT_TRY(read_entry_children(file, h, &scan, 0));
  if (!scan.configured) VT_TRY(read_opaque(file, h, fixed_end, &v->opaque));
  return ErrorCode::Ok;
}

// Truncates a version 2 rate to whole hertz; 0 when below 1 or not below 2^32.
uint32_t whole_rate(uint64_t bits) {
  double rate = 0;
  std::memcpy(&rate, &bits, sizeof rate);
  if (!(rate >= 1.0 && rate < 4294967296.0)) return 0;
  return static_cast<uint32_t>(rate);
}

ErrorCode read_sound(BoxFile* file, const BoxHeader* h, SoundSampleEntry* s) {
  s->format = h->type;
  VT_TRY(read_fields(file, h, kSoundLayout, s, "sound sample entry shorter than its fixed fields"));
  if (s->version == 1) {
    VT_TRY(read_fields(file, h, kSoundV1Layout, s, "version 1 sound entry shorter than its fields"));
  } else if (s->version == 2) {
    if (!box_has(file, h, 4)) return short_box(file, "version 2 sound entry shorter than its fields");
    uint64_t at = file_tell(file);
    uint32_t structure = read_u32be(file);
    if (structure < kSoundV2MinStructure) return malformed(file, "version 2 sound structure smaller than 72 bytes");
    uint64_t structure_end = h->start + structure;
    if (structure_end > h->end) return malformed(file, "version 2 sound structure larger than its entry");
    if (structure_end < at + 16) return malformed(file, "version 2 sound structure shorter than its fields");
    VT_TRY(file_seek(file, at));
    VT_TRY(block_read(file, &s->v2_fields, structure_end - at, "version 2 sound structure larger than 16 MiB"));
    const uint8_t* f = s->v2_fields.bytes;
    s->sample_rate = whole_rate((uint64_t{load_u32be(f + 4)} << 32) | load_u32be(f + 8));
    uint32_t channels = load_u32be(f + 12);
    s->channel_count = channels > UINT16_MAX ? UINT16_MAX : static_cast<uint16_t>(channels);
  }
  if (io_failed(file)) return ErrorCode::Io;
  uint64_t fixed_end = file_tell(file);
  ChildScan scan{s, kLayoutSound, s->format, false};
  VT_TRY(read_entry_children(file, h, &scan, 0));
  if (!scan.configured && !codec_data_format(s->format)) VT_TRY(read_opaque(file, h, fixed_end, &s->opaque));
  return ErrorCode::Ok;
}

ErrorCode read_generic(BoxFile* file, const BoxHeader* h, GenericSampleEntry* g) {
  g->format = h->type;
  VT_TRY(read_fields(file, h, kGenericLayout, g, "sample entry shorter than 8 bytes"));
  // Only MPEG-4 system streams put their configuration boxes right after
  // these fields; text and time code entries have fields of their own
  // there, kept with the entry's bytes.
  if (!(g->format == "mp4s")) return ErrorCode::Ok;
  ChildScan scan{g, kLayoutGeneric, g->format, false};
  return read_entry_children(file, h, &scan, 0);
}

ErrorCode read_hint(BoxFile* file, const BoxHeader* h, HintSampleEntry* e) {
  e->format = h->type;
  VT_TRY(read_fields(file, h, kHintLayout, e, "sample entry shorter than 8 bytes"));
  return block_read_rest(file, h, &e->opaque, "hint sample entry larger than 16 MiB");
}

ErrorCode read_entry(BoxFile* file, const BoxHeader* h, SampleDescriptionTable* t) {
  void* entry = table_entry(t, t->entry_count - 1);
  switch (t->layout) {
    case kLayoutVisual: return read_visual(file, h, static_cast<VisualSampleEntry*>(entry));
    case kLayoutSound: return read_sound(file, h, static_cast<SoundSampleEntry*>(entry));
    case kLayoutHint: return read_hint(file, h, static_cast<HintSampleEntry*>(entry));
    default: return read_generic(file, h, static_cast<GenericSampleEntry*>(entry));
  }
}

// ---- Writing and sizing ------------------------------------------------------------

struct ConfigWrite {
  const ConfigRow* row;
  const void* record;
  FourCC format;
};

ErrorCode config_payload(BoxFile* file, void* context) {
  auto* w = static_cast<ConfigWrite*>(context);
  return w->row->write(file, w->record, w->format);
}

uint64_t configs_size(BoxFile* file, void* entry, uint32_t layout, FourCC format) {
  uint64_t total = 0;
  ConfigOrder order = config_write_order(layout);
  for (uint32_t i = 0; i < order.count; ++i) {
    const ConfigRow* row = config_row(order.ids[i]);
    void** slot = config_slot(entry, layout, row);
    if (slot == nullptr || *slot == nullptr || row->write == nullptr) continue;
    total += whole(row->type, row->size(file, *slot, format));
  }
  return total;
}

ErrorCode write_configs(BoxFile* file, void* entry, uint32_t layout, FourCC format) {
  ConfigOrder order = config_write_order(layout);
  for (uint32_t i = 0; i < order.count; ++i) {
    const ConfigRow* row = config_row(order.ids[i]);
    void** slot = config_slot(entry, layout, row);
    if (slot == nullptr || *slot == nullptr || row->write == nullptr) continue;
    ConfigWrite w{row, *slot, format};
    VT_TRY(write_box(file, row->type, row->extended_type, row->size(file, *slot, format), config_payload, &w));
  }
  return ErrorCode::Ok;
}

// The version a sound entry is written as: version 1 with its four fields,
// version 2 with its structure when it was read with one, else version 0.
uint16_t written_version(const SoundSampleEntry* s) {
  if (s->version == 1) return 1;
  if (s->version == 2 && s->v2_fields.length > 0) return 2;
  return 0;
}

// The fixed fields as written: version 2 puts the constants of its layout
// where versions 0 and 1 keep the channel count and rate.
SoundSampleEntry as_written(const SoundSampleEntry* s) {
  SoundSampleEntry w = *s;
  w.version = written_version(s);
  if (w.version == 2) {
    w.channel_count = 3;
    w.sample_rate = 0x00010000;
  }
  return w;
}

uint64_t sound_fixed_size(const SoundSampleEntry* s) {
  SoundSampleEntry w = as_written(s);
  uint64_t size = size_fields(kSoundLayout, &w);
  if (w.version == 1) size += size_fields(kSoundV1Layout, &w);
  if (w.version == 2) size += s->v2_fields.length;
  return size;
}

uint64_t entry_payload_size(BoxFile* file, void* entry, uint32_t layout) {
  switch (layout) {
    case kLayoutVisual: {
      auto* v = static_cast<VisualSampleEntry*>(entry);
      return size_fields(kVisualLayout, v) + configs_size(file, entry, layout, v->format);
    }
    case kLayoutSound: {
      auto* s = static_cast<SoundSampleEntry*>(entry);
      return sound_fixed_size(s) + configs_size(file, entry, layout, s->format);
    }
    case kLayoutHint: {
      auto* e = static_cast<HintSampleEntry*>(entry);
      return size_fields(kHintLayout, e) + e->opaque.length;
    }
    default: {
      auto* g = static_cast<GenericSampleEntry*>(entry);
      return size_fields(kGenericLayout, g) + configs_size(file, entry, layout, g->format);
    }
  }
}

FourCC entry_format(void* entry, uint32_t layout) {
  switch (layout) {
    case kLayoutVisual: return static_cast<VisualSampleEntry*>(entry)->format;
    case kLayoutSound: return static_cast<SoundSampleEntry*>(entry)->format;
    case kLayoutHint: return static_cast<HintSampleEntry*>(entry)->format;
    default: return static_cast<GenericSampleEntry*>(entry)->format;
  }
}

ErrorCode write_visual(BoxFile* file, const VisualSampleEntry* v) { return write_fields(file, kVisualLayout, v); }

ErrorCode write_sound(BoxFile* file, const SoundSampleEntry* s) {
  SoundSampleEntry w = as_written(s);
  VT_TRY(write_fields(file, kSoundLayout, &w));
  if (w.version == 1) return write_fields(file, kSoundV1Layout, &w);
  if (w.version == 2) return block_write(file, &s->v2_fields);
  return ErrorCode::Ok;
}

struct EntryWrite {
  void* entry;
  uint32_t layout;
};

ErrorCode entry_payload(BoxFile* file, void* context) {
  auto* w = static_cast<EntryWrite*>(context);
  switch (w->layout) {
    case kLayoutVisual: {
      auto* v = static_cast<VisualSampleEntry*>(w->entry);
      VT_TRY(write_visual(file, v));
      return write_configs(file, v, w->layout, v->format);
    }
    case kLayoutSound: {
      auto* s = static_cast<SoundSampleEntry*>(w->entry);
      VT_TRY(write_sound(file, s));
      return write_configs(file, s, w->layout, s->format);
    }
    case kLayoutHint: {
      auto* e = static_cast<HintSampleEntry*>(w->entry);
      VT_TRY(write_fields(file, kHintLayout, e));
      return block_write(file, &e->opaque);
    }
    default: {
      auto* g = static_cast<GenericSampleEntry*>(w->entry);
      VT_TRY(write_fields(file, kGenericLayout, g));
      return write_configs(file, g, w->layout, g->format);
    }
  }
}

}  // namespace

void stsd_release(BoxFile*, void* context) {
  SampleDescriptionTable* t = table_of(context);
  if (t == nullptr) return;
  for (uint32_t i = 0; i < t->entry_count; ++i) entry_release(table_entry(t, i), t->layout);
  t->visual.release();
  t->sound.release();
  t->hint.release();
  t->generic.release();
  t->entry_count = 0;
  t->layout = kLayoutNone;
  block_release(&t->whole_entries);
  t->whole_entry_count = 0;
  t->write_whole = 0;
}

ErrorCode stsd_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* track = static_cast<TrackBoxes*>(context);
  SampleDescriptionTable* t = table_of(track);
  if (t == nullptr) return ErrorCode::BadArgument;
  if (!box_has(file, header, 8)) return malformed(file, "'stsd' shorter than its entry count");
  t->version = read_u8(file);
  t->flags = read_u24be(file);
  uint32_t count = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  // Every entry is a box of at least 8 bytes.
  if (!box_holds(file, header, count, kMinEntryBox)) return malformed(file, "'stsd' entry count larger than the box holds");
  uint64_t entries_at = file_tell(file);
  uint64_t entries_size = box_bytes_left(file, header);
  if (entries_size <= kMaxOwnedBlock) {
    VT_TRY(block_read(file, &t->whole_entries, entries_size, "sample description larger than 16 MiB"));
    t->whole_entry_count = count;
    VT_TRY(file_seek(file, entries_at));
  }
  uint32_t kind = handler_kind_of(track);
  uint32_t read = 0;
  // Boxes past the count, and every entry once the layout cannot be told,
  // are passed over.
  VT_TRY(walk_children(file, header, [&](const BoxHeader* h) {
    if (read >= count) return ErrorCode::Ok;
    if (kind == kHandlerUnknown) kind = format_kind(h->type);  // a track without a handler
    if (kind == kHandlerUnknown || kind == kHandlerOther) {
      read = count;  // no way to tell the layout: the track keeps no entries
      return ErrorCode::Ok;
    }
    ++read;
    VT_TRY(stsd_add_entry(file, track, kind));
    return read_entry(file, h, t);
  }));
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

ErrorCode stsd_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  SampleDescriptionTable* t = table_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u8(file, t->version));
  VT_TRY(write_u24be(file, t->flags));
  if (t->write_whole) {
    VT_TRY(write_u32be(file, t->whole_entry_count));
    return block_write(file, &t->whole_entries);
  }
  VT_TRY(write_u32be(file, t->entry_count));
  for (uint32_t i = 0; i < t->entry_count; ++i) {
    void* entry = table_entry(t, i);
    if (entry == nullptr) return ErrorCode::Missing;
    EntryWrite w{entry, t->layout};
    VT_TRY(write_box(file, entry_format(entry, t->layout), nullptr, entry_payload_size(file, entry, t->layout),
                     entry_payload, &w));
  }
  return ErrorCode::Ok;
}

uint64_t stsd_size(BoxFile* file, void* context) {
  SampleDescriptionTable* t = table_of(context);
  if (t == nullptr) return 0;
  if (t->write_whole) return 8 + uint64_t{t->whole_entries.length};
  uint64_t total = 8;
  for (uint32_t i = 0; i < t->entry_count; ++i) {
    void* entry = table_entry(t, i);
    if (entry == nullptr) continue;
    total += whole(entry_format(entry, t->layout), entry_payload_size(file, entry, t->layout));
  }
  return total;
}

}  // namespace vantorel

namespace vantorel {

namespace {

// An entry as written, with the bytes kept beside it that are never written.
ErrorCode entry_bytes(TrackBoxes* track, uint32_t index, std::vector<uint8_t>* out) {
  SampleDescriptionTable* t = table_of(track);
  void* entry = table_entry(t, index);
  if (entry == nullptr) return ErrorCode::Missing;
  BoxFile scratch{};
  ScopedMemoryStream memory(&scratch);
  VT_TRY(memory.open_writable());
  EntryWrite w{entry, t->layout};
  VT_TRY(write_box(&scratch, entry_format(entry, t->layout), nullptr, entry_payload_size(&scratch, entry, t->layout),
                   entry_payload, &w));
  const OwnedBlock* opaque = nullptr;
  if (t->layout == kLayoutVisual) opaque = &static_cast<VisualSampleEntry*>(entry)->opaque;
  if (t->layout == kLayoutSound) opaque = &static_cast<SoundSampleEntry*>(entry)->opaque;
  if (opaque != nullptr && opaque->length > 0) VT_TRY(block_write(&scratch, opaque));
  MemoryStream* stream = memory.stream();
  out->assign(stream->data, stream->data + stream->size);
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode stsd_entries_equal(TrackBoxes* track, bool* equal) {
  if (track == nullptr || equal == nullptr) return ErrorCode::BadArgument;
  *equal = true;
  SampleDescriptionTable* t = table_of(track);
  if (t == nullptr || t->entry_count < 2) return ErrorCode::Ok;
  std::vector<uint8_t> first, other;
  VT_TRY(entry_bytes(track, 0, &first));
  for (uint32_t i = 1; i < t->entry_count && *equal; ++i) {
    VT_TRY(entry_bytes(track, i, &other));
    *equal = other == first;
  }
  return ErrorCode::Ok;
}

ErrorCode stsd_set_whole_entries(BoxFile* file, TrackBoxes* track, const uint8_t* bytes, uint32_t size,
                                 uint32_t count) {
  SampleDescriptionTable* t = table_of(track);
  if (file == nullptr || t == nullptr || (bytes == nullptr && size > 0)) return ErrorCode::BadArgument;
  // Each entry: a plain 32-bit size, its type, six reserved bytes and the
  // data reference index.
  constexpr uint32_t kIndexAt = 14;
  uint32_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (size - at < kIndexAt + 2) return ErrorCode::Malformed;
    uint32_t entry = load_u32be(bytes + at);
    if (entry < kIndexAt + 2 || entry > size - at) return ErrorCode::Malformed;
    at += entry;
  }
  if (at != size) return ErrorCode::Malformed;
  while (t->entry_count > 0) VT_TRY(stsd_remove_entry(file, track, t->entry_count - 1));
  VT_TRY(block_assign(&t->whole_entries, bytes, size));
  at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* entry = t->whole_entries.bytes + at;
    entry[kIndexAt] = 0;
    entry[kIndexAt + 1] = 1;
    at += load_u32be(entry);
  }
  t->whole_entry_count = count;
  t->write_whole = 1;
  return ErrorCode::Ok;
}

uint32_t whole_entry_children_at(const uint8_t* entry, uint32_t size, uint32_t layout) {
  constexpr uint32_t kVisualChildren = 86;
  constexpr uint32_t kSoundChildren = 36;
  constexpr uint32_t kSoundV1Children = 52;
  constexpr uint32_t kGenericChildren = 16;
  if (entry == nullptr || size < 16) return 0;
  switch (layout) {
    case kLayoutVisual: return size >= kVisualChildren ? kVisualChildren : 0;
    case kLayoutSound: {
      if (size < kSoundChildren) return 0;
      uint16_t version = load_u16be(entry + 16);
      if (version == 1) return size >= kSoundV1Children ? kSoundV1Children : 0;
      if (version == 2) {
        uint32_t structure = size >= 40 ? load_u32be(entry + 36) : 0;  // counted from the entry's start
        return structure >= kSoundV2MinStructure && structure <= size ? structure : 0;
      }
      return kSoundChildren;
    }
    case kLayoutGeneric: return FourCC::from_u32(load_u32be(entry + 4)) == "mp4s" ? kGenericChildren : 0;
    default: return 0;
  }
}

void whole_entries_set_bit_rates(TrackBoxes* track, uint32_t buffer_size, uint32_t max_bitrate, uint32_t avg_bitrate) {
  SampleDescriptionTable* t = table_of(track);
  if (t == nullptr || !t->write_whole) return;
  uint32_t layout = entry_layout_of_kind(handler_kind_of(track));
  uint8_t* bytes = t->whole_entries.bytes;
  uint32_t length = t->whole_entries.length;
  for (uint32_t at = 0, i = 0; i < t->whole_entry_count && length - at >= 8; ++i) {
    uint32_t size = load_u32be(bytes + at);
    if (size < 8 || size > length - at) return;
    uint32_t child = whole_entry_children_at(bytes + at, size, layout);
    while (child != 0 && size - child >= 8) {
      uint32_t box = load_u32be(bytes + at + child);
      if (box < 8 || box > size - child) break;
      if (box == 20 && FourCC::from_u32(load_u32be(bytes + at + child + 4)) == "btrt") {
        uint8_t* f = bytes + at + child + 8;
        store_u32be(f, buffer_size);
        store_u32be(f + 4, max_bitrate);
        store_u32be(f + 8, avg_bitrate);
      }
      child += box;
    }
    at += size;
  }
}

uint32_t whole_entries_colour_as_nclc(TrackBoxes* track) {
  SampleDescriptionTable* t = table_of(track);
  if (t == nullptr || !t->write_whole || entry_layout_of_kind(handler_kind_of(track)) != kLayoutVisual) return 0;
  constexpr uint32_t kNclxBox = 19;  // header, 'nclx', three codes, the range byte
  uint8_t* bytes = t->whole_entries.bytes;
  uint32_t length = t->whole_entries.length;
  uint32_t rewritten = 0;
  for (uint32_t at = 0, i = 0; i < t->whole_entry_count && length - at >= 8; ++i) {
    uint32_t size = load_u32be(bytes + at);
    if (size < 8 || size > length - at) break;
    uint32_t child = whole_entry_children_at(bytes + at, size, kLayoutVisual);
    while (child != 0 && size - child >= 8) {
      uint8_t* box = bytes + at + child;
      const uint32_t box_size = load_u32be(box);
      if (box_size < 8 || box_size > size - child) break;
      if (box_size == kNclxBox && std::memcmp(box + 4, "colrnclx", 8) == 0) {
        // The range byte goes; the entry and the table close up behind it.
        std::memcpy(box + 8, "nclc", 4);
        store_u32be(box, kNclxBox - 1);
        std::memmove(box + kNclxBox - 1, box + kNclxBox, length - (at + child + kNclxBox));
        --size, --length;
        store_u32be(bytes + at, size);
        ++rewritten;
        break;
      }
      child += box_size;
    }
    at += size;
  }
  t->whole_entries.length = length;
  return rewritten;
}

}  // namespace vantorel
