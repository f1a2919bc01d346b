// The AVI indexes: the legacy 'idx1' and the OpenDML index of indexes and
// index of chunks. Each entry becomes one chunk of its stream.
#include <cstdlib>
#include <cstring>

#include "import/avi/avi_internal.h"
#include "import/riff.h"

namespace vantorel {

namespace {

int hex_value(uint8_t c) {
  if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c - 'A' + 'a');
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The stream a chunk id such as "01wb" belongs to; -1 when its first two
// characters are not hex digits.
int stream_of_chunk_id(const uint8_t* id) {
  int high = hex_value(id[0]);
  int low = hex_value(id[1]);
  if (high < 0 || low < 0) return -1;
  return high * 16 + low;
}

// Reads `count` bytes of index entries into a new buffer.
ErrorCode read_entries(ImportFile* file, uint64_t count, uint8_t** out) {
  *out = nullptr;
  if (count == 0) return ErrorCode::Ok;
  if (count > UINT32_MAX) return malformed(file, "AVI index too large");
  auto* buffer = static_cast<uint8_t*>(std::malloc(count));
  if (buffer == nullptr) return ErrorCode::OutOfMemory;
  if (read_bytes(file, buffer, static_cast<uint32_t>(count)) != ErrorCode::Ok) {
    std::free(buffer);
    return ErrorCode::Io;
  }
  *out = buffer;
  return ErrorCode::Ok;
}

// Legacy offsets turned out to be file offsets: make them chunk-data
// offsets like the relative ones. Only the streams this index filled are
// touched; streams read from OpenDML indexes already hold file offsets.
void make_offsets_absolute(AviStream* const* streams, uint64_t movi_data) {
  for (uint32_t k = 0; k < kAviMaxStreams; ++k) {
    if (streams[k] == nullptr) continue;
    for (AviChunk& chunk : streams[k]->chunks) chunk.offset -= movi_data;
  }
}

ErrorCode read_chunk_index(AviImport* imp, AviStream* stream, const BoxHeader* bounded, uint16_t longs_per_entry,
                           uint32_t entries, uint64_t base_offset) {
  ImportFile* file = imp->file;
  if (longs_per_entry < 2) return malformed(file, "OpenDML index of chunks with fewer than two longs per entry");
  const uint64_t entry_bytes = uint64_t{longs_per_entry} * 4;
  if (!box_holds(file, bounded, entries, entry_bytes)) return malformed(file, "OpenDML index entries run past their chunk");
  uint8_t* buffer = nullptr;
  VT_TRY(read_entries(file, entry_bytes * entries, &buffer));
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t i = 0; i < entries && e == ErrorCode::Ok; ++i) {
    const uint8_t* p = buffer + entry_bytes * i;
    uint32_t offset = load_u32le(p);
    uint32_t size = load_u32le(p + 4);
    e = avi_add_chunk(imp, stream, base_offset + offset, size & 0x7FFFFFFFu, (size & 0x80000000u) == 0);
  }
  std::free(buffer);
  return e;
}

// Index types of the OpenDML header.
enum : uint8_t { kIndexOfIndexes = 0, kIndexOfChunks = 1 };

ErrorCode read_index(AviImport* imp, AviStream* stream, const BoxHeader* chunk, bool top_level) {
  ImportFile* file = imp->file;
  BoxHeader bounded = *chunk;
  bounded.end = avi_clamped_end(imp, chunk);
  if (!box_holds(file, &bounded, 1, 24)) return malformed(file, "OpenDML index header cut short");
  uint8_t h[24];
  VT_TRY(read_bytes(file, h, sizeof h));
  const uint16_t longs_per_entry = load_u16le(h);
  const uint8_t type = h[3];
  const uint32_t entries = load_u32le(h + 4);
  const uint64_t base_offset = load_u64le(h + 12);

  if (type == kIndexOfChunks) return read_chunk_index(imp, stream, &bounded, longs_per_entry, entries, base_offset);
  // An index of indexes leads only to indexes of chunks, so no index can
  // lead back to itself; any other type is not ours to read.
  if (type != kIndexOfIndexes || !top_level) return ErrorCode::Ok;
  if (longs_per_entry < 4) return malformed(file, "OpenDML index of indexes with fewer than four longs per entry");
  const uint64_t entry_bytes = uint64_t{longs_per_entry} * 4;
  if (!box_holds(file, &bounded, entries, entry_bytes)) return malformed(file, "OpenDML index entries run past their chunk");
  uint64_t next = file_tell(file);
  for (uint32_t i = 0; i < entries; ++i) {
    VT_TRY(file_seek(file, next));
    uint8_t e[12];
    VT_TRY(read_bytes(file, e, sizeof e));
    next += entry_bytes;
    const uint64_t offset = load_u64le(e);
    if (imp->file_size < 12 || offset > imp->file_size - 12)
      return malformed(file, "OpenDML index entry points outside the file");
    VT_TRY(file_seek(file, offset));
    BoxHeader sub;
    VT_TRY(read_riff_chunk_header(file, &sub));
    VT_TRY(read_index(imp, stream, &sub, false));
  }
  return file_seek(file, next);
}

}  // namespace

bool avi_chunk_duration(const AviStream* stream, uint32_t size, uint32_t* duration) {
  const uint32_t unit = stream->import_sample_size;
  const uint64_t frames = unit != 0 ? (uint64_t{size} + unit - 1) / unit : 1;
  const uint64_t delta = mul64(stream->strh.scale, frames);
  *duration = static_cast<uint32_t>(delta);
  return fits_u32(delta);
}

ErrorCode avi_add_chunk(AviImport* imp, AviStream* stream, uint64_t offset, uint32_t size, bool key) {
  ImportFile* file = imp->file;
  // Every chunk has its own header in the file, so an index that lists more
  // chunks than that repeats itself.
  if (stream->chunks.count >= imp->max_samples) return malformed(file, "AVI index lists more chunks than the file holds");
  // Readers size their buffers by the largest sample: no chunk is larger
  // than the file it is in.
  if (size > imp->file_size) return malformed(file, "AVI index entry larger than the file");
  uint32_t duration = 0;
  if (!avi_chunk_duration(stream, size, &duration)) return malformed(file, "AVI chunk lasts too long");
  // Key frames are marked in video; every chunk of sound is a sync sample.
  const bool sync = key || stream->strh.type == "auds";
  return stream->chunks.append_doubling(AviChunk{offset, size, sync ? 1u : 0u});
}

ErrorCode avi_read_legacy_index(AviImport* imp, const BoxHeader* chunk) {
  ImportFile* file = imp->file;
  AviStream* streams[kAviMaxStreams] = {};
  for (uint32_t k = 0; k < kAviMaxStreams; ++k)
    if (imp->streams[k] != nullptr && imp->streams[k]->odml == 0 && find_track(imp->root, k + 1) != nullptr)
      streams[k] = imp->streams[k];

  if (io_failed(file)) return ErrorCode::Io;
  const uint64_t at = file_tell(file);
  const uint64_t end = avi_clamped_end(imp, chunk);
  if (end <= at || end - at < 16) return ErrorCode::Ok;
  uint64_t size = (end - at) & ~uint64_t{15};
  if (size > UINT32_MAX) size = UINT32_MAX & ~uint32_t{15};
  uint8_t* buffer = nullptr;
  VT_TRY(read_entries(file, size, &buffer));

  const uint64_t base = uint64_t{imp->movi_start} + 16;  // chunk data after 'movi' and the chunk header
  bool found = false;
  int first_stream = -1;
  uint32_t first_offset = 0, first_length = 0;
  ErrorCode e = ErrorCode::Ok;
  for (uint64_t i = 0; i < size && e == ErrorCode::Ok; i += 16) {
    const uint8_t* p = buffer + i;
    int k = stream_of_chunk_id(p);
    if (k < 0 || k >= static_cast<int>(kAviMaxStreams) || streams[k] == nullptr) continue;
    const uint32_t flags = load_u32le(p + 4);
    const uint32_t offset = load_u32le(p + 8);
    const uint32_t length = load_u32le(p + 12);
    if (!found) {
      found = true;
      first_stream = k;
      first_offset = offset;
      first_length = length;
    }
    if ((flags & kAviNoTime) != 0) continue;
    e = avi_add_chunk(imp, streams[k], base + offset, length, (flags & kAviKeyFrame) != 0);
  }
  std::free(buffer);
  VT_TRY(e);

  // Offsets count from 'movi' or from the start of the file. Small ones can
  // only be relative; otherwise the chunk header they would point at as
  // relative offsets decides.
  const uint64_t movi_data = uint64_t{imp->movi_start} + 8;
  if (!found || first_offset < movi_data) return ErrorCode::Ok;
  const uint64_t header_at = movi_data + first_offset;
  bool relative = false;
  if (header_at <= imp->file_size && imp->file_size - header_at >= 8) {
    VT_TRY(file_seek(file, header_at));
    uint8_t h[8];
    VT_TRY(read_bytes(file, h, sizeof h));
    relative = stream_of_chunk_id(h) == first_stream && load_u32le(h + 4) == first_length;
  }
  if (!relative) make_offsets_absolute(streams, movi_data);
  return ErrorCode::Ok;
}

ErrorCode avi_read_odml_index(AviImport* imp, AviStream* stream, const BoxHeader* chunk) {
  return read_index(imp, stream, chunk, true);
}

}  // namespace vantorel
