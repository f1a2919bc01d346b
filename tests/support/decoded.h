#pragma once
// What ffmpeg decodes from a file, stream by stream: the hash and
// presentation time of every video frame, the whole decoded audio. Used to
// check that a remux changed no picture and no sound.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vantorel::test {

struct DecodedStream {
  std::string type;        // "video" or "audio"
  std::string codec;       // ffprobe's codec name
  int64_t tb_num = 0, tb_den = 1;
  std::vector<std::string> hashes;  // per frame
  std::vector<int64_t> pts;         // per frame, time base units
  int64_t total_duration = 0;       // sum of the frames' durations
  std::string audio_md5;            // the whole decoded audio
};

// Decodes every stream of `path`; `decoders` (per stream, may be shorter)
// names the decoder to force, so that both sides of a comparison use the
// same one. False with a message when ffmpeg fails.
bool decode_streams(const std::string& path, const std::vector<std::string>& decoders,
                    std::vector<DecodedStream>* out, std::string* error);

// Same frames in the same order, presentation times relative to the first
// equal (video), same decoded audio and duration (audio).
::testing::AssertionResult decoded_equal(const DecodedStream& input, const DecodedStream& output);

// ffprobe's complaints when it reads every packet of the file; empty when none.
std::string probe_errors(const std::string& path);

}  // namespace vantorel::test
