// --info against ffprobe: on files ffmpeg and mkvmerge make, every fact both
// report (formats, picture sizes, rates, time bases, played durations,
// sample counts, bit rates, languages, handler names, turns, colour and HDR
// boxes, brands, the movie's duration and title) is the same.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/file_info.h"
#include "capture.h"
#include "io/io_routines.h"
#include "support/ffprobe.h"
#include "support/json.h"

namespace vantorel::app {
namespace {

using test::Json;

// Turns the first track's header matrix by `quarter` quarter turns
// (clockwise on the screen), as a phone writes a portrait recording.
bool turn_first_track(const std::string& path, int quarter) {
  std::vector<uint8_t> bytes = test::read_whole_file(path);
  for (size_t i = 4; i + 84 <= bytes.size(); ++i) {
    if (bytes[i] != 't' || bytes[i + 1] != 'k' || bytes[i + 2] != 'h' || bytes[i + 3] != 'd' || bytes[i + 4] != 0)
      continue;
    // Version 0: the matrix follows 40 bytes of fields after the box's type.
    uint8_t* m = &bytes[i + 4 + 40];
    static constexpr uint32_t kOne = 0x10000, kMinusOne = 0xFFFF0000;
    static constexpr uint32_t kTurns[3][4] = {{0, kOne, kMinusOne, 0}, {kMinusOne, 0, 0, kMinusOne}, {0, kMinusOne, kOne, 0}};
    const uint32_t* abcd = kTurns[quarter - 1];
    const uint32_t turned[9] = {abcd[0], abcd[1], 0, abcd[2], abcd[3], 0, 0, 0, 0x40000000};
    for (int k = 0; k < 9; ++k)
      for (int b = 0; b < 4; ++b) m[4 * k + b] = static_cast<uint8_t>(turned[k] >> (24 - 8 * b));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return out.good();
  }
  return false;
}

Json info_of(const std::string& path) {
  FileDescription d;
  Json doc;
  EXPECT_EQ(describe_file(path.c_str(), path.c_str(), &std_routines(), nullptr, nullptr, &d), ErrorCode::Ok);
  if (d.file == nullptr) return doc;
  test::Capture out;
  print_description_json(out.stream(), &d);
  file_description_release(&d);
  std::string error;
  EXPECT_TRUE(test::json_parse(out.text(), &doc, &error)) << error;
  return doc;
}

Json probe_of(const std::string& path) {
  std::string text;
  Json doc;
  EXPECT_EQ(test::run_command("ffprobe -v error -show_streams -show_format -of json " + test::shell_quote(path), &text),
            0);
  std::string error;
  EXPECT_TRUE(test::json_parse(text, &doc, &error)) << error;
  return doc;
}

// A number as ffprobe writes it (some as strings), as text.
std::string text_of(const Json& v) { return v.text; }

// The display matrix's turn among ffprobe's side data; 0 without one.
std::string probe_rotation(const Json& stream) {
  if (const Json* list = stream.get("side_data_list"))
    for (const Json& item : list->items)
      if (item["side_data_type"].text == "Display Matrix") return item["rotation"].text;
  return "0";
}

const Json* probe_side_data(const Json& stream, const std::string& type) {
  if (const Json* list = stream.get("side_data_list"))
    for (const Json& item : list->items)
      if (item["side_data_type"].text == type) return &item;
  return nullptr;
}

struct Input {
  const char* name;
  std::string make;  // a shell command run in the test's folder, or ffmpeg arguments
  bool shell;
  int turn;          // quarter turns of the first track's matrix after making
  const char* track_name;  // the second track's name from its user data, when it has one
};

TEST(FileInfoProbe, EveryFactFfprobeAlsoGivesIsTheSame) {
  VT_REQUIRE_FFMPEG();
  const std::string video = "-f lavfi -i testsrc=size=64x48:rate=25:duration=1 ";
  const std::string tone = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 ";
  const Input inputs[] = {
      {"h264_aac_turned.mp4",
       video + tone +
           "-c:v libx264 -preset ultrafast -color_primaries bt709 -color_trc bt709 -colorspace bt709 "
           "-color_range tv -c:a aac -b:a 64k -metadata title=Hello -metadata:s:a:0 title=Commentary",
       false, 1, "Commentary"},
      {"mpeg4_mp3.mov", video + tone + "-c:v mpeg4 -c:a libmp3lame -metadata:s:v:0 handler_name=Pictures", false, 2,
       nullptr},
      {"mjpeg_pcm.mov", video + tone + "-c:v mjpeg -c:a pcm_s16le", false, 3, nullptr},
      {"aac_only.m4a", tone + "-c:a aac -b:a 48k", false, 0, nullptr},
      {"hdr.mp4",
       "ffmpeg -v error -y " + video +
           "-c:v libx264 -preset ultrafast v.mkv && mkvmerge -q -o hdr.mkv --colour-matrix 0:9 --colour-range 0:2 "
           "--colour-transfer-characteristics 0:16 --colour-primaries 0:9 --max-content-light 0:1000 "
           "--max-frame-light 0:400 --chromaticity-coordinates 0:0.68,0.32,0.265,0.69,0.15,0.06 "
           "--white-colour-coordinates 0:0.3127,0.329 --max-luminance 0:1000 --min-luminance 0:0.005 v.mkv && "
           "ffmpeg -v error -y -i hdr.mkv -c copy hdr.mp4",
       true, 0, nullptr},
  };
  test::TempDir dir;
  for (const Input& in : inputs) {
    SCOPED_TRACE(in.name);
    std::string path;
    if (in.shell) {
      if (!test::have_tool("mkvmerge")) continue;
      std::string said;
      ASSERT_EQ(test::run_command("cd " + test::shell_quote(dir.dir()) + " && " + in.make + " 2>&1", &said), 0) << said;
      path = dir.path(in.name);
    } else {
      std::string error;
      path = test::make_media(dir, in.name, in.make, &error);
      ASSERT_FALSE(path.empty()) << error;
    }
    if (in.turn != 0) {
      ASSERT_TRUE(turn_first_track(path, in.turn));
    }
    Json info = info_of(path);
    Json probe = probe_of(path);

    const Json& format = probe["format"];
    EXPECT_EQ(info["movie"]["duration_seconds"].text, format["duration"].text);
    const Json& ftags = format["tags"];
    if (ftags.get("major_brand") != nullptr) {
      EXPECT_EQ(info["major_brand"].text, ftags["major_brand"].text);
      EXPECT_EQ(std::to_string(info["minor_version"].u64()), ftags["minor_version"].text);
      std::string brands;
      for (const Json& b : info["compatible_brands"].items) brands += b.text;
      EXPECT_EQ(brands, ftags["compatible_brands"].text);
    }
    if (const Json* title = ftags.get("title")) {
      bool found = false;
      for (const Json& tag : info["tags"].items) {
        if (tag["name"].text == "title" && !tag["values"].items.empty()) found = tag["values"].items[0].text == title->text;
      }
      EXPECT_TRUE(found) << title->text;
    }

    const auto& streams = probe["streams"].items;
    const auto& tracks = info["tracks"].items;
    ASSERT_EQ(tracks.size(), streams.size());
    for (size_t i = 0; i < streams.size(); ++i) {
      const Json& s = streams[i];
      const Json& t = tracks[i];
      SCOPED_TRACE("track " + std::to_string(t["id"].u64()));
      EXPECT_EQ(t["format"].text, s["codec_tag_string"].text);
      EXPECT_EQ("1/" + std::to_string(t["time_scale"].u64()), s["time_base"].text);
      EXPECT_EQ(t["played_duration_seconds"].text, s["duration"].text);
      EXPECT_EQ(std::to_string(t["sample_count"].u64()), s["nb_frames"].text);
      // ffprobe's sound rates count some edited tracks over what is played,
      // others over what is stored; a picture's is over what is stored.
      if (s["codec_type"].text == "video") {
        EXPECT_EQ(std::to_string(t["average_bit_rate"].u64()), s["bit_rate"].text);
      }
      EXPECT_LE(t["average_bit_rate"].u64(), t["maximum_bit_rate"].u64());
      // ffprobe names no language where QuickTime's code says none.
      if (s["tags"].get("language") != nullptr) {
        EXPECT_EQ(t["language"].text, s["tags"]["language"].text);
      }
      if (i == 1 && in.track_name != nullptr) {
        EXPECT_EQ(t["name"].text, in.track_name);  // ffprobe does not read a track's own title
      } else {
        EXPECT_EQ(t["name"].text, s["tags"]["handler_name"].text);
      }
      if (s["codec_type"].text == "video") {
        EXPECT_EQ(t["width"].u64(), s["width"].u64());
        EXPECT_EQ(t["height"].u64(), s["height"].u64());
        EXPECT_EQ(t["rotation"].text, probe_rotation(s));
        for (const char* key : {"color_primaries", "color_transfer", "color_space", "color_range"}) {
          if (t.get(key) != nullptr) {
            EXPECT_EQ(t[key].text, s[key].text) << key;
          }
        }
        const Json* mastering = probe_side_data(s, "Mastering display metadata");
        EXPECT_EQ(t.get("mastering_display") != nullptr, mastering != nullptr);
        if (mastering != nullptr) {
          for (const auto& [key, value] : mastering->members) {
            if (key != "side_data_type") {
              EXPECT_EQ(t["mastering_display"][key].text, value.text) << key;
            }
          }
        }
        const Json* light = probe_side_data(s, "Content light level metadata");
        EXPECT_EQ(t.get("content_light_level") != nullptr, light != nullptr);
        if (light != nullptr) {
          EXPECT_EQ(t["content_light_level"]["max_content"].text, text_of((*light)["max_content"]));
          EXPECT_EQ(t["content_light_level"]["max_average"].text, text_of((*light)["max_average"]));
        }
      } else if (s["codec_type"].text == "audio") {
        EXPECT_EQ(std::to_string(t["sample_rate"].u64()), s["sample_rate"].text);
        EXPECT_EQ(t["channels"].u64(), s["channels"].u64());
      }
    }
  }
}

}  // namespace
}  // namespace vantorel::app
