#include <gtest/gtest.h>

#include "boxes/box_tree.h"
#include "support/box_builder.h"
#include "support/read_tree.h"

namespace vantorel {
namespace {

using namespace test;

struct Region {
  uint64_t start;
  uint64_t end;
  uint64_t size;
  bool operator==(const Region&) const = default;
};

std::vector<Region> regions_of(MediaFile* file) {
  std::vector<Region> out;
  for (const BoxHeader& r : file->free_regions) out.push_back({r.start, r.end, r.size});
  return out;
}

TEST(Mdat, UpdateModeKeepsTheGapsBetweenMediaData) {
  // free 0-16, mdat 16-40, free 40-50, mdat 50-80 (64-bit header), free 80-100.
  Bytes file = cat({box("free", zeros(8)), box("mdat", zeros(16)), box("free", zeros(2)), box64("mdat", 30, zeros(14)),
                    box("free", zeros(12))});
  ASSERT_EQ(file.size(), 100u);
  MemoryFile f(file, kOpenUpdate);
  ASSERT_EQ(append_region(f.get(), 0), ErrorCode::Ok);  // as opening in update mode does
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  EXPECT_EQ(regions_of(f.get()), (std::vector<Region>{{0, 16, 16}, {40, 50, 10}, {80, 0, 0}}));
}

TEST(Mdat, MediaDataRunningToTheEndLeavesTheLastRegionThere) {
  Bytes file = cat({box("free", zeros(4)), u32(0), text("mdat"), zeros(20)});
  MemoryFile f(file, kOpenUpdate);
  ASSERT_EQ(append_region(f.get(), 0), ErrorCode::Ok);
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  EXPECT_EQ(regions_of(f.get()), (std::vector<Region>{{0, 12, 12}, {40, 0, 0}}));
}

TEST(Mdat, OtherModesLeaveTheRegionsAlone) {
  Bytes file = cat({box("free", zeros(8)), box("mdat", zeros(16)), box("mdat", zeros(4))});
  for (uint32_t mode : {kOpenRead, kOpenInspect, kOpenCreate}) {
    SCOPED_TRACE(mode);
    MemoryFile f(file, mode);
    ASSERT_EQ(append_region(f.get(), 0), ErrorCode::Ok);
    ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
    EXPECT_EQ(regions_of(f.get()), (std::vector<Region>{{0, 0, 0}}));
  }
}

}  // namespace
}  // namespace vantorel
