// ASF header import: hand-made headers, damaged ones, and a file by ffmpeg.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "import/asf_import.h"
#include "mediafile/mediafile.h"
#include "sampletables/esds.h"
#include "sampletables/stsd.h"
#include "support/box_builder.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

Bytes guid(uint32_t d1, uint16_t d2, uint16_t d3, std::initializer_list<uint8_t> d4) {
  return cat({u32le(d1), u16le(d2), u16le(d3), Bytes(d4)});
}
const Bytes kHeader = guid(0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
const Bytes kData = guid(0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
const Bytes kFileProperties = guid(0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
const Bytes kStreamProperties = guid(0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
const Bytes kHeaderExtension = guid(0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
const Bytes kAudioMedia = guid(0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B});
const Bytes kVideoMedia = guid(0xBC19EFC0, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B});
const Bytes kExtendedStreamProperties =
    guid(0x14E6A5CB, 0xC672, 0x4332, {0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A});
const Bytes kOtherGuid = guid(0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10});

Bytes object(const Bytes& id, const Bytes& payload) { return cat({id, u64le(24 + payload.size()), payload}); }
Bytes object_sized(const Bytes& id, uint64_t size, const Bytes& payload) { return cat({id, u64le(size), payload}); }

// 2000-01-01 00:00:00 UTC.
constexpr uint64_t kSeconds1904 = 3029529600u;
constexpr uint64_t kCreation1601 = (kSeconds1904 + kAsfEpochTo1904) * 10000000u;

struct FileProps {
  uint64_t play = 600000000;  // 60 s
  uint64_t preroll = 3000;
  uint32_t flags = 0x2;       // seekable
  uint32_t min_packet = 3200;
  uint32_t max_packet = 3200;
  uint32_t max_bitrate = 128000;
};
Bytes file_properties(const FileProps& p) {
  return object(kFileProperties, cat({zeros(16), u64le(100000), u64le(kCreation1601), u64le(9), u64le(p.play),
                                      u64le(p.play), u64le(p.preroll), u32le(p.flags), u32le(p.min_packet),
                                      u32le(p.max_packet), u32le(p.max_bitrate)}));
}

Bytes stream_properties(const Bytes& type, uint16_t number, const Bytes& specific) {
  return object(kStreamProperties, cat({type, zeros(16), u64le(0), u32le(static_cast<uint32_t>(specific.size())),
                                        u32le(0), u16le(number), u32le(0), specific}));
}
Bytes audio_format(uint16_t tag, const Bytes& extra) {
  return cat({u16le(tag), u16le(2), u32le(44100), u32le(16000), u16le(2973), u16le(16),
              u16le(static_cast<uint16_t>(extra.size())), extra});
}
Bytes video_format(const std::string& compression, const Bytes& extra) {
  Bytes bitmap = cat({u32le(static_cast<uint32_t>(40 + extra.size())), u32le(320), u32le(240), u16le(1), u16le(24),
                      text(compression), u32le(0), zeros(16), extra});
  return cat({u32le(320), u32le(240), u8(2), u16le(static_cast<uint16_t>(bitmap.size())), bitmap});
}
Bytes extended_stream_properties(uint16_t number, uint32_t bitrate, uint32_t alternate, uint32_t max_object) {
  return object(kExtendedStreamProperties,
                cat({u64le(0), u64le(0), u32le(bitrate), u32le(5000), u32le(0), u32le(alternate), u32le(5000), u32le(0),
                     u32le(max_object), u32le(0), u16le(number), u16le(0), u64le(400000), u16le(0), u16le(0)}));
}
Bytes header_extension(const Bytes& objects) {
  return object(kHeaderExtension, cat({zeros(16), u16le(6), u32le(static_cast<uint32_t>(objects.size())), objects}));
}
Bytes header_object(const Bytes& children) { return object(kHeader, cat({u32le(4), u8(1), u8(2), children})); }
Bytes data_object(uint64_t packets, size_t packet_bytes) {
  return object(kData, cat({zeros(16), u64le(packets), u8(1), u8(1), zeros(packet_bytes)}));
}

const Bytes kAudioExtra = {0x00, 0x88, 0x00, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00};
const Bytes kVideoExtra = {0x4F, 0xE0};

Bytes stream_objects() {
  return cat({stream_properties(kAudioMedia, 1, audio_format(0x0161, kAudioExtra)),
              stream_properties(kVideoMedia, 2 | 0x8000, video_format("WMV2", kVideoExtra)),
              stream_properties(kOtherGuid, 3, zeros(8))});
}

Bytes asf_file(const FileProps& props = {}) {
  return cat({header_object(cat({file_properties(props), stream_objects(),
                                 header_extension(extended_stream_properties(2, 300000, 450000, 7000))})),
              data_object(3, 96)});
}

struct Opened {
  Bytes bytes;
  MemoryPair pair{};
  MediaFile* file = nullptr;
  ErrorCode result = ErrorCode::Ok;

  explicit Opened(Bytes b, uint32_t mode = kOpenInspect) : bytes(std::move(b)) {
    pair = MemoryPair{bytes.data(), static_cast<uint32_t>(bytes.size())};
    OpenParams params{};
    params.routines = memory_routines();
    params.path = &pair;
    result = media_open(&file, &params, mode);
  }
  ~Opened() {
    if (file != nullptr) media_close(file);
  }
};

TEST(AsfImport, HeaderObjectsBecomeTracks) {
  Bytes bytes = asf_file();
  Opened o(bytes);
  ASSERT_EQ(o.result, ErrorCode::Ok);
  EXPECT_EQ(o.file->flavour, kFlavourAsf);
  const AsfImportState& state = o.file->asf;
  EXPECT_EQ(state.play_duration, 600000000u);
  EXPECT_EQ(state.preroll, 3000u);
  EXPECT_EQ(state.max_bitrate, 128000u);
  EXPECT_EQ(state.flags, 0x2u);
  EXPECT_EQ(state.packet_size, 3200u);
  EXPECT_EQ(state.packet_count, 3u);
  EXPECT_EQ(state.first_packet, bytes.size() - 96);

  MovieInfo movie;
  ASSERT_EQ(movie_info(o.file, &movie), ErrorCode::Ok);
  EXPECT_EQ(movie.track_count, 2u);
  EXPECT_EQ(movie.duration, 57u * 90000u);
  auto* mvhd = movie_record<MvhdRecord>(o.file->root, BoxTypeId::Mvhd);
  EXPECT_EQ(mvhd->creation_time, kSeconds1904);
  EXPECT_EQ(mvhd->modification_time, kSeconds1904);

  TrackInfo audio;
  ASSERT_EQ(track_info(o.file, 1, &audio), ErrorCode::Ok);
  EXPECT_EQ(audio.kind, kHandlerSound);
  EXPECT_EQ(std::memcmp(audio.fourcc.c, "\x00\x00\x01\x61", 4), 0);
  EXPECT_STREQ(audio.handler_name, "Audio");
  EXPECT_EQ(audio.timescale, 1000u);
  EXPECT_EQ(audio.media_duration, 57000u);
  EXPECT_EQ(audio.param[0], 44100u);
  EXPECT_EQ(audio.param[1], 16u);
  EXPECT_EQ(audio.param[2], 2u);
  EXPECT_EQ(audio.avg_bitrate, 128000u);
  EXPECT_EQ(audio.max_bitrate, 128000u);
  ASSERT_EQ(audio.decoder_info_size, kAudioExtra.size());
  EXPECT_EQ(Bytes(audio.decoder_info, audio.decoder_info + audio.decoder_info_size), kAudioExtra);
  SoundSampleEntry* sound = sound_entry(o.file, audio.track, 0);
  EXPECT_EQ(sound->bytes_per_packet, 16000u);
  EXPECT_EQ(sound->bytes_per_frame, 2973u);

  TrackInfo video;
  ASSERT_EQ(track_info(o.file, 2, &video), ErrorCode::Ok);
  EXPECT_EQ(video.kind, kHandlerVideo);
  EXPECT_TRUE(video.fourcc == "WMV2");
  EXPECT_STREQ(video.handler_name, "Video");
  EXPECT_EQ(video.media_duration, 57000u);
  EXPECT_EQ(video.param[0], 320u);
  EXPECT_EQ(video.param[1], 240u);
  EXPECT_EQ(video.avg_bitrate, 300000u);  // from the extended stream properties
  EXPECT_EQ(video.max_bitrate, 450000u);
  EXPECT_EQ(video.max_sample_size, 7000u);
  ASSERT_EQ(video.decoder_info_size, kVideoExtra.size());
  EXPECT_EQ(Bytes(video.decoder_info, video.decoder_info + video.decoder_info_size), kVideoExtra);
  auto* tkhd = track_record<TkhdRecord>(video.track, BoxTypeId::Tkhd);
  EXPECT_EQ(tkhd->width, 320u << 16);
  EXPECT_EQ(tkhd->duration, 57u * 90000u);
  EXPECT_EQ(tkhd->creation_time, kSeconds1904);
  EXPECT_EQ(track_record<MdhdRecord>(video.track, BoxTypeId::Mdhd)->modification_time, kSeconds1904);

  // Reading samples is not offered for ASF.
  Opened read(bytes, kOpenRead);
  EXPECT_EQ(read.result, ErrorCode::Unsupported);
}

TEST(AsfImport, DurationsFromPlayTimeAndPreroll) {
  struct Case {
    const char* name;
    FileProps props;
    uint64_t media_duration;
  };
  FileProps broadcast;
  broadcast.flags = 0x1;
  FileProps long_preroll;
  long_preroll.play = 20000000;  // 2 s
  long_preroll.preroll = 3000;
  const Case cases[] = {
      {"seekable", FileProps{}, 57000},
      {"broadcast: no durations", broadcast, 0},
      {"preroll longer than the play time", long_preroll, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Opened o(asf_file(c.props));
    ASSERT_EQ(o.result, ErrorCode::Ok);
    MovieInfo movie;
    ASSERT_EQ(movie_info(o.file, &movie), ErrorCode::Ok);
    EXPECT_EQ(movie.duration, c.media_duration * 90);
    for (uint32_t id : {1u, 2u}) {
      TrackInfo info;
      ASSERT_EQ(track_info(o.file, id, &info), ErrorCode::Ok);
      EXPECT_EQ(info.media_duration, c.media_duration);
      EXPECT_EQ(track_record<TkhdRecord>(info.track, BoxTypeId::Tkhd)->duration, c.media_duration * 90);
    }
  }
}

TEST(AsfImport, DamagedHeaders) {
  FileProps variable;
  variable.min_packet = 100;
  Bytes props = file_properties(FileProps{});
  Bytes streams = stream_objects();
  struct Case {
    const char* name;
    Bytes bytes;
    ErrorCode result;
    uint32_t tracks;
  };
  Bytes whole = asf_file();
  // Past the audio stream's object, inside the video stream's.
  const size_t audio_size = stream_properties(kAudioMedia, 1, audio_format(0x0161, kAudioExtra)).size();
  Bytes cut_in_streams(whole.begin(), whole.begin() + static_cast<long>(30 + props.size() + audio_size + 50));
  Bytes cut_in_data(whole.begin(), whole.end() - 90);
  const Case cases[] = {
      {"variable packet size", asf_file(variable), ErrorCode::Unsupported, 0},
      {"stream number 0", header_object(cat({props, stream_properties(kAudioMedia, 0x80, audio_format(0x161, {}))})),
       ErrorCode::BadArgument, 0},
      {"two streams numbered 1",
       header_object(cat({props, stream_properties(kAudioMedia, 1, audio_format(0x161, {})),
                          stream_properties(kAudioMedia, 1, audio_format(0x161, {}))})),
       ErrorCode::Missing, 0},
      {"codec data past its object",
       header_object(cat({props, stream_properties(kAudioMedia, 1, cat({u16le(0x161), u16le(2), u32le(44100),
                                                                            u32le(16000), u16le(1), u16le(16),
                                                                            u16le(500), zeros(4)}))})),
       ErrorCode::Malformed, 0},
      {"file properties cut short", header_object(object(kFileProperties, zeros(40))), ErrorCode::Malformed, 0},
      {"first object not a header object", cat({data_object(0, 0), asf_file()}), ErrorCode::Unsupported, 0},
      {"header object smaller than its own header", object_sized(kHeader, 16, zeros(40)), ErrorCode::Unsupported, 0},
      // The walks end cleanly at objects too small or too large.
      {"child smaller than an object header",
       header_object(cat({props, object_sized(kOtherGuid, 10, zeros(8)), streams})), ErrorCode::Ok, 0},
      {"child running past the header", header_object(cat({props, object_sized(kOtherGuid, 100000, zeros(8)), streams})),
       ErrorCode::Ok, 0},
      {"top-level object smaller than a header", cat({asf_file(), object_sized(kOtherGuid, 3, zeros(8))}),
       ErrorCode::Ok, 2},
      {"file ending inside the stream objects", cut_in_streams, ErrorCode::Ok, 1},
      {"file ending inside the data object", cut_in_data, ErrorCode::Ok, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Opened o(c.bytes);
    EXPECT_EQ(o.result, c.result);
    if (c.result != ErrorCode::Ok) {
      EXPECT_EQ(o.file, nullptr);
      continue;
    }
    ASSERT_NE(o.file, nullptr);
    MovieInfo movie;
    ASSERT_EQ(movie_info(o.file, &movie), ErrorCode::Ok);
    EXPECT_EQ(movie.track_count, c.tracks);
  }
  Opened cut(cut_in_data);
  ASSERT_EQ(cut.result, ErrorCode::Ok);
  EXPECT_EQ(cut.file->asf.packet_count, 3u);
}

// Every cut and many single-byte changes of a header open or fail with a
// code; what opens has a movie whose tracks can all be described.
TEST(AsfImport, DamagedFilesFailCleanly) {
  const Bytes original = asf_file();
  auto try_open = [](const Bytes& bytes) {
    Opened o(bytes);
    if (o.result != ErrorCode::Ok) return;
    MovieInfo movie;
    ASSERT_EQ(movie_info(o.file, &movie), ErrorCode::Ok);
    for (uint32_t i = 0; i < movie.track_count; ++i) {
      TrackInfo info;
      EXPECT_EQ(track_info(o.file, track_id_of(track_at(o.file->root, i)), &info), ErrorCode::Ok);
    }
  };
  for (size_t n = 0; n < original.size(); ++n) try_open(Bytes(original.begin(), original.begin() + static_cast<long>(n)));
  for (size_t at = 0; at < original.size(); ++at) {
    for (uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x80}, static_cast<uint8_t>(original[at] ^ 1)}) {
      Bytes changed = original;
      changed[at] = value;
      try_open(changed);
    }
  }
}

TEST(AsfImport, FileMadeByFfmpeg) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string path = make_media(dir, "file.asf",
                                "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 "
                                "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 "
                                "-c:v wmv2 -c:a wmav2 -ac 2 -f asf",
                                &error);
  ASSERT_FALSE(path.empty()) << error;
  std::vector<ProbeStream> streams;
  ASSERT_TRUE(probe_streams(path, &streams, "", &error)) << error;
  ASSERT_EQ(streams.size(), 2u);

  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  ASSERT_EQ(media_open(&file, &params, kOpenInspect), ErrorCode::Ok);
  MovieInfo movie;
  ASSERT_EQ(movie_info(file, &movie), ErrorCode::Ok);
  EXPECT_EQ(movie.track_count, 2u);
  TrackIterator* it = track_iterator_new(file, 0, 0);
  TrackInfo info;
  size_t i = 0;
  while (track_iterator_next(it, &info) == ErrorCode::Ok) {
    ASSERT_LT(i, streams.size());
    const ProbeStream& s = streams[i++];
    SCOPED_TRACE(s.codec_name);
    // The stream's duration is the play time less the preroll: about 2 s.
    EXPECT_NEAR(static_cast<double>(info.media_duration), 2000.0, 100.0);
    if (s.codec_type == "video") {
      EXPECT_TRUE(info.fourcc == "WMV2");
      EXPECT_EQ(info.param[0], static_cast<uint32_t>(s.width));
      EXPECT_EQ(info.param[1], static_cast<uint32_t>(s.height));
    } else {
      EXPECT_EQ(std::memcmp(info.fourcc.c, "\x00\x00\x01\x61", 4), 0);
      EXPECT_EQ(info.param[0], static_cast<uint32_t>(s.sample_rate));
      EXPECT_EQ(info.param[2], static_cast<uint32_t>(s.channels));
      EXPECT_GT(info.decoder_info_size, 0u);
    }
  }
  track_iterator_free(it);
  const AsfImportState state = file->asf;
  EXPECT_GT(state.packet_size, 0u);
  EXPECT_GT(state.packet_count, 0u);
  EXPECT_LE(state.first_packet + state.packet_count * state.packet_size, read_whole_file(path).size());
  media_close(file);

  MediaFile* refused = nullptr;
  EXPECT_EQ(media_open(&refused, &params, kOpenRead), ErrorCode::Unsupported);
}

}  // namespace
}  // namespace vantorel
