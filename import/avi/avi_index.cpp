// The AVI indexes: the legacy 'idx1' and the OpenDML index of indexes and
// index of chunks. Each entry becomes one chunk of its stream.
#include <algorithm>
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

// The streams whose chunks come from the legacy index (or a walk of 'movi').
bool legacy_stream(const AviImport* imp, uint32_t k) {
  const AviStream* s = imp->streams[k];
  return s != nullptr && s->odml == 0 && find_track(imp->root, k + 1) != nullptr;
}

bool chunk_inside(const AviImport* imp, const AviChunk& c) {
  return c.offset <= imp->file_size && c.size <= imp->file_size - c.offset;
}

// A data chunk of a stream: "00dc", "00db", "01wb" (not a palette change or
// an index of chunks).
bool data_chunk(const BoxHeader& chunk) {
  const char* t = chunk.type.c;
  return (t[2] == 'd' && (t[3] == 'c' || t[3] == 'b')) || (t[2] == 'w' && t[3] == 'b');
}

// The chunks of 'movi' and of its 'rec ' lists in file order, as the index
// would list them; the first chunk of a video stream is its key frame, the
// others are not known to be. A chunk the file cuts is not taken.
ErrorCode walk_movi(AviImport* imp, uint64_t from, uint64_t end, uint32_t depth) {
  ImportFile* file = imp->file;
  VT_TRY(file_seek(file, from));
  while (file_tell(file) < end && !io_failed(file)) {
    BoxHeader chunk;
    if (!avi_next_chunk(imp, end, &chunk)) break;
    if (chunk.type == "rec " && depth == 0) {
      VT_TRY(walk_movi(imp, chunk.start + 12, std::min(chunk.end, end), 1));
    } else if (data_chunk(chunk)) {
      const int k = stream_of_chunk_id(reinterpret_cast<const uint8_t*>(chunk.type.c));
      if (k >= 0 && k < static_cast<int>(kAviMaxStreams) && legacy_stream(imp, static_cast<uint32_t>(k))) {
        if (chunk.end > end) break;
        AviStream* s = imp->streams[k];
        const bool key = s->chunks.count == 0 || s->strh.type == "auds";
        VT_TRY(avi_add_chunk(imp, s, chunk.start + 8, static_cast<uint32_t>(chunk.size - 8), key));
      }
    }
    const uint64_t next = chunk.end + (chunk.size & 1);
    if (next >= end) break;
    VT_TRY(file_seek(file, next));
  }
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

// How long the chunks [from, count) of a stream last, in ms.
uint64_t chunks_ms(const AviStream* s, uint32_t from) {
  uint64_t units = 0;
  for (uint32_t i = from; i < s->chunks.count; ++i) {
    uint32_t d = 0;
    avi_chunk_duration(s, s->chunks[i].size, &d);
    units += d;  // each under 2^32, at most 2^32 of them
  }
  return rescale(units, s->strh.rate, 1000);
}

void record_cut(AviImport* imp, uint32_t k, uint32_t missing, uint32_t total, uint64_t ms) {
  ImportFile* file = imp->file;
  if (missing == 0 || file->cut_count >= kMaxImportCuts) return;
  file->cuts[file->cut_count++] = ImportCut{k + 1, missing, total, ms};
}

// Reads the chunks from 'movi' in place of a legacy index that cannot be
// used; what the index listed beyond them is missing.
ErrorCode chunks_from_movi(AviImport* imp) {
  GrowArray<AviChunk> listed[kAviMaxStreams] = {};
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t k = 0; k < kAviMaxStreams; ++k) {
    if (!legacy_stream(imp, k)) continue;
    listed[k] = imp->streams[k]->chunks;
    imp->streams[k]->chunks = GrowArray<AviChunk>{};
  }
  e = walk_movi(imp, uint64_t{imp->movi_start} + 12, imp->movi_end, 0);
  for (uint32_t k = 0; k < kAviMaxStreams; ++k) {
    if (!legacy_stream(imp, k)) continue;
    AviStream* s = imp->streams[k];
    const uint32_t found = s->chunks.count;
    if (e == ErrorCode::Ok && listed[k].count > found) {
      // The index's own figures for what it lists past the chunks found.
      GrowArray<AviChunk> walked = s->chunks;
      s->chunks = listed[k];
      const uint64_t ms = chunks_ms(s, found);
      s->chunks = walked;
      record_cut(imp, k, listed[k].count - found, listed[k].count, ms);
    }
    listed[k].release();
  }
  return e;
}

// Chunks listed twice or overlapping another chunk are dropped after the
// first: a repeated entry would copy the same bytes again and again.
ErrorCode drop_overlaps(AviImport* imp) {
  struct Span {
    uint64_t offset;
    uint32_t size;
    uint32_t stream;
    uint32_t index;
  };
  // Only streams with a track keep chunks, all inside the file by now.
  auto kept = [imp](uint32_t k) { return imp->streams[k] != nullptr && find_track(imp->root, k + 1) != nullptr; };
  uint64_t total = 0;
  for (uint32_t k = 0; k < kAviMaxStreams; ++k)
    if (kept(k)) total += imp->streams[k]->chunks.count;
  if (total < 2) return ErrorCode::Ok;
  if (total > UINT32_MAX / sizeof(Span)) return malformed(imp->file, "AVI indexes list too many chunks");
  auto* spans = static_cast<Span*>(std::malloc(total * sizeof(Span)));
  if (spans == nullptr) return ErrorCode::OutOfMemory;
  uint32_t n = 0;
  for (uint32_t k = 0; k < kAviMaxStreams; ++k) {
    const AviStream* s = imp->streams[k];
    if (!kept(k)) continue;
    for (uint32_t i = 0; i < s->chunks.count; ++i) spans[n++] = Span{s->chunks[i].offset, s->chunks[i].size, k, i};
  }
  std::sort(spans, spans + n, [](const Span& a, const Span& b) {
    return a.offset != b.offset ? a.offset < b.offset : a.size > b.size;
  });
  constexpr uint32_t kDropped = 0x80000000u;
  uint64_t dropped = 0;
  uint64_t reach = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const Span& c = spans[i];
    if (i > 0 && (c.offset < reach || c.offset == spans[i - 1].offset)) {
      imp->streams[c.stream]->chunks[c.index].key |= kDropped;
      ++dropped;
      continue;
    }
    reach = std::max(reach, c.offset + c.size);
  }
  std::free(spans);
  if (dropped == 0) return ErrorCode::Ok;
  for (uint32_t k = 0; k < kAviMaxStreams; ++k) {
    if (!kept(k)) continue;
    AviStream* s = imp->streams[k];
    uint32_t left = 0;
    for (uint32_t i = 0; i < s->chunks.count; ++i)
      if ((s->chunks[i].key & kDropped) == 0) s->chunks[left++] = s->chunks[i];
    s->chunks.count = left;
  }
  import_note_add(imp->file, "%llu AVI index entries repeat or overlap another chunk; they are left out",
                  static_cast<unsigned long long>(dropped));
  return ErrorCode::Ok;
}

// Keeps only the chunks inside the file; those past its end are missing.
// True when there were any.
bool drop_chunks_past_end(AviImport* imp) {
  bool any = false;
  for (uint32_t k = 0; k < kAviMaxStreams; ++k) {
    AviStream* s = imp->streams[k];
    if (s == nullptr || find_track(imp->root, k + 1) == nullptr) continue;
    uint32_t kept = 0;
    uint64_t units = 0;
    for (uint32_t i = 0; i < s->chunks.count; ++i) {
      if (chunk_inside(imp, s->chunks[i])) {
        s->chunks[kept++] = s->chunks[i];
      } else {
        uint32_t d = 0;
        avi_chunk_duration(s, s->chunks[i].size, &d);
        units += d;
      }
    }
    if (kept < s->chunks.count) {
      any = true;
      record_cut(imp, k, s->chunks.count - kept, s->chunks.count, rescale(units, s->strh.rate, 1000));
    }
    s->chunks.count = kept;
  }
  return any;
}

// When the streams say the presentation ends, in ms.
uint64_t declared_end_ms(const AviImport* imp) {
  uint64_t end = 0;
  for (uint32_t k = 0; k < kAviMaxStreams; ++k) {
    const AviStream* s = imp->streams[k];
    if (s == nullptr || s->strh.rate == 0 || find_track(imp->root, k + 1) == nullptr) continue;
    const uint64_t length = mul32x32(s->strh.scale, s->strh.length);
    const uint64_t start = mul32x32(s->strh.scale, s->strh.start);
    if (start > UINT64_MAX - length) continue;  // no believable end
    const uint64_t ms = rescale(length + start, s->strh.rate, 1000);
    if (ms != none64() && ms > end) end = ms;
  }
  return end;
}

}  // namespace

ErrorCode avi_settle_chunks(AviImport* imp) {
  ImportFile* file = imp->file;
  bool legacy = false, any_inside = false;
  for (uint32_t k = 0; k < kAviMaxStreams; ++k) {
    if (!legacy_stream(imp, k)) continue;
    legacy = true;
    for (const AviChunk& c : imp->streams[k]->chunks) any_inside = any_inside || chunk_inside(imp, c);
  }
  bool listed_past_end = false;
  // Inspecting reads no index: only the sizes tell a cut file then.
  if (file->mode != kOpenInspect) {
    if (legacy && imp->movi_end > 0 && (imp->idx1_cut || !any_inside)) {
      import_note_add(file, imp->idx1_seen ? "its index ('idx1') is cut or lists no chunk inside the file: its "
                                             "chunks are read from 'movi'"
                                           : "it has no index ('idx1'): its chunks are read from 'movi'");
      VT_TRY(chunks_from_movi(imp));
    }
    listed_past_end = drop_chunks_past_end(imp);
    VT_TRY(drop_overlaps(imp));
  }
  if (imp->riff_cut || imp->idx1_cut || listed_past_end || file->cut_count > 0) {
    file->cut = 1;
    file->declared_end_ms = declared_end_ms(imp);
    import_note_add(file, "the file is truncated: %s",
                    imp->idx1_cut   ? "its index ('idx1') runs past the end of the file"
                    : imp->riff_cut ? "its RIFF or 'movi' list runs past the end of the file"
                                    : "its index lists chunks past the end of the file");
  }
  return ErrorCode::Ok;
}

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
