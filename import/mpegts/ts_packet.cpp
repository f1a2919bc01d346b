#include "import/mpegts/ts_packet.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "io/byte_io.h"

namespace vantorel {

namespace {

constexpr uint32_t kStrides[] = {188, 192, 204};

enum class Run : uint8_t { Yes, No, Undecided };

// Whether the packets from `p` on have their sync bytes at the stride.
Run sync_run(const uint8_t* bytes, uint32_t n, uint32_t stride, uint32_t p, bool whole) {
  uint32_t k = 0;
  for (; k < kTsSyncRun; ++k) {
    uint64_t q = uint64_t{p} + uint64_t{k} * stride;
    if (q + kTsPacketSize > n) break;
    if (bytes[q] != kTsSync) return Run::No;
  }
  if (k == kTsSyncRun) return Run::Yes;
  // The bytes end within the run: at the end of the file every packet that
  // is left suffices; elsewhere more bytes are needed.
  if (whole) return k > 0 ? Run::Yes : Run::No;
  return Run::Undecided;
}

}  // namespace

bool ts_find_layout(const uint8_t* bytes, uint32_t n, bool whole, TsLayout* out) {
  for (uint32_t p = 0; p < n; ++p) {
    const void* hit = std::memchr(bytes + p, kTsSync, n - p);
    if (hit == nullptr) return false;
    p = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - bytes);
    for (uint32_t stride : kStrides) {
      if (sync_run(bytes, n, stride, p, whole) == Run::Yes) {
        out->stride = stride;
        out->first = p;
        return true;
      }
    }
  }
  return false;
}

bool ts_find_sync(const uint8_t* bytes, uint32_t n, uint32_t stride, uint32_t from, bool whole, uint32_t* at,
                  uint32_t* scanned) {
  for (uint32_t p = from; p < n; ++p) {
    const void* hit = std::memchr(bytes + p, kTsSync, n - p);
    if (hit == nullptr) break;
    p = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - bytes);
    Run r = sync_run(bytes, n, stride, p, whole);
    if (r == Run::Yes) {
      *at = p;
      return true;
    }
    if (r == Run::Undecided) {
      *scanned = p;
      return false;
    }
  }
  *scanned = n;
  return false;
}

bool ts_probe(FileIo* file, TsLayout* out) {
  constexpr uint32_t kHead = 204 * (kTsSyncRun + 1);
  uint8_t head[kHead];
  uint64_t size = file_size(file);
  uint32_t n = size < kHead ? static_cast<uint32_t>(size) : kHead;
  bool found = false;
  TsLayout layout{};
  if (n > 0 && file_seek(file, 0) == ErrorCode::Ok && read_bytes(file, head, n) == ErrorCode::Ok)
    found = ts_find_layout(head, n, n == size, &layout) && layout.first < layout.stride &&
            layout.first + layout.stride + kTsPacketSize <= n;  // two packets at least
  file_seek(file, 0);
  if (found && out != nullptr) *out = layout;
  return found;
}

void ts_packet_parse(const uint8_t* p, TsPacket* out) {
  TsPacket pkt{};
  pkt.error = (p[1] & 0x80) != 0;
  pkt.unit_start = (p[1] & 0x40) != 0;
  pkt.pid = ts_pid_of(p);
  pkt.scrambling = static_cast<uint8_t>(p[3] >> 6);
  pkt.adaptation_control = static_cast<uint8_t>((p[3] >> 4) & 3);
  pkt.continuity = static_cast<uint8_t>(p[3] & 0x0F);
  pkt.payload_at = kTsPacketSize;
  switch (pkt.adaptation_control) {
    case kTsPayloadOnly:
      pkt.payload_at = 4;
      break;
    case kTsAdaptationOnly:
    case kTsAdaptationAndPayload: {
      uint32_t length = p[4];
      // With a payload the field leaves at least one byte of it; without,
      // it fills the packet (a shorter one is tolerated: the rest is unused).
      uint32_t limit = pkt.adaptation_control == kTsAdaptationOnly ? 183 : 182;
      if (length > limit) {
        pkt.malformed = true;
        break;
      }
      if (length >= 1) {
        uint8_t flags = p[5];
        pkt.discontinuity = (flags & 0x80) != 0;
        pkt.random_access = (flags & 0x40) != 0;
        if ((flags & 0x10) != 0 && length >= 7) {
          uint64_t base = (uint64_t{p[6]} << 25) | (uint64_t{p[7]} << 17) | (uint64_t{p[8]} << 9) |
                          (uint64_t{p[9]} << 1) | (p[10] >> 7);
          uint32_t extension = ((p[10] & 1u) << 8) | p[11];
          pkt.has_pcr = true;
          pkt.pcr = base * 300 + extension;
        }
      }
      if (pkt.adaptation_control == kTsAdaptationAndPayload) pkt.payload_at = static_cast<uint8_t>(5 + length);
      break;
    }
    default:  // reserved: the packet is to be discarded
      pkt.malformed = true;
      break;
  }
  *out = pkt;
}

TsAdmit ts_continuity(TsContinuity* state, const TsPacket& pkt) {
  bool payload = (pkt.adaptation_control & kTsPayloadOnly) != 0;
  if (pkt.error) return TsAdmit::Unusable;  // its counter may be as damaged as the rest
  if (pkt.malformed || pkt.scrambling != 0) {
    if (payload && !pkt.malformed) state->last = pkt.continuity;
    state->repeats = 0;
    return TsAdmit::Unusable;
  }
  if (pkt.discontinuity) {
    state->last = payload ? pkt.continuity : 0x10;
    state->repeats = 0;
    return payload ? TsAdmit::Payload : TsAdmit::Skip;
  }
  if (!payload) return TsAdmit::Skip;
  if (state->last == 0x10) {
    state->last = pkt.continuity;
    return TsAdmit::Payload;
  }
  if (pkt.continuity == state->last) {
    // One copy is allowed; a counter that keeps repeating is not a copy.
    return ++state->repeats == 1 ? TsAdmit::Skip : TsAdmit::Unusable;
  }
  bool next = pkt.continuity == ((state->last + 1) & 0x0F);
  state->last = pkt.continuity;
  state->repeats = 0;
  return next ? TsAdmit::Payload : TsAdmit::GapPayload;
}

ErrorCode ts_window_open(TsWindow* w, FileIo* file, uint32_t capacity, uint32_t read_size) {
  if (w == nullptr || file == nullptr) return ErrorCode::BadArgument;
  *w = TsWindow{};
  if (capacity < 0x10000) capacity = 0x10000;
  w->buffer = static_cast<uint8_t*>(std::malloc(capacity));
  if (w->buffer == nullptr) return ErrorCode::OutOfMemory;
  w->file = file;
  w->capacity = capacity;
  w->read_size = read_size == 0 || read_size > capacity ? capacity : read_size;
  w->file_size = file_size(file);
  w->io_position = UINT64_MAX;
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

void ts_window_release(TsWindow* w) {
  if (w == nullptr) return;
  std::free(w->buffer);
  *w = TsWindow{};
}

ErrorCode ts_window_follow(TsWindow* w, FileIo** over, FileIo* file) {
  if (*over == file) return ErrorCode::Ok;
  ts_window_release(w);
  *over = nullptr;
  // Reads of 256 KiB, which the cache still holds when they are used (a
  // whole 4 MiB read costs more a byte).
  VT_TRY(ts_window_open(w, file, 4u << 20, 256u << 10));
  // Samples are read a stretch of one stream, then the same stretch of the
  // next: the window keeps a megabyte behind where it moves on to.
  w->behind = 1u << 20;
  *over = file;
  return ErrorCode::Ok;
}

ErrorCode ts_append_bytes(GrowArray<uint8_t>* g, const uint8_t* p, uint32_t n) {
  if (n == 0) return ErrorCode::Ok;
  const uint64_t want = uint64_t{g->count} + n;
  if (want > g->capacity) {
    uint64_t capacity = g->capacity != 0 ? g->capacity : 4096;
    while (capacity < want) capacity *= 2;
    if (capacity > UINT32_MAX) return ErrorCode::OutOfMemory;
    VT_TRY(g->reserve(static_cast<uint32_t>(capacity)));
  }
  std::memcpy(g->items + g->count, p, n);
  g->count += n;
  return ErrorCode::Ok;
}

ErrorCode ts_window_fill(TsWindow* w, uint64_t offset, uint32_t need, const uint8_t** out, uint32_t* got) {
  if (need > w->capacity) return ErrorCode::BadArgument;
  *out = w->buffer;
  *got = 0;
  if (offset >= w->file_size) return ErrorCode::Ok;
  // The window starts up to `behind` bytes before the offset asked for, so
  // that a reader stepping back a little finds the bytes still there.
  const uint64_t behind = std::min<uint64_t>({w->behind, w->capacity - need, offset});
  const uint64_t base = offset - behind;
  const uint32_t step = need > w->read_size ? need : w->read_size;
  if (offset < w->start || base > w->start + w->length) {
    w->start = base;
    w->length = 0;
  } else {
    // Keep what is already here (the bytes up to `offset` are read with
    // the rest); when the bytes asked for do not fit after it, what is here
    // from `base` on.
    const uint64_t keep_from = offset + step > w->start + w->capacity ? std::max(base, w->start) : w->start;
    const uint32_t skip = static_cast<uint32_t>(keep_from - w->start);
    const uint32_t keep = w->length - skip;
    if (skip > 0 && keep > 0) std::memmove(w->buffer, w->buffer + skip, keep);
    w->start = keep_from;
    w->length = keep;
  }
  uint64_t want = offset + step;
  if (want > w->start + w->capacity) want = w->start + w->capacity;
  if (want > w->file_size) want = w->file_size;
  uint64_t from = w->start + w->length;
  if (want > from) {
    uint32_t count = static_cast<uint32_t>(want - from);
    // A positional read goes straight into the window, past any buffer
    // the file's routines keep for small reads.
    ErrorCode e = read_bytes_at(w->file, from, w->buffer + w->length, count);
    if (e != ErrorCode::Ok) {
      w->io_position = UINT64_MAX;
      w->length = 0;
      return ErrorCode::Io;
    }
    w->io_position = from + count;
    w->length += count;
  }
  const uint32_t at = static_cast<uint32_t>(offset - w->start);
  const uint32_t have = w->length > at ? w->length - at : 0;
  *out = w->buffer + at;
  *got = have < need ? have : need;
  return ErrorCode::Ok;
}

ErrorCode ts_walk_slow(TsWalker* walker, const uint8_t** packet, uint64_t* offset, TsStep* step, TsStepNote* note) {
  TsWindow* w = walker->window;
  *note = TsStepNote{};
  for (;;) {
    const uint8_t* p = nullptr;
    uint32_t got = 0;
    VT_TRY(ts_window_get(w, walker->next, kTsPacketSize, &p, &got));
    if (got < kTsPacketSize) {
      note->cut = got;
      *step = TsStep::End;
      return ErrorCode::Ok;
    }
    if (p[0] == kTsSync) {
      *packet = p;
      *offset = walker->next;
      walker->next += walker->layout.stride;
      *step = note->skipped > 0 ? TsStep::Resynced : TsStep::Packet;
      return ErrorCode::Ok;
    }
    // Lost: search onwards for a place where packets follow at the stride
    // again (garbage of any length may have shifted them).
    note->lost_at = walker->next;
    uint64_t from = walker->next + 1;
    for (;;) {
      constexpr uint32_t kChunk = 0x10000;
      VT_TRY(ts_window_fill(w, from, kChunk, &p, &got));
      bool whole = from + got >= w->file_size;
      uint32_t at = 0;
      uint32_t scanned = 0;
      if (ts_find_sync(p, got, walker->layout.stride, 0, whole, &at, &scanned)) {
        walker->next = from + at;
        break;
      }
      if (whole) {
        note->skipped = w->file_size - note->lost_at;
        walker->next = w->file_size;
        *step = TsStep::End;
        return ErrorCode::Ok;
      }
      from += scanned > 0 ? scanned : 1;
    }
    note->skipped = walker->next - note->lost_at;
  }
}

}  // namespace vantorel
