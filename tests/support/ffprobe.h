#pragma once
// Real media for tests: makes files with ffmpeg and lists what ffprobe sees
// in them (streams and packets), so the library's view can be compared.
#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace vantorel::test {

struct ProbePacket {
  int stream_index = -1;
  std::string codec_type;
  bool has_pts = false, has_dts = false, has_duration = false;
  int64_t pts = 0, dts = 0, duration = 0;  // stream time base
  uint64_t size = 0;
  int64_t pos = -1;  // -1 when unknown
  bool key = false;
  std::string data_hash;  // "MD5:<hex>" when hashes were asked for
};

struct ProbeStream {
  int index = -1;
  std::string codec_type, codec_name, codec_tag;
  int time_base_num = 0, time_base_den = 0;
  int sample_rate = 0, channels = 0;
  int width = 0, height = 0;
  int64_t nb_frames = -1;  // -1 when ffprobe does not say
};

// True when `tool -version` runs (results are cached per name).
bool have_tool(const std::string& tool);
bool have_ffmpeg();  // ffmpeg and ffprobe both

// Runs a shell command; its standard output goes to `out`. The exit status,
// or -1 when the command could not be started.
int run_command(const std::string& command, std::string* out);
std::string shell_quote(const std::string& s);

// ffprobe's packets of `path`, in its order. `input_options` go before the
// input (for example "-ignore_editlist 1").
bool probe_packets(const std::string& path, std::vector<ProbePacket>* out, const std::string& input_options = "",
                   bool with_hash = true, std::string* error = nullptr);
bool probe_streams(const std::string& path, std::vector<ProbeStream>* out, const std::string& input_options = "",
                   std::string* error = nullptr);

// Packets of one stream.
std::vector<ProbePacket> packets_of(const std::vector<ProbePacket>& all, int stream_index);

// Runs `ffmpeg -v error -y <args> <dir>/<name>`; the output's path, or "" on
// failure (with ffmpeg's messages in `error`).
std::string make_media(const TempDir& dir, const std::string& name, const std::string& args,
                       std::string* error = nullptr);

std::vector<uint8_t> read_whole_file(const std::string& path);

}  // namespace vantorel::test

// Skips the current test when ffmpeg or ffprobe is not installed.
#define VT_REQUIRE_FFMPEG()                                                         \
  do {                                                                              \
    if (!::vantorel::test::have_ffmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe absent"; \
  } while (0)
