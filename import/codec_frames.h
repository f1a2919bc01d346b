#pragma once
// The frame headers of the codecs an AVI stream carries, read from bytes in
// memory: where a frame starts, how long it is and what it is. Nothing here
// reads past the bytes it is given.
#include <cstdint>

namespace vantorel {

// An MPEG-1/2/2.5 audio frame header (layers I to III).
struct MpegAudioFrame {
  uint32_t length;          // bytes, header included
  uint32_t samples;         // per channel
  uint32_t sample_rate;     // Hz
  uint32_t mpeg1;           // 1 for the MPEG-1 rates
  uint32_t layer;           // 1 to 3
};
// False when the four bytes are no frame header the stream can be split at
// (a free-format bit rate has no length).
bool parse_mpeg_audio_header(const uint8_t* h, MpegAudioFrame* out);

// An AC-3 syncframe header: needs 5 bytes.
struct Ac3Frame {
  uint32_t length;
  uint32_t sample_rate;
};
bool parse_ac3_header(const uint8_t* h, Ac3Frame* out);

// An ADTS header: needs 7 bytes.
struct AdtsFrame {
  uint32_t length;         // whole frame, header included
  uint32_t header_length;  // 7, or 9 with a CRC
  uint32_t object_type;    // audio object type (profile + 1)
  uint32_t rate_index;
  uint32_t channel_config;
  uint32_t raw_blocks;     // raw data blocks in the frame, at least 1
};
bool parse_adts_header(const uint8_t* h, AdtsFrame* out);
// The two-byte AudioSpecificConfig an ADTS header describes.
void adts_audio_config(const AdtsFrame& frame, uint8_t out[2]);

// MPEG-4 Visual: the video object layer fields the importer needs.
struct Mpeg4VolInfo {
  uint32_t time_increment_bits;  // bits of vop_time_increment
};
// Parses the video object layer header whose start code (00 00 01 2x) is
// at `vol`; false when it is cut short or not one the importer reads.
bool parse_mpeg4_vol(const uint8_t* vol, uint32_t size, Mpeg4VolInfo* out);

enum VopType : uint32_t { kVopI = 0, kVopP = 1, kVopB = 2, kVopS = 3 };
struct Mpeg4Vop {
  uint32_t at;     // offset of its start code 00 00 01 B6
  uint32_t type;   // VopType
  uint32_t coded;  // 0 for a not-coded VOP (a placeholder)
};
// The VOPs of one chunk, at most `capacity` (`*count` says how many were
// found, even past the capacity). `vol` may be null when the time increment
// bits are unknown: every VOP then counts as coded.
void scan_mpeg4_vops(const uint8_t* data, uint32_t size, const Mpeg4VolInfo* vol, Mpeg4Vop* out, uint32_t capacity,
                     uint32_t* count);
// Offset of the first VOP or group-of-VOP start code: the length of the
// headers in front of the first picture; `size` when there is none.
uint32_t mpeg4_headers_length(const uint8_t* data, uint32_t size);
// Offset of the first video object layer start code, `size` when none.
uint32_t find_mpeg4_vol(const uint8_t* data, uint32_t size);

// JPEG: where the standard tables go into a frame that lacks them.
struct JpegFrameLayout {
  uint32_t images;        // images met, at most 2 (a frame of two fields)
  uint32_t lacks_tables[2];  // per image: 1 when no DHT comes before its scan
  uint32_t tables_at[2];  // per image: its first start of scan, where a DHT goes
  uint32_t polarity;      // the 'AVI1' segment's field polarity byte, 0 without one
};
// False when the bytes do not begin with a start of image or a segment
// runs past them before a scan.
bool scan_jpeg_frame(const uint8_t* data, uint32_t size, JpegFrameLayout* out);

}  // namespace vantorel
