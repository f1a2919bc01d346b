// AVI streams turned into the forms an MP4 file holds. Streams that need
// their samples split, unpacked or rewritten are read once here, when the
// file is opened; their samples are described anew with the sizes and times
// after the conversion, and samples that are no longer one range of the
// file get the pieces they are gathered from. Every stream's samples are
// handed over here.
#include "import/avi/avi_internal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "boxes/mdhd.h"
#include "codecs/aac.h"
#include "codecs/ac3.h"
#include "codecs/es_descriptor.h"
#include "codecs/h264.h"
#include "codecs/jpeg.h"
#include "codecs/mpeg4_visual.h"
#include "codecs/mpeg_audio.h"
#include "codecs/nal_units.h"
#include "import/imported_sample.h"
#include "sampletables/sample_groups.h"
#include "sampletables/small_configs.h"
#include "sampletables/stsd.h"

namespace vantorel {

namespace {

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

// ---- A sound stream as one run of bytes across its chunks ----------------

struct ByteStream {
  AviImport* imp;
  const GrowArray<AviChunk>* chunks;
  GrowArray<uint64_t> starts;  // logical position of each chunk, then the total
  uint32_t loaded;             // chunks read into the window so far
  uint64_t window_at;          // logical position of window[0]
  GrowArray<uint8_t> window;
  uint32_t piece_chunk;        // where the last piece look-up ended
};

ErrorCode stream_open(ByteStream* s, AviImport* imp, const GrowArray<AviChunk>* chunks) {
  *s = ByteStream{};
  s->imp = imp;
  s->chunks = chunks;
  uint64_t at = 0;
  for (const AviChunk& c : *chunks) {
    VT_TRY(s->starts.append_doubling(at));
    at += c.size;
  }
  return s->starts.append_doubling(at);
}

void stream_close(ByteStream* s) {
  s->starts.release();
  s->window.release();
}

uint64_t stream_total(const ByteStream* s) { return s->starts[s->starts.count - 1]; }

// Bytes [q, q + n) in memory; null past the end of the stream. `q` never
// goes back, so the window drops what lies before it.
const uint8_t* stream_peek(ByteStream* s, uint64_t q, uint32_t n, ErrorCode* e) {
  *e = ErrorCode::Ok;
  if (q > stream_total(s) || n > stream_total(s) - q) return nullptr;
  const uint32_t count = s->chunks->count;
  if (q >= s->window_at + s->window.count) {
    // Whole chunks before q are stepped over unread.
    s->window.count = 0;
    while (s->loaded < count && s->starts[s->loaded + 1] <= q) ++s->loaded;
    s->window_at = s->starts[s->loaded];
  }
  const uint64_t drop = q - s->window_at;
  if (drop > 0 && drop <= s->window.count && (drop >= 65536 || drop * 2 >= s->window.count)) {
    std::memmove(s->window.items, s->window.items + drop, s->window.count - drop);
    s->window.count -= static_cast<uint32_t>(drop);
    s->window_at = q;
  }
  while (s->window_at + s->window.count < q + n && s->loaded < count) {
    const AviChunk& c = (*s->chunks)[s->loaded++];
    if (c.size == 0) continue;
    if (c.size > UINT32_MAX - s->window.count) {
      *e = ErrorCode::OutOfMemory;
      return nullptr;
    }
    if ((*e = s->window.reserve(s->window.count + c.size)) != ErrorCode::Ok) return nullptr;
    if ((*e = file_seek(s->imp->file, c.offset)) != ErrorCode::Ok) return nullptr;
    if ((*e = read_bytes(s->imp->file, s->window.items + s->window.count, c.size)) != ErrorCode::Ok) return nullptr;
    s->window.count += c.size;
  }
  return s->window.items + (q - s->window_at);
}

// The file ranges of the stream's bytes [q, q + n), appended to `out`.
ErrorCode stream_pieces(ByteStream* s, uint64_t q, uint64_t n, uint32_t kind, GrowArray<SamplePiece>* out) {
  uint32_t c = s->piece_chunk;
  while (c + 1 < s->chunks->count && s->starts[c + 1] <= q) ++c;
  while (n > 0 && c < s->chunks->count) {
    const AviChunk& chunk = (*s->chunks)[c];
    const uint64_t within = q - s->starts[c];
    if (within < chunk.size) {
      const uint64_t take = chunk.size - within < n ? chunk.size - within : n;
      VT_TRY(out->append(SamplePiece{chunk.offset + within, static_cast<uint32_t>(take), kind}));
      q += take;
      n -= take;
    }
    if (n > 0) ++c;
  }
  s->piece_chunk = c;
  return n == 0 ? ErrorCode::Ok : ErrorCode::Malformed;
}

enum class AudioFraming { kMpeg, kAc3, kAdts };

struct FrameInfo {
  uint32_t length;
  uint32_t skip;      // header bytes left out of the sample
  uint32_t samples;
  uint32_t rate;
  uint32_t kind;      // what must stay the same from frame to frame
};

constexpr uint32_t kHeaderPeek = 9;

// The frame header at `h`, whose kHeaderPeek bytes are in memory.
bool parse_frame(AudioFraming framing, const uint8_t* h, FrameInfo* out) {
  *out = FrameInfo{};
  switch (framing) {
    case AudioFraming::kMpeg: {
      MpegAudioHeader f;
      if (!mpeg_audio_parse_frame(h, kHeaderPeek, &f)) return false;
      *out = FrameInfo{f.length, 0, f.samples, f.sample_rate, f.layer * 2 + f.mpeg1};
      return true;
    }
    case AudioFraming::kAc3: {
      Ac3SyncInfo f;
      if (!ac3_parse_syncinfo(h, kHeaderPeek, &f)) return false;
      *out = FrameInfo{f.length, 0, 1536, f.sample_rate, 0};
      return true;
    }
    case AudioFraming::kAdts: {
      AdtsHeader f;
      if (!adts_parse_header(h, kHeaderPeek, &f)) return false;
      // Frames of several raw blocks cannot lose their header.
      if (f.raw_blocks != 1) return false;
      *out = FrameInfo{f.length, f.header_length, 1024, f.sample_rate, f.object_type * 16 + f.rate_index};
      return true;
    }
  }
  return false;
}

struct FramedAudio {
  uint32_t rate;        // of the first frame
  uint8_t first[kHeaderPeek];  // the first frame's header bytes
  uint32_t mpeg1;
};

// Splits the stream at its frame headers: one frame a sample, frames that
// straddle chunks gathered from both. Bytes between frames that are no
// frame header are stepped over until two headers in a row agree.
ErrorCode split_frames(Rebuild* rb, const GrowArray<AviChunk>& chunks, AudioFraming framing, FramedAudio* out) {
  *out = FramedAudio{};
  ByteStream s;
  ErrorCode e = stream_open(&s, rb->imp, &chunks);
  GrowArray<SamplePiece> pieces{};
  const uint64_t total = e == ErrorCode::Ok ? stream_total(&s) : 0;
  uint64_t q = 0, skipped = 0;
  bool have_first = false, resyncing = false;
  FrameInfo first{};
  while (e == ErrorCode::Ok) {
    const uint8_t* h = stream_peek(&s, q, kHeaderPeek, &e);
    if (h == nullptr) {
      // The last few bytes: too few for a header, hence for a frame.
      if (e == ErrorCode::Ok) skipped += total - q;
      break;
    }
    FrameInfo f;
    bool ok = parse_frame(framing, h, &f) && (!have_first || (f.kind == first.kind && f.rate == first.rate));
    if (ok && f.length > total - q) break;  // a frame cut short at the end of the stream
    if (ok && (resyncing || !have_first) && q + f.length + kHeaderPeek <= total) {
      // Away from a known frame boundary a header is trusted only when the
      // next one follows where it says.
      const uint8_t* next = stream_peek(&s, q, f.length + kHeaderPeek, &e);
      if (next == nullptr) break;
      FrameInfo g;
      ok = parse_frame(framing, next + f.length, &g) && g.kind == f.kind && g.rate == f.rate;
      h = next;
    }
    if (!ok) {
      ++q;
      ++skipped;
      resyncing = true;
      continue;
    }
    if (!have_first) {
      have_first = true;
      first = f;
      out->rate = f.rate;
      std::memcpy(out->first, h, kHeaderPeek);
      MpegAudioHeader m;
      if (framing == AudioFraming::kMpeg && mpeg_audio_parse_frame(h, kHeaderPeek, &m)) out->mpeg1 = m.mpeg1;
    }
    resyncing = false;
    pieces.count = 0;
    e = stream_pieces(&s, q + f.skip, f.length - f.skip, kPieceCopy, &pieces);
    if (e == ErrorCode::Ok) e = add_sample(rb, pieces.items, pieces.count, f.samples, true);
    q += f.length;
  }
  pieces.release();
  stream_close(&s);
  VT_TRY(e);
  if (!have_first) {
    rb->failure = "no audio frame header in the stream";
  } else if (skipped > total / 4) {
    // Headers that lie about their lengths leave most bytes unaccounted for.
    rb->failure = "the audio frame headers do not match the stream";
  }
  return ErrorCode::Ok;
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

// ---- Sound ----------------------------------------------------------------

ErrorCode convert_framed(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks, AudioFraming framing) {
  FramedAudio a;
  VT_TRY(split_frames(rb, chunks, framing, &a));
  if (rb->failure != nullptr) return ErrorCode::Ok;
  set_sound_rate(rb, a.rate);
  if (framing == AudioFraming::kMpeg)
    return set_sound_entry(rb, "mp4a", a.mpeg1 ? kObjectTypeMpeg1Audio : kObjectTypeMpeg2Audio, nullptr, 0);
  if (framing == AudioFraming::kAc3) {
    Dac3Record config{};
    if (!ac3_config_from_frame(a.first, kHeaderPeek, &config)) {
      rb->failure = "the first AC-3 frame header does not parse";
      return ErrorCode::Ok;
    }
    VT_TRY(set_sound_entry(rb, "ac-3", 0, nullptr, 0));
    VT_TRY(entry_add_config(rb->imp->file, rb->track, 0, ConfigBoxId::Dac3));
    *sound_entry(rb->imp->file, rb->track, 0)->dac3 = config;
    return ErrorCode::Ok;
  }
  // ADTS: the configuration of the stream format if it gives one, else the
  // first header's.
  const uint8_t* extra = nullptr;
  uint32_t extra_size = 0;
  wave_extra(s, &extra, &extra_size);
  uint8_t config[2];
  AdtsHeader f;
  adts_parse_header(a.first, kHeaderPeek, &f);
  adts_audio_config(f, config);
  if (extra_size >= 2) return set_sound_entry(rb, "mp4a", kObjectTypeMpeg4Audio, extra, extra_size);
  return set_sound_entry(rb, "mp4a", kObjectTypeMpeg4Audio, config, 2);
}

// AAC without headers: one frame a chunk, as the stream format's
// configuration describes it.
ErrorCode convert_raw_aac(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks) {
  const uint8_t* extra = nullptr;
  uint32_t extra_size = 0;
  wave_extra(s, &extra, &extra_size);
  if (extra_size < 2) {
    rb->failure = "an AAC stream without its configuration";
    return ErrorCode::Ok;
  }
  const uint32_t frame = aac_config_frame_samples(extra, extra_size);
  for (const AviChunk& c : chunks) {
    if (c.size == 0) continue;
    SamplePiece piece{c.offset, c.size, kPieceCopy};
    VT_TRY(add_sample(rb, &piece, 1, frame, true));
  }
  set_sound_rate(rb, s->wave.samples_per_sec);
  return set_sound_entry(rb, "mp4a", kObjectTypeMpeg4Audio, extra, extra_size);
}

ErrorCode convert_pcm(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks, bool is_float) {
  const WaveFormat& w = s->wave;
  const uint32_t bits = w.bits_per_sample;
  const uint32_t frame = w.block_align;
  if (frame == 0 || w.channels == 0 || frame % w.channels != 0 || w.samples_per_sec == 0) {
    rb->failure = "a PCM stream format without a frame size";
    return ErrorCode::Ok;
  }
  const char* format = nullptr;
  uint32_t kind = kPieceCopy;
  if (!is_float && bits == 8) {
    format = "raw ";
  } else if (!is_float && bits == 16) {
    format = "twos";
    kind = kPieceSwap16;
  } else if (!is_float && bits == 24) {
    format = "in24";
  } else if (!is_float && bits == 32) {
    format = "in32";
  } else if (is_float && bits == 32) {
    format = "fl32";
  } else {
    rb->failure = "a PCM sample size the importer does not carry";
    return ErrorCode::Ok;
  }
  for (const AviChunk& c : chunks) {
    const uint32_t frames = c.size / frame;
    if (frames == 0) continue;
    SamplePiece piece{c.offset, frames * frame, kind};
    VT_TRY(add_sample(rb, &piece, 1, frames, true));
  }
  set_sound_rate(rb, w.samples_per_sec);
  VT_TRY(set_sound_entry(rb, format, 0, nullptr, 0));
  sound_entry(rb->imp->file, rb->track, 0)->sample_size = static_cast<uint16_t>(bits);
  if (kind == kPieceSwap16 || bits == 8) return ErrorCode::Ok;
  // Wider samples stay little-endian: only a QuickTime movie holds them, in
  // a version 1 entry whose 'wave' box says so ('enda').
  uint8_t e[kLittleEndianPcmEntrySize];
  little_endian_pcm_entry(e, format, w.channels, w.samples_per_sec, bits / 8);
  // Kept beside the parsed entry, as a read file's entries are.
  auto* stsd = track_record<SampleDescriptionTable>(rb->track, BoxTypeId::Stsd);
  if (stsd == nullptr) return ErrorCode::Missing;
  VT_TRY(block_assign(&stsd->whole_entries, e, sizeof e));
  stsd->whole_entry_count = 1;
  return ErrorCode::Ok;
}

// ---- Video ----------------------------------------------------------------

// Video samples with their time slots: one slot a chunk, the samples of an
// unpacked chunk taking the slots of the placeholders that follow it.
struct Frame {
  uint32_t slot;
  uint32_t type;  // VopType; kVopP for frames of other codecs
};

// Sample durations from the slots: a slot without a frame (a dropped frame)
// lengthens the frame before it.
ErrorCode set_video_durations(Rebuild* rb, const GrowArray<Frame>& frames, uint32_t slots, uint32_t scale) {
  for (uint32_t i = 0; i < frames.count; ++i) {
    uint32_t end = i + 1 < frames.count ? frames[i + 1].slot : slots;
    uint64_t d = uint64_t{end > frames[i].slot ? end - frames[i].slot : 1} * scale;
    if (d > UINT32_MAX) return ErrorCode::Malformed;
    rb->samples[i].duration = static_cast<uint32_t>(d);
  }
  return ErrorCode::Ok;
}

ErrorCode add_video_frame(Rebuild* rb, GrowArray<Frame>* frames, uint32_t slot, uint32_t type, uint64_t offset,
                          uint32_t size, bool sync) {
  // Slots only move forward, whatever the placeholders did.
  if (frames->count > 0 && slot <= frames->back().slot) slot = frames->back().slot + 1;
  VT_TRY(frames->append_doubling(Frame{slot, type}));
  SamplePiece piece{offset, size, kPieceCopy};
  return add_sample(rb, &piece, 1, 0, sync);
}

ErrorCode set_visual_entry(Rebuild* rb, const char* format, uint8_t object_type, const uint8_t* config,
                           uint32_t config_size) {
  VisualSampleEntry* entry = visual_entry(rb->imp->file, rb->track, 0);
  if (entry == nullptr) return ErrorCode::Missing;
  entry->format = FourCC::of(format);
  return set_entry_esds(rb, object_type, kStreamTypeVisual, config, config_size);
}

constexpr uint32_t kMaxVopsPerChunk = 8;

// The headers in front of the first picture, from the stream format's extra
// data or else the first chunk that has a video object layer.
ErrorCode mpeg4_headers(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks, GrowArray<uint8_t>* buffer,
                        OwnedBlock* out) {
  if (s->format.length > kBitmapInfoHeaderSize) {
    const uint8_t* extra = s->format.bytes + kBitmapInfoHeaderSize;
    const uint32_t size = s->format.length - kBitmapInfoHeaderSize;
    if (find_mpeg4_vol(extra, size) < size) return block_assign(out, extra, mpeg4_headers_length(extra, size));
  }
  for (const AviChunk& c : chunks) {
    if (c.size == 0) continue;
    VT_TRY(read_chunk(rb->imp, c, buffer));
    const uint32_t headers = mpeg4_headers_length(buffer->items, c.size);
    if (find_mpeg4_vol(buffer->items, headers) < headers) return block_assign(out, buffer->items, headers);
    // Only the first frames are looked at: headers come with the first key frame.
    if (c.key) break;
  }
  return ErrorCode::Ok;
}

// Composition offsets from the presentation order: the k-th frame shown
// takes the k-th slot.
ErrorCode composition_from_order(Rebuild* rb, const GrowArray<Frame>& frames, const GrowArray<uint32_t>& shown,
                                 uint32_t scale) {
  for (uint32_t k = 0; k < shown.count; ++k) {
    const int64_t offset = (int64_t{frames[k].slot} - int64_t{frames[shown[k]].slot}) * int64_t{scale};
    if (offset < INT32_MIN || offset > INT32_MAX) return ErrorCode::Malformed;
    rb->samples[shown[k]].composition_offset = static_cast<int32_t>(offset);
  }
  return ErrorCode::Ok;
}

// Where each frame is shown: B-VOPs at once, every other VOP after the
// B-VOPs that follow it in decoding order.
ErrorCode mpeg4_composition(Rebuild* rb, const GrowArray<Frame>& frames, uint32_t scale) {
  GrowArray<uint32_t> shown{};  // decode index of each frame in presentation order
  ErrorCode e = shown.reserve(frames.count > 0 ? frames.count : 1);
  if (e != ErrorCode::Ok) return e;
  bool holding = false;
  uint32_t held = 0;
  for (uint32_t i = 0; i < frames.count; ++i) {
    if (frames[i].type == kVopB) {
      shown.items[shown.count++] = i;
      continue;
    }
    if (holding) shown.items[shown.count++] = held;
    held = i;
    holding = true;
  }
  if (holding) shown.items[shown.count++] = held;
  e = composition_from_order(rb, frames, shown, scale);
  shown.release();
  return e;
}

ErrorCode convert_mpeg4(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks) {
  GrowArray<uint8_t> buffer{};
  GrowArray<Frame> frames{};
  OwnedBlock headers{};
  ErrorCode e = mpeg4_headers(rb, s, chunks, &buffer, &headers);
  Mpeg4VolInfo vol{};
  if (e == ErrorCode::Ok) {
    const uint32_t at = find_mpeg4_vol(headers.bytes, headers.length);
    if (headers.length == 0 || at >= headers.length) {
      rb->failure = "no MPEG-4 video object layer header";
    } else if (!parse_mpeg4_vol(headers.bytes + at, headers.length - at, &vol)) {
      rb->failure = "the MPEG-4 video object layer header is cut short";
    }
  }
  uint32_t placeholders = 0;  // chunks still to be taken as placeholders of an unpacked chunk
  for (uint32_t k = 0; k < chunks.count && e == ErrorCode::Ok && rb->failure == nullptr; ++k) {
    const AviChunk& c = chunks[k];
    if (c.size == 0) {
      if (placeholders > 0) --placeholders;
      continue;  // a dropped frame
    }
    e = read_chunk(rb->imp, c, &buffer);
    if (e != ErrorCode::Ok) break;
    Mpeg4Vop vops[kMaxVopsPerChunk];
    uint32_t count = 0;
    scan_mpeg4_vops(buffer.items, c.size, &vol, vops, kMaxVopsPerChunk, &count);
    if (placeholders > 0 && count <= 1 && (count == 0 || vops[0].coded == 0)) {
      --placeholders;
      continue;
    }
    placeholders = 0;
    if (count <= 1) {
      const uint32_t type = count == 1 ? vops[0].type : static_cast<uint32_t>(kVopP);
      e = add_video_frame(rb, &frames, k, type, c.offset, c.size, count == 1 && type == kVopI);
      continue;
    }
    if (count > kMaxVopsPerChunk) {
      rb->failure = "an MPEG-4 chunk packs too many pictures";
      break;
    }
    // A packed chunk: one sample a VOP, the first keeping what precedes it.
    for (uint32_t v = 0; v < count && e == ErrorCode::Ok; ++v) {
      const uint32_t from = v == 0 ? 0 : vops[v].at;
      const uint32_t to = v + 1 < count ? vops[v + 1].at : c.size;
      e = add_video_frame(rb, &frames, k + v, vops[v].type, c.offset + from, to - from, vops[v].type == kVopI);
    }
    placeholders = count - 1;
  }
  if (e == ErrorCode::Ok && rb->failure == nullptr && frames.count == 0) rb->failure = "no MPEG-4 picture in the stream";
  if (e == ErrorCode::Ok && rb->failure == nullptr) e = set_video_durations(rb, frames, chunks.count, s->strh.scale);
  if (e == ErrorCode::Ok && rb->failure == nullptr) e = mpeg4_composition(rb, frames, s->strh.scale);
  if (e == ErrorCode::Ok && rb->failure == nullptr)
    e = set_visual_entry(rb, "mp4v", kObjectTypeMpeg4Visual, headers.bytes, headers.length);
  block_release(&headers);
  buffer.release();
  frames.release();
  return e;
}

ErrorCode convert_mjpeg(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks) {
  GrowArray<uint8_t> buffer{};
  GrowArray<Frame> frames{};
  ErrorCode e = ErrorCode::Ok;
  uint32_t fields = 0, polarity = 0;
  bool first = true;
  for (uint32_t k = 0; k < chunks.count && e == ErrorCode::Ok; ++k) {
    const AviChunk& c = chunks[k];
    if (c.size == 0) continue;
    e = read_chunk(rb->imp, c, &buffer);
    if (e != ErrorCode::Ok) break;
    JpegFrameLayout layout;
    const bool parsed = scan_jpeg_frame(buffer.items, c.size, &layout);
    if (first) {
      first = false;
      fields = parsed ? layout.images : 1;
      polarity = layout.polarity;
    }
    e = frames.append_doubling(Frame{k, kVopI});
    if (e != ErrorCode::Ok) break;
    SamplePiece pieces[5];
    uint32_t n = 0, at = 0;
    for (uint32_t i = 0; parsed && i < layout.images; ++i) {
      if (layout.lacks_tables[i] == 0) continue;
      pieces[n++] = SamplePiece{c.offset + at, layout.tables_at[i] - at, kPieceCopy};
      pieces[n++] = SamplePiece{0, 0, kPieceJpegTables};
      at = layout.tables_at[i];
    }
    pieces[n++] = SamplePiece{c.offset + at, c.size - at, kPieceCopy};
    e = add_sample(rb, pieces, n, 0, true);
  }
  if (e == ErrorCode::Ok && frames.count == 0) rb->failure = "no Motion JPEG frame in the stream";
  if (e == ErrorCode::Ok && rb->failure == nullptr) e = set_video_durations(rb, frames, chunks.count, s->strh.scale);
  if (e == ErrorCode::Ok && rb->failure == nullptr) e = set_visual_entry(rb, "jpeg", 0, nullptr, 0);
  if (e == ErrorCode::Ok && rb->failure == nullptr && fields == 2) {
    e = entry_add_config(rb->imp->file, rb->track, 0, ConfigBoxId::Fiel);
    VisualSampleEntry* entry = visual_entry(rb->imp->file, rb->track, 0);
    if (e == ErrorCode::Ok && entry->fiel != nullptr) {
      entry->fiel->field_count = 2;
      // The 'AVI1' polarity 1 puts the bottom field first.
      entry->fiel->field_ordering = polarity == 1 ? 6 : 1;
    }
  }
  buffer.release();
  frames.release();
  return e;
}

// ---- H.264 ------------------------------------------------------------------

// The parameter sets as first met (they make the 'avcC'), in that order,
// and what slice headers are read by.
struct H264State {
  OwnedBlock sps[kH264MaxSps];
  OwnedBlock pps[kH264MaxPps];
  uint32_t sps_order[kH264MaxSps], sps_count;
  uint32_t pps_order[kH264MaxPps], pps_count;
  H264ParameterSets sets;
  H264PocState poc;
  uint32_t epoch;  // counts IDR pictures: picture order counts start again at each
};

void h264_release(H264State* st) {
  for (OwnedBlock& b : st->sps) block_release(&b);
  for (OwnedBlock& b : st->pps) block_release(&b);
  std::free(st);
}

bool same_bytes(const OwnedBlock& b, const uint8_t* p, uint32_t n) {
  return b.length == n && std::memcmp(b.bytes, p, n) == 0;
}

// Keeps the set under its id for the 'avcC' when the id is new; a set
// that redefines a kept id stays in the sample (`*keep`).
ErrorCode keep_parameter_set(OwnedBlock* kept, uint32_t* order, uint32_t* count, uint32_t id, const uint8_t* nal,
                             uint32_t n, bool* keep) {
  if (kept[id].length == 0) {
    VT_TRY(block_assign(&kept[id], nal, n));
    order[(*count)++] = id;
  } else if (!same_bytes(kept[id], nal, n)) {
    *keep = true;
  }
  return ErrorCode::Ok;
}

// A parameter set met in the stream: kept for the 'avcC' when its id is new,
// dropped from the sample when it repeats the kept one. `*keep` says
// whether the sample carries it (a set redefined mid-stream stays in band).
ErrorCode h264_parameter_set(Rebuild* rb, H264State* st, const uint8_t* nal, uint32_t n, bool* keep) {
  *keep = false;
  // An 'avcC' gives each set a 16-bit length.
  const bool fits = n <= 0xFFFF;
  if (h264_nal_type(nal) == kH264NalSps) {
    AvcSpsInfo info;
    if (!fits || h264_parse_sps(nal, n, &info) != ErrorCode::Ok || !h264_store_sps(&st->sets, &info)) {
      rb->failure = "an H.264 sequence parameter set does not parse";
      return ErrorCode::Ok;
    }
    return keep_parameter_set(st->sps, st->sps_order, &st->sps_count, info.seq_parameter_set_id, nal, n, keep);
  }
  H264Pps pps;
  if (!fits || h264_parse_pps(nal, n, &pps) != ErrorCode::Ok || !h264_store_pps(&st->sets, &pps)) {
    rb->failure = "an H.264 picture parameter set does not parse";
    return ErrorCode::Ok;
  }
  return keep_parameter_set(st->pps, st->pps_order, &st->pps_count, pps.pic_parameter_set_id, nal, n, keep);
}

ErrorCode set_avc_entry(Rebuild* rb, const H264State* st) {
  ImportFile* file = rb->imp->file;
  VT_TRY(set_visual_entry(rb, "avc1", 0, nullptr, 0));
  VT_TRY(entry_add_config(file, rb->track, 0, ConfigBoxId::Avcc));
  VisualSampleEntry* entry = visual_entry(file, rb->track, 0);
  AvcConfigRecord* avc = entry->avcC;
  if (avc == nullptr) return ErrorCode::Missing;
  GrowArray<uint8_t> sps{}, pps{};
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t i = 0; i < st->sps_count && e == ErrorCode::Ok; ++i) {
    const OwnedBlock& b = st->sps[st->sps_order[i]];
    e = avc_append_parameter_set(&sps, b.bytes, b.length);
  }
  for (uint32_t i = 0; i < st->pps_count && e == ErrorCode::Ok; ++i) {
    const OwnedBlock& b = st->pps[st->pps_order[i]];
    e = avc_append_parameter_set(&pps, b.bytes, b.length);
  }
  // Samples are written with 4-byte NAL unit lengths.
  const AvcParameterSets sets{sps.items, sps.count, st->sps_count, pps.items, pps.count, st->pps_count, 3};
  if (e == ErrorCode::Ok) e = avcc_build(avc, &sets);
  sps.release();
  pps.release();
  return e;
}

// A sample's value in add_random_access_groups: an open-GOP I picture.
constexpr uint32_t kRapGroup = UINT32_MAX;

// One 'sgpd' of version 1 with entries of `entry_size` bytes.
ErrorCode add_description(SampleGroupsRecord* g, const char* type, uint32_t entry_size, const uint32_t* values,
                          uint32_t count) {
  const uint32_t size = 24 + entry_size * count;
  OwnedBlock box{};
  VT_TRY(block_assign(&box, nullptr, size));
  uint8_t* p = box.bytes;
  auto put32 = [&p](uint32_t v) {
    for (int i = 3; i >= 0; --i) *p++ = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(size);
  std::memcpy(p, "sgpd", 4);
  p += 4;
  put32(0x01000000);  // version 1, no flags
  std::memcpy(p, type, 4);
  p += 4;
  put32(entry_size);
  put32(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (entry_size == 2) *p++ = static_cast<uint8_t>(values[i] >> 8);
    *p++ = static_cast<uint8_t>(values[i]);
  }
  ErrorCode e = g->descriptions.append(box);
  if (e != ErrorCode::Ok) block_release(&box);
  return e;
}

// One grouping whose sample k is in group index_of(k) (0: none).
template <class IndexOf>
ErrorCode add_grouping(SampleGroupsRecord* g, const char* type, uint32_t samples, IndexOf index_of) {
  SampleGrouping s{};
  s.grouping_type = FourCC::of(type).to_u32();
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t k = 0; k < samples && e == ErrorCode::Ok; ++k) {
    const uint32_t index = index_of(k);
    if (s.runs.count > 0 && s.runs.back().group_index == index) ++s.runs.back().sample_count;
    else e = s.runs.append_doubling(GroupRun{1, index}, 16);
  }
  if (e == ErrorCode::Ok) e = g->groupings.append(s);
  if (e != ErrorCode::Ok) s.runs.release();
  return e;
}

// 'roll' groups for recovery points that take frames to recover, 'rap '
// for I pictures of open groups: per sample, the recovery frame count,
// kRapGroup, or 0.
ErrorCode add_random_access_groups(TrackBoxes* track, const GrowArray<uint32_t>& groups) {
  constexpr uint32_t kMaxRolls = 64;
  uint32_t rolls[kMaxRolls], roll_count = 0;
  bool rap = false;
  for (uint32_t v : groups) {
    if (v == kRapGroup) {
      rap = true;
      continue;
    }
    if (v == 0 || v > 0x7FFF) continue;
    bool known = false;
    for (uint32_t i = 0; i < roll_count; ++i) known = known || rolls[i] == v;
    if (!known && roll_count < kMaxRolls) rolls[roll_count++] = v;
  }
  if (!rap && roll_count == 0) return ErrorCode::Ok;
  SampleGroupsRecord* g = sample_groups_make(track);
  if (g == nullptr) return ErrorCode::OutOfMemory;
  if (roll_count > 0) {
    VT_TRY(add_description(g, "roll", 2, rolls, roll_count));
    VT_TRY(add_grouping(g, "roll", groups.count, [&](uint32_t k) {
      for (uint32_t i = 0; i < roll_count; ++i)
        if (groups[k] == rolls[i]) return i + 1;
      return 0u;
    }));
  }
  if (rap) {
    const uint32_t unknown_leading = 0;
    VT_TRY(add_description(g, "rap ", 1, &unknown_leading, 1));
    VT_TRY(add_grouping(g, "rap ", groups.count, [&](uint32_t k) { return groups[k] == kRapGroup ? 1u : 0u; }));
  }
  return ErrorCode::Ok;
}

struct H264Frame {
  uint32_t epoch;
  int64_t poc;
  uint32_t index;
};

// One NAL unit of an access unit: what the sample keeps of it, and what it
// says about the picture.
struct H264Access {
  bool sync;
  bool have_poc;
  int64_t poc;
  bool intra;      // its first slice is an I slice
  uint32_t roll;   // a recovery point's frame count, 0 for none
};

ErrorCode h264_unit(Rebuild* rb, H264State* st, const AviChunk& c, const uint8_t* nal, uint32_t begin, uint32_t n,
                    GrowArray<SamplePiece>* pieces, H264Access* au) {
  const uint32_t type = h264_nal_type(nal);
  bool keep = true;
  if (type == kH264NalDelimiter) {
    keep = false;
  } else if (type == kH264NalSps || type == kH264NalPps) {
    VT_TRY(h264_parameter_set(rb, st, nal, n, &keep));
  } else if (type == kH264NalSei) {
    uint32_t frames = 0;
    if (h264_sei_recovery_frames(nal, n, &frames)) {
      if (frames == 0) au->sync = true;
      else au->roll = frames;
    }
  } else if (type >= kH264NalSlice && type <= kH264NalIdr) {
    if (type == kH264NalIdr) au->sync = true;
    if (!au->have_poc) {
      H264SliceHeader slice;
      if (n < 2 || h264_parse_slice_header(nal, n, &st->sets, &slice) != ErrorCode::Ok) {
        rb->failure = "an H.264 slice header does not parse";
        return ErrorCode::Ok;
      }
      if (type == kH264NalIdr) ++st->epoch;
      au->poc = h264_picture_order_count(&st->poc, &slice, h264_sps_of_slice(&st->sets, &slice));
      au->intra = h264_slice_is_intra(&slice);
      au->have_poc = true;
    }
  }
  if (!keep) return ErrorCode::Ok;
  VT_TRY(pieces->append_doubling(SamplePiece{0, n, kPieceLength32}, 16));
  return pieces->append_doubling(SamplePiece{c.offset + begin, n, kPieceCopy}, 16);
}

// Annex B access units into length-prefixed samples.
ErrorCode convert_h264(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks) {
  H264State* st = alloc_record<H264State>();
  if (st == nullptr) return ErrorCode::OutOfMemory;
  GrowArray<uint8_t> buffer{};
  GrowArray<Frame> frames{};
  GrowArray<H264Frame> order{};
  GrowArray<SamplePiece> pieces{};
  GrowArray<uint32_t> shown{};
  GrowArray<uint32_t> groups{};
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t k = 0; k < chunks.count && e == ErrorCode::Ok && rb->failure == nullptr; ++k) {
    const AviChunk& c = chunks[k];
    if (c.size == 0) continue;
    e = read_chunk(rb->imp, c, &buffer);
    if (e != ErrorCode::Ok) break;
    const uint8_t* b = buffer.items;
    const uint32_t n = c.size;
    uint32_t code = 0;
    if (!annexb_first_start_code(b, n, &code)) {
      rb->failure = "an H.264 frame without start codes";
      break;
    }
    pieces.count = 0;
    H264Access au{};
    uint32_t begin = 0, end = 0;
    while (e == ErrorCode::Ok && rb->failure == nullptr && annexb_next_unit(b, n, &code, &begin, &end))
      e = h264_unit(rb, st, c, b + begin, begin, end - begin, &pieces, &au);
    if (e != ErrorCode::Ok || rb->failure != nullptr) break;
    // A chunk of parameter sets alone is no picture.
    if (!au.have_poc) continue;
    uint32_t slot = frames.count > 0 && k <= frames.back().slot ? frames.back().slot + 1 : k;
    e = frames.append_doubling(Frame{slot, kVopP});
    if (e == ErrorCode::Ok) e = order.append_doubling(H264Frame{st->epoch, au.poc, order.count});
    // Pictures a decoder can start at without being IDR pictures.
    uint32_t group = au.sync ? 0 : au.roll != 0 ? au.roll : au.intra ? kRapGroup : 0;
    if (e == ErrorCode::Ok) e = groups.append_doubling(group);
    if (e == ErrorCode::Ok) e = add_sample(rb, pieces.items, pieces.count, 0, au.sync);
  }
  if (e == ErrorCode::Ok && rb->failure == nullptr && (frames.count == 0 || st->sps_count == 0 || st->pps_count == 0))
    rb->failure = "no H.264 picture with its parameter sets in the stream";
  // An 'avcC' counts sequence parameter sets in 5 bits, picture ones in 8.
  if (e == ErrorCode::Ok && rb->failure == nullptr && (st->sps_count > 31 || st->pps_count > 255))
    rb->failure = "an H.264 stream with more parameter sets than its configuration holds";
  if (e == ErrorCode::Ok && rb->failure == nullptr) {
    std::sort(order.begin(), order.end(), [](const H264Frame& a, const H264Frame& b) {
      if (a.epoch != b.epoch) return a.epoch < b.epoch;
      if (a.poc != b.poc) return a.poc < b.poc;
      return a.index < b.index;
    });
    e = shown.reserve(order.count);
    if (e == ErrorCode::Ok) {
      for (const H264Frame& f : order) shown.items[shown.count++] = f.index;
      e = set_video_durations(rb, frames, chunks.count, s->strh.scale);
    }
    if (e == ErrorCode::Ok) e = composition_from_order(rb, frames, shown, s->strh.scale);
    if (e == ErrorCode::Ok) e = set_avc_entry(rb, st);
    if (e == ErrorCode::Ok) e = add_random_access_groups(rb->track, groups);
  }
  groups.release();
  h264_release(st);
  buffer.release();
  frames.release();
  order.release();
  pieces.release();
  shown.release();
  return e;
}

// ---- Which conversion a stream takes ---------------------------------------

bool code_in(FourCC f, const char* const* list) {
  for (; *list != nullptr; ++list)
    if (f == std::string_view(*list, 4)) return true;
  return false;
}

constexpr const char* kMpeg4Codes[] = {"FMP4", "fmp4", "XVID", "xvid", "DIVX", "divx", "DX50", "dx50",
                                       "MP4V", "mp4v", "3IV2", "3iv2", nullptr};
constexpr const char* kMjpegCodes[] = {"MJPG", "mjpg", "AVRn", "dmb1", nullptr};
constexpr const char* kH264Codes[] = {"H264", "h264", "X264", "x264", "AVC1", "avc1", "DAVC", nullptr};

enum : uint16_t {
  kTagPcm = 0x0001,
  kTagFloat = 0x0003,
  kTagMp2 = 0x0050,
  kTagMp3 = 0x0055,
  kTagAac = 0x00FF,
  kTagAdts = 0x1600,
  kTagAacLatm = 0x706D,
  kTagAc3 = 0x2000,
  kTagExtensible = 0xFFFE,
};

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
  uint16_t tag = s->wave.format_tag;
  if (tag == kTagExtensible) {
    // The subformat's first two bytes are the format tag it stands for.
    const uint8_t* extra = nullptr;
    uint32_t size = 0;
    wave_extra(s, &extra, &size);
    if (size >= 8) tag = load_u16le(extra + 6);
  }
  switch (tag) {
    case kTagPcm: return convert_pcm(rb, s, chunks, false);
    case kTagFloat: return convert_pcm(rb, s, chunks, true);
    case kTagMp2:
    case kTagMp3: return convert_framed(rb, s, chunks, AudioFraming::kMpeg);
    case kTagAc3: return convert_framed(rb, s, chunks, AudioFraming::kAc3);
    case kTagAac:
    case kTagAdts:
    case kTagAacLatm: {
      bool adts = false;
      VT_TRY(starts_with_adts(rb->imp, chunks, &adts));
      return adts ? convert_framed(rb, s, chunks, AudioFraming::kAdts) : convert_raw_aac(rb, s, chunks);
    }
  }
  *mapped = false;
  return ErrorCode::Ok;
}

ErrorCode convert_video(Rebuild* rb, const AviStream* s, const GrowArray<AviChunk>& chunks, bool* mapped) {
  *mapped = true;
  const FourCC code = s->bitmap.compression;
  if (code_in(code, kMpeg4Codes) || code_in(s->strh.handler, kMpeg4Codes)) return convert_mpeg4(rb, s, chunks);
  if (code_in(code, kMjpegCodes) || code_in(s->strh.handler, kMjpegCodes)) return convert_mjpeg(rb, s, chunks);
  if (code_in(code, kH264Codes) || code_in(s->strh.handler, kH264Codes)) return convert_h264(rb, s, chunks);
  bool mpeg4 = false;
  VT_TRY(looks_like_mpeg4(rb->imp, chunks, &mpeg4));
  if (mpeg4) return convert_mpeg4(rb, s, chunks);
  *mapped = false;
  return ErrorCode::Ok;
}

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

ErrorCode avi_convert_streams(AviImport* imp) {
  if (imp->file->mode == kOpenInspect) return ErrorCode::Ok;
  for (uint32_t k = 0; k < kAviMaxStreams; ++k)
    if (imp->streams[k] != nullptr) VT_TRY(convert_stream(imp, k));
  return ErrorCode::Ok;
}

}  // namespace vantorel
