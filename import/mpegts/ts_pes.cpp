#include "import/mpegts/ts_pes.h"

#include <cstring>

namespace vantorel {

namespace {

// Stream ids whose units carry no optional header fields.
bool plain_stream_id(uint8_t id) {
  return id == 0xBC || id == 0xBE || id == 0xBF || id == 0xF0 || id == 0xF1 || id == 0xF2 || id == 0xF8 ||
         id == 0xFF;
}

// The stream id extension inside the PES extension starting at `p`, `n`
// bytes long; 0 when there is none or it does not fit.
uint8_t stream_id_extension(const uint8_t* p, uint32_t n) {
  if (n < 1) return 0;
  uint8_t flags = p[0];
  uint32_t at = 1;
  if ((flags & 0x80) != 0) at += 16;  // PES_private_data
  if ((flags & 0x40) != 0) {          // pack_header_field
    if (at >= n) return 0;
    at += 1 + p[at];
  }
  if ((flags & 0x20) != 0) at += 2;  // program_packet_sequence_counter
  if ((flags & 0x10) != 0) at += 2;  // P-STD_buffer
  if ((flags & 0x01) == 0 || at + 2 > n) return 0;
  uint32_t field_length = p[at] & 0x7F;
  if (field_length < 1 || at + 1 + field_length > n) return 0;
  uint8_t b = p[at + 1];
  return (b & 0x80) == 0 ? static_cast<uint8_t>(b & 0x7F) : 0;
}

}  // namespace

bool pes_timestamp(const uint8_t* p, uint64_t* out) {
  *out = (uint64_t{(p[0] >> 1) & 7u} << 30) | (uint64_t{p[1]} << 22) | (uint64_t{p[2]} >> 1 << 15) |
         (uint64_t{p[3]} << 7) | (p[4] >> 1);
  return (p[0] & 1) != 0 && (p[2] & 1) != 0 && (p[4] & 1) != 0;
}

PesParse pes_header_parse(const uint8_t* p, uint32_t n, PesHeader* out, uint32_t* need) {
  *need = 6;
  if (n < 6) return PesParse::NeedMore;
  if (p[0] != 0 || p[1] != 0 || p[2] != 1 || p[3] < 0xBC) return PesParse::NotPes;
  PesHeader h{};
  h.stream_id = p[3];
  h.packet_length = static_cast<uint16_t>((p[4] << 8) | p[5]);
  if (plain_stream_id(h.stream_id)) {
    h.header_length = 6;
    *out = h;
    return PesParse::Ok;
  }
  *need = 9;
  if (n < 9) return PesParse::NeedMore;
  if ((p[6] & 0xC0) != 0x80) return PesParse::Malformed;
  uint8_t flags = p[7];
  uint32_t data_length = p[8];
  h.header_length = 9 + data_length;
  h.aligned = (p[6] & 0x04) != 0;
  if (h.packet_length != 0 && h.packet_length < 3 + data_length) return PesParse::Malformed;
  *need = h.header_length;
  if (n < h.header_length) return PesParse::NeedMore;
  uint32_t times = flags >> 6;
  if (times == 1) return PesParse::Malformed;
  // The fields the flags announce, in their order, must fit the header.
  uint32_t fixed = (times == 2 ? 5 : times == 3 ? 10 : 0) + ((flags & 0x20) ? 6 : 0) + ((flags & 0x10) ? 3 : 0) +
                   ((flags & 0x08) ? 1 : 0) + ((flags & 0x04) ? 1 : 0) + ((flags & 0x02) ? 2 : 0);
  if (fixed + ((flags & 0x01) ? 1 : 0) > data_length) return PesParse::Malformed;
  const uint8_t* q = p + 9;
  if (times >= 2) {
    bool ok = pes_timestamp(q, &h.pts);
    h.dts = h.pts;
    if (times == 3) ok = pes_timestamp(q + 5, &h.dts) && ok;
    if (ok) {
      h.has_pts = true;
      h.has_dts = times == 3;
    } else {
      h.marker_error = true;
      h.pts = h.dts = 0;
    }
  }
  if ((flags & 0x01) != 0) h.stream_id_extension = stream_id_extension(q + fixed, data_length - fixed);
  *out = h;
  return PesParse::Ok;
}

PesFeed pes_feed(PesAssembly* a, const uint8_t* p, uint32_t n, const uint8_t** data, uint32_t* count, uint32_t* extra) {
  *data = p;
  *count = 0;
  *extra = 0;
  while (!a->header_done) {
    // Take exactly the header's bytes, learning its length as they come.
    uint32_t need = 6;
    PesParse r = pes_header_parse(a->header, a->header_have, &a->parsed, &need);
    if (r == PesParse::Ok) {
      a->header_done = true;
      a->declared = a->parsed.packet_length == 0 ? kPesUnbounded
                                                 : 6u + a->parsed.packet_length - a->parsed.header_length;
      break;
    }
    if (r != PesParse::NeedMore) {
      a->active = false;
      return r == PesParse::NotPes ? PesFeed::NotPes : PesFeed::Malformed;
    }
    if (n == 0) return PesFeed::Payload;
    uint32_t take = need - a->header_have;
    if (take > n) take = n;
    std::memcpy(a->header + a->header_have, p, take);
    a->header_have += take;
    p += take;
    n -= take;
  }
  uint32_t take = n;
  if (a->declared != kPesUnbounded && take > a->declared - a->payload) {
    take = a->declared - a->payload;
    *extra = n - take;
  }
  a->payload += take;
  *data = p;
  *count = take;
  if (pes_complete(*a)) a->active = false;
  return PesFeed::Payload;
}

void pes_record_set_times(PesRecord* r, const PesHeader& h) {
  r->time_high = 0;
  r->pts_low = r->dts_low = 0;
  r->flags &= static_cast<uint16_t>(~(kPesHasPts | kPesHasDts | kPesMarkerError));
  if (h.marker_error) r->flags |= kPesMarkerError;
  if (!h.has_pts) return;
  r->flags |= kPesHasPts;
  if (h.has_dts) r->flags |= kPesHasDts;
  r->pts_low = static_cast<uint32_t>(h.pts);
  r->dts_low = static_cast<uint32_t>(h.dts);
  r->time_high = static_cast<uint8_t>(((h.pts >> 32) & 1) | (((h.dts >> 32) & 1) << 1));
}

ErrorCode ts_expand_pieces(TsWindow* window, const TsLayout& layout, uint16_t pid, const EsLocator& locator,
                           TsPieceSink take, void* user) {
  if (window == nullptr || take == nullptr) return ErrorCode::BadArgument;
  TsWalker walker{window, layout, locator.pes_offset};
  TsContinuity continuity = kTsContinuityStart;
  PesAssembly assembly{};
  bool started = false;
  uint32_t skip = locator.skip;
  uint32_t left = locator.length;
  while (left > 0) {
    const uint8_t* p = nullptr;
    uint64_t offset = 0;
    TsStep step;
    TsStepNote note;
    VT_TRY(ts_walk_next(&walker, &p, &offset, &step, &note));
    if (step == TsStep::End) return ErrorCode::Truncated;
    if (ts_pid_of(p) != pid) {
      if (!started) return ErrorCode::Malformed;
      continue;
    }
    const uint8_t* data = nullptr;
    uint32_t count = 0;
    const uint8_t counter = p[3] & 0x0F;
    if ((p[1] & 0xC0) == 0 && (p[3] & 0xF0) == 0x10 && assembly.active && assembly.header_done &&
        continuity.last < 0x10 && counter == ((continuity.last + 1) & 0x0F)) {
      // Most packets: no error, no unit start, not scrambled, no adaptation
      // field, the next counter, inside a unit whose header is read. What
      // the general path below makes of them, without its calls.
      continuity.last = counter;
      continuity.repeats = 0;
      data = p + 4;
      count = kTsPacketSize - 4;
      if (assembly.declared != kPesUnbounded && count > assembly.declared - assembly.payload)
        count = assembly.declared - assembly.payload;
      assembly.payload += count;
      if (pes_complete(assembly)) assembly.active = false;
    } else {
      TsPacket pkt;
      ts_packet_parse(p, &pkt);
      TsAdmit admit = ts_continuity(&continuity, pkt);
      if (!started && (!pkt.unit_start || admit != TsAdmit::Payload)) return ErrorCode::Malformed;
      started = true;
      if (admit == TsAdmit::Skip) continue;
      if (admit != TsAdmit::Payload) return ErrorCode::Malformed;  // the index marked this unit broken
      if (pkt.unit_start) {
        // A unit cut short before this one would leave a hole in the range.
        if (assembly.active && (assembly.declared != kPesUnbounded || !assembly.header_done))
          return ErrorCode::Malformed;
        pes_begin(&assembly);
      } else if (!assembly.active) {
        continue;  // past the announced end of a unit: not stream bytes
      }
      uint32_t extra = 0;
      if (pes_feed(&assembly, p + pkt.payload_at, kTsPacketSize - pkt.payload_at, &data, &count, &extra) !=
          PesFeed::Payload)
        return ErrorCode::Malformed;
    }
    if (skip >= count) {
      skip -= count;
      continue;
    }
    data += skip;
    count -= skip;
    skip = 0;
    const uint32_t piece = count < left ? count : left;
    left -= piece;
    if (!take(user, data, piece)) return ErrorCode::Ok;
  }
  return ErrorCode::Ok;
}

ErrorCode ts_expand(TsWindow* window, const TsLayout& layout, uint16_t pid, const EsLocator& locator, uint8_t* out) {
  if (out == nullptr && locator.length > 0) return ErrorCode::BadArgument;
  const TsPieceSink copy = [](void* user, const uint8_t* data, uint32_t count) {
    auto** at = static_cast<uint8_t**>(user);
    std::memcpy(*at, data, count);
    *at += count;
    return true;
  };
  return ts_expand_pieces(window, layout, pid, locator, copy, &out);
}

}  // namespace vantorel
