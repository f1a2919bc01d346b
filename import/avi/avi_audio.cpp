// AVI sound streams: framed audio (MPEG audio, AC-3, ADTS) split at its
// frame headers across chunks, headerless AAC one frame a chunk, and PCM.
#include <cstring>

#include "codecs/aac.h"
#include "codecs/ac3.h"
#include "codecs/es_descriptor.h"
#include "codecs/mpeg_audio.h"
#include "import/avi/avi_convert.h"
#include "sampletables/stsd.h"

namespace vantorel::avi {

namespace {

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

}  // namespace

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

}  // namespace vantorel::avi
