#include "mediafile/importers.h"

#include <cstring>

#include "boxes/ftyp.h"
#include "boxes/hdlr.h"
#include "boxes/moov.h"
#include "codecs/aac.h"
#include "codecs/mpeg_audio.h"
#include "import/asf/asf_import.h"
#include "import/avi/avi_import.h"
#include "import/matroska/matroska_import.h"
#include "import/mpegps/ps_import.h"
#include "import/mpegts/ts_import.h"
#include "mediafile/internal.h"
#include "sampletables/ctts.h"
#include "sampletables/movie_upkeep.h"
#include "sampletables/stsd.h"
#include "sampletables/table_fixups.h"

namespace vantorel {

namespace {

// ---- MP4 and QuickTime ----------------------------------------------------

constexpr const char* kMp4FirstBoxes[] = {"ftyp", "mdat", "moov", "wide", "free",
                                          "skip", "moof", "mfra", "pnot", "uuid"};

bool probe_mp4(ImportFile* file) {
  if (file_size(file) < 8) return false;
  uint8_t head[8];
  bool known = false;
  if (read_bytes(file, head, 8) == ErrorCode::Ok) {
    FourCC type{};
    std::memcpy(type.c, head + 4, 4);
    for (const char* t : kMp4FirstBoxes)
      if (type == t) known = true;
  }
  file_seek(file, 0);
  return known;
}

bool is_quicktime(FileBoxes* root) {
  auto* ftyp = movie_record<FileTypeRecord>(root, BoxTypeId::Ftyp);
  if (ftyp != nullptr && ftyp->major_brand == "qt  ") return true;
  for (uint32_t i = 0; i < track_count(root); ++i) {
    TrackBoxes* track = track_at(root, i);
    auto* hdlr = track_record<HdlrRecord>(track, BoxTypeId::Hdlr);
    if (hdlr != nullptr && hdlr->manufacturer == "appl") return true;
    VisualSampleEntry* entry = visual_entry(nullptr, track, 0);
    if (entry != nullptr && entry->vendor != 0) return true;
  }
  return false;
}

// The one row whose file is a box tree already; only its record is of this
// floor, so the row takes the file as the media file it is.
ErrorCode parse_mp4(ImportFile* import_file, FileBoxes* root) {
  auto* file = static_cast<MediaFile*>(import_file);
  uint64_t length = file_size(file);
  BoxHeader whole;
  make_box_header(&whole, FourCC::of("mp4 "), nullptr, 0, length, length);
  VT_TRY(read_top_level(file, &whole));
  if (is_quicktime(root)) file->flavour = kFlavourQuickTime;
  if (file->mode != kOpenInspect) {
    for (uint32_t i = 0; i < track_count(root); ++i) VT_TRY(ctts_normalise_track(file, track_at(root, i)));
  }
  VT_TRY(update_durations(file, root));
  if (file->mode == kOpenUpdate) VT_TRY(set_next_track_id(root));
  return ErrorCode::Ok;
}

constexpr Importer kImporters[] = {
    {"mp4", "MP4", kFlavourMp4, false, false, probe_mp4, parse_mp4},
    {"quicktime", "QuickTime", kFlavourQuickTime, false, false, nullptr, nullptr},
    {"avi", "AVI", kFlavourAvi, false, true, avi_probe, avi_import},
    {"matroska", "Matroska", kFlavourMatroska, false, true, matroska_probe, matroska_import},
    {"mpegts", "MPEG-TS", kFlavourMpegTs, false, true, ts_probe_file, ts_import},
    {"mpegps", "MPEG-PS", kFlavourMpegPs, false, true, ps_probe, ps_import},
    {"asf", "ASF", kFlavourAsf, true, false, asf_probe, asf_import},
};

const Importer* importer_of(uint32_t flavour) {
  for (const Importer& row : kImporters)
    if (row.flavour == flavour) return &row;
  return nullptr;
}

// ---- Files no row takes ----------------------------------------------------

constexpr uint32_t kSniffBytes = 512;

bool starts(const uint8_t* b, uint32_t n, const char* magic, uint32_t length) {
  return n >= length && std::memcmp(b, magic, length) == 0;
}

// Packets of `size` bytes with the sync byte 0x47 at `offset` of each, as
// many as the bytes hold (at least two).
bool transport_stream(const uint8_t* b, uint32_t n, uint32_t size, uint32_t offset) {
  uint32_t packets = 0;
  for (uint32_t at = offset; at < n; at += size, ++packets)
    if (b[at] != 0x47) return false;
  return packets >= 2;
}

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

ErrorCode import_by_table(MediaFile* file) {
  for (const Importer& row : kImporters) {
    if (row.probe == nullptr || (row.inspect_only && file->mode != kOpenInspect)) continue;
    if (!row.probe(file)) continue;
    file->flavour = row.flavour;
    VT_TRY(create_root(file));
    VT_TRY(row.import(file, file->root));
    if (row.tables_built && file->mode != kOpenInspect) update_bit_rates(file);
    return ErrorCode::Ok;
  }
  // Say what the file is, when its first bytes tell.
  const char* foreign = identify_foreign(file);
  if (foreign != nullptr) set_error_reason(file, foreign);
  return ErrorCode::Unsupported;
}

const char* media_format_name(uint32_t flavour) {
  const Importer* row = importer_of(flavour);
  return row != nullptr ? row->name : "unknown";
}

const char* media_format_title(uint32_t flavour) {
  const Importer* row = importer_of(flavour);
  return row != nullptr ? row->title : "unknown";
}

const char* identify_foreign(MediaFile* file) {
  uint64_t size = file_size(file);
  if (size == 0) return "an empty file";
  uint8_t b[kSniffBytes];
  uint32_t n = size < kSniffBytes ? static_cast<uint32_t>(size) : kSniffBytes;
  file_seek(file, 0);
  bool read = read_bytes(file, b, n) == ErrorCode::Ok;
  file_seek(file, 0);
  if (!read) return nullptr;
  // Matroska and WebM files are taken by their row, whatever is wrong in them.
  if (starts(b, n, "\x1A\x45\xDF\xA3", 4)) return "an EBML file that is neither Matroska nor WebM";
  if (n < 12) return "a file too short to hold any media (under 12 bytes)";
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
