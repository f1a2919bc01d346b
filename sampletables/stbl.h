#pragma once
// 'stbl': the sample table container. Its children are written through the
// child list, then the chunk offsets (as 'co64' when an offset needs 64 bits,
// else 'stco') and the sync samples, so a written table always has the order
// stsd, stts, ctts, stsc, stsz, stco/co64, stss.
#include "boxes/box_tree.h"

namespace vantorel {

void stbl_release(BoxFile* file, void* context);
ErrorCode stbl_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode stbl_write(BoxFile* file, void* context);
uint64_t stbl_size(BoxFile* file, void* context);

}  // namespace vantorel
