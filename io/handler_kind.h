#pragma once
// The kinds of media a track's handler names: what the box layer reads from
// 'hdlr' and what the library's interface reports of each track.
#include <cstdint>

namespace vantorel {

enum HandlerKind : uint32_t {
  kHandlerUnknown = 0,
  kHandlerVideo = 1,
  kHandlerSound = 2,
  kHandlerHint = 3,
  kHandlerOdsm = 4,
  kHandlerCrsm = 5,
  kHandlerSdsm = 6,
  kHandlerM7sm = 7,
  kHandlerOcsm = 8,
  kHandlerIpsm = 9,
  kHandlerMjsm = 10,
  kHandlerSubpicture = 11,
  kHandlerSubtitle = 12,
  kHandlerInterleaved = 13,  // interleaved audio and video of imported AVI files
  kHandlerStreamingExtension = 14,
  kHandlerText = 15,      // timed text and QuickTime text (chapter tracks)
  kHandlerSbtl = 16,      // QuickTime and 3GPP subtitles
  kHandlerTimecode = 17,
  // A handler the library does not know ('meta', 'clcp', ...), for a track
  // carried as stored: its handler type is the record's, as read.
  kHandlerOther = 18,
};
constexpr uint32_t kHandlerKindCount = 19;

// Video, or the interleaved sound and video of an imported AVI file.
constexpr bool handler_is_video_like(uint32_t kind) { return kind == kHandlerVideo || kind == kHandlerInterleaved; }

}  // namespace vantorel
