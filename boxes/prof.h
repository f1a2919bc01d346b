#pragma once
// The portable player's profile box: a top-level "uuid" box holding a file
// profile ('FPRF') and one profile per video ('VPRF') and audio ('APRF')
// track.
#include "boxes/box_tree.h"

namespace vantorel {

enum ProfileFlags : uint32_t {
  kProfileBitratesFilled = 0x2,  // bit rates filled in when the file was closed
  kProfileVariableFrameRate = 0x4,
};

struct FileProfile {
  uint8_t version;
  uint32_t flags;
  uint32_t value1;
  uint32_t value2;
};

struct AudioProfile {
  uint8_t version;
  uint32_t flags;
  uint32_t track_id;
  FourCC codec;
  uint32_t codec_word;       // (object type << 8) | level
  uint32_t profile_flags;    // ProfileFlags
  uint32_t average_bitrate;  // kbit/s
  uint32_t maximum_bitrate;  // kbit/s
  uint32_t sample_rate;
  uint32_t channel_count;
};

struct VideoProfile {
  uint8_t version;
  uint32_t flags;
  uint32_t track_id;
  FourCC codec;
  uint32_t codec_word;
  uint32_t profile_flags;       // ProfileFlags
  uint32_t average_bitrate;     // kbit/s
  uint32_t maximum_bitrate;     // kbit/s
  uint32_t average_frame_rate;  // 16.16
  uint32_t maximum_frame_rate;  // 16.16
  uint32_t picture_size;        // (width << 16) | height
  uint32_t pixel_aspect;        // (w << 16) | h
};

struct ProfRecord {
  uint8_t version;
  uint32_t flags;
  uint32_t entry_count;  // as read; written as the profiles held plus one
  FileProfile file_profile;
  GrowArray<AudioProfile> audio_profiles;
  GrowArray<VideoProfile> video_profiles;
};

// Append a zeroed profile and return it (null when out of memory). The
// pointer is valid until the next append to the same list.
AudioProfile* add_audio_profile(ProfRecord* prof);
VideoProfile* add_video_profile(ProfRecord* prof);

void prof_release(BoxFile* file, void* context);
ErrorCode prof_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode prof_write(BoxFile* file, void* context);
uint64_t prof_size(BoxFile* file, void* context);

}  // namespace vantorel
