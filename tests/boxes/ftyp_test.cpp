#include <gtest/gtest.h>

#include "boxes/ftyp.h"
#include "sampletables/stsd_support.h"

namespace vantorel {
namespace {

using namespace test;

Bytes write_ftyp(MemoryFile& f) {
  MemoryFile out({}, kOpenCreate);
  EXPECT_EQ(ftyp_write(out.get(), f->root), ErrorCode::Ok);
  Bytes got = out.contents();
  EXPECT_EQ(ftyp_size(out.get(), f->root), got.size());
  return got;
}

TEST(Ftyp, BrandsAreTheWholeGroupsOfFourLeft) {
  struct Case {
    const char* name;
    Bytes payload;
    uint32_t brands;
    Bytes written;
  };
  const Case cases[] = {
      {"10 bytes: no brands, two bytes skipped", cat({text("isom"), u32(0x200), hex("aabb")}), 0,
       cat({text("isom"), u32(0x200)})},
      {"16 bytes: two brands", cat({text("isom"), u32(0x200), text("isom"), text("mp41")}), 2,
       cat({text("isom"), u32(0x200), text("isom"), text("mp41")})},
      {"19 bytes: two brands", cat({text("M4A "), u32(0), text("M4A "), text("mp42"), hex("000000")}), 2,
       cat({text("M4A "), u32(0), text("M4A "), text("mp42")})},
      {"4 bytes: a major brand only", text("qt  "), 0, cat({text("qt  "), u32(0)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The movie box after it is still found.
    MemoryFile f(cat({box("ftyp", c.payload), box("moov", {})}));
    ASSERT_EQ(read_tree(f), ErrorCode::Ok);
    FileTypeRecord* ftyp = f->root->ftyp;
    ASSERT_NE(ftyp, nullptr);
    EXPECT_EQ(ftyp->brand_count, c.brands);
    EXPECT_NE(f->root->moov, nullptr);
    EXPECT_EQ(write_ftyp(f), c.written);
    // The top level counts it, with its header.
    EXPECT_EQ(top_level_size(f.get()), 8 + c.written.size() + 8);
  }
}

TEST(Ftyp, UpdatingAFileStartsItsHeaderRegionAfterTheBox) {
  MemoryFile f(cat({box("ftyp", cat({text("mp42"), u32(1)})), box("free", zeros(40))}), kOpenUpdate);
  ASSERT_EQ(append_region(f.get(), 0), ErrorCode::Ok);
  ASSERT_EQ(read_tree(f), ErrorCode::Ok);
  ASSERT_EQ(f->free_regions.count, 1u);
  EXPECT_EQ(f->free_regions[0].start, 16u);

  MemoryFile r(cat({box("ftyp", cat({text("mp42"), u32(1)}))}));
  ASSERT_EQ(append_region(r.get(), 0), ErrorCode::Ok);
  ASSERT_EQ(read_tree(r), ErrorCode::Ok);
  EXPECT_EQ(r->free_regions[0].start, 0u);  // other modes leave regions alone
  r->free_regions.release();
}

TEST(Ftyp, SettingBrands) {
  MemoryFile f({}, kOpenCreate);
  ASSERT_EQ(create_root(f.get()), ErrorCode::Ok);
  const FourCC brands[] = {FourCC::of("isom"), FourCC::of("avc1"), FourCC::of("mp41")};
  EXPECT_EQ(ftyp_set_brands(f.get(), f->root, brands, 3), ErrorCode::Missing);
  EXPECT_EQ(ftyp_write(f.get(), f->root), ErrorCode::Missing);
  ASSERT_EQ(add_movie_box(f.get(), BoxTypeId::Ftyp), ErrorCode::Ok);
  EXPECT_EQ(ftyp_set_brands(f.get(), f->root, nullptr, 3), ErrorCode::BadArgument);
  EXPECT_EQ(ftyp_set_brands(f.get(), f->root, brands, 0), ErrorCode::BadArgument);
  ASSERT_EQ(ftyp_set_brands(f.get(), f->root, brands, 2), ErrorCode::Ok);
  ASSERT_EQ(ftyp_set_brands(f.get(), f->root, brands, 3), ErrorCode::Ok);  // replaces the list
  f->root->ftyp->major_brand = FourCC::of("mp42");
  EXPECT_EQ(write_ftyp(f), cat({text("mp42"), u32(0), text("isom"), text("avc1"), text("mp41")}));
}

}  // namespace
}  // namespace vantorel
