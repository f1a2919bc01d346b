#pragma once
// The movie box's own operations, the track boxes inside it, and the top
// level of a file.
#include "boxes/box_tree.h"

namespace vantorel {

// Above this size a movie box is parsed straight from the file instead of
// being fetched into memory first.
constexpr uint64_t kMaxBufferedMoov = 256ull << 20;

void moov_release(BoxFile* file, void* context);
ErrorCode moov_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode moov_write(BoxFile* file, void* context);
uint64_t moov_size(BoxFile* file, void* context);

// The movie's 'udta'. Children without a row of their own are carried as
// read and written back before the rows' boxes, so 'chpl' stays last.
ErrorCode udta_read(BoxFile* file, const BoxHeader* header, void* context);
uint64_t udta_size(BoxFile* file, void* context);
void udta_release(BoxFile* file, void* context);
// Carries one child of the movie's 'udta' (context: the root); rows that
// read a child for their own use call it to keep the box too.
ErrorCode carry_udta_child(BoxFile* file, const BoxHeader* header, void* context);

// Reads `whole` (a pseudo box over the file, "mp4 ") as the top level; a
// 'udta' outside the movie box joins the movie's user data.
ErrorCode read_top_level(BoxFile* file, const BoxHeader* whole);

}  // namespace vantorel
