#pragma once
// The LIST of --tracks and --drop: track ids as --info shows them, or the
// kinds video, audio, subtitle and data, separated by commas.
#include <cstddef>
#include <cstdint>

#include "app/command_line.h"
#include "remux/remux.h"

namespace vantorel::app {

// More items than any file has tracks of use; the command line stays bounded.
constexpr uint32_t kMaxTrackPicks = 64;

struct TrackList {
  TrackPick picks[kMaxTrackPicks];
  uint32_t count;
};

// Parses `text`, the value of `option`. False with the item that is not a
// track id or a kind named in `error`.
bool parse_track_list(const char* text, const char* option, TrackList* out, char (&error)[kCommandErrorCapacity]);

// Item `index` of a list as given: where it starts in `text` and its length.
// False past the last item.
bool track_list_item(const char* text, uint32_t index, const char** start, size_t* length);

}  // namespace vantorel::app
