#include "import/mpegts/ts_psi.h"

#include <array>
#include <cstring>

#include "io/byte_io.h"

namespace vantorel {

namespace {

constexpr std::array<uint32_t, 256> make_crc_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 24;
    for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) != 0 ? (c << 1) ^ 0x04C11DB7u : c << 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = make_crc_table();

// Marks a section whose header has not been read yet.
constexpr uint32_t kWantHeader = UINT32_MAX;

uint32_t section_total(const uint8_t* header) { return 3 + (((header[1] & 0x0Fu) << 8) | header[2]); }

enum class Append : uint8_t { More, Complete, TooLong };

// Adds bytes to the section in progress, up to its end; `*used` says how
// many were taken.
Append append(TsSectionBuffer* b, const uint8_t* p, uint32_t n, uint32_t* used) {
  *used = 0;
  while (n > *used) {
    if (b->want == kWantHeader) {
      b->bytes[b->have++] = p[(*used)++];
      if (b->have < 3) continue;
      uint32_t total = section_total(b->bytes);
      if (total > kTsMaxSection) {
        ts_section_reset(b);
        return Append::TooLong;
      }
      b->want = total;
      continue;
    }
    uint32_t take = b->want - b->have;
    if (take > n - *used) take = n - *used;
    std::memcpy(b->bytes + b->have, p + *used, take);
    b->have += take;
    *used += take;
    if (b->have == b->want) break;
  }
  if (b->want != kWantHeader && b->have == b->want) return Append::Complete;
  return Append::More;
}

bool printable(const uint8_t* p, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i)
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  return true;
}

void take_language(TsDescriptors* d, const uint8_t* p) {
  if (d->language[0] != 0 || !printable(p, 3)) return;
  std::memcpy(d->language, p, 3);
  d->language[3] = 0;
}

}  // namespace

uint32_t ts_crc32(const uint8_t* p, uint32_t n, uint32_t crc) {
  for (uint32_t i = 0; i < n; ++i) crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ p[i]) & 0xFF];
  return crc;
}

TsSectionStep ts_section_next(TsSectionBuffer* b, TsSectionFeed* f, const uint8_t** section, uint32_t* length) {
  if (!f->started) {
    f->started = true;
    if (f->unit_start) {
      if (f->n == 0 || 1u + f->p[0] > f->n) {
        ts_section_reset(b);
        f->n = 0;
        return TsSectionStep::Malformed;
      }
      f->tail = f->p + 1;
      f->tail_n = f->p[0];
      f->p += 1 + f->tail_n;
      f->n -= 1 + f->tail_n;
    } else {
      f->tail = f->p;
      f->tail_n = f->n;
      f->n = 0;
    }
    if (b->want != 0) {
      uint32_t used = 0;
      Append a = append(b, f->tail, f->tail_n, &used);
      f->tail_n = 0;  // what follows the end of a section up to the next is stuffing
      if (a == Append::TooLong) {
        f->n = 0;
        return TsSectionStep::Malformed;
      }
      if (a == Append::Complete) {
        b->want = 0;
        *section = b->bytes;
        *length = b->have;
        return TsSectionStep::Section;
      }
      if (f->unit_start) {
        ts_section_reset(b);
        return TsSectionStep::Dropped;
      }
    }
  }
  while (f->n > 0) {
    if (f->p[0] == 0xFF) {  // stuffing up to the end of the packet
      f->n = 0;
      break;
    }
    if (f->n >= 3) {
      uint32_t total = section_total(f->p);
      if (total > kTsMaxSection) {
        f->n = 0;
        ts_section_reset(b);
        return TsSectionStep::Malformed;
      }
      if (total <= f->n) {
        *section = f->p;
        *length = total;
        f->p += total;
        f->n -= total;
        return TsSectionStep::Section;
      }
    }
    // The section goes on in the next packet.
    b->have = 0;
    b->want = kWantHeader;
    uint32_t used = 0;
    Append a = append(b, f->p, f->n, &used);
    f->n = 0;
    if (a == Append::TooLong) return TsSectionStep::Malformed;
  }
  return TsSectionStep::Done;
}

bool ts_section_header(const uint8_t* s, uint32_t n, TsSectionHeader* out) {
  // Table id, lengths, the five bytes of the long form and the CRC.
  if (n < 12 || (s[1] & 0x80) == 0 || section_total(s) != n) return false;
  TsSectionHeader h{};
  h.table_id = s[0];
  h.section_length = static_cast<uint16_t>(n - 3);
  h.id_extension = static_cast<uint16_t>((s[3] << 8) | s[4]);
  h.version = static_cast<uint8_t>((s[5] >> 1) & 0x1F);
  h.current = (s[5] & 1) != 0;
  h.section_number = s[6];
  h.last_section_number = s[7];
  h.crc_ok = ts_crc32(s, n) == 0;
  *out = h;
  return true;
}

bool ts_pat_parse(const uint8_t* s, uint32_t n, TsPatEntry* out, uint32_t* count) {
  TsSectionHeader h;
  *count = 0;
  if (!ts_section_header(s, n, &h) || h.table_id != kTsTablePat || (n - 12) % 4 != 0) return false;
  for (uint32_t at = 8; at + 4 <= n - 4 && *count < kTsMaxPatEntries; at += 4) {
    uint16_t program = static_cast<uint16_t>((s[at] << 8) | s[at + 1]);
    if (program == 0) continue;  // the network information PID
    out[*count].program_number = program;
    out[*count].pmt_pid = static_cast<uint16_t>(((s[at + 2] & 0x1F) << 8) | s[at + 3]);
    ++*count;
  }
  return true;
}

void ts_descriptors_parse(const uint8_t* d, uint32_t n, TsDescriptors* out) {
  TsDescriptors r{};
  uint32_t at = 0;
  while (at < n) {
    if (n - at < 2 || d[at + 1] > n - at - 2) {
      r.cut = true;
      break;
    }
    uint8_t tag = d[at];
    uint32_t length = d[at + 1];
    const uint8_t* p = d + at + 2;
    ++r.count;
    bool first = !ts_has_tag(r, tag);
    r.tags[tag >> 5] |= 1u << (tag & 31);
    switch (tag) {
      case kTsDescRegistration:
        if (length >= 4 && r.registration.is_zero()) r.registration = load_fourcc(p);
        break;
      case kTsDescLanguage:
        if (length >= 4) {
          if (r.language[0] == 0) r.audio_type = p[3];
          take_language(&r, p);
        }
        break;
      case kTsDescTeletext:
      case kTsDescVbiTeletext:
        if (length >= 5) take_language(&r, p);
        break;
      case kTsDescSubtitling:
        if (length >= 8) take_language(&r, p);
        break;
      case kTsDescExtension:
        if (length >= 1 && first) r.extension_tag = p[0];
        if (length >= 2 && p[0] == kTsDescExtensionOpus && !r.has_opus_channels) {
          r.has_opus_channels = true;
          r.opus_channels = p[1];
        }
        break;
      default:
        break;
    }
    at += 2 + length;
  }
  *out = r;
}

bool ts_find_extension(const uint8_t* d, uint32_t n, uint8_t extension_tag, const uint8_t** body, uint32_t* length) {
  for (uint32_t at = 0; n - at >= 2 && d[at + 1] <= n - at - 2; at += 2u + d[at + 1]) {
    if (d[at] == kTsDescExtension && d[at + 1] >= 1 && d[at + 2] == extension_tag) {
      *body = d + at + 3;
      *length = d[at + 1] - 1u;
      return true;
    }
  }
  return false;
}

bool ts_pmt_parse(const uint8_t* s, uint32_t n, TsPmt* out) {
  TsSectionHeader h;
  if (!ts_section_header(s, n, &h) || h.table_id != kTsTablePmt || n < 16) return false;
  out->program_number = h.id_extension;
  out->version = h.version;
  out->current = h.current;
  out->crc_ok = h.crc_ok;
  out->pcr_pid = static_cast<uint16_t>(((s[8] & 0x1F) << 8) | s[9]);
  uint32_t end = n - 4;
  uint32_t info = ((s[10] & 0x0Fu) << 8) | s[11];
  if (12 + info > end) return false;
  out->info_at = 12;
  out->info_length = static_cast<uint16_t>(info);
  ts_descriptors_parse(s + 12, info, &out->program);
  out->stream_count = 0;
  uint32_t at = 12 + info;
  while (at < end) {
    if (end - at < 5) return false;
    uint32_t es_info = ((s[at + 3] & 0x0Fu) << 8) | s[at + 4];
    if (es_info > end - at - 5) return false;
    if (out->stream_count < kTsMaxPmtStreams) {
      TsPmtStream& e = out->streams[out->stream_count++];
      e.stream_type = s[at];
      e.pid = static_cast<uint16_t>(((s[at + 1] & 0x1F) << 8) | s[at + 2]);
      e.info_at = static_cast<uint16_t>(at + 5);
      e.info_length = static_cast<uint16_t>(es_info);
      ts_descriptors_parse(s + at + 5, es_info, &e.descriptors);
    }
    at += 5 + es_info;
  }
  return true;
}

}  // namespace vantorel
