// V_MS/VFW/FOURCC tracks: Video for Windows frames, as an AVI stream holds
// them, converted by the AVI import's video conversions. Their block times
// are decoding times, one frame a slot of the frame rate.
#include <cstdlib>
#include <utility>

#include "import/avi/vfw_frames.h"
#include "import/matroska/matroska_internal.h"

namespace vantorel {

ErrorCode mkv_convert_vfw_frames(MkvImport* imp, TrackBoxes* track, const MkvTrack* t, const uint32_t* durations,
                                 const char** why) {
  *why = nullptr;
  const uint32_t n = t->frames.count;
  // The slot: the greatest length every duration is a whole number of; a
  // duration of several slots holds dropped frames. Times off any grid
  // (more slots than a few a frame) give each frame one slot.
  uint64_t grid = 0, total = 0;
  for (uint32_t i = 0; i < n; ++i) {
    uint64_t a = durations[i], b = grid;
    while (b != 0) a = std::exchange(b, a % b);
    grid = a;
    total += durations[i];
  }
  const bool on_grid = grid > 0 && total / grid <= uint64_t{n} * 4 + 64;
  const uint64_t scale = on_grid ? grid : (n > 0 && total / n > 0 ? total / n : 1);
  if (scale > UINT32_MAX) {
    *why = "its frames last too long";
    return ErrorCode::Ok;
  }
  auto* frames = static_cast<VfwFrame*>(std::calloc(n > 0 ? n : 1, sizeof(VfwFrame)));
  if (frames == nullptr) return ErrorCode::OutOfMemory;
  uint64_t at = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const MkvFrame& f = t->frames[i];
    frames[i] = VfwFrame{f.offset, f.size, f.key, static_cast<uint32_t>(on_grid ? at / grid : i)};
    at += durations[i];
  }
  VfwVideoFrames in{};
  in.format = t->codec_private.bytes;
  in.format_size = t->codec_private.length;
  in.frames = frames;
  in.count = n;
  in.slots = n > 0 ? frames[n - 1].slot + (on_grid ? static_cast<uint32_t>(durations[n - 1] / grid) : 1) : 0;
  in.scale = static_cast<uint32_t>(scale);
  const ErrorCode e = vfw_convert_frames(imp->file, track, &in, why);
  std::free(frames);
  return e;
}

}  // namespace vantorel
