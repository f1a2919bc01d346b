#pragma once
// 'mdat' as read: in update mode each media data box is a fixed point, and the
// gaps between them are where the rewritten movie header may go.
#include "boxes/box_tree.h"

namespace vantorel {

// Row operation of the top level. Update mode: the current last region ends
// at the box's start and a new one starts at its end. Other modes: nothing.
ErrorCode mdat_read(BoxFile* file, const BoxHeader* header, void* context);

}  // namespace vantorel
