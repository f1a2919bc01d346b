// Joined inputs matched to the first track by track, and their sample
// entries gathered into one track's descriptions.
#include "remux/join_match.h"

#include <cstring>

#include "io/byte_io.h"
#include "io/value64.h"
#include "mediafile/mediafile.h"
#include "remux/join_plan.h"

namespace vantorel {

namespace {

// Where the data reference index lies in a sample entry; the output
// writes its own there, so it does not tell entries apart.
constexpr uint32_t kIndexAt = 14;


bool same_entry(const uint8_t* a, uint32_t a_size, const uint8_t* b, uint32_t b_size) {
  return a_size == b_size && a_size >= kIndexAt + 2 && std::memcmp(a, b, kIndexAt) == 0 &&
         std::memcmp(a + kIndexAt + 2, b + kIndexAt + 2, a_size - kIndexAt - 2) == 0;
}

// Whether every duration and composition offset of `source`, counted in
// `from` units, is a whole number of `to` units.
bool converts_exactly(const SampleSource& source, uint32_t from, uint32_t to) {
  if (from == 0 || to == 0) return false;
  uint32_t walk = 0;
  if (sample_walk_open(source.input, source.track_id, source.end_sample, &walk) != ErrorCode::Ok) return false;
  bool exact = true;
  SampleRead read{};
  for (uint32_t i = 0; exact && i < source.end_sample; ++i) {
    if (sample_walk_next(source.input, walk, &read) != ErrorCode::Ok) break;
    // Exact, and within the fields the output writes them to.
    const int64_t offset = static_cast<int64_t>(read.composition_offset) * to;
    exact = uint64_t{read.duration} * to % from == 0 && offset % static_cast<int64_t>(from) == 0 &&
            uint64_t{read.duration} * to / from <= UINT32_MAX && offset / from <= INT32_MAX && offset / from >= INT32_MIN;
  }
  sample_walk_close(source.input, walk);
  return exact;
}

// Whether the shift that presents `b`'s pictures from where the previous
// input's end fits a composition offset (media times of an edit can be
// anything a file says).
bool shift_fits(const PlannedTrack& a, const PlannedTrack& b) {
  if (a.timescale == 0 || b.timescale == 0 || b.media_time < 0 || a.media_time < 0) return false;
  const uint64_t converted = rescale(static_cast<uint64_t>(b.media_time), b.timescale, a.timescale);
  const int64_t shift = a.media_time - static_cast<int64_t>(std::min<uint64_t>(converted, INT64_MAX / 2));
  return shift >= INT32_MIN / 2 && shift <= INT32_MAX / 2;
}

}  // namespace

Entries entries_of(const TrackPlan& plan, const PlannedTrack& row) {
  Entries e{};
  if (track_whole_entries(plan.input, row.input_track_id, &e.bytes, &e.size, &e.count) != ErrorCode::Ok) return Entries{};
  return e;
}

// The first failing check of track `i` of a later plan against the first's.
ErrorCode match_track(const TrackPlan& first, const TrackPlan& other, uint32_t i, uint32_t* fault) {
  const PlannedTrack& a = first.tracks[i];
  const PlannedTrack& b = other.tracks[i];
  TrackInfo ia, ib;
  VT_TRY(track_info(first.input, a.input_track_id, &ia));
  VT_TRY(track_info(other.input, b.input_track_id, &ib));
  uint32_t ma[9], mb[9];
  const bool has_a = track_matrix(first.input, a.input_track_id, ma) == ErrorCode::Ok;
  const bool has_b = track_matrix(other.input, b.input_track_id, mb) == ErrorCode::Ok;
  if (ia.kind != ib.kind || a.video != b.video || a.audio != b.audio || a.subpicture != b.subpicture) {
    *fault = kJoinKind;
  } else if (!(a.fourcc == b.fourcc)) {
    *fault = kJoinCodec;
  } else if (has_a != has_b || (has_a && std::memcmp(ma, mb, sizeof ma) != 0)) {
    *fault = kJoinMatrix;
  } else if (a.timescale != b.timescale && !converts_exactly(other.sources[b.first_source], b.timescale, a.timescale)) {
    *fault = kJoinTimescale;
  } else if (a.video && !shift_fits(a, b)) {
    *fault = kJoinTiming;
  } else if (!(a.carried_whole && entries_of(first, a).count != 0 && entries_of(other, b).count != 0) &&
             !track_configs_agree(&ia, &ib)) {
    // Entries built from the configuration are one description for all.
    *fault = kJoinConfiguration;
  } else {
    *fault = kJoinMet;
  }
  return ErrorCode::Ok;
}

// Adds the entries not yet among `joined` and writes each one's output
// number into the map: count first, then the numbers.
ErrorCode map_entries(JoinedEntries* joined, const Entries& entries, GrowArray<uint32_t>* map, uint32_t* map_at) {
  const uint8_t* bytes = entries.bytes;
  const uint32_t size = entries.size;
  *map_at = map->count + 1;
  VT_TRY(map->append(entries.count));
  for (uint32_t e = 0; e < entries.count; ++e) {
    uint32_t at = 0, length = 0;
    if (!sample_entry_at(bytes, size, entries.count, e, &at, &length)) return ErrorCode::Malformed;
    uint32_t number = 0, seen = 0;
    for (uint32_t k = 0; k < joined->count && number == 0; ++k) {
      uint32_t seen_length = 0;
      if (!sample_entry_at(joined->bytes.data(), joined->bytes.count, joined->count, k, &seen, &seen_length))
        return ErrorCode::Malformed;
      if (same_entry(joined->bytes.data() + seen, seen_length, bytes + at, length)) number = k + 1;
    }
    if (number == 0) {
      if (joined->bytes.count > UINT32_MAX - length) return ErrorCode::OutOfMemory;
      VT_TRY(joined->bytes.reserve(joined->bytes.count + length));
      for (uint32_t b = 0; b < length; ++b) VT_TRY(joined->bytes.append(bytes[at + b]));
      number = ++joined->count;
    }
    VT_TRY(map->append(number));
  }
  return ErrorCode::Ok;
}

bool sample_entry_at(const uint8_t* bytes, uint32_t size, uint32_t count, uint32_t index, uint32_t* at,
                     uint32_t* length) {
  if (bytes == nullptr || index >= count) return false;
  uint32_t offset = 0;
  for (uint32_t i = 0;; ++i) {
    if (size - offset < kIndexAt + 2) return false;
    const uint32_t entry = load_u32be(bytes + offset);
    if (entry < kIndexAt + 2 || entry > size - offset) return false;
    if (i == index) {
      *at = offset;
      *length = entry;
      return true;
    }
    offset += entry;
  }
}

}  // namespace vantorel
