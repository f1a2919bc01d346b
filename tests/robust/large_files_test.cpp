// Files past 4 GiB: media data behind a 4 GiB hole (run everywhere, the file
// is sparse), and more than 4 GiB of sample data (run by hand: ctest -L large).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/box_builder.h"
#include "support/compare.h"
#include "support/ffprobe.h"
#include "support/md5.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

struct TopBox {
  std::string type;
  uint64_t start = 0, size = 0, header = 8;
};

// The top-level boxes of a file of any size, read header by header.
std::vector<TopBox> top_boxes(const std::string& path) {
  std::vector<TopBox> out;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return out;
  struct stat st {};
  fstat(fd, &st);
  uint64_t length = static_cast<uint64_t>(st.st_size);
  for (uint64_t at = 0; at + 8 <= length;) {
    uint8_t h[16];
    if (pread(fd, h, sizeof h, static_cast<off_t>(at)) < 8) break;
    TopBox b;
    b.start = at;
    b.type.assign(reinterpret_cast<char*>(h + 4), 4);
    uint64_t size = (uint64_t{h[0]} << 24) | (uint64_t{h[1]} << 16) | (uint64_t{h[2]} << 8) | h[3];
    if (size == 1) {
      size = 0;
      for (int i = 8; i < 16; ++i) size = (size << 8) | h[i];
      b.header = 16;
    } else if (size == 0) {
      size = length - at;
    }
    if (size < b.header) break;
    b.size = size;
    out.push_back(b);
    at += size;
  }
  close(fd);
  return out;
}

bool write_at(int fd, const Bytes& bytes, uint64_t at) {
  return pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)) == static_cast<ssize_t>(bytes.size());
}

uint32_t be32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }

// A movie box with every 'stco' turned into a 'co64' whose offsets have moved
// by `shift`; other boxes are copied as they are.
Bytes with_co64(const uint8_t* p, size_t size, int64_t shift) {
  std::string type(reinterpret_cast<const char*>(p + 4), 4);
  if (type == "stco") {
    uint32_t count = be32(p + 12);
    Bytes entries;
    for (uint32_t i = 0; i < count && 16 + 4 * size_t{i} + 4 <= size; ++i)
      entries = cat({entries, u64(static_cast<uint64_t>(be32(p + 16 + 4 * i) + shift))});
    return full_box("co64", 0, 0, cat({u32(count), entries}));
  }
  for (const char* c : {"moov", "trak", "mdia", "minf", "stbl"}) {
    if (type != c) continue;
    Bytes children;
    for (size_t at = 8; at + 8 <= size;) {
      uint32_t child = be32(p + at);
      if (child < 8 || at + child > size) break;
      children = cat({children, with_co64(p + at, child, shift)});
      at += child;
    }
    return box(type, children);
  }
  return Bytes(p, p + size);
}

void expect_same_samples(const std::string& a, const std::string& b) {
  std::vector<LibraryTrack> ta, tb;
  std::string error;
  ASSERT_TRUE(read_with_library(a, &ta, &error)) << error;
  ASSERT_TRUE(read_with_library(b, &tb, &error)) << error;
  ASSERT_EQ(ta.size(), tb.size());
  for (size_t t = 0; t < ta.size(); ++t) {
    SCOPED_TRACE("track " + std::to_string(t));
    ASSERT_EQ(ta[t].packets.size(), tb[t].packets.size());
    EXPECT_GT(ta[t].packets.size(), 0u);
    EXPECT_EQ(ta[t].all_data_md5, tb[t].all_data_md5);
    for (size_t i = 0; i < ta[t].packets.size(); ++i) {
      EXPECT_EQ(ta[t].packets[i].size, tb[t].packets[i].size);
      EXPECT_EQ(ta[t].packets[i].dts, tb[t].packets[i].dts);
      EXPECT_EQ(ta[t].packets[i].pts, tb[t].packets[i].pts);
      EXPECT_EQ(ta[t].packets[i].key, tb[t].packets[i].key);
    }
  }
}

TEST(LargeFiles, SamplesAfterA4GiBHoleAreReadAndRemuxed) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string small = make_media(dir, "small.mp4",
                                 "-f lavfi -i testsrc=size=64x64:rate=25:duration=1 -f lavfi -i sine=duration=1 "
                                 "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -movflags +faststart",
                                 &error);
  ASSERT_FALSE(small.empty()) << error;
  std::vector<uint8_t> bytes = read_whole_file(small);
  std::vector<TopBox> top = top_boxes(small);
  const TopBox *ftyp = nullptr, *moov = nullptr, *mdat = nullptr;
  for (const TopBox& b : top) {
    if (b.type == "ftyp") ftyp = &b;
    if (b.type == "moov") moov = &b;
    if (b.type == "mdat") mdat = &b;
  }
  ASSERT_TRUE(ftyp != nullptr && moov != nullptr && mdat != nullptr);

  // ftyp, the movie box with 64-bit chunk offsets, a 'free' box over a hole
  // of more than 4 GiB, then the media data.
  const uint64_t data_at = (uint64_t{1} << 32) + (1u << 20);
  Bytes head(bytes.begin() + static_cast<long>(ftyp->start), bytes.begin() + static_cast<long>(ftyp->start + ftyp->size));
  head = cat({head, with_co64(bytes.data() + moov->start, moov->size,
                              static_cast<int64_t>(data_at) - static_cast<int64_t>(mdat->start))});
  head = cat({head, u32(1), text("free"), u64(data_at - head.size())});
  std::string big = dir.path("big.mp4");
  int fd = open(big.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(write_at(fd, head, 0));
  ASSERT_TRUE(write_at(fd, Bytes(bytes.begin() + static_cast<long>(mdat->start), bytes.begin() + static_cast<long>(mdat->start + mdat->size)),
                       data_at));
  close(fd);
  struct stat st {};
  ASSERT_EQ(stat(big.c_str(), &st), 0);
  ASSERT_GT(static_cast<uint64_t>(st.st_size), uint64_t{1} << 32);
  if (static_cast<uint64_t>(st.st_blocks) * 512 > (64u << 20)) GTEST_SKIP() << "the file system keeps no holes";

  // The library reads the same samples from both files.
  expect_same_samples(small, big);
  // ffprobe agrees that the large file holds the small one's packets.
  std::vector<ProbePacket> small_packets, big_packets, out_packets;
  ASSERT_TRUE(probe_packets(small, &small_packets, "-ignore_editlist 1", true, &error)) << error;
  ASSERT_TRUE(probe_packets(big, &big_packets, "-ignore_editlist 1", true, &error)) << error;
  // The program remuxes it: its output holds the same packets.
  std::string out = dir.path("out.mp4");
  std::string said;
  ASSERT_EQ(run_command(std::string(VANTOREL_EXE) + " " + shell_quote(big) + " " + shell_quote(out) + " 2>&1", &said), 0)
      << said;
  ASSERT_TRUE(probe_packets(out, &out_packets, "-ignore_editlist 1", true, &error)) << error;
  for (int s = 0; s < 2; ++s) {
    SCOPED_TRACE("stream " + std::to_string(s));
    EXPECT_TRUE(probe_packets_equal(packets_of(small_packets, s), packets_of(big_packets, s), CompareOptions{}));
    EXPECT_TRUE(probe_packets_equal(packets_of(small_packets, s), packets_of(out_packets, s), CompareOptions{}));
  }
  expect_same_samples(small, out);
}

// ---- More than 4 GiB of samples (by hand) -----------------------------------------------------

constexpr uint32_t kSampleSize = 64u << 20;
constexpr uint32_t kSamples = 72;  // 4.5 GiB

// Sample i: a 16-byte marker naming it, then zeros (a hole in the input).
Bytes marker(uint32_t i) { return cat({text("sample#"), u32(i), u32(0xC0FFEE00 + i), u8(0)}); }

std::string sample_md5(uint32_t i) {
  std::vector<uint8_t> data(kSampleSize, 0);
  Bytes m = marker(i);
  std::copy(m.begin(), m.end(), data.begin());
  return "MD5:" + md5_hex(data.data(), data.size());
}

Bytes large_input_head(uint64_t data_at) {
  Bytes matrix = cat({u32(0x00010000), u32(0), u32(0), u32(0), u32(0x00010000), u32(0), u32(0), u32(0), u32(0x40000000)});
  Bytes visual = cat({zeros(6), u16(1), zeros(16), u16(64), u16(48), u32(0x00480000), u32(0x00480000), u32(0), u16(1),
                      zeros(32), u16(24), u16(0xFFFF)});
  Bytes offsets;
  for (uint32_t i = 0; i < kSamples; ++i) offsets = cat({offsets, u64(data_at + uint64_t{i} * kSampleSize)});
  Bytes stbl = box("stbl", cat({full_box("stsd", 0, 0, cat({u32(1), box("mp4v", visual)})),
                                full_box("stts", 0, 0, cat({u32(1), u32(kSamples), u32(1000)})),
                                full_box("stsc", 0, 0, cat({u32(1), u32(1), u32(1), u32(1)})),
                                full_box("stsz", 0, 0, cat({u32(kSampleSize), u32(kSamples)})),
                                full_box("co64", 0, 0, cat({u32(kSamples), offsets}))}));
  Bytes minf = box("minf", cat({full_box("vmhd", 0, 1, zeros(8)),
                                box("dinf", full_box("dref", 0, 0, cat({u32(1), full_box("url ", 0, 1, {})}))), stbl}));
  Bytes mdia = box("mdia", cat({full_box("mdhd", 0, 0, cat({u32(0), u32(0), u32(25000), u32(kSamples * 1000), u16(0x55C4), u16(0)})),
                                full_box("hdlr", 0, 0, cat({u32(0), text("vide"), zeros(12), cstr("video")})), minf}));
  Bytes tkhd = full_box("tkhd", 0, 7, cat({u32(0), u32(0), u32(1), u32(0), u32(0), zeros(8), u16(0), u16(0), u16(0), u16(0),
                                          matrix, u32(64u << 16), u32(48u << 16)}));
  Bytes mvhd = full_box("mvhd", 0, 0, cat({u32(0), u32(0), u32(600), u32(0), u32(0x00010000), u16(0x0100), zeros(10), matrix,
                                          zeros(24), u32(2)}));
  return cat({box("ftyp", cat({text("isom"), u32(0), text("isom")})), box("moov", cat({mvhd, box("trak", cat({tkhd, mdia}))}))});
}

TEST(LargeFiles, SampleDataPast4GiBRemuxesWith64BitOffsets) {
  if (std::getenv("VANTOREL_LARGE_TESTS") == nullptr)
    GTEST_SKIP() << "writes 4.5 GiB; run by hand with ctest -L large";
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  struct statvfs fs {};
  ASSERT_EQ(statvfs(dir.dir().c_str(), &fs), 0);
  uint64_t free_bytes = uint64_t{fs.f_bavail} * fs.f_frsize;
  if (free_bytes < (uint64_t{10} << 30))
    GTEST_SKIP() << "needs about 10 GiB free in " << dir.dir() << ", has " << (free_bytes >> 20) << " MiB";

  // The input: the samples lie in holes, only their markers are written.
  Bytes probe_head = large_input_head(0);
  const uint64_t mdat_at = probe_head.size();
  const uint64_t data_at = mdat_at + 16;
  Bytes head = large_input_head(data_at);
  ASSERT_EQ(head.size(), probe_head.size());
  const uint64_t mdat_size = 16 + uint64_t{kSamples} * kSampleSize;
  head = cat({head, u32(1), text("mdat"), u64(mdat_size)});
  std::string in = dir.path("in.mp4");
  int fd = open(in.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(write_at(fd, head, 0));
  for (uint32_t i = 0; i < kSamples; ++i) ASSERT_TRUE(write_at(fd, marker(i), data_at + uint64_t{i} * kSampleSize));
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(mdat_at + mdat_size)), 0);
  close(fd);

  std::string out = dir.path("out.mp4");
  std::string said;
  const std::string epoch = "SOURCE_DATE_EPOCH=1700000000 ";
  ASSERT_EQ(run_command(epoch + VANTOREL_EXE + " " + shell_quote(in) + " " + shell_quote(out) + " 2>&1", &said), 0)
      << said;
  // More than 4 GiB of media data: a 64-bit 'mdat' size, and 'co64'.
  std::vector<TopBox> top = top_boxes(out);
  ASSERT_GE(top.size(), 3u);
  EXPECT_EQ(top[0].type, "ftyp");
  EXPECT_EQ(top[1].type, "moov");
  const TopBox& media = top.back();
  EXPECT_EQ(media.type, "mdat");
  EXPECT_EQ(media.header, 16u);
  EXPECT_EQ(media.size, mdat_size);
  std::vector<uint8_t> start(top[1].start + top[1].size);
  std::FILE* f = std::fopen(out.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fread(start.data(), 1, start.size(), f), start.size());
  std::fclose(f);
  std::string movie(start.begin() + static_cast<long>(top[1].start), start.end());
  EXPECT_NE(movie.find("co64"), std::string::npos);
  EXPECT_EQ(movie.find("stco"), std::string::npos);

  // ffprobe reads the last packets where they are, with their data.
  std::vector<ProbePacket> packets;
  std::string error;
  ASSERT_TRUE(probe_packets(out, &packets, "", true, &error)) << error;
  ASSERT_EQ(packets.size(), kSamples);
  for (uint32_t i = kSamples - 3; i < kSamples; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(packets[i].size, kSampleSize);
    EXPECT_EQ(packets[i].data_hash, sample_md5(i));
    EXPECT_EQ(packets[i].dts, int64_t{i} * 1000);
    EXPECT_GT(static_cast<uint64_t>(packets[i].pos), uint64_t{1} << 32);
  }

  // Streamed to a pipe, the same bytes.
  std::string file_sum, piped_sum;
  ASSERT_EQ(run_command("md5sum < " + shell_quote(out), &file_sum), 0);
  ASSERT_EQ(run_command(epoch + VANTOREL_EXE + " --quiet " + shell_quote(in) + " - | md5sum", &piped_sum), 0);
  EXPECT_EQ(piped_sum, file_sum);
}

}  // namespace
}  // namespace vantorel
