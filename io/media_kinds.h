#pragma once
// Numbers the box layer and the library's interface share: the kinds of
// media a track's handler names, and the flags a file is opened with.
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

// MediaFileFlags: set on create from the open parameters, set by readers on
// reading.
enum MediaFileFlags : uint32_t {
  kFlagPsp = 0x001,              // PROF profile box
  kFlagTdrm = 0x002,             // 'udta' with 'tdrm' on create; 'tags'/'chpl' read
  kFlagUdta = 0x004,             // 'udta' on create; 'meta' read
  kFlagNoSubpictureAdjust = 0x008,
  kFlagStripVisualUserData = 0x010,   // MPEG-4 visual: drop user data from the decoder information
  kFlagLowerSimpleLevel = 0x020,      // MPEG-4 visual: lower the Simple-profile level
  kFlagAvcUuidExtension = 0x040,      // 'uuid' extension box in AVC entries
  kFlagStreamingExtension = 0x080,
  kFlagLongDescriptorLengths = 0x100,
  kFlagQuickTimeForms = 0x200,  // a QuickTime movie: handler names written counted
};

}  // namespace vantorel
