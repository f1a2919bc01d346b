#include "import/mpegps/ps_packs.h"

namespace vantorel {

namespace {

constexpr uint8_t kPack = 0xBA;
constexpr uint8_t kSystemHeader = 0xBB;
constexpr uint8_t kEnd = 0xB9;

bool item_code(uint8_t code) { return code >= kEnd; }

// An MPEG-1 packet header: stuffing, the buffer size, then the timestamps
// told by their leading bits ('0010' PTS, '0011' PTS and DTS, 0x0F none).
PsItem mpeg1_header(const uint8_t* p, uint32_t n, PesHeader* h) {
  uint32_t at = 6;
  for (uint32_t stuffing = 0; at < n && p[at] == 0xFF; ++at)
    if (++stuffing > 16) return PsItem::Garbage;
  if (at < n && (p[at] & 0xC0) == 0x40) at += 2;
  if (at >= n) return PsItem::Garbage;
  const uint8_t lead = p[at] >> 4;
  if (lead == 0x2 || lead == 0x3) {
    const uint32_t bytes = lead == 0x2 ? 5 : 10;
    if (n - at < bytes) return PsItem::Garbage;
    bool ok = pes_timestamp(p + at, &h->pts);
    h->dts = h->pts;
    if (lead == 0x3) ok = pes_timestamp(p + at + 5, &h->dts) && ok;
    h->has_pts = ok;
    h->has_dts = ok && lead == 0x3;
    h->marker_error = !ok;
    at += bytes;
  } else if (p[at] == 0x0F) {
    at += 1;
  } else {
    return PsItem::Garbage;
  }
  h->header_length = at;
  return PsItem::Packet;
}

}  // namespace

uint32_t ps_substream_header(uint8_t id) {
  if (id >= 0x80 && id <= 0x8F) return 4;
  if (id >= 0xA0 && id <= 0xA7) return 7;
  return 1;
}

uint32_t ps_next_item(const uint8_t* p, uint32_t n, uint32_t from) {
  for (uint32_t i = from; i + 3 < n; ++i)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && item_code(p[i + 3])) return i;
  return n;
}

uint32_t ps_find_pack(const uint8_t* p, uint32_t n, uint32_t from) {
  for (uint32_t i = from; i + 3 < n; ++i) {
    if (p[i + 2] > 1) {
      i += 2;  // no prefix can end before i + 3
      continue;
    }
    if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1 || p[i + 3] != kPack) continue;
    PsPacket pk;
    if (ps_parse(p + i, n - i, &pk) == PsItem::Pack) return i;
  }
  return n;
}

PsItem ps_parse(const uint8_t* p, uint32_t n, PsPacket* out, bool cut) {
  *out = PsPacket{};
  if (n < 4) return PsItem::NeedMore;
  if (p[0] != 0 || p[1] != 0 || p[2] != 1 || !item_code(p[3])) return PsItem::Garbage;
  const uint8_t code = p[3];
  if (code == kEnd) {
    out->length = 4;
    return PsItem::End;
  }
  if (code == kPack) {
    if (n < 5) return PsItem::NeedMore;
    if ((p[4] & 0xC0) == 0x40) {
      if (n < 14) return PsItem::NeedMore;
      // The marker bits between the clock's fields, and those of the mux rate.
      if ((p[4] & 0x04) == 0 || (p[6] & 0x04) == 0 || (p[8] & 0x04) == 0 || (p[9] & 0x01) == 0 || (p[12] & 0x03) != 3)
        return PsItem::Garbage;
      out->mpeg2 = true;
      out->length = 14 + (p[13] & 0x07);
      return PsItem::Pack;
    }
    if ((p[4] & 0xF0) == 0x20) {
      if (n < 12) return PsItem::NeedMore;
      if ((p[4] & 0x01) == 0 || (p[6] & 0x01) == 0 || (p[8] & 0x01) == 0 || (p[9] & 0x80) == 0 || (p[11] & 0x01) == 0)
        return PsItem::Garbage;
      out->length = 12;
      return PsItem::Pack;
    }
    return PsItem::Garbage;
  }
  if (n < 6) return PsItem::NeedMore;
  out->length = 6 + ((uint32_t{p[4]} << 8) | p[5]);
  if (code == kSystemHeader) return PsItem::SystemHeader;
  if (n < out->length && !cut) return PsItem::NeedMore;
  const uint32_t whole = n < out->length ? n : out->length;
  PesHeader& h = out->header;
  if (whole > 6 && (p[6] & 0xC0) == 0x80) {
    uint32_t need = 0;
    if (pes_header_parse(p, whole, &h, &need) != PesParse::Ok) return PsItem::Garbage;
  } else if (code == 0xBE || code == 0xBF || code == 0xBC || code >= 0xF0) {
    // Padding, the second private stream and the tables: no header fields.
    h = PesHeader{};
    h.stream_id = code;
    h.header_length = 6;
  } else {
    h = PesHeader{};
    h.stream_id = code;
    if (mpeg1_header(p, whole, &h) != PsItem::Packet) return PsItem::Garbage;
  }
  h.packet_length = static_cast<uint16_t>(out->length - 6);
  if (h.header_length > whole) return PsItem::Garbage;
  out->key = static_cast<uint16_t>(code << 8);
  out->payload_at = h.header_length;
  if (code == kPsPrivate1 && out->payload_at < whole) {
    const uint8_t sub = p[out->payload_at];
    out->key |= sub;
    const uint32_t own = ps_substream_header(sub);
    if (whole - out->payload_at < own) return PsItem::Garbage;
    out->payload_at += own;
  }
  out->payload_length = whole - out->payload_at;
  return PsItem::Packet;
}

}  // namespace vantorel
