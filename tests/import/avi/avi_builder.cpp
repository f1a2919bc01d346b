#include "import/avi/avi_builder.h"

namespace vantorel::test {

Bytes riff_chunk(const std::string& id, const Bytes& payload) {
  Bytes b = cat({text(id), u32le(static_cast<uint32_t>(payload.size())), payload});
  if (payload.size() % 2 != 0) b.push_back(0);
  return b;
}

Bytes riff_chunk_sized(const std::string& id, uint32_t size_field, const Bytes& payload) {
  return cat({text(id), u32le(size_field), payload});
}

Bytes riff_list(const std::string& type, const Bytes& payload) {
  return cat({text("LIST"), u32le(static_cast<uint32_t>(payload.size() + 4)), text(type), payload});
}

Bytes avih_chunk(uint32_t flags, uint32_t width, uint32_t height, uint32_t streams) {
  return riff_chunk("avih", cat({u32le(40000), u32le(0), u32le(0), u32le(flags), u32le(0), u32le(0), u32le(streams),
                                 u32le(0), u32le(width), u32le(height), zeros(16)}));
}

Bytes strh_chunk(const StreamHeader& h) {
  return riff_chunk("strh", cat({text(h.type), text(h.handler), u32le(h.flags), u16le(0), u16le(0), u32le(0),
                                 u32le(h.scale), u32le(h.rate), u32le(h.start), u32le(h.length), u32le(0),
                                 u32le(0xFFFFFFFF), u32le(h.sample_size), zeros(8)}));
}

Bytes bitmap_info(int32_t width, int32_t height, uint16_t bit_count, const std::string& compression,
                  const Bytes& extra) {
  return cat({u32le(static_cast<uint32_t>(40 + extra.size())), u32le(static_cast<uint32_t>(width)),
              u32le(static_cast<uint32_t>(height)), u16le(1), u16le(bit_count), text(compression), u32le(0), zeros(16),
              extra});
}

Bytes wave_format(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg_bytes, uint16_t block_align,
                  uint16_t bits, const Bytes& extra) {
  return cat({u16le(tag), u16le(channels), u32le(rate), u32le(avg_bytes), u16le(block_align), u16le(bits),
              u16le(static_cast<uint16_t>(extra.size())), extra});
}

Bytes stream_list(const Bytes& chunks) { return riff_list("strl", chunks); }

Bytes video_stream(const StreamHeader& h, const Bytes& more) {
  return stream_list(cat({strh_chunk(h), riff_chunk("strf", bitmap_info(160, 120, 24, kTestVideoCode)), more}));
}

Bytes pcm_stream(const StreamHeader& h, uint16_t block_align, uint32_t sample_rate, const Bytes& more) {
  return stream_list(cat({strh_chunk(h),
                          riff_chunk("strf", wave_format(1, 2, sample_rate, sample_rate * block_align, block_align, 16)),
                          more}));
}

Movi movi_of(const std::vector<MoviChunk>& chunks) {
  Movi m;
  for (const MoviChunk& c : chunks) {
    m.header_offsets.push_back(static_cast<uint32_t>(m.payload.size() + 4));
    Bytes chunk = riff_chunk(c.id, c.data);
    m.payload.insert(m.payload.end(), chunk.begin(), chunk.end());
  }
  return m;
}

Bytes avi_file(const Bytes& hdrl_chunks, const Movi& movi, const Bytes& after) {
  Bytes body = cat({text("AVI "), riff_list("hdrl", hdrl_chunks), riff_list("movi", movi.payload), after});
  return cat({text("RIFF"), u32le(static_cast<uint32_t>(body.size())), body});
}

uint32_t movi_start(const Bytes& hdrl_chunks) { return static_cast<uint32_t>(12 + 12 + hdrl_chunks.size()); }

Bytes idx1_entry(const std::string& id, uint32_t flags, uint32_t offset, uint32_t length) {
  return cat({text(id), u32le(flags), u32le(offset), u32le(length)});
}

Bytes super_index(const std::string& chunk_id, const std::vector<std::pair<uint64_t, uint32_t>>& entries,
                  uint16_t longs_per_entry, uint32_t entries_in_use) {
  Bytes b = cat({u16le(longs_per_entry), u8(0), u8(0),
                 u32le(entries_in_use == UINT32_MAX ? static_cast<uint32_t>(entries.size()) : entries_in_use),
                 text(chunk_id), zeros(12)});
  for (const auto& [offset, size] : entries) {
    Bytes e = cat({u64le(offset), u32le(size), u32le(0)});
    e.resize(size_t{longs_per_entry} * 4 > e.size() ? size_t{longs_per_entry} * 4 : e.size(), 0);
    b.insert(b.end(), e.begin(), e.end());
  }
  return riff_chunk("indx", b);
}

Bytes standard_index(const std::string& id, uint64_t base_offset,
                     const std::vector<std::pair<uint32_t, uint32_t>>& entries, uint16_t longs_per_entry,
                     uint32_t entries_in_use) {
  Bytes b = cat({u16le(longs_per_entry), u8(0), u8(1),
                 u32le(entries_in_use == UINT32_MAX ? static_cast<uint32_t>(entries.size()) : entries_in_use),
                 text("00dc"), u64le(base_offset), u32le(0)});
  for (const auto& [offset, size] : entries) {
    Bytes e = cat({u32le(offset), u32le(size)});
    e.resize(size_t{longs_per_entry} * 4 > e.size() ? size_t{longs_per_entry} * 4 : e.size(), 0);
    b.insert(b.end(), e.begin(), e.end());
  }
  return riff_chunk(id, b);
}

}  // namespace vantorel::test
