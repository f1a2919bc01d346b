#pragma once
// 'udta': the movie's user data, and the chapter list written as 'chpl'.
#include "boxes/box_tree.h"

namespace vantorel {

void udta_release(MediaFile* file, void* context);
ErrorCode udta_read(MediaFile* file, const BoxHeader* header, void* context);
// Payload of the movie's 'udta': its children, then 'chpl' from the chapters.
ErrorCode udta_write(MediaFile* file, void* context);
uint64_t udta_size(MediaFile* file, void* context);

}  // namespace vantorel
