// The hand-made seed inputs of the fuzz targets: each one opens and reads
// cleanly (a seed that fails early teaches the fuzzer little). With
// VANTOREL_SEED_DIR set, the seeds are also written there, one file each.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "import/avi/avi_builder.h"
#include "import/matroska/matroska_builder.h"
#include "import/mpegts/ts_builder.h"
#include "mediafile/hand_made.h"
#include "mediafile/mediafile.h"

namespace vantorel {
namespace {

using namespace test;

struct Seed {
  std::string name;
  Bytes bytes;
  uint32_t tracks;  // tracks the file must show
};

HandTrack video(uint32_t samples) {
  HandTrack t;
  for (uint32_t i = 0; i < samples; ++i) t.sizes.push_back(6 + i);
  t.stts = {{samples, 100}};
  return t;
}

// The whole file with its 'moov' replaced by a compressed movie header.
Bytes compress_movie(const Bytes& file) {
  // hand_made_file lays out 'ftyp', 'moov', 'mdat'.
  size_t ftyp_size = (size_t{file[0]} << 24) | (size_t{file[1]} << 16) | (size_t{file[2]} << 8) | file[3];
  size_t at = ftyp_size;
  size_t moov_size = (size_t{file[at]} << 24) | (size_t{file[at + 1]} << 16) | (size_t{file[at + 2]} << 8) | file[at + 3];
  Bytes moov(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + moov_size));
  uLongf packed_size = compressBound(static_cast<uLong>(moov.size()));
  Bytes packed(packed_size);
  EXPECT_EQ(compress(packed.data(), &packed_size, moov.data(), static_cast<uLong>(moov.size())), Z_OK);
  packed.resize(packed_size);
  Bytes cmov = box("moov", box("cmov", cat({box("dcom", text("zlib")),
                                            box("cmvd", cat({u32(static_cast<uint32_t>(moov.size())), packed}))})));
  // The compressed header must keep the 'mdat' where the chunk offsets say:
  // pad with a 'free' box (the compressed form is always the smaller here).
  EXPECT_LE(cmov.size() + 8, moov.size());
  Bytes pad = box("free", zeros(moov.size() - cmov.size() - 8));
  Bytes out(file.begin(), file.begin() + static_cast<long>(at));
  out = cat({out, cmov, pad, Bytes(file.begin() + static_cast<long>(at + moov_size), file.end())});
  return out;
}

Bytes small_avi() {
  StreamHeader v;
  v.length = 2;
  StreamHeader a;
  a.type = "auds";
  a.handler = std::string("\x01\0\0\0", 4);
  a.rate = 8000;
  a.sample_size = 2;
  Bytes hdrl = cat({avih_chunk(kHasIndex, 16, 16, 2), video_stream(v), pcm_stream(a, 2, 8000)});
  std::vector<MoviChunk> chunks = {{"00dc", Bytes(9, 0xA1)}, {"01wb", Bytes(8, 0xB1)}, {"00dc", Bytes(7, 0xA2)}};
  Movi movi = movi_of(chunks);
  Bytes index;
  for (size_t i = 0; i < chunks.size(); ++i)
    index = cat({index, idx1_entry(chunks[i].id, i == 0 ? 0x10 : 0, movi.header_offsets[i],
                                   static_cast<uint32_t>(chunks[i].data.size()))});
  return avi_file(hdrl, movi, riff_chunk("idx1", index));
}

// PCM beside MPEG audio whose frames (silent, 417 bytes at 128 kbit/s)
// straddle 300-byte chunks; with `lying`, headers every 100 bytes that no
// frame length joins, a stream the import leaves out.
Bytes avi_with_mp3(bool lying) {
  StreamHeader pcm;
  pcm.type = "auds";
  pcm.rate = 8000;
  StreamHeader mp3 = pcm;
  mp3.rate = 16000;
  mp3.sample_size = 1;
  Bytes hdrl = cat({avih_chunk(kHasIndex, 16, 16, 2), pcm_stream(pcm, 2, 8000),
                    stream_list(cat({strh_chunk(mp3), riff_chunk("strf", wave_format(0x55, 1, 44100, 16000, 1, 0, zeros(12)))}))});
  Bytes frame = cat({Bytes{0xFF, 0xFB, 0x90, 0x00}, zeros(lying ? 96 : 413)});
  Bytes stream;
  for (int i = 0; i < 8; ++i) stream = cat({stream, frame});
  std::vector<MoviChunk> chunks;
  for (size_t at = 0; at < stream.size(); at += 300) {
    chunks.push_back({"00wb", Bytes(8, 0x11)});
    size_t end = at + 300 < stream.size() ? at + 300 : stream.size();
    chunks.push_back({"01wb", Bytes(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(end))});
  }
  Movi movi = movi_of(chunks);
  Bytes index;
  for (size_t i = 0; i < chunks.size(); ++i)
    index = cat({index, idx1_entry(chunks[i].id, 0x10, movi.header_offsets[i], static_cast<uint32_t>(chunks[i].data.size()))});
  return avi_file(hdrl, movi, riff_chunk("idx1", index));
}

// Matroska with the encodings the import undoes: an MP3 track whose frames
// lost their first two bytes, and a zlib-compressed SubRip track.
Bytes matroska_encodings() {
  auto deflated = [](const std::string& text) {
    uLongf n = compressBound(static_cast<uLong>(text.size()));
    Bytes out(n);
    compress2(out.data(), &n, reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()), 9);
    out.resize(n);
    return out;
  };
  auto compression = [](uint64_t algo, const Bytes& settings) {
    return mkv::el(0x6D80, mkv::el(0x6240, mkv::el(0x5034, mkv::cat({mkv::uint_el(0x4254, algo), mkv::el(0x4255, settings)}))));
  };
  Bytes audio = mkv::el(0xE1, mkv::cat({mkv::el(0xB5, {0x47, 0x3B, 0x80, 0x00}), mkv::uint_el(0x9F, 1)}));
  Bytes mp3 = mkv::el(0xAE, mkv::cat({mkv::uint_el(0xD7, 1), mkv::uint_el(0x83, 2), mkv::text_el(0x86, "A_MPEG/L3"), audio,
                            compression(3, {0xFF, 0xFB})}));
  Bytes srt = mkv::el(0xAE, mkv::cat({mkv::uint_el(0xD7, 2), mkv::uint_el(0x83, 17), mkv::text_el(0x86, "S_TEXT/UTF8"), compression(0, {})}));
  auto block = [](uint8_t track, int16_t time, const Bytes& payload) {
    Bytes p = {static_cast<uint8_t>(0x80 | track), static_cast<uint8_t>(time >> 8), static_cast<uint8_t>(time), 0x80};
    p.insert(p.end(), payload.begin(), payload.end());
    return mkv::el(0xA3, p);
  };
  Bytes cluster = mkv::el(0x1F43B675, mkv::cat({mkv::uint_el(0xE7, 0), block(1, 0, mkv::frame(30, 1)), block(2, 10, deflated("<i>Hi</i>")),
                                      block(1, 24, mkv::frame(30, 2)), block(2, 40, deflated("there"))}));
  return mkv::cat({mkv::header(), mkv::el(0x18538067, mkv::cat({mkv::info(), mkv::el(0x1654AE6B, mkv::cat({mp3, srt})), cluster}))});
}

// AC-3 frames of 128 bytes at 48 kHz (stereo), told apart by `seed`.
Bytes ac3_frame(uint8_t seed) {
  Bytes f = ts::pattern(128, seed);
  const Bytes head = {0x0B, 0x77, 0, 0, 0x00, 8 << 3, 0x40};
  std::copy(head.begin(), head.end(), f.begin());
  return f;
}

// Blu-ray TrueHD with its AC-3 core interleaved on one PID: a major sync
// (48 kHz stereo), then units without one.
Bytes truehd_with_core() {
  ts::Writer w;
  w.table(0, ts::pat({{1, 0x100}}));
  w.table(0x100, ts::pmt(1, 0x1100, {{0x83, 0x1100, {}}}, ts::registration("HDMV")));
  for (uint32_t k = 0; k < 3; ++k) {
    ts::PesFields fields;
    fields.stream_id = 0xFD;
    fields.pts = 90000 + k * 2880;
    w.unit(0x1100, ts::pes(fields, ac3_frame(static_cast<uint8_t>(k + 1))));
    Bytes units;
    for (uint32_t i = 0; i < 4; ++i) {
      const bool sync = k == 0 && i == 0;
      Bytes u = ts::pattern(sync ? 110 : 28, static_cast<uint8_t>(k * 4 + i));
      const Bytes head = sync ? Bytes{0x80, 0x37, 0xFF, 0xD8, 0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x00,
                                      0x80, 0x01, 0xB7, 0x52, 0x00, 0x00, 0x00, 0x00, 0x8C, 0x7F}
                              : Bytes{0xA0, 0x0E, 0x12, 0x34};
      std::copy(head.begin(), head.end(), u.begin());
      units.insert(units.end(), u.begin(), u.end());
    }
    w.unit(0x1100, ts::pes(fields, units));
  }
  return w.bytes(192);
}

// PMT versions: AC-3 on 0x101, then a second AC-3 stream added on 0x102,
// then 0x101 dropped while its packets go on.
Bytes pmt_versions() {
  ts::Writer w;
  const std::vector<std::vector<ts::EsEntry>> versions = {
      {{0x81, 0x101, {}}}, {{0x81, 0x101, {}}, {0x81, 0x102, {}}}, {{0x81, 0x102, {}}}};
  for (uint32_t k = 0; k < 6; ++k) {
    if (k % 2 == 0) {
      w.table(0, ts::pat({{1, 0x1000}}));
      w.table(0x1000, ts::pmt(1, 0x101, versions[k / 2], {}, static_cast<uint8_t>(k / 2)));
    }
    ts::PesFields fields;
    fields.stream_id = 0xBD;
    fields.pts = 90000 + k * 2880;
    w.unit(0x101, ts::pes(fields, ac3_frame(static_cast<uint8_t>(k + 1))));
    w.unit(0x102, ts::pes(fields, ac3_frame(static_cast<uint8_t>(k + 41))));
  }
  return w.bytes();
}

std::vector<Seed> seeds() {
  HandTrack with_tables = video(6);
  with_tables.stss = {1, 4};
  with_tables.ctts = {{2, 100}, {2, 0}, {2, 200}};
  with_tables.edits = {{600, 100}};
  with_tables.stsc = {{1, 2, 1}, {2, 1, 1}};
  HandTrack sound = video(5);
  sound.handler = "soun";
  sound.track_id = 2;
  sound.timescale = 8000;
  sound.stts = {{5, 1024}};
  HandTrack text_track = video(2);
  text_track.handler = "text";
  text_track.track_id = 3;
  Bytes plain = hand_made_file({video(3)});
  // Tracks carried as stored: telemetry under a 'meta' handler referring to
  // the video, camera motion under its own handler.
  HandTrack telemetry = video(3);
  telemetry.handler = "meta";
  telemetry.track_id = 2;
  telemetry.entries = {box("gpmd", cat({zeros(6), u16(1)}))};
  telemetry.tref_type = "cdsc";
  telemetry.tref_ids = {1};
  HandTrack motion = video(2);
  motion.handler = "camm";
  motion.track_id = 3;
  motion.entries = {box("camm", cat({zeros(6), u16(1)}))};
  return {
      {"hand_made_plain.mp4", plain, 1},
      {"hand_made_tables.mp4", hand_made_file({with_tables}), 1},
      {"hand_made_three_tracks.mp4", hand_made_file({video(4), sound, text_track}), 3},
      {"hand_made_quicktime.mov", hand_made_file({video(2), sound}, "qt  "), 2},
      {"hand_made_compressed_header.mov", compress_movie(hand_made_file({with_tables, sound}, "qt  ")), 2},
      {"hand_made_idx1.avi", small_avi(), 2},
      {"hand_made_mp3_straddling_chunks.avi", avi_with_mp3(false), 2},
      {"hand_made_mp3_lying_headers.avi", avi_with_mp3(true), 1},
      {"hand_made_encodings.mkv", matroska_encodings(), 2},
      {"hand_made_data_tracks.mp4", hand_made_file({video(3), telemetry, motion}), 3},
      {"hand_made_truehd_ac3.m2ts", truehd_with_core(), 2},
      {"hand_made_pmt_versions.ts", pmt_versions(), 2},
  };
}

TEST(FuzzSeeds, EverySeedOpensAndReadsAllItsSamples) {
  const char* dir = std::getenv("VANTOREL_SEED_DIR");
  for (const Seed& seed : seeds()) {
    SCOPED_TRACE(seed.name);
    MemoryPair pair{seed.bytes.data(), static_cast<uint32_t>(seed.bytes.size())};
    OpenParams params{};
    params.routines = memory_routines();
    params.path = &pair;
    MediaFile* file = nullptr;
    ASSERT_EQ(media_open(&file, &params, kOpenRead), ErrorCode::Ok);
    MovieInfo movie{};
    ASSERT_EQ(movie_info(file, &movie), ErrorCode::Ok);
    EXPECT_EQ(movie.track_count, seed.tracks);
    TrackIterator* it = track_iterator_new(file, 0, 0);
    ASSERT_NE(it, nullptr);
    TrackInfo info{};
    uint32_t seen = 0;
    while (track_iterator_next(it, &info) == ErrorCode::Ok) {
      ++seen;
      std::vector<uint8_t> buffer(info.max_sample_size + 1);
      uint32_t read = 0;
      ErrorCode e = ErrorCode::Ok;
      for (;;) {
        SampleRead s{};
        s.buffer = buffer.data();
        s.capacity = static_cast<uint32_t>(buffer.size());
        e = read_next_sample(file, info.track_id, &s);
        if (e != ErrorCode::Ok) break;
        ++read;
      }
      EXPECT_EQ(e, ErrorCode::NoMore);
      EXPECT_GT(read, 0u);
    }
    EXPECT_EQ(seen, seed.tracks);
    track_iterator_free(it);
    EXPECT_EQ(media_close(file), ErrorCode::Ok);
    if (dir != nullptr) {
      std::string path = std::string(dir) + "/" + seed.name;
      std::FILE* f = std::fopen(path.c_str(), "wb");
      ASSERT_NE(f, nullptr) << path;
      EXPECT_EQ(std::fwrite(seed.bytes.data(), 1, seed.bytes.size(), f), seed.bytes.size());
      std::fclose(f);
    }
  }
}

}  // namespace
}  // namespace vantorel
