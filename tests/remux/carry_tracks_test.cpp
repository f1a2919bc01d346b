// Every track an MP4 or QuickTime file holds is carried: data and metadata
// tracks under their own handlers, every track reference, PCM with its
// tables and its channel layout as stored. Inputs are made by ffmpeg and
// patched in place where ffmpeg cannot write the kind of track.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "support/box_builder.h"
#include "support/compare.h"
#include "support/decoded.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

uint32_t load32(const Bytes& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

void store32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A box found in a file's bytes: where it starts and how long it is (32-bit
// sizes only: the files here are small).
struct Found {
  size_t at = 0;
  size_t size = 0;
  bool ok() const { return size != 0; }
  size_t end() const { return at + size; }
};

// The `index`-th child of type `type` among the boxes in [from, end).
Found child(const Bytes& b, size_t from, size_t end, const char* type, int index = 0) {
  for (size_t at = from; at + 8 <= end;) {
    size_t size = load32(b, at);
    if (size < 8 || at + size > end) break;
    if (std::memcmp(&b[at + 4], type, 4) == 0 && index-- == 0) return Found{at, size};
    at += size;
  }
  return Found{};
}

// Boxes down a path from the top level: "moov", then a track, then boxes
// inside it. Each step's payload starts `skip` bytes in (8 for containers).
struct TrackPath {
  Found moov, trak, mdia, hdlr, minf, stbl, stsd, entry;
};

TrackPath track_path(const Bytes& b, int track_index) {
  TrackPath p;
  p.moov = child(b, 0, b.size(), "moov");
  if (!p.moov.ok()) return p;
  p.trak = child(b, p.moov.at + 8, p.moov.end(), "trak", track_index);
  if (!p.trak.ok()) return p;
  p.mdia = child(b, p.trak.at + 8, p.trak.end(), "mdia");
  if (!p.mdia.ok()) return p;
  p.hdlr = child(b, p.mdia.at + 8, p.mdia.end(), "hdlr");
  p.minf = child(b, p.mdia.at + 8, p.mdia.end(), "minf");
  if (!p.minf.ok()) return p;
  p.stbl = child(b, p.minf.at + 8, p.minf.end(), "stbl");
  if (!p.stbl.ok()) return p;
  p.stsd = child(b, p.stbl.at + 8, p.stbl.end(), "stsd");
  if (p.stsd.ok()) p.entry = Found{p.stsd.at + 16, load32(b, p.stsd.at + 16)};
  return p;
}

Bytes bytes_of(const Bytes& b, Found f) { return f.ok() ? Bytes(b.begin() + f.at, b.begin() + f.end()) : Bytes{}; }

// The bytes of a box with every 'btrt' payload zeroed: the output's holds
// the bit rates measured as it was written.
Bytes without_bit_rates(Bytes b) {
  const uint8_t btrt[] = {0, 0, 0, 20, 'b', 't', 'r', 't'};
  for (auto it = b.begin(); (it = std::search(it, b.end(), std::begin(btrt), std::end(btrt))) != b.end();) {
    it += 8;
    for (int i = 0; i < 12 && it != b.end(); ++i) *it++ = 0;
  }
  return b;
}

Bytes table_of(const Bytes& b, int track_index, const char* type) {
  TrackPath p = track_path(b, track_index);
  return p.stbl.ok() ? bytes_of(b, child(b, p.stbl.at + 8, p.stbl.end(), type)) : Bytes{};
}

// Inserts `bytes` at `at`, growing every box in `around` (which hold `at`).
// Only for files whose 'moov' follows the media data: no offset moves.
void insert(Bytes& b, size_t at, const Bytes& bytes, std::initializer_list<Found> around) {
  for (const Found& f : around) store32(b, f.at, load32(b, f.at) + static_cast<uint32_t>(bytes.size()));
  b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
}

// Gives track `index` a handler type and entry type, and the entry a child.
void patch_track(Bytes& b, int index, const char* handler, const char* entry, const Bytes& entry_child) {
  TrackPath p = track_path(b, index);
  ASSERT_TRUE(p.hdlr.ok() && p.entry.ok());
  std::memcpy(&b[p.hdlr.at + 16], handler, 4);
  std::memcpy(&b[p.entry.at + 4], entry, 4);
  if (!entry_child.empty())
    insert(b, p.entry.end(), entry_child, {p.moov, p.trak, p.mdia, p.minf, p.stbl, p.stsd, p.entry});
}

// A 'tref' after the track's 'tkhd'.
void add_reference(Bytes& b, int index, const Bytes& tref) {
  TrackPath p = track_path(b, index);
  Found tkhd = child(b, p.trak.at + 8, p.trak.end(), "tkhd");
  ASSERT_TRUE(tkhd.ok());
  insert(b, tkhd.end(), tref, {p.moov, p.trak});
}

void write_file(const std::string& path, const Bytes& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), f), b.size());
  std::fclose(f);
}

const LibraryTrack* track_with_id(const std::vector<LibraryTrack>& tracks, uint32_t id) {
  for (const LibraryTrack& t : tracks)
    if (t.track_id == id) return &t;
  return nullptr;
}

// ffmpeg writes no data or metadata tracks of these kinds: three timed-text
// tracks are turned into them in place. Track 3 becomes the case's kind
// and refers to the video and to track 5; track 4 becomes 'fdsc'; track 5
// a QuickTime-only caption track, which an MP4 leaves out.
TEST(CarryTracks, DataAndMetadataTracksTravelWhole) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string subtitles = dir.path("subs.srt");
  {
    FILE* f = std::fopen(subtitles.c_str(), "w");
    std::fputs("1\n00:00:00,000 --> 00:00:00,400\nOne\n\n2\n00:00:00,500 --> 00:00:00,900\nTwo\n\n", f);
    std::fclose(f);
  }
  std::string error;
  const std::string sub = " -i " + shell_quote(subtitles);
  std::string base = make_media(dir, "base.mp4",
                                "-f lavfi -i testsrc=size=64x48:rate=10:duration=1 -f lavfi -i sine=duration=1" + sub +
                                    sub + sub + " -map 0 -map 1 -map 2 -map 3 -map 4 -c:v libx264 -pix_fmt yuv420p "
                                                "-c:a aac -c:s mov_text",
                                &error);
  ASSERT_FALSE(base.empty()) << error;
  const Bytes original = read_whole_file(base);
  ASSERT_LT(child(original, 0, original.size(), "mdat").at, child(original, 0, original.size(), "moov").at);

  struct Case {
    const char* name;
    const char* handler;
    const char* entry;
    Bytes entry_child;
  };
  const Case cases[] = {
      {"camera telemetry", "meta", "gpmd", {}},
      {"flight data", "meta", "djmd", {}},
      {"timed metadata with its keys", "meta", "mebx",
       box("keys", cat({u32(0), u32(1), box("1   ", cat({u32(0x6D647461), text("com.example.key")}))}))},
      {"camera motion", "camm", "camm", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes b = original;
    patch_track(b, 2, c.handler, c.entry, c.entry_child);
    patch_track(b, 3, "meta", "fdsc", {});
    patch_track(b, 4, "clcp", "c608", {});
    add_reference(b, 2, box("tref", cat({box("cdsc", cat({u32(1), u32(5)})), box("vdep", u32(5))})));
    std::string in = dir.path(std::string(c.entry) + ".mp4");
    write_file(in, b);

    // Into an MP4 the caption track is left out, and the references to it.
    std::string out = dir.path(std::string(c.entry) + "-out.mp4");
    std::string said;
    EXPECT_EQ(remux_command(in, out, &said), 0) << said;
    EXPECT_NE(said.find("needs a QuickTime movie"), std::string::npos) << said;
    Bytes o = read_whole_file(out);
    std::vector<LibraryTrack> in_tracks, out_tracks;
    ASSERT_TRUE(read_with_library(in, &in_tracks, &error)) << error;
    ASSERT_TRUE(read_with_library(out, &out_tracks, &error)) << error;
    ASSERT_EQ(out_tracks.size(), 4u);
    for (int k = 0; k < 4; ++k) {
      SCOPED_TRACE(k);
      TrackPath ip = track_path(b, k), op = track_path(o, k);
      ASSERT_TRUE(op.stsd.ok());
      EXPECT_EQ(out_tracks[k].track_id, in_tracks[k].track_id);
      ASSERT_TRUE(op.hdlr.ok());
      EXPECT_EQ(Bytes(o.begin() + op.hdlr.at + 16, o.begin() + op.hdlr.at + 20),
                Bytes(b.begin() + ip.hdlr.at + 16, b.begin() + ip.hdlr.at + 20));
      const LibraryTrack* from = track_with_id(in_tracks, out_tracks[k].track_id);
      ASSERT_NE(from, nullptr);
      ASSERT_EQ(out_tracks[k].packets.size(), from->packets.size());
      for (size_t n = 0; n < from->packets.size(); ++n) {
        EXPECT_EQ(out_tracks[k].packets[n].size, from->packets[n].size);
        EXPECT_EQ(out_tracks[k].packets[n].md5, from->packets[n].md5);
      }
      if (k < 2) continue;
      // Entries whole (the data reference index is 1 on both sides), and
      // the media header as read.
      EXPECT_EQ(bytes_of(o, op.stsd), bytes_of(b, ip.stsd));
      EXPECT_EQ(bytes_of(o, child(o, op.minf.at + 8, op.minf.end(), "nmhd")),
                bytes_of(b, child(b, ip.minf.at + 8, ip.minf.end(), "nmhd")));
    }
    TrackPath op = track_path(o, 2);
    EXPECT_EQ(bytes_of(o, child(o, op.trak.at + 8, op.trak.end(), "tref")), box("tref", box("cdsc", u32(1))));

    // A QuickTime movie keeps every track and every reference.
    std::string mov = dir.path(std::string(c.entry) + "-out.mov");
    EXPECT_EQ(remux_command(in, mov, &said), 0) << said;
    Bytes m = read_whole_file(mov);
    EXPECT_TRUE(track_path(m, 4).stsd.ok());
    TrackPath mp = track_path(m, 2);
    EXPECT_EQ(bytes_of(m, child(m, mp.trak.at + 8, mp.trak.end(), "tref")),
              box("tref", cat({box("cdsc", cat({u32(1), u32(5)})), box("vdep", u32(5))})));
    EXPECT_EQ(bytes_of(m, track_path(m, 2).stsd), bytes_of(b, track_path(b, 2).stsd));

    // The description names such a track by its code.
    RunResult info = run_program(dir, {"--info", in});
    EXPECT_EQ(info.status, 0) << info.err;
    bool named = false;
    for (const std::string& line : lines_of(info.out))
      named = named || (line.rfind("Track 3:", 0) == 0 && line.find(c.entry) != std::string::npos &&
                        line.find("carried as stored") != std::string::npos);
    EXPECT_TRUE(named) << info.out;
  }
}

std::string channel_layouts(const std::string& path) {
  std::string out;
  run_command("ffprobe -v error -show_entries stream=channel_layout -of csv=p=0 " + shell_quote(path), &out);
  return out;
}

// Decoded audio and video equal, stream by stream.
void expect_same_decoding(const std::string& in, const std::string& out) {
  std::vector<DecodedStream> a, b;
  std::string error;
  ASSERT_TRUE(decode_streams(in, {}, &a, &error)) << error;
  ASSERT_TRUE(decode_streams(out, {}, &b, &error)) << error;
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(decoded_equal(a[i], b[i])) << i;
}

// Codecs the remux carries as read from an MP4: TrueHD and DTS, whose only
// track once left nothing to carry.
TEST(CarryTracks, TrueHdAndDtsFromMp4) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string audio = "-f lavfi -i sine=frequency=500:sample_rate=48000:duration=1 -ac 2 ";
  struct Case {
    const char* name;
    const char* file;
    std::string args;
    const char* entry;
  };
  const Case cases[] = {
      {"TrueHD", "truehd.mp4", audio + "-c:a truehd -strict -2", "mlpa"},
      // ffmpeg stores DTS in an MP4 as 'mp4a' of object type 0xA9.
      {"DTS", "dts.mp4", audio + "-c:a dca -strict -2", "mp4a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    std::string in = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(in.empty()) << error;
    std::string out = dir.path(std::string("out-") + c.file);
    std::string said;
    ASSERT_EQ(remux_command(in, out, &said), 0) << said;
    Bytes a = read_whole_file(in), b = read_whole_file(out);
    TrackPath ip = track_path(a, 0);
    ASSERT_TRUE(ip.entry.ok());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&a[ip.entry.at + 4]), 4), c.entry);
    EXPECT_EQ(without_bit_rates(bytes_of(b, track_path(b, 0).stsd)), without_bit_rates(bytes_of(a, ip.stsd)));
    expect_same_decoding(in, out);
  }
}

// PCM keeps its table shape: one 'stsz' entry per frame with the size as
// read, chunks as read, and its entry whole ('chan' and all).
TEST(CarryTracks, PcmAsStored) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string six = "-filter_complex " + shell_quote("[0:a]pan=5.1(side)|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0[a]") +
                          " -map " + shell_quote("[a]");
  const std::string sine = "-f lavfi -i sine=frequency=300:sample_rate=48000:duration=";
  struct Case {
    const char* name;
    const char* file;
    std::string args;
    const char* out;
  };
  const Case cases[] = {
      {"5.1(side) big-endian 16-bit", "twos51.mov", sine + "1 " + six + " -c:a pcm_s16be", "twos51-out.mov"},
      {"audio-only 24-bit, 3 s in one chunk", "in24.mov", sine + "3 -c:a pcm_s24le", "in24-out.mov"},
      {"interleaved with video", "video-twos.mov",
       "-f lavfi -i testsrc=size=64x48:rate=10:duration=2 " + sine + "2 -c:v libx264 -pix_fmt yuv420p -c:a pcm_s16be",
       "video-twos-out.mov"},
      {"big-endian 16-bit into an MP4", "twos.mov", sine + "1 -c:a pcm_s16be", "twos-out.mp4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    std::string in = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(in.empty()) << error;
    std::string out = dir.path(c.out);
    std::string said;
    ASSERT_EQ(remux_command(in, out, &said), 0) << said;
    Bytes a = read_whole_file(in), b = read_whole_file(out);
    int sound = track_path(a, 1).moov.ok() && track_path(a, 1).trak.ok() ? 1 : 0;
    EXPECT_EQ(bytes_of(b, track_path(b, sound).stsd), bytes_of(a, track_path(a, sound).stsd));
    EXPECT_EQ(table_of(b, sound, "stsz"), table_of(a, sound, "stsz"));
    EXPECT_EQ(table_of(b, sound, "stts"), table_of(a, sound, "stts"));
    EXPECT_EQ(table_of(b, sound, "stsc"), table_of(a, sound, "stsc"));
    EXPECT_EQ(channel_layouts(out), channel_layouts(in));
    expect_same_decoding(in, out);
  }
}

// PCM built from AVI and Matroska: one sample per frame, 'stsz' the bytes of
// a frame, and the WAVE_FORMAT_EXTENSIBLE channel mask as 'chan'.
TEST(CarryTracks, PcmFromAviAndMatroska) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string sine = "-f lavfi -i sine=frequency=300:sample_rate=48000:duration=1 ";
  const std::string six = "-filter_complex " + shell_quote("[0:a]pan=5.1(side)|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0[a]") +
                          " -map " + shell_quote("[a]");
  struct Case {
    const char* name;
    const char* file;
    std::string args;
    const char* out;
    uint32_t frame_size;
    bool layout;  // the output has a 'chan'
  };
  const Case cases[] = {
      {"six-channel 24-bit", "s24.avi", sine + six + " -c:a pcm_s24le", "s24.mov", 18, true},
      {"six-channel 16-bit", "s16.avi", sine + six + " -c:a pcm_s16le", "s16.mov", 12, true},
      {"stereo 16-bit into an MP4", "stereo.avi", sine + "-ac 2 -c:a pcm_s16le", "stereo.mp4", 4, false},
      {"Matroska stereo 16-bit", "stereo.mkv", sine + "-ac 2 -c:a pcm_s16le", "stereo-mkv.mov", 4, false},
      {"Matroska mono 24-bit", "mono24.mkv", sine + "-c:a pcm_s24le", "mono24-mkv.mov", 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    std::string in = make_media(dir, c.file, c.args, &error);
    ASSERT_FALSE(in.empty()) << error;
    std::string out = dir.path(c.out);
    std::string said;
    ASSERT_EQ(remux_command(in, out, &said), 0) << said;
    Bytes b = read_whole_file(out);
    Bytes stsz = table_of(b, 0, "stsz");
    ASSERT_EQ(stsz.size(), 20u);
    EXPECT_EQ(load32(stsz, 12), c.frame_size);
    EXPECT_EQ(load32(stsz, 16), 48000u);
    TrackPath p = track_path(b, 0);
    Bytes entry = bytes_of(b, p.entry);
    const uint8_t chan[] = {'c', 'h', 'a', 'n'};
    EXPECT_EQ(std::search(entry.begin(), entry.end(), std::begin(chan), std::end(chan)) != entry.end(), c.layout);
    EXPECT_EQ(channel_layouts(out), channel_layouts(in));
    expect_same_decoding(in, out);
  }
}

}  // namespace
}  // namespace vantorel
