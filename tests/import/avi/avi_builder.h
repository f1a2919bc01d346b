#pragma once
// Hand-made AVI files: RIFF chunks and lists, the main and stream headers,
// a 'movi' list whose chunk positions are known, and index entries.
#include <cstdint>
#include <string>
#include <vector>

#include "support/box_builder.h"

namespace vantorel::test {

// A chunk: id, little-endian size, payload and a pad byte when the size is odd.
Bytes riff_chunk(const std::string& id, const Bytes& payload);
// A chunk whose size field is given explicitly (may lie); no pad byte.
Bytes riff_chunk_sized(const std::string& id, uint32_t size_field, const Bytes& payload);
Bytes riff_list(const std::string& type, const Bytes& payload);

constexpr uint32_t kHasIndex = 0x10;
// A video code the importer carries as it is, so that hand-made chunks of
// any content stay samples of their own.
constexpr const char* kTestVideoCode = "VTST";

Bytes avih_chunk(uint32_t flags, uint32_t width = 160, uint32_t height = 120, uint32_t streams = 1);

struct StreamHeader {
  std::string type = "vids";
  std::string handler = kTestVideoCode;
  uint32_t flags = 0;
  uint32_t scale = 1;
  uint32_t rate = 25;
  uint32_t start = 0;
  uint32_t length = 0;
  uint32_t sample_size = 0;
};
Bytes strh_chunk(const StreamHeader& h);
// 'strf' payloads.
Bytes bitmap_info(int32_t width, int32_t height, uint16_t bit_count, const std::string& compression,
                  const Bytes& extra = {});
Bytes wave_format(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg_bytes, uint16_t block_align,
                  uint16_t bits, const Bytes& extra = {});

// One 'strl' list from its chunks.
Bytes stream_list(const Bytes& chunks);
// A video stream list of one 'strh' and a bitmap 'strf'; an audio one with a wave 'strf'.
Bytes video_stream(const StreamHeader& h, const Bytes& more = {});
Bytes pcm_stream(const StreamHeader& h, uint16_t block_align, uint32_t sample_rate, const Bytes& more = {});

struct MoviChunk {
  std::string id;
  Bytes data;
};
// A 'movi' list's payload after its type, and where each chunk's header lies
// counted from the 'movi' type (the first one at 4).
struct Movi {
  Bytes payload;
  std::vector<uint32_t> header_offsets;
};
Movi movi_of(const std::vector<MoviChunk>& chunks);

// RIFF "AVI " holding LIST hdrl (the given chunks), LIST movi, then `after`.
Bytes avi_file(const Bytes& hdrl_chunks, const Movi& movi, const Bytes& after = {});
// Offset of the 'movi' list's "LIST" in a file made by avi_file.
uint32_t movi_start(const Bytes& hdrl_chunks);

Bytes idx1_entry(const std::string& id, uint32_t flags, uint32_t offset, uint32_t length);

// OpenDML index chunks.
Bytes super_index(const std::string& chunk_id, const std::vector<std::pair<uint64_t, uint32_t>>& entries,
                  uint16_t longs_per_entry = 4, uint32_t entries_in_use = UINT32_MAX);
Bytes standard_index(const std::string& id, uint64_t base_offset,
                     const std::vector<std::pair<uint32_t, uint32_t>>& entries, uint16_t longs_per_entry = 2,
                     uint32_t entries_in_use = UINT32_MAX);

}  // namespace vantorel::test
