#include "sampletables/random_access_groups.h"

#include <cstring>

#include "io/value64.h"
#include "sampletables/sample_groups.h"

namespace vantorel {

namespace {

// One 'sgpd' of version 1 with entries of `entry_size` bytes.
ErrorCode add_description(SampleGroupsRecord* g, const char* type, uint32_t entry_size, const uint32_t* values,
                          uint32_t count) {
  const uint32_t size = 24 + entry_size * count;
  OwnedBlock box{};
  VT_TRY(block_assign(&box, nullptr, size));
  uint8_t* p = box.bytes;
  auto put32 = [&p](uint32_t v) {
    for (int i = 3; i >= 0; --i) *p++ = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(size);
  std::memcpy(p, "sgpd", 4);
  p += 4;
  put32(0x01000000);  // version 1, no flags
  std::memcpy(p, type, 4);
  p += 4;
  put32(entry_size);
  put32(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (entry_size == 2) *p++ = static_cast<uint8_t>(values[i] >> 8);
    *p++ = static_cast<uint8_t>(values[i]);
  }
  ErrorCode e = g->descriptions.append(box);
  if (e != ErrorCode::Ok) block_release(&box);
  return e;
}

// One grouping whose sample k is in group index_of(k) (0: none).
template <class IndexOf>
ErrorCode add_grouping(SampleGroupsRecord* g, const char* type, uint32_t samples, IndexOf index_of) {
  SampleGrouping s{};
  s.grouping_type = FourCC::of(type).to_u32();
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t k = 0; k < samples && e == ErrorCode::Ok; ++k) {
    const uint32_t index = index_of(k);
    if (s.runs.count > 0 && s.runs.back().group_index == index) ++s.runs.back().sample_count;
    else e = s.runs.append_doubling(GroupRun{1, index}, 16);
  }
  if (e == ErrorCode::Ok) e = g->groupings.append(s);
  if (e != ErrorCode::Ok) s.runs.release();
  return e;
}

}  // namespace

ErrorCode add_random_access_groups(TrackBoxes* track, const GrowArray<uint32_t>& groups) {
  constexpr uint32_t kMaxRolls = 64;
  uint32_t rolls[kMaxRolls], roll_count = 0;
  bool rap = false;
  for (uint32_t v : groups) {
    if (v == kRapGroup) {
      rap = true;
      continue;
    }
    if (v == 0 || v > 0x7FFF) continue;
    bool known = false;
    for (uint32_t i = 0; i < roll_count; ++i) known = known || rolls[i] == v;
    if (!known && roll_count < kMaxRolls) rolls[roll_count++] = v;
  }
  if (!rap && roll_count == 0) return ErrorCode::Ok;
  SampleGroupsRecord* g = sample_groups_make(track);
  if (g == nullptr) return ErrorCode::OutOfMemory;
  if (roll_count > 0) {
    VT_TRY(add_description(g, "roll", 2, rolls, roll_count));
    VT_TRY(add_grouping(g, "roll", groups.count, [&](uint32_t k) {
      for (uint32_t i = 0; i < roll_count; ++i)
        if (groups[k] == rolls[i]) return i + 1;
      return 0u;
    }));
  }
  if (rap) {
    const uint32_t unknown_leading = 0;
    VT_TRY(add_description(g, "rap ", 1, &unknown_leading, 1));
    VT_TRY(add_grouping(g, "rap ", groups.count, [&](uint32_t k) { return groups[k] == kRapGroup ? 1u : 0u; }));
  }
  return ErrorCode::Ok;
}

ErrorCode add_preroll_group(TrackBoxes* track, uint64_t preroll, uint32_t timescale, uint32_t frame, uint32_t samples) {
  if (preroll == 0 || frame == 0 || samples == 0) return ErrorCode::Ok;
  const uint64_t back = (rescale(preroll, 1000000000u, timescale) + frame - 1) / frame;
  if (back == 0 || back > 0x7FFF) return ErrorCode::Ok;
  SampleGroupsRecord* groups = sample_groups_make(track);
  if (groups == nullptr) return ErrorCode::OutOfMemory;
  uint8_t sgpd[26] = {0, 0, 0, 26, 's', 'g', 'p', 'd', 1, 0, 0, 0, 'r', 'o', 'l', 'l', 0, 0, 0, 2, 0, 0, 0, 1};
  const uint16_t distance = static_cast<uint16_t>(-static_cast<int32_t>(back));
  sgpd[24] = static_cast<uint8_t>(distance >> 8);
  sgpd[25] = static_cast<uint8_t>(distance);
  OwnedBlock description{};
  VT_TRY(block_assign(&description, sgpd, sizeof sgpd));
  ErrorCode e = groups->descriptions.append(description);
  if (e != ErrorCode::Ok) {
    block_release(&description);
    return e;
  }
  SampleGrouping grouping{};
  grouping.grouping_type = FourCC::of("roll").to_u32();
  VT_TRY(grouping.runs.append(GroupRun{samples, 1}));
  e = groups->groupings.append(grouping);
  if (e != ErrorCode::Ok) grouping.runs.release();
  return e;
}

}  // namespace vantorel
