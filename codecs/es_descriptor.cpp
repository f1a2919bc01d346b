#include "codecs/es_descriptor.h"

#include <cstdlib>
#include <cstring>

#include "boxes/fields.h"

namespace vantorel {

namespace {

constexpr uint8_t kEsTag = 0x03;
constexpr uint8_t kDecoderConfigTag = 0x04;
constexpr uint8_t kDecoderInfoTag = 0x05;
constexpr uint8_t kSlConfigTag = 0x06;
constexpr uint32_t kDecoderConfigFixed = 13;

bool long_lengths(BoxFile* file) { return file != nullptr && (file->flags & kFlagLongDescriptorLengths) != 0; }

ErrorCode expect_tag(BoxFile* file, const BoxHeader* header, uint8_t tag, const char* reason) {
  if (!box_has(file, header, 1)) return malformed(file, reason);
  if (read_u8(file) != tag) return malformed(file, reason);
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

// Expandable length: 7 bits a byte, at most four bytes.
ErrorCode read_length(BoxFile* file, const BoxHeader* header, uint32_t* out) {
  *out = 0;
  uint32_t value = 0;
  for (uint32_t i = 0; i < 4; ++i) {
    if (!box_has(file, header, 1)) return malformed(file, "descriptor length runs past the 'esds' box");
    uint8_t b = read_u8(file);
    value = (value << 7) | (b & 0x7F);
    if (i == 3) file->flags |= kFlagLongDescriptorLengths;
    if ((b & 0x80) == 0) break;
  }
  if (io_failed(file)) return ErrorCode::Io;
  *out = value;
  return ErrorCode::Ok;
}

ErrorCode write_length(BoxFile* file, uint32_t length) {
  uint32_t n = descriptor_length_bytes(file, length);
  for (uint32_t i = n; i-- > 0;) {
    auto b = static_cast<uint8_t>((length >> (7 * i)) & 0x7F);
    if (i > 0) b |= 0x80;
    VT_TRY(write_u8(file, b));
  }
  return ErrorCode::Ok;
}

// Size of a whole descriptor (tag, length, body).
uint32_t descriptor_size(BoxFile* file, uint32_t body) { return 1 + descriptor_length_bytes(file, body) + body; }

uint32_t decoder_info_size(BoxFile* file, const EsDescriptorRecord* e) {
  return e->decoder_info.length > 0 ? descriptor_size(file, e->decoder_info.length) : 0;
}

uint32_t es_body_size(BoxFile* file, const EsDescriptorRecord* e) {
  uint32_t body = 3;
  if (e->streamDependenceFlag) body += 2;
  if (e->URL_Flag) body += 1 + e->URLlength;
  if (e->OCRstreamFlag) body += 2;
  body += descriptor_size(file, kDecoderConfigFixed + decoder_info_size(file, e));
  body += descriptor_size(file, 1);
  return body;
}

void set_predefined_fields(EsDescriptorRecord* e) {
  if (e->predefined == 1) {
    e->useAccessUnitStartFlag = e->useAccessUnitEndFlag = e->useRandomAccessPointFlag = 0;
    e->hasRandomAccessUnitsOnlyFlag = e->usePaddingFlag = e->useTimeStampsFlag = 0;
    e->useIdleFlag = e->durationFlag = 0;
    e->timeStampResolution = 1000;
    e->OCRResolution = 0;
    e->timeStampLength = 32;
    e->OCRLength = e->AU_Length = e->instantBitrateLength = 0;
    e->degradationPriorityLength = e->AU_seqNumLength = e->packetSeqNumLength = e->reserved = 0;
  } else if (e->predefined == 2) {
    e->useAccessUnitStartFlag = e->useAccessUnitEndFlag = e->useRandomAccessPointFlag = 0;
    e->hasRandomAccessUnitsOnlyFlag = e->usePaddingFlag = 0;
    e->useTimeStampsFlag = 1;
    e->useIdleFlag = e->durationFlag = 0;
    e->timeStampResolution = e->OCRResolution = 0;
    e->timeStampLength = e->OCRLength = e->AU_Length = e->instantBitrateLength = 0;
    e->degradationPriorityLength = e->AU_seqNumLength = e->packetSeqNumLength = e->reserved = 0;
  }
}

ErrorCode read_sl_config(BoxFile* file, const BoxHeader* header, EsDescriptorRecord* e) {
  VT_TRY(expect_tag(file, header, kSlConfigTag, "SL config descriptor tag is not 6"));
  uint32_t length = 0;
  VT_TRY(read_length(file, header, &length));
  if (!box_has(file, header, 1)) return malformed(file, "SL config descriptor runs past the 'esds' box");
  e->predefined = read_u8(file);
  if (e->predefined == 0) {
    if (!box_has(file, header, 15)) return malformed(file, "SL config descriptor runs past the 'esds' box");
    uint8_t f = read_u8(file);
    e->useAccessUnitStartFlag = (f >> 7) & 1;
    e->useAccessUnitEndFlag = (f >> 6) & 1;
    e->useRandomAccessPointFlag = (f >> 5) & 1;
    e->hasRandomAccessUnitsOnlyFlag = (f >> 4) & 1;
    e->usePaddingFlag = (f >> 3) & 1;
    e->useTimeStampsFlag = (f >> 2) & 1;
    e->useIdleFlag = (f >> 1) & 1;
    e->durationFlag = f & 1;
    e->timeStampResolution = read_u32be(file);
    e->OCRResolution = read_u32be(file);
    e->timeStampLength = read_u8(file);
    e->OCRLength = read_u8(file);
    e->AU_Length = read_u8(file);
    e->instantBitrateLength = read_u8(file);
    uint16_t w = read_u16be(file);
    e->degradationPriorityLength = static_cast<uint8_t>(w >> 12);
    e->AU_seqNumLength = static_cast<uint8_t>((w >> 7) & 0x1F);
    e->packetSeqNumLength = static_cast<uint8_t>((w >> 2) & 0x1F);
    e->reserved = static_cast<uint8_t>(w & 3);
  } else {
    set_predefined_fields(e);
  }
  if (e->durationFlag) {
    if (!box_has(file, header, 8)) return malformed(file, "SL config descriptor runs past the 'esds' box");
    e->timeScale = read_u32be(file);
    e->accessUnitDuration = read_u16be(file);
    e->compositionUnitDuration = read_u16be(file);
  }
  uint32_t width = e->timeStampLength;
  if (!e->useTimeStampsFlag && (width == 8 || width == 16 || width == 32 || width == 64)) {
    if (!box_has(file, header, 2 * (width / 8))) return malformed(file, "SL config descriptor runs past the 'esds' box");
    auto read_stamp = [&]() -> uint64_t {
      switch (width) {
        case 8: return read_u8(file);
        case 16: return read_u16be(file);
        case 32: return read_u32be(file);
        default: return read_u64be(file);
      }
    };
    e->startDecodingTimeStamp = read_stamp();
    e->startCompositionTimeStamp = read_stamp();
  }
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

}  // namespace

bool is_aac_object_type(uint32_t object_type) {
  return object_type == kObjectTypeMpeg4Audio || (object_type >= 0x66 && object_type <= 0x68);
}

bool is_mpeg_audio_object_type(uint32_t object_type) {
  return object_type == kObjectTypeMpeg2Audio || object_type == kObjectTypeMpeg1Audio;
}

uint32_t descriptor_length_bytes(BoxFile* file, uint32_t length) {
  if (long_lengths(file)) return 4;
  if (length < (1u << 7)) return 1;
  if (length < (1u << 14)) return 2;
  if (length < (1u << 21)) return 3;
  return 4;
}

void esds_init(EsDescriptorRecord* esds) {
  if (esds == nullptr) return;
  std::memset(esds, 0, sizeof *esds);
  esds->predefined = 2;
}

void esds_release(EsDescriptorRecord* esds) {
  if (esds == nullptr) return;
  std::free(esds->URLstring);
  esds->URLstring = nullptr;
  block_release(&esds->decoder_info);
}

ErrorCode esds_read(BoxFile* file, const BoxHeader* header, EsDescriptorRecord* e) {
  if (file == nullptr || header == nullptr || e == nullptr) return ErrorCode::BadArgument;
  if (!box_has(file, header, 4)) return short_box(file, "'esds' shorter than its version and flags");
  e->version = read_u8(file);
  e->flags = read_u24be(file);

  VT_TRY(expect_tag(file, header, kEsTag, "ES descriptor tag is not 3"));
  uint32_t length = 0;
  VT_TRY(read_length(file, header, &length));  // not needed: the fields say what follows
  if (!box_has(file, header, 3)) return short_box(file, "ES descriptor runs past the 'esds' box");
  e->ES_ID = read_u16be(file);
  uint8_t f = read_u8(file);
  e->streamDependenceFlag = (f >> 7) & 1;
  e->URL_Flag = (f >> 6) & 1;
  e->OCRstreamFlag = (f >> 5) & 1;
  e->streamPriority = f & 0x1F;
  if (e->streamDependenceFlag) {
    if (!box_has(file, header, 2)) return short_box(file, "ES descriptor runs past the 'esds' box");
    e->dependsOn_ES_ID = read_u16be(file);
  }
  if (e->URL_Flag) {
    if (!box_has(file, header, 1)) return short_box(file, "ES descriptor runs past the 'esds' box");
    uint8_t n = read_u8(file);
    if (!box_has(file, header, n)) return malformed(file, "ES descriptor URL runs past the 'esds' box");
    auto* url = static_cast<char*>(std::malloc(size_t{n} + 1));
    if (url == nullptr) return ErrorCode::OutOfMemory;
    if (n > 0 && read_bytes(file, url, n) != ErrorCode::Ok) {
      std::free(url);
      return ErrorCode::Io;
    }
    url[n] = '\0';
    std::free(e->URLstring);
    e->URLstring = url;
    e->URLlength = n;
  }
  if (e->OCRstreamFlag) {
    if (!box_has(file, header, 2)) return short_box(file, "ES descriptor runs past the 'esds' box");
    e->OCR_ES_Id = read_u16be(file);
  }

  VT_TRY(expect_tag(file, header, kDecoderConfigTag, "decoder config descriptor tag is not 4"));
  uint32_t config_length = 0;
  VT_TRY(read_length(file, header, &config_length));
  uint64_t config_start = file_tell(file);
  if (config_length < kDecoderConfigFixed) return malformed(file, "decoder config descriptor shorter than 13 bytes");
  if (!box_has(file, header, config_length)) return short_box(file, "decoder config descriptor runs past the 'esds' box");
  e->objectTypeIndication = read_u8(file);
  uint8_t st = read_u8(file);
  e->streamType = st >> 2;
  e->upStream = (st >> 1) & 1;
  e->bufferSizeDB = read_u24be(file);
  e->maxBitrate = read_u32be(file);
  e->avgBitrate = read_u32be(file);
  if (config_length > kDecoderConfigFixed && read_u8(file) == kDecoderInfoTag) {
    uint32_t n = 0;
    VT_TRY(read_length(file, header, &n));
    if (n > 0) {
      if (!box_has(file, header, n)) return malformed(file, "decoder specific info runs past the 'esds' box");
      VT_TRY(block_read(file, &e->decoder_info, n, "decoder specific info larger than 16 MiB"));
    }
  }
  if (io_failed(file)) return ErrorCode::Io;
  VT_TRY(file_seek(file, config_start + config_length));

  return read_sl_config(file, header, e);
}

ErrorCode esds_write(BoxFile* file, const EsDescriptorRecord* e) {
  if (file == nullptr || e == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u8(file, e->version));
  VT_TRY(write_u24be(file, e->flags));
  VT_TRY(write_u8(file, kEsTag));
  VT_TRY(write_length(file, es_body_size(file, e)));
  VT_TRY(write_u16be(file, e->ES_ID));
  VT_TRY(write_u8(file, static_cast<uint8_t>(((e->streamDependenceFlag & 1) << 7) | ((e->URL_Flag & 1) << 6) |
                                             ((e->OCRstreamFlag & 1) << 5) | (e->streamPriority & 0x1F))));
  if (e->streamDependenceFlag) VT_TRY(write_u16be(file, e->dependsOn_ES_ID));
  if (e->URL_Flag) {
    VT_TRY(write_u8(file, e->URLlength));
    size_t have = e->URLstring != nullptr ? std::strlen(e->URLstring) : 0;
    uint32_t from_string = have < e->URLlength ? static_cast<uint32_t>(have) : e->URLlength;
    if (from_string > 0) VT_TRY(write_bytes(file, e->URLstring, from_string));
    VT_TRY(write_zeros(file, e->URLlength - from_string));
  }
  if (e->OCRstreamFlag) VT_TRY(write_u16be(file, e->OCR_ES_Id));

  VT_TRY(write_u8(file, kDecoderConfigTag));
  VT_TRY(write_length(file, kDecoderConfigFixed + decoder_info_size(file, e)));
  VT_TRY(write_u8(file, e->objectTypeIndication));
  VT_TRY(write_u8(file, static_cast<uint8_t>((e->streamType << 2) | ((e->upStream & 1) << 1) | 1)));
  VT_TRY(write_u24be(file, e->bufferSizeDB));
  VT_TRY(write_u32be(file, e->maxBitrate));
  VT_TRY(write_u32be(file, e->avgBitrate));
  if (e->decoder_info.length > 0) {
    VT_TRY(write_u8(file, kDecoderInfoTag));
    VT_TRY(write_length(file, e->decoder_info.length));
    VT_TRY(block_write(file, &e->decoder_info));
  }

  VT_TRY(write_u8(file, kSlConfigTag));
  VT_TRY(write_length(file, 1));
  // Only the predefined form of MP4 files can be written.
  if (e->predefined != 2) return ErrorCode::Missing;
  return write_u8(file, 2);
}

uint64_t esds_size(BoxFile* file, const EsDescriptorRecord* e) {
  if (e == nullptr) return 0;
  return 4 + descriptor_size(file, es_body_size(file, e));
}

ErrorCode esds_set_decoder_info(EsDescriptorRecord* esds, uint32_t count, uint8_t** out) {
  if (esds == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = nullptr;
  VT_TRY(block_assign(&esds->decoder_info, nullptr, count));
  *out = esds->decoder_info.bytes;
  return ErrorCode::Ok;
}

ErrorCode esds_copy_decoder_info(EsDescriptorRecord* esds, const uint8_t* bytes, uint32_t count) {
  if (esds == nullptr || bytes == nullptr) return ErrorCode::BadArgument;
  return block_assign(&esds->decoder_info, bytes, count);
}

ErrorCode esds_set_stream(EsDescriptorRecord* esds, uint8_t object_type, uint8_t stream_type, const uint8_t* info,
                          uint32_t count) {
  if (esds == nullptr || (info == nullptr && count > 0)) return ErrorCode::BadArgument;
  esds->objectTypeIndication = object_type;
  esds->streamType = stream_type;
  block_release(&esds->decoder_info);
  return count > 0 ? esds_copy_decoder_info(esds, info, count) : ErrorCode::Ok;
}

}  // namespace vantorel
