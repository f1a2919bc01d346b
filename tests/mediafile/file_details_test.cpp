// What a description of a file adds to the track summary: the colour and
// display boxes of a sample entry read field by field (and refused when cut),
// the duration with the edit list applied, and bit rates that agree.
#include <gtest/gtest.h>

#include "mediafile/hand_made.h"
#include "mediafile/mediafile.h"

namespace vantorel {
namespace {

using test::Bytes;
using test::box;
using test::cat;
using test::u16;
using test::u32;
using test::u8;
using test::zeros;

struct Opened {
  Bytes bytes;
  MemoryPair pair{};
  MediaFile* file = nullptr;
  explicit Opened(Bytes b) : bytes(std::move(b)) {
    pair = MemoryPair{bytes.data(), static_cast<uint32_t>(bytes.size())};
    OpenParams params{};
    params.routines = memory_routines();
    params.path = &pair;
    EXPECT_EQ(media_open(&file, &params, kOpenRead), ErrorCode::Ok);
  }
  ~Opened() {
    if (file != nullptr) media_close(file);
  }
};

// An 'mp4v' entry of 64x48 with the given child boxes.
Bytes visual_entry(const Bytes& children) {
  Bytes fields = cat({zeros(6), u16(1), zeros(16), u16(64), u16(48), u32(0x00480000), u32(0x00480000), u32(0),
                      u16(1), zeros(32), u16(24), u16(0xFFFF)});
  return box("mp4v", cat({fields, children}));
}

TEST(FileDetails, ColourBoxesAreReadFieldByField) {
  const Bytes mdcv = box("mdcv", cat({u16(13250), u16(34500), u16(7500), u16(3000), u16(34000), u16(16000),
                                       u16(15635), u16(16450), u32(10000000), u32(50)}));
  struct Case {
    const char* name;
    Bytes children;
    const char* colour_type;  // null: no colour facts
    uint16_t primaries, transfer, matrix;
    uint32_t range_known, full_range, profile_size;
    bool mastering, light;
    const char* dolby_box;
    uint8_t dv_profile, dv_level, dv_compatibility;
  };
  const Case cases[] = {
      {"nclx, full range", box("colr", cat({test::text("nclx"), u16(9), u16(16), u16(9), u8(0x80)})), "nclx", 9, 16,
       9, 1, 1, 0, false, false, nullptr, 0, 0, 0},
      {"nclx, limited range", box("colr", cat({test::text("nclx"), u16(1), u16(1), u16(1), u8(0)})), "nclx", 1, 1, 1,
       1, 0, 0, false, false, nullptr, 0, 0, 0},
      {"nclc has no range", box("colr", cat({test::text("nclc"), u16(6), u16(6), u16(6)})), "nclc", 6, 6, 6, 0, 0, 0,
       false, false, nullptr, 0, 0, 0},
      {"ICC profile", box("colr", cat({test::text("prof"), zeros(100)})), "prof", 0, 0, 0, 0, 0, 100, false, false,
       nullptr, 0, 0, 0},
      {"nclx cut inside its codes", box("colr", cat({test::text("nclx"), u16(9)})), nullptr, 0, 0, 0, 0, 0, 0, false,
       false, nullptr, 0, 0, 0},
      {"mastering display and light level", cat({mdcv, box("clli", cat({u16(1000), u16(400)}))}), nullptr, 0, 0, 0, 0,
       0, 0, true, true, nullptr, 0, 0, 0},
      {"mdcv cut short, clli cut short", cat({box("mdcv", zeros(23)), box("clli", zeros(3))}), nullptr, 0, 0, 0, 0, 0,
       0, false, false, nullptr, 0, 0, 0},
      // Version 1.0, profile 8, level 6, RPU and base layer, compatible with 1 (HDR10).
      {"dvcC", box("dvcC", cat({u8(1), u8(0), u8(8 << 1), u8((6 << 3) | 0x5), u8(1 << 4), zeros(19)})), nullptr, 0, 0,
       0, 0, 0, 0, false, false, "dvcC", 8, 6, 1},
      // Level 13 spans the byte boundary: its top bit sits in the profile's byte.
      {"dvvC, level across bytes", box("dvvC", cat({u8(1), u8(0), u8((10 << 1) | 1), u8((13 & 0x1F) << 3 | 0x4),
                                                    u8(0), zeros(19)})),
       nullptr, 0, 0, 0, 0, 0, 0, false, false, "dvvC", 10, 45, 0},
      {"dvcC cut short", box("dvcC", zeros(4)), nullptr, 0, 0, 0, 0, 0, 0, false, false, nullptr, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::HandTrack video;
    video.sizes = {10, 10};
    video.stts = {{2, 500}};
    video.entries = {visual_entry(c.children)};
    Opened in(test::hand_made_file({video}));
    ASSERT_NE(in.file, nullptr);
    TrackDetails t;
    ASSERT_EQ(track_details(in.file, 1, &t), ErrorCode::Ok);
    EXPECT_EQ(t.has_picture, 1u);
    if (c.colour_type == nullptr) {
      EXPECT_TRUE(t.colour.colour_type.is_zero());
    } else {
      EXPECT_TRUE(t.colour.colour_type == c.colour_type);
      EXPECT_EQ(t.colour.primaries, c.primaries);
      EXPECT_EQ(t.colour.transfer, c.transfer);
      EXPECT_EQ(t.colour.matrix, c.matrix);
      EXPECT_EQ(t.colour.range_known, c.range_known);
      EXPECT_EQ(t.colour.full_range, c.full_range);
      EXPECT_EQ(t.colour.profile_size, c.profile_size);
    }
    EXPECT_EQ(t.mastering_display.present != 0, c.mastering);
    if (c.mastering) {
      // Stored green, blue, red.
      EXPECT_EQ(t.mastering_display.primary_x[0], 13250u);
      EXPECT_EQ(t.mastering_display.primary_y[2], 16000u);
      EXPECT_EQ(t.mastering_display.white_y, 16450u);
      EXPECT_EQ(t.mastering_display.max_luminance, 10000000u);
      EXPECT_EQ(t.mastering_display.min_luminance, 50u);
    }
    EXPECT_EQ(t.light_level.present != 0, c.light);
    if (c.light) {
      EXPECT_EQ(t.light_level.max_content, 1000u);
      EXPECT_EQ(t.light_level.max_frame_average, 400u);
    }
    if (c.dolby_box == nullptr) {
      EXPECT_TRUE(t.dolby_vision.box.is_zero());
    } else {
      EXPECT_TRUE(t.dolby_vision.box == c.dolby_box);
      EXPECT_EQ(t.dolby_vision.profile, c.dv_profile);
      EXPECT_EQ(t.dolby_vision.level, c.dv_level);
      EXPECT_EQ(t.dolby_vision.compatibility_id, c.dv_compatibility);
    }
  }
}

TEST(FileDetails, PlayedDurationAndBitRates) {
  struct Case {
    const char* name;
    std::vector<uint32_t> sizes;
    std::vector<std::pair<uint32_t, uint32_t>> stts;  // media scale 1000
    std::vector<std::pair<uint64_t, int64_t>> edits;  // movie scale 600
    uint64_t played;                                   // movie units
    uint32_t average;
  };
  const Case cases[] = {
      {"no edit list: the media duration", {100, 100}, {{2, 500}}, {}, 600, 1600},
      // Priming trimmed: 2.1 s stored, 2 s played; the rate is over what is stored.
      {"an edit that starts late", {100, 100, 100}, {{3, 700}}, {{1200, 100}}, 1200, 1142},
      {"an empty edit is not played", {100}, {{1, 1000}}, {{300, -1}, {600, 0}}, 600, 800},
      // 21 ms: the rate over the part is far above the bits of one second.
      {"a part shorter than a second", {200}, {{1, 21}}, {}, 12, 76190},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::HandTrack video;
    video.sizes = c.sizes;
    video.stts = c.stts;
    video.edits = c.edits;
    Opened in(test::hand_made_file({video}));
    ASSERT_NE(in.file, nullptr);
    TrackDetails t;
    ASSERT_EQ(track_details(in.file, 1, &t), ErrorCode::Ok);
    EXPECT_EQ(t.played_duration, c.played);
    EXPECT_EQ(t.edit_count, c.edits.size());
    EXPECT_EQ(t.avg_bitrate, c.average);
    EXPECT_GE(t.max_bitrate, t.avg_bitrate);
  }
}

}  // namespace
}  // namespace vantorel
