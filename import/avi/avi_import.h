#pragma once
// Reading a RIFF AVI file into the same movie an MP4 file would give: one
// track per usable stream, whose sample tables point at the AVI's chunks.
#include "boxes/box_tree.h"
#include "import/import_file.h"

namespace vantorel {

// RIFF "AVI " at offset 0 (the position is set back to 0).
bool avi_probe(ImportFile* file);

// Imports the file from offset 0 into `root`. Unsupported when it is not an
// AVI file or (outside inspect mode) no track has a sample; AviNoIndex for a stream without
// an index in a file whose main header lacks the has-index flag.
ErrorCode avi_import(ImportFile* file, FileBoxes* root);

}  // namespace vantorel
