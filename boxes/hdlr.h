#pragma once
// 'hdlr': the handler of a track's media, as a numeric kind.
#include "boxes/box_tree.h"

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

struct HdlrRecord {
  uint8_t version;
  uint32_t flags;
  uint32_t kind;           // HandlerKind
  FourCC manufacturer;
  char* name;              // owned, NUL-terminated, or null
  FourCC handler_type;     // as read (kept for descriptions of unknown kinds)
};

// Handler type of a kind; zero for the kinds that have none (0 and 13).
FourCC handler_type_of(uint32_t kind);
// Kind of a handler type; 0 for types not in the table.
uint32_t handler_kind_from_type(FourCC type);
const char* handler_default_name(uint32_t kind);
bool handler_is_video_like(uint32_t kind);  // kinds 1 and 13

uint32_t handler_kind_of(TrackBoxes* track);
ErrorCode set_handler_name(BoxFile* file, TrackBoxes* track, const char* text);

void hdlr_release(BoxFile* file, void* context);
ErrorCode hdlr_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode hdlr_write(BoxFile* file, void* context);
uint64_t hdlr_size(BoxFile* file, void* context);

}  // namespace vantorel
