// Matroska frames that are not carried as the file holds them: frames under
// a content encoding (header stripping, zlib), and subtitles, which MP4
// stores as 'tx3g' or 'wvtt' samples covering the whole timeline.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "boxes/hdlr.h"
#include "boxes/tkhd.h"
#include "import/imported_sample.h"
#include "import/matroska/matroska_internal.h"
#include "io/file_io.h"
#include "io/zlib_inflate.h"
#include "sampletables/track_builder.h"

namespace vantorel {

namespace {

constexpr uint64_t kNanos = 1000000000;
// A compressed frame larger than this is not inflated.
constexpr uint32_t kMaxCompressedFrame = 16 * 1024 * 1024;
// Subtitle cues larger than this are not believed.
constexpr uint32_t kMaxCue = 256 * 1024;
// 'tx3g' text is counted in 16 bits.
constexpr uint32_t kMaxTx3gText = 0xFFFF;
// The "all samples are forced" display flag of a 'tx3g' entry.
constexpr uint32_t kTx3gAllForced = 0x80000000;

enum CompAlgo : uint64_t { kZlib = 0, kHeaderStripping = 3 };

// The pieces of frame `i` as read: the decoded sample, or the frame whole.
uint32_t frame_pieces(const MkvTrack* t, const ConvertedTrack* decoded, uint32_t i, SamplePiece* single,
                      const SamplePiece** out) {
  if (decoded == nullptr) {
    *single = SamplePiece{t->frames[i].offset, t->frames[i].size, kPieceCopy};
    *out = single;
    return 1;
  }
  const uint32_t first = decoded->first_piece[i];
  const uint32_t end = i + 1 < decoded->first_piece.count ? decoded->first_piece[i + 1] : decoded->pieces.count;
  *out = decoded->pieces.items + first;
  return end - first;
}

ErrorCode hold_piece(ConvertedTrack* track, const uint8_t* bytes, uint32_t n, GrowArray<SamplePiece>* out) {
  uint32_t at = 0;
  VT_TRY(converted_hold(track, bytes, n, &at));
  return out->append_doubling(SamplePiece{at, n, kPieceHeld}, 16);
}

// Appends the bytes [from, from + length) of a frame made of `pieces` (copy
// pieces, and held pieces of `source`) as pieces of `out`: held bytes are
// held again by `out`, whose pieces index its own.
ErrorCode append_range(const ConvertedTrack* source, const SamplePiece* pieces, uint32_t count, uint32_t from,
                       uint32_t length, ConvertedTrack* out, GrowArray<SamplePiece>* out_pieces) {
  for (uint32_t p = 0; p < count && length > 0; ++p) {
    const SamplePiece& piece = pieces[p];
    if (from >= piece.length) {
      from -= piece.length;
      continue;
    }
    const uint32_t n = std::min(piece.length - from, length);
    if (piece.kind == kPieceHeld) {
      if (source == nullptr || piece.offset + from + n > source->held.count) return ErrorCode::Malformed;
      VT_TRY(hold_piece(out, source->held.items + piece.offset + from, n, out_pieces));
    } else {
      VT_TRY(out_pieces->append_doubling(SamplePiece{piece.offset + from, n, piece.kind}, 16));
    }
    length -= n;
    from = 0;
  }
  return ErrorCode::Ok;
}

// ---- Content encodings ------------------------------------------------------

ErrorCode inflate_frame(MkvImport* imp, const MkvFrame& f, ConvertedTrack* out, const char** why) {
  if (f.size > kMaxCompressedFrame || f.offset > imp->file_size || f.size > imp->file_size - f.offset) {
    *why = "a compressed frame is too large or runs past the end of the file";
    return ErrorCode::Ok;
  }
  uint8_t* packed = static_cast<uint8_t*>(std::malloc(f.size > 0 ? f.size : 1));
  if (packed == nullptr) return ErrorCode::OutOfMemory;
  ErrorCode e = file_seek(imp->file, f.offset);
  if (e == ErrorCode::Ok) e = read_bytes(imp->file, packed, f.size);
  uint8_t* plain = nullptr;
  uint32_t plain_size = 0;
  if (e == ErrorCode::Ok) {
    const uint32_t room = kMaxHeldBytes - out->held.count;
    e = zlib_inflate(packed, f.size, room, room, &plain, &plain_size);
    if (e == ErrorCode::Inflate) {
      *why = "a frame does not inflate, or the track inflates to more than 64 MiB";
      e = ErrorCode::Ok;
    }
  }
  std::free(packed);
  if (e == ErrorCode::Ok && *why == nullptr) {
    uint32_t at = 0;
    e = converted_hold(out, plain, plain_size, &at);
    SamplePiece piece{at, plain_size, kPieceHeld};
    if (e == ErrorCode::Ok) e = converted_add_sample(out, &piece, 1);
  }
  std::free(plain);
  return e;
}

// ---- Subtitles ----------------------------------------------------------------

enum TextKind { kSubRip, kWebVtt, kWebVttBlock };

TextKind text_kind(const char* codec_id) {
  if (std::strcmp(codec_id, "S_TEXT/UTF8") == 0) return kSubRip;
  if (std::strcmp(codec_id, "S_TEXT/WEBVTT") == 0) return kWebVtt;
  return kWebVttBlock;  // D_WEBVTT/*: identifier and settings lines before the text
}

// The kept ranges of a SubRip cue: styling tags (<i>, </font>, ...) and
// override blocks ({\an8}) left out, and carriage returns.
ErrorCode subrip_ranges(const uint8_t* text, uint32_t n, GrowArray<uint32_t>* ranges) {
  uint32_t kept = 0;
  auto keep_to = [&](uint32_t end) -> ErrorCode {
    if (end > kept) {
      VT_TRY(ranges->append_doubling(kept, 16));
      VT_TRY(ranges->append_doubling(end - kept, 16));
    }
    return ErrorCode::Ok;
  };
  for (uint32_t i = 0; i < n;) {
    uint32_t skip = 0;
    if (text[i] == '\r') {
      skip = 1;
    } else if (text[i] == '<') {
      uint32_t j = i + 1 + (i + 1 < n && text[i + 1] == '/');
      const bool letter = j < n && ((text[j] | 0x20) >= 'a' && (text[j] | 0x20) <= 'z');
      uint32_t end = j;
      while (end < n && end - i < 64 && text[end] != '>' && text[end] != '<' && text[end] != '\n') ++end;
      if (letter && end < n && text[end] == '>') skip = end + 1 - i;
    } else if (text[i] == '{' && i + 1 < n && text[i + 1] == '\\') {
      uint32_t end = i + 2;
      while (end < n && end - i < 256 && text[end] != '}' && text[end] != '\n') ++end;
      if (end < n && text[end] == '}') skip = end + 1 - i;
    }
    if (skip == 0) {
      ++i;
      continue;
    }
    VT_TRY(keep_to(i));
    i += skip;
    kept = i;
  }
  return keep_to(n);
}

void put_box_header(uint8_t* b, uint32_t size, const char* type) {
  store_u32be(b, size);
  std::memcpy(b + 4, type, 4);
}

struct Cue {
  int64_t start;  // media units
  int64_t end;
  uint32_t frame;
};

struct TextBuild {
  MkvImport* imp;
  MkvTrack* t;
  const ConvertedTrack* decoded;
  TextKind kind;
  ConvertedTrack out;
  GrowArray<SamplePiece> scratch;
  GrowArray<uint32_t> ranges;
  GrowArray<uint32_t> durations;
  uint8_t* text;  // one cue's bytes
  const char* why;
};

// Adds the output sample held in `scratch`, lasting `duration`.
ErrorCode add_sample(TextBuild* b, uint64_t duration) {
  if (duration > UINT32_MAX) {
    b->why = "subtitle cues lie too far apart";
    return ErrorCode::Ok;
  }
  VT_TRY(converted_add_sample(&b->out, b->scratch.items, b->scratch.count));
  VT_TRY(b->durations.append_doubling(static_cast<uint32_t>(duration)));
  b->scratch.count = 0;
  return ErrorCode::Ok;
}

ErrorCode add_empty(TextBuild* b, uint64_t duration) {
  if (b->kind == kSubRip) {
    VT_TRY(b->scratch.append_doubling(SamplePiece{0, 0, kPieceLength16}, 16));
  } else {
    uint8_t vtte[8];
    put_box_header(vtte, 8, "vtte");
    VT_TRY(hold_piece(&b->out, vtte, 8, &b->scratch));
  }
  return add_sample(b, duration);
}

// The cue text of frame `i` into b->text; its length in `*n`.
ErrorCode read_cue(TextBuild* b, uint32_t i, uint32_t* n) {
  SamplePiece single;
  const SamplePiece* pieces = nullptr;
  const uint32_t count = frame_pieces(b->t, b->decoded, i, &single, &pieces);
  uint64_t size = 0;
  for (uint32_t p = 0; p < count; ++p) size += pieces[p].length;
  if (size > kMaxCue) {
    b->why = "a subtitle cue is larger than 256 KiB";
    return ErrorCode::Ok;
  }
  if (b->decoded != nullptr) return converted_peek(b->imp->file, b->decoded, i, b->text, kMaxCue, n);
  const MkvFrame& f = b->t->frames[i];
  if (f.offset > b->imp->file_size || f.size > b->imp->file_size - f.offset) return ErrorCode::Malformed;
  *n = f.size;
  VT_TRY(file_seek(b->imp->file, f.offset));
  return read_bytes(b->imp->file, b->text, f.size);
}

// The cue of frame `i` appended to the sample being made: 'tx3g' text
// (its length is set by the caller) or a 'vttc' box.
ErrorCode add_cue_text(TextBuild* b, uint32_t i, uint32_t* text_bytes) {
  uint32_t n = 0;
  VT_TRY(read_cue(b, i, &n));
  if (b->why != nullptr) return ErrorCode::Ok;
  SamplePiece single;
  const SamplePiece* pieces = nullptr;
  const uint32_t count = frame_pieces(b->t, b->decoded, i, &single, &pieces);
  if (b->kind == kSubRip) {
    b->ranges.count = 0;
    VT_TRY(subrip_ranges(b->text, n, &b->ranges));
    for (uint32_t r = 0; r + 1 < b->ranges.count; r += 2) {
      const uint32_t length = std::min(b->ranges[r + 1], kMaxTx3gText - *text_bytes);
      VT_TRY(append_range(b->decoded, pieces, count, b->ranges[r], length, &b->out, &b->scratch));
      *text_bytes += length;
    }
    return ErrorCode::Ok;
  }
  // WebVTT: the identifier and settings lines of a WebM block, then the text.
  uint32_t id_end = 0, settings_at = 0, settings_end = 0, payload = 0;
  if (b->kind == kWebVttBlock) {
    const uint8_t* nl = static_cast<const uint8_t*>(std::memchr(b->text, '\n', n));
    const uint8_t* nl2 = nl != nullptr ? static_cast<const uint8_t*>(std::memchr(nl + 1, '\n', n - (nl + 1 - b->text)))
                                       : nullptr;
    if (nl2 != nullptr) {
      id_end = static_cast<uint32_t>(nl - b->text);
      settings_at = id_end + 1;
      settings_end = static_cast<uint32_t>(nl2 - b->text);
      payload = settings_end + 1;
    }
  }
  const uint32_t id_box = id_end > 0 ? 8 + id_end : 0;
  const uint32_t settings_box = settings_end > settings_at ? 8 + settings_end - settings_at : 0;
  const uint32_t payl = 8 + n - payload;
  uint8_t header[8];
  put_box_header(header, 8 + id_box + settings_box + payl, "vttc");
  VT_TRY(hold_piece(&b->out, header, 8, &b->scratch));
  if (id_box > 0) {
    put_box_header(header, id_box, "iden");
    VT_TRY(hold_piece(&b->out, header, 8, &b->scratch));
    VT_TRY(append_range(b->decoded, pieces, count, 0, id_end, &b->out, &b->scratch));
  }
  if (settings_box > 0) {
    put_box_header(header, settings_box, "sttg");
    VT_TRY(hold_piece(&b->out, header, 8, &b->scratch));
    VT_TRY(append_range(b->decoded, pieces, count, settings_at, settings_end - settings_at, &b->out, &b->scratch));
  }
  put_box_header(header, payl, "payl");
  VT_TRY(hold_piece(&b->out, header, 8, &b->scratch));
  return append_range(b->decoded, pieces, count, payload, n - payload, &b->out, &b->scratch);
}

// The cues sorted by start, clipped to the next one; cues starting
// together are shown together.
ErrorCode make_samples(TextBuild* b, const Cue* cues, uint32_t n) {
  int64_t cursor = 0;
  for (uint32_t i = 0; i < n && b->why == nullptr;) {
    uint32_t last = i;
    int64_t end = cues[i].end;
    while (last + 1 < n && cues[last + 1].start == cues[i].start) end = std::max(end, cues[++last].end);
    const int64_t next = last + 1 < n ? cues[last + 1].start : INT64_MAX;
    end = std::min(end, next);
    if (end <= cursor) {  // shown before the start only
      i = last + 1;
      continue;
    }
    const int64_t start = std::max<int64_t>(cues[i].start, cursor);
    if (start > cursor) VT_TRY(add_empty(b, static_cast<uint64_t>(start - cursor)));
    uint32_t text_bytes = 0;
    uint32_t length_piece = 0;
    if (b->kind == kSubRip) {
      length_piece = b->scratch.count;
      VT_TRY(b->scratch.append_doubling(SamplePiece{0, 0, kPieceLength16}, 16));
    }
    for (uint32_t k = i; k <= last && b->why == nullptr; ++k) {
      if (k > i && b->kind == kSubRip && text_bytes < kMaxTx3gText) {
        const uint8_t newline = '\n';
        VT_TRY(hold_piece(&b->out, &newline, 1, &b->scratch));
        ++text_bytes;
      }
      VT_TRY(add_cue_text(b, cues[k].frame, &text_bytes));
    }
    if (b->why != nullptr) break;
    if (b->kind == kSubRip) b->scratch[length_piece].length = text_bytes;
    VT_TRY(add_sample(b, static_cast<uint64_t>(end - start)));
    cursor = end;
    i = last + 1;
  }
  return ErrorCode::Ok;
}

ErrorCode text_entry(const MkvTrack* t, TextKind kind, MkvBytes* o) {
  if (kind == kSubRip) {
    uint32_t entry = o->open("tx3g");
    o->zeros(6);
    o->u16(1);
    o->u32(t->forced != 0 ? kTx3gAllForced : 0);
    o->u8(1);     // centred
    o->u8(0xFF);  // at the bottom
    o->u32(0);    // no background
    o->zeros(8);  // the default text box
    o->u16(0);    // default style: the whole text, font 1, plain, 16 pixels, white
    o->u16(0);
    o->u16(1);
    o->u8(0);
    o->u8(16);
    o->u32(0xFFFFFFFF);
    uint32_t ftab = o->open("ftab");
    o->u16(1);
    o->u16(1);
    o->u8(5);
    o->put("Arial", 5);
    o->close(ftab);
    o->close(entry);
    return o->e;
  }
  uint32_t entry = o->open("wvtt");
  o->zeros(6);
  o->u16(1);
  uint32_t config = o->open("vttC");
  const OwnedBlock& p = t->codec_private;
  if (p.length > 0 && p.length < 0x10000) {
    o->put(p.bytes, p.length);
  } else {
    o->put("WEBVTT", 6);
  }
  o->close(config);
  o->close(entry);
  return o->e;
}

struct TwoLetter {
  char two[3];
  char three[4];
};
// ISO 639-1 codes of the common languages with the ISO 639-2 code that
// Matroska's Language element uses for them.
constexpr TwoLetter kLanguages[] = {
    {"ar", "ara"}, {"bg", "bul"}, {"ca", "cat"}, {"cs", "cze"}, {"da", "dan"}, {"de", "ger"}, {"el", "gre"},
    {"en", "eng"}, {"es", "spa"}, {"et", "est"}, {"fa", "per"}, {"fi", "fin"}, {"fr", "fre"}, {"he", "heb"},
    {"hi", "hin"}, {"hr", "hrv"}, {"hu", "hun"}, {"id", "ind"}, {"is", "ice"}, {"it", "ita"}, {"ja", "jpn"},
    {"ko", "kor"}, {"lt", "lit"}, {"lv", "lav"}, {"ms", "may"}, {"nb", "nob"}, {"nl", "dut"}, {"nn", "nno"},
    {"no", "nor"}, {"pl", "pol"}, {"pt", "por"}, {"ro", "rum"}, {"ru", "rus"}, {"sk", "slo"}, {"sl", "slv"},
    {"sr", "srp"}, {"sv", "swe"}, {"th", "tha"}, {"tr", "tur"}, {"uk", "ukr"}, {"vi", "vie"}, {"zh", "chi"},
};

bool lower_letters(const char* s, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i)
    if (s[i] < 'a' || s[i] > 'z') return false;
  return true;
}

}  // namespace

void mkv_language(const MkvTrack* t, char out[4]) {
  std::memcpy(out, "und", 4);
  const char* tag = t->language_bcp47;
  const uint32_t primary = static_cast<uint32_t>(std::strcspn(tag, "-_"));
  if (primary == 3 && lower_letters(tag, 3)) {
    std::memcpy(out, tag, 3);
    return;
  }
  if (primary == 2 && lower_letters(tag, 2)) {
    for (const TwoLetter& l : kLanguages)
      if (std::memcmp(l.two, tag, 2) == 0) {
        std::memcpy(out, l.three, 4);
        return;
      }
    return;  // a language 'mdhd' has no code for
  }
  if (tag[0] == '\0' && std::strlen(t->language) == 3) std::memcpy(out, t->language, 3);
}

ErrorCode mkv_decode_frames(MkvImport* imp, MkvTrack* t, ConvertedTrack* out, const char** why) {
  *why = nullptr;
  if (t->encoding_type != 0) {
    *why = "its frames are encrypted";
    return ErrorCode::Ok;
  }
  if (t->encodings > 1 || (t->comp_algo != kZlib && t->comp_algo != kHeaderStripping)) {
    *why = "its content encoding is neither zlib nor header stripping";
    return ErrorCode::Ok;
  }
  if ((t->encoding_scope & 2) != 0) {
    // The codec's private data is compressed too: inflated here once.
    if (t->comp_algo != kZlib) {
      *why = "its CodecPrivate is stripped";
      return ErrorCode::Ok;
    }
    if (t->codec_private.length > 0) {
      uint8_t* plain = nullptr;
      uint32_t plain_size = 0;
      ErrorCode e = zlib_inflate(t->codec_private.bytes, t->codec_private.length, kMaxCue * 4, kMaxCue * 4, &plain,
                                 &plain_size);
      if (e == ErrorCode::Inflate) *why = "its CodecPrivate does not inflate";
      if (e == ErrorCode::Ok) e = block_assign(&t->codec_private, plain, plain_size);
      std::free(plain);
      if (e != ErrorCode::Inflate) VT_TRY(e);
      if (*why != nullptr) return ErrorCode::Ok;
    }
  }
  const bool frames = (t->encoding_scope & 1) != 0;
  uint32_t stripped_at = 0;
  const uint32_t stripped = frames && t->comp_algo == kHeaderStripping ? t->comp_settings.length : 0;
  if (stripped > 0) VT_TRY(converted_hold(out, t->comp_settings.bytes, stripped, &stripped_at));
  for (uint32_t i = 0; i < t->frames.count && *why == nullptr; ++i) {
    MkvFrame& f = t->frames[i];
    if (frames && t->comp_algo == kZlib) {
      VT_TRY(inflate_frame(imp, f, out, why));
      continue;
    }
    SamplePiece pieces[2] = {{stripped_at, stripped, kPieceHeld}, {f.offset, f.size, kPieceCopy}};
    VT_TRY(converted_add_sample(out, stripped > 0 ? pieces : pieces + 1, stripped > 0 ? 2 : 1));
  }
  if (*why != nullptr) return ErrorCode::Ok;
  // The frames' sizes are now the decoded ones, as the tables give them.
  for (uint32_t i = 0; i < t->frames.count; ++i) {
    uint64_t size = 0;
    const uint32_t end = i + 1 < out->first_piece.count ? out->first_piece[i + 1] : out->pieces.count;
    for (uint32_t p = out->first_piece[i]; p < end; ++p) size += out->pieces[p].length;
    if (size > UINT32_MAX) return malformed(imp->file, "Matroska frame of 4 GiB or more");
    t->frames[i].size = static_cast<uint32_t>(size);
  }
  return ErrorCode::Ok;
}

namespace {

// Hands the track its cues as samples, each gathered from its pieces.
ErrorCode hand_over_cues(TextBuild* b, TrackBoxes* track) {
  const uint32_t n = b->durations.count;
  auto* samples = static_cast<ImportedSample*>(std::calloc(n > 0 ? n : 1, sizeof(ImportedSample)));
  if (samples == nullptr) return ErrorCode::OutOfMemory;
  uint64_t time = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t first = b->out.first_piece[i];
    const uint32_t end = i + 1 < b->out.first_piece.count ? b->out.first_piece[i + 1] : b->out.pieces.count;
    ImportedSample& s = samples[i];
    uint64_t size = 0;
    for (uint32_t p = first; p < end; ++p) {
      size += piece_output_size(b->out.pieces[p]);
      if (b->out.pieces[p].kind == kPieceCopy && s.at == 0) s.at = b->out.pieces[p].offset;
    }
    s.decode_time = time;
    s.size = static_cast<uint32_t>(size);
    s.duration = b->durations[i];
    time += s.duration;
    s.description = 1;
    s.where = kSamplePieces;
    s.sync = 1;
  }
  ErrorCode e = import_track_samples(b->imp->file, track, samples, n, &b->out);
  std::free(samples);
  return e;
}

}  // namespace

ErrorCode mkv_build_text_track(MkvImport* imp, MkvTrack* t, const ConvertedTrack* decoded, uint32_t track_id,
                               const char** why) {
  *why = nullptr;
  ImportFile* file = imp->file;
  const uint32_t n = t->frames.count;
  // Times at the time scale that holds a TimestampScale tick exactly.
  uint64_t g = imp->timestamp_scale, r = kNanos;
  while (r != 0) {
    const uint64_t next = g % r;
    g = r;
    r = next;
  }
  const uint32_t timescale = static_cast<uint32_t>(kNanos / g);
  const int64_t tick = static_cast<int64_t>(imp->timestamp_scale / g);
  Cue* cues = static_cast<Cue*>(std::calloc(n, sizeof(Cue)));
  TextBuild b{};
  b.imp = imp;
  b.t = t;
  b.decoded = decoded;
  b.kind = text_kind(t->codec_id);
  b.text = static_cast<uint8_t*>(std::malloc(kMaxCue));
  ErrorCode e = cues != nullptr && b.text != nullptr ? ErrorCode::Ok : ErrorCode::OutOfMemory;
  for (uint32_t i = 0; e == ErrorCode::Ok && i < n; ++i) {
    const MkvFrame& f = t->frames[i];
    // Block times were checked to fit 61 bits of ns, so these fit too.
    cues[i].start = f.time * tick;
    cues[i].frame = i;
    // BlockDuration, else DefaultDuration (ns), else until the next cue.
    uint64_t shown = 0;
    if (f.duration > 0 && f.duration < (uint64_t{1} << 61) / imp->timestamp_scale) shown = f.duration * static_cast<uint64_t>(tick);
    if (shown == 0 && t->default_duration < (uint64_t{1} << 60)) shown = t->default_duration / g;
    cues[i].end = shown > 0 ? cues[i].start + static_cast<int64_t>(shown) : INT64_MAX;
  }
  if (e == ErrorCode::Ok) {
    std::stable_sort(cues, cues + n, [](const Cue& a, const Cue& c) { return a.start < c.start; });
    // A cue without a duration lasts until the next, the last one second.
    if (n > 0 && cues[n - 1].end == INT64_MAX) cues[n - 1].end = cues[n - 1].start + timescale;
    e = make_samples(&b, cues, n);
  }
  MkvBytes entry{};
  if (e == ErrorCode::Ok && b.why == nullptr && b.durations.count == 0) b.why = "it has no cue after its start";
  if (e == ErrorCode::Ok && b.why == nullptr) e = text_entry(t, b.kind, &entry);
  TrackBoxes* track = nullptr;
  if (e == ErrorCode::Ok && b.why == nullptr) {
    char language[4];
    mkv_language(t, language);
    TrackSetup setup{};
    setup.kind = kHandlerText;
    setup.timescale = timescale;
    setup.handler_name = t->name[0] != '\0' ? t->name : nullptr;
    setup.language = language;
    setup.track_id = track_id;
    track = create_track(file, &setup);
    if (track == nullptr) e = ErrorCode::Missing;
  }
  if (track != nullptr && e == ErrorCode::Ok) e = mkv_set_entry(imp, track, entry);
  if (track != nullptr && e == ErrorCode::Ok) e = hand_over_cues(&b, track);
  if (e != ErrorCode::Ok && track != nullptr) remove_track(file, find_track(imp->root, track_id));
  *why = b.why;
  converted_release(&b.out);
  b.scratch.release();
  b.ranges.release();
  b.durations.release();
  entry.b.release();
  std::free(b.text);
  std::free(cues);
  return e;
}

}  // namespace vantorel
