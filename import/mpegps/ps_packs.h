#pragma once
// The items of an MPEG program stream: pack headers (MPEG-1 and MPEG-2,
// with stuffing), system headers, end codes and PES packets (MPEG-1 and
// MPEG-2 headers), each told with its whole length from its first bytes,
// and the stream a packet belongs to: its stream id, and for private
// stream 1 the sub-stream id that leads the payload.
#include <cstdint>

#include "import/mpegts/ts_pes.h"

namespace vantorel {

enum class PsItem : uint8_t {
  Pack,
  SystemHeader,
  End,
  Packet,    // a PES packet
  NeedMore,  // the bytes end before its length is known
  Garbage,   // no start code of a program stream here
};

constexpr uint8_t kPsPrivate1 = 0xBD;
constexpr uint32_t kPsMaxItem = 6 + 0xFFFF;  // a packet's 16-bit length and the 6 bytes before it

struct PsPacket {
  uint32_t length;   // whole bytes of the item
  bool mpeg2;        // a pack header of MPEG-2 form
  PesHeader header;  // a packet: its header
  uint16_t key;      // a packet: its stream id << 8, and a private stream 1 sub-stream id in the low byte
  uint32_t payload_at;      // from the item's start: past the PES header and a sub-stream's own header
  uint32_t payload_length;  // to the end of the packet
};

// What begins at `p` (`n` bytes there). For a packet, `n` must reach its
// end (NeedMore otherwise, `out->length` then telling how long it is), and
// Garbage stands also for a header that contradicts itself. `cut`: the
// file ends within the `n` bytes, and a packet's header is read from them
// with its payload ending where they end.
PsItem ps_parse(const uint8_t* p, uint32_t n, PsPacket* out, bool cut = false);

// The bytes a private stream 1 sub-stream puts before its payload: AC-3
// and DTS four (id, frame count, first access unit), LPCM seven (and its
// format), others their id.
uint32_t ps_substream_header(uint8_t substream_id);

// The offset of the next 00 00 01 prefix at or after `from` whose code can
// start a program-stream item; `n` when none (the last 3 bytes are never
// searched: a prefix may straddle).
uint32_t ps_next_item(const uint8_t* p, uint32_t n, uint32_t from);

// The offset of the first valid pack header at or after `from`, wholly
// within the `n` bytes; `n` when none.
uint32_t ps_find_pack(const uint8_t* p, uint32_t n, uint32_t from);

}  // namespace vantorel
