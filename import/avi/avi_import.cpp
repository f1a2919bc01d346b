// The RIFF walk of an AVI file: the main and stream headers, one track per
// usable stream, then the clean-up every imported movie gets.
#include "import/avi/avi_import.h"

#include <cstdlib>
#include <cstring>

#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "sampletables/movie_upkeep.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "sampletables/track_builder.h"
#include "import/avi/avi_internal.h"
#include "import/riff.h"
#include "import/stream_tracks.h"
#include "codecs/es_descriptor.h"
#include "sampletables/stsd.h"
#include "sampletables/stsz.h"
#include "sampletables/table_fixups.h"

namespace vantorel {

namespace {

// Reads up to `capacity` bytes of the chunk's payload into a zeroed buffer:
// a header shorter than its standard layout leaves its last fields 0, and
// nothing past the chunk is read.
ErrorCode read_fixed_fields(AviImport* imp, const BoxHeader* chunk, uint8_t* buffer, uint32_t capacity) {
  std::memset(buffer, 0, capacity);
  uint64_t end = avi_clamped_end(imp, chunk);
  uint64_t at = file_tell(imp->file);
  uint64_t left = at < end ? end - at : 0;
  uint32_t count = left < capacity ? static_cast<uint32_t>(left) : capacity;
  if (count == 0) return ErrorCode::Ok;
  return read_bytes(imp->file, buffer, count);
}

void release_stream(AviStream* stream) {
  if (stream == nullptr) return;
  std::free(stream->name);
  block_release(&stream->format);
  stream->chunks.release();
  std::free(stream);
}

void release_streams(AviImport* imp) {
  for (AviStream*& stream : imp->streams) {
    release_stream(stream);
    stream = nullptr;
  }
}

ErrorCode read_main_header(AviImport* imp, const BoxHeader* chunk) {
  uint8_t b[56];
  VT_TRY(read_fixed_fields(imp, chunk, b, sizeof b));
  AviMainHeader& h = imp->avih;
  uint32_t* fields[] = {&h.micro_sec_per_frame, &h.max_bytes_per_sec, &h.padding_granularity, &h.flags,
                        &h.total_frames, &h.initial_frames, &h.streams, &h.suggested_buffer_size,
                        &h.width, &h.height, &h.reserved[0], &h.reserved[1], &h.reserved[2], &h.reserved[3]};
  for (uint32_t i = 0; i < 14; ++i) *fields[i] = load_u32le(b + 4 * i);
  if (imp->root->moov->mvhd != nullptr) return ErrorCode::Ok;  // the first main header wins
  return add_movie_box(imp->file, BoxTypeId::Mvhd);
}

ErrorCode read_stream_header(AviImport* imp, const BoxHeader* chunk, AviStream* stream) {
  uint8_t b[56];
  VT_TRY(read_fixed_fields(imp, chunk, b, sizeof b));
  AviStreamHeader& h = stream->strh;
  h.type = load_fourcc(b);
  h.handler = load_fourcc(b + 4);
  h.flags = load_u32le(b + 8);
  h.priority = load_u16le(b + 12);
  h.language = load_u16le(b + 14);
  uint32_t* fields[] = {&h.initial_frames, &h.scale, &h.rate, &h.start, &h.length,
                        &h.suggested_buffer_size, &h.quality, &h.sample_size};
  for (uint32_t i = 0; i < 8; ++i) *fields[i] = load_u32le(b + 16 + 4 * i);
  for (uint32_t i = 0; i < 4; ++i) h.frame[i] = static_cast<int16_t>(load_u16le(b + 48 + 2 * i));
  return ErrorCode::Ok;
}

// A chunk that must lie inside its list and inside the file.
ErrorCode check_inside(AviImport* imp, const BoxHeader* chunk, const BoxHeader* list, const char* reason) {
  if (chunk->end > list->end || chunk->end > imp->file_size) return malformed(imp->file, reason);
  return ErrorCode::Ok;
}

ErrorCode read_stream_format(AviImport* imp, const BoxHeader* chunk, const BoxHeader* list, AviStream* stream) {
  const FourCC type = stream->strh.type;
  if (!(type == "vids") && !(type == "auds") && !(type == "iavs")) {
    stream->done = 1;
    return ErrorCode::Ok;
  }
  VT_TRY(check_inside(imp, chunk, list, "AVI stream format runs past its stream list"));
  uint8_t b[40];
  VT_TRY(read_fixed_fields(imp, chunk, b, sizeof b));
  if (type == "vids") parse_bitmap(b, &stream->bitmap);
  if (type == "auds") parse_wave(b, &stream->wave);
  uint64_t payload = chunk->size - 8;
  VT_TRY(file_seek(imp->file, chunk->start + 8));
  if (payload == 0) return ErrorCode::Ok;
  return block_read(imp->file, &stream->format, payload, "AVI stream format too large");
}

ErrorCode read_stream_name(AviImport* imp, const BoxHeader* chunk, const BoxHeader* list, AviStream* stream) {
  VT_TRY(check_inside(imp, chunk, list, "AVI stream name runs past its stream list"));
  uint64_t payload = chunk->size - 8;
  if (payload == 0) return ErrorCode::Ok;
  if (payload > kMaxOwnedBlock) return malformed(imp->file, "AVI stream name too large");
  // One byte more than the payload, so a name without its NUL keeps its last letter.
  char* name = static_cast<char*>(std::calloc(payload + 1, 1));
  if (name == nullptr) return ErrorCode::OutOfMemory;
  if (read_bytes(imp->file, name, static_cast<uint32_t>(payload)) != ErrorCode::Ok) {
    std::free(name);
    return ErrorCode::Io;
  }
  std::free(stream->name);
  stream->name = name;
  return ErrorCode::Ok;
}

uint32_t kind_of_stream(FourCC type) {
  if (type == "vids") return kHandlerVideo;
  if (type == "iavs") return kHandlerInterleaved;
  if (type == "auds") return kHandlerSound;
  return kHandlerUnknown;
}

uint32_t magnitude(int32_t v) { return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v); }

ErrorCode fill_stream_track(AviImport* imp, uint32_t k, TrackBoxes* track, uint32_t kind) {
  ImportFile* file = imp->file;
  AviStream* s = imp->streams[k];
  auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd);
  auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
  auto* mvhd = movie_record<MvhdRecord>(imp->root, BoxTypeId::Mvhd);
  if (tkhd == nullptr || mdhd == nullptr || mvhd == nullptr) return ErrorCode::Missing;

  StreamEntry stream{};
  stream.kind = kind;
  stream.wave = &s->wave;
  stream.codec_data = &s->format;
  if (kind == kHandlerInterleaved) {
    stream.format = s->strh.handler;
    stream.width = clamp16(imp->avih.width);
    stream.height = clamp16(imp->avih.height);
    stream.depth = 24;
  } else if (kind != kHandlerSound) {
    stream.format = s->bitmap.compression;
    // A negative height only says the rows are stored top-down.
    stream.width = clamp16(magnitude(s->bitmap.width));
    stream.height = clamp16(magnitude(s->bitmap.height));
    stream.depth = s->bitmap.bit_count;
  }
  VT_TRY(fill_stream_entry(file, track, &stream));
  // Warnings name a track by its handler type, as a read file gives it.
  if (auto* hdlr = track_record<HdlrRecord>(track, BoxTypeId::Hdlr)) hdlr->handler_type = handler_type_of(kind);
  s->import_sample_size = kind == kHandlerSound ? s->wave.block_align : s->strh.sample_size;

  if ((s->strh.flags & kAviStreamDisabled) != 0) tkhd->flags &= ~uint32_t{kTrackEnabled};
  tkhd->track_id = k + 1;
  const uint32_t rate = s->strh.rate;
  const uint64_t length = mul32x32(s->strh.length, s->strh.scale);
  mdhd->duration = length;
  if (!fits_u32(length)) mdhd->version = 1;

  if (s->strh.start != 0) {
    VT_TRY(add_track_box(file, track, BoxTypeId::Edts));
    VT_TRY(add_track_box(file, track, BoxTypeId::Elst));
    uint64_t delay = rescale(mul32x32(s->strh.start, s->strh.scale), rate, mvhd->timescale);
    VT_TRY(add_edit(file, track, delay, kEmptyEdit, 1, 0));
    VT_TRY(add_edit(file, track, rescale(length, rate, mvhd->timescale), 0, 1, 0));
  }
  return ErrorCode::Ok;
}

ErrorCode create_stream_track(AviImport* imp, uint32_t k) {
  AviStream* s = imp->streams[k];
  uint32_t kind = kind_of_stream(s->strh.type);
  if (kind == kHandlerUnknown) return ErrorCode::BadArgument;
  // Every time of the track is counted in 1/rate seconds.
  if (s->strh.rate == 0) return malformed(imp->file, "AVI stream header with a rate of 0");
  TrackSetup setup{};
  setup.kind = kind;
  setup.timescale = s->strh.rate;
  setup.handler_name = s->name;
  setup.track_id = k + 1;
  TrackBoxes* track = create_track(imp->file, &setup);
  if (track == nullptr) return ErrorCode::Missing;
  ErrorCode e = fill_stream_track(imp, k, track, kind);
  if (e != ErrorCode::Ok) remove_track(imp->file, find_track(imp->root, k + 1));
  return e;
}

ErrorCode read_stream_list(AviImport* imp, uint32_t k, const BoxHeader* list) {
  ImportFile* file = imp->file;
  AviStream* s = imp->streams[k];
  const uint64_t end = avi_clamped_end(imp, list);
  while (file_tell(file) < end && !io_failed(file)) {
    BoxHeader chunk;
    if (!avi_next_chunk(imp, end, &chunk)) break;
    if (chunk.type == "strh") {
      VT_TRY(read_stream_header(imp, &chunk, s));
    } else if (chunk.type == "strf") {
      VT_TRY(read_stream_format(imp, &chunk, list, s));
      if (s->done) return ErrorCode::Ok;
    } else if (chunk.type == "strn") {
      VT_TRY(read_stream_name(imp, &chunk, list, s));
    } else if (chunk.type == "indx" && !s->done && !s->odml) {
      VT_TRY(create_stream_track(imp, k));
      s->odml = 1;
      if (file->mode != kOpenInspect) VT_TRY(avi_read_odml_index(imp, s, &chunk));
    }
    // Chunks inside a stream list are padded to an even length.
    VT_TRY(file_seek(file, chunk.end + (chunk.size & 1)));
  }
  return ErrorCode::Ok;
}

ErrorCode read_stream(AviImport* imp, const BoxHeader* list) {
  uint32_t k = imp->stream_count;
  if (imp->stream_count < UINT32_MAX) ++imp->stream_count;
  // The stream table is full: the stream keeps its index but is not imported.
  if (k >= kAviMaxStreams) return ErrorCode::Ok;
  AviStream* s = alloc_record<AviStream>();
  if (s == nullptr) return ErrorCode::OutOfMemory;
  imp->streams[k] = s;
  VT_TRY(read_stream_list(imp, k, list));
  if (s->done) {
    release_stream(s);
    imp->streams[k] = nullptr;
    return ErrorCode::Ok;
  }
  if (s->odml) return ErrorCode::Ok;
  if ((imp->avih.flags & kAviHasIndex) == 0) return ErrorCode::AviNoIndex;
  return create_stream_track(imp, k);
}

ErrorCode read_header_list(AviImport* imp, const BoxHeader* list) {
  ImportFile* file = imp->file;
  const uint64_t end = avi_clamped_end(imp, list);
  while (file_tell(file) < end && !io_failed(file)) {
    BoxHeader chunk;
    if (!avi_next_chunk(imp, end, &chunk)) break;
    if (chunk.type == "avih") VT_TRY(read_main_header(imp, &chunk));
    else if (chunk.type == "strl") VT_TRY(read_stream(imp, &chunk));
    VT_TRY(file_seek(file, chunk.end));
  }
  return ErrorCode::Ok;
}

ErrorCode walk_riff(AviImport* imp) {
  ImportFile* file = imp->file;
  if (imp->file_size < 12) return ErrorCode::Unsupported;
  BoxHeader riff;
  if (read_riff_chunk_header(file, &riff) != ErrorCode::Ok || !(riff.type == "RIFF")) return ErrorCode::Unsupported;
  if (!(read_fourcc(file) == "AVI ") || io_failed(file)) return ErrorCode::Unsupported;
  if (imp->root->moov == nullptr) VT_TRY(add_movie_box(file, BoxTypeId::Moov));

  const uint64_t end = avi_clamped_end(imp, &riff);
  while (file_tell(file) < end && !io_failed(file)) {
    BoxHeader chunk;
    if (!avi_next_chunk(imp, end, &chunk)) break;
    if (chunk.type == "hdrl") {
      VT_TRY(read_header_list(imp, &chunk));
    } else if (chunk.type == "movi") {
      imp->movi_start = low32(chunk.start);
    } else if (chunk.type == "idx1" && file->mode != kOpenInspect) {
      VT_TRY(avi_read_legacy_index(imp, &chunk));
    }
    VT_TRY(file_seek(file, chunk.end));
  }
  return ErrorCode::Ok;
}

ErrorCode finish_movie(AviImport* imp) {
  ImportFile* file = imp->file;
  FileBoxes* root = imp->root;
  // A file without a main header still gets a movie, with no tracks.
  if (root->moov->mvhd == nullptr) VT_TRY(add_movie_box(file, BoxTypeId::Mvhd));
  VT_TRY(update_durations(file, root));
  VT_TRY(set_next_track_id(root));
  bool any_sample = false;
  for (uint32_t i = 0; i < track_count(root); ++i) {
    TrackBoxes* track = track_at(root, i);
    VT_TRY(stss_drop_if_redundant(file, track));
    if (sample_count(track) > 0) any_sample = true;
  }
  if (file->mode == kOpenInspect) return ErrorCode::Ok;
  return any_sample ? ErrorCode::Ok : ErrorCode::Unsupported;
}

}  // namespace

bool avi_next_chunk(AviImport* imp, uint64_t parent_end, BoxHeader* out) {
  ImportFile* file = imp->file;
  uint64_t at = file_tell(file);
  if (at >= parent_end || parent_end - at < 8) return false;
  // A list's header carries its type as well: twelve bytes.
  if (parent_end - at < 12) {
    char id[4];
    if (read_bytes(file, id, 4) != ErrorCode::Ok || file_seek(file, at) != ErrorCode::Ok) return false;
    if (std::memcmp(id, "LIST", 4) == 0) return false;
  }
  return read_riff_chunk_header(file, out) == ErrorCode::Ok && !io_failed(file);
}

uint64_t avi_clamped_end(const AviImport* imp, const BoxHeader* chunk) {
  return chunk->end < imp->file_size ? chunk->end : imp->file_size;
}

bool avi_probe(ImportFile* file) {
  if (file_size(file) < 12) return false;
  BoxHeader h;
  bool avi = false;
  if (read_riff_chunk_header(file, &h) == ErrorCode::Ok && h.type == "RIFF") avi = read_fourcc(file) == "AVI ";
  file_seek(file, 0);
  return avi;
}

ErrorCode avi_import(ImportFile* file, FileBoxes* root) {
  if (file == nullptr || root == nullptr || file->root != root) return ErrorCode::BadArgument;
  AviImport* imp = alloc_record<AviImport>();
  if (imp == nullptr) return ErrorCode::OutOfMemory;
  imp->file = file;
  imp->root = root;
  imp->file_size = file_size(file);
  uint64_t most = imp->file_size / 8;
  imp->max_samples = most > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(most);
  ErrorCode e = file_seek(file, 0);
  if (e == ErrorCode::Ok) e = walk_riff(imp);
  if (e == ErrorCode::Ok) e = avi_convert_streams(imp);
  release_streams(imp);
  if (e == ErrorCode::Ok) e = finish_movie(imp);
  std::free(imp);
  return e;
}

}  // namespace vantorel
