#include "sampletables/sample_groups.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "boxes/fields.h"
#include "io/byte_io.h"

namespace vantorel {

namespace {

StblRecord* stbl_of(TrackBoxes* track) { return track_record<StblRecord>(track, BoxTypeId::Stbl); }

// The track's groups, made on first use.
SampleGroupsRecord* groups_for(TrackBoxes* track) {
  StblRecord* stbl = stbl_of(track);
  if (stbl == nullptr) return nullptr;
  if (stbl->groups == nullptr) stbl->groups = alloc_record<SampleGroupsRecord>();
  return stbl->groups;
}

struct SbgpHead {
  uint8_t version;
  uint32_t flags;
  uint32_t grouping_type;
  uint32_t parameter;
  uint32_t count;
};
constexpr Field kSbgpLayout[] = {
    version_field(offsetof(SbgpHead, version)),
    flags_field(offsetof(SbgpHead, flags)),
    u32_field(offsetof(SbgpHead, grouping_type)),
    u32_field(offsetof(SbgpHead, parameter)),  // version 1 only
    u32_field(offsetof(SbgpHead, count)),
};
constexpr Field kSbgpV0Layout[] = {
    version_field(offsetof(SbgpHead, version)),
    flags_field(offsetof(SbgpHead, flags)),
    u32_field(offsetof(SbgpHead, grouping_type)),
    u32_field(offsetof(SbgpHead, count)),
};
constexpr Field kRunLayout[] = {u32_field(offsetof(GroupRun, sample_count)), u32_field(offsetof(GroupRun, group_index))};

Layout sbgp_layout(uint8_t version) { return version == 1 ? Layout(kSbgpLayout) : Layout(kSbgpV0Layout); }

// The group of sample `index` (0-based) in a grouping; 0 past its runs.
uint32_t group_of(SampleGrouping* g, uint32_t index) {
  if (index < g->cursor_first || g->cursor_run >= g->runs.count) {
    g->cursor_run = 0;
    g->cursor_first = 0;
  }
  while (g->cursor_run < g->runs.count) {
    const GroupRun& run = g->runs[g->cursor_run];
    if (index - g->cursor_first < run.sample_count) return run.group_index;
    g->cursor_first += run.sample_count;
    ++g->cursor_run;
  }
  return 0;
}

ErrorCode write_sbgp(BoxFile* file, void* context) {
  const auto* g = static_cast<const SampleGrouping*>(context);
  SbgpHead head{g->version, g->flags, g->grouping_type, g->parameter, g->runs.count};
  VT_TRY(write_fields(file, sbgp_layout(g->version), &head));
  for (const GroupRun& run : g->runs) VT_TRY(write_fields(file, kRunLayout, &run));
  return ErrorCode::Ok;
}

uint64_t sbgp_payload(const SampleGrouping& g) {
  SbgpHead head{g.version, 0, 0, 0, 0};
  return size_fields(sbgp_layout(g.version), &head) + uint64_t{g.runs.count} * 8;
}

ErrorCode write_sdtp(BoxFile* file, void* context) {
  const auto* groups = static_cast<const SampleGroupsRecord*>(context);
  VT_TRY(write_u32be(file, 0));  // version and flags
  if (groups->dependencies.count == 0) return ErrorCode::Ok;
  return write_bytes(file, groups->dependencies.items, groups->dependencies.count);
}

// Room for `more` bytes after the ones held, doubling; no table of
// sub-samples is larger than an owned block.
ErrorCode grow_bytes(GrowArray<uint8_t>* bytes, uint32_t more) {
  uint64_t need = uint64_t{bytes->count} + more;
  if (need > kMaxOwnedBlock) return ErrorCode::OutOfMemory;
  if (need <= bytes->capacity) return ErrorCode::Ok;
  uint64_t want = uint64_t{bytes->capacity} * 2;
  if (want < need) want = need;
  if (want > kMaxOwnedBlock) want = kMaxOwnedBlock;
  return bytes->reserve(static_cast<uint32_t>(want));
}

// The 'subs' entry of sample `index`, or null.
const SubsampleEntry* subsamples_of(SampleGroupsRecord* g, uint32_t index) {
  if (g->subs_cursor >= g->subsamples.count || g->subsamples[g->subs_cursor].sample > index) g->subs_cursor = 0;
  while (g->subs_cursor < g->subsamples.count && g->subsamples[g->subs_cursor].sample < index) ++g->subs_cursor;
  if (g->subs_cursor < g->subsamples.count && g->subsamples[g->subs_cursor].sample == index)
    return &g->subsamples[g->subs_cursor];
  return nullptr;
}

uint32_t subsample_size(uint8_t version) { return (version == 1 ? 4u : 2u) + 6u; }

uint64_t subs_payload(const SampleGroupsRecord& g) {
  return 8 + uint64_t{g.subsamples.count} * 6 + g.subsample_bytes.count;
}

ErrorCode write_subs(BoxFile* file, void* context) {
  const auto* g = static_cast<const SampleGroupsRecord*>(context);
  VT_TRY(write_u8(file, g->subs_version));
  VT_TRY(write_u24be(file, g->subs_flags));
  VT_TRY(write_u32be(file, g->subsamples.count));
  uint32_t previous = 0;
  for (uint32_t i = 0; i < g->subsamples.count; ++i) {
    const SubsampleEntry& e = g->subsamples[i];
    // Sample deltas count from the previous entry's sample, the first from 0 (sample 1 is delta 1).
    VT_TRY(write_u32be(file, e.sample + 1 - previous));
    previous = e.sample + 1;
    VT_TRY(write_u16be(file, e.count));
    if (e.length > 0) VT_TRY(write_bytes(file, g->subsample_bytes.items + e.offset, e.length));
  }
  return ErrorCode::Ok;
}

uint64_t whole(const char* type, uint64_t payload) { return box_header_length(FourCC::of(type), payload) + payload; }

// An 'sgpd' held whole (with a 32-bit size): its type, entry count and
// where its entries start; `separable` when each entry's length is known
// (version 1: a default length, or a length before each entry).
struct SgpdShape {
  uint32_t grouping_type;
  uint32_t default_length;
  uint32_t count;
  uint32_t entries_at;
  bool separable;
};

// Descriptions are merged entry by entry up to this many entries; past it
// they are compared whole (the look-up for an identical entry is quadratic).
constexpr uint32_t kMaxMergedEntries = 256;
// The descriptions and groupings of a joined input looked at: real tracks
// have a few, and each is looked up among the written ones.
constexpr uint32_t kMaxJoinedDescriptions = 64;
// JoinedNumbering::first of a description whose numbers stay as read.
constexpr uint32_t kOwnNumbers = UINT32_MAX;

bool sgpd_shape(const OwnedBlock& b, SgpdShape* out) {
  *out = SgpdShape{};
  if (b.length < 16 || load_u32be(b.bytes) != b.length) return false;
  out->grouping_type = load_u32be(b.bytes + 12);
  const uint8_t version = b.bytes[8];
  uint32_t at = 16;
  if (version >= 1) {
    if (b.length - at < 4) return false;
    if (version == 1) out->default_length = load_u32be(b.bytes + at);
    at += 4;
  }
  if (b.length - at < 4) return false;
  out->count = load_u32be(b.bytes + at);
  out->entries_at = at + 4;
  out->separable = version == 1 && out->count <= kMaxMergedEntries;
  return true;
}

// Entry `index` of a separable description: where its bytes lie, how many.
bool sgpd_entry(const OwnedBlock& b, const SgpdShape& shape, uint32_t index, uint32_t* at, uint32_t* length) {
  if (!shape.separable || index >= shape.count) return false;
  uint32_t offset = shape.entries_at;
  for (uint32_t i = 0;; ++i) {
    uint32_t n = shape.default_length;
    if (n == 0) {
      if (b.length - offset < 4) return false;
      n = load_u32be(b.bytes + offset);
      offset += 4;
    }
    if (n > b.length - offset) return false;
    if (i == index) {
      *at = offset;
      *length = n;
      return true;
    }
    offset += n;
  }
}

// Appends an entry to a separable description; its new count in `*number`.
ErrorCode sgpd_append(OwnedBlock* b, const SgpdShape& shape, const uint8_t* entry, uint32_t length, uint32_t* number) {
  const uint32_t lead = shape.default_length == 0 ? 4 : 0;
  if (shape.default_length != 0 && length != shape.default_length) return ErrorCode::Malformed;
  if (length > kMaxOwnedBlock - lead || b->length > kMaxOwnedBlock - lead - length) return ErrorCode::Malformed;
  OwnedBlock grown{};
  VT_TRY(block_assign(&grown, nullptr, b->length + lead + length));
  std::memcpy(grown.bytes, b->bytes, b->length);
  if (lead > 0) store_u32be(grown.bytes + b->length, length);
  std::memcpy(grown.bytes + b->length + lead, entry, length);
  store_u32be(grown.bytes, grown.length);
  *number = shape.count + 1;
  store_u32be(grown.bytes + shape.entries_at - 4, *number);
  block_release(b);
  *b = grown;
  return ErrorCode::Ok;
}

// The written numbers of description `d` of a joined input (0: no group);
// `*same` when they are its own (a description the written track lacked, or
// one byte-identical to its).
ErrorCode number_entries(SampleGroupsRecord* target, const OwnedBlock& d, const SgpdShape& shape,
                         GrowArray<uint32_t>* numbers, bool* same_numbers) {
  OwnedBlock* written = nullptr;
  SgpdShape w{};
  for (OwnedBlock& b : target->descriptions)
    if (sgpd_shape(b, &w) && w.grouping_type == shape.grouping_type) {
      written = &b;
      break;
    }
  const bool same = written != nullptr && written->length == d.length && std::memcmp(written->bytes, d.bytes, d.length) == 0;
  if (written == nullptr) {
    OwnedBlock copy{};
    VT_TRY(block_assign(&copy, d.bytes, d.length));
    ErrorCode e = target->descriptions.append(copy);
    if (e != ErrorCode::Ok) {
      block_release(&copy);
      return e;
    }
  }
  *same_numbers = written == nullptr || same;
  if (*same_numbers) return ErrorCode::Ok;
  const bool mergeable = shape.separable && w.separable &&
                         written->bytes[8] == d.bytes[8] && w.default_length == shape.default_length;
  for (uint32_t i = 0; i < shape.count && i < kMaxMergedEntries; ++i) {
    uint32_t number = 0;
    uint32_t at = 0, length = 0;
    if (mergeable && sgpd_entry(d, shape, i, &at, &length)) {
      for (uint32_t k = 0; k < w.count && number == 0; ++k) {
        uint32_t wat = 0, wlength = 0;
        if (sgpd_entry(*written, w, k, &wat, &wlength) && wlength == length &&
            std::memcmp(written->bytes + wat, d.bytes + at, length) == 0)
          number = k + 1;
      }
      if (number == 0 && w.count < kMaxMergedEntries && sgpd_append(written, w, d.bytes + at, length, &number) == ErrorCode::Ok)
        w.count = number;
    }
    VT_TRY(numbers->append(number));
  }
  return ErrorCode::Ok;
}

// Adds `source`'s groups to the written track's, with their numbers there.
ErrorCode join_groups(SampleGroupsRecord* target, SampleGroupsRecord* source, JoinedGroups* joined) {
  if (source == nullptr) return ErrorCode::Ok;
  for (const OwnedBlock& d : source->descriptions) {
    SgpdShape shape{};
    if (joined->types.count == kMaxJoinedDescriptions) break;
    if (!sgpd_shape(d, &shape)) continue;
    JoinedNumbering numbering{shape.grouping_type, joined->numbers.count, 0};
    bool same_numbers = false;
    VT_TRY(number_entries(target, d, shape, &joined->numbers, &same_numbers));
    numbering.count = same_numbers ? shape.count : joined->numbers.count - numbering.first;
    if (same_numbers) numbering.first = kOwnNumbers;
    VT_TRY(joined->types.append(numbering));
  }
  // As many of its groupings as of its descriptions.
  const uint32_t groupings = std::min(source->groupings.count, kMaxJoinedDescriptions);
  for (uint32_t j = 0; j < groupings; ++j) {
    const SampleGrouping& g = source->groupings[j];
    bool have = false;
    for (const SampleGrouping& w : target->groupings)
      have = have || (w.grouping_type == g.grouping_type && w.parameter == g.parameter);
    if (have) continue;
    SampleGrouping empty{};
    empty.version = g.version;
    empty.flags = g.flags;
    empty.grouping_type = g.grouping_type;
    empty.parameter = g.parameter;
    // The samples recorded before it belong to no group of it.
    if (target->samples_followed > 0) VT_TRY(empty.runs.append(GroupRun{target->samples_followed, 0}));
    ErrorCode e = target->groupings.append(empty);
    if (e != ErrorCode::Ok) {
      empty.runs.release();
      return e;
    }
  }
  for (const SampleGrouping& w : target->groupings) {
    uint32_t match = 0;
    for (uint32_t j = 0; j < groupings && match == 0; ++j)
      if (source->groupings[j].grouping_type == w.grouping_type && source->groupings[j].parameter == w.parameter)
        match = j + 1;
    VT_TRY(joined->groupings.append(match));
  }
  if (source->has_dependencies && !target->has_dependencies) {
    target->has_dependencies = 1;
    for (uint32_t i = 0; i < target->samples_followed; ++i) VT_TRY(target->dependencies.append_doubling(uint8_t{0}));
  }
  joined->subsamples = source->has_subsamples &&
                       (!target->has_subsamples || (target->subs_version == source->subs_version &&
                                                    target->subs_flags == source->subs_flags));
  if (joined->subsamples && !target->has_subsamples) {
    target->has_subsamples = 1;
    target->subs_version = source->subs_version;
    target->subs_flags = source->subs_flags;
  }
  return ErrorCode::Ok;
}

// A joined input's group `group` of `type` as the written track numbers it.
uint32_t joined_number(const JoinedGroups& joined, uint32_t type, uint32_t group) {
  if (group == 0) return 0;
  for (const JoinedNumbering& n : joined.types)
    if (n.grouping_type == type) {
      if (group > n.count) return 0;
      return n.first == kOwnNumbers ? group : joined.numbers[n.first + group - 1];
    }
  return 0;
}

ErrorCode copy_subsamples(SampleGroupsRecord* target, SampleGroupsRecord* source, uint32_t index, uint32_t written) {
  const SubsampleEntry* e = subsamples_of(source, index);
  if (e == nullptr) return ErrorCode::Ok;
  SubsampleEntry copy{written, target->subsample_bytes.count, e->length, e->count};
  VT_TRY(grow_bytes(&target->subsample_bytes, e->length));
  for (uint32_t i = 0; i < e->length; ++i) target->subsample_bytes.items[copy.offset + i] = source->subsample_bytes[e->offset + i];
  target->subsample_bytes.count += e->length;
  return target->subsamples.append_doubling(copy, 64);
}

// A sample of a joined track: groupings matched by type and parameter,
// numbers through the input's (those of the track it started from as read).
ErrorCode follow_joined(SampleGroupsRecord* target, SampleGroupsRecord* source, const JoinedGroups* joined,
                        uint32_t index) {
  for (uint32_t i = 0; i < target->groupings.count; ++i) {
    SampleGrouping& w = target->groupings[i];
    // The track it started from made the first groupings, in its order.
    uint32_t j = joined == nullptr ? i + 1 : (i < joined->groupings.count ? joined->groupings[i] : 0);
    if (source == nullptr || j > source->groupings.count) j = 0;
    uint32_t group = j > 0 ? group_of(&source->groupings[j - 1], index) : 0;
    if (j > 0 && joined != nullptr) group = joined_number(*joined, w.grouping_type, group);
    if (w.runs.count > 0 && w.runs.back().group_index == group) {
      ++w.runs.back().sample_count;
    } else {
      VT_TRY(w.runs.append_doubling(GroupRun{1, group}));
    }
  }
  if (target->has_dependencies) {
    const uint8_t flags = source != nullptr && index < source->dependencies.count ? source->dependencies[index] : 0;
    VT_TRY(target->dependencies.append_doubling(flags));
  }
  const uint32_t written = target->samples_followed++;
  const bool subsamples = source != nullptr && (joined != nullptr ? joined->subsamples : source->has_subsamples != 0);
  if (target->has_subsamples && subsamples) VT_TRY(copy_subsamples(target, source, index, written));
  return ErrorCode::Ok;
}

}  // namespace

SampleGroupsRecord* sample_groups_make(TrackBoxes* track) { return groups_for(track); }

SampleGroupsRecord* sample_groups(TrackBoxes* track) {
  StblRecord* stbl = stbl_of(track);
  return stbl != nullptr ? stbl->groups : nullptr;
}

void sample_groups_release(TrackBoxes* track) {
  StblRecord* stbl = stbl_of(track);
  if (stbl == nullptr || stbl->groups == nullptr) return;
  SampleGroupsRecord* g = stbl->groups;
  for (OwnedBlock& b : g->descriptions) block_release(&b);
  g->descriptions.release();
  for (SampleGrouping& s : g->groupings) s.runs.release();
  g->groupings.release();
  g->dependencies.release();
  g->subsamples.release();
  g->subsample_bytes.release();
  for (JoinedGroups& j : g->joined) {
    j.types.release();
    j.numbers.release();
    j.groupings.release();
  }
  g->joined.release();
  std::free(g);
  stbl->groups = nullptr;
}

ErrorCode sgpd_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  SampleGroupsRecord* groups = groups_for(static_cast<TrackBoxes*>(context));
  if (groups == nullptr) return ErrorCode::OutOfMemory;
  // Kept whole, header and all, from the box's start.
  VT_TRY(file_seek(file, header->start));
  OwnedBlock block{};
  VT_TRY(block_read(file, &block, header->size, "'sgpd' larger than 16 MiB"));
  ErrorCode e = groups->descriptions.append(block);
  if (e != ErrorCode::Ok) block_release(&block);
  return e;
}

ErrorCode sbgp_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  SampleGroupsRecord* groups = groups_for(static_cast<TrackBoxes*>(context));
  if (groups == nullptr) return ErrorCode::OutOfMemory;
  if (!box_has(file, header, 1)) return short_box(file, "'sbgp' shorter than its fields");
  uint64_t at = file_tell(file);
  uint8_t version = read_u8(file);
  VT_TRY(file_seek(file, at));
  SbgpHead head{};
  VT_TRY(read_fields(file, header, sbgp_layout(version), &head, "'sbgp' shorter than its fields"));
  if (!box_holds(file, header, head.count, 8)) return malformed(file, "'sbgp' entry count larger than the box");
  SampleGrouping g{};
  g.version = head.version;
  g.flags = head.flags;
  g.grouping_type = head.grouping_type;
  g.parameter = head.parameter;
  ErrorCode e = g.runs.reserve(head.count);
  for (uint32_t i = 0; e == ErrorCode::Ok && i < head.count; ++i) {
    GroupRun run{};
    e = read_fields(file, header, kRunLayout, &run, "'sbgp' entry count larger than the box");
    if (e == ErrorCode::Ok) e = g.runs.append(run);
  }
  if (e == ErrorCode::Ok) e = groups->groupings.append(g);
  if (e != ErrorCode::Ok) g.runs.release();
  return e;
}

ErrorCode sdtp_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  SampleGroupsRecord* groups = groups_for(static_cast<TrackBoxes*>(context));
  if (groups == nullptr) return ErrorCode::OutOfMemory;
  if (groups->has_dependencies) return ErrorCode::Ok;  // the first box wins
  if (!box_has(file, header, 4)) return short_box(file, "'sdtp' shorter than its fields");
  VT_TRY(file_skip(file, 4));
  uint64_t count = box_bytes_left(file, header);
  if (count > kMaxOwnedBlock) return malformed(file, "'sdtp' larger than 16 MiB");
  VT_TRY(groups->dependencies.reserve(static_cast<uint32_t>(count)));
  groups->dependencies.count = static_cast<uint32_t>(count);
  if (count > 0) VT_TRY(read_bytes(file, groups->dependencies.items, static_cast<uint32_t>(count)));
  groups->has_dependencies = 1;
  return ErrorCode::Ok;
}

ErrorCode subs_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  SampleGroupsRecord* groups = groups_for(static_cast<TrackBoxes*>(context));
  if (groups == nullptr) return ErrorCode::OutOfMemory;
  if (groups->has_subsamples) return ErrorCode::Ok;  // the first box wins
  if (!box_has(file, header, 8)) return short_box(file, "'subs' shorter than its fields");
  uint8_t version = read_u8(file);
  uint32_t flags = read_u24be(file);
  uint32_t count = read_u32be(file);
  if (!box_holds(file, header, count, 6)) return malformed(file, "'subs' entry count larger than the box");
  uint64_t sample = 0;  // 1-based number of the entry's sample
  uint32_t per = subsample_size(version);
  for (uint32_t i = 0; i < count; ++i) {
    if (!box_has(file, header, 6)) return malformed(file, "'subs' entry count larger than the box");
    sample += read_u32be(file);
    uint16_t n = read_u16be(file);
    if (!box_holds(file, header, n, per)) return malformed(file, "'subs' sub-sample count larger than the box");
    if (sample == 0 || sample > UINT32_MAX) return malformed(file, "'subs' sample out of range");
    SubsampleEntry e{static_cast<uint32_t>(sample - 1), groups->subsample_bytes.count, n * per, n};
    if (grow_bytes(&groups->subsample_bytes, e.length) != ErrorCode::Ok)
      return malformed(file, "'subs' larger than 16 MiB");
    if (e.length > 0) VT_TRY(read_bytes(file, groups->subsample_bytes.items + e.offset, e.length));
    groups->subsample_bytes.count += e.length;
    VT_TRY(groups->subsamples.append_doubling(e, 64));
  }
  if (io_failed(file)) return ErrorCode::Io;
  groups->has_subsamples = 1;
  groups->subs_version = version;
  groups->subs_flags = flags;
  return ErrorCode::Ok;
}

ErrorCode sample_groups_write(BoxFile* file, TrackBoxes* track) {
  SampleGroupsRecord* groups = sample_groups(track);
  if (groups == nullptr) return ErrorCode::Ok;
  for (const OwnedBlock& b : groups->descriptions) VT_TRY(block_write(file, &b));
  for (SampleGrouping& g : groups->groupings)
    VT_TRY(write_box(file, FourCC::of("sbgp"), nullptr, sbgp_payload(g), write_sbgp, &g));
  if (groups->has_dependencies)
    VT_TRY(write_box(file, FourCC::of("sdtp"), nullptr, 4 + uint64_t{groups->dependencies.count}, write_sdtp, groups));
  if (groups->has_subsamples) VT_TRY(write_box(file, FourCC::of("subs"), nullptr, subs_payload(*groups), write_subs, groups));
  return ErrorCode::Ok;
}

uint64_t sample_groups_size(TrackBoxes* track) {
  SampleGroupsRecord* groups = sample_groups(track);
  if (groups == nullptr) return 0;
  uint64_t total = 0;
  for (const OwnedBlock& b : groups->descriptions) total += b.length;
  for (const SampleGrouping& g : groups->groupings) total += whole("sbgp", sbgp_payload(g));
  if (groups->has_dependencies) total += whole("sdtp", 4 + uint64_t{groups->dependencies.count});
  if (groups->has_subsamples) total += whole("subs", subs_payload(*groups));
  return total;
}

ErrorCode sample_groups_start(TrackBoxes* to, TrackBoxes* from) {
  SampleGroupsRecord* source = sample_groups(from);
  if (source == nullptr) return ErrorCode::Ok;
  SampleGroupsRecord* target = groups_for(to);
  if (target == nullptr) return ErrorCode::OutOfMemory;
  for (const OwnedBlock& b : source->descriptions) {
    OwnedBlock copy{};
    VT_TRY(block_assign(&copy, b.bytes, b.length));
    ErrorCode e = target->descriptions.append(copy);
    if (e != ErrorCode::Ok) {
      block_release(&copy);
      return e;
    }
  }
  for (const SampleGrouping& g : source->groupings) {
    SampleGrouping empty{};
    empty.version = g.version;
    empty.flags = g.flags;
    empty.grouping_type = g.grouping_type;
    empty.parameter = g.parameter;
    VT_TRY(target->groupings.append(empty));
  }
  target->has_dependencies = source->has_dependencies;
  target->has_subsamples = source->has_subsamples;
  target->subs_version = source->subs_version;
  target->subs_flags = source->subs_flags;
  return ErrorCode::Ok;
}

ErrorCode sample_groups_join(TrackBoxes* to, TrackBoxes* from) {
  SampleGroupsRecord* target = groups_for(to);
  if (target == nullptr) return ErrorCode::OutOfMemory;
  JoinedGroups joined{};
  joined.from = from;
  ErrorCode e = join_groups(target, sample_groups(from), &joined);
  if (e == ErrorCode::Ok) e = target->joined.append(joined);
  if (e != ErrorCode::Ok) {
    joined.types.release();
    joined.numbers.release();
    joined.groupings.release();
  }
  return e;
}

ErrorCode sample_groups_follow(TrackBoxes* to, TrackBoxes* from, uint32_t index, uint32_t count) {
  SampleGroupsRecord* source = sample_groups(from);
  SampleGroupsRecord* target = sample_groups(to);
  if (target != nullptr && target->joined.count > 0) {
    const JoinedGroups* joined = nullptr;
    for (const JoinedGroups& j : target->joined)
      if (j.from == from) joined = &j;
    for (uint32_t k = 0; k < count; ++k) VT_TRY(follow_joined(target, source, joined, index + k));
    return ErrorCode::Ok;
  }
  if (source == nullptr || target == nullptr) return ErrorCode::Ok;
  // A grouping's run at a time: a track's samples mostly share one group.
  for (uint32_t i = 0; i < source->groupings.count && i < target->groupings.count; ++i) {
    SampleGrouping& from_grouping = source->groupings[i];
    GrowArray<GroupRun>& runs = target->groupings[i].runs;
    for (uint32_t at = index, left = count; left > 0;) {
      const uint32_t group = group_of(&from_grouping, at);
      // Past the input's runs every sample is in no group.
      uint32_t same = left;
      if (from_grouping.cursor_run < from_grouping.runs.count) {
        const uint64_t run_end = uint64_t{from_grouping.cursor_first} + from_grouping.runs[from_grouping.cursor_run].sample_count;
        same = static_cast<uint32_t>(std::min<uint64_t>(left, run_end - at));
      }
      if (runs.count > 0 && runs.back().group_index == group) {
        runs.back().sample_count += same;
      } else {
        VT_TRY(runs.append_doubling(GroupRun{same, group}));
      }
      at += same;
      left -= same;
    }
  }
  if (!target->has_dependencies && !target->has_subsamples) {
    target->samples_followed += count;
    return ErrorCode::Ok;
  }
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t at = index + k;
    if (target->has_dependencies) {
      // A sample past the input's table depends on nothing known.
      uint8_t flags = at < source->dependencies.count ? source->dependencies[at] : 0;
      VT_TRY(target->dependencies.append_doubling(flags));
    }
    uint32_t written = target->samples_followed++;
    if (target->has_subsamples) VT_TRY(copy_subsamples(target, source, at, written));
  }
  return ErrorCode::Ok;
}

ErrorCode sample_groups_add_roll(TrackBoxes* track, int16_t roll_distance, uint32_t sample_count) {
  const uint32_t roll = FourCC::of("roll").to_u32();
  SampleGroupsRecord* groups = groups_for(track);
  if (groups == nullptr) return ErrorCode::OutOfMemory;
  for (const SampleGrouping& g : groups->groupings)
    if (g.grouping_type == roll) return ErrorCode::Ok;
  for (const OwnedBlock& b : groups->descriptions)
    if (b.length >= 16 && std::memcmp(b.bytes + 12, "roll", 4) == 0) return ErrorCode::Ok;
  // 'sgpd' version 1: 'roll', entries of 2 bytes, one entry.
  const auto distance = static_cast<uint16_t>(roll_distance);
  const uint8_t sgpd[] = {0, 0, 0, 26, 's', 'g', 'p', 'd', 1, 0, 0, 0, 'r', 'o', 'l', 'l', 0, 0, 0, 2, 0, 0, 0, 1,
                          static_cast<uint8_t>(distance >> 8), static_cast<uint8_t>(distance)};
  OwnedBlock block{};
  VT_TRY(block_assign(&block, sgpd, sizeof sgpd));
  ErrorCode e = groups->descriptions.append(block);
  if (e != ErrorCode::Ok) {
    block_release(&block);
    return e;
  }
  SampleGrouping grouping{};
  grouping.grouping_type = roll;
  e = grouping.runs.append(GroupRun{sample_count, 1});
  if (e == ErrorCode::Ok) e = groups->groupings.append(grouping);
  if (e != ErrorCode::Ok) grouping.runs.release();
  return e;
}

bool sample_groups_roll_distance(TrackBoxes* track, int16_t* roll_distance) {
  SampleGroupsRecord* groups = sample_groups(track);
  if (groups == nullptr) return false;
  for (const OwnedBlock& b : groups->descriptions) {
    // size, 'sgpd', version and flags, grouping type; version 1 a default
    // length, version 2 and up a default description index; the count.
    if (b.length < 20 || std::memcmp(b.bytes + 12, "roll", 4) != 0) continue;
    const uint8_t version = b.bytes[8];
    uint32_t at = 16;
    uint32_t default_length = 0;
    if (version == 1) {
      default_length = load_u32be(b.bytes + at);
      at += 4;
    }
    if (version >= 2) at += 4;
    if (at + 4 > b.length || load_u32be(b.bytes + at) == 0) return false;
    at += 4;
    // Version 1 with no default length gives each entry's length first.
    if (version == 1 && default_length == 0) at += 4;
    if (at + 2 > b.length) return false;
    *roll_distance = static_cast<int16_t>(load_u16be(b.bytes + at));
    return true;
  }
  return false;
}

}  // namespace vantorel
