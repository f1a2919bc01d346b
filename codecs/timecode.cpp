#include "codecs/timecode.h"

namespace vantorel {

namespace {

uint32_t u32be(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Size and type, six reserved bytes and the data reference index, four
// reserved bytes; then the time code's own fields.
constexpr uint32_t kFlagsAt = 20;
constexpr uint32_t kEntrySize = 34;

}  // namespace

bool timecode_entry_read(const uint8_t* entry, uint32_t size, TimecodeEntry* out) {
  *out = TimecodeEntry{};
  if (entry == nullptr || size < kEntrySize) return false;
  if (u32be(entry) < kEntrySize || u32be(entry) > size) return false;
  if (entry[4] != 't' || entry[5] != 'm' || entry[6] != 'c' || entry[7] != 'd') return false;
  out->flags = u32be(entry + kFlagsAt);
  out->timescale = u32be(entry + kFlagsAt + 4);
  out->frame_duration = u32be(entry + kFlagsAt + 8);
  out->frames_per_second = entry[kFlagsAt + 12];
  return true;
}

uint32_t timecode_advance(const TimecodeEntry& entry, uint32_t frame, uint64_t elapsed, uint32_t media_timescale) {
  if (entry.timescale == 0 || entry.frame_duration == 0 || media_timescale == 0) return frame;
  // elapsed / media_timescale seconds, in frames of frame_duration / timescale seconds.
  const unsigned __int128 num = static_cast<unsigned __int128>(elapsed) * entry.timescale;
  const unsigned __int128 den = static_cast<unsigned __int128>(media_timescale) * entry.frame_duration;
  const unsigned __int128 frames = (num + den - 1) / den;
  // The counter wraps as the 32-bit field does.
  return frame + static_cast<uint32_t>(frames);
}

}  // namespace vantorel
