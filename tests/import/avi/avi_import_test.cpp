// AVI import over hand-made files: headers into tracks, the legacy and the
// OpenDML indexes into sample tables, and damaged files refused cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "import/avi/avi_builder.h"
#include "import/avi/avi_import.h"
#include "mediafile/mediafile.h"
#include "codecs/es_descriptor.h"
#include "sampletables/stco.h"
#include "sampletables/stsd.h"
#include "sampletables/stss.h"
#include "sampletables/stts.h"
#include "support/memory_remux.h"

namespace vantorel {
namespace {

using namespace test;

struct Opened {
  Bytes bytes;
  MemoryPair pair{};
  MediaFile* file = nullptr;
  ErrorCode result = ErrorCode::Ok;

  explicit Opened(Bytes b, uint32_t mode = kOpenRead) : bytes(std::move(b)) {
    pair = MemoryPair{bytes.data(), static_cast<uint32_t>(bytes.size())};
    OpenParams params{};
    params.routines = memory_routines();
    params.path = &pair;
    result = media_open(&file, &params, mode);
  }
  ~Opened() {
    if (file != nullptr) media_close(file);
  }
  TrackBoxes* track(uint32_t id) { return find_track(file->root, id); }
};

// Every sample of a track, read from its first one; the first failure's code.
ErrorCode read_all(MediaFile* file, uint32_t track_id, std::vector<Bytes>* out) {
  out->clear();
  uint32_t index = 0;
  uint64_t time = 0;
  ErrorCode e = track_seek(file, track_id, 0, &index, &time, 0, 0);
  if (e == ErrorCode::NoMore) return ErrorCode::Ok;
  if (e != ErrorCode::Ok) return e;
  for (;;) {
    std::vector<uint8_t> buffer(1 << 16);
    SampleRead s{};
    s.buffer = buffer.data();
    s.capacity = static_cast<uint32_t>(buffer.size());
    e = read_next_sample(file, track_id, &s);
    if (e == ErrorCode::NoMore) return ErrorCode::Ok;
    if (e != ErrorCode::Ok) return e;
    out->push_back(Bytes(buffer.begin(), buffer.begin() + s.size));
  }
}

std::vector<uint32_t> deltas_of(TrackBoxes* track) {
  std::vector<uint32_t> out;
  auto* stts = track_record<TimeToSampleTable>(track, BoxTypeId::Stts);
  if (stts == nullptr) return out;
  for (const TimeToSampleEntry& e : stts->entries)
    for (uint32_t i = 0; i < e.sample_count; ++i) out.push_back(e.sample_delta);
  return out;
}

std::vector<uint32_t> sync_of(TrackBoxes* track) {
  auto* stss = track_record<SyncSampleTable>(track, BoxTypeId::Stss);
  if (stss == nullptr) return {};
  return std::vector<uint32_t>(stss->samples.begin(), stss->samples.end());
}

std::vector<uint64_t> offsets_of(TrackBoxes* track) {
  auto* stco = track_record<ChunkOffsetTable>(track, BoxTypeId::Stco);
  if (stco == nullptr) return {};
  return std::vector<uint64_t>(stco->offsets.begin(), stco->offsets.end());
}

Bytes filled(size_t n, uint8_t value) { return Bytes(n, value); }

// A video stream (scale 1, rate 25) and a PCM stream (block align 4, rate
// 44,100) with five interleaved chunks, optionally behind a 'JUNK' chunk
// inside 'movi' that no index lists.
struct TwoStreams {
  Bytes hdrl;
  Movi movi;
  uint32_t movi_at = 0;
  std::vector<MoviChunk> chunks;

  explicit TwoStreams(uint32_t avih_flags = kHasIndex, size_t junk = 0) {
    StreamHeader video;
    video.length = 3;
    StreamHeader audio;
    audio.type = "auds";
    audio.handler = std::string("\x01\0\0\0", 4);
    audio.rate = 44100;
    audio.sample_size = 4;
    hdrl = cat({avih_chunk(avih_flags), video_stream(video), pcm_stream(audio, 4, 44100)});
    if (junk > 0) chunks.push_back({"JUNK", zeros(junk)});
    chunks.push_back({"00dc", filled(10, 0xA1)});
    chunks.push_back({"01wb", filled(16, 0xB1)});
    chunks.push_back({"00dc", filled(11, 0xA2)});
    chunks.push_back({"01wb", filled(8, 0xB2)});
    chunks.push_back({"00dc", filled(12, 0xA3)});
    movi = movi_of(chunks);
    movi_at = movi_start(hdrl);
  }
  // The idx1 chunk, offsets relative to 'movi' or absolute.
  Bytes idx1(bool absolute) const {
    Bytes entries;
    size_t skip = chunks[0].id == "JUNK" ? 1 : 0;
    for (size_t i = skip; i < chunks.size(); ++i) {
      uint32_t offset = movi.header_offsets[i] + (absolute ? movi_at + 8 : 0);
      uint32_t flags = (i - skip) % 4 == 0 ? 0x10 : 0;  // chunks 0 and 4: key frames
      Bytes e = idx1_entry(chunks[i].id, flags, offset, static_cast<uint32_t>(chunks[i].data.size()));
      entries.insert(entries.end(), e.begin(), e.end());
    }
    return riff_chunk("idx1", entries);
  }
  uint64_t data_at(size_t i) const { return uint64_t{movi_at} + 8 + movi.header_offsets[i] + 8; }
  Bytes file(bool absolute) const { return avi_file(hdrl, movi, idx1(absolute)); }
};

TEST(AviImport, LegacyIndexWithRelativeOrAbsoluteOffsets) {
  struct Case {
    const char* name;
    bool absolute;
    size_t junk;  // makes relative offsets large enough to be checked against the chunk they name
  };
  const Case cases[] = {
      {"relative", false, 0},
      {"absolute", true, 0},
      {"relative and beyond the start of 'movi'", false, 1200},
      {"absolute behind a junk chunk", true, 1200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TwoStreams avi(kHasIndex, c.junk);
    if (c.junk > 0) {
      ASSERT_GE(avi.movi.header_offsets[1], avi.movi_at + 8);
    }
    Opened o(avi.file(c.absolute));
    ASSERT_EQ(o.result, ErrorCode::Ok);
    EXPECT_EQ(o.file->flavour, kFlavourAvi);
    ASSERT_EQ(track_count(o.file->root), 2u);
    size_t v0 = c.junk > 0 ? 1 : 0;

    TrackInfo video;
    ASSERT_EQ(track_info(o.file, 1, &video), ErrorCode::Ok);
    EXPECT_EQ(video.kind, kHandlerVideo);
    EXPECT_TRUE(video.fourcc == kTestVideoCode);
    EXPECT_EQ(video.timescale, 25u);
    EXPECT_EQ(video.width, 160u);
    EXPECT_EQ(video.height, 120u);
    EXPECT_EQ(video.media_duration, 3u);
    EXPECT_EQ(video.decoder_info_size, 40u);  // the whole bitmap header
    EXPECT_EQ(offsets_of(video.track),
              (std::vector<uint64_t>{avi.data_at(v0), avi.data_at(v0 + 2), avi.data_at(v0 + 4)}));
    EXPECT_EQ(deltas_of(video.track), (std::vector<uint32_t>{1, 1, 1}));
    EXPECT_EQ(sync_of(video.track), (std::vector<uint32_t>{1, 3}));

    TrackInfo audio;
    ASSERT_EQ(track_info(o.file, 2, &audio), ErrorCode::Ok);
    EXPECT_EQ(audio.kind, kHandlerSound);
    EXPECT_TRUE(audio.fourcc == "twos");  // 16-bit PCM, big-endian as an MP4 file holds it
    EXPECT_EQ(audio.timescale, 44100u);
    EXPECT_EQ(audio.sample_rate, 44100u);  // the wave format's rate
    EXPECT_EQ(audio.sample_bits, 16u);
    EXPECT_EQ(audio.channel_count, 2u);
    EXPECT_EQ(deltas_of(audio.track), (std::vector<uint32_t>{4, 2}));  // bytes / block align
    EXPECT_EQ(audio.media_duration, 6u);

    std::vector<Bytes> samples;
    ASSERT_EQ(read_all(o.file, 1, &samples), ErrorCode::Ok);
    EXPECT_EQ(samples, (std::vector<Bytes>{filled(10, 0xA1), filled(11, 0xA2), filled(12, 0xA3)}));
    ASSERT_EQ(read_all(o.file, 2, &samples), ErrorCode::Ok);
    EXPECT_EQ(samples, (std::vector<Bytes>{filled(16, 0xB1), filled(8, 0xB2)}));
    EXPECT_EQ(o.file->io_error, 0u);
  }
}

TEST(AviImport, LegacyEntriesWithoutTimeOrWithoutTrackAreSkipped) {
  TwoStreams avi;
  const uint32_t v = avi.movi.header_offsets[0];
  Bytes entries = cat({
      idx1_entry("00dc", 0x10, v, 10),
      idx1_entry("00dc", 0x100, v, 10),  // no time
      idx1_entry("05dc", 0x10, v, 10),   // stream 5 has no track
      idx1_entry("ffdc", 0x10, v, 10),   // beyond the stream table
      idx1_entry("rec ", 0x10, v, 10),   // not a stream's chunk
      idx1_entry("ixdc", 0x10, v, 10),
      idx1_entry("0Adc", 0x10, v, 10),   // stream 10: upper-case hex, no track either
      idx1_entry("01WB", 0, avi.movi.header_offsets[1], 16),
  });
  Opened o(avi_file(avi.hdrl, avi.movi, riff_chunk("idx1", entries)));
  ASSERT_EQ(o.result, ErrorCode::Ok);
  EXPECT_EQ(track_sample_count(o.track(1)), 1u);
  EXPECT_EQ(track_sample_count(o.track(2)), 1u);
  std::vector<Bytes> samples;
  ASSERT_EQ(read_all(o.file, 2, &samples), ErrorCode::Ok);
  EXPECT_EQ(samples, std::vector<Bytes>{filled(16, 0xB1)});
}

TEST(AviImport, StreamsWithoutTrackKeepTheirIndex) {
  StreamHeader video;
  StreamHeader text;
  text.type = "txts";
  // A sound stream of a codec the importer leaves as it is, counted in
  // 32/1225 s, so the time scale is not the sample rate.
  StreamHeader audio;
  audio.type = "auds";
  audio.scale = 32;
  audio.rate = 1225;
  Bytes hdrl = cat({avih_chunk(kHasIndex), video_stream(video),
                    stream_list(cat({strh_chunk(text), riff_chunk("strf", zeros(8))})),
                    stream_list(cat({strh_chunk(audio), riff_chunk("strf", wave_format(0x161, 2, 44100, 16000, 1152, 0,
                                                                                          zeros(12)))}))});
  Movi movi = movi_of({{"00dc", filled(5, 1)}, {"01tx", filled(6, 2)}, {"02wb", filled(8, 3)}});
  Bytes idx1 = riff_chunk("idx1", cat({idx1_entry("00dc", 0x10, movi.header_offsets[0], 5),
                                       idx1_entry("01tx", 0x10, movi.header_offsets[1], 6),
                                       idx1_entry("02wb", 0x10, movi.header_offsets[2], 8)}));
  Opened o(avi_file(hdrl, movi, idx1));
  ASSERT_EQ(o.result, ErrorCode::Ok);
  ASSERT_EQ(track_count(o.file->root), 2u);
  EXPECT_EQ(track_id_of(track_at(o.file->root, 0)), 1u);
  EXPECT_EQ(track_id_of(track_at(o.file->root, 1)), 3u);
  EXPECT_EQ(find_track(o.file->root, 2), nullptr);
  std::vector<Bytes> samples;
  ASSERT_EQ(read_all(o.file, 3, &samples), ErrorCode::Ok);
  EXPECT_EQ(samples, std::vector<Bytes>{filled(8, 3)});
  EXPECT_EQ(deltas_of(o.track(3)), std::vector<uint32_t>{32});
  TrackInfo info;
  ASSERT_EQ(track_info(o.file, 3, &info), ErrorCode::Ok);
  EXPECT_EQ(info.timescale, 1225u);
  EXPECT_EQ(info.sample_rate, 44100u);
  EXPECT_EQ(std::memcmp(info.fourcc.c, "\0\0\x01\x61", 4), 0);
  EXPECT_EQ(info.decoder_info_size, 30u);
  MovieInfo movie;
  ASSERT_EQ(movie_info(o.file, &movie), ErrorCode::Ok);
  EXPECT_EQ(movie.first_video_id, 1u);
  EXPECT_EQ(movie.first_sound_id, 3u);
}

TEST(AviImport, MoreStreamsThanTheTableHolds) {
  StreamHeader video;
  StreamHeader text;
  text.type = "txts";
  Bytes hdrl = cat({avih_chunk(kHasIndex), video_stream(video)});
  for (int i = 1; i < 64; ++i) hdrl = cat({hdrl, stream_list(cat({strh_chunk(text), riff_chunk("strf", zeros(4))}))});
  // Streams 64 and 65 are usable but past the table: ignored.
  hdrl = cat({hdrl, video_stream(video), video_stream(video)});
  Movi movi = movi_of({{"00dc", filled(5, 1)}, {"40dc", filled(6, 2)}, {"41dc", filled(7, 3)}});
  Bytes idx1 = riff_chunk("idx1", cat({idx1_entry("00dc", 0x10, movi.header_offsets[0], 5),
                                       idx1_entry("40dc", 0x10, movi.header_offsets[1], 6),
                                       idx1_entry("41dc", 0x10, movi.header_offsets[2], 7)}));
  Opened o(avi_file(hdrl, movi, idx1));
  ASSERT_EQ(o.result, ErrorCode::Ok);
  ASSERT_EQ(track_count(o.file->root), 1u);
  EXPECT_EQ(track_sample_count(o.track(1)), 1u);
}

TEST(AviImport, StartDelayBecomesAnEmptyEdit) {
  StreamHeader video;
  video.start = 25;
  video.length = 3;
  Bytes hdrl = cat({avih_chunk(kHasIndex), video_stream(video)});
  Movi movi = movi_of({{"00dc", filled(5, 1)}, {"00dc", filled(5, 2)}, {"00dc", filled(5, 3)}});
  Bytes idx1;
  for (uint32_t offset : movi.header_offsets) idx1 = cat({idx1, idx1_entry("00dc", 0x10, offset, 5)});
  Bytes bytes = avi_file(hdrl, movi, riff_chunk("idx1", idx1));

  // In a movie of time scale 600.
  MemoryFile f(bytes);
  ASSERT_EQ(create_root(f.get()), ErrorCode::Ok);
  ASSERT_EQ(add_movie_box(f.get(), BoxTypeId::Moov), ErrorCode::Ok);
  ASSERT_EQ(add_movie_box(f.get(), BoxTypeId::Mvhd), ErrorCode::Ok);
  movie_record<MvhdRecord>(f->root, BoxTypeId::Mvhd)->timescale = 600;
  ASSERT_EQ(avi_import(f.get(), f->root), ErrorCode::Ok);
  auto* elst = track_record<ElstRecord>(find_track(f->root, 1), BoxTypeId::Elst);
  ASSERT_NE(elst, nullptr);
  ASSERT_EQ(elst->entries.count, 2u);
  EXPECT_EQ(elst->entries[0].segment_duration, 600u);
  EXPECT_EQ(elst->entries[0].media_time, kEmptyEdit);
  EXPECT_EQ(elst->entries[1].segment_duration, 72u);  // 3 frames of 1/25 s
  EXPECT_EQ(elst->entries[1].media_time, 0);

  // Opened as usual: the movie's time scale is 90,000.
  Opened o(bytes);
  ASSERT_EQ(o.result, ErrorCode::Ok);
  TrackInfo info;
  ASSERT_EQ(track_info(o.file, 1, &info), ErrorCode::Ok);
  EXPECT_EQ(info.start_delay, 90000u);
  uint32_t index = 0;
  uint64_t time = 0;
  ASSERT_EQ(track_seek(o.file, 1, 0, &index, &time, 0, 0), ErrorCode::Ok);
  EXPECT_EQ(time, 25u);  // the first sample shows one second in
}

TEST(AviImport, StreamNamesAndTheirPadByte) {
  struct Case {
    const char* name;
    Bytes payload;
    const char* expected;
  };
  const Case cases[] = {
      {"odd, padded", cstr("abcd"), "abcd"},
      {"even", cstr("abcde"), "abcde"},
      {"odd without its NUL", text("abcde"), "abcde"},
      {"one letter", cstr("a"), "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StreamHeader video;
    // The name comes before the format: a pad byte read as the next chunk
    // would lose the format. A second, short name ends the list.
    Bytes hdrl = cat({avih_chunk(kHasIndex),
                      stream_list(cat({strh_chunk(video), riff_chunk("strn", text("x")),
                                       riff_chunk("strf", bitmap_info(64, 48, 24, "MJPG")),
                                       riff_chunk("strn", c.payload)}))});
    Movi movi = movi_of({{"00dc", filled(5, 1)}});
    Opened o(avi_file(hdrl, movi, riff_chunk("idx1", idx1_entry("00dc", 0x10, movi.header_offsets[0], 5))));
    ASSERT_EQ(o.result, ErrorCode::Ok);
    TrackInfo info;
    ASSERT_EQ(track_info(o.file, 1, &info), ErrorCode::Ok);
    ASSERT_NE(info.handler_name, nullptr);
    EXPECT_STREQ(info.handler_name, c.expected);
    EXPECT_TRUE(info.fourcc == "jpeg");
    EXPECT_EQ(info.width, 64u);
  }
}

TEST(AviImport, InspectingReadsHeadersOnly) {
  struct Case {
    const char* name;
    StreamHeader header;
    Bytes format;
    uint32_t kind;
    const char* fourcc;
    uint32_t width, height;
  };
  StreamHeader disabled;
  disabled.flags = 1;
  disabled.scale = 1001;
  disabled.rate = 30000;
  disabled.length = 300;
  StreamHeader dv;
  dv.type = "iavs";
  dv.handler = "dvsd";
  dv.length = 300;
  const Case cases[] = {
      {"disabled video", disabled, bitmap_info(320, -240, 12, "YV12"), kHandlerVideo, "YV12", 320, 240},
      {"interleaved DV", dv, zeros(32), kHandlerInterleaved, "dvsd", 720, 576},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes hdrl = cat({avih_chunk(kHasIndex, 720, 576), stream_list(cat({strh_chunk(c.header), riff_chunk("strf", c.format)}))});
    Movi movi = movi_of({{"00dc", filled(5, 1)}});
    Opened o(avi_file(hdrl, movi, riff_chunk("idx1", idx1_entry("00dc", 0x10, movi.header_offsets[0], 5))),
             kOpenInspect);
    ASSERT_EQ(o.result, ErrorCode::Ok);
    TrackInfo info;
    ASSERT_EQ(track_info(o.file, 1, &info), ErrorCode::Ok);
    EXPECT_EQ(info.kind, c.kind);
    EXPECT_TRUE(info.fourcc == c.fourcc);
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.height);
    EXPECT_EQ(info.sample_count, 0u);  // no index read
    EXPECT_EQ(info.media_duration, uint64_t{c.header.length} * c.header.scale);
    EXPECT_EQ(info.tkhd_flags & kTrackEnabled, c.header.flags & 1 ? 0u : 1u);
    EXPECT_EQ(info.decoder_info_size, c.format.size());
    auto* tkhd = track_record<TkhdRecord>(info.track, BoxTypeId::Tkhd);
    EXPECT_EQ(tkhd->width, c.width << 16);
    EXPECT_EQ(visual_entry(o.file, info.track, 0)->depth, c.kind == kHandlerInterleaved ? 24 : 12);
  }
}

// A video stream whose index is an OpenDML super index pointing at two
// standard indexes after the 'movi' list, and a sound stream indexed by
// 'idx1'. The idx1 offsets are absolute, and its video entries are wrong:
// neither may touch the video track.
struct OdmlFile {
  Bytes bytes;
  std::vector<uint64_t> video_data;  // where the video chunks' data lie

  OdmlFile() {
    StreamHeader video;
    video.length = 3;
    StreamHeader audio;
    audio.type = "auds";
    audio.rate = 44100;
    audio.sample_size = 4;
    std::vector<MoviChunk> chunks = {{"00dc", filled(10, 0xA1)}, {"01wb", filled(16, 0xB1)},
                                     {"00dc", filled(11, 0xA2)}, {"00dc", filled(12, 0xA3)}};
    Movi movi = movi_of(chunks);
    Bytes audio_list = pcm_stream(audio, 4, 44100);
    auto hdrl_with = [&](const Bytes& indx) {
      return cat({avih_chunk(kHasIndex), video_stream(video, indx), audio_list});
    };
    // The super index's size does not depend on where its entries point.
    const uint32_t movi_at = movi_start(hdrl_with(super_index("00dc", {{0, 0}, {0, 0}})));
    auto data_at = [&](size_t i) { return uint64_t{movi_at} + 8 + movi.header_offsets[i] + 8; };
    video_data = {data_at(0), data_at(2), data_at(3)};
    // ix #1 counts from the 'movi' type; ix #2 holds file offsets. Bit 31: not a key frame.
    Bytes ix1 = standard_index("ix00", movi_at + 8,
                               {{movi.header_offsets[0] + 8, 10}, {movi.header_offsets[2] + 8, 11 | 0x80000000u}});
    Bytes ix2 = standard_index("ix00", 0, {{static_cast<uint32_t>(data_at(3)), 12}}, 3);
    Bytes idx1 = riff_chunk("idx1", cat({idx1_entry("00dc", 0x10, 0, 99),
                                         idx1_entry("01wb", 0, movi_at + 8 + movi.header_offsets[1], 16)}));
    const uint64_t ix1_at = uint64_t{movi_at} + 12 + movi.payload.size() + idx1.size();
    const uint64_t ix2_at = ix1_at + ix1.size();
    Bytes hdrl = hdrl_with(super_index("00dc", {{ix1_at, static_cast<uint32_t>(ix1.size())},
                                                {ix2_at, static_cast<uint32_t>(ix2.size())}}));
    bytes = avi_file(hdrl, movi, cat({idx1, ix1, ix2}));
  }
};

TEST(AviImport, OpenDmlIndexes) {
  OdmlFile odml;
  const Bytes& bytes = odml.bytes;
  Opened o(bytes);
  ASSERT_EQ(o.result, ErrorCode::Ok);
  EXPECT_EQ(offsets_of(o.track(1)), odml.video_data);
  EXPECT_EQ(sync_of(o.track(1)), (std::vector<uint32_t>{1, 3}));
  std::vector<Bytes> samples;
  ASSERT_EQ(read_all(o.file, 1, &samples), ErrorCode::Ok);
  EXPECT_EQ(samples, (std::vector<Bytes>{filled(10, 0xA1), filled(11, 0xA2), filled(12, 0xA3)}));
  ASSERT_EQ(read_all(o.file, 2, &samples), ErrorCode::Ok);
  EXPECT_EQ(samples, std::vector<Bytes>{filled(16, 0xB1)});

  // Without the has-index flag the super index still indexes the video; the
  // sound stream, which has none, is refused.
  Bytes no_flag = odml.bytes;
  const size_t flags_at = 12 + 12 + 8 + 12;
  ASSERT_EQ(no_flag[flags_at], kHasIndex);
  no_flag[flags_at] = 0;
  Opened refused(no_flag);
  EXPECT_EQ(refused.result, ErrorCode::AviNoIndex);
}

TEST(AviImport, RefusedFiles) {
  StreamHeader video;
  StreamHeader zero_rate;
  zero_rate.rate = 0;
  Movi movi = movi_of({{"00dc", filled(5, 1)}});
  Bytes idx1 = riff_chunk("idx1", idx1_entry("00dc", 0x10, movi.header_offsets[0], 5));
  auto with_strl = [&](const Bytes& strl_chunks, uint32_t flags = kHasIndex) {
    return avi_file(cat({avih_chunk(flags), stream_list(strl_chunks)}), movi, idx1);
  };
  Bytes strh = strh_chunk(video);
  Bytes strf = riff_chunk("strf", bitmap_info(8, 8, 24, "MJPG"));
  struct Case {
    const char* name;
    Bytes bytes;
    ErrorCode result;
  };
  Bytes wave = cat({text("RIFF"), u32le(4), text("WAVE")});
  const Case cases[] = {
      {"not AVI", wave, ErrorCode::Unsupported},
      {"no index and no has-index flag", with_strl(cat({strh, strf}), 0), ErrorCode::AviNoIndex},
      {"has-index flag but no index", avi_file(cat({avih_chunk(kHasIndex), video_stream(video)}), movi),
       ErrorCode::Unsupported},
      {"format larger than its list", with_strl(cat({strh, riff_chunk_sized("strf", 400, zeros(40))})),
       ErrorCode::Malformed},
      {"name larger than its list", with_strl(cat({strh, strf, riff_chunk_sized("strn", 60, cstr("abc"))})),
       ErrorCode::Malformed},
      {"rate 0", with_strl(cat({strh_chunk(zero_rate), strf})), ErrorCode::Malformed},
      {"index of chunks with one long per entry",
       with_strl(cat({strh, strf, standard_index("indx", 0, {{0, 5}}, 1)})), ErrorCode::Malformed},
      {"index of indexes with three longs per entry",
       with_strl(cat({strh, strf, super_index("00dc", {{0, 0}}, 3)})), ErrorCode::Malformed},
      {"more index entries than the chunk holds",
       with_strl(cat({strh, strf, standard_index("indx", 0, {{0, 5}}, 2, 1000000)})), ErrorCode::Malformed},
      {"index of indexes with more entries than the chunk holds",
       with_strl(cat({strh, strf, super_index("00dc", {{0, 0}}, 4, 0x40000000)})), ErrorCode::Malformed},
      {"index header cut short", with_strl(cat({strh, strf, riff_chunk("indx", zeros(10))})), ErrorCode::Malformed},
      {"legacy entry larger than the file",
       avi_file(cat({avih_chunk(kHasIndex), video_stream(video)}), movi,
                riff_chunk("idx1", idx1_entry("00dc", 0x10, movi.header_offsets[0], 0x10000000))),
       ErrorCode::Malformed},
      {"index entry pointing outside the file",
       with_strl(cat({strh, strf, super_index("00dc", {{0xFFFFFFF0ull, 32}})})), ErrorCode::Malformed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Opened o(c.bytes);
    EXPECT_EQ(o.result, c.result);
    EXPECT_EQ(o.file, nullptr);
  }
}

// Indexes pointing where they should not: the import ends, and the track
// ends before the first chunk that lies outside the file.
TEST(AviImport, IndexesPointingAstray) {
  StreamHeader video;
  Movi movi = movi_of({{"00dc", filled(5, 1)}, {"00dc", filled(6, 2)}});
  Bytes strh = strh_chunk(video);
  Bytes strf = riff_chunk("strf", bitmap_info(8, 8, 24, "MJPG"));

  // idx1: the second chunk lies far beyond the end of the file.
  Bytes idx1 = riff_chunk("idx1", cat({idx1_entry("00dc", 0x10, movi.header_offsets[0], 5),
                                       idx1_entry("00dc", 0x10, 0x7FFFFFF0, 6)}));
  Opened outside(avi_file(cat({avih_chunk(kHasIndex), stream_list(cat({strh, strf}))}), movi, idx1));
  ASSERT_EQ(outside.result, ErrorCode::Ok);
  std::vector<Bytes> samples;
  EXPECT_EQ(read_all(outside.file, 1, &samples), ErrorCode::Ok);
  EXPECT_EQ(samples.size(), 1u);

  // A super index whose entry names the super index itself: it is not an
  // index of chunks, so it is not followed, and the stream has no samples.
  const uint64_t indx_at = 12 + 12 + avih_chunk(kHasIndex).size() + 12 + strh.size() + strf.size();
  Bytes looping = avi_file(cat({avih_chunk(kHasIndex), stream_list(cat({strh, strf, super_index("00dc", {{indx_at, 0}})}))}),
                           movi);
  ASSERT_EQ(std::string(looping.begin() + static_cast<long>(indx_at), looping.begin() + static_cast<long>(indx_at) + 4),
            "indx");
  Opened self(looping);
  EXPECT_EQ(self.result, ErrorCode::Unsupported);  // no track has a sample
  Opened self_inspected(looping, kOpenInspect);
  EXPECT_EQ(self_inspected.result, ErrorCode::Ok);

  // A standard index whose entries point at itself and outside the file.
  Bytes ix_placeholder = standard_index("ix00", 0, {{0, 0}, {0, 0}});
  Bytes hdrl = cat({avih_chunk(0), stream_list(cat({strh, strf, super_index("00dc", {{0, 0}})}))});
  const uint64_t ix_at = uint64_t{movi_start(hdrl)} + 12 + movi.payload.size();
  Bytes ix = standard_index("ix00", 0, {{static_cast<uint32_t>(ix_at), 16}, {0xFFFFFF00u, 8}});
  ASSERT_EQ(ix.size(), ix_placeholder.size());
  hdrl = cat({avih_chunk(0), stream_list(cat({strh, strf, super_index("00dc", {{ix_at, 0}})}))});
  Bytes bytes = avi_file(hdrl, movi, ix);
  Opened astray(bytes);
  ASSERT_EQ(astray.result, ErrorCode::Ok);
  EXPECT_EQ(read_all(astray.file, 1, &samples), ErrorCode::Ok);
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_EQ(samples[0], Bytes(bytes.begin() + static_cast<long>(ix_at), bytes.begin() + static_cast<long>(ix_at) + 16));

  // A super index naming one standard index many times lists more chunks
  // than the file can hold: refused instead of growing without bound.
  std::vector<std::pair<uint64_t, uint32_t>> repeats(200, {ix_at, 0});
  Bytes many_placeholder = super_index("00dc", repeats);
  Bytes hdrl_many = cat({avih_chunk(0), stream_list(cat({strh, strf, many_placeholder}))});
  const uint64_t ix_many_at = uint64_t{movi_start(hdrl_many)} + 12 + movi.payload.size();
  Bytes ix_many = standard_index("ix00", 0, std::vector<std::pair<uint32_t, uint32_t>>(64, {0, 1}));
  repeats.assign(200, {ix_many_at, 0});
  Opened repeated(avi_file(cat({avih_chunk(0), stream_list(cat({strh, strf, super_index("00dc", repeats)}))}), movi,
                           ix_many));
  EXPECT_EQ(repeated.result, ErrorCode::Malformed);
}

TEST(AviImport, TruncatedFileKeepsWhatIsThere) {
  TwoStreams avi;
  Bytes bytes = avi.file(false);
  // The RIFF size still claims the whole file; the index loses its last
  // entry and half of the one before.
  bytes.resize(bytes.size() - 16 - 8);
  Opened o(bytes);
  ASSERT_EQ(o.result, ErrorCode::Ok);
  EXPECT_EQ(track_sample_count(o.track(1)), 2u);
  EXPECT_EQ(track_sample_count(o.track(2)), 1u);
  EXPECT_EQ(o.file->io_error, 0u);
}

// Every cut and many single-byte changes of small files open or fail with
// a code, and every sample of what opens reads or fails with one: no crash,
// no hang, no read past a buffer (the sanitizer build checks that).
TEST(AviImport, DamagedFilesFailCleanly) {
  const Bytes originals[] = {TwoStreams().file(false), TwoStreams(kHasIndex, 40).file(true), OdmlFile().bytes};
  auto try_open = [](const Bytes& bytes) {
    Opened o(bytes);
    if (o.result != ErrorCode::Ok) return;
    for (uint32_t i = 0; i < track_count(o.file->root); ++i) {
      std::vector<Bytes> samples;
      ErrorCode e = read_all(o.file, track_id_of(track_at(o.file->root, i)), &samples);
      EXPECT_TRUE(e == ErrorCode::Ok || e == ErrorCode::Io) << code_value(e);
    }
  };
  for (const Bytes& original : originals) {
    for (size_t n = 0; n < original.size(); ++n) try_open(Bytes(original.begin(), original.begin() + static_cast<long>(n)));
    for (size_t at = 0; at < original.size(); ++at) {
      for (uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x80}, static_cast<uint8_t>(original[at] ^ 1)}) {
        Bytes changed = original;
        changed[at] = value;
        try_open(changed);
      }
    }
  }
}

}  // namespace
}  // namespace vantorel

namespace vantorel {
namespace {

using namespace test;

Bytes repeat(const Bytes& part, size_t times) {
  Bytes out;
  for (size_t i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// A stream whose data does not parse as its codec loses its track, with the
// reason and its format kept for the warning; the other stream stays.
TEST(AviImport, StreamsThatDoNotParseLoseOnlyTheirTrack) {
  StreamHeader sound;
  sound.type = "auds";
  sound.rate = 44100;
  auto audio_list = [&](uint16_t tag, uint16_t block_align, const Bytes& extra) {
    return stream_list(cat({strh_chunk(sound), riff_chunk("strf", wave_format(tag, 2, 44100, 16000, block_align, 16, extra))}));
  };
  StreamHeader video;
  video.handler = "XVID";
  const Bytes xvid_list = stream_list(cat({strh_chunk(video), riff_chunk("strf", bitmap_info(160, 120, 24, "XVID"))}));
  // A visual object sequence, then a video object layer cut after its
  // object type, then a VOP.
  const Bytes short_vol = {0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01, 0x20, 0x00, 0x86,
                           0x00, 0x00, 0x01, 0xB6, 0x10, 0x00};
  const Bytes vop_only = {0x00, 0x00, 0x01, 0xB6, 0x10, 0x00, 0x00, 0x00};
  StreamHeader avc = video;
  avc.handler = "H264";
  const Bytes h264_list = stream_list(cat({strh_chunk(avc), riff_chunk("strf", bitmap_info(160, 120, 24, "H264"))}));
  // A sequence parameter set that ends after its level, then an IDR slice.
  const Bytes short_sps = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0xC0, 0x1E, 0x00, 0x00, 0x01, 0x65, 0x88, 0x84};
  // MPEG-1 layer III headers that announce 417-byte frames, every 100 bytes.
  const Bytes lying_mp3 = repeat(cat({Bytes{0xFF, 0xFB, 0x90, 0x00}, zeros(96)}), 20);
  struct Case {
    const char* name;
    Bytes list;
    std::string id;
    Bytes data;
    const char* reason;
    FourCC handler, format;
  };
  const Case cases[] = {
      {"MP3 frame headers that lie", audio_list(0x55, 1152, zeros(12)), "01wb", lying_mp3,
       "no audio frame header in the stream", FourCC::of("soun"), FourCC::from_u32(0x55)},
      {"AC-3 without a sync frame", audio_list(0x2000, 1, {}), "01wb", zeros(3000), "no audio frame header in the stream",
       FourCC::of("soun"), FourCC::from_u32(0x2000)},
      {"AAC without its configuration", audio_list(0xFF, 1, {}), "01wb", filled(300, 0x21),
       "an AAC stream without its configuration", FourCC::of("soun"), FourCC::from_u32(0xFF)},
      {"PCM without a frame size", audio_list(1, 0, {}), "01wb", zeros(400), "a PCM stream format without a frame size",
       FourCC::of("soun"), FourCC::from_u32(1)},
      {"a video object layer cut short", xvid_list, "01dc", short_vol,
       "the MPEG-4 video object layer header is cut short", FourCC::of("vide"), FourCC::of("XVID")},
      {"no video object layer", xvid_list, "01dc", vop_only, "no MPEG-4 video object layer header", FourCC::of("vide"),
       FourCC::of("XVID")},
      {"an H.264 sequence parameter set cut short", h264_list, "01dc", short_sps,
       "an H.264 sequence parameter set does not parse", FourCC::of("vide"), FourCC::of("H264")},
      {"H.264 without start codes", h264_list, "01dc", Bytes{0x00, 0x00, 0x00, 0x09, 0x65, 0x88},
       "an H.264 frame without start codes", FourCC::of("vide"), FourCC::of("H264")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Stream 0: PCM, which the remux carries.
    Bytes hdrl = cat({avih_chunk(kHasIndex, 160, 120, 2), pcm_stream(sound, 4, 44100), c.list});
    Movi movi = movi_of({{"00wb", filled(16, 1)}, {c.id, c.data}, {"00wb", filled(16, 2)}, {c.id, c.data}});
    Bytes entries;
    for (size_t i = 0; i < 4; ++i) {
      Bytes e = idx1_entry(i % 2 == 0 ? "00wb" : c.id, 0x10, movi.header_offsets[i], static_cast<uint32_t>(i % 2 == 0 ? 16 : c.data.size()));
      entries.insert(entries.end(), e.begin(), e.end());
    }
    Bytes file = avi_file(hdrl, movi, riff_chunk("idx1", entries));
    Opened o(file);
    ASSERT_EQ(o.result, ErrorCode::Ok);
    ASSERT_EQ(track_count(o.file->root), 1u);
    EXPECT_EQ(track_id_of(track_at(o.file->root, 0)), 1u);
    ASSERT_EQ(o.file->dropped_tracks.count, 1u);
    const DroppedTrack& d = o.file->dropped_tracks[0];
    EXPECT_EQ(d.track_id, 2u);
    EXPECT_STREQ(d.reason, c.reason);
    EXPECT_TRUE(d.handler == c.handler);
    EXPECT_TRUE(d.format == c.format);
    std::vector<Bytes> samples;
    ASSERT_EQ(read_all(o.file, 1, &samples), ErrorCode::Ok);
    EXPECT_EQ(samples.size(), 2u);
    // The remux carries the other stream and tells of the one it lost.
    MemoryRemuxResult r = remux_in_memory(file.data(), file.size());
    EXPECT_EQ(r.result, ErrorCode::Ok);
    EXPECT_EQ(r.tracks_dropped, 1u);
  }
}

}  // namespace
}  // namespace vantorel
