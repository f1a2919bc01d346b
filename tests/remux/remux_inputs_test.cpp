// Inputs of every kind the remux reads: fragmented files, compressed movie
// headers, chapters and tags, tracks that need their configuration derived.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/output_namer.h"
#include "app/run_state.h"
#include "io/io_routines.h"
#include "mediafile/mediafile.h"
#include "meta/chapters.h"
#include "remux/remux.h"
#include "support/box_builder.h"
#include "support/compare.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

void expect_same_packets(const std::string& in, const std::string& out, bool relative) {
  std::vector<ProbePacket> a, b;
  ASSERT_TRUE(probe_packets(in, &a, "-ignore_editlist 1"));
  ASSERT_TRUE(probe_packets(out, &b, "-ignore_editlist 1"));
  std::vector<ProbeStream> streams;
  ASSERT_TRUE(probe_streams(in, &streams));
  for (const ProbeStream& s : streams) {
    SCOPED_TRACE(s.index);
    CompareOptions options;
    options.relative = relative;
    options.pcm = s.codec_tag == "twos";
    EXPECT_TRUE(probe_packets_equal(packets_of(a, s.index), packets_of(b, s.index), options));
  }
}

void write_file(const std::string& path, const Bytes& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

TEST(RemuxInputs, FragmentedFilesBecomeOrdinaryFiles) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string av = "-f lavfi -i testsrc=size=96x64:rate=25:duration=3 -f lavfi -i sine=sample_rate=48000:duration=3 "
                         "-c:v libx264 -bf 2 -g 25 -pix_fmt yuv420p -c:a aac ";
  for (const char* flags : {"-movflags frag_keyframe+empty_moov", "-movflags frag_keyframe+empty_moov+default_base_moof",
                            "-frag_duration 500000"}) {
    SCOPED_TRACE(flags);
    std::string error;
    std::string in = make_media(dir, "frag.mp4", av + flags, &error);
    ASSERT_FALSE(in.empty()) << error;
    std::string out = dir.path("plain.mp4");
    std::remove(out.c_str());  // the last case's, which a new run does not replace
    std::string said;
    ASSERT_EQ(remux_command(in, out, &said), 0) << said;
    std::vector<std::string> top = top_level_types(out);
    EXPECT_EQ(std::count(top.begin(), top.end(), "moof"), 0);
    expect_same_packets(in, out, true);
  }
}

// Replaces the movie box at the end of a QuickTime file by a compressed one.
Bytes compress_movie(const Bytes& file, const char* method, bool corrupt) {
  size_t at = 0, moov = 0, moov_size = 0;
  while (at + 8 <= file.size()) {
    size_t size = (size_t{file[at]} << 24) | (size_t{file[at + 1]} << 16) | (size_t{file[at + 2]} << 8) | file[at + 3];
    if (std::string(file.begin() + static_cast<long>(at) + 4, file.begin() + static_cast<long>(at) + 8) == "moov") {
      moov = at;
      moov_size = size;
    }
    at += size;
  }
  EXPECT_EQ(moov + moov_size, file.size());  // ffmpeg writes it last
  Bytes plain(file.begin() + static_cast<long>(moov), file.end());
  uLongf packed_size = compressBound(plain.size());
  Bytes packed(packed_size);
  EXPECT_EQ(compress2(packed.data(), &packed_size, plain.data(), plain.size(), 9), Z_OK);
  packed.resize(packed_size);
  if (corrupt)
    for (size_t i = 10; i < packed.size(); i += 7) packed[i] ^= 0x5A;
  Bytes cmov = box("cmov", cat({box("dcom", text(method)), box("cmvd", cat({u32(static_cast<uint32_t>(plain.size())), packed}))}));
  Bytes out(file.begin(), file.begin() + static_cast<long>(moov));
  Bytes moov_box = box("moov", cmov);
  out.insert(out.end(), moov_box.begin(), moov_box.end());
  return out;
}

ErrorCode open_result(const std::string& path) {
  OpenParams p{};
  p.routines = std_routines();
  p.path = path.c_str();
  MediaFile* f = nullptr;
  ErrorCode e = media_open(&f, &p, kOpenRead);
  if (f != nullptr) media_close(f);
  return e;
}

TEST(RemuxInputs, CompressedMovieHeaders) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string in = make_media(dir, "movie.mov",
                              "-f lavfi -i testsrc=size=96x64:rate=25:duration=2 -f lavfi -i sine=duration=2 "
                              "-c:v libx264 -pix_fmt yuv420p -c:a aac",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  Bytes original = read_whole_file(in);
  std::string packed = dir.path("packed.mov");
  write_file(packed, compress_movie(original, "zlib", false));
  ASSERT_LT(read_whole_file(packed).size(), original.size());
  std::string plain_out = dir.path("plain.mp4"), packed_out = dir.path("packed.mp4");
  ASSERT_EQ(remux_command(in, plain_out), 0);
  std::string said;
  ASSERT_EQ(remux_command(packed, packed_out, &said), 0) << said;
  // The same output, byte for byte but for creation times: compare packets
  // and the movie header's size.
  expect_same_packets(in, packed_out, false);
  EXPECT_EQ(read_whole_file(plain_out).size(), read_whole_file(packed_out).size());

  std::string wrong = dir.path("wrong.mov");
  write_file(wrong, compress_movie(original, "gzip", false));
  EXPECT_EQ(open_result(wrong), ErrorCode::CompressionType);
  EXPECT_EQ(remux_command(wrong, dir.path("x.mp4"), &said), 1);
  std::string corrupt = dir.path("corrupt.mov");
  write_file(corrupt, compress_movie(original, "zlib", true));
  EXPECT_EQ(open_result(corrupt), ErrorCode::Inflate);
}

std::string chapter_metadata(const TempDir& dir, const std::vector<int>& starts, int end) {
  std::string path = dir.path("chapters.txt");
  FILE* f = std::fopen(path.c_str(), "w");
  std::fputs(";FFMETADATA1\ntitle=Chaptered\n", f);
  for (size_t i = 0; i < starts.size(); ++i)
    std::fprintf(f, "[CHAPTER]\nTIMEBASE=1/1000\nSTART=%d\nEND=%d\ntitle=Chapter %zu\n", starts[i] * 1000,
                 (i + 1 < starts.size() ? starts[i + 1] : end) * 1000, i + 1);
  std::fclose(f);
  return path;
}

struct Chapter {
  std::string title;
  uint64_t start;  // 100 ns
  bool operator==(const Chapter&) const = default;
};

std::vector<Chapter> chapters_of(const std::string& path) {
  OpenParams p{};
  p.routines = std_routines();
  p.path = path.c_str();
  MediaFile* f = nullptr;
  std::vector<Chapter> out;
  if (media_open(&f, &p, kOpenRead) != ErrorCode::Ok) return out;
  MetadataCounts counts;
  metadata_counts(f, &counts);
  for (uint32_t i = 0; i < counts.chapter_count; ++i) {
    ChapterInfo c;
    get_chapter(f, i, &c);
    out.push_back({c.title, c.start_time});
  }
  media_close(f);
  return out;
}

TEST(RemuxInputs, ChaptersReachTheOutputAndSplitWithIt) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string in = make_media(dir, "chaptered.mp4",
                              "-f lavfi -i testsrc=size=32x32:rate=25:duration=100 -f lavfi -i "
                              "sine=sample_rate=48000:duration=100 -i " +
                                  shell_quote(chapter_metadata(dir, {0, 40, 80}, 100)) +
                                  " -map 0:v -map 1:a -map_metadata 2 -map_chapters 2 -c:v libx264 -preset ultrafast "
                                  "-g 50 -keyint_min 50 -sc_threshold 0 -pix_fmt yuv420p -c:a aac",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  std::vector<Chapter> input = chapters_of(in);
  ASSERT_EQ(input.size(), 3u);
  // Unsplit: the same titles and times; the chapter text track is carried
  // as well, without a warning.
  std::string out = dir.path("whole.mp4");
  std::string said;
  ASSERT_EQ(remux_command(in, out, &said), 0) << said;
  EXPECT_EQ(said.find("warning"), std::string::npos) << said;
  EXPECT_EQ(chapters_of(out), input);
  std::vector<ProbeStream> streams;
  ASSERT_TRUE(probe_streams(out, &streams));
  EXPECT_EQ(streams.size(), 3u);
  // Split at 60 s: the first part has the chapters at 0 and 40 s, the second
  // the one at 80 s, as far into it as 80 s is past the cut (60 s, or the
  // sync sample before it when the group's audio would pass 60 s).
  app::RunState state{};
  std::string part = dir.path("part.mp4");
  app::run_state_init(&state, in.c_str(), part.c_str(), nullptr);
  uint64_t limit = 60000;
  RemuxOptions options{};
  options.split = SplitOptions{kSplitByDuration, &limit, 1, false};
  ASSERT_EQ(remux_run(in.c_str(), app::output_namer, nullptr, &options, nullptr, &state, nullptr), ErrorCode::Ok);
  app::run_state_release(&state);
  EXPECT_EQ(chapters_of(part), (std::vector<Chapter>{input[0], input[1]}));
  std::vector<ProbePacket> first_part;
  ASSERT_TRUE(probe_packets(part, &first_part, "-ignore_editlist 1", false));
  uint64_t cut = packets_of(first_part, 0).size() * 400000;  // 25 fps: 400,000 units of 100 ns a frame
  EXPECT_GE(cut, 580000000u);
  EXPECT_LE(cut, 600000000u);
  EXPECT_EQ(chapters_of(dir.path("part_1.mp4")), (std::vector<Chapter>{{input[2].title, 800000000 - cut}}));
}

}  // namespace
}  // namespace vantorel
