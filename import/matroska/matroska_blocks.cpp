// Blocks: the frames of one track at one time, laced three ways or alone.
#include <cstdlib>
#include <cstring>

#include "import/matroska/matroska_internal.h"

namespace vantorel {

namespace {

// A lace header longer than this is not believed.
constexpr uint32_t kMaxBlockHeader = 64 * 1024;
constexpr uint32_t kMaxLacedFrames = 256;

enum BlockFlags : uint8_t { kBlockKey = 0x80, kLacingMask = 0x06, kLaceXiph = 0x02, kLaceFixed = 0x04, kLaceEbml = 0x06 };

// Frame sizes of a laced block from its lace header at b[*at]; `payload` is
// the byte count from b[0] to the end of the block. False when the header
// does not add up.
bool lace_sizes(const uint8_t* b, uint32_t n, uint32_t* at, uint64_t payload, uint8_t lacing, uint32_t count,
                uint64_t* sizes) {
  uint64_t sum = 0;
  if (lacing == kLaceXiph) {
    for (uint32_t i = 0; i + 1 < count; ++i) {
      uint64_t size = 0;
      uint8_t byte = 0;
      do {
        if (*at >= n) return false;
        byte = b[(*at)++];
        size += byte;
      } while (byte == 255);
      sizes[i] = size;
      sum += size;
    }
  } else if (lacing == kLaceEbml) {
    uint64_t v = 0;
    uint32_t length = 0;
    if (!ebml_vint(b + *at, n - *at, false, &v, &length)) return false;
    *at += length;
    sizes[0] = v;
    sum = v;
    for (uint32_t i = 1; i + 1 < count; ++i) {
      if (!ebml_vint(b + *at, n - *at, false, &v, &length)) return false;
      *at += length;
      // Signed differences: the raw value less half its range.
      const int64_t bias = (int64_t{1} << (7 * length - 1)) - 1;
      const int64_t size = static_cast<int64_t>(sizes[i - 1]) + (static_cast<int64_t>(v) - bias);
      if (size < 0) return false;
      sizes[i] = static_cast<uint64_t>(size);
      sum += sizes[i];
    }
  } else {
    if (payload < *at) return false;
    const uint64_t all = payload - *at;
    if (all % count != 0) return false;
    for (uint32_t i = 0; i < count; ++i) sizes[i] = all / count;
    return true;
  }
  if (payload < *at || sum > payload - *at) return false;
  sizes[count - 1] = payload - *at - sum;
  return true;
}

ErrorCode add_frame(MkvImport* imp, MkvTrack* t, uint64_t offset, uint64_t size, int64_t time, bool key,
                    uint64_t duration) {
  // Only a block the file cuts can claim more than the file holds: its frame
  // is missing, and one byte past the end says so without a huge size.
  if (size > imp->file_size) size = (offset < imp->file_size ? imp->file_size - offset : 0) + 1;
  if (size > UINT32_MAX) return malformed(imp->file, "Matroska frame of 4 GiB or more");
  if (t->frames.count >= imp->max_frames) return malformed(imp->file, "Matroska track with more frames than the file holds");
  MkvFrame f{offset, static_cast<uint32_t>(size), key ? 1u : 0u, time, duration};
  return t->frames.append_doubling(f);
}

}  // namespace

ErrorCode mkv_read_block(MkvImport* imp, const EbmlElement* block, int64_t cluster_time, bool simple, bool keyframe,
                         uint64_t duration, MkvTrack** out_track) {
  if (out_track != nullptr) *out_track = nullptr;
  ImportFile* file = imp->file;
  // What the file holds of the block, and what the block says it is.
  const uint64_t payload = block->cut ? block->declared : block->size;
  const uint64_t held = block->size;
  // The track number, time, flags and frame count: at most 13 bytes.
  uint8_t head[16];
  const uint32_t n = held < sizeof head ? static_cast<uint32_t>(held) : sizeof head;
  VT_TRY(file_seek(file, block->data));
  if (n > 0) VT_TRY(read_bytes(file, head, n));
  uint64_t number = 0;
  uint32_t length = 0;
  if (!ebml_vint(head, n, false, &number, &length) || n < length + 3) {
    if (!block->cut) return malformed(file, "Matroska block shorter than its header");
    // Cut inside its header: the frame is missing, whose ever it was.
    imp->cut_track = UINT32_MAX;
    return ErrorCode::Ok;
  }
  MkvTrack* t = mkv_track_by_number(imp, number);
  if (t == nullptr) {
    // Counted, so that a track whose blocks all lost their number is named.
    ++imp->stray_blocks;
    return ErrorCode::Ok;
  }
  if (out_track != nullptr) *out_track = t;
  const int16_t relative = static_cast<int16_t>((head[length] << 8) | head[length + 1]);
  const uint8_t flags = head[length + 2];
  const bool key = simple ? (flags & kBlockKey) != 0 : keyframe;
  const int64_t time = cluster_time + relative;
  uint32_t at = length + 3;
  const uint8_t lacing = flags & kLacingMask;
  if (lacing == 0) {
    if (payload < at) return malformed(file, "Matroska block shorter than its header");
    return add_frame(imp, t, block->data + at, payload - at, time, key, duration);
  }
  if (at >= n) {
    if (!block->cut) return malformed(file, "Matroska laced block without its frame count");
    imp->cut_track = UINT32_MAX;
    return ErrorCode::Ok;
  }
  const uint32_t count = uint32_t{head[at]} + 1;
  uint64_t sizes[kMaxLacedFrames];
  bool sized = false;
  if (lacing == kLaceFixed) {
    ++at;
    sized = lace_sizes(head, n, &at, payload, lacing, count, sizes);
  } else {
    // Xiph and EBML sizes run on: read as much of the block as they may take.
    const uint32_t more = held < kMaxBlockHeader ? static_cast<uint32_t>(held) : kMaxBlockHeader;
    uint8_t* b = static_cast<uint8_t*>(std::malloc(more));
    if (b == nullptr) return ErrorCode::OutOfMemory;
    ErrorCode e = file_seek(file, block->data);
    if (e == ErrorCode::Ok) e = read_bytes(file, b, more);
    ++at;
    if (e == ErrorCode::Ok) sized = lace_sizes(b, more, &at, payload, lacing, count, sizes);
    std::free(b);
    VT_TRY(e);
  }
  if (!sized) {
    if (block->cut && held < payload && held <= kMaxBlockHeader) {
      imp->cut_track = UINT32_MAX;
      return ErrorCode::Ok;
    }
    return malformed(file, "Matroska lace sizes that do not fit their block");
  }
  // Laced frames follow one another at the track's frame rate. Block times
  // stay below 2^62 ticks (a cluster's below 2^62, a block's offset 16 bits),
  // so a step of up to 2^53 over at most 256 frames cannot overflow.
  const uint64_t step = imp->timestamp_scale > 0 ? t->default_duration / imp->timestamp_scale : 0;
  if (step > (uint64_t{1} << 53)) return malformed(file, "Matroska DefaultDuration too long for laced frames");
  uint64_t offset = block->data + at;
  for (uint32_t i = 0; i < count; ++i) {
    VT_TRY(add_frame(imp, t, offset, sizes[i], time + static_cast<int64_t>(step * i), key, 0));
    offset += sizes[i];
  }
  return ErrorCode::Ok;
}

}  // namespace vantorel
