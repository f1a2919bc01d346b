// Codecs carried with their sample entries whole: files made by ffmpeg with
// HEVC, AV1, VP9, Opus, FLAC and ALAC remux with every stream, every packet
// unchanged, and every sample entry byte for byte as read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "boxes/ftyp.h"
#include "mediafile/media_file.h"
#include "sampletables/formats.h"
#include "sampletables/sample_groups.h"
#include "sampletables/stsd.h"
#include "support/compare.h"
#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

constexpr uint8_t kWave[] = {'w', 'a', 'v', 'e'};

struct FileView {
  std::vector<std::string> formats;              // each track's first entry format
  std::vector<std::vector<uint8_t>> entries;     // each track's entries, data reference index 1
  std::vector<std::string> brands;               // major brand first
  // Per track: its 'sgpd' boxes as read, and each sample's group in every
  // grouping (type, then the index of each sample in turn).
  std::vector<std::vector<std::vector<uint8_t>>> descriptions;
  std::vector<std::vector<uint32_t>> groups;
};

// What the library reads of `path`: formats, entries and brands.
bool view_of(const std::string& path, FileView* out) {
  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  if (media_open(&file, &params, kOpenRead) != ErrorCode::Ok) return false;
  for (uint32_t i = 0; i < track_count(file->root); ++i) {
    TrackBoxes* track = track_at(file->root, i);
    TrackInfo info;
    if (track_info(file, track_id_of(track), &info) != ErrorCode::Ok) continue;
    out->formats.emplace_back(info.fourcc.c, 4);
    auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
    std::vector<uint8_t> bytes;
    if (stsd != nullptr && stsd->whole_entries.length > 0)
      bytes.assign(stsd->whole_entries.bytes, stsd->whole_entries.bytes + stsd->whole_entries.length);
    for (size_t at = 0; at + 16 <= bytes.size();) {
      size_t size = (size_t{bytes[at]} << 24) | (size_t{bytes[at + 1]} << 16) | (size_t{bytes[at + 2]} << 8) | bytes[at + 3];
      if (size < 16) break;
      bytes[at + 14] = 0;
      bytes[at + 15] = 1;
      at += size;
    }
    // The output's 'btrt' holds the bit rates measured as it was written.
    const uint8_t btrt[] = {0, 0, 0, 20, 'b', 't', 'r', 't'};
    for (auto it = bytes.begin(); (it = std::search(it, bytes.end(), std::begin(btrt), std::end(btrt))) != bytes.end();) {
      it += 8;
      for (int i = 0; i < 12 && it != bytes.end(); ++i) *it++ = 0;
    }
    out->entries.push_back(bytes);
    std::vector<std::vector<uint8_t>> descriptions;
    std::vector<uint32_t> groups;
    if (SampleGroupsRecord* g = sample_groups(track)) {
      for (const OwnedBlock& b : g->descriptions) descriptions.emplace_back(b.bytes, b.bytes + b.length);
      for (const SampleGrouping& s : g->groupings) {
        groups.push_back(s.grouping_type);
        for (const GroupRun& run : s.runs) groups.insert(groups.end(), run.sample_count, run.group_index);
      }
    }
    out->descriptions.push_back(descriptions);
    out->groups.push_back(groups);
  }
  auto* ftyp = movie_record<FileTypeRecord>(file->root, BoxTypeId::Ftyp);
  if (ftyp != nullptr) {
    out->brands.emplace_back(ftyp->major_brand.c, 4);
    for (uint32_t i = 0; i < ftyp->brand_count; ++i) out->brands.emplace_back(ftyp->compatible_brands[i].c, 4);
  }
  media_close(file);
  return true;
}

// What ffprobe says of each stream beyond its packets.
std::string stream_traits(const std::string& path) {
  std::string out;
  run_command("ffprobe -v error -show_entries stream=codec_name,profile,sample_aspect_ratio,color_primaries,"
              "color_transfer,color_space,channel_layout:stream_tags=language,timecode -of csv=p=0 " +
                  shell_quote(path),
              &out);
  // A movie's "unspecified" language (no tag) goes out as 'und'.
  for (size_t at; (at = out.find(",und\n")) != std::string::npos || (at = out.find(",und,")) != std::string::npos;)
    out.erase(at, 4);
  return out;
}

TEST(CarriedCodecs, EveryStreamPacketAndSampleEntryIsKept) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  const std::string video = "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 ";
  const std::string audio = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 ";
  const std::string subtitles = dir.path("subs.srt");
  {
    FILE* f = std::fopen(subtitles.c_str(), "w");
    std::fputs("1\n00:00:00,000 --> 00:00:00,600\nHello\n\n", f);
    std::fclose(f);
  }
  const std::string x265 = "-c:v libx265 -x265-params log-level=none -pix_fmt yuv420p ";
  struct Case {
    std::string name, file, args;
    std::string brand;  // a compatible brand the output must list, or empty
  };
  const std::vector<Case> cases = {
      {"HEVC 'hvc1' and AAC in a QuickTime movie", "hevc.mov", video + audio + x265 + "-tag:v hvc1 -c:a aac", ""},
      {"HEVC 'hev1'", "hev1.mp4", video + x265 + "-tag:v hev1", ""},
      {"AV1 and Opus", "av1.mp4", video + audio + "-c:v libaom-av1 -cpu-used 8 -c:a libopus", "av01"},
      {"TTML subtitles", "ttml.mp4",
       video + "-i " + shell_quote(subtitles) + " -map 0 -map 1 -c:v libx264 -pix_fmt yuv420p -c:s ttml "
               "-time_base:s 1:1000",
       ""},
      {"VP9 and Opus", "vp9.mp4", video + audio + "-c:v libvpx-vp9 -deadline realtime -c:a libopus", ""},
      {"H.264 and FLAC", "flac.mp4", video + audio + "-c:v libx264 -pix_fmt yuv420p -c:a flac -strict -2", ""},
      {"ALAC", "alac.m4a", audio + "-c:a alac", ""},
      {"timed text and a time code", "text.mp4",
       video + "-i " + shell_quote(subtitles) + " -map 0 -map 1 -c:v libx264 -pix_fmt yuv420p -c:s mov_text "
               "-timecode 01:00:00:00",
       ""},
      {"QuickTime text and a time code", "text.mov",
       video + "-i " + shell_quote(subtitles) + " -map 0 -map 1 -c:v libx264 -pix_fmt yuv420p -c:s mov_text "
               "-timecode 01:00:00:00",
       ""},
      {"H.264 with 'colr' and 'pasp', 5.1 AAC in French", "aspect.mp4",
       video + "-f lavfi -i sine=duration=1 -filter_complex " +
           shell_quote("[1:a]pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0[a]") + " -map 0:v -map " + shell_quote("[a]") +
           " -c:v libx264 -pix_fmt yuv420p -aspect 16:9 -color_primaries bt709 "
               "-color_trc bt709 -colorspace bt709 -c:a aac -metadata:s:a language=fra",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    // Sync samples every fifth frame, so a split has places to cut.
    std::string args = c.args + (c.args.find("-c:v") != std::string::npos ? " -g 5" : "");
    std::string in = make_media(dir, c.file, args, &error);
    ASSERT_FALSE(in.empty()) << error;
    std::string out = dir.path("out-" + c.file + ".mp4");
    std::string said;
    ASSERT_EQ(remux_command(in, out, &said), 0) << said;
    std::string decoded;
    EXPECT_EQ(run_command("ffmpeg -nostdin -v error -i " + shell_quote(out) + " -f null - 2>&1", &decoded), 0);
    EXPECT_EQ(decoded, "");

    std::vector<ProbeStream> in_streams, out_streams;
    std::vector<ProbePacket> in_packets, out_packets;
    ASSERT_TRUE(probe_streams(in, &in_streams, "", &error)) << error;
    ASSERT_TRUE(probe_streams(out, &out_streams, "", &error)) << error;
    ASSERT_TRUE(probe_packets(in, &in_packets, "-ignore_editlist 1", true, &error)) << error;
    ASSERT_TRUE(probe_packets(out, &out_packets, "-ignore_editlist 1", true, &error)) << error;
    ASSERT_EQ(out_streams.size(), in_streams.size());
    for (size_t k = 0; k < in_streams.size(); ++k) {
      SCOPED_TRACE(in_streams[k].codec_name);
      EXPECT_EQ(out_streams[k].codec_name, in_streams[k].codec_name);
      EXPECT_EQ(out_streams[k].width, in_streams[k].width);
      EXPECT_EQ(out_streams[k].height, in_streams[k].height);
      EXPECT_EQ(out_streams[k].sample_rate, in_streams[k].sample_rate);
      EXPECT_EQ(out_streams[k].channels, in_streams[k].channels);
      EXPECT_TRUE(probe_packets_equal(packets_of(in_packets, static_cast<int>(k)),
                                      packets_of(out_packets, static_cast<int>(k)), CompareOptions{}));
    }

    EXPECT_EQ(stream_traits(out), stream_traits(in));

    FileView in_view, out_view;
    ASSERT_TRUE(view_of(in, &in_view));
    ASSERT_TRUE(view_of(out, &out_view));
    ASSERT_EQ(out_view.formats, in_view.formats);
    for (size_t k = 0; k < in_view.formats.size(); ++k) {
      SCOPED_TRACE(in_view.formats[k]);
      // A QuickTime sound entry ('wave' and all) becomes a plain MP4 entry.
      const std::vector<uint8_t>& e = in_view.entries[k];
      if (std::search(e.begin(), e.end(), std::begin(kWave), std::end(kWave)) != e.end()) continue;
      EXPECT_EQ(out_view.entries[k], in_view.entries[k]);
    }
    EXPECT_EQ(out_view.descriptions, in_view.descriptions);
    EXPECT_EQ(out_view.groups, in_view.groups);
    ASSERT_FALSE(out_view.brands.empty());
    for (const std::string& b : out_view.brands) EXPECT_NE(b, "qt  ");
    if (!c.brand.empty()) {
      bool listed = false;
      for (size_t i = 1; i < out_view.brands.size(); ++i) listed = listed || out_view.brands[i] == c.brand;
      EXPECT_TRUE(listed) << c.brand;
    }

    // Split by duration, the parts joined hold every packet. Text and time
    // codes, a sample or two each, are left to the unsplit run.
    if (c.file.find("text") != std::string::npos) continue;
    std::string first = dir.path("split-" + c.file + ".mp4");
    ASSERT_EQ(run_command(std::string(VANTOREL_EXE) + " --split-duration 0.4 " + shell_quote(in) + " " +
                              shell_quote(first) + " 2>&1",
                          &said),
              0)
        << said;
    std::vector<std::string> parts = {first};
    for (int i = 1; i < 20; ++i) {
      std::string part = dir.path("split-" + c.file + "_" + std::to_string(i) + ".mp4");
      if (read_whole_file(part).empty()) break;
      parts.push_back(part);
    }
    EXPECT_GE(parts.size(), 2u);
    EXPECT_TRUE(split_parts_hold_input(in, parts, static_cast<int>(in_streams.size())));
  }
}

// An output named .mov is a QuickTime movie: it keeps the codecs only
// QuickTime holds, under QuickTime's brand. Named .mp4, the same input is
// refused with a message that names .mov; named .m4a, sound gets 'M4A '.
TEST(CarriedCodecs, OutputsNamedMovAreQuickTimeMovies) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string in = make_media(dir, "prores.mov",
                              "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -f lavfi -i "
                              "sine=sample_rate=48000:duration=1 -c:v prores_ks -c:a pcm_s24le",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  for (const char* name : {"out.mov", "OUT.MOV"}) {
    SCOPED_TRACE(name);
    std::string out = dir.path(name);
    std::string said;
    ASSERT_EQ(remux_command(in, out, &said), 0) << said;
    EXPECT_EQ(said.find("warning"), std::string::npos) << said;
    std::vector<ProbeStream> streams;
    std::vector<ProbePacket> in_packets, out_packets;
    ASSERT_TRUE(probe_streams(out, &streams, "", &error)) << error;
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].codec_name, "prores");
    EXPECT_EQ(streams[1].codec_name, "pcm_s24le");
    ASSERT_TRUE(probe_packets(in, &in_packets, "-ignore_editlist 1", true, &error)) << error;
    ASSERT_TRUE(probe_packets(out, &out_packets, "-ignore_editlist 1", true, &error)) << error;
    EXPECT_TRUE(probe_packets_equal(packets_of(in_packets, 0), packets_of(out_packets, 0), CompareOptions{}));
    CompareOptions pcm;
    pcm.pcm = true;
    EXPECT_TRUE(probe_packets_equal(packets_of(in_packets, 1), packets_of(out_packets, 1), pcm));
    FileView in_view, out_view;
    ASSERT_TRUE(view_of(in, &in_view));
    ASSERT_TRUE(view_of(out, &out_view));
    EXPECT_EQ(out_view.brands, (std::vector<std::string>{"qt  ", "qt  "}));
    ASSERT_EQ(out_view.entries.size(), 2u);
    EXPECT_EQ(out_view.entries, in_view.entries);
    // QuickTime counts its handler names: a length byte, no terminator.
    std::vector<uint8_t> bytes = read_whole_file(out);
    const std::string handler = "VideoHandler";
    std::vector<uint8_t> counted = {static_cast<uint8_t>(handler.size())};
    counted.insert(counted.end(), handler.begin(), handler.end());
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), counted.begin(), counted.end()), bytes.end());
  }

  // DV, also only for QuickTime.
  std::string dv = make_media(dir, "dv.mov",
                              "-f lavfi -i testsrc=size=720x576:rate=25:duration=0.2 -c:v dvvideo -pix_fmt yuv420p",
                              &error);
  ASSERT_FALSE(dv.empty()) << error;
  std::string dv_out = dir.path("dv-out.mov");
  std::string dv_said;
  ASSERT_EQ(remux_command(dv, dv_out, &dv_said), 0) << dv_said;
  std::vector<ProbePacket> dv_in, dv_packets;
  ASSERT_TRUE(probe_packets(dv, &dv_in, "-ignore_editlist 1", true, &error)) << error;
  ASSERT_TRUE(probe_packets(dv_out, &dv_packets, "-ignore_editlist 1", true, &error)) << error;
  EXPECT_TRUE(probe_packets_equal(dv_in, dv_packets, CompareOptions{}));

  std::string mp4 = dir.path("out.mp4");
  std::string said;
  EXPECT_EQ(remux_command(in, mp4, &said), 1);
  EXPECT_NE(said.find("name the output .mov"), std::string::npos) << said;
  EXPECT_TRUE(read_whole_file(mp4).empty());

  std::string aac = make_media(dir, "aac.mp4", "-f lavfi -i sine=duration=1 -c:a aac", &error);
  ASSERT_FALSE(aac.empty()) << error;
  std::string m4a = dir.path("out.m4a");
  ASSERT_EQ(remux_command(aac, m4a, &said), 0) << said;
  FileView audio;
  ASSERT_TRUE(view_of(m4a, &audio));
  ASSERT_FALSE(audio.brands.empty());
  EXPECT_EQ(audio.brands[0], "M4A ");
}

// Split by duration, each part keeps the group descriptions, and its share
// of the groupings: every sample keeps its group across the parts.
TEST(CarriedCodecs, SplitPartsKeepEachSamplesGroup) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string error;
  std::string in = make_media(dir, "long.mp4",
                              "-f lavfi -i testsrc=size=64x48:rate=25:duration=6 -f lavfi -i "
                              "sine=sample_rate=48000:duration=6 -c:v libx264 -g 25 -pix_fmt yuv420p -c:a aac",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  std::string said;
  ASSERT_EQ(run_command(std::string(VANTOREL_EXE) + " --split-duration 2 " + shell_quote(in) + " " +
                            shell_quote(dir.path("part.mp4")) + " 2>&1",
                        &said),
            0)
      << said;
  FileView whole;
  ASSERT_TRUE(view_of(in, &whole));
  ASSERT_EQ(whole.groups.size(), 2u);
  ASSERT_FALSE(whole.groups[1].empty());  // the AAC track's roll groups
  std::vector<std::vector<uint32_t>> joined(2);
  int parts = 0;
  for (int i = 0; i < 10; ++i) {
    std::string part = dir.path(i == 0 ? "part.mp4" : "part_" + std::to_string(i) + ".mp4");
    FileView view;
    if (!view_of(part, &view)) break;
    ++parts;
    ASSERT_EQ(view.groups.size(), 2u);
    EXPECT_EQ(view.descriptions, whole.descriptions);
    for (size_t k = 0; k < 2; ++k) {
      if (view.groups[k].empty()) continue;
      // The grouping type leads each part's list; the samples follow.
      if (joined[k].empty()) joined[k].push_back(view.groups[k][0]);
      joined[k].insert(joined[k].end(), view.groups[k].begin() + 1, view.groups[k].end());
    }
  }
  EXPECT_GE(parts, 2);
  EXPECT_EQ(joined[1], whole.groups[1]);
}

// QuickTime text and time code tracks keep their base media header ('gmhd'
// with 'gmin', 'text' and 'tmcd' inside) byte for byte.
TEST(CarriedCodecs, QuickTimeTextAndTimeCodeKeepTheirMediaHeaders) {
  VT_REQUIRE_FFMPEG();
  TempDir dir;
  std::string subtitles = dir.path("subs.srt");
  {
    FILE* f = std::fopen(subtitles.c_str(), "w");
    std::fputs("1\n00:00:00,000 --> 00:00:00,600\nHello\n\n", f);
    std::fclose(f);
  }
  std::string error;
  std::string in = make_media(dir, "text.mov",
                              "-f lavfi -i testsrc=size=64x48:rate=25:duration=1 -i " + shell_quote(subtitles) +
                                  " -map 0 -map 1 -c:v libx264 -pix_fmt yuv420p -c:s mov_text -timecode 01:00:00:00",
                              &error);
  ASSERT_FALSE(in.empty()) << error;
  std::string out = dir.path("out.mov");
  std::string said;
  ASSERT_EQ(remux_command(in, out, &said), 0) << said;
  std::vector<uint8_t> in_bytes = read_whole_file(in), out_bytes = read_whole_file(out);
  const uint8_t gmhd[] = {'g', 'm', 'h', 'd'};
  int found = 0;
  for (auto it = in_bytes.begin(); (it = std::search(it, in_bytes.end(), std::begin(gmhd), std::end(gmhd))) != in_bytes.end();
       it += 4) {
    ASSERT_GE(it - in_bytes.begin(), 4);
    auto start = it - 4;
    size_t size = (size_t{start[0]} << 24) | (size_t{start[1]} << 16) | (size_t{start[2]} << 8) | start[3];
    ASSERT_LE(size, static_cast<size_t>(in_bytes.end() - start));
    std::vector<uint8_t> box(start, start + static_cast<long>(size));
    EXPECT_NE(std::search(out_bytes.begin(), out_bytes.end(), box.begin(), box.end()), out_bytes.end());
    ++found;
  }
  EXPECT_EQ(found, 2);  // the text track's and the time code track's
}

}  // namespace
}  // namespace vantorel
