// Access units of transport-stream elementary streams, found while the
// file is indexed: audio units split into frames at their headers (a frame
// may run across units), video units gathered into pictures (a unit with a
// timestamp starts one), and what each becomes as an MP4 sample.
#include "import/mpegts/ts_access.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "codecs/aac.h"
#include "codecs/ac3.h"
#include "codecs/bluray_lpcm.h"
#include "codecs/dts.h"
#include "codecs/eac3.h"
#include "codecs/latm.h"
#include "codecs/mpeg12_video.h"
#include "codecs/mpeg_audio.h"
#include "codecs/nal_units.h"
#include "codecs/opus.h"
#include "codecs/truehd.h"
#include "codecs/vc1.h"
#include "io/byte_io.h"

namespace vantorel {

namespace {

constexpr int64_t kNoTime = INT64_MIN;
// No audio frame of the carried codecs is longer (E-AC-3: 4096 bytes; ADTS:
// 8191; LOAS: 8194).
constexpr uint32_t kMaxAudioFrame = 8194;
// A picture larger than this is taken for a stream that lost its timestamps.
constexpr uint32_t kMaxPicture = 64u << 20;

bool is_mpeg12(TsKind kind) { return kind == TsKind::Mpeg1Video || kind == TsKind::Mpeg2Video; }
bool is_video(TsKind kind) {
  return kind == TsKind::H264 || kind == TsKind::Hevc || kind == TsKind::Vc1 || is_mpeg12(kind);
}

bool is_carried(TsKind kind) {
  switch (kind) {
    case TsKind::Mpeg1Video:
    case TsKind::Mpeg2Video:
    case TsKind::H264:
    case TsKind::Hevc:
    case TsKind::Vc1:
    case TsKind::AacAdts:
    case TsKind::AacLatm:
    case TsKind::Ac3:
    case TsKind::Eac3:
    case TsKind::Dts:
    case TsKind::Lpcm:
    case TsKind::TrueHd:
    case TsKind::Opus:
    case TsKind::MpegAudio: return true;
    default: return false;
  }
}

// The stream listed on a PID now: the latest record that is still listed
// (its index in index->streams; UINT32_MAX when none is).
uint32_t listed_stream(const TsIndex* index, uint32_t pid_index) {
  uint32_t found = UINT32_MAX;
  for (uint32_t i = 0; i < index->streams.count; ++i)
    if (index->streams[i].pid_index == pid_index && index->streams[i].removed_at == kTsStillListed) found = i;
  return found;
}

// Times of a unit on the program's line: the DTS unwrapped near the one
// before, the PTS kept at its distance from it.
void unit_times(TsAccessPass* pass, TsStreamAccess* s, const PesRecord& r, int64_t* pts, int64_t* dts) {
  *pts = *dts = kNoTime;
  if ((r.flags & kPesHasPts) == 0 || (r.flags & kPesMarkerError) != 0) return;
  const uint64_t raw_pts = pes_record_pts(r);
  const uint64_t raw_dts = (r.flags & kPesHasDts) != 0 ? pes_record_dts(r) : raw_pts;
  if (!pass->anchored) {
    pass->anchor = static_cast<int64_t>(raw_dts);
    pass->anchored = true;
  }
  if (!s->unwrap.started) s->unwrap = TsUnwrap{pass->anchor, true};
  *dts = ts_unwrap(&s->unwrap, raw_dts);
  // The distance within half the wrap, either way.
  int64_t gap = (static_cast<int64_t>(raw_pts) - static_cast<int64_t>(raw_dts)) % kTsTimeWrap;
  if (gap > kTsTimeWrap / 2) gap -= kTsTimeWrap;
  if (gap < -kTsTimeWrap / 2) gap += kTsTimeWrap;
  *pts = *dts + gap;
}

// Holds a unit's payload to be split into frames or pictures, as a part
// with its times and where it lies in the file.
ErrorCode hold_unit(TsAccessPass* pass, TsStreamAccess* s, const PesRecord& r, const uint8_t* payload) {
  int64_t pts = 0, dts = 0;
  unit_times(pass, s, r, &pts, &dts);
  uint8_t flags = (r.flags & kPesDiscontinuity) != 0 ? kTsAuDiscontinuity : 0;
  VT_TRY(s->parts.append_doubling(TsStreamAccess::Part{s->pending.count, r.offset, 0, pts, dts, flags}, 8));
  return ts_append_bytes(&s->pending, payload, r.length);
}

ErrorCode add_unit(TsAccessPass* pass, TsStreamAccess* s, const TsAccessUnit& au) {
  if (s->units.count >= pass->max_units) return ErrorCode::Malformed;
  return s->units.append_doubling(au, 256);
}

// ---- Video -----------------------------------------------------------------

// A parameter set also tells how the slices after it read.
void parse_set(TsStreamAccess* s, const uint8_t* nal, uint32_t n) {
  if (h264_nal_type(nal) == kH264NalSps) {
    AvcSpsInfo info;
    if (h264_parse_sps(nal, n, &info) == ErrorCode::Ok) h264_store_sps(s->parsed, &info);
    return;
  }
  H264Pps pps;
  if (h264_parse_pps(nal, n, &pps) == ErrorCode::Ok) h264_store_pps(s->parsed, &pps);
}

// The sets a unit is measured against now (a description holds a few
// hundred at most: ids are small).
uint16_t sets_held(const TsNalConfig* config) {
  return static_cast<uint16_t>(std::min<uint32_t>(ts_nal_config_sets(config), UINT16_MAX));
}

ErrorCode finish_hevc_picture(TsAccessPass* pass, TsStreamAccess* s, const uint8_t* b, uint32_t n, TsAccessUnit au) {
  TsHevcPicture picture{};
  ErrorCode e = ErrorCode::Ok;
  if ((au.flags & kTsAuBroken) == 0 && !ts_hevc_scan(s->configs, b, n, &picture, &e)) au.flags |= kTsAuBroken;
  VT_TRY(e);
  // Parameter sets alone, or bytes before the first picture: no sample.
  if ((au.flags & kTsAuBroken) == 0 && !picture.picture) return ErrorCode::Ok;
  if (picture.irap) au.flags |= kTsAuSync;
  // A recovery point a number of pictures on, as H.264's, goes into a
  // 'roll' group (counted in pictures: one order count a picture).
  else if (picture.recovery && picture.recovery_poc > 0 && picture.recovery_poc <= 0x7FFF)
    au.roll = static_cast<uint16_t>(picture.recovery_poc);
  if (picture.leading) au.flags |= kTsAuLeading;
  if (picture.broken_link) au.flags |= kTsAuSplice;
  au.description = static_cast<uint8_t>(picture.description);
  const TsNalConfig* config = s->configs->count > 0 ? &s->configs->configs[picture.description] : nullptr;
  au.sets_held = sets_held(config);
  if ((au.flags & kTsAuBroken) == 0 && !ts_nal_sample(TsNalCodec::Hevc, b, n, config, nullptr, 0, &au.size))
    au.flags |= kTsAuBroken;
  return add_unit(pass, s, au);
}

// MPEG-1/2 video: the sample is the unit's bytes as they are; the picture
// header tells I pictures (sync) and B pictures shown before the I picture
// they follow (leading).
ErrorCode finish_mpeg12_picture(TsAccessPass* pass, TsStreamAccess* s, const uint8_t* b, uint32_t n, TsAccessUnit au) {
  bool picture = false;
  for (uint32_t at = mpeg12_next_start_code(b, n, 0); (au.flags & kTsAuBroken) == 0 && at + 4 <= n && !picture;
       at = mpeg12_next_start_code(b, n, at + 4)) {
    const uint32_t code = b[at + 3];
    if (code == kMpeg12Gop) au.order |= kTsAuGopStart;
    if (code == kMpeg12Sequence && s->sequence_headers.length == 0) {
      Mpeg12Sequence sequence;
      const uint32_t length = mpeg12_headers_length(b + at, n - at);
      if (mpeg12_parse_sequence(b + at, n - at, &sequence) == ErrorCode::Ok && length <= 0xFFFF)
        VT_TRY(block_assign(&s->sequence_headers, b + at, length));
    } else if (code == kMpeg12Picture) {
      Mpeg12Picture header;
      if (mpeg12_parse_picture(b + at, n - at, &header) != ErrorCode::Ok) {
        au.flags |= kTsAuBroken;
        break;
      }
      picture = true;
      au.order = static_cast<uint16_t>((au.order & kTsAuGopStart) | (header.temporal_reference & 0x3FF));
      if (header.picture_coding_type == kMpeg12I) {
        // Decoding starts at an I picture once the stream has said what it is.
        if (s->sequence_headers.length != 0) au.flags |= kTsAuSync;
        s->last_i_reference = header.temporal_reference;
        s->seen_i = true;
      } else if (header.picture_coding_type == kMpeg12B && s->seen_i &&
                 header.temporal_reference < s->last_i_reference) {
        au.flags |= kTsAuLeading;
      } else if (header.picture_coding_type == kMpeg12P) {
        s->seen_i = false;  // B pictures after it follow it, not the I picture
      }
    }
  }
  if ((au.flags & kTsAuBroken) == 0 && !picture) return ErrorCode::Ok;
  au.size = n;
  return add_unit(pass, s, au);
}

// Far beyond the largest sequence header or entry point the syntax allows
// (31 leaky buckets): stuffing or garbage.
constexpr uint32_t kMaxVc1Header = 512;

// A sequence header and the entry point after it (in the same unit or a
// later one) make a 'dvc1' header block: the two units with their start
// codes, whatever lies between them left out. The first pair makes the
// first description, a later one whose sequence header differs the next.
ErrorCode keep_vc1_headers(TsStreamAccess* s, const uint8_t* entry, uint32_t entry_length) {
  const OwnedBlock& sequence = s->vc1_sequence;
  if (sequence.length == 0 || entry_length > kMaxVc1Header) return ErrorCode::Ok;
  OwnedBlock* to = &s->sequence_headers;
  if (to->length != 0) {
    // Past the cap the units stay with the last description; their own
    // headers are in their samples.
    if (s->vc1_later.count + 1 >= kTsMaxDescriptions) {
      block_release(&s->vc1_sequence);
      return ErrorCode::Ok;
    }
    VT_TRY(s->vc1_later.append_doubling(OwnedBlock{}, 4));
    to = &s->vc1_later.items[s->vc1_later.count - 1];
  }
  uint8_t both[2 * kMaxVc1Header];
  std::memcpy(both, sequence.bytes, sequence.length);
  std::memcpy(both + sequence.length, entry, entry_length);
  VT_TRY(block_assign(to, both, sequence.length + entry_length));
  block_release(&s->vc1_sequence);
  return ErrorCode::Ok;
}

// Whether the sequence header at `p` is the one of the description in use.
bool vc1_sequence_in_use(const TsStreamAccess* s, const uint8_t* p, uint32_t n) {
  const OwnedBlock& in_use = s->vc1_later.count > 0 ? s->vc1_later[s->vc1_later.count - 1] : s->sequence_headers;
  return vc1_unit_end(in_use.bytes, in_use.length, 0) == n && std::memcmp(in_use.bytes, p, n) == 0;
}

// VC-1 (advanced profile): the sample is the unit's bytes, start codes and
// all; a frame after an entry point whose picture is intra (or a field pair
// whose first field is) starts decoding once the sequence header is known.
ErrorCode finish_vc1_frame(TsAccessPass* pass, TsStreamAccess* s, const uint8_t* b, uint32_t n, TsAccessUnit au) {
  bool frame = false, entry = s->vc1_entry_pending;
  Vc1EntryPoint point{};
  Vc1FrameType type = Vc1FrameType::P;
  for (uint32_t at = mpeg12_next_start_code(b, n, 0); (au.flags & kTsAuBroken) == 0 && at + 4 <= n;) {
    const uint32_t end = vc1_unit_end(b, n, at);
    switch (b[at + 3]) {
      case kVc1Sequence: {
        ++s->vc1.sequences;
        Vc1Sequence sequence;
        const ErrorCode e = vc1_parse_sequence(b + at, end - at, &sequence);
        if (e == ErrorCode::Unsupported && s->failure == nullptr)
          s->failure = "its VC-1 sequence header is not of the advanced profile, the only one carried in start codes";
        if (e == ErrorCode::Ok) s->vc1_interlace = sequence.interlace;
        if (e != ErrorCode::Ok || end - at > kMaxVc1Header) break;
        if (s->sequence_headers.length != 0 && vc1_sequence_in_use(s, b + at, end - at))
          block_release(&s->vc1_sequence);  // a repeat
        else
          VT_TRY(block_assign(&s->vc1_sequence, b + at, end - at));
        break;
      }
      case kVc1EntryPoint:
        ++s->vc1.entry_points;
        if (vc1_parse_entry_point(b + at, end - at, &point) != ErrorCode::Ok) break;
        entry = true;
        s->vc1_entry_closed = point.closed_entry;
        VT_TRY(keep_vc1_headers(s, b + at, end - at));
        break;
      case kVc1Frame:
        // A second frame in one unit goes into the first's sample.
        if (frame) break;
        if (vc1_parse_frame_type(b + at, end - at, s->vc1_interlace, &type) != ErrorCode::Ok) au.flags |= kTsAuBroken;
        frame = true;
        break;
      case kVc1Slice: s->vc1.slices = true; break;
      default: break;
    }
    at = end;
  }
  // Headers alone: the frame after them follows the entry point.
  if ((au.flags & kTsAuBroken) == 0 && !frame) {
    s->vc1_entry_pending = entry;
    return ErrorCode::Ok;
  }
  s->vc1_entry_pending = false;
  if (type == Vc1FrameType::B || type == Vc1FrameType::BI) s->vc1.b_frames = true;
  if (frame && entry && type == Vc1FrameType::I && s->sequence_headers.length != 0) {
    au.flags |= kTsAuSync;
    if (point.broken_link) au.flags |= kTsAuSplice;
    s->vc1_leading = !s->vc1_entry_closed;
  } else if (type == Vc1FrameType::B && s->vc1_leading) {
    au.flags |= kTsAuLeading;
  } else if (type == Vc1FrameType::P || type == Vc1FrameType::I) {
    s->vc1_leading = false;
  }
  au.size = n;
  au.description = static_cast<uint8_t>(s->vc1_later.count);
  return add_unit(pass, s, au);
}

// The picture gathered in `pending` becomes an access unit.
ErrorCode finish_picture(TsAccessPass* pass, TsStreamAccess* s, bool broken) {
  if (s->parts.count == 0) return ErrorCode::Ok;
  const TsStreamAccess::Part first = s->parts[0];
  const uint8_t* b = s->pending.items;
  const uint32_t n = s->pending.count;
  TsAccessUnit au{};
  au.where = EsLocator{first.offset, first.skip, n};
  au.dts = first.dts;
  au.pts = first.pts;
  au.flags = first.flags;
  for (const TsStreamAccess::Part& p : s->parts) au.flags |= p.flags & kTsAuOpenAtEnd;
  s->pending.count = 0;
  s->parts.count = 0;
  if (broken || au.dts == kNoTime) au.flags |= kTsAuBroken;
  if (s->kind == TsKind::Hevc) return finish_hevc_picture(pass, s, b, n, au);
  if (is_mpeg12(s->kind)) return finish_mpeg12_picture(pass, s, b, n, au);
  if (s->kind == TsKind::Vc1) return finish_vc1_frame(pass, s, b, n, au);
  uint32_t code = 0, begin = 0, end = 0;
  bool picture = false, idr = false, recovery = false, intra = false, fresh = false;
  uint32_t roll = 0;
  // The sample's size is counted on the way: every unit but delimiters,
  // less the sets its description will hold (known at the end).
  uint64_t size = 0;
  constexpr uint32_t kSetsNoted = 16;
  uint32_t set_begin[kSetsNoted], set_length[kSetsNoted], sets = 0;
  bool counted = true;
  // The units the sample may keep, for its layout.
  TsNalSpan spans[kTsLayoutMaxUnits];
  bool span_is_set[kTsLayoutMaxUnits];
  uint32_t span_count = 0;
  bool spans_fit = true;
  if (!annexb_first_start_code(b, n, &code)) au.flags |= kTsAuBroken;
  while ((au.flags & kTsAuBroken) == 0 && annexb_next_unit(b, n, &code, &begin, &end)) {
    const uint8_t* nal = b + begin;
    const uint32_t length = end - begin;
    if (length == 0) continue;
    const uint32_t type = h264_nal_type(nal);
    if (type != kH264NalDelimiter) {
      size += 4 + uint64_t{length};
      if (span_count < kTsLayoutMaxUnits) {
        span_is_set[span_count] = type == kH264NalSps || type == kH264NalPps;
        spans[span_count++] = TsNalSpan{begin, end};
      } else {
        spans_fit = false;
      }
    }
    if (type == kH264NalSps || type == kH264NalPps) {
      // Sets after the picture's first slice are for the pictures after it.
      if (!picture) VT_TRY(ts_nal_configs_take(s->configs, nal, length, &fresh));
      else ts_nal_configs_after_picture(s->configs, nal, length);
      parse_set(s, nal, length);
      if (sets < kSetsNoted) {
        set_begin[sets] = begin;
        set_length[sets++] = length;
      } else {
        counted = false;
      }
    } else if (type == kH264NalSei) {
      uint32_t frames = 0;
      if (h264_sei_recovery_frames(nal, length, &frames)) {
        if (frames == 0) recovery = true;
        else roll = frames;
      }
    } else if (type >= kH264NalSlice && type <= kH264NalIdr && !picture) {
      picture = true;
      idr = type == kH264NalIdr;
      H264SliceHeader slice;
      if (!idr && length >= 2 && h264_parse_slice_header(nal, length, s->parsed, &slice) == ErrorCode::Ok)
        intra = h264_slice_is_intra(&slice);
    }
  }
  // Parameter sets alone, or bytes before the first picture: no sample.
  if ((au.flags & kTsAuBroken) == 0 && !picture) return ErrorCode::Ok;
  if (idr || (recovery && intra)) au.flags |= kTsAuSync;
  // A 'roll' group counts frames in 15 bits.
  else if (roll > 0 && roll <= 0x7FFF) au.roll = static_cast<uint16_t>(roll);
  au.description = static_cast<uint8_t>(ts_nal_configs_current(s->configs));
  const TsNalConfig* config = s->configs->count > 0 ? &s->configs->configs[au.description] : nullptr;
  au.sets_held = sets_held(config);
  for (uint32_t i = 0; i < sets && counted; ++i)
    if (ts_nal_config_holds(TsNalCodec::H264, config, b + set_begin[i], set_length[i])) size -= 4 + set_length[i];
  if ((au.flags & kTsAuBroken) == 0) {
    if (!counted && !ts_nal_sample(TsNalCodec::H264, b, n, config, nullptr, 0, &au.size)) au.flags |= kTsAuBroken;
    if (counted && (size == 0 || size > UINT32_MAX)) au.flags |= kTsAuBroken;
    if (counted) au.size = static_cast<uint32_t>(size);
  }
  if ((au.flags & kTsAuBroken) == 0 && spans_fit) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < span_count; ++i) {
      const TsNalSpan span = spans[i];
      if (!span_is_set[i] || !ts_nal_config_holds(TsNalCodec::H264, config, b + span.begin, span.end - span.begin))
        spans[kept++] = span;
    }
    uint32_t at = kTsNoLayout;
    VT_TRY(ts_layout_append(&s->layouts, spans, kept, n, au.size, &at));
    if (at != kTsNoLayout) au.flags |= kTsAuLaidOut;
  }
  return add_unit(pass, s, au);
}

ErrorCode on_video_unit(TsAccessPass* pass, TsStreamAccess* s, const TsUnitEvent* event, bool lost) {
  const PesRecord& r = *event->record;
  const bool broken = (r.flags & (kPesBroken | kPesTooLarge | kPesShort | kPesCutAtEnd)) != 0 || event->payload == nullptr;
  int64_t pts = 0, dts = 0;
  unit_times(pass, s, r, &pts, &dts);
  // A unit with a timestamp starts a picture; one without continues it.
  // VC-1 headers in a unit of their own go with the frame of the next,
  // which gives the frame its times (more than headers hold is no headers:
  // the scan stays short).
  constexpr uint32_t kMaxVc1Headers = 4096;
  const bool headers_before = s->kind == TsKind::Vc1 && s->parts.count > 0 && !lost && dts != kNoTime &&
                              s->pending.count <= kMaxVc1Headers && !vc1_has_frame(s->pending.items, s->pending.count);
  if ((dts != kNoTime && !headers_before) || s->parts.count == 0 || lost) VT_TRY(finish_picture(pass, s, lost));
  if (headers_before) {
    s->parts.items[0].pts = pts;
    s->parts.items[0].dts = dts;
  }
  if (s->pending.count + uint64_t{r.length} > kMaxPicture) {
    VT_TRY(finish_picture(pass, s, true));
    return ErrorCode::Ok;
  }
  uint8_t flags = (r.flags & kPesDiscontinuity) != 0 ? kTsAuDiscontinuity : 0;
  if ((r.flags & kPesOpenAtEnd) != 0) flags |= kTsAuOpenAtEnd;
  VT_TRY(s->parts.append_doubling(TsStreamAccess::Part{s->pending.count, r.offset, 0, pts, dts, flags}, 8));
  if (!broken && s->pending.count == 0 && event->storage != nullptr && event->storage->count == r.length) {
    // A picture that begins with the unit (the common case, a unit a
    // picture) takes the unit's bytes as they were gathered.
    std::swap(s->pending, *event->storage);
    event->storage->clear();
  } else if (!broken) {
    VT_TRY(ts_append_bytes(&s->pending, event->payload, r.length));
  }
  if (broken) VT_TRY(finish_picture(pass, s, true));
  return ErrorCode::Ok;
}

// ---- Audio -----------------------------------------------------------------

struct Frame {
  uint32_t header;  // bytes the sample leaves out (an ADTS header)
  uint32_t length;  // whole frame
  uint32_t samples;
  uint32_t rate;
  bool dependent;   // an E-AC-3 dependent substream: part of the frame before it
  bool several_blocks;
  uint32_t size;    // of the sample it becomes
};

// The frame whose header is at `p` (`n` bytes there); false when none is.
bool parse_frame(TsKind kind, const uint8_t* p, uint32_t n, Frame* f) {
  *f = Frame{};
  switch (kind) {
    case TsKind::AacAdts: {
      AdtsHeader h;
      if (!adts_parse_header(p, n, &h) || h.length <= h.header_length) return false;
      *f = Frame{h.header_length, h.length, 1024u * h.raw_blocks, h.sample_rate, false, h.raw_blocks > 1,
                 h.length - h.header_length};
      return true;
    }
    case TsKind::AacLatm: {
      // Samples, rate and size come from the element (latm_frame).
      uint32_t length = 0;
      if (!loas_frame_length(p, n, &length) || length <= kLoasHeaderSize) return false;
      *f = Frame{0, length, 0, 0, false, false, 0};
      return true;
    }
    case TsKind::Ac3: {
      Ac3SyncInfo h;
      if (!ac3_parse_syncinfo(p, n, &h) || h.length == 0) return false;
      *f = Frame{0, h.length, 1536, h.sample_rate, false, false, h.length};
      return true;
    }
    case TsKind::Eac3: {
      Eac3Header h;
      if (!eac3_parse_header(p, n, &h) || h.length < 6 || h.sample_rate == 0) return false;
      *f = Frame{0, h.length, h.samples, h.sample_rate, h.strmtyp == 1, false, h.length};
      return true;
    }
    case TsKind::MpegAudio: {
      MpegAudioHeader h;
      if (!mpeg_audio_parse_frame(p, n, &h) || h.length == 0 || h.sample_rate == 0) return false;
      *f = Frame{0, h.length, h.samples, h.sample_rate, false, false, h.length};
      return true;
    }
    case TsKind::Dts: {
      DtsCoreHeader h;
      if (!dts_parse_core(p, n, &h) || h.sample_rate == 0 || h.frame_size < 16) return false;
      *f = Frame{0, h.frame_size, h.samples, h.sample_rate, false, false, h.frame_size};
      return true;
    }
    case TsKind::TrueHd: {
      // A unit without a major sync lasts as the stream's rate says
      // (split_frames).
      TrueHdUnit u;
      if (!truehd_parse_unit(p, n, &u)) return false;
      *f = Frame{0, u.length, truehd_unit_samples(u.sample_rate), u.sample_rate, false, false, u.length};
      return true;
    }
    case TsKind::Opus: {
      // The samples come from the packet's table of contents (split_frames).
      OpusControlHeader h;
      if (!opus_control_header(p, n, &h) || h.size == 0) return false;
      *f = Frame{h.header, h.header + h.size, 0, 48000, false, false, h.size};
      return true;
    }
    default: return false;
  }
}

constexpr uint32_t kHeaderBytes = 16;  // enough for every carried codec's frame header (DTS: 15)

// A whole LOAS frame: its element gives the payload's size, and the
// stream's configuration the frame's samples and rate. False to pass over
// a frame that does not read; a stream in a form not read, or whose
// configuration changes, fails.
bool latm_frame(TsStreamAccess* s, const uint8_t* p, Frame* f) {
  bool changed = false;
  const ErrorCode e = latm_read_element(p + kLoasHeaderSize, f->length - kLoasHeaderSize, s->latm, &changed, nullptr,
                                        &f->size);
  if (e == ErrorCode::Unsupported && s->failure == nullptr)
    s->failure = "its LATM stream has several programs, layers or subframes, or a configuration not read";
  if (changed && s->failure == nullptr) s->failure = "its LATM configuration changes mid-stream";
  if (e != ErrorCode::Ok) return false;
  f->samples = s->latm->frame_samples;
  f->rate = s->latm->sample_rate;
  return true;
}

// The part of `pending` that byte `at` lies in.
uint32_t part_of(const TsStreamAccess* s, uint32_t at) {
  uint32_t k = 0;
  while (k + 1 < s->parts.count && s->parts[k + 1].at <= at) ++k;
  return k;
}

// Keeps the bytes of `pending` from `at` on, with the parts they lie in;
// `used_part` is the part whose timestamp went to what was taken off.
ErrorCode keep_from(TsStreamAccess* s, uint32_t at, uint32_t used_part) {
  const uint32_t n = s->pending.count;
  if (at >= n) {
    s->pending.count = 0;
    s->parts.count = 0;
    return ErrorCode::Ok;
  }
  const uint32_t k = part_of(s, at);
  std::memmove(s->pending.items, s->pending.items + at, n - at);
  s->pending.count = n - at;
  uint32_t kept = 0;
  for (uint32_t i = k; i < s->parts.count; ++i) {
    TsStreamAccess::Part p = s->parts[i];
    if (i == k) {
      p.skip += at - p.at;
      p.at = 0;
      // Its timestamp went already: the rest take times from their neighbours.
      if (used_part == k) p.pts = p.dts = kNoTime;
    } else {
      p.at -= at;
    }
    s->parts[kept++] = p;
  }
  s->parts.count = kept;
  return ErrorCode::Ok;
}

// Splits whole frames off the front of `pending`.
ErrorCode split_frames(TsAccessPass* pass, TsStreamAccess* s, bool at_end) {
  const uint8_t* b = s->pending.items;
  const uint32_t n = s->pending.count;
  uint32_t at = 0;
  uint32_t last_part = UINT32_MAX;  // the part whose time the last frame took
  bool after_frame = false;         // the last frame ended where `at` is
  while (n - at >= kHeaderBytes || (at_end && at < n)) {
    Frame f;
    // A core 'dtsc' entry describes no DTS-HD extension.
    if (s->kind == TsKind::Dts && s->failure == nullptr && dts_is_extension_substream(b + at, n - at))
      s->failure = "its DTS stream has an extension (DTS-HD extension substream) that a core 'dtsc' entry cannot "
                   "describe";
    if (!parse_frame(s->kind, b + at, n - at, &f) || f.length > kMaxAudioFrame) {
      ++at;
      ++s->resyncs;
      after_frame = false;
      continue;
    }
    if (f.length > n - at) break;  // the rest comes with the next unit
    if (s->kind == TsKind::AacLatm && !latm_frame(s, b + at, &f)) {
      at += f.length;
      s->resyncs += f.length;
      after_frame = false;
      continue;
    }
    if (s->kind == TsKind::TrueHd && f.rate == 0) {
      // Decoding starts at a major sync: the units before the first are passed over.
      if (s->rate == 0) {
        at += f.length;
        s->resyncs += f.length;
        after_frame = false;
        continue;
      }
      f.samples = truehd_unit_samples(s->rate);
    }
    if (s->kind == TsKind::Opus) {
      OpusControlHeader h;
      f.samples = opus_packet_samples(b + at + f.header, f.size);
      if (f.samples == 0 || !opus_control_header(b + at, n - at, &h)) {
        at += f.length;
        s->resyncs += f.length;
        after_frame = false;
        continue;
      }
      if (s->units.count == 0) s->start_trim = h.start_trim;
      s->end_trim = h.end_trim;  // the last packet's counts
    }
    if (f.several_blocks && s->failure == nullptr) s->failure = "an ADTS frame holds several raw data blocks";
    const uint32_t k = part_of(s, at);
    const TsStreamAccess::Part& part = s->parts[k];
    if (f.dependent) {
      // Joined to the frame before it when they are adjacent; else passed over.
      if (after_frame && s->units.count > 0) {
        TsAccessUnit& prev = s->units.back();
        prev.where.length += f.length;
        prev.size += f.length;
        if (s->units.count == 1 && s->first_unit.count > 0) VT_TRY(ts_append_bytes(&s->first_unit, b + at, f.length));
      }
      at += f.length;
      continue;
    }
    if (s->rate == 0) {
      s->rate = f.rate;
      s->first_frame_size = n - at < sizeof s->first_frame ? n - at : sizeof s->first_frame;
      std::memcpy(s->first_frame, b + at, s->first_frame_size);
      if (s->kind == TsKind::Eac3) VT_TRY(ts_append_bytes(&s->first_unit, b + at, f.length));
    }
    TsAccessUnit au{};
    au.where = EsLocator{part.offset, part.skip + (at - part.at) + f.header, f.length - f.header};
    au.size = f.size;
    au.samples = f.samples;
    // The unit's timestamp is that of the first frame that begins in it.
    if (k != last_part && part.pts != kNoTime) {
      au.pts = part.pts;
      au.flags = part.flags & kTsAuDiscontinuity;
    } else {
      const uint32_t rate = s->rate != 0 ? s->rate : 1;
      au.pts = s->last_pts + static_cast<int64_t>(uint64_t{s->last_samples} * kTsClockRate / rate);
    }
    if (s->units.count == 0 && au.pts == kNoTime) au.pts = 0;
    au.dts = au.pts;
    au.flags |= kTsAuSync;
    last_part = k;
    s->last_pts = au.pts;
    s->last_samples = au.samples;
    VT_TRY(add_unit(pass, s, au));
    at += f.length;
    after_frame = true;
  }
  return keep_from(s, at, last_part);
}

// ---- Program-stream video ----------------------------------------------------

void reset_picture(TsStreamAccess* s) {
  s->pending.count = 0;
  s->parts.count = 0;
  s->head = UINT32_MAX;
  s->picture_at = UINT32_MAX;
  s->scan_at = 0;
  s->slices_seen = false;
}

// The picture from `head` up to `end` of `pending` becomes an access unit.
ErrorCode emit_picture(TsAccessPass* pass, TsStreamAccess* s, uint32_t end) {
  const uint32_t begin = s->head;
  const uint32_t k = part_of(s, begin);
  const TsStreamAccess::Part& first = s->parts[k];
  TsAccessUnit au{};
  au.where = EsLocator{first.offset, first.skip + (begin - first.at), end - begin};
  au.pts = au.dts = kNoTime;
  uint32_t used = UINT32_MAX;
  if (s->picture_at != UINT32_MAX) {
    const uint32_t p = part_of(s, s->picture_at);
    if (s->parts[p].pts != kNoTime) {
      au.pts = s->parts[p].pts;
      au.dts = s->parts[p].dts;
      used = p;
    }
  }
  const uint32_t last = part_of(s, end > begin ? end - 1 : begin);
  for (uint32_t i = k; i <= last; ++i) au.flags |= s->parts[i].flags & (kTsAuDiscontinuity | kTsAuOpenAtEnd);
  VT_TRY(finish_mpeg12_picture(pass, s, s->pending.items + begin, end - begin, au));
  VT_TRY(keep_from(s, end, used));
  s->head = s->picture_at = UINT32_MAX;
  s->slices_seen = false;
  return ErrorCode::Ok;
}

// Splits whole pictures off the front of `pending`: one ends where a
// sequence header, a GOP header or a picture header follows its slices.
ErrorCode split_pictures(TsAccessPass* pass, TsStreamAccess* s, bool at_end) {
  uint32_t at = s->scan_at;
  for (;;) {
    const uint32_t n = s->pending.count;
    at = mpeg12_next_start_code(s->pending.items, n, at);
    if (at + 4 > n) break;
    const uint8_t code = s->pending.items[at + 3];
    const bool starts = code == kMpeg12Sequence || code == kMpeg12Gop || code == kMpeg12Picture;
    if (starts && s->slices_seen) {
      VT_TRY(emit_picture(pass, s, at));
      at = 0;
    }
    if (starts && s->head == UINT32_MAX) {
      s->resyncs += at;  // bytes before the first picture, or after a lost one
      VT_TRY(keep_from(s, at, UINT32_MAX));
      at = 0;
      s->head = 0;
    }
    if (code == kMpeg12Picture && s->picture_at == UINT32_MAX) s->picture_at = at;
    if (code >= 0x01 && code <= 0xAF && s->picture_at != UINT32_MAX) s->slices_seen = true;
    at += 4;
  }
  // A start code may straddle the end of what has come.
  s->scan_at = s->pending.count >= 3 ? s->pending.count - 3 : 0;
  if (at_end && s->slices_seen) VT_TRY(emit_picture(pass, s, s->pending.count));
  return ErrorCode::Ok;
}

ErrorCode on_ps_video_unit(TsAccessPass* pass, TsStreamAccess* s, const TsUnitEvent* event, bool lost) {
  const PesRecord& r = *event->record;
  const bool broken = (r.flags & (kPesBroken | kPesTooLarge | kPesShort | kPesCutAtEnd)) != 0 || event->payload == nullptr;
  // The picture in progress lost bytes: it is passed over.
  if (lost || broken) reset_picture(s);
  if (broken) return ErrorCode::Ok;
  if (s->head == UINT32_MAX && s->parts.count == 0) s->pending.count = 0;
  VT_TRY(hold_unit(pass, s, r, event->payload));
  VT_TRY(split_pictures(pass, s, false));
  if (s->pending.count > kMaxPicture) reset_picture(s);
  return ErrorCode::Ok;
}

// Pictures whose packets gave no timestamps: shown at their temporal
// reference from the base of their GOP (told by a picture of the GOP that
// has a time, else following the GOP before), decoded a frame after the
// picture before. Without any time before them they are dropped.
void fill_picture_times(TsStreamAccess* s) {
  constexpr double kPeriods[] = {3003, 3753.75, 3750, 3600, 3003, 3000, 1800, 1501.5, 1500};
  Mpeg12Sequence sequence{};
  const OwnedBlock& h = s->sequence_headers;
  double period = 3003;
  if (h.length != 0 && mpeg12_parse_sequence(h.bytes, h.length, &sequence) == ErrorCode::Ok &&
      sequence.frame_rate_code >= 1 && sequence.frame_rate_code <= 8)
    period = kPeriods[sequence.frame_rate_code];
  GrowArray<TsAccessUnit>& u = s->units;
  bool have_base = false;
  double base = 0;
  uint32_t span = 0;  // pictures the GOP before showed
  for (uint32_t g = 0; g < u.count;) {
    uint32_t e = g + 1;
    while (e < u.count && (u[e].order & kTsAuGopStart) == 0) ++e;
    bool found = false;
    for (uint32_t i = g; i < e && !found; ++i) {
      if (u[i].pts == kNoTime) continue;
      base = static_cast<double>(u[i].pts) - (u[i].order & 0x3FF) * period;
      found = true;
    }
    if (!found && have_base) base += span * period;
    have_base = have_base || found;
    uint32_t most = 0;
    for (uint32_t i = g; i < e; ++i) {
      const uint32_t reference = u[i].order & 0x3FF;
      most = reference + 1 > most ? reference + 1 : most;
      if (u[i].pts != kNoTime) continue;
      if (!have_base) {
        u.items[i].flags |= kTsAuBroken;
        continue;
      }
      u.items[i].pts = static_cast<int64_t>(base + reference * period + 0.5);
    }
    span = most;
    g = e;
  }
  for (uint32_t i = 0; i < u.count; ++i) {
    if (u[i].dts != kNoTime || (u[i].flags & kTsAuBroken) != 0) continue;
    int64_t dts = u[i].pts;
    if (i > 0 && u[i - 1].dts != kNoTime) dts = u[i - 1].dts + static_cast<int64_t>(period + 0.5);
    u.items[i].dts = dts < u[i].pts ? dts : u[i].pts;
  }
}

ErrorCode on_audio_unit(TsAccessPass* pass, TsStreamAccess* s, const TsUnitEvent* event, bool lost) {
  const PesRecord& r = *event->record;
  // A unit that ended early holds whole bytes up to where it ended: its
  // whole frames are kept, a frame it cut is not.
  const bool broken = (r.flags & (kPesBroken | kPesTooLarge)) != 0 || event->payload == nullptr;
  const bool ended_early = (r.flags & (kPesShort | kPesCutAtEnd)) != 0;
  if (lost || broken) {
    // A frame in progress lost bytes: it and the whole unit are passed over.
    s->pending.count = 0;
    s->parts.count = 0;
    if (broken) return ErrorCode::Ok;
  }
  VT_TRY(hold_unit(pass, s, r, event->payload));
  VT_TRY(split_frames(pass, s, false));
  // Bytes that never make a frame are not kept beyond one frame's length.
  if (ended_early || s->pending.count > 2 * kMaxAudioFrame) {
    if (!ended_early) s->resyncs += s->pending.count;
    s->pending.count = 0;
    s->parts.count = 0;
  }
  return ErrorCode::Ok;
}

// Blu-ray LPCM: each unit is its header and whole frames.
ErrorCode on_bluray_lpcm_unit(TsAccessPass* pass, TsStreamAccess* s, const TsUnitEvent* event);

}  // namespace

// What private data that no descriptor names holds, from its first unit's
// first bytes: Unknown when they are no frame header of a carried codec.
TsKind sniff_private(const uint8_t* p, uint32_t n) {
  if (p == nullptr) return TsKind::Unknown;
  AdtsHeader adts;
  if (adts_parse_header(p, n, &adts)) return TsKind::AacAdts;
  if (n >= 6 && p[0] == 0x0B && p[1] == 0x77) {
    const uint32_t bsid = p[5] >> 3;
    if (bsid <= 8) return TsKind::Ac3;
    if (bsid >= 11 && bsid <= 16) return TsKind::Eac3;
    return TsKind::Unknown;
  }
  MpegAudioHeader mpeg;
  if (mpeg_audio_parse_frame(p, n, &mpeg)) return TsKind::MpegAudio;
  return TsKind::Unknown;
}

namespace {

// Blu-ray's stream id extensions of the two on a TrueHD PID.
constexpr uint8_t kTrueHdStreamId = 0x72, kAc3CoreStreamId = 0x76;

// A unit of the AC-3 core: as its PES header's stream id extension says,
// or without one, a unit that begins with an AC-3 frame header.
bool is_ac3_core(const TsUnitEvent* event) {
  const PesRecord& r = *event->record;
  if ((r.flags & kPesExtendedId) != 0 && (r.stream_id == kTrueHdStreamId || r.stream_id == kAc3CoreStreamId))
    return r.stream_id == kAc3CoreStreamId;
  Ac3SyncInfo h;
  return event->payload != nullptr && ac3_parse_syncinfo(event->payload, event->record->length, &h) && h.length != 0 &&
         event->record->length >= 6 && event->payload[5] >> 3 <= 8;  // bsid: not E-AC-3
}

}  // namespace

TsStreamAccess* ts_access_of(TsAccessPass* pass, uint32_t pid_index) {
  for (uint32_t i = 0; i < pass->count; ++i)
    if (pass->streams[i]->pid_index == pid_index) return pass->streams[i];
  return nullptr;
}

ErrorCode ts_access_on_unit(void* user, const TsUnitEvent* event) {
  auto* pass = static_cast<TsAccessPass*>(user);
  TsStreamAccess* s = ts_access_of(pass, event->pid_index);
  if (s != nullptr && s->listing < event->index->streams.count &&
      event->record->offset >= event->index->streams[s->listing].removed_at)
    return ErrorCode::Ok;  // a PMT version no longer lists it: its track ended there
  if (s == nullptr) {
    const uint32_t at = listed_stream(event->index, event->pid_index);
    if (at == UINT32_MAX || pass->count >= kTsMaxStreams) return ErrorCode::Ok;
    const TsStream* listed = &event->index->streams[at];
    TsKind kind = listed->cls->kind;
    const bool probed = listed->cls->disposition == TsDisposition::Probe;
    if (probed) kind = sniff_private(event->payload, event->payload != nullptr ? event->record->length : 0);
    if (!is_carried(kind)) return ErrorCode::Ok;
    s = alloc_record<TsStreamAccess>();
    if (s == nullptr) return ErrorCode::OutOfMemory;
    pass->streams[pass->count++] = s;
    s->pid_index = event->pid_index;
    s->listing = at;
    s->kind = kind;
    s->probed = probed;
    if (s->kind == TsKind::H264 || s->kind == TsKind::Hevc) {
      s->configs = alloc_record<TsNalConfigs>();
      if (s->configs == nullptr) return ErrorCode::OutOfMemory;
      s->configs->codec = s->kind == TsKind::H264 ? TsNalCodec::H264 : TsNalCodec::Hevc;
    }
    s->head = s->picture_at = UINT32_MAX;
    if (s->kind == TsKind::H264) {
      s->parsed = alloc_record<H264ParameterSets>();
      if (s->parsed == nullptr) return ErrorCode::OutOfMemory;
    }
    if (s->kind == TsKind::AacLatm) {
      s->latm = alloc_record<LatmConfig>();
      if (s->latm == nullptr) return ErrorCode::OutOfMemory;
    }
  }
  // A unit lost between this one and the last (its header did not parse).
  const bool lost = s->started && (event->unit != s->next_unit || (event->record->flags & kPesGapBefore) != 0);
  s->started = true;
  s->next_unit = event->unit + 1;
  if (s->kind == TsKind::TrueHd && is_ac3_core(event)) {
    // The AC-3 frames that Blu-ray interleaves with TrueHD on its PID: a track of their own.
    if (s->core == nullptr) {
      if (pass->count >= kTsMaxStreams) return ErrorCode::Ok;
      s->core = alloc_record<TsStreamAccess>();
      if (s->core == nullptr) return ErrorCode::OutOfMemory;
      pass->streams[pass->count++] = s->core;
      s->core->pid_index = s->pid_index;
      s->core->listing = s->listing;
      s->core->kind = TsKind::Ac3;
      s->core->head = s->core->picture_at = UINT32_MAX;
    }
    return on_audio_unit(pass, s->core, event, lost);
  }
  if (pass->split_pictures && is_mpeg12(s->kind)) return on_ps_video_unit(pass, s, event, lost);
  if (s->kind == TsKind::Lpcm) return on_bluray_lpcm_unit(pass, s, event);
  return is_video(s->kind) ? on_video_unit(pass, s, event, lost) : on_audio_unit(pass, s, event, lost);
}

ErrorCode ts_access_pcm_stream(TsAccessPass* pass, uint32_t pid_index, TsKind kind, TsStreamAccess** out) {
  *out = ts_access_of(pass, pid_index);
  if (*out != nullptr || pass->count >= kTsMaxStreams) return ErrorCode::Ok;
  TsStreamAccess* s = alloc_record<TsStreamAccess>();
  if (s == nullptr) return ErrorCode::OutOfMemory;
  s->pid_index = pid_index;
  s->listing = UINT32_MAX;
  s->kind = kind;
  s->head = s->picture_at = UINT32_MAX;
  pass->streams[pass->count++] = s;
  *out = s;
  return ErrorCode::Ok;
}

ErrorCode ts_access_add_pcm(TsAccessPass* pass, TsStreamAccess* s, const PesRecord& r, const EsLocator& where,
                            uint32_t frames, uint32_t size) {
  if (frames == 0 || s->rate == 0) return ErrorCode::Ok;
  int64_t pts = 0, dts = 0;
  unit_times(pass, s, r, &pts, &dts);
  TsAccessUnit au{};
  au.where = where;
  if (pts == kNoTime)
    pts = s->units.count == 0 ? 0
                              : s->last_pts + static_cast<int64_t>(uint64_t{s->last_samples} * kTsClockRate / s->rate);
  au.pts = au.dts = pts;
  au.size = size;
  au.samples = frames;
  au.flags = kTsAuSync | ((r.flags & kPesDiscontinuity) != 0 ? kTsAuDiscontinuity : 0);
  s->last_pts = pts;
  s->last_samples = frames;
  return add_unit(pass, s, au);
}

namespace {

ErrorCode on_bluray_lpcm_unit(TsAccessPass* pass, TsStreamAccess* s, const TsUnitEvent* event) {
  const PesRecord& r = *event->record;
  if ((r.flags & (kPesBroken | kPesTooLarge)) != 0 || event->payload == nullptr || s->failure != nullptr)
    return ErrorCode::Ok;
  BlurayLpcmHeader h;
  if (!bluray_lpcm_parse(event->payload, r.length, &h)) {
    if (r.length >= kBlurayLpcmHeader)
      s->failure = "its LPCM header names a channel arrangement, rate or sample size that is not carried";
    return ErrorCode::Ok;
  }
  if (s->rate == 0) {
    s->rate = h.rate;
    s->pcm_channels = static_cast<uint16_t>(h.channels);
    s->pcm_bits = h.bits == 16 ? 16 : 24;
    std::memcpy(s->first_frame, event->payload, kBlurayLpcmHeader);
    s->first_frame_size = kBlurayLpcmHeader;
  } else if (std::memcmp(s->first_frame + 2, event->payload + 2, 2) != 0) {
    s->failure = "its LPCM format changes within the stream";
    return ErrorCode::Ok;
  }
  // A unit cut short keeps its whole frames.
  uint32_t bytes = r.length - kBlurayLpcmHeader;
  if (bytes > h.payload) bytes = h.payload;
  const uint32_t frames = bytes / bluray_lpcm_stored_frame(h);
  const EsLocator where{r.offset, kBlurayLpcmHeader, frames * bluray_lpcm_stored_frame(h)};
  return ts_access_add_pcm(pass, s, r, where, frames, frames * bluray_lpcm_frame(h));
}

}  // namespace

ErrorCode ts_access_finish(TsAccessPass* pass, const TsIndex*) {
  for (uint32_t i = 0; i < pass->count; ++i) {
    TsStreamAccess* s = pass->streams[i];
    if (pass->split_pictures && is_mpeg12(s->kind)) {
      VT_TRY(split_pictures(pass, s, true));
      fill_picture_times(s);
    } else if (is_video(s->kind)) {
      VT_TRY(finish_picture(pass, s, false));
    } else {
      VT_TRY(split_frames(pass, s, true));
    }
    s->pending.release();
    s->parts.release();
  }
  return ErrorCode::Ok;
}

void ts_access_release(TsAccessPass* pass) {
  if (pass == nullptr) return;
  for (uint32_t i = 0; i < pass->count; ++i) {
    TsStreamAccess* s = pass->streams[i];
    s->units.release();
    s->layouts.release();
    s->pending.release();
    s->parts.release();
    s->first_unit.release();
    std::free(s->parsed);
    std::free(s->latm);
    ts_nal_configs_release(s->configs);
    std::free(s->configs);
    block_release(&s->sequence_headers);
    block_release(&s->vc1_sequence);
    for (OwnedBlock& b : s->vc1_later) block_release(&b);
    s->vc1_later.release();
    std::free(s);
  }
  pass->count = 0;
}

}  // namespace vantorel
