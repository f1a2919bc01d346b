#pragma once
// Video for Windows frames held outside an AVI file (Matroska's
// V_MS/VFW/FOURCC tracks), converted as the AVI import converts a video
// stream of the same BITMAPINFOHEADER, so that both carry the same codecs
// the same way: MPEG-4 Visual with packed pictures unpacked and their order
// found, Motion JPEG given its tables, H.264 from Annex B.
#include <cstdint>

#include "boxes/box_tree.h"
#include "import/import_file.h"

namespace vantorel {

struct VfwFrame {
  uint64_t offset;  // of its bytes in the file
  uint32_t size;
  uint32_t key;
  uint32_t slot;  // its time slot; slots rise from frame to frame
};

struct VfwVideoFrames {
  const uint8_t* format;  // the BITMAPINFOHEADER, then the codec data
  uint32_t format_size;
  const VfwFrame* frames;  // in decoding order
  uint32_t count;
  uint32_t slots;  // slots of the whole stream: more than the last frame's
  uint32_t scale;  // media units a slot lasts
};

// Gives the track (made with its time scale, still without samples) its
// first sample entry and its samples. `*failure` says why the frames cannot
// be carried (static text; the track is then to be removed), or is null.
// BadArgument for a format shorter than a BITMAPINFOHEADER or slots that do
// not rise.
ErrorCode vfw_convert_frames(ImportFile* file, TrackBoxes* track, const VfwVideoFrames* in, const char** failure);

}  // namespace vantorel
