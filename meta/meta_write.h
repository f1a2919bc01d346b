#pragma once
// Writing the movie's tags back: the 'meta' boxes carried from the file are
// rebuilt from the tags when these have changed, their other children kept
// as they were.
#include "meta/meta_file.h"

namespace vantorel {

// Before the movie box is written: when the tags changed, replaces the
// carried 'meta' boxes' 'ilst' (and 'keys') with the tags', or adds a 'meta'
// to the user data for tags that have none.
ErrorCode metadata_write_back(MetaFile* file);

// The 'meta' box the tags of one kind make on their own: keyed ('mdta') or not.
ErrorCode build_meta_box(MetaFile* file, bool keyed, GrowArray<uint8_t>* out);

}  // namespace vantorel
