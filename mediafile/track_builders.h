#pragma once
// Pieces the sample-entry builders share: the scans of MPEG-4 visual
// headers, the pixel aspect written as resolutions, and the per-codec
// builders the add-track operation dispatches to.
#include <cstdint>

#include "mediafile/media_file.h"

namespace vantorel {

struct VisualSampleEntry;

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

// Writes the pixel aspect w:h into the entry's resolutions (72 dpi each to
// start with): the wider side stretches the vertical resolution, the
// taller the horizontal one. A zero side leaves them alone.
void apply_pixel_aspect(VisualSampleEntry* entry, uint32_t w, uint32_t h);

// The per-kind builders: they fill the first sample entry of a track
// create_track has just made (the caller removes the track on failure).
ErrorCode build_mpeg4_visual(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);
ErrorCode build_avc(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);
ErrorCode build_h263(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);
ErrorCode build_vc1(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);
ErrorCode build_motion_jpeg(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);
ErrorCode build_mpeg4_audio(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);
ErrorCode build_amr(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);
ErrorCode build_ac3(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);
ErrorCode build_mpeg1_audio(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);
ErrorCode build_pcm(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);
ErrorCode build_eac3(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);
// A track whose sample entries are handed in whole, as an input held them.
ErrorCode build_whole(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);
ErrorCode build_subpicture(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);
ErrorCode build_streaming_extension(MediaFile* file, const TrackSpec* track_spec, TrackBoxes* track);

// Profiled files: the one-edit list filled at close and the track's USMT
// with its one metadata entry.
ErrorCode add_profile_track_parts(MediaFile* file, TrackBoxes* track);
// An 'esds' on the first entry with the given stream description and a copy
// of the decoder-specific bytes (none when `count` is 0).
ErrorCode add_esds(MediaFile* file, TrackBoxes* track, uint8_t object_type, uint8_t stream_type, const uint8_t* bytes,
                   uint32_t count);

}  // namespace vantorel
