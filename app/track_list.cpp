#include "app/track_list.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace vantorel::app {

namespace {

struct KindName {
  const char* name;
  uint32_t kinds;
};
constexpr KindName kKindNames[] = {
    {"video", kTrackVideo}, {"audio", kTrackAudio}, {"subtitle", kTrackSubtitle}, {"data", kTrackData}};

bool same_word(const char* item, size_t length, const char* word) {
  if (std::strlen(word) != length) return false;
  for (size_t i = 0; i < length; ++i)
    if (std::tolower(static_cast<unsigned char>(item[i])) != word[i]) return false;
  return true;
}

// A track id: decimal digits, 1 to 2^32 - 1.
bool parse_track_id(const char* item, size_t length, uint32_t* id) {
  if (length == 0 || length > 10) return false;
  uint64_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    if (item[i] < '0' || item[i] > '9') return false;
    value = value * 10 + static_cast<uint64_t>(item[i] - '0');
  }
  if (value == 0 || value > UINT32_MAX) return false;
  *id = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

bool track_list_item(const char* text, uint32_t index, const char** start, size_t* length) {
  if (text == nullptr) return false;
  const char* p = text;
  for (uint32_t i = 0; i < index; ++i) {
    p = std::strchr(p, ',');
    if (p == nullptr) return false;
    ++p;
  }
  const char* comma = std::strchr(p, ',');
  *start = p;
  *length = comma != nullptr ? static_cast<size_t>(comma - p) : std::strlen(p);
  return true;
}

bool parse_track_list(const char* text, const char* option, TrackList* out, char (&error)[kCommandErrorCapacity]) {
  *out = TrackList{};
  const char* item = nullptr;
  size_t length = 0;
  for (uint32_t index = 0; track_list_item(text, index, &item, &length); ++index) {
    if (out->count == kMaxTrackPicks) {
      std::snprintf(error, kCommandErrorCapacity, "%s takes at most %u items", option, kMaxTrackPicks);
      return false;
    }
    TrackPick pick{};
    for (const KindName& kind : kKindNames)
      if (same_word(item, length, kind.name)) pick.kinds = kind.kinds;
    if (pick.kinds == 0 && !parse_track_id(item, length, &pick.track_id)) {
      std::snprintf(error, kCommandErrorCapacity,
                    "bad track '%.*s' for %s: give track ids as --info shows them, or video, audio, subtitle, data, "
                    "separated by commas",
                    static_cast<int>(length > 40 ? 40 : length), item, option);
      return false;
    }
    out->picks[out->count++] = pick;
  }
  return true;
}

}  // namespace vantorel::app
