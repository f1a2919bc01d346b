// The ASF header import: file and stream properties into a movie of empty
// tracks, and the data packet geometry into the file's import state.
#include "import/asf/asf_import.h"

#include <cstdlib>
#include <cstring>

#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "sampletables/track_builder.h"
#include "import/format_headers.h"
#include "import/stream_tracks.h"
#include "codecs/es_descriptor.h"
#include "boxes/owned_block.h"
#include "sampletables/stsd.h"

namespace vantorel {

namespace {

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

constexpr Guid kHeaderObject = {0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr Guid kDataObject = {0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr Guid kFilePropertiesObject = {0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr Guid kStreamPropertiesObject = {0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr Guid kHeaderExtensionObject = {0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr Guid kAudioMedia = {0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
constexpr Guid kVideoMedia = {0xBC19EFC0, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
constexpr Guid kExtendedStreamPropertiesObject = {
    0x14E6A5CB, 0xC672, 0x4332, {0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A}};

constexpr uint32_t kObjectHeaderSize = 24;
constexpr uint32_t kBroadcastFlag = 0x1;
constexpr uint16_t kStreamNumberMask = 0x7F;

bool guid_equal(const Guid& a, const Guid& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
         std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

Guid read_guid(ImportFile* file) {
  Guid g{};
  g.data1 = read_u32le(file);
  g.data2 = read_u16le(file);
  g.data3 = read_u16le(file);
  read_bytes(file, g.data4, sizeof g.data4);
  return g;
}

struct AsfObject {
  uint64_t start;
  Guid guid;
  uint64_t size;  // whole object
  uint64_t end;   // start + size, cut at what encloses it
  bool cut;       // the object runs past what encloses it
};

// The state's own release: it also tells an ASF file's record from another
// format's.
void release_asf_state(void* state) { std::free(state); }

struct AsfImport {
  ImportFile* file;
  FileBoxes* root;
  AsfImportState* state;  // the file's record, kept after the import
  uint64_t file_size;
  bool have_properties;
  bool have_extension;
  uint64_t creation_time;  // seconds since 1904
  bool broadcast;
  uint64_t duration_ms;    // play duration less preroll
};

// Reads the header of the object at `at` inside [at, limit). False when no
// whole header is there or its size is smaller than a header: the walk ends.
bool read_object(AsfImport* imp, uint64_t at, uint64_t limit, AsfObject* out) {
  ImportFile* file = imp->file;
  std::memset(out, 0, sizeof *out);
  if (at >= limit || limit - at < kObjectHeaderSize) return false;
  if (file_seek(file, at) != ErrorCode::Ok) return false;
  out->start = at;
  out->guid = read_guid(file);
  out->size = read_u64le(file);
  if (io_failed(file) || out->size < kObjectHeaderSize) return false;
  out->cut = out->size > limit - at;
  out->end = out->cut ? limit : at + out->size;
  return true;
}

// True when `count` more bytes of the object are there to read.
bool object_holds(AsfImport* imp, const AsfObject* object, uint64_t count) {
  uint64_t at = file_tell(imp->file);
  return at <= object->end && object->end - at >= count;
}

using ObjectStep = ErrorCode (*)(AsfImport* imp, const AsfObject* object, bool* stop);

// Steps over the objects in [from, end); an object that runs past `end`
// ends the walk.
ErrorCode walk_objects(AsfImport* imp, uint64_t from, uint64_t end, ObjectStep step) {
  uint64_t at = from;
  while (!io_failed(imp->file)) {
    AsfObject object;
    if (!read_object(imp, at, end, &object) || object.cut) break;
    bool stop = false;
    VT_TRY(step(imp, &object, &stop));
    if (stop) break;
    at = object.end;
  }
  return ErrorCode::Ok;
}

ErrorCode read_file_properties(AsfImport* imp, const AsfObject* object, bool* stop) {
  if (!guid_equal(object->guid, kFilePropertiesObject)) return ErrorCode::Ok;
  *stop = true;  // the first one counts
  ImportFile* file = imp->file;
  if (!object_holds(imp, object, 80)) return malformed(file, "ASF file properties object cut short");
  read_guid(file);  // file id
  read_u64le(file);  // file size
  const uint64_t creation = read_u64le(file);
  read_u64le(file);  // data packet count
  const uint64_t play_duration = read_u64le(file);
  read_u64le(file);  // send duration
  const uint64_t preroll = read_u64le(file);
  const uint32_t flags = read_u32le(file);
  const uint32_t min_packet = read_u32le(file);
  const uint32_t max_packet = read_u32le(file);
  const uint32_t max_bitrate = read_u32le(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (min_packet != max_packet) return ErrorCode::Unsupported;  // only fixed-size packets

  AsfImportState& state = *imp->state;
  state.play_duration = play_duration;
  state.preroll = preroll;
  state.max_bitrate = max_bitrate;
  state.flags = flags;
  state.packet_size = max_packet;

  imp->have_properties = true;
  const uint64_t seconds = creation / 10000000u;
  imp->creation_time = seconds > kAsfEpochTo1904 ? seconds - kAsfEpochTo1904 : 0;
  imp->broadcast = (flags & kBroadcastFlag) != 0;
  const uint64_t play_ms = play_duration / 10000u;
  // A preroll longer than the play time leaves nothing to play, not a wrapped duration.
  imp->duration_ms = play_ms > preroll ? play_ms - preroll : 0;

  auto* mvhd = movie_record<MvhdRecord>(imp->root, BoxTypeId::Mvhd);
  mvhd->creation_time = imp->creation_time;
  mvhd->modification_time = imp->creation_time;
  if (!imp->broadcast) mvhd->duration = rescale(imp->duration_ms, 1000, mvhd->timescale);
  if (!fits_u32(mvhd->creation_time) || !fits_u32(mvhd->duration)) mvhd->version = 1;
  return ErrorCode::Ok;
}

struct AsfStream {
  uint32_t kind;
  uint16_t number;
  WaveFormat wave;  // audio
  uint32_t encoded_width;  // video
  uint32_t encoded_height;
  BitmapInfoHeader bitmap;
};

ErrorCode fill_stream_track(AsfImport* imp, TrackBoxes* track, const AsfStream* s, const OwnedBlock* codec_data) {
  ImportFile* file = imp->file;
  auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd);
  auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
  auto* mvhd = movie_record<MvhdRecord>(imp->root, BoxTypeId::Mvhd);
  if (tkhd == nullptr || mdhd == nullptr || mvhd == nullptr) return ErrorCode::Missing;
  StreamEntry stream{};
  stream.kind = s->kind;
  stream.format = s->bitmap.compression;
  stream.width = clamp16(s->encoded_width);
  stream.height = clamp16(s->encoded_height);
  stream.depth = s->bitmap.bit_count;
  stream.wave = &s->wave;
  stream.codec_data = codec_data;
  VT_TRY(fill_stream_entry(file, track, &stream));
  if (s->kind == kHandlerSound) {
    // ASF also states the rate and packet geometry in the entry.
    SoundSampleEntry* entry = sound_entry(file, track, 0);
    const WaveFormat& w = s->wave;
    entry->sample_rate = w.samples_per_sec <= 0xFFFF ? w.samples_per_sec << 16 : 0;
    entry->bytes_per_packet = w.avg_bytes_per_sec;
    entry->bytes_per_frame = w.block_align;
  }
  EsDescriptorRecord* esds = entry_esds(file, track, 0);
  if (esds == nullptr) return ErrorCode::Missing;
  if (imp->have_properties) {
    mdhd->creation_time = mdhd->modification_time = imp->creation_time;
    tkhd->creation_time = tkhd->modification_time = imp->creation_time;
  }
  esds->maxBitrate = imp->state->max_bitrate;
  esds->avgBitrate = imp->state->max_bitrate;
  if (!imp->broadcast) {
    mdhd->duration = imp->duration_ms;
    tkhd->duration = rescale(imp->duration_ms, 1000, mvhd->timescale);
  }
  if (!fits_u32(mdhd->duration) || !fits_u32(mdhd->creation_time)) mdhd->version = 1;
  if (!fits_u32(tkhd->duration) || !fits_u32(tkhd->creation_time)) tkhd->version = 1;
  return ErrorCode::Ok;
}

ErrorCode create_stream_track(AsfImport* imp, const AsfStream* s, const OwnedBlock* codec_data) {
  if (s->number == 0) return ErrorCode::BadArgument;
  TrackSetup setup{};
  setup.kind = s->kind;
  setup.timescale = 1000;
  setup.handler_name = s->kind == kHandlerVideo ? "Video" : "Audio";
  setup.track_id = s->number;
  TrackBoxes* track = create_track(imp->file, &setup);
  if (track == nullptr) return ErrorCode::Missing;
  ErrorCode e = fill_stream_track(imp, track, s, codec_data);
  if (e != ErrorCode::Ok) remove_track(imp->file, find_track(imp->root, s->number));
  return e;
}

ErrorCode read_stream_properties(AsfImport* imp, const AsfObject* object, bool*) {
  if (!guid_equal(object->guid, kStreamPropertiesObject)) return ErrorCode::Ok;
  ImportFile* file = imp->file;
  if (!object_holds(imp, object, 54)) return malformed(file, "ASF stream properties object cut short");
  const Guid type = read_guid(file);
  read_guid(file);  // error correction type
  read_u64le(file);  // time offset
  read_u32le(file);  // type-specific data length
  read_u32le(file);  // error correction data length
  const uint16_t flags = read_u16le(file);
  read_u32le(file);  // reserved
  AsfStream s{};
  s.number = flags & kStreamNumberMask;
  uint32_t codec_length = 0;
  if (guid_equal(type, kAudioMedia)) {
    if (!object_holds(imp, object, kWaveFormatSize)) return malformed(file, "ASF audio stream format cut short");
    s.kind = kHandlerSound;
    uint8_t b[kWaveFormatSize];
    VT_TRY(read_bytes(file, b, sizeof b));
    parse_wave(b, &s.wave);
    codec_length = s.wave.extra_size;
  } else if (guid_equal(type, kVideoMedia)) {
    if (!object_holds(imp, object, 11 + kBitmapInfoHeaderSize))
      return malformed(file, "ASF video stream format cut short");
    s.kind = kHandlerVideo;
    s.encoded_width = read_u32le(file);
    s.encoded_height = read_u32le(file);
    read_u8(file);      // reserved
    read_u16le(file);  // format data size
    uint8_t b[kBitmapInfoHeaderSize];
    VT_TRY(read_bytes(file, b, sizeof b));
    parse_bitmap(b, &s.bitmap);
    codec_length = s.bitmap.size > kBitmapInfoHeaderSize ? s.bitmap.size - kBitmapInfoHeaderSize : 0;
  } else {
    return ErrorCode::Ok;
  }
  if (io_failed(file)) return ErrorCode::Io;
  if (!object_holds(imp, object, codec_length)) return malformed(file, "ASF codec data runs past its stream properties");
  OwnedBlock codec_data{};
  VT_TRY(block_read(file, &codec_data, codec_length, "ASF codec data too large"));
  ErrorCode e = create_stream_track(imp, &s, &codec_data);
  block_release(&codec_data);
  return e;
}

ErrorCode read_extended_stream_properties(AsfImport* imp, const AsfObject* object, bool*) {
  if (!guid_equal(object->guid, kExtendedStreamPropertiesObject)) return ErrorCode::Ok;
  ImportFile* file = imp->file;
  if (!object_holds(imp, object, 64)) return malformed(file, "ASF extended stream properties object cut short");
  read_u64le(file);  // start time
  read_u64le(file);  // end time
  const uint32_t data_bitrate = read_u32le(file);
  read_u32le(file);  // buffer size
  read_u32le(file);  // initial buffer fullness
  const uint32_t alternate_bitrate = read_u32le(file);
  read_u32le(file);  // alternate buffer size
  read_u32le(file);  // alternate initial buffer fullness
  const uint32_t max_object_size = read_u32le(file);
  read_u32le(file);  // flags
  const uint16_t number = read_u16le(file);
  if (io_failed(file)) return ErrorCode::Io;
  TrackBoxes* track = find_track(imp->root, number);
  if (track == nullptr) return ErrorCode::Ok;
  EsDescriptorRecord* esds = entry_esds(file, track, 0);
  if (esds == nullptr) return ErrorCode::Ok;
  esds->avgBitrate = data_bitrate;
  esds->maxBitrate = alternate_bitrate;
  esds->bufferSizeDB = max_object_size;
  return ErrorCode::Ok;
}

ErrorCode read_header_extension(AsfImport* imp, const AsfObject* object, bool* stop) {
  if (!guid_equal(object->guid, kHeaderExtensionObject)) return ErrorCode::Ok;
  *stop = true;  // the first one counts
  ImportFile* file = imp->file;
  if (!object_holds(imp, object, 22)) return malformed(file, "ASF header extension object cut short");
  read_guid(file);  // reserved
  read_u16le(file);  // reserved
  const uint32_t data_size = read_u32le(file);
  if (io_failed(file)) return ErrorCode::Io;
  const uint64_t at = file_tell(file);
  const uint64_t end = object->end - at < data_size ? object->end : at + data_size;
  return walk_objects(imp, at, end, read_extended_stream_properties);
}

ErrorCode read_header_object(AsfImport* imp, const AsfObject* object) {
  ImportFile* file = imp->file;
  if (imp->root->moov->mvhd != nullptr) return ErrorCode::Ok;  // the first header object counts
  VT_TRY(add_movie_box(file, BoxTypeId::Mvhd));
  if (!object_holds(imp, object, 6)) return malformed(file, "ASF header object cut short");
  read_u32le(file);  // number of header objects: the sizes are walked instead
  read_u16le(file);  // reserved
  if (io_failed(file)) return ErrorCode::Io;
  const uint64_t first = file_tell(file);
  VT_TRY(walk_objects(imp, first, object->end, read_file_properties));
  VT_TRY(walk_objects(imp, first, object->end, read_stream_properties));
  return walk_objects(imp, first, object->end, read_header_extension);
}

ErrorCode read_data_object(AsfImport* imp, const AsfObject* object) {
  ImportFile* file = imp->file;
  if (!object_holds(imp, object, 26)) return malformed(file, "ASF data object cut short");
  read_guid(file);  // file id
  const uint64_t packets = read_u64le(file);
  read_u16le(file);  // reserved
  if (io_failed(file)) return ErrorCode::Io;
  imp->state->packet_count = packets;
  imp->state->first_packet = file_tell(file);
  return ErrorCode::Ok;
}

}  // namespace

const AsfImportState* asf_state(const ImportFile* file) {
  if (file == nullptr || file->format_state_release != release_asf_state) return nullptr;
  return static_cast<const AsfImportState*>(file->format_state);
}

bool asf_probe(ImportFile* file) {
  if (file == nullptr) return false;
  uint64_t at = file_tell(file);
  uint64_t size = file_size(file);
  bool asf = false;
  if (at <= size && size - at >= kObjectHeaderSize) {
    Guid g = read_guid(file);
    asf = !io_failed(file) && guid_equal(g, kHeaderObject);
  }
  file_seek(file, 0);
  return asf;
}

ErrorCode asf_import(ImportFile* file, FileBoxes* root) {
  if (file == nullptr || root == nullptr || file->root != root) return ErrorCode::BadArgument;
  if (root->moov == nullptr) VT_TRY(add_movie_box(file, BoxTypeId::Moov));
  release_format_state(file);
  auto* state = static_cast<AsfImportState*>(std::calloc(1, sizeof(AsfImportState)));
  if (state == nullptr) return ErrorCode::OutOfMemory;
  file->format_state = state;
  file->format_state_release = release_asf_state;
  AsfImport imp{};
  imp.file = file;
  imp.root = root;
  imp.state = state;
  imp.file_size = file_size(file);
  uint64_t at = 0;
  while (!io_failed(file)) {
    AsfObject object;
    if (!read_object(&imp, at, imp.file_size, &object)) break;
    if (guid_equal(object.guid, kHeaderObject)) VT_TRY(read_header_object(&imp, &object));
    else if (guid_equal(object.guid, kDataObject)) VT_TRY(read_data_object(&imp, &object));
    // An object cut off by the end of the file is the last one.
    if (object.cut) break;
    at = object.end;
    VT_TRY(file_seek(file, at));
  }
  // Without a header object there is nothing to describe.
  return root->moov->mvhd != nullptr ? ErrorCode::Ok : ErrorCode::Unsupported;
}

}  // namespace vantorel
