// Sample descriptions of files made by ffmpeg, checked against ffprobe's
// view of the same files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "boxes/hdlr.h"
#include "sampletables/stsd.h"
#include "stsd_support.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

bool have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

std::string run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

using Stream = std::map<std::string, std::string>;

// One map of key=value per stream, in stream order.
std::vector<Stream> probe_streams(const std::string& path) {
  std::string text = run("ffprobe -v error -show_entries "
                         "stream=codec_type,codec_tag_string,width,height,channels,sample_rate,sample_aspect_ratio "
                         "-of compact=p=0 '" + path + "'");
  std::vector<Stream> streams;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    Stream s;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '|')) {
      size_t eq = field.find('=');
      if (eq != std::string::npos) s[field.substr(0, eq)] = field.substr(eq + 1);
    }
    streams.push_back(s);
  }
  return streams;
}

Bytes file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string fourcc(FourCC f) { return std::string(f.c, 4); }

struct Made {
  const char* name;
  const char* arguments;  // ffmpeg arguments between the inputs and the output
  bool has_video;
};

const char* const kVideoIn = "-f lavfi -i testsrc=size=176x144:rate=10 ";
const Made kFiles[] = {
    {"h264_aac.mp4", "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 1 -c:v libx264 -pix_fmt yuv420p "
                     "-vf setsar=12/11 -c:a aac -ac 2", true},
    {"mpeg4_mp3.mp4", "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 1 -c:v mpeg4 -c:a libmp3lame -ac 1", true},
    {"mjpeg_pcm.mov", "-f lavfi -i sine=frequency=440:sample_rate=8000 -t 1 -c:v mjpeg -c:a pcm_s16be -ac 1", true},
    {"ac3.mp4", "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 1 -c:a ac3 -ac 2", false},
    {"eac3.mp4", "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 1 -c:a eac3 -ac 6", false},
};

void check_video(MemoryFile& f, TrackBoxes* t, const Stream& s) {
  VisualSampleEntry* v = visual_entry(f.get(), t, 0);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(fourcc(v->format), s.at("codec_tag_string"));
  EXPECT_EQ(std::to_string(v->width), s.at("width"));
  EXPECT_EQ(std::to_string(v->height), s.at("height"));
  if (v->format == "avc1") {
    ASSERT_NE(v->avcC, nullptr);
    ASSERT_GE(v->avcC->sps_length, 6u);
    EXPECT_EQ(v->avcC->trailing.length, 4u);  // High profile: chroma format and bit depths
    AvcSpsInfo info;
    const uint8_t* sps = avc_sps_block(v->avcC);
    ASSERT_EQ(avc_probe_sps(sps + 3, load_u16be(sps) - 1, &info), ErrorCode::Ok);
    EXPECT_EQ(info.profile_idc, v->avcC->AVCProfileIndication);
    EXPECT_EQ(std::to_string(info.sar_width) + ":" + std::to_string(info.sar_height), s.at("sample_aspect_ratio"));
  } else if (v->format == "mp4v") {
    ASSERT_NE(v->esds, nullptr);
    EXPECT_EQ(v->esds->objectTypeIndication, 0x20);
    EXPECT_GT(v->esds->decoder_info.length, 0u);
  }
}

// Channels as the codec configuration gives them; 0 when it does not.
uint32_t configured_channels(const SoundSampleEntry* a) {
  static const uint32_t kAcmodChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
  if (a->esds != nullptr && a->esds->objectTypeIndication == 0x40 && a->esds->decoder_info.length >= 2)
    return (a->esds->decoder_info.bytes[1] >> 3) & 0xF;  // AudioSpecificConfig channelConfiguration
  if (a->dac3 != nullptr) return kAcmodChannels[a->dac3->acmod & 7] + a->dac3->lfeon;
  if (a->dec3 != nullptr) return kAcmodChannels[a->dec3->substreams[0].acmod & 7] + a->dec3->substreams[0].lfeon;
  return 0;
}

void check_sound(MemoryFile& f, TrackBoxes* t, const Stream& s, bool quicktime) {
  SoundSampleEntry* a = sound_entry(f.get(), t, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(fourcc(a->format), s.at("codec_tag_string"));
  EXPECT_EQ(std::to_string(a->sample_rate >> 16), s.at("sample_rate"));
  // MP4 entries carry the template value 2; the configuration has the truth.
  uint32_t configured = configured_channels(a);
  if (quicktime || configured == 0)
    EXPECT_EQ(std::to_string(a->channel_count), quicktime ? s.at("channels") : "2");
  else
    EXPECT_EQ(std::to_string(configured), s.at("channels"));
  if (a->format == "mp4a") {
    ASSERT_NE(a->esds, nullptr);
    // AAC, or MPEG-2 / MPEG-1 audio layer 3 by sampling rate.
    uint8_t oti = a->esds->objectTypeIndication;
    EXPECT_TRUE(oti == 0x40 || oti == 0x69 || oti == 0x6B) << int{oti};
    EXPECT_EQ(a->esds->streamType, 5);
  } else if (a->format == "ac-3") {
    ASSERT_NE(a->dac3, nullptr);
    EXPECT_EQ(a->dac3->fscod, 0);  // 48 kHz
  } else if (a->format == "ec-3") {
    ASSERT_NE(a->dec3, nullptr);
    EXPECT_EQ(a->dec3->num_ind_sub, 0);
    EXPECT_EQ(a->dec3->substreams[0].fscod, 0);
  }
}

TEST(RealFiles, SampleDescriptionsMatchFfprobe) {
  if (!have("ffmpeg") || !have("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  for (const Made& m : kFiles) {
    SCOPED_TRACE(m.name);
    std::string path = dir.path(m.name);
    std::string command = std::string("ffmpeg -v error -y ") + (m.has_video ? kVideoIn : "") + m.arguments + " '" +
                          path + "' 2>&1";
    std::string errors = run(command);
    ASSERT_TRUE(errors.empty()) << errors;
    std::vector<Stream> streams = probe_streams(path);
    ASSERT_FALSE(streams.empty());

    bool quicktime = std::string(m.name).ends_with(".mov");
    MemoryFile f(file_bytes(path));
    ASSERT_EQ(read_tree(f), ErrorCode::Ok);
    ASSERT_EQ(track_count(f->root), streams.size());
    for (uint32_t i = 0; i < streams.size(); ++i) {
      SCOPED_TRACE(i);
      TrackBoxes* t = track_at(f->root, i);
      const Stream& s = streams[i];
      if (s.at("codec_type") == "video") {
        EXPECT_EQ(handler_kind_of(t), kHandlerVideo);
        check_video(f, t, s);
      } else {
        EXPECT_EQ(handler_kind_of(t), kHandlerSound);
        check_sound(f, t, s, quicktime);
      }
      // What we write reads back to the same entry.
      MemoryFile sizing({}, kOpenCreate);
      sizing->flags = f->flags;
      Bytes written = write_one("stsd", stsd_size(sizing.get(), t), stsd_write, t, f->flags);
      ASSERT_GT(written.size(), 16u);
      Bytes payload(written.begin() + 8, written.end());
      MemoryFile again(track_file(s.at("codec_type") == "video" ? "vide" : "soun", payload));
      ASSERT_EQ(read_tree(again), ErrorCode::Ok);
      TrackBoxes* u = first_track(again);
      if (s.at("codec_type") == "video")
        check_video(again, u, s);
      else
        check_sound(again, u, s, quicktime);
    }
  }
}

}  // namespace
}  // namespace vantorel
