#include "mediafile/import_dispatch.h"

#include <cstring>

#include "boxes/box_tree.h"
#include "codecs/aac.h"
#include "codecs/mpeg_audio.h"
#include "import/riff.h"
#include "import/asf/asf_import.h"
#include "import/avi/avi_import.h"
#include "import/matroska/matroska_import.h"
#include "mediafile/internal.h"

namespace vantorel {

bool probe_avi(MediaFile* file) {
  if (file_size(file) < 12) return false;
  BoxHeader h;
  bool avi = false;
  if (read_riff_chunk_header(file, &h) == ErrorCode::Ok && h.type == "RIFF") avi = read_fourcc(file) == "AVI ";
  file_seek(file, 0);
  return avi;
}

ErrorCode import_avi(MediaFile* file) {
  VT_TRY(avi_import(file, file->root));
  // The imported tables give each track its bit rates.
  if (file->mode != kOpenInspect) update_bit_rates(file);
  return ErrorCode::Ok;
}
bool probe_matroska(MediaFile* file) { return matroska_probe(file); }

ErrorCode import_matroska(MediaFile* file) {
  VT_TRY(matroska_import(file, file->root));
  if (file->mode != kOpenInspect) update_bit_rates(file);
  return ErrorCode::Ok;
}
bool probe_asf(MediaFile* file) { return asf_probe(file); }
ErrorCode import_asf(MediaFile* file) { return asf_import(file, file->root); }

namespace {

constexpr uint32_t kSniffBytes = 512;

bool starts(const uint8_t* b, uint32_t n, const char* magic, uint32_t length) {
  return n >= length && std::memcmp(b, magic, length) == 0;
}

bool contains(const uint8_t* b, uint32_t n, const char* text) {
  size_t length = std::strlen(text);
  for (uint32_t i = 0; i + length <= n; ++i)
    if (std::memcmp(b + i, text, length) == 0) return true;
  return false;
}

// Packets of `size` bytes with the sync byte 0x47 at `offset` of each, as
// many as the bytes hold (at least two).
bool transport_stream(const uint8_t* b, uint32_t n, uint32_t size, uint32_t offset) {
  uint32_t packets = 0;
  for (uint32_t at = offset; at < n; at += size, ++packets)
    if (b[at] != 0x47) return false;
  return packets >= 2;
}

// An MPEG audio frame header: sync, a layer, a bit rate and a rate that exist.
bool text(const uint8_t* b, uint32_t n) {
  if (n == 0) return false;
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t c = b[i];
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') return false;
    if (c == 0x7F) return false;
  }
  return true;
}

}  // namespace

const char* identify_foreign(MediaFile* file) {
  uint64_t size = file_size(file);
  if (size == 0) return "an empty file";
  uint8_t b[kSniffBytes];
  uint32_t n = size < kSniffBytes ? static_cast<uint32_t>(size) : kSniffBytes;
  file_seek(file, 0);
  bool read = read_bytes(file, b, n) == ErrorCode::Ok;
  file_seek(file, 0);
  if (!read) return nullptr;
  if (starts(b, n, "\x1A\x45\xDF\xA3", 4)) return contains(b, n, "webm") ? "a WebM file" : "a Matroska file";
  if (starts(b, n, "RIFF", 4) && n >= 12 && std::memcmp(b + 8, "WAVE", 4) == 0) return "a WAV file";
  if (starts(b, n, "RIFF", 4)) return "a RIFF file that is not AVI";
  if (starts(b, n, "\x00\x00\x01\xBA", 4)) return "an MPEG program stream (MPEG-PS)";
  if (starts(b, n, "\x00\x00\x01\xB3", 4)) return "an MPEG video elementary stream";
  if (n >= 188 * 2 && transport_stream(b, n, 188, 0)) return "an MPEG transport stream (MPEG-TS)";
  if (n >= 192 * 2 && transport_stream(b, n, 192, 4)) return "an MPEG transport stream (M2TS)";
  if (starts(b, n, "fLaC", 4)) return "a FLAC file";
  if (starts(b, n, "OggS", 4)) return "an Ogg file";
  if (starts(b, n, "ID3", 3)) return "an MP3 file";
  if (adts_sync_word(b, n)) return "an AAC stream (ADTS)";
  if (mpeg_audio_header_valid(b, n)) return "an MP3 file";
  if (starts(b, n, "\x89PNG\r\n\x1A\n", 8)) return "a PNG image";
  if (starts(b, n, "\xFF\xD8\xFF", 3)) return "a JPEG image";
  if (starts(b, n, "GIF8", 4)) return "a GIF image";
  if (starts(b, n, "FLV", 3)) return "a Flash video (FLV) file";
  if (starts(b, n, "\x30\x26\xB2\x75\x8E\x66\xCF\x11", 8)) return "an ASF (WMV or WMA) file";
  if (starts(b, n, "%PDF", 4)) return "a PDF document";
  if (starts(b, n, "PK\x03\x04", 4)) return "a ZIP archive";
  if (text(b, n)) return "a text file";
  return nullptr;
}

}  // namespace vantorel
