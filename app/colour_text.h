#pragma once
// Colour and display boxes in words: the short names of the colour codes
// (as ffprobe and the video standards' tables give them) and one phrase
// per box for --info.
#include <cstdint>
#include <cstdio>

#include "mediafile/mediafile.h"

namespace vantorel::app {

// Null for a code without a name (reserved values).
const char* colour_primaries_name(uint32_t code);
const char* colour_transfer_name(uint32_t code);
const char* colour_matrix_name(uint32_t code);

// ", colour bt709/bt709/bt709 limited range", ", mastering display ...",
// ", content light level ...", ", Dolby Vision ...": nothing for a box the
// track lacks.
void print_colour_text(std::FILE* out, const TrackDetails& details);

struct JsonWriter;
// The same as keys of a track's JSON object, named and valued as ffprobe
// names them ("color_primaries": "bt709", "red_x": "34000/50000", ...).
void print_colour_json(JsonWriter* w, const TrackDetails& details);

}  // namespace vantorel::app
