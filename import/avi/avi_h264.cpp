// AVI H.264 streams: Annex B access units into length-prefixed samples,
// parameter sets into the 'avcC', presentation order from the slice
// headers, and recovery points as sample groups.
#include <algorithm>
#include <cstring>

#include "codecs/h264.h"
#include "codecs/nal_units.h"
#include "import/avi/avi_convert.h"
#include "sampletables/random_access_groups.h"
#include "sampletables/sample_groups.h"
#include "sampletables/stsd.h"

namespace vantorel::avi {

namespace {

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
  if (entry->avcC == nullptr) return ErrorCode::Missing;
  // Samples are written with 4-byte NAL unit lengths.
  const AvcKeptSets kept{st->sps, st->sps_order, st->sps_count, st->pps, st->pps_order, st->pps_count};
  return avcc_build_from_kept(entry->avcC, &kept);
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

}  // namespace

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

}  // namespace vantorel::avi
