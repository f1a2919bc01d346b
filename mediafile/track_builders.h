#pragma once
// Pieces the sample-entry builders share: the pixel aspect written as
// resolutions, and the per-codec builders the add-track operation
// dispatches to.
#include <cstdint>

#include "mediafile/media_file.h"

namespace vantorel {

struct VisualSampleEntry;

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
