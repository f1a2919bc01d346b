#pragma once
// Matroska and WebM import: one track per usable track entry, whose samples
// are the frames of the clusters, in place in the input.
#include "boxes/box_tree.h"
#include "import/import_file.h"

namespace vantorel {

// An EBML header whose DocType is "matroska" or "webm" at offset 0 (the
// position is set back to 0).
bool matroska_probe(ImportFile* file);

// Called by open with the stream at offset 0; Unsupported when the file is
// not Matroska or holds no frame of a track it can carry.
ErrorCode matroska_import(ImportFile* file, FileBoxes* root);

}  // namespace vantorel
