#pragma once
// Readers of the three user-data boxes that fill the metadata block: 'meta'
// (an 'ilst' item list), 'tags' (tag lists per chapter, cover pictures) and
// 'chpl' (the chapter list). None of them has a record: 'meta' and 'tags'
// travel whole in the user data's carried boxes (rebuilt from the tags when
// these change), the chapter list is written back from the metadata part.
#include "boxes/box_tree.h"
#include "meta/meta_file.h"

namespace vantorel {

// Row operations of the 'udta' list. Metadata is optional: a failure inside
// the box ends its reading, what was read before is kept, and the tree read
// goes on (only running out of memory is passed up). 'meta' and 'tags' are
// also carried whole, to be written back as they were.
ErrorCode meta_box_read(MetaFile* file, const BoxHeader* header, void* context);
// 'meta' directly in the movie box.
ErrorCode movie_meta_read(MetaFile* file, const BoxHeader* header, void* context);
ErrorCode tags_box_read(MetaFile* file, const BoxHeader* header, void* context);
ErrorCode chpl_read(MetaFile* file, const BoxHeader* header, void* context);
// The chapter list written back: present while the metadata part holds chapters.
bool chpl_present(MetaFile* file, void* context);
ErrorCode chpl_write(MetaFile* file, void* context);
uint64_t chpl_size(MetaFile* file, void* context);

// The parsers behind them, with the payload's own failures: BadArgument for an
// empty raw 'ilst' value, Io when the latch is set while reading a value,
// Malformed for counts or lengths the box cannot hold, Missing for a 'tags'
// name length of 0 or
// above 32. Called with the file just after the box header.
ErrorCode meta_box_parse(MetaFile* file, const BoxHeader* header);
ErrorCode tags_box_parse(MetaFile* file, const BoxHeader* header);
ErrorCode chpl_parse(MetaFile* file, const BoxHeader* header);

// Reads the next child header inside `parent` into `child`, cut at the
// parent's end. *found is false when fewer than 8 bytes are left or the latch
// is set, so a parent's tail too short for a header is never read past.
ErrorCode read_child_header(MetaFile* file, const BoxHeader* parent, BoxHeader* child, bool* found);

}  // namespace vantorel
