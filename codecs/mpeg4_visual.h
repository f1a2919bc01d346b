#pragma once
// MPEG-4 Visual (ISO/IEC 14496-2): the visual object sequence and video
// object layer headers an 'esds' carries, read and trimmed, and the video
// object planes of a stream.
#include <cstdint>

#include "io/error.h"

namespace vantorel {

// What a video object layer header says.
struct Mpeg4VolInfo {
  uint32_t video_object_type;    // video_object_type_indication
  uint32_t aspect_width;         // pixel aspect, 1:1 unless the layer says otherwise
  uint32_t aspect_height;
  uint32_t time_increment_bits;  // bits of vop_time_increment; 0 when the header ends before it
};
// The fields after the layer's start code (00 00 01 2x): NoMore when the
// bytes end before its aspect ratio.
ErrorCode mpeg4_parse_vol_body(const uint8_t* body, uint32_t size, Mpeg4VolInfo* out);
// Parses the video object layer header whose start code is at `vol`; false
// when it is cut short before vop_time_increment_resolution or no layer.
bool parse_mpeg4_vol(const uint8_t* vol, uint32_t size, Mpeg4VolInfo* out);

// What the visual object sequence and video object layer headers say.
struct VisualHeaderInfo {
  uint32_t found_layer;     // a video object layer header was parsed
  uint32_t found_sequence;  // a visual object sequence header was seen
  uint8_t video_object_type;
  uint8_t profile_level;  // of the visual object sequence header
  uint32_t aspect_width;  // pixel aspect, 1:1 unless the layer says otherwise
  uint32_t aspect_height;
};
// Scans MPEG-4 visual headers for start codes until both a layer and a
// sequence header were met. NoMore when a layer header ends before its
// aspect ratio.
ErrorCode mpeg4_scan_headers(const uint8_t* data, uint32_t size, VisualHeaderInfo* out);
// Removes every user-data segment (start code 00 00 01 B2 up to the next
// start code, or to the end) and returns the new length.
uint32_t mpeg4_strip_user_data(uint8_t* data, uint32_t size);
// In the first visual object sequence header, a Simple-profile level of 2,
// 3, 4, 5 or 8 becomes level 1. The indication found is returned (0 when
// there is no such header).
uint8_t mpeg4_lower_level(uint8_t* data, uint32_t size);

// Whether four bytes open an MPEG-4 Visual stream: a start code of a visual
// object sequence, a video object plane or a video object or layer.
bool mpeg4_starts_stream(const uint8_t b[4]);

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

}  // namespace vantorel
