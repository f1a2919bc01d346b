#pragma once
// The AVI conversions' shared record and steps: what a stream becomes
// (its samples and the pieces they are gathered from), the sample entries
// the conversions set, and the conversion of each kind of stream. Used only
// by the AVI import's own files.
#include <cstdint>

#include "codecs/mpeg4_visual.h"
#include "import/avi/avi_internal.h"
#include "import/imported_sample.h"

namespace vantorel::avi {

// What one stream becomes: its samples (decode times filled when they are
// handed over), and the pieces of every sample, kept when some sample is
// not one range of the file.
struct Rebuild {
  AviImport* imp;
  TrackBoxes* track;
  ConvertedTrack converted;
  GrowArray<ImportedSample> samples;
  const char* failure;  // why the stream cannot be carried, or null
};

void rebuild_release(Rebuild* rb);
ErrorCode add_sample(Rebuild* rb, const SamplePiece* pieces, uint32_t count, uint32_t duration, bool sync);
// The stream's chunks as the indexes listed them, up to the first that runs
// past the end of a cut-short file: a view of the stream's list, never
// released.
GrowArray<AviChunk> usable_chunks(const AviImport* imp, const AviStream* stream);
// The chunks of a stream no conversion takes, handed over as they are.
ErrorCode hand_over_chunks(AviImport* imp, TrackBoxes* track, const AviStream* stream);
// Reads one chunk whole into `buffer`.
ErrorCode read_chunk(AviImport* imp, const AviChunk& c, GrowArray<uint8_t>* buffer);
// Hands the rebuilt samples over as the track's, with their decode times.
ErrorCode write_tables(Rebuild* rb);

// ---- Sample entries (avi_convert.cpp) ----
// The first entry's 'esds': its object type, stream type and decoder
// information; object type 0 removes it (the codec has no 'esds').
ErrorCode set_entry_esds(Rebuild* rb, uint8_t object_type, uint8_t stream_type, const uint8_t* config,
                         uint32_t config_size);
ErrorCode set_sound_entry(Rebuild* rb, const char* format, uint8_t object_type, const uint8_t* config,
                          uint32_t config_size);
// Sound tracks count time in samples of the stream's rate.
void set_sound_rate(Rebuild* rb, uint32_t rate);
// The codec data that follows a wave format's fixed fields.
void wave_extra(const AviStream* s, const uint8_t** bytes, uint32_t* size);

// ---- Sound (avi_audio.cpp) ----
enum class AudioFraming { kMpeg, kAc3, kAdts };
ErrorCode convert_framed(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks, AudioFraming framing);
// AAC without headers: one frame a chunk, as the stream format's
// configuration describes it.
ErrorCode convert_raw_aac(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks);
ErrorCode convert_pcm(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks, bool is_float);

// ---- Video (avi_video.cpp, avi_h264.cpp) ----
// Video samples with their time slots: one slot a chunk, the samples of an
// unpacked chunk taking the slots of the placeholders that follow it.
struct Frame {
  uint32_t slot;
  uint32_t type;  // VopType; kVopP for frames of other codecs
};
// Sample durations from the slots: a slot without a frame (a dropped frame)
// lengthens the frame before it.
ErrorCode set_video_durations(Rebuild* rb, const GrowArray<Frame>& frames, uint32_t slots, uint32_t scale);
ErrorCode set_visual_entry(Rebuild* rb, const char* format, uint8_t object_type, const uint8_t* config,
                           uint32_t config_size);
// Composition offsets from the presentation order: the k-th frame shown
// takes the k-th slot.
ErrorCode composition_from_order(Rebuild* rb, const GrowArray<Frame>& frames, const GrowArray<uint32_t>& shown,
                                 uint32_t scale);
ErrorCode convert_mpeg4(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks);
ErrorCode convert_mjpeg(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks);
// Annex B access units into length-prefixed samples.
ErrorCode convert_h264(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks);
// The conversion the stream's FOURCC (or first picture) calls for;
// `*mapped` false when there is none (avi_convert.cpp).
ErrorCode convert_video(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks, bool* mapped);

}  // namespace vantorel::avi
