#pragma once
// 'hdlr': the handler of a track's media, as a numeric kind.
#include "boxes/box_tree.h"
#include "io/media_kinds.h"

namespace vantorel {

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

uint32_t handler_kind_of(TrackBoxes* track);
ErrorCode set_handler_name(BoxFile* file, TrackBoxes* track, const char* text);

void hdlr_release(BoxFile* file, void* context);
ErrorCode hdlr_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode hdlr_write(BoxFile* file, void* context);
uint64_t hdlr_size(BoxFile* file, void* context);

}  // namespace vantorel
