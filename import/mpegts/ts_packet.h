#pragma once
// Transport stream packets: how they lie in the file (188 bytes, 192 with a
// 4-byte arrival stamp before each, 204 with 16 check bytes after), each
// packet's header and adaptation field, the continuity counter rules, and a
// window that reads the file in large blocks so that walking millions of
// packets costs no call into the file routines per packet.
#include <cstdint>

#include "io/file_io.h"
#include "io/grow_array.h"

namespace vantorel {

constexpr uint32_t kTsPacketSize = 188;
constexpr uint8_t kTsSync = 0x47;
constexpr uint16_t kTsPatPid = 0x0000;
constexpr uint16_t kTsNullPid = 0x1FFF;
constexpr uint32_t kTsPidCount = 8192;
// Packets in a row with their sync byte at the stride that make a position
// trusted, at the start and after garbage.
constexpr uint32_t kTsSyncRun = 5;

// Where the packets are. `first` is the offset of the first sync byte; each
// packet's 188 bytes start at first + k * stride (after resynchronisation,
// at the position found). An arrival stamp lies in the 4 bytes before the
// sync byte of a 192-byte packet; the check bytes of a 204-byte one after
// its 188 bytes. Neither is used.
struct TsLayout {
  uint32_t stride;  // 188, 192 or 204
  uint64_t first;
};

// Finds the stride and the first trusted sync byte in `bytes`, the first `n`
// bytes of a file (`whole`: they are all of it). A position is trusted when
// kTsSyncRun packets in a row have their sync byte at the stride, or, near
// the end of a whole file, every complete packet that is left. Positions
// are tried from the start; at one position 188 is tried before 192 and
// 204. False when no position in the bytes qualifies.
bool ts_find_layout(const uint8_t* bytes, uint32_t n, bool whole, TsLayout* out);

// The first trusted position at or after `from` in `bytes` for a known
// stride (`whole` as above: the bytes reach the end of the file). False when
// there is none in the bytes; `*scanned` then says how far the search got
// (positions below it can never qualify, even with more bytes after).
bool ts_find_sync(const uint8_t* bytes, uint32_t n, uint32_t stride, uint32_t from, bool whole, uint32_t* at,
                  uint32_t* scanned);

// Whether a file is a transport stream: packets at one of the strides
// from within its first packet's length on (a cut file may begin inside a
// packet), kTsSyncRun of them in a row or as many as a short file holds
// (two at least).
// The layout found goes to `out` (may be null); the position is set back to 0.
bool ts_probe(FileIo* file, TsLayout* out);

// Adaptation field control values.
enum : uint8_t { kTsPayloadOnly = 1, kTsAdaptationOnly = 2, kTsAdaptationAndPayload = 3 };

struct TsPacket {
  uint16_t pid;
  uint8_t continuity;         // continuity_counter
  uint8_t adaptation_control; // adaptation_field_control
  uint8_t scrambling;         // transport_scrambling_control
  bool error;                 // transport_error_indicator
  bool unit_start;            // payload_unit_start_indicator
  bool discontinuity;         // discontinuity_indicator
  bool random_access;         // random_access_indicator
  bool has_pcr;
  bool malformed;             // reserved control 0, or an adaptation field longer than the packet
  uint8_t payload_at;         // first payload byte; 188 when there is none
  uint64_t pcr;               // 27 MHz: base * 300 + extension
};

inline uint16_t ts_pid_of(const uint8_t* p) { return static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]); }

// Reads the header and adaptation field of the 188 bytes at `p` (p[0] is the
// sync byte). A malformed packet has no payload.
void ts_packet_parse(const uint8_t* p, TsPacket* out);

inline bool ts_has_payload(const TsPacket& pkt) { return pkt.payload_at < kTsPacketSize; }

// Continuity of one PID. `last` is 0x10 before the first packet.
struct TsContinuity {
  uint8_t last;
  uint8_t repeats;  // packets in a row that repeated the last counter
};
constexpr TsContinuity kTsContinuityStart = {0x10, 0};

// What a packet's payload is worth after the continuity rules.
enum class TsAdmit : uint8_t {
  Payload,     // take the payload
  Skip,        // nothing to take: no payload, or the one legal duplicate
  GapPayload,  // packets were lost before this one: what was in progress is broken; then take the payload
  Unusable,    // this packet's payload cannot be used (error indicator, scrambled, malformed, repeated
               // duplicates): what was in progress is broken and this payload is not taken
};

// Applies the rules: packets without payload carry no count; a
// discontinuity indicator starts the count afresh; one repetition of the
// last counter is a duplicate to skip; any other step than +1 is a gap.
TsAdmit ts_continuity(TsContinuity* state, const TsPacket& pkt);

// A window over a file: the bytes from `start` for `length`, read in blocks
// of `read_size` (at most `capacity`), sequentially where it can.
struct TsWindow {
  FileIo* file;
  uint8_t* buffer;
  uint32_t capacity;
  uint32_t read_size;
  uint64_t start;
  uint32_t length;
  uint64_t file_size;
  uint64_t io_position;  // where the last read ended; UINT64_MAX unknown
  uint32_t behind;       // bytes before the offset asked for kept (or read again) when the window moves
};

// A window of `capacity` bytes (at least 64 KiB) over `file`, reading
// `read_size` bytes on a miss (0: the whole capacity).
ErrorCode ts_window_open(TsWindow* w, FileIo* file, uint32_t capacity, uint32_t read_size);
void ts_window_release(TsWindow* w);
// A reader's window over `file`, the one `*over` names: made afresh (4 MiB,
// read 256 KiB at a time, a megabyte kept behind) when the reader is handed
// another file.
ErrorCode ts_window_follow(TsWindow* w, FileIo** over, FileIo* file);

// Appends `n` bytes to `g`, doubling its room as it grows (within 32 bits).
ErrorCode ts_append_bytes(GrowArray<uint8_t>* g, const uint8_t* p, uint32_t n);

// Reads so that the bytes [offset, offset + need) are in the window, or as
// many of them as the file holds: a pointer to them in `*out` and their
// count in `*got` (need is at most the capacity). Io when the file fails.
ErrorCode ts_window_fill(TsWindow* w, uint64_t offset, uint32_t need, const uint8_t** out, uint32_t* got);

// The common case without a call: the bytes are already there.
inline ErrorCode ts_window_get(TsWindow* w, uint64_t offset, uint32_t need, const uint8_t** out, uint32_t* got) {
  if (offset >= w->start && offset - w->start + need <= w->length) {
    *out = w->buffer + (offset - w->start);
    *got = need;
    return ErrorCode::Ok;
  }
  return ts_window_fill(w, offset, need, out, got);
}

// Walks the packets of a file in order, resynchronising after garbage.
struct TsWalker {
  TsWindow* window;
  TsLayout layout;
  uint64_t next;  // offset of the next sync byte expected
};

enum class TsStep : uint8_t {
  Packet,    // the next packet, right where it was expected
  Resynced,  // a packet found after passing over garbage: the note says where and how much
  End,       // no more whole packets: the note gives the bytes of a cut one, or the garbage up to the end
};

struct TsStepNote {
  uint64_t lost_at;  // where sync was lost (the sync byte expected there)
  uint64_t skipped;  // bytes passed over
  uint32_t cut;      // bytes of a last packet the file cuts short
};

// Everything but the plain next packet.
ErrorCode ts_walk_slow(TsWalker* walker, const uint8_t** packet, uint64_t* offset, TsStep* step, TsStepNote* note);

// The next packet: its 188 bytes in `*packet` (valid until the next call)
// and the offset of its sync byte in `*offset`. `note` is filled only when
// the step is not Packet.
inline ErrorCode ts_walk_next(TsWalker* walker, const uint8_t** packet, uint64_t* offset, TsStep* step,
                              TsStepNote* note) {
  const TsWindow* w = walker->window;
  uint64_t at = walker->next;
  if (at >= w->start && at - w->start + kTsPacketSize <= w->length) {
    const uint8_t* p = w->buffer + (at - w->start);
    if (p[0] == kTsSync) {
      *packet = p;
      *offset = at;
      walker->next = at + walker->layout.stride;
      *step = TsStep::Packet;
      return ErrorCode::Ok;
    }
  }
  return ts_walk_slow(walker, packet, offset, step, note);
}

}  // namespace vantorel
