// ASF header import: hand-made headers, damaged ones, and a file by ffmpeg.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "import/asf/asf_import.h"
#include "mediafile/mediafile.h"
#include "codecs/es_descriptor.h"
#include "sampletables/stsd.h"
#include "support/asf_builder.h"
#include "support/box_builder.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

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
  const AsfImportState& state = *asf_state(o.file);
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
  EXPECT_EQ(audio.sample_rate, 44100u);
  EXPECT_EQ(audio.sample_bits, 16u);
  EXPECT_EQ(audio.channel_count, 2u);
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
  EXPECT_EQ(video.width, 320u);
  EXPECT_EQ(video.height, 240u);
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
  EXPECT_EQ(asf_state(cut.file)->packet_count, 3u);
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
      EXPECT_EQ(info.width, static_cast<uint32_t>(s.width));
      EXPECT_EQ(info.height, static_cast<uint32_t>(s.height));
    } else {
      EXPECT_EQ(std::memcmp(info.fourcc.c, "\x00\x00\x01\x61", 4), 0);
      EXPECT_EQ(info.sample_rate, static_cast<uint32_t>(s.sample_rate));
      EXPECT_EQ(info.channel_count, static_cast<uint32_t>(s.channels));
      EXPECT_GT(info.decoder_info_size, 0u);
    }
  }
  track_iterator_free(it);
  const AsfImportState state = *asf_state(file);
  EXPECT_GT(state.packet_size, 0u);
  EXPECT_GT(state.packet_count, 0u);
  EXPECT_LE(state.first_packet + state.packet_count * state.packet_size, read_whole_file(path).size());
  media_close(file);

  MediaFile* refused = nullptr;
  EXPECT_EQ(media_open(&refused, &params, kOpenRead), ErrorCode::Unsupported);
}

}  // namespace
}  // namespace vantorel
