#pragma once
// PES packets: the header (stream id, length, timestamps) gathered from the
// start of a unit, the payload handed on packet by packet, the compact
// record the index keeps of each one, and the expansion of a byte range of
// a PID's elementary stream back into contiguous bytes.
#include <cstdint>

#include "import/mpegts/ts_packet.h"

namespace vantorel {

// 9 fixed bytes and at most 255 bytes of optional fields.
constexpr uint32_t kPesMaxHeader = 264;
constexpr uint32_t kPesUnbounded = UINT32_MAX;

struct PesHeader {
  uint8_t stream_id;
  uint8_t stream_id_extension;  // from the header extension; 0 when there is none
  uint16_t packet_length;       // PES_packet_length; 0: the unit runs to the next start (video)
  uint32_t header_length;       // bytes before the payload: 6, or 9 + PES_header_data_length
  bool has_pts;
  bool has_dts;
  bool marker_error;  // a timestamp's marker bits were wrong: its timestamps are not used
  bool aligned;       // data_alignment_indicator
  uint64_t pts;       // 33 bits, 90 kHz
  uint64_t dts;       // 33 bits; equal to pts when the header gives only a PTS
};

enum class PesParse : uint8_t {
  Ok,
  NeedMore,   // the header is longer than the bytes: `*need` says how long it is so far known to be
  NotPes,     // no start code, or not a stream id
  Malformed,  // lengths that contradict each other, PTS_DTS_flags 01, fields past the header
};

// A 33-bit timestamp in the five bytes at `p`; false when a marker bit is clear.
bool pes_timestamp(const uint8_t* p, uint64_t* out);

// Parses the header at the start of a unit from the first `n` bytes.
PesParse pes_header_parse(const uint8_t* p, uint32_t n, PesHeader* out, uint32_t* need);

// One PID's unit in progress: the header gathered across packets if need
// be, then the payload up to the length the header announces.
struct PesAssembly {
  bool active;        // a unit is in progress
  bool header_done;
  uint32_t header_have;
  uint8_t header[kPesMaxHeader];
  PesHeader parsed;
  uint32_t declared;  // payload bytes announced; kPesUnbounded when the unit runs to the next start
  uint32_t payload;   // payload bytes handed out so far
};

enum class PesFeed : uint8_t {
  Payload,    // (*data, *count) are payload bytes (possibly none); `*extra` bytes past the announced end were left
  NotPes,     // the unit does not start with a PES header: it is over
  Malformed,  // the header is malformed: the unit is over
};

// Starts a unit at a packet with its unit start flag.
inline void pes_begin(PesAssembly* a) {
  a->active = true;
  a->header_done = false;
  a->header_have = 0;
  a->payload = 0;
  a->declared = kPesUnbounded;
}

// Feeds one packet's payload. Header bytes are taken first; the rest is
// payload, up to the announced end (the unit is then complete: `active`
// turns false).
PesFeed pes_feed(PesAssembly* a, const uint8_t* p, uint32_t n, const uint8_t** data, uint32_t* count, uint32_t* extra);

inline bool pes_complete(const PesAssembly& a) {
  return a.header_done && a.declared != kPesUnbounded && a.payload == a.declared;
}

// Bits of PesRecord::flags.
enum : uint16_t {
  kPesHasPts = 1u << 0,
  kPesHasDts = 1u << 1,
  kPesBroken = 1u << 2,          // packets were lost or unusable inside it: its bytes are not whole
  kPesShort = 1u << 3,           // the next unit began before the announced length was reached
  kPesCutAtEnd = 1u << 4,        // the file ended before the announced length was reached
  kPesOpenAtEnd = 1u << 5,       // a unit without length that the end of the file ended
  kPesRandomAccess = 1u << 6,    // random_access_indicator on its first packet
  kPesDiscontinuity = 1u << 7,   // a discontinuity indicator on the PID since the previous unit began
  kPesMarkerError = 1u << 8,     // timestamps with wrong marker bits (not used)
  kPesAligned = 1u << 9,         // data_alignment_indicator
  kPesOverrun = 1u << 10,        // payload past the announced length followed (left out)
  kPesTooLarge = 1u << 11,       // larger than the gathering limit: its payload was not handed on whole
  kPesGapBefore = 1u << 12,      // packets of the PID were lost since the unit before it began
  kPesExtendedId = 1u << 13,     // an extended stream id (0xFD): `stream_id` holds its stream_id_extension
};

// What the index keeps of one unit: 24 bytes.
struct PesRecord {
  uint64_t offset;   // sync byte of the packet that starts the unit
  uint32_t length;   // payload bytes gathered (after the header)
  uint32_t pts_low;  // low 32 bits of the 33-bit PTS
  uint32_t dts_low;
  uint8_t time_high;  // bit 0: bit 32 of the PTS; bit 1: bit 32 of the DTS
  uint8_t stream_id;  // with kPesExtendedId, the stream_id_extension
  uint16_t flags;     // kPes* bits
};
static_assert(sizeof(PesRecord) == 24);

inline uint64_t pes_record_pts(const PesRecord& r) { return (uint64_t{r.time_high & 1u} << 32) | r.pts_low; }
inline uint64_t pes_record_dts(const PesRecord& r) { return (uint64_t{(r.time_high >> 1) & 1u} << 32) | r.dts_low; }
void pes_record_set_times(PesRecord* r, const PesHeader& h);

// A byte range of one PID's elementary stream: it begins `skip` bytes into
// the payload of the unit whose first packet is at `pes_offset` and runs
// for `length` bytes, through as many units as it takes. An access unit
// needs one of these; several may share a unit (audio frames), and one may
// run through several units.
struct EsLocator {
  uint64_t pes_offset;
  uint32_t skip;
  uint32_t length;
};
static_assert(sizeof(EsLocator) == 16);

// Gathers the bytes a locator addresses into `out` (locator.length bytes),
// walking the packets of `pid` from the unit's first packet through the
// window, passing over other PIDs, adaptation fields, duplicates and the
// headers of the units it crosses. Malformed when the locator does not
// start at a unit of that PID or the bytes are not whole (packets lost
// within them, a unit cut short); Truncated when the file ends first.
ErrorCode ts_expand(TsWindow* window, const TsLayout& layout, uint16_t pid, const EsLocator& locator, uint8_t* out);

// The same walk handing the bytes on in the pieces the packets hold them
// in, at most locator.length bytes in all, to `take`, which returns false
// once it wants no more (the walk then ends with Ok). Errors as ts_expand's.
using TsPieceSink = bool (*)(void* user, const uint8_t* data, uint32_t count);
ErrorCode ts_expand_pieces(TsWindow* window, const TsLayout& layout, uint16_t pid, const EsLocator& locator,
                           TsPieceSink take, void* user);

}  // namespace vantorel
