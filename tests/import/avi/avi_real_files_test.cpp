// AVI files made by ffmpeg, read sample by sample and compared with
// ffprobe's packets; and the same files re-indexed with OpenDML indexes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "boxes/hdlr.h"
#include "import/avi/avi_builder.h"
#include "mediafile/mediafile.h"
#include "support/compare.h"
#include "support/decoded.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

uint32_t le32(const Bytes& b, size_t at) {
  return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) | (uint32_t{b[at + 3]} << 24);
}
void put_le32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
std::string id_at(const Bytes& b, size_t at) { return std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4); }

// Where things are in an AVI file as ffmpeg writes it.
struct AviMap {
  size_t avih_flags = 0;                 // offset of the main header's flags
  std::vector<size_t> index_placeholders;  // per stream: the 'JUNK' chunk ffmpeg keeps for an 'indx'
  size_t movi_start = 0;
  size_t idx1_at = 0;
};

void map_chunks(const Bytes& b, size_t from, size_t end, AviMap* map, int depth) {
  size_t at = from;
  while (at + 8 <= end) {
    std::string id = id_at(b, at);
    size_t size = le32(b, at + 4);
    if (id == "LIST" || id == "RIFF") {
      std::string type = id_at(b, at + 8);
      if (type == "movi") map->movi_start = at;
      if (type == "strl") map->index_placeholders.push_back(0);
      if (type != "movi") map_chunks(b, at + 12, at + 8 + size, map, depth + 1);
    } else if (id == "avih") {
      map->avih_flags = at + 8 + 12;
    } else if (id == "JUNK" && depth == 3 && !map->index_placeholders.empty() && map->index_placeholders.back() == 0) {
      map->index_placeholders.back() = at;
    } else if (id == "idx1") {
      map->idx1_at = at;
    }
    at += 8 + size + (size & 1);
  }
}

// Rewrites a file indexed by 'idx1' so that every stream is indexed by an
// OpenDML index of indexes in its 'strl' (in place of ffmpeg's placeholder),
// leading to two standard indexes appended after the RIFF chunk; unless
// `keep_idx1`, the 'idx1' becomes 'JUNK' and the has-index flag is cleared,
// so only the new indexes can supply the samples.
Bytes with_odml_indexes(const Bytes& original, std::string* error, bool keep_idx1 = false) {
  Bytes b = original;
  AviMap map;
  map_chunks(b, 0, b.size(), &map, 0);
  if (map.idx1_at == 0 || map.movi_start == 0 || map.avih_flags == 0) {
    *error = "no idx1, movi or avih";
    return {};
  }
  struct Entry {
    uint64_t data;
    uint32_t size;
    bool key;
  };
  std::map<int, std::vector<Entry>> per_stream;
  size_t count = le32(b, map.idx1_at + 4) / 16;
  for (size_t i = 0; i < count; ++i) {
    size_t e = map.idx1_at + 8 + 16 * i;
    std::string id = id_at(b, e);
    int stream = std::stoi(id.substr(0, 2), nullptr, 16);
    uint64_t data = map.movi_start + 8 + le32(b, e + 8) + 8;
    per_stream[stream].push_back({data, le32(b, e + 12), (le32(b, e + 4) & 0x10) != 0});
  }
  if (per_stream.size() != map.index_placeholders.size()) {
    *error = "streams and placeholders differ";
    return {};
  }
  Bytes tail;
  for (auto& [stream, entries] : per_stream) {
    char ix_id[8];
    std::snprintf(ix_id, sizeof ix_id, "ix%02d", stream);
    std::vector<std::pair<uint64_t, uint32_t>> parts;
    size_t half = entries.size() / 2;
    for (int part = 0; part < 2; ++part) {
      size_t lo = part == 0 ? 0 : half, hi = part == 0 ? half : entries.size();
      // The first standard index counts from 'movi', the second from the file's start.
      uint64_t base = part == 0 ? map.movi_start : 0;
      std::vector<std::pair<uint32_t, uint32_t>> list;
      for (size_t i = lo; i < hi; ++i)
        list.push_back({static_cast<uint32_t>(entries[i].data - base), entries[i].size | (entries[i].key ? 0 : 0x80000000u)});
      Bytes ix = standard_index(ix_id, base, list);
      parts.push_back({b.size() + tail.size(), static_cast<uint32_t>(ix.size())});
      tail.insert(tail.end(), ix.begin(), ix.end());
    }
    Bytes indx = super_index(std::string(ix_id + 2, 2) + "dc", parts);
    size_t at = map.index_placeholders[static_cast<size_t>(stream)];
    size_t room = 8 + le32(b, at + 4);
    if (at == 0 || indx.size() > room) {
      *error = "no room for an index";
      return {};
    }
    put_le32(&indx, 4, static_cast<uint32_t>(room - 8));
    indx.resize(room, 0);
    std::copy(indx.begin(), indx.end(), b.begin() + static_cast<long>(at));
  }
  if (!keep_idx1) {
    std::memcpy(&b[map.idx1_at], "JUNK", 4);
    put_le32(&b, map.avih_flags, le32(b, map.avih_flags) & ~0x10u);
  }
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

void write_file(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
}

const char* kVideo = "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 ";
const char* kAudio = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 ";

// Compares what the library reads from `path` with ffprobe's view of
// `reference` (the same samples): sizes and data of the non-empty samples,
// key frames, sample rates and durations. AVI timestamps are not compared:
// ffprobe counts skipped frames where the library has zero-size samples.
void expect_same_as_ffprobe(const std::string& path, const std::string& reference) {
  std::string error;
  std::vector<LibraryTrack> tracks;
  ASSERT_TRUE(read_with_library(path, &tracks, &error)) << error;
  std::vector<ProbePacket> packets;
  std::vector<ProbeStream> streams;
  ASSERT_TRUE(probe_packets(reference, &packets, "", true, &error)) << error;
  ASSERT_TRUE(probe_streams(reference, &streams, "", &error)) << error;
  ASSERT_EQ(tracks.size(), streams.size());
  for (size_t i = 0; i < streams.size(); ++i) {
    const ProbeStream& s = streams[i];
    const LibraryTrack& t = tracks[i];
    SCOPED_TRACE("stream " + std::to_string(i) + " " + s.codec_name);
    EXPECT_EQ(t.track_id, i + 1);
    std::vector<ProbePacket> theirs = packets_of(packets, s.index);
    ASSERT_FALSE(theirs.empty());
    for (ProbePacket& p : theirs) p.has_dts = p.has_pts = false;
    CompareOptions options;
    options.skip_empty = true;
    if (s.codec_name == "pcm_s16le") {
      // Turned big-endian: the same number of bytes, not the same bytes.
      uint64_t bytes = 0;
      for (const ProbePacket& p : theirs) bytes += p.size;
      EXPECT_EQ(t.fourcc, "twos");
      EXPECT_EQ(t.total_bytes, bytes);
    } else {
      EXPECT_TRUE(packets_equal(t, theirs, options));
    }
    // The track lasts until the end of ffprobe's last packet.
    const ProbePacket& last = theirs.back();
    ASSERT_GT(s.time_base_den, 0);
    EXPECT_EQ(t.media_duration * static_cast<uint64_t>(s.time_base_den),
              static_cast<uint64_t>(last.pts + last.duration) * static_cast<uint64_t>(s.time_base_num) * t.timescale);
    if (s.codec_type == "audio") {
      EXPECT_EQ(t.kind, kHandlerSound);
      EXPECT_EQ(t.sample_rate, static_cast<uint32_t>(s.sample_rate));
      EXPECT_EQ(t.channel_count, static_cast<uint32_t>(s.channels));
    } else {
      EXPECT_EQ(t.kind, kHandlerVideo);
      EXPECT_EQ(t.width, static_cast<uint32_t>(s.width));
      EXPECT_EQ(t.height, static_cast<uint32_t>(s.height));
    }
  }
}

TEST(AviRealFiles, SamplesMatchFfprobeWithEitherIndex) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  struct Case {
    const char* name;
    const char* file;
    std::string args;
  };
  const Case cases[] = {
      {"MPEG-4 Visual and MP3", "mp4v.avi", std::string(kVideo) + kAudio + "-c:v mpeg4 -c:a libmp3lame -ac 2"},
      {"Motion JPEG and PCM", "mjpeg.avi", std::string(kVideo) + kAudio + "-c:v mjpeg -pix_fmt yuvj420p -c:a pcm_s16le -ac 2"},
      {"MPEG-4 Visual at 30000/1001", "ntsc.avi",
       "-f lavfi -i testsrc=size=64x48:rate=30000/1001 -frames:v 300 -c:v mpeg4 -g 30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    std::string path = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(path.empty()) << error;
    {
      SCOPED_TRACE("idx1");
      expect_same_as_ffprobe(path, path);
    }
    if (std::string(c.file) == "ntsc.avi") {
      std::vector<LibraryTrack> tracks;
      ASSERT_TRUE(read_with_library(path, &tracks, &error)) << error;
      ASSERT_EQ(tracks.size(), 1u);
      EXPECT_EQ(tracks[0].timescale, 30000u);
      EXPECT_EQ(tracks[0].media_duration, 300300u);
      EXPECT_EQ(tracks[0].sample_count, 300u);
    }
    Bytes odml = with_odml_indexes(read_whole_file(path), &error);
    ASSERT_FALSE(odml.empty()) << error;
    std::string odml_path = dir.path(std::string("odml_") + c.file);
    write_file(odml_path, odml);
    {
      SCOPED_TRACE("OpenDML");
      expect_same_as_ffprobe(odml_path, path);
    }
  }
}

// OpenDML files, with and without an 'idx1' beside their indexes, remux
// into MP4 files that decode as the original does.
TEST(AviRealFiles, OpenDmlFilesRemux) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  const std::string path = make_media(dir, "plain.avi",
                                      std::string(kVideo) + kAudio + "-c:v mpeg4 -bf 2 -c:a libmp3lame -q:a 4", &error);
  ASSERT_FALSE(path.empty()) << error;
  std::vector<DecodedStream> original;
  ASSERT_TRUE(decode_streams(path, {"mpeg4", "mp3"}, &original, &error)) << error;
  ASSERT_EQ(original.size(), 2u);
  for (bool keep_idx1 : {false, true}) {
    SCOPED_TRACE(keep_idx1 ? "with idx1" : "without idx1");
    Bytes odml = with_odml_indexes(read_whole_file(path), &error, keep_idx1);
    ASSERT_FALSE(odml.empty()) << error;
    const std::string in = dir.path(keep_idx1 ? "both.avi" : "odml.avi");
    const std::string out = dir.path(keep_idx1 ? "both.mp4" : "odml.mp4");
    write_file(in, odml);
    std::string said;
    ASSERT_EQ(run_command(std::string(VANTOREL_EXE) + " " + shell_quote(in) + " " + shell_quote(out) + " 2>&1", &said), 0)
        << said;
    EXPECT_EQ(probe_errors(out), "");
    std::vector<DecodedStream> ours;
    ASSERT_TRUE(decode_streams(out, {"mpeg4", "mp3"}, &ours, &error)) << error;
    ASSERT_EQ(ours.size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_TRUE(decoded_equal(original[i], ours[i])) << "stream " << i;
  }
}

}  // namespace
}  // namespace vantorel
