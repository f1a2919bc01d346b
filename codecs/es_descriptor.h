#pragma once
// 'esds': the MPEG-4 elementary stream descriptor (ISO/IEC 14496-1) with its
// decoder configuration, decoder specific information and SL configuration;
// and the object and stream types it names codecs by.
#include <cstdint>

#include "boxes/owned_block.h"

namespace vantorel {

// objectTypeIndication values of the codecs the importers and builders name.
constexpr uint8_t kObjectTypeMpeg4Visual = 0x20;
constexpr uint8_t kObjectTypeMpeg4Audio = 0x40;
constexpr uint8_t kObjectTypeMpeg2Audio = 0x69;  // MPEG-2 (half-rate) layers I to III
constexpr uint8_t kObjectTypeMpeg1Audio = 0x6B;  // MPEG-1 layers I to III
// streamType values.
constexpr uint8_t kStreamTypeVisual = 4;
constexpr uint8_t kStreamTypeAudio = 5;

// Object types of MPEG-4 and MPEG-2 AAC, whose configuration is an
// AudioSpecificConfig, and of MPEG-1/2 audio.
bool is_aac_object_type(uint32_t object_type);
bool is_mpeg_audio_object_type(uint32_t object_type);

struct EsDescriptorRecord {
  uint8_t version;
  uint32_t flags;
  // ES descriptor
  uint16_t ES_ID;
  uint8_t streamDependenceFlag;
  uint8_t URL_Flag;
  uint8_t OCRstreamFlag;
  uint8_t streamPriority;
  uint16_t dependsOn_ES_ID;
  uint8_t URLlength;
  char* URLstring;  // owned, NUL-terminated, or null
  uint16_t OCR_ES_Id;
  // decoder config descriptor
  uint8_t objectTypeIndication;
  uint8_t streamType;
  uint8_t upStream;
  uint32_t bufferSizeDB;
  uint32_t maxBitrate;
  uint32_t avgBitrate;
  OwnedBlock decoder_info;  // decoder specific information; empty when absent
  // SL config descriptor
  uint8_t predefined;
  uint8_t useAccessUnitStartFlag;
  uint8_t useAccessUnitEndFlag;
  uint8_t useRandomAccessPointFlag;
  uint8_t hasRandomAccessUnitsOnlyFlag;
  uint8_t usePaddingFlag;
  uint8_t useTimeStampsFlag;
  uint8_t useIdleFlag;
  uint8_t durationFlag;
  uint32_t timeStampResolution;
  uint32_t OCRResolution;
  uint8_t timeStampLength;
  uint8_t OCRLength;
  uint8_t AU_Length;
  uint8_t instantBitrateLength;
  uint8_t degradationPriorityLength;
  uint8_t AU_seqNumLength;
  uint8_t packetSeqNumLength;
  uint8_t reserved;
  uint32_t timeScale;
  uint16_t accessUnitDuration;
  uint16_t compositionUnitDuration;
  uint64_t startDecodingTimeStamp;
  uint64_t startCompositionTimeStamp;
};

// A new record: all zero, SL predefined 2 (the only form MP4 files use).
void esds_init(EsDescriptorRecord* esds);
void esds_release(EsDescriptorRecord* esds);
// Reads the payload after the box header. A descriptor length written in all
// four bytes sets kFlagLongDescriptorLengths on the file.
ErrorCode esds_read(BoxFile* file, const BoxHeader* header, EsDescriptorRecord* esds);
// Writes the payload; descriptor lengths take four bytes each when the file
// being written has kFlagLongDescriptorLengths, else the fewest bytes.
ErrorCode esds_write(BoxFile* file, const EsDescriptorRecord* esds);
uint64_t esds_size(BoxFile* file, const EsDescriptorRecord* esds);

// Replaces the decoder specific information with `count` zero bytes and hands
// them out to be filled; a count of 0 leaves none (and *out null).
ErrorCode esds_set_decoder_info(EsDescriptorRecord* esds, uint32_t count, uint8_t** out);
// The same, then copies `bytes` in.
ErrorCode esds_copy_decoder_info(EsDescriptorRecord* esds, const uint8_t* bytes, uint32_t count);
// Describes the stream: its object type, stream type and decoder specific
// information (a copy of `count` bytes; none when 0).
ErrorCode esds_set_stream(EsDescriptorRecord* esds, uint8_t object_type, uint8_t stream_type, const uint8_t* info,
                          uint32_t count);

// Bytes an expandable descriptor length takes when written to `file`.
uint32_t descriptor_length_bytes(BoxFile* file, uint32_t length);

}  // namespace vantorel
