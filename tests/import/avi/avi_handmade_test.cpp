// AVI streams put together by hand from what ffmpeg encodes: packed
// B-frames, a first frame that is not a key frame, MP3 frames straddling
// chunks, Motion JPEG without Huffman tables; and streams that do not parse,
// which lose their track (with the reason kept) and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "import/avi/avi_builder.h"
#include "mediafile/media_file.h"
#include "support/compare.h"
#include "support/decoded.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

uint32_t le32_at(const Bytes& b, size_t at) {
  return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) | (uint32_t{b[at + 3]} << 24);
}

// The chunks of a 'movi' list in file order, with their ids.
void movi_chunks(const Bytes& b, size_t from, size_t end, std::vector<MoviChunk>* out) {
  for (size_t at = from; at + 8 <= end;) {
    std::string id(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
    size_t size = le32_at(b, at + 4);
    if (id == "LIST" || id == "RIFF") {
      std::string type(b.begin() + static_cast<long>(at) + 8, b.begin() + static_cast<long>(at) + 12);
      if (type == "movi" || type == "rec ") {
        out->clear();
        movi_chunks(b, at + 12, std::min(end, at + 8 + size), out);
        if (type == "movi") return;
      } else if (type == "AVI ") {
        movi_chunks(b, at + 12, std::min(end, at + 8 + size), out);
        return;
      }
    } else if (at + 8 + size <= end && id[2] >= 'a' && id[2] <= 'z') {
      out->push_back({id, Bytes(b.begin() + static_cast<long>(at) + 8, b.begin() + static_cast<long>(at + 8 + size))});
    }
    at += 8 + size + (size & 1);
  }
}

std::vector<Bytes> chunks_of(const Bytes& file, const std::string& id) {
  std::vector<MoviChunk> all;
  movi_chunks(file, 0, file.size(), &all);
  std::vector<Bytes> out;
  for (const MoviChunk& c : all)
    if (c.id == id) out.push_back(c.data);
  return out;
}

// An AVI of the given stream lists whose 'movi' holds `chunks` in order,
// indexed by 'idx1' (`key` decides each entry's key-frame flag).
Bytes hand_avi(const Bytes& lists, uint32_t streams, const std::vector<MoviChunk>& chunks,
               const std::vector<bool>& key = {}) {
  Bytes hdrl = cat({avih_chunk(kHasIndex, 160, 120, streams), lists});
  Movi movi = movi_of(chunks);
  Bytes entries;
  for (size_t i = 0; i < chunks.size(); ++i) {
    bool k = i < key.size() ? key[i] : true;
    Bytes e = idx1_entry(chunks[i].id, k ? 0x10 : 0, movi.header_offsets[i], static_cast<uint32_t>(chunks[i].data.size()));
    entries.insert(entries.end(), e.begin(), e.end());
  }
  return avi_file(hdrl, movi, riff_chunk("idx1", entries));
}

Bytes video_list(const std::string& code, uint32_t rate = 25) {
  StreamHeader h;
  h.handler = code;
  h.rate = rate;
  return stream_list(cat({strh_chunk(h), riff_chunk("strf", bitmap_info(160, 120, 24, code))}));
}

void write_bytes_to(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
}

// VOPs start with 00 00 01 B6; the next two bits are the coding type.
int vop_type(const Bytes& chunk) {
  for (size_t i = 0; i + 4 < chunk.size(); ++i)
    if (chunk[i] == 0 && chunk[i + 1] == 0 && chunk[i + 2] == 1 && chunk[i + 3] == 0xB6) return chunk[i + 4] >> 6;
  return -1;
}

// A not-coded P-VOP for a time increment of five bits (a resolution of 25):
// type 01, modulo time base 0, marker, increment 00000, marker, not coded,
// then stuffing to the byte.
const Bytes kNotCodedVop = {0x00, 0x00, 0x01, 0xB6, 0x50, 0x4F};

// Whether a JPEG image has a DHT segment before its scan.
bool has_tables(const Bytes& b) {
  for (size_t i = 2; i + 4 <= b.size() && b[i] == 0xFF && b[i + 1] != 0xDA; i += 2 + ((size_t{b[i + 2]} << 8) | b[i + 3]))
    if (b[i + 1] == 0xC4) return true;
  return false;
}

// The first `count` samples of the first track of `path`, as the library reads them.
std::vector<Bytes> first_samples(const std::string& path, uint32_t count) {
  std::vector<Bytes> out;
  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  if (media_open(&file, &params, kOpenRead) != ErrorCode::Ok) return out;
  const uint32_t id = track_id_of(track_at(file->root, 0));
  TrackInfo info;
  if (track_info(file, id, &info) == ErrorCode::Ok) {
    Bytes buffer(info.max_sample_size);
    for (uint32_t i = 0; i < count; ++i) {
      SampleRead s{};
      s.buffer = buffer.data();
      s.capacity = static_cast<uint32_t>(buffer.size());
      if (read_next_sample(file, id, &s) != ErrorCode::Ok) break;
      out.emplace_back(buffer.begin(), buffer.begin() + s.size);
    }
  }
  media_close(file);
  return out;
}

::testing::AssertionResult same_decoding(const std::string& a, const std::string& b, const std::vector<std::string>& decoders) {
  std::string error;
  std::vector<DecodedStream> da, db;
  if (!decode_streams(a, decoders, &da, &error) || !decode_streams(b, decoders, &db, &error))
    return ::testing::AssertionFailure() << error;
  if (da.size() != db.size()) return ::testing::AssertionFailure() << da.size() << " and " << db.size() << " streams";
  for (size_t i = 0; i < da.size(); ++i)
    if (auto r = decoded_equal(da[i], db[i]); !r) return r << " (stream " << i << ")";
  return ::testing::AssertionSuccess();
}

TEST(AviHandMade, PackedBFramesAreUnpacked) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  const std::string plain = make_media(dir, "plain.avi",
                                       "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v mpeg4 -bf 1 -g 12", &error);
  ASSERT_FALSE(plain.empty()) << error;
  std::vector<Bytes> frames = chunks_of(read_whole_file(plain), "00dc");
  ASSERT_GT(frames.size(), 10u);
  // Each anchor followed by a B-VOP goes into one chunk with it, and a
  // placeholder takes the B-VOP's place.
  std::vector<MoviChunk> packed;
  std::vector<bool> key;
  size_t pairs = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    if (i + 1 < frames.size() && vop_type(frames[i]) == 1 && vop_type(frames[i + 1]) == 2) {
      Bytes both = cat({frames[i], frames[i + 1]});
      packed.push_back({"00dc", both});
      packed.push_back({"00dc", kNotCodedVop});
      key.insert(key.end(), {false, false});
      ++i;
      ++pairs;
      continue;
    }
    packed.push_back({"00dc", frames[i]});
    key.push_back(vop_type(frames[i]) == 0);
  }
  ASSERT_GT(pairs, 5u);
  const std::string in = dir.path("packed.avi");
  write_bytes_to(in, hand_avi(video_list("DX50"), 1, packed, key));
  const std::string out = dir.path("out.mp4");
  RunResult run = run_program(dir, {in, out});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(probe_errors(out), "");
  // One sample a picture, as the unpacked stream has them.
  std::vector<ProbePacket> packets;
  ASSERT_TRUE(probe_packets(out, &packets, "", true, &error)) << error;
  ASSERT_EQ(packets.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(packets[i].size, frames[i].size()) << "packet " << i;
  EXPECT_TRUE(same_decoding(plain, out, {"mpeg4"}));
}

TEST(AviHandMade, FirstFrameNotAKeyFrame) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  const std::string plain =
      make_media(dir, "plain.avi", "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -c:v mpeg4 -g 10", &error);
  ASSERT_FALSE(plain.empty()) << error;
  std::vector<Bytes> frames = chunks_of(read_whole_file(plain), "00dc");
  ASSERT_GT(frames.size(), 12u);
  ASSERT_EQ(vop_type(frames[0]), 0);
  ASSERT_EQ(vop_type(frames[1]), 1);
  // The stream starts at the second frame, behind the first frame's headers.
  Bytes headers(frames[0].begin(), frames[0].begin() + static_cast<long>(frames[0].size() - 1));
  for (size_t i = 0; i + 3 < frames[0].size(); ++i)
    if (frames[0][i] == 0 && frames[0][i + 1] == 0 && frames[0][i + 2] == 1 && frames[0][i + 3] == 0xB6) {
      headers.resize(i);
      break;
    }
  std::vector<MoviChunk> chunks{{"00dc", cat({headers, frames[1]})}};
  std::vector<bool> key{false};
  for (size_t i = 2; i < frames.size(); ++i) {
    chunks.push_back({"00dc", frames[i]});
    key.push_back(vop_type(frames[i]) == 0);
  }
  const std::string in = dir.path("late_key.avi");
  write_bytes_to(in, hand_avi(video_list("XVID"), 1, chunks, key));

  std::vector<LibraryTrack> tracks;
  ASSERT_TRUE(read_with_library(in, &tracks, &error)) << error;
  ASSERT_EQ(tracks.size(), 1u);
  EXPECT_EQ(tracks[0].fourcc, "mp4v");
  ASSERT_EQ(tracks[0].packets.size(), chunks.size());
  EXPECT_FALSE(tracks[0].packets[0].key);
  EXPECT_TRUE(tracks[0].packets[9].key);  // the second group's I-VOP

  const std::string out = dir.path("out.mp4");
  RunResult run = run_program(dir, {in, out});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<ProbePacket> packets;
  ASSERT_TRUE(probe_packets(out, &packets, "", true, &error)) << error;
  ASSERT_EQ(packets.size(), chunks.size());
  for (size_t i = 0; i < chunks.size(); ++i) EXPECT_EQ(packets[i].size, chunks[i].data.size()) << "packet " << i;
}

TEST(AviHandMade, Mp3FramesStraddlingChunks) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  const std::string mp3 = make_media(
      dir, "tone.mp3", "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0",
      &error);
  ASSERT_FALSE(mp3.empty()) << error;
  Bytes stream = read_whole_file(mp3);
  ASSERT_GT(stream.size(), 20000u);
  // Chunks of 1000 bytes (the last shorter): nearly every frame straddles two.
  std::vector<MoviChunk> chunks;
  for (size_t at = 0; at < stream.size(); at += 1000)
    chunks.push_back({"00wb", Bytes(stream.begin() + static_cast<long>(at),
                                    stream.begin() + static_cast<long>(std::min(stream.size(), at + 1000)))});
  StreamHeader h;
  h.type = "auds";
  h.handler = std::string(4, '\0');
  h.scale = 1;
  h.rate = 16000;
  h.sample_size = 1;
  Bytes list = stream_list(cat({strh_chunk(h), riff_chunk("strf", wave_format(0x55, 1, 44100, 16000, 1, 0, zeros(12)))}));
  const std::string in = dir.path("straddling.avi");
  write_bytes_to(in, hand_avi(list, 1, chunks));
  const std::string out = dir.path("out.mp4");
  RunResult run = run_program(dir, {in, out});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(probe_errors(out), "");
  // One frame a sample: 417 or 418 bytes at 128 kbit/s and 44.1 kHz.
  std::vector<ProbePacket> packets;
  ASSERT_TRUE(probe_packets(out, &packets, "", true, &error)) << error;
  ASSERT_GT(packets.size(), 70u);
  for (const ProbePacket& p : packets) EXPECT_TRUE(p.size == 417 || p.size == 418) << p.size;
  EXPECT_TRUE(same_decoding(mp3, out, {"mp3"}));
}

TEST(AviHandMade, MotionJpegWithoutHuffmanTablesGetsThem) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  const std::string plain = make_media(
      dir, "plain.avi",
      "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -c:v mjpeg -huffman default -pix_fmt yuvj420p", &error);
  ASSERT_FALSE(plain.empty()) << error;
  std::vector<Bytes> frames = chunks_of(read_whole_file(plain), "00dc");
  ASSERT_FALSE(frames.empty());
  // Every DHT segment taken out, as AVI writers usually leave them.
  std::vector<MoviChunk> stripped;
  for (const Bytes& f : frames) {
    Bytes b = f;
    for (size_t i = 2; i + 4 <= b.size() && b[i] == 0xFF && b[i + 1] != 0xDA;) {
      size_t length = (size_t{b[i + 2]} << 8) | b[i + 3];
      if (b[i + 1] == 0xC4) {
        b.erase(b.begin() + static_cast<long>(i), b.begin() + static_cast<long>(i + 2 + length));
      } else {
        i += 2 + length;
      }
    }
    ASSERT_FALSE(has_tables(b));
    stripped.push_back({"00dc", b});
  }
  const std::string in = dir.path("no_tables.avi");
  write_bytes_to(in, hand_avi(video_list("MJPG"), 1, stripped));
  const std::string out = dir.path("out.mp4");
  RunResult run = run_program(dir, {in, out});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(probe_errors(out), "");
  std::vector<LibraryTrack> tracks;
  ASSERT_TRUE(read_with_library(out, &tracks, &error)) << error;
  ASSERT_EQ(tracks.size(), 1u);
  ASSERT_EQ(tracks[0].packets.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i)
    EXPECT_EQ(tracks[0].packets[i].size, stripped[i].data.size() + 420) << "frame " << i;
  std::vector<Bytes> samples = first_samples(out, 1);
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_TRUE(has_tables(samples[0]));
  // The output decodes as the input with its own tables did.
  EXPECT_TRUE(same_decoding(plain, out, {"mjpeg"}));
}

}  // namespace
}  // namespace vantorel
