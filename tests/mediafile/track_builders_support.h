#pragma once
// Helpers of the track builder tests: a file with one track of a given kind.
#include <string>

#include "boxes/owned_block.h"
#include "mediafile/writer_support.h"
#include "support/temp_dir.h"

namespace vantorel::test {

// The bytes of one frame of a PCM track the builder makes from `s`.
inline uint32_t pcm_frame_bytes(const TrackSpec& s) {
  uint32_t bits = s.codec.pcm.sample_bits != 0 ? s.codec.pcm.sample_bits : 16;
  return (s.channel_count != 0 ? s.channel_count : 1) * ((bits + 7) / 8);
}

struct Built {
  uint32_t id = 0;
  std::string path;
};

// Creates a file with one track, writes two samples and closes it.
inline Built build(const TempDir& dir, const std::string& name, const TrackSpec& track_spec, uint32_t flags = 0) {
  Built b;
  b.path = dir.path(name + ".mp4");
  CreateOptions o;
  o.flags = flags;
  MediaFile* file = create_file(b.path, o);
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return b;
  b.id = media_add_track(file, &track_spec);
  if (b.id != 0) {
    // PCM blocks hold whole frames: ten of them.
    Bytes data = pattern(track_spec.kind == kKindPcm ? pcm_frame_bytes(track_spec) * 10 : 40, 1);
    SampleWrite s = sample_of(data, track_spec.kind == kKindPcm ? 10 : 100);
    EXPECT_EQ(write_sample(file, b.id, &s), ErrorCode::Ok);
    EXPECT_EQ(write_sample(file, b.id, &s), ErrorCode::Ok);
  }
  EXPECT_EQ(media_close(file), ErrorCode::Ok);
  return b;
}

// `first` and `second`: width and height, or sample rate and channels for a sound kind.
inline TrackSpec spec_of(uint32_t kind, uint32_t first, uint32_t second, uint32_t timescale = 1000) {
  TrackSpec s{};
  s.kind = kind;
  bool sound = kind == kKindMpeg4Audio || kind == kKindAmr || kind == kKindAc3 || kind == kKindMpeg1Audio ||
               kind == kKindPcm || kind == kKindEac3;
  (sound ? s.sample_rate : s.width) = first;
  (sound ? s.channel_count : s.height) = second;
  s.timescale = timescale;
  return s;
}

inline Bytes block(const OwnedBlock& b) { return b.bytes == nullptr ? Bytes{} : Bytes(b.bytes, b.bytes + b.length); }

}  // namespace vantorel::test
