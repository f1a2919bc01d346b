// Hand-made Matroska files: the three lacings, unknown and 8-byte sizes, a
// cluster that runs to the end of the file, elements larger than their
// parents, and files cut inside a cluster.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/compare.h"
#include "support/md5.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;
using Bytes = std::vector<uint8_t>;

Bytes id_bytes(uint32_t id) {
  Bytes b;
  for (int shift = 24; shift >= 0; shift -= 8)
    if ((id >> shift) != 0) b.push_back(static_cast<uint8_t>(id >> shift));
  return b;
}

// An element with its size in `size_length` bytes (0: the shortest).
Bytes el(uint32_t id, const Bytes& payload, int size_length = 0) {
  Bytes b = id_bytes(id);
  uint64_t n = payload.size();
  int length = size_length;
  if (length == 0)
    for (length = 1; length < 8 && n >= (uint64_t{1} << (7 * length)) - 1; ++length) {
    }
  for (int i = length - 1; i >= 0; --i) {
    uint8_t byte = static_cast<uint8_t>(n >> (8 * i));
    if (i == length - 1) byte |= static_cast<uint8_t>(0x80 >> (length - 1));
    b.push_back(byte);
  }
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}
// An element whose size is "unknown": it runs until a sibling of its parent.
Bytes unknown(uint32_t id, const Bytes& payload) {
  Bytes b = id_bytes(id);
  b.push_back(0xFF);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}
Bytes uint_el(uint32_t id, uint64_t v) {
  Bytes p;
  for (int i = 7; i >= 0; --i)
    if ((v >> (8 * i)) != 0 || !p.empty() || i == 0) p.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return el(id, p);
}
Bytes text_el(uint32_t id, const std::string& s) { return el(id, Bytes(s.begin(), s.end())); }
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

// A frame of `size` bytes whose contents tell it apart.
Bytes frame(uint32_t size, uint8_t seed) {
  Bytes b(size);
  for (uint32_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed * 31 + i);
  return b;
}

Bytes header() { return el(0x1A45DFA3, text_el(0x4282, "matroska")); }
Bytes info() { return el(0x1549A966, uint_el(0x2AD7B1, 1000000)); }
// One MP3 track: its frames need no configuration.
Bytes tracks() {
  Bytes audio = el(0xE1, cat({el(0xB5, {0x47, 0x3B, 0x80, 0x00}), uint_el(0x9F, 2)}));  // 48000 Hz as a float
  return el(0x1654AE6B,
            el(0xAE, cat({uint_el(0xD7, 1), uint_el(0x83, 2), text_el(0x86, "A_MPEG/L3"), audio})));
}

Bytes simple_block(int16_t time, uint8_t flags, const Bytes& lace_and_frames) {
  Bytes p = {0x81, static_cast<uint8_t>(time >> 8), static_cast<uint8_t>(time), flags};
  p.insert(p.end(), lace_and_frames.begin(), lace_and_frames.end());
  return el(0xA3, p);
}

std::string write(const TempDir& dir, const std::string& name, const Bytes& b) {
  std::string path = dir.path(name);
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
  return path;
}

struct Expect {
  std::vector<Bytes> frames;
};

void expect_frames(const std::string& path, const std::vector<Bytes>& frames) {
  std::vector<LibraryTrack> read;
  std::string error;
  ASSERT_TRUE(read_with_library(path, &read, &error)) << error;
  ASSERT_EQ(read.size(), 1u);
  ASSERT_EQ(read[0].packets.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(read[0].packets[i].size, frames[i].size()) << i;
    EXPECT_EQ(read[0].packets[i].md5, md5_hex(frames[i].data(), frames[i].size())) << i;
  }
}

TEST(MatroskaImport, EachLacingGivesItsFrames) {
  TempDir dir;
  const Bytes a = frame(300, 1), b = frame(2, 2), c = frame(7, 3);
  const Bytes e1 = frame(10, 4), e2 = frame(8, 5), e3 = frame(12, 6);
  const Bytes f1 = frame(4, 7), f2 = frame(4, 8), f3 = frame(4, 9);
  struct Case {
    const char* name;
    Bytes block;
    std::vector<Bytes> frames;
  };
  const Case cases[] = {
      {"no lacing", simple_block(0, 0x80, a), {a}},
      // Xiph: 300 is 255 + 45.
      {"Xiph", simple_block(0, 0x82, cat({{2, 255, 45, 2}, a, b, c})), {a, b, c}},
      // EBML: 10, then 8 as a difference of -2 (0xBD is 61, less the bias of 63).
      {"EBML", simple_block(0, 0x86, cat({{2, 0x8A, 0xBD}, e1, e2, e3})), {e1, e2, e3}},
      {"fixed", simple_block(0, 0x84, cat({{2}, f1, f2, f3})), {f1, f2, f3}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Bytes file = cat({header(), el(0x18538067, cat({info(), tracks(), el(0x1F43B675, cat({uint_el(0xE7, 0), k.block}))}))});
    expect_frames(write(dir, "lace.mkv", file), k.frames);
  }
}

TEST(MatroskaImport, SizesUnknownLongOrRunningToTheEnd) {
  TempDir dir;
  const Bytes a = frame(20, 1), b = frame(30, 2), c = frame(40, 3);
  const Bytes blocks1 = cat({uint_el(0xE7, 0), simple_block(0, 0x80, a), simple_block(24, 0x80, b)});
  const Bytes blocks2 = cat({uint_el(0xE7, 48), simple_block(0, 0x80, c)});
  struct Case {
    const char* name;
    Bytes segment;
  };
  const Case cases[] = {
      {"unknown-size segment and clusters, each ended by the next",
       unknown(0x18538067, cat({info(), tracks(), unknown(0x1F43B675, blocks1), unknown(0x1F43B675, blocks2)}))},
      {"8-byte sizes", el(0x18538067, cat({info(), tracks(), el(0x1F43B675, blocks1, 8), el(0x1F43B675, blocks2, 8)}), 8)},
      {"a last cluster that never ends",
       el(0x18538067, cat({info(), tracks(), el(0x1F43B675, blocks1), unknown(0x1F43B675, blocks2)}))},
      {"a cluster ended by Cues", unknown(0x18538067, cat({info(), tracks(), unknown(0x1F43B675, blocks1),
                                                             el(0x1C53BB6B, {}), el(0x1F43B675, blocks2)}))},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    expect_frames(write(dir, "sizes.mkv", cat({header(), k.segment})), {a, b, c});
  }
}

TEST(MatroskaImport, MalformedElementsAreRefused) {
  TempDir dir;
  const Bytes a = frame(20, 1);
  Bytes block = simple_block(0, 0x80, a);
  Bytes too_large = block;
  too_large[1] = static_cast<uint8_t>(too_large[1] + 5);  // claims five bytes more than its cluster holds
  Bytes bad_lace = simple_block(0, 0x82, cat({{1, 200}, frame(10, 1)}));  // a first frame larger than the block
  Bytes uneven = simple_block(0, 0x84, cat({{2}, frame(10, 1)}));          // 10 bytes in three equal frames
  struct Case {
    const char* name;
    Bytes cluster;
  };
  const Case cases[] = {
      {"a block larger than its cluster", el(0x1F43B675, cat({uint_el(0xE7, 0), too_large, block}))},
      {"Xiph sizes past the block", el(0x1F43B675, cat({uint_el(0xE7, 0), bad_lace}))},
      {"fixed lacing that does not divide", el(0x1F43B675, cat({uint_el(0xE7, 0), uneven}))},
      {"an id of five bytes", el(0x1F43B675, cat({{0x08, 0x01, 0x02, 0x03, 0x04, 0x80}, block}))},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Bytes file = cat({header(), el(0x18538067, cat({info(), tracks(), k.cluster}))});
    std::vector<LibraryTrack> read;
    std::string error;
    EXPECT_FALSE(read_with_library(write(dir, "bad.mkv", file), &read, &error));
    EXPECT_EQ(error, "open failed with 6");
  }
}

// A recording cut inside its last cluster: refused, naming --salvage; with
// --salvage every complete frame is carried.
TEST(MatroskaImport, ACutRecordingIsRefusedUnlessSalvaged) {
  TempDir dir;
  const Bytes a = frame(20, 1), b = frame(30, 2), c = frame(40, 3);
  Bytes whole = cat({header(), unknown(0x18538067, cat({info(), tracks(),
                                                          unknown(0x1F43B675, cat({uint_el(0xE7, 0), simple_block(0, 0x80, a),
                                                                                   simple_block(24, 0x80, b),
                                                                                   simple_block(48, 0x80, c)}))}))});
  for (size_t cut : {size_t{10}, size_t{38}, size_t{43}}) {  // inside the last frame, at its start, in its header
    SCOPED_TRACE(cut);
    Bytes file(whole.begin(), whole.end() - static_cast<long>(cut));
    std::string in = write(dir, "cut.mkv", file);
    RunResult refused = run_program(dir, {in, dir.path("out.mp4")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("truncated"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("--salvage"), std::string::npos) << refused.err;
    RunResult salvaged = run_program(dir, {"--salvage", in, dir.path("out.mp4")});
    ASSERT_EQ(salvaged.status, 0) << salvaged.err;
    expect_frames(dir.path("out.mp4"), {a, b});
  }
  // Ending on an element boundary, the same unknown-size segment is whole.
  RunResult whole_run = run_program(dir, {write(dir, "whole.mkv", whole), dir.path("whole.mp4")});
  EXPECT_EQ(whole_run.status, 0) << whole_run.err;
  expect_frames(dir.path("whole.mp4"), {a, b, c});
}

}  // namespace
}  // namespace vantorel
