#pragma once
// Reading an MPEG program stream (.mpg, .mpeg, .vob, .mod, .tod) into the
// movie an MP4 file would give: one track per carried stream, in the order
// the streams first appear, whose samples are gathered from the packets
// when they are read. The packets' streams are split into access units by
// the same layer as a transport stream's.
#include "boxes/box_tree.h"
#include "import/import_file.h"

namespace vantorel {

// A pack header at the file's start (the position is set back to 0).
bool ps_probe(ImportFile* file);

// Imports the file into `root`. Unsupported when no stream of it can be
// carried (outside inspect mode).
ErrorCode ps_import(ImportFile* file, FileBoxes* root);

// DVD LPCM of 20 or 24 bits comes in blocks of samples in frame order,
// four (two for mono): the high 16 bits of each, then the low bits (24: a
// byte each; 20: a nibble each, two to a byte). `samples` samples (whole
// blocks) become big-endian 24-bit ones (20-bit ones padded).
void ps_lpcm_to_in24(const uint8_t* in, uint32_t samples, uint32_t channels, uint32_t bits, uint8_t* out);

}  // namespace vantorel
