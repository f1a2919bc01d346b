// Transport streams made by ffmpeg, indexed and expanded, compared with
// what ffprobe lists and with ffmpeg's own copy of the elementary streams.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "import/mpegts/ts_builder.h"
#include "import/mpegts/ts_index.h"
#include "support/ffprobe.h"
#include "support/md5.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

struct FileIndex {
  FileIo file{};
  TsIndex index{};
  ErrorCode result = ErrorCode::Io;
  explicit FileIndex(const std::string& path) {
    IoOpenParams params{};
    params.routines = std_routines();
    params.path = path.c_str();
    if (attach(&file, &params, kOpenRead) != ErrorCode::Ok) return;
    TsIndexOptions options{};
    options.read_size = 1u << 16;  // several reads even for a small file
    result = ts_index_build(&file, &options, &index);
  }
  ~FileIndex() {
    ts_index_release(&index);
    detach(&file);
  }
  const TsStream* stream_of(TsMedia media) const {
    for (const TsStream& s : index.streams)
      if (s.program == index.chosen && s.cls->media == media) return &s;
    return nullptr;
  }
};

// The elementary stream bytes of each unit, expanded from their records.
std::vector<ts::Bytes> expand_units(FileIndex* x, const TsStream& s) {
  std::vector<ts::Bytes> units;
  TsWindow window;
  if (ts_window_open(&window, &x->file, 0x10000, 0x8000) != ErrorCode::Ok) return units;
  for (const PesRecord& r : x->index.pids[s.pid_index].pes) {
    ts::Bytes b(r.length);
    EXPECT_EQ(ts_expand(&window, x->index.layout, s.pid, EsLocator{r.offset, 0, r.length}, b.data()), ErrorCode::Ok);
    units.push_back(std::move(b));
  }
  ts_window_release(&window);
  return units;
}

ts::Bytes joined(const std::vector<ts::Bytes>& parts) {
  ts::Bytes all;
  for (const ts::Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(TsRealFiles, FfmpegStreamsIndexAsFfprobeSeesThemAndExpandToTheirBytes) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string ts = make_media(dir, "in.ts",
                              "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 "
                              "-t 2 -c:v libx264 -preset ultrafast -x264-params bframes=2 -g 12 -c:a aac -f mpegts",
                              &error);
  ASSERT_FALSE(ts.empty()) << error;
  std::string m2ts = make_media(dir, "in.m2ts", "-i " + shell_quote(ts) + " -c copy -mpegts_m2ts_mode 1 -f mpegts", &error);
  ASSERT_FALSE(m2ts.empty()) << error;

  struct Case {
    std::string path;
    uint32_t stride;
    uint16_t video_pid, audio_pid;
    uint8_t audio_type;
  };
  // ffmpeg writes AAC in an M2TS as private data without a descriptor.
  const Case cases[] = {{ts, 188, 0x100, 0x101, 0x0F}, {m2ts, 192, 0x1011, 0x1100, 0x06}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    FileIndex x(c.path);
    ASSERT_EQ(x.result, ErrorCode::Ok);
    EXPECT_EQ(x.index.layout.stride, c.stride);
    EXPECT_EQ(x.index.diagnostics.size(), 0u);
    const TsStream* video = x.stream_of(TsMedia::Video);
    ASSERT_TRUE(video != nullptr);
    EXPECT_EQ(video->pid, c.video_pid);
    EXPECT_EQ(video->stream_type, 0x1B);
    EXPECT_EQ(video->order, 0u);
    ASSERT_EQ(x.index.streams.size(), 2u);
    const TsStream& audio = x.index.streams[1];
    EXPECT_EQ(audio.pid, c.audio_pid);
    EXPECT_EQ(audio.stream_type, c.audio_type);
    EXPECT_EQ(x.index.programs[x.index.chosen].hdmv, c.stride == 192);

    std::vector<ProbePacket> packets;
    ASSERT_TRUE(probe_packets(c.path, &packets, "", true, &error)) << error;
    std::vector<ProbePacket> vp = packets_of(packets, 0);
    std::vector<ProbePacket> ap = packets_of(packets, 1);
    const GrowArray<PesRecord>& vpes = x.index.pids[video->pid_index].pes;
    // One picture a unit: the same count and times as ffprobe's packets.
    ASSERT_EQ(vpes.size(), vp.size());
    for (uint32_t i = 0; i < vp.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(static_cast<int64_t>(pes_record_pts(vpes[i])), vp[i].pts);
      EXPECT_EQ(static_cast<int64_t>(pes_record_dts(vpes[i])), vp[i].dts);
    }
    std::vector<ts::Bytes> vunits = expand_units(&x, *video);
    for (uint32_t i = 0; i < vp.size() && i < vunits.size(); ++i)
      EXPECT_EQ("MD5:" + md5_hex(vunits[i].data(), vunits[i].size()), vp[i].data_hash) << i;

    // Audio: several ADTS frames a unit. Each frame is addressed by a
    // locator into its unit and expanded alone; it must be ffprobe's packet.
    std::vector<ts::Bytes> aunits = expand_units(&x, audio);
    const GrowArray<PesRecord>& apes = x.index.pids[audio.pid_index].pes;
    ASSERT_EQ(aunits.size(), apes.size());
    EXPECT_LT(apes.size(), ap.size());
    TsWindow window;
    ASSERT_EQ(ts_window_open(&window, &x.file, 0x10000, 0x4000), ErrorCode::Ok);
    size_t frame = 0;
    for (uint32_t u = 0; u < apes.size(); ++u) {
      const ts::Bytes& payload = aunits[u];
      for (uint32_t at = 0; at + 7 <= payload.size();) {
        ASSERT_EQ(payload[at], 0xFF);
        uint32_t length = ((payload[at + 3] & 3u) << 11) | (payload[at + 4] << 3) | (payload[at + 5] >> 5);
        ASSERT_GE(length, 7u);
        ts::Bytes b(length);
        ASSERT_EQ(ts_expand(&window, x.index.layout, audio.pid, EsLocator{apes[u].offset, at, length}, b.data()),
                  ErrorCode::Ok);
        ASSERT_LT(frame, ap.size());
        EXPECT_EQ("MD5:" + md5_hex(b.data(), b.size()), ap[frame].data_hash) << frame;
        ++frame;
        at += length;
      }
    }
    EXPECT_EQ(frame, ap.size());

    // A range across units: the end of one picture and the start of the
    // next three, as the concatenated stream holds them.
    ts::Bytes stream = joined(vunits);
    uint64_t start = vunits[0].size() + vunits[1].size() - 100;
    uint32_t length = static_cast<uint32_t>(100 + vunits[2].size() + vunits[3].size() + 50);
    ts::Bytes across(length);
    ASSERT_EQ(ts_expand(&window, x.index.layout, video->pid,
                        EsLocator{vpes[1].offset, static_cast<uint32_t>(vunits[1].size() - 100), length},
                        across.data()),
              ErrorCode::Ok);
    EXPECT_TRUE(std::equal(across.begin(), across.end(), stream.begin() + static_cast<long>(start)));
    ts_window_release(&window);

    // The whole video stream equals ffmpeg's copy of it.
    std::string copy = dir.path("video.bin");
    ASSERT_EQ(run_command("ffmpeg -v error -y -i " + shell_quote(c.path) + " -map 0:v -c copy -f data " +
                              shell_quote(copy),
                          nullptr),
              0);
    EXPECT_TRUE(read_whole_file(copy) == stream);
  }
}

}  // namespace
}  // namespace vantorel
