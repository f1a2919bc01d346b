#pragma once
// Compares what the library reads from a file with ffprobe's packet listing
// of the same file: count, size, data MD5, decode and presentation time,
// key-frame flag, stream by stream.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/ffprobe.h"

namespace vantorel::test {

struct LibraryPacket {
  uint32_t size = 0;
  std::string md5;
  int64_t dts = 0;  // the sum of the durations before it, from 0
  int64_t pts = 0;  // dts + composition offset
  int64_t duration = 0;
  bool key = false;
};

struct LibraryTrack {
  uint32_t track_id = 0;
  uint32_t kind = 0;
  std::string fourcc;
  uint32_t timescale = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t nal_length_size = 0;
  uint32_t sample_rate = 0;
  uint32_t sample_bits = 0;
  uint32_t channel_count = 0;
  uint64_t media_duration = 0;
  uint64_t start_delay = 0;
  uint32_t sample_count = 0;
  std::vector<LibraryPacket> packets;
  std::string all_data_md5;  // MD5 of every sample's bytes in order
  uint64_t total_bytes = 0;
};

// Opens `path` with the default routines in read mode and reads every sample
// of every track, each from its first sample on. False with a message in
// `error` when the file cannot be opened or a read fails.
bool read_with_library(const std::string& path, std::vector<LibraryTrack>* out, std::string* error);

struct CompareOptions {
  bool relative = false;    // times minus each side's first decode time
  bool pcm = false;         // concatenated data and total duration only
  bool skip_empty = false;  // our zero-size samples are not listed by ffprobe
  int64_t pts_shift = 0;    // added to ffprobe's presentation times
};

::testing::AssertionResult packets_equal(const LibraryTrack& ours, const std::vector<ProbePacket>& theirs,
                                         const CompareOptions& options);

// Two packet listings of ffprobe, of an input stream and of the stream that
// carries it in an output: count, size, data, times and key flags equal
// (with `options.pcm`, the total bytes and duration only; with
// `options.relative`, times from each listing's first decode time).
::testing::AssertionResult probe_packets_equal(const std::vector<ProbePacket>& input,
                                               const std::vector<ProbePacket>& output, const CompareOptions& options);

// The top-level box types of a file, in order.
std::vector<std::string> top_level_types(const std::string& path);

// ffprobe's packets of several files of one split output, stream by stream,
// each file's times made relative to that file's first decode time of the
// stream and then laid end to end.
bool probe_split_packets(const std::vector<std::string>& paths, std::vector<std::vector<ProbePacket>>* streams,
                         std::string* error);

// The parts of a split output, joined, hold as many streams as the input,
// and its first `stream_count` packet for packet, with relative times.
::testing::AssertionResult split_parts_hold_input(const std::string& input, const std::vector<std::string>& parts,
                                                  int stream_count);

}  // namespace vantorel::test
