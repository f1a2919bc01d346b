// A written track's sample groups followed a run of samples at a time come
// out as followed one sample at a time: runs that cross the input's run
// boundaries, input runs of no samples, samples past the input's runs and
// tables, runs that turn back, dependencies and sub-samples.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "sampletables/sample_groups.h"
#include "support/box_builder.h"
#include "table_track.h"

namespace vantorel {
namespace {

using namespace test;

using Runs = std::vector<std::pair<uint32_t, uint32_t>>;  // (samples, group)

// An input track's groups: two groupings, a dependency byte for each of its
// first 12 samples, and sub-samples for samples 2 and 7.
void fill_input(SampleGroupsRecord* g) {
  const Runs groupings[] = {{{3, 1}, {0, 2}, {4, 0}, {2, 2}}, {{5, 1}}};
  for (const Runs& runs : groupings) {
    SampleGrouping grouping{};
    grouping.grouping_type = 0x726F6C6C;  // 'roll'
    for (const auto& [samples, group] : runs) ASSERT_EQ(grouping.runs.append(GroupRun{samples, group}), ErrorCode::Ok);
    ASSERT_EQ(g->groupings.append(grouping), ErrorCode::Ok);
  }
  g->has_dependencies = 1;
  for (uint8_t i = 0; i < 12; ++i) ASSERT_EQ(g->dependencies.append(static_cast<uint8_t>(0x10 + i)), ErrorCode::Ok);
  g->has_subsamples = 1;
  for (uint32_t sample : {2u, 7u}) {
    const uint32_t offset = g->subsample_bytes.count;
    for (uint8_t b = 0; b < 8; ++b) ASSERT_EQ(g->subsample_bytes.append(static_cast<uint8_t>(sample * 16 + b)), ErrorCode::Ok);
    ASSERT_EQ(g->subsamples.append(SubsampleEntry{sample, offset, 8, 1}), ErrorCode::Ok);
  }
}

struct Followed {
  std::vector<Runs> groupings;
  std::vector<uint8_t> dependencies;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> subsamples;  // (written sample, bytes)
  uint32_t samples = 0;
  bool operator==(const Followed&) const = default;
};

Followed followed(const SampleGroupsRecord* g) {
  Followed out;
  for (const SampleGrouping& grouping : g->groupings) {
    Runs runs;
    for (const GroupRun& r : grouping.runs) runs.emplace_back(r.sample_count, r.group_index);
    out.groupings.push_back(runs);
  }
  out.dependencies.assign(g->dependencies.begin(), g->dependencies.end());
  for (const SubsampleEntry& e : g->subsamples)
    out.subsamples.emplace_back(e.sample, std::vector<uint8_t>(g->subsample_bytes.begin() + e.offset,
                                                               g->subsample_bytes.begin() + e.offset + e.length));
  out.samples = g->samples_followed;
  return out;
}

TEST(SampleGroups, RunsFollowAsSampleBySample) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint32_t, uint32_t>> runs;  // (first input sample, count), in writing order
  };
  const Case cases[] = {
      {"all at once, past the input's runs and dependencies", {{0, 14}}},
      {"on the input's run boundaries", {{0, 3}, {3, 4}, {7, 2}, {9, 5}}},
      {"across them", {{0, 5}, {5, 9}}},
      {"turning back", {{4, 6}, {1, 2}, {8, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile f({}, kOpenCreate);
    for (int i = 0; i < 3; ++i) ASSERT_NE(make_track(f.get(), 1), nullptr);
    TrackBoxes* input = track_at(f->root, 0);
    TrackBoxes* by_sample = track_at(f->root, 1);
    TrackBoxes* by_run = track_at(f->root, 2);
    SampleGroupsRecord* groups = sample_groups_make(input);
    ASSERT_NE(groups, nullptr);
    fill_input(groups);
    ASSERT_EQ(sample_groups_start(by_sample, input), ErrorCode::Ok);
    ASSERT_EQ(sample_groups_start(by_run, input), ErrorCode::Ok);
    for (const auto& [first, count] : c.runs) {
      for (uint32_t k = 0; k < count; ++k) ASSERT_EQ(sample_groups_follow(by_sample, input, first + k, 1), ErrorCode::Ok);
      ASSERT_EQ(sample_groups_follow(by_run, input, first, count), ErrorCode::Ok);
    }
    const Followed expected = followed(sample_groups(by_sample));
    EXPECT_TRUE(followed(sample_groups(by_run)) == expected);
    if (c.runs.size() == 1) {
      // The input's runs as they are, the empty one gone, group 0 past them.
      EXPECT_EQ(expected.groupings[0], (Runs{{3, 1}, {4, 0}, {2, 2}, {5, 0}}));
      EXPECT_EQ(expected.groupings[1], (Runs{{5, 1}, {9, 0}}));
      EXPECT_EQ(expected.dependencies.size(), 14u);
      EXPECT_EQ(expected.dependencies[13], 0);
      ASSERT_EQ(expected.subsamples.size(), 2u);
      EXPECT_EQ(expected.subsamples[1].first, 7u);
      EXPECT_EQ(expected.subsamples[1].second[0], 7 * 16);
    }
  }
}

}  // namespace
}  // namespace vantorel
