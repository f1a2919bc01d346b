// AVI streams turned into the forms an MP4 file holds. Streams that need
// their samples split, unpacked or rewritten are read once here, when the
// file is opened; their samples are described anew with the sizes and times
// after the conversion, and samples that are no longer one range of the
// file get the pieces they are gathered from. Every stream's samples are
// handed over here; the conversions of sound and video have files of their
// own.
#include "import/avi/avi_convert.h"

#include <cstdlib>

#include "boxes/mdhd.h"
#include "codecs/aac.h"
#include "codecs/es_descriptor.h"
#include "codecs/mpeg4_visual.h"
#include "codecs/vfw_formats.h"
#include "sampletables/stsd.h"

namespace vantorel::avi {

void rebuild_release(Rebuild* rb) {
  converted_release(&rb->converted);
  rb->samples.release();
}

ErrorCode add_sample(Rebuild* rb, const SamplePiece* pieces, uint32_t count, uint32_t duration, bool sync) {
  ImportedSample s{};
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t n = piece_output_size(pieces[i]);
    if (n > UINT32_MAX - s.size) return ErrorCode::Malformed;
    s.size += n;
  }
  s.duration = duration;
  s.sync = sync ? 1 : 0;
  s.description = 1;
  s.at = count > 0 ? pieces[0].offset : 0;
  s.where = count == 1 && pieces[0].kind == kPieceCopy ? kSampleRange : kSamplePieces;
  VT_TRY(converted_add_sample(&rb->converted, pieces, count));
  return rb->samples.append_doubling(s);
}

// The stream's chunks as the indexes listed them, up to the first that runs
// past the end of a cut-short file: a view of the stream's list, never
// released.
GrowArray<AviChunk> usable_chunks(const AviImport* imp, const AviStream* stream) {
  GrowArray<AviChunk> view = stream->chunks;
  uint32_t n = 0;
  while (n < view.count && view[n].offset <= imp->file_size && view[n].size <= imp->file_size - view[n].offset) ++n;
  view.count = n;
  return view;
}

// The chunks of a stream no conversion takes, handed over as they are.
ErrorCode hand_over_chunks(AviImport* imp, TrackBoxes* track, const AviStream* stream) {
  const uint32_t n = stream->chunks.count;
  auto* samples = static_cast<ImportedSample*>(std::calloc(n > 0 ? n : 1, sizeof(ImportedSample)));
  if (samples == nullptr) return ErrorCode::OutOfMemory;
  uint64_t time = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const AviChunk& c = stream->chunks[i];
    ImportedSample& s = samples[i];
    s.at = c.offset;
    s.decode_time = time;
    s.size = c.size;
    avi_chunk_duration(stream, c.size, &s.duration);  // checked when the index was read
    time += s.duration;
    s.description = 1;
    s.where = kSampleRange;
    s.sync = c.key != 0 ? 1 : 0;
  }
  ErrorCode e = import_track_samples(imp->file, track, samples, n, nullptr);
  std::free(samples);
  return e;
}

// Reads one chunk whole into `buffer`.
ErrorCode read_chunk(AviImport* imp, const AviChunk& c, GrowArray<uint8_t>* buffer) {
  VT_TRY(buffer->reserve(c.size > 0 ? c.size : 1));
  buffer->count = c.size;
  if (c.size == 0) return ErrorCode::Ok;
  VT_TRY(file_seek(imp->file, c.offset));
  return read_bytes(imp->file, buffer->items, c.size);
}

// Hands the rebuilt samples over as the track's, with their decode times.
ErrorCode write_tables(Rebuild* rb) {
  uint64_t time = 0;
  for (ImportedSample& s : rb->samples) {
    s.decode_time = time;
    time += s.duration;
  }
  return import_track_samples(rb->imp->file, rb->track, rb->samples.items, rb->samples.count, &rb->converted);
}

// ---- Sample entries -------------------------------------------------------

// The first entry's 'esds': its object type, stream type and decoder
// information; object type 0 removes it (the codec has no 'esds').
ErrorCode set_entry_esds(Rebuild* rb, uint8_t object_type, uint8_t stream_type, const uint8_t* config,
                         uint32_t config_size) {
  ImportFile* file = rb->imp->file;
  if (object_type == 0) return entry_remove_config(file, rb->track, 0, ConfigBoxId::Esds);
  EsDescriptorRecord* esds = entry_esds(file, rb->track, 0);
  if (esds == nullptr) return ErrorCode::Missing;
  return esds_set_stream(esds, object_type, stream_type, config, config_size);
}

ErrorCode set_sound_entry(Rebuild* rb, const char* format, uint8_t object_type, const uint8_t* config,
                          uint32_t config_size) {
  SoundSampleEntry* entry = sound_entry(rb->imp->file, rb->track, 0);
  if (entry == nullptr) return ErrorCode::Missing;
  entry->format = FourCC::of(format);
  return set_entry_esds(rb, object_type, kStreamTypeAudio, config, config_size);
}

// Sound tracks count time in samples of the stream's rate.
void set_sound_rate(Rebuild* rb, uint32_t rate) {
  auto* mdhd = track_record<MdhdRecord>(rb->track, BoxTypeId::Mdhd);
  if (mdhd != nullptr && rate != 0) mdhd->timescale = rate;
  if (SoundSampleEntry* entry = sound_entry(rb->imp->file, rb->track, 0)) entry->samples_per_packet = rate;
}

// The codec data that follows a wave format's fixed fields.
void wave_extra(const AviStream* s, const uint8_t** bytes, uint32_t* size) {
  *bytes = nullptr;
  *size = 0;
  if (s->format.length <= kWaveFormatSize) return;
  uint32_t extra = s->format.length - kWaveFormatSize;
  if (s->wave.extra_size < extra) extra = s->wave.extra_size;
  *bytes = s->format.bytes + kWaveFormatSize;
  *size = extra;
}

// ---- Which conversion a stream takes ---------------------------------------

namespace {

// Whether the stream's first picture starts with MPEG-4 Visual start codes.
ErrorCode looks_like_mpeg4(AviImport* imp, const GrowArray<AviChunk>& chunks, bool* yes) {
  *yes = false;
  for (const AviChunk& c : chunks) {
    if (c.size == 0) continue;
    uint8_t b[4] = {};
    if (c.size < 4) return ErrorCode::Ok;
    VT_TRY(file_seek(imp->file, c.offset));
    VT_TRY(read_bytes(imp->file, b, 4));
    *yes = mpeg4_starts_stream(b);
    return ErrorCode::Ok;
  }
  return ErrorCode::Ok;
}

// Whether the AAC stream carries ADTS headers (whatever its tag says).
ErrorCode starts_with_adts(AviImport* imp, const GrowArray<AviChunk>& chunks, bool* yes) {
  *yes = false;
  for (const AviChunk& c : chunks) {
    if (c.size == 0) continue;
    if (c.size < 7) return ErrorCode::Ok;
    uint8_t b[7];
    VT_TRY(file_seek(imp->file, c.offset));
    VT_TRY(read_bytes(imp->file, b, 7));
    AdtsHeader f;
    *yes = adts_parse_header(b, sizeof b, &f);
    return ErrorCode::Ok;
  }
  return ErrorCode::Ok;
}

ErrorCode convert_sound(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks, bool* mapped) {
  *mapped = true;
  const uint8_t* extra = nullptr;
  uint32_t size = 0;
  wave_extra(s, &extra, &size);
  switch (acm_sound_of(acm_codec_tag(s->wave.format_tag, extra, size))) {
    case AcmSound::kPcm: return convert_pcm(rb, s, chunks, false);
    case AcmSound::kFloat: return convert_pcm(rb, s, chunks, true);
    case AcmSound::kMpegAudio: return convert_framed(rb, s, chunks, AudioFraming::kMpeg);
    case AcmSound::kAc3: return convert_framed(rb, s, chunks, AudioFraming::kAc3);
    case AcmSound::kAac: {
      bool adts = false;
      VT_TRY(starts_with_adts(rb->imp, chunks, &adts));
      return adts ? convert_framed(rb, s, chunks, AudioFraming::kAdts) : convert_raw_aac(rb, s, chunks);
    }
    case AcmSound::kDts:  // handed over as it is
    case AcmSound::kUnknown: break;
  }
  *mapped = false;
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode convert_video(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks, bool* mapped) {
  *mapped = true;
  switch (vfw_video_of(s->bitmap.compression, s->strh.handler)) {
    case VfwVideo::kMpeg4Visual: return convert_mpeg4(rb, s, chunks);
    case VfwVideo::kMjpeg: return convert_mjpeg(rb, s, chunks);
    case VfwVideo::kH264: return convert_h264(rb, s, chunks);
    case VfwVideo::kUnknown: break;
  }
  bool mpeg4 = false;
  VT_TRY(looks_like_mpeg4(rb->imp, chunks, &mpeg4));
  if (mpeg4) return convert_mpeg4(rb, s, chunks);
  *mapped = false;
  return ErrorCode::Ok;
}

namespace {

// A stream that cannot be carried loses its track, not the file.
ErrorCode drop_stream(AviImport* imp, uint32_t k, const char* reason) {
  const AviStream* s = imp->streams[k];
  DroppedTrack dropped{k + 1, reason, s->strh.type == "auds" ? FourCC::of("soun") : FourCC::of("vide"),
                       s->strh.type == "auds" ? format_tag_fourcc(s->wave.format_tag) : s->bitmap.compression};
  remove_track(imp->file, find_track(imp->root, k + 1));
  return imp->file->dropped_tracks.append(dropped);
}

ErrorCode convert_stream(AviImport* imp, uint32_t k) {
  const AviStream* s = imp->streams[k];
  TrackBoxes* track = find_track(imp->root, k + 1);
  if (track == nullptr) return ErrorCode::Ok;
  const GrowArray<AviChunk> chunks = usable_chunks(imp, s);
  Rebuild rb{};
  rb.imp = imp;
  rb.track = track;
  bool mapped = false;
  ErrorCode e = ErrorCode::Ok;
  if (s->strh.type == "auds") e = convert_sound(&rb, s, chunks, &mapped);
  else if (e == ErrorCode::Ok && s->strh.type == "vids") e = convert_video(&rb, s, chunks, &mapped);
  // A chunk that reads short or a table that overflows is this stream's fault.
  if (e == ErrorCode::Malformed || e == ErrorCode::Io) rb.failure = "a chunk of the stream cannot be read";
  if (mapped && rb.failure == nullptr && e == ErrorCode::Ok) e = write_tables(&rb);
  // A stream no conversion takes keeps its chunks as they are.
  if (!mapped && rb.failure == nullptr && e == ErrorCode::Ok) e = hand_over_chunks(imp, track, s);
  rebuild_release(&rb);
  if (rb.failure != nullptr) {
    if (io_failed(imp->file)) return ErrorCode::Io;
    return drop_stream(imp, k, rb.failure);
  }
  return e;
}

}  // namespace

}  // namespace vantorel::avi

namespace vantorel {

ErrorCode avi_convert_streams(AviImport* imp) {
  if (imp->file->mode == kOpenInspect) return ErrorCode::Ok;
  for (uint32_t k = 0; k < kAviMaxStreams; ++k)
    if (imp->streams[k] != nullptr) VT_TRY(avi::convert_stream(imp, k));
  return ErrorCode::Ok;
}

}  // namespace vantorel
