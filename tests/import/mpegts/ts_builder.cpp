#include "import/mpegts/ts_builder.h"

#include <algorithm>
#include <cstring>

#include "import/mpegts/ts_psi.h"
#include "io/io_routines.h"

namespace vantorel::test::ts {

Bytes packet(const PacketFields& s) {
  Bytes p(188, 0xFF);
  p[0] = 0x47;
  p[1] = static_cast<uint8_t>((s.error ? 0x80 : 0) | (s.unit_start ? 0x40 : 0) | ((s.pid >> 8) & 0x1F));
  p[2] = static_cast<uint8_t>(s.pid);
  bool payload = !s.adaptation_only;
  // The smallest adaptation field the flags need; -1: none.
  int least = s.pcr >= 0 ? 7 : (s.discontinuity || s.random_access) ? 1 : -1;
  uint32_t most = least < 0 ? 184 : static_cast<uint32_t>(184 - 1 - least);
  uint32_t room = payload ? static_cast<uint32_t>(std::min<size_t>(s.payload.size(), most)) : 0;
  // The adaptation field: as given, or what pads the payload to the end.
  int length = s.adaptation_length;
  if (length < 0 && s.adaptation_only) length = 183;
  if (length < 0 && room < 184) length = static_cast<int>(184 - room - 1);
  uint8_t control = length < 0 ? 1 : payload ? 3 : 2;
  p[3] = static_cast<uint8_t>((s.scrambling << 6) | (control << 4) | (s.cc & 0x0F));
  uint32_t at = 4;
  if (length >= 0) {
    p[4] = static_cast<uint8_t>(length);
    at = 5;
    if (length >= 1) {
      p[5] = static_cast<uint8_t>((s.discontinuity ? 0x80 : 0) | (s.random_access ? 0x40 : 0) | (s.pcr >= 0 ? 0x10 : 0));
      if (s.pcr >= 0 && length >= 7) {
        uint64_t base = static_cast<uint64_t>(s.pcr) / 300;
        uint32_t ext = static_cast<uint32_t>(static_cast<uint64_t>(s.pcr) % 300);
        p[6] = static_cast<uint8_t>(base >> 25);
        p[7] = static_cast<uint8_t>(base >> 17);
        p[8] = static_cast<uint8_t>(base >> 9);
        p[9] = static_cast<uint8_t>(base >> 1);
        p[10] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | (ext >> 8));
        p[11] = static_cast<uint8_t>(ext);
      }
    }
    at = 5 + static_cast<uint32_t>(length);
  }
  if (payload && at < 188) std::memcpy(p.data() + at, s.payload.data(), std::min<size_t>(room, 188 - at));
  return p;
}

Bytes section(uint8_t table_id, uint16_t id_extension, uint8_t version, const Bytes& body, bool good_crc,
              uint8_t section_number, bool current) {
  uint32_t length = static_cast<uint32_t>(5 + body.size() + 4);
  Bytes s = {table_id, static_cast<uint8_t>(0xB0 | (length >> 8)), static_cast<uint8_t>(length),
             static_cast<uint8_t>(id_extension >> 8), static_cast<uint8_t>(id_extension),
             static_cast<uint8_t>(0xC0 | ((version & 0x1F) << 1) | (current ? 1 : 0)), section_number, section_number};
  s.insert(s.end(), body.begin(), body.end());
  uint32_t crc = ts_crc32(s.data(), static_cast<uint32_t>(s.size())) + (good_crc ? 0 : 1);
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<uint8_t>(crc >> shift));
  return s;
}

Bytes pat(const std::vector<PatEntry>& programs, uint8_t version, bool good_crc) {
  Bytes body;
  for (const PatEntry& e : programs) {
    body.push_back(static_cast<uint8_t>(e.program >> 8));
    body.push_back(static_cast<uint8_t>(e.program));
    body.push_back(static_cast<uint8_t>(0xE0 | (e.pmt_pid >> 8)));
    body.push_back(static_cast<uint8_t>(e.pmt_pid));
  }
  return section(0x00, 1, version, body, good_crc);
}

Bytes pmt(uint16_t program, uint16_t pcr_pid, const std::vector<EsEntry>& streams, const Bytes& program_info,
          uint8_t version, bool good_crc) {
  Bytes body = {static_cast<uint8_t>(0xE0 | (pcr_pid >> 8)), static_cast<uint8_t>(pcr_pid),
                static_cast<uint8_t>(0xF0 | (program_info.size() >> 8)), static_cast<uint8_t>(program_info.size())};
  body.insert(body.end(), program_info.begin(), program_info.end());
  for (const EsEntry& e : streams) {
    body.push_back(e.stream_type);
    body.push_back(static_cast<uint8_t>(0xE0 | (e.pid >> 8)));
    body.push_back(static_cast<uint8_t>(e.pid));
    body.push_back(static_cast<uint8_t>(0xF0 | (e.descriptors.size() >> 8)));
    body.push_back(static_cast<uint8_t>(e.descriptors.size()));
    body.insert(body.end(), e.descriptors.begin(), e.descriptors.end());
  }
  return section(0x02, program, version, body, good_crc);
}

Bytes descriptor(uint8_t tag, const Bytes& body) {
  Bytes d = {tag, static_cast<uint8_t>(body.size())};
  d.insert(d.end(), body.begin(), body.end());
  return d;
}

Bytes registration(const char* format) { return descriptor(0x05, Bytes(format, format + 4)); }

Bytes language(const char* code, uint8_t audio_type) {
  return descriptor(0x0A, {static_cast<uint8_t>(code[0]), static_cast<uint8_t>(code[1]),
                           static_cast<uint8_t>(code[2]), audio_type});
}

namespace {

void put_time(Bytes* b, uint8_t prefix, uint64_t t, bool bad_marker) {
  b->push_back(static_cast<uint8_t>((prefix << 4) | (((t >> 30) & 7) << 1) | 1));
  b->push_back(static_cast<uint8_t>(t >> 22));
  b->push_back(static_cast<uint8_t>(((t >> 15) & 0x7F) << 1 | (bad_marker ? 0 : 1)));
  b->push_back(static_cast<uint8_t>(t >> 7));
  b->push_back(static_cast<uint8_t>((t & 0x7F) << 1 | 1));
}

}  // namespace

Bytes pes(const PesFields& s, const Bytes& payload) {
  Bytes fields;
  uint8_t flags = 0;
  if (s.pts >= 0 && s.dts >= 0) {
    flags = 0xC0;
    put_time(&fields, 3, static_cast<uint64_t>(s.pts), s.bad_marker);
    put_time(&fields, 1, static_cast<uint64_t>(s.dts), false);
  } else if (s.pts >= 0) {
    flags = 0x80;
    put_time(&fields, 2, static_cast<uint64_t>(s.pts), s.bad_marker);
  }
  if (s.stream_id_extension >= 0) {
    flags |= 0x01;
    // Only PES_extension_flag_2 (the reserved bits set); a field of one byte.
    const uint8_t extension[3] = {0x0F, 0x81, static_cast<uint8_t>(s.stream_id_extension & 0x7F)};
    fields.insert(fields.end(), extension, extension + 3);
  }
  fields.insert(fields.end(), s.extra_header, 0xFF);
  uint32_t length = s.bounded ? static_cast<uint32_t>(3 + fields.size() + payload.size()) : 0;
  const uint8_t head[9] = {0, 0, 1, s.stream_id, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
                           0x84, flags, static_cast<uint8_t>(fields.size())};
  Bytes b(9 + fields.size() + payload.size());
  std::memcpy(b.data(), head, 9);
  std::copy(fields.begin(), fields.end(), b.begin() + 9);
  std::copy(payload.begin(), payload.end(), b.begin() + 9 + static_cast<long>(fields.size()));
  return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

Bytes pattern(uint32_t size, uint8_t seed) {
  Bytes b(size);
  for (uint32_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed * 37 + i * 7 + (i >> 8));
  return b;
}

uint8_t Writer::next_cc(uint16_t pid) {
  uint8_t cc = cc_[pid];
  cc_[pid] = static_cast<uint8_t>((cc + 1) & 0x0F);
  return cc;
}

void Writer::lose(uint16_t pid, uint8_t count) { cc_[pid] = static_cast<uint8_t>((cc_[pid] + count) & 0x0F); }

void Writer::table(uint16_t pid, const Bytes& sections) {
  Bytes data = {0};  // pointer field
  data.insert(data.end(), sections.begin(), sections.end());
  for (size_t at = 0; at < data.size(); at += 184) {
    PacketFields fields;
    fields.pid = pid;
    fields.unit_start = at == 0;
    fields.payload.assign(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(std::min(data.size(), at + 184)));
    // Tables are padded with 0xFF in the payload, not by an adaptation field.
    fields.payload.resize(184, 0xFF);
    packet(fields);
  }
}

void Writer::unit(uint16_t pid, const Bytes& pes_bytes, bool random_access) {
  for (size_t at = 0; at < pes_bytes.size();) {
    PacketFields fields;
    fields.pid = pid;
    fields.unit_start = at == 0;
    fields.random_access = random_access && at == 0;
    size_t room = fields.random_access ? 182 : 184;
    size_t n = std::min(room, pes_bytes.size() - at);
    fields.payload.assign(pes_bytes.begin() + static_cast<long>(at), pes_bytes.begin() + static_cast<long>(at + n));
    packet(fields);
    at += n;
  }
}

void Writer::raw_packet(const Bytes& p) { pieces_.push_back({p, true}); }

void Writer::packet(PacketFields fields) {
  // Packets without payload carry the counter of the last one with.
  fields.cc = fields.adaptation_only ? static_cast<uint8_t>((cc_[fields.pid] + 15) & 0x0F) : next_cc(fields.pid);
  pieces_.push_back({ts::packet(fields), true});
}

void Writer::garbage(const Bytes& bytes) { pieces_.push_back({bytes, false}); }

Bytes Writer::bytes(uint32_t stride) const {
  Bytes out;
  uint32_t k = 0;
  for (const Piece& p : pieces_) {
    if (!p.is_packet) {
      out.insert(out.end(), p.bytes.begin(), p.bytes.end());
      continue;
    }
    if (stride == 192) {
      uint32_t stamp = k * 1000;
      for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(stamp >> shift));
    }
    out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    if (stride == 204) out.insert(out.end(), 16, 0x00);
    ++k;
  }
  return out;
}

uint64_t Writer::offset_of(uint32_t k, uint32_t stride) const {
  uint64_t at = 0;
  uint32_t seen = 0;
  for (const Piece& p : pieces_) {
    if (!p.is_packet) {
      at += p.bytes.size();
      continue;
    }
    if (seen == k) return at + (stride == 192 ? 4 : 0);
    at += stride;
    ++seen;
  }
  return at;
}

uint32_t Writer::packet_count() const {
  uint32_t n = 0;
  for (const Piece& p : pieces_) n += p.is_packet ? 1 : 0;
  return n;
}

MemoryIo::MemoryIo(Bytes bytes) : bytes_(std::move(bytes)) {
  pair_ = MemoryPair{bytes_.data(), static_cast<uint32_t>(bytes_.size())};
  IoOpenParams params{};
  params.routines = memory_routines();
  params.path = &pair_;
  attach(&file_, &params, kOpenRead);
}

MemoryIo::~MemoryIo() { detach(&file_); }

}  // namespace vantorel::test::ts
