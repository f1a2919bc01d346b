#pragma once
// Reading an MPEG transport stream (188-byte packets, 192-byte M2TS, 204
// bytes with check bytes) into the movie an MP4 file would give: one track
// per carried stream of the chosen program, in the order its PMT lists
// them, whose samples are expanded from the packets when they are read.
#include "boxes/box_tree.h"
#include "import/import_file.h"
#include "import/mpegts/ts_access.h"

namespace vantorel {

// Packets at one of the strides from the file's start (the position is set
// back to 0).
bool ts_probe_file(ImportFile* file);

// Imports the file into `root`: the program `file->program_number` names,
// or when that is 0 the one with the most packets. Missing when that
// program is not in the file; Unsupported when no stream of it can be
// carried (outside inspect mode).
ErrorCode ts_import(ImportFile* file, FileBoxes* root);

// Where samples get their bytes when read, for streams not in packets: the
// elementary-stream bytes of stream `pid` that `where` addresses, into
// `out` (`where.length` bytes). `release` frees `state`.
struct EsSource {
  ErrorCode (*expand)(void* state, FileIo* file, uint16_t pid, const EsLocator& where, uint8_t* out);
  void (*release)(void* state);
  void* state;
};

// Makes the tracks of the chosen program of `index` from the access units
// of `pass`, every edit on the 90 kHz clock. `source` (null: the packets
// of a transport stream) is taken over whatever the outcome.
ErrorCode ts_import_tracks(ImportFile* file, FileBoxes* root, const TsIndex* index, TsAccessPass* pass,
                           EsSource* source);

}  // namespace vantorel
