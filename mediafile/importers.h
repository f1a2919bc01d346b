#pragma once
// The input formats the library reads, one row each: how a file is
// recognised and how it becomes the movie every reader and the remux use.
// Opening tries the rows in order; a file no row takes is described by its
// first bytes.
#include "mediafile/media_file.h"

namespace vantorel {

struct Importer {
  const char* name;   // the format's short name ("avi"), as --info --json gives it
  const char* title;  // as --info shows it ("AVI")
  uint32_t flavour;   // FileFlavour
  bool inspect_only;  // read only to be described, never remuxed
  // Its import builds the sample tables, so the bit rates come from them.
  bool tables_built;
  // Whether the file at offset 0 is of this format (the position is set
  // back to 0). Null for a flavour another row finds (QuickTime).
  bool (*probe)(ImportFile* file);
  // Builds the movie in `root`, which opening has created.
  ErrorCode (*import)(ImportFile* file, FileBoxes* root);
};

// Reads `file` through the first row that takes it, setting its flavour;
// Unsupported, with the file's kind as the failure reason where its first
// bytes tell, when none does.
ErrorCode import_by_table(MediaFile* file);

// What a file that no importer takes is, from its first bytes, as the
// phrase for "X is ...": "an empty file", "a Matroska file", "an MPEG
// transport stream", ... Null when the bytes say nothing known. The
// position is set back to 0.
const char* identify_foreign(MediaFile* file);

}  // namespace vantorel
