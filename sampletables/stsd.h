#pragma once
// 'stsd': the sample description box, its four entry layouts and the codec
// configuration records an entry owns, created by ConfigBoxId.
#include <cstdint>

#include "boxes/box_tree.h"
#include "boxes/owned_block.h"
#include "codecs/ac3.h"
#include "codecs/eac3.h"
#include "codecs/es_descriptor.h"
#include "codecs/h264.h"
#include "codecs/vc1.h"
#include "io/grow_array.h"
#include "sampletables/small_configs.h"

namespace vantorel {

enum class ConfigBoxId : uint32_t {
  Esds = 4096,
  Avcc = 4097,
  UuidExtension = 4098,  // 'uuid' 6b6840f2-5f24-4fc5-ba39-a51bcf0323f3
  Btrt = 4099,
  D263 = 4100,
  Damr = 4101,
  Dawp = 4102,
  Devc = 4103,
  Dqcp = 4104,
  Dsmv = 4105,
  Dac3 = 4106,
  Dvc1 = 4107,
  Fiel = 4108,
  Dec3 = 4109,
};

struct VisualSampleEntry {
  FourCC format;
  uint16_t data_reference_index;
  uint16_t version;
  uint16_t revision;
  uint32_t vendor;
  uint32_t temporal_quality;
  uint32_t spatial_quality;
  uint16_t width;
  uint16_t height;
  uint32_t horizresolution;  // 16.16
  uint32_t vertresolution;   // 16.16
  uint32_t data_size;
  uint16_t frame_count;
  uint8_t compressorname[32];  // first byte: length
  uint16_t depth;
  int16_t color_table_id;
  EsDescriptorRecord* esds;
  D263Record* d263;
  AvcConfigRecord* avcC;
  UuidExtensionRecord* uuid;
  BtrtRecord* btrt;
  DecoderConfigVc1* dvc1;
  FielRecord* fiel;
  OwnedBlock opaque;  // bytes after the fixed fields when no configuration box was found; never written
};

struct SoundSampleEntry {
  FourCC format;
  uint16_t data_reference_index;
  uint16_t version;  // 0, 1 or 2 as read
  uint16_t revision;
  uint32_t vendor;
  uint16_t channel_count;
  uint16_t sample_size;
  uint16_t compression_id;
  uint16_t packet_size;
  uint32_t sample_rate;  // 16.16 for versions 0 and 1; the integer rate for version 2
  // Version 1.
  uint32_t samples_per_packet;
  uint32_t bytes_per_packet;
  uint32_t bytes_per_frame;
  uint32_t bytes_per_sample;
  EsDescriptorRecord* esds;
  DamrRecord* damr;
  DawpRecord* dawp;
  PresenceRecord* devc;
  PresenceRecord* dqcp;
  PresenceRecord* dsmv;
  Dac3Record* dac3;
  Dec3Record* dec3;
  OwnedBlock opaque;  // as for visual entries; never written
  // Version 2: the structure from the end of the version 0 fields to its
  // stated size (its size, rate, channel count and the fields after them),
  // written back unchanged.
  OwnedBlock v2_fields;
};

// Hint entries are not interpreted: the bytes after data_reference_index are
// kept and written back as they were.
struct HintSampleEntry {
  FourCC format;
  uint16_t data_reference_index;
  OwnedBlock opaque;
};

struct GenericSampleEntry {
  FourCC format;
  uint16_t data_reference_index;
  EsDescriptorRecord* esds;
};

// Which array of the table holds the entries.
enum EntryLayout : uint32_t {
  kLayoutNone = 0,
  kLayoutVisual = 1,
  kLayoutSound = 2,
  kLayoutHint = 3,
  kLayoutGeneric = 4,
};
// Handler kinds 1 and 13 visual, 2 sound, 3 hint, every other kind generic.
uint32_t entry_layout_of_kind(uint32_t handler_kind);

struct SampleDescriptionTable {
  uint8_t version;
  uint32_t flags;
  uint32_t entry_count;
  uint32_t layout;  // EntryLayout of the entries; kLayoutNone while there are none
  GrowArray<VisualSampleEntry> visual;
  GrowArray<SoundSampleEntry> sound;
  GrowArray<HintSampleEntry> hint;
  GrowArray<GenericSampleEntry> generic;
  // The entries as read, every byte after the entry count (unless the box
  // is larger than an owned block may be), so a track can be carried with
  // its entries whole. A table with `write_whole` set writes these in place
  // of parsed entries.
  OwnedBlock whole_entries;
  uint32_t whole_entry_count;
  uint32_t write_whole;
};

// Box-table operations; the context is the track.
void stsd_release(BoxFile* file, void* context);
ErrorCode stsd_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode stsd_write(BoxFile* file, void* context);
uint64_t stsd_size(BoxFile* file, void* context);

// Appends an entry of the layout the handler kind selects, with its defaults.
// BadArgument without an 'stsd' record or when the table holds entries of
// another layout.
ErrorCode stsd_add_entry(BoxFile* file, TrackBoxes* track, uint32_t handler_kind);
// Frees the entry with its configuration records and closes the gap.
ErrorCode stsd_remove_entry(BoxFile* file, TrackBoxes* track, uint32_t index);

// The entry at a 0-based index, or null when there is none of that layout.
VisualSampleEntry* visual_entry(BoxFile* file, TrackBoxes* track, uint32_t index);
SoundSampleEntry* sound_entry(BoxFile* file, TrackBoxes* track, uint32_t index);
GenericSampleEntry* generic_entry(BoxFile* file, TrackBoxes* track, uint32_t index);

// Creates a configuration record with its defaults: Exists when the entry has
// one, BadArgument for an id its layout does not allow or a missing entry.
ErrorCode entry_add_config(BoxFile* file, TrackBoxes* track, uint32_t index, ConfigBoxId id);
// Frees it; an absent record is ignored.
ErrorCode entry_remove_config(BoxFile* file, TrackBoxes* track, uint32_t index, ConfigBoxId id);
// The record, or null.
void* entry_config(BoxFile* file, TrackBoxes* track, uint32_t index, ConfigBoxId id);
// True when the track has at most one entry, or when every entry equals the
// first as it would be written (with the bytes kept beside it).
ErrorCode stsd_entries_equal(TrackBoxes* track, bool* equal);

// Gives the track the entries `bytes` holds (`count` sample entry boxes, as
// an 'stsd' stores them after its count), written whole in place of parsed
// entries, each with data reference index 1. Malformed when the boxes do
// not fill the bytes exactly.
ErrorCode stsd_set_whole_entries(BoxFile* file, TrackBoxes* track, const uint8_t* bytes, uint32_t size, uint32_t count);

// Where the child boxes of a whole entry (`size` bytes from its box header)
// start, after the fixed fields of its layout; 0 when its fields are not
// known (text and time code entries, whose fields run to the end).
uint32_t whole_entry_children_at(const uint8_t* entry, uint32_t size, uint32_t layout);
// Writes the bit rates into the 'btrt' of every entry kept whole.
void whole_entries_set_bit_rates(TrackBoxes* track, uint32_t buffer_size, uint32_t max_bitrate, uint32_t avg_bitrate);

// Rewrites the 'colr' of every visual entry kept whole from 'nclx' to
// QuickTime's 'nclc', which has no range flag: for a colour description an
// import built, when the output is a QuickTime movie. Returns how many.
uint32_t whole_entries_colour_as_nclc(TrackBoxes* track);

// The entry's 'esds', whatever its layout.
EsDescriptorRecord* entry_esds(BoxFile* file, TrackBoxes* track, uint32_t index);

}  // namespace vantorel
