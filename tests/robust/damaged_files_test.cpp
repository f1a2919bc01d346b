// Damaged AVI and Matroska files remuxed as a user would: the reproducers
// of faults found by a mutation run, and tables of the same kinds of
// mutation applied to files made here. Every outcome is a refusal that says
// what is wrong, or an output ffprobe reads, no larger than the input plus
// its headers, with every left-out track named.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "robust/damaged_support.h"
#include "support/ffprobe.h"

namespace vantorel::test {
namespace {

constexpr uint32_t kClusterId = 0x1F43B675;

std::string repro(const std::string& name) {
  return std::string(VANTOREL_SOURCE_DIR) + "/tests/robust/damaged/" + name;
}

void write_bytes(const std::string& path, const FileBytes& b) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), f), b.size());
  std::fclose(f);
}

struct ReproCase {
  const char* file;
  int status;             // without --salvage
  const char* says;       // in the standard error, without --salvage
  int salvaged_status;    // with --salvage
  const char* salvage_says;
};

TEST(DamagedFiles, ReproducersGetTheirDiagnosis) {
  VT_REQUIRE_FFMPEG();
  const ReproCase cases[] = {
      // A lace step that would overflow the block time is refused by name.
      {"1-mkv_defaultduration_overflow.mkv", 1, "DefaultDuration too long", 1, "DefaultDuration too long"},
      // An index pointing past the end gives way to the chunks in 'movi'.
      {"2-avi_idx1_offsets_past_end.avi", 0, "read from 'movi'", 0, "read from 'movi'"},
      // Cut files are truncated; salvage writes what is whole.
      {"2b-avi_cut_inside_idx1.avi", 1, "is truncated", 0, "truncated"},
      {"2c-avi_cut_inside_movi.avi", 1, "is truncated", 0, "truncated"},
      // A start no edit can hold is dropped with a warning, never written.
      {"3-avi_strh_start_scale_overflow_elst.avi", 0, "start (4294967295 of 4294967295/1 s) is out of range", 0, ""},
      // The channel count comes from the MPEG audio frame header.
      {"4-mkv_channels_2p64m1.mkv", 0, "", 0, ""},
      {"6a-avi_empty_strl_bad_argument.avi", 0, "has no stream header ('strh')", 0, ""},
      {"6b-mkv_ebml_header_unknown_size.mkv", 1, "at offset 0: EBML header of unknown size", 1, ""},
      {"6c-mkv_doctype_size_huge.mkv", 1, "at offset 21: Matroska element larger than the element it lies in", 1, ""},
      {"6d-mkv_headerstrip_cut_file_io_error.mkv", 1, "track 1 lacks its last 1 of 6 samples", 0, "truncated"},
      {"7-avi_txts_stream_dropped_silently.avi", 0, "type 'txts') is left out: not a video or sound stream", 0, ""},
      {"7d-mkv_tracknumber_renumbered_dropped_silently.mkv", 0, "track 9 (V_MPEG4/ISO/AVC) is left out: no frames", 0,
       "name a track number no track entry has"},
  };
  TempDir dir;
  for (const ReproCase& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string input = repro(c.file);
    const uint64_t size = read_whole_file(input).size();
    const int streams = stream_count(input);
    for (bool salvage : {false, true}) {
      Remuxed r = remux_file(dir, input, salvage);
      EXPECT_EQ(r.status, salvage ? c.salvaged_status : c.status) << r.err;
      EXPECT_NE(r.err.find(salvage ? c.salvage_says : c.says), std::string::npos) << r.err;
      EXPECT_EQ(judge(r, size, streams), "");
    }
  }
}

// The channel count of repro 4 (2^64-1 in the file) is the MPEG audio
// frame header's, not 65,535.
TEST(DamagedFiles, ChannelCountOutOfRangeComesFromTheFrames) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  Remuxed r = remux_file(dir, repro("4-mkv_channels_2p64m1.mkv"), false);
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<ProbeStream> streams;
  ASSERT_TRUE(probe_streams(r.output, &streams));
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].channels, 1);
}

// A recording cut at a cluster boundary holds only whole clusters: its
// Segment size and Duration tell it is cut, and by how much.
TEST(DamagedFiles, MatroskaCutAtAClusterBoundaryIsTruncated) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string made = make_media(dir, "whole.mkv",
                                      "-f lavfi -i testsrc=size=64x48:rate=10:duration=6 -c:v mpeg4 -g 10 "
                                      "-cluster_time_limit 1000");
  ASSERT_FALSE(made.empty());
  FileBytes b = read_whole_file(made);
  std::vector<Element> all = ebml_elements(b);
  const Element* third = ebml_find(all, kClusterId, 3);
  ASSERT_NE(third, nullptr);
  const std::string input = dir.path("cut.mkv");
  write_bytes(input, FileBytes(b.begin(), b.begin() + static_cast<long>(third->at)));
  Remuxed r = remux_file(dir, input, false);
  EXPECT_EQ(r.status, 1);
  // Three of six seconds are left: the message says so, not one frame's worth.
  const size_t at = r.err.find("lacks its last (");
  ASSERT_NE(at, std::string::npos) << r.err;
  EXPECT_GE(std::stod(r.err.substr(at + 16)), 2.5) << r.err;
  Remuxed salvaged = remux_file(dir, input, true);
  EXPECT_EQ(salvaged.status, 0) << salvaged.err;
  EXPECT_EQ(judge(salvaged, b.size(), 1), "");
}

// An index that repeats one entry thousands of times (a 615 KB file once
// gave 1 GB): the repeats are left out with one warning, and the output is
// no larger than the input.
TEST(DamagedFiles, RepeatedIndexEntriesDoNotAmplifyTheOutput) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string made = make_media(dir, "repeat.avi",
                                      "-f lavfi -i testsrc=size=64x48:rate=10:duration=1 -c:v mpeg4 -g 5");
  ASSERT_FALSE(made.empty());
  FileBytes b = read_whole_file(made);
  std::vector<RiffChunk> chunks = riff_chunks(b);
  const RiffChunk* idx1 = riff_find(chunks, "idx1");
  ASSERT_NE(idx1, nullptr);
  // Every entry becomes the largest one.
  size_t largest = idx1->at + 8;
  for (size_t at = idx1->at + 8; at + 16 <= idx1->at + 8 + idx1->size; at += 16)
    if (get_le32(b, at + 12) > get_le32(b, largest + 12)) largest = at;
  FileBytes entry(b.begin() + static_cast<long>(largest), b.begin() + static_cast<long>(largest) + 16);
  for (size_t at = idx1->at + 8; at + 16 <= idx1->at + 8 + idx1->size; at += 16)
    std::memcpy(b.data() + at, entry.data(), 16);
  const std::string input = dir.path("repeated.avi");
  write_bytes(input, b);
  Remuxed r = remux_file(dir, input, false);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("repeat or overlap another chunk"), std::string::npos) << r.err;
  EXPECT_LT(r.size, b.size());
  EXPECT_EQ(judge(r, b.size(), 1), "");
}

// ---- Mutation tables ---------------------------------------------------------

struct Mutation {
  std::string name;
  std::function<bool(FileBytes*)> apply;  // false when the file lacks what it patches
  const char* refused_with = nullptr;     // the refusal must say this, when given
};

void run_mutations(const TempDir& dir, const std::string& original, const std::vector<Mutation>& mutations,
                   const char* extension) {
  const FileBytes source = read_whole_file(original);
  const int streams = stream_count(original);
  ASSERT_GT(streams, 0);
  int applied = 0;
  for (const Mutation& m : mutations) {
    SCOPED_TRACE(m.name);
    FileBytes b = source;
    if (!m.apply(&b)) {
      ADD_FAILURE() << "the made file lacks what the mutation patches";
      continue;
    }
    ++applied;
    const std::string input = dir.path("mutated" + std::string(extension));
    write_bytes(input, b);
    Remuxed r = remux_file(dir, input, false);
    EXPECT_EQ(judge(r, b.size(), streams), "");
    if (m.refused_with != nullptr) {
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find(m.refused_with), std::string::npos) << r.err;
    }
    // Salvage changes only what is refused.
    if (r.status == 1) {
      EXPECT_EQ(judge(remux_file(dir, input, true), b.size(), streams), "") << "with --salvage";
    }
  }
  EXPECT_GE(applied, 20);
}

FileBytes cut_at(const FileBytes& b, size_t at) { return FileBytes(b.begin(), b.begin() + static_cast<long>(at)); }

// AVI: sizes lying, indexes past the end or repeated, cuts at and inside
// every top-level chunk, overflowing rates, scales and lengths, stream
// types and numbers changed.
std::vector<Mutation> avi_mutations(const FileBytes& made) {
  std::vector<Mutation> m;
  auto at_chunk = [](const char* id, int nth, size_t field, uint32_t value) {
    return [=](FileBytes* b) {
      std::vector<RiffChunk> chunks = riff_chunks(*b);
      const RiffChunk* c = riff_find(chunks, id, nth);
      if (c == nullptr) return false;
      set_le32(b, c->at + field, value);
      return true;
    };
  };
  // Offsets into a chunk: its size field is at 4, its payload at 8.
  m.push_back({"RIFF size past the end", at_chunk("AVI ", 0, 4, 0x7FFFFFF0), "is truncated"});
  m.push_back({"RIFF size 0", at_chunk("AVI ", 0, 4, 0)});
  m.push_back({"movi size past the end", at_chunk("movi", 0, 4, 0x7FFFFFF0), "is truncated"});
  m.push_back({"movi size 4", at_chunk("movi", 0, 4, 4)});
  m.push_back({"hdrl size past the end", at_chunk("hdrl", 0, 4, 0x7FFFFFF0)});
  m.push_back({"avih without the has-index flag", at_chunk("avih", 0, 8 + 12, 0)});
  m.push_back({"avih stream count 2^32-1", at_chunk("avih", 0, 8 + 24, 0xFFFFFFFF)});
  m.push_back({"strh rate 0", at_chunk("strh", 0, 8 + 24, 0)});
  m.push_back({"strh scale 2^32-1", at_chunk("strh", 0, 8 + 20, 0xFFFFFFFF)});
  m.push_back({"strh rate 2^32-1", at_chunk("strh", 1, 8 + 24, 0xFFFFFFFF)});
  m.push_back({"strh length 2^32-1", at_chunk("strh", 0, 8 + 32, 0xFFFFFFFF)});
  m.push_back({"strh start and scale 2^32-1", [](FileBytes* b) {
                 std::vector<RiffChunk> chunks = riff_chunks(*b);
                 const RiffChunk* c = riff_find(chunks, "strh", 0);
                 if (c == nullptr) return false;
                 set_le32(b, c->at + 8 + 20, 0xFFFFFFFF);
                 set_le32(b, c->at + 8 + 24, 1);
                 set_le32(b, c->at + 8 + 28, 0xFFFFFFFF);
                 return true;
               }});
  m.push_back({"second stream of type 'txts'", at_chunk("strh", 1, 8, 0x73747874)});
  m.push_back({"first stream header renamed (an empty 'strl')", at_chunk("strh", 0, 0, 0x4B4E554A)});
  m.push_back({"strf size past its list", at_chunk("strf", 0, 4, 0x7FFFFFF0)});
  m.push_back({"wave channels 65535 and block align 0", [](FileBytes* b) {
                 std::vector<RiffChunk> chunks = riff_chunks(*b);
                 const RiffChunk* c = riff_find(chunks, "strf", 1);
                 if (c == nullptr) return false;
                 (*b)[c->at + 10] = 0xFF, (*b)[c->at + 11] = 0xFF;
                 (*b)[c->at + 20] = 0, (*b)[c->at + 21] = 0;
                 return true;
               }});
  m.push_back({"wave rate 2^32-1", at_chunk("strf", 1, 8 + 4, 0xFFFFFFFF)});
  m.push_back({"bitmap 65535 x 65535", [](FileBytes* b) {
                 std::vector<RiffChunk> chunks = riff_chunks(*b);
                 const RiffChunk* c = riff_find(chunks, "strf", 0);
                 if (c == nullptr) return false;
                 set_le32(b, c->at + 12, 0xFFFF);
                 set_le32(b, c->at + 16, 0xFFFF);
                 return true;
               }});
  auto each_index_entry = [](std::function<void(FileBytes*, size_t)> patch) {
    return [=](FileBytes* b) {
      std::vector<RiffChunk> chunks = riff_chunks(*b);
      const RiffChunk* c = riff_find(chunks, "idx1");
      if (c == nullptr) return false;
      for (size_t at = c->at + 8; at + 16 <= c->at + 8 + c->size && at + 16 <= b->size(); at += 16) patch(b, at);
      return true;
    };
  };
  m.push_back({"idx1 offsets past the end", each_index_entry([](FileBytes* b, size_t at) {
                 set_le32(b, at + 8, get_le32(*b, at + 8) + static_cast<uint32_t>(b->size()));
               })});
  m.push_back({"idx1 sizes 2^31", each_index_entry([](FileBytes* b, size_t at) { set_le32(b, at + 12, 0x80000000); })});
  m.push_back({"idx1 repeats its first entry", [](FileBytes* b) {
                 std::vector<RiffChunk> chunks = riff_chunks(*b);
                 const RiffChunk* c = riff_find(chunks, "idx1");
                 if (c == nullptr) return false;
                 for (size_t at = c->at + 24; at + 16 <= c->at + 8 + c->size; at += 16)
                   std::memcpy(b->data() + at, b->data() + c->at + 8, 16);
                 return true;
               }});
  m.push_back({"idx1 stream numbers renumbered",
               each_index_entry([](FileBytes* b, size_t at) { (*b)[at + 1] = '7'; })});
  m.push_back({"idx1 size past the end", at_chunk("idx1", 0, 4, 0x7FFFFFF0), "is truncated"});
  // Cuts at the start and in the middle of every top-level chunk and list.
  for (const RiffChunk& c : riff_chunks(made)) {
    if (c.depth != 1) continue;
    for (size_t at : {c.at, c.at + (8 + c.size) / 2}) {
      if (at == 0 || at >= made.size()) continue;
      m.push_back({"cut at " + std::to_string(at) + " in '" + c.id + "'", [at](FileBytes* b) {
                     *b = cut_at(*b, at);
                     return true;
                   }});
    }
  }
  return m;
}

TEST(DamagedFiles, AviMutations) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string made = make_media(dir, "made.avi",
                                      "-f lavfi -i testsrc=size=64x48:rate=10:duration=2 -f lavfi -i "
                                      "sine=duration=2:sample_rate=16000 -c:v mpeg4 -g 5 -c:a mp2 -b:a 32k");
  ASSERT_FALSE(made.empty());
  run_mutations(dir, made, avi_mutations(read_whole_file(made)), ".avi");
}

// Matroska ids patched below.
enum : uint32_t {
  kEbml = 0x1A45DFA3,
  kDocType = 0x4282,
  kSegment = 0x18538067,
  kInfo = 0x1549A966,
  kScale = 0x2AD7B1,
  kDuration = 0x4489,
  kTracks = 0x1654AE6B,
  kTrackNumber = 0xD7,
  kDefaultDuration = 0x23E383,
  kChannels = 0x9F,
  kSampling = 0xB5,
  kCodecId = 0x86,
  kCluster = 0x1F43B675,
  kClusterTime = 0xE7,
  kSimpleBlock = 0xA3,
  kCues = 0x1C53BB6B,
  kCuePosition = 0xF1,
};

// Matroska: sizes lying or unknown, overflowing scales, durations and
// channel counts, a track renumbered, cues and a Duration that say more
// than the file holds, cuts at and inside every top-level element.
std::vector<Mutation> matroska_mutations(const FileBytes& made) {
  std::vector<Mutation> m;
  auto element = [](uint32_t id, int nth, std::function<void(FileBytes*, const Element&)> patch) {
    return [=](FileBytes* b) {
      std::vector<Element> all = ebml_elements(*b);
      const Element* e = ebml_find(all, id, nth);
      if (e == nullptr) return false;
      patch(b, *e);
      return true;
    };
  };
  auto set_uint = [&](uint32_t id, int nth, uint64_t v) {
    return element(id, nth, [v](FileBytes* b, const Element& e) { ebml_set_uint(b, e, v); });
  };
  auto set_size = [&](uint32_t id, int nth, bool unknown) {
    return element(id, nth, [unknown](FileBytes* b, const Element& e) {
      ebml_set_size(b, e, unknown ? ebml_size_max(e) + 1 : ebml_size_max(e));
    });
  };
  auto set_float = [&](uint32_t id, double v) {
    return element(id, 0, [v](FileBytes* b, const Element& e) {
      uint64_t bits = 0;
      if (e.size == 8) {
        std::memcpy(&bits, &v, 8);
      } else {
        const float f = static_cast<float>(v);
        uint32_t b32 = 0;
        std::memcpy(&b32, &f, 4);
        bits = b32;
      }
      ebml_set_uint(b, e, bits);
    });
  };
  m.push_back({"EBML header of unknown size", set_size(kEbml, 0, true), "EBML header of unknown size"});
  m.push_back({"DocType larger than its header", set_size(kDocType, 0, false), "larger than the element it lies in"});
  m.push_back({"Segment size past the end", set_size(kSegment, 0, false), "is truncated"});
  m.push_back({"Segment of unknown size", set_size(kSegment, 0, true)});
  m.push_back({"Info size past the end", set_size(kInfo, 0, false)});
  m.push_back({"Tracks size past the end", set_size(kTracks, 0, false)});
  m.push_back({"TimestampScale 1", set_uint(kScale, 0, 1)});
  m.push_back({"TimestampScale 0", set_uint(kScale, 0, 0), "TimestampScale"});
  m.push_back({"Duration doubled", element(kDuration, 0, [](FileBytes* b, const Element& e) {
                 FileBytes& f = *b;
                 // The exponent's lowest bit: one more doubles a float or a double.
                 f[e.data + 1] = static_cast<uint8_t>(f[e.data + 1] + (e.size == 8 ? 0x10 : 0x80));
               }),
               "is truncated"});
  m.push_back({"Duration NaN", set_float(kDuration, std::nan(""))});
  m.push_back({"Duration 1e300", set_float(kDuration, 1e300)});
  m.push_back({"first TrackNumber renumbered", set_uint(kTrackNumber, 0, 9)});
  m.push_back({"DefaultDuration 2^n-1", set_uint(kDefaultDuration, 0, ~uint64_t{0})});
  m.push_back({"Channels 2^n-1", set_uint(kChannels, 0, ~uint64_t{0})});
  m.push_back({"SamplingFrequency 1e300", set_float(kSampling, 1e300)});
  m.push_back({"SamplingFrequency 0", set_float(kSampling, 0)});
  m.push_back({"CodecID unknown",
               element(kCodecId, 0, [](FileBytes* b, const Element& e) { (*b)[e.data + 2] = 'Q'; })});
  m.push_back({"Cluster size past the end", set_size(kCluster, 0, false)});
  m.push_back({"Cluster of unknown size", set_size(kCluster, 0, true)});
  m.push_back({"ClusterTimestamp 2^n-1", set_uint(kClusterTime, 1, ~uint64_t{0})});
  m.push_back({"SimpleBlock size past its cluster", set_size(kSimpleBlock, 2, false)});
  m.push_back({"Cues point past the end", set_uint(kCuePosition, 0, ~uint64_t{0} >> 8), "is truncated"});
  // Cuts at the start and in the middle of every element at the top two
  // levels (the segment's children).
  for (const Element& e : ebml_elements(made)) {
    if (e.depth > 1) continue;
    for (size_t at : {e.at, e.data + static_cast<size_t>(e.size) / 2}) {
      if (at == 0 || at >= made.size()) continue;
      m.push_back({"cut at " + std::to_string(at) + " in element " + std::to_string(e.id), [at](FileBytes* b) {
                     *b = cut_at(*b, at);
                     return true;
                   }});
    }
  }
  return m;
}

TEST(DamagedFiles, MatroskaMutations) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string made = make_media(dir, "made.mkv",
                                      "-f lavfi -i testsrc=size=64x48:rate=10:duration=3 -f lavfi -i "
                                      "sine=duration=3:sample_rate=16000 -c:v mpeg4 -g 5 -c:a mp2 -b:a 32k "
                                      "-cluster_time_limit 500");
  ASSERT_FALSE(made.empty());
  run_mutations(dir, made, matroska_mutations(read_whole_file(made)), ".mkv");
}

}  // namespace
}  // namespace vantorel::test
