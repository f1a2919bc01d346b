// AVI video streams: MPEG-4 Visual with packed B-frames unpacked and its
// presentation order found, and Motion JPEG given the tables it leaves out.
#include <cstring>

#include "codecs/es_descriptor.h"
#include "codecs/jpeg.h"
#include "codecs/mpeg4_visual.h"
#include "import/avi/avi_convert.h"
#include "sampletables/stsd.h"

namespace vantorel::avi {

namespace {

ErrorCode add_video_frame(Rebuild* rb, GrowArray<Frame>* frames, uint32_t slot, uint32_t type, uint64_t offset,
                          uint32_t size, bool sync) {
  // Slots only move forward, whatever the placeholders did.
  if (frames->count > 0 && slot <= frames->back().slot) slot = frames->back().slot + 1;
  VT_TRY(frames->append_doubling(Frame{slot, type}));
  SamplePiece piece{offset, size, kPieceCopy};
  return add_sample(rb, &piece, 1, 0, sync);
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

}  // namespace

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

ErrorCode set_visual_entry(Rebuild* rb, const char* format, uint8_t object_type, const uint8_t* config,
                           uint32_t config_size) {
  VisualSampleEntry* entry = visual_entry(rb->imp->file, rb->track, 0);
  if (entry == nullptr) return ErrorCode::Missing;
  entry->format = FourCC::of(format);
  return set_entry_esds(rb, object_type, kStreamTypeVisual, config, config_size);
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

}  // namespace vantorel::avi
