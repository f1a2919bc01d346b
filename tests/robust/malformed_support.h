#pragma once
// Tools for the malformed-input tests: finding and replacing boxes inside a
// hand-made file (keeping parents' sizes and chunk offsets right), and
// reading or remuxing a file from memory with every outcome recorded.
#include <string>
#include <vector>

#include "mediafile/media_file.h"
#include "support/box_builder.h"
#include "support/memory_remux.h"

namespace vantorel::test {

struct BoxAt {
  size_t start = 0;
  size_t size = 0;
  size_t header = 8;  // header length
  std::string type;
};

// The box at `path` (types from the top; "trak#2" is the second 'trak').
// Sample entries and 'stsd', 'dref' are stepped into past their fixed fields.
// Fails the test when the box is not there.
BoxAt locate(const Bytes& file, const std::vector<std::string>& path, std::vector<BoxAt>* ancestors = nullptr);
// Every box of the file that the walk above can reach, parents first.
std::vector<BoxAt> all_boxes(const Bytes& file);

void put_u32(Bytes* b, size_t at, uint32_t v);
uint32_t get_u32(const Bytes& b, size_t at);

// The file with the box at `path` replaced by `replacement`: the sizes of its
// parents follow, and when the movie box precedes the media data the chunk
// offsets of every track move by the difference.
Bytes replace_box(const Bytes& file, const std::vector<std::string>& path, const Bytes& replacement);
// The file with the payload field at `offset` into the box at `path` set.
Bytes with_u32(const Bytes& file, const std::vector<std::string>& path, size_t offset, uint32_t value);

struct TrackRead {
  uint32_t track_id = 0;
  std::vector<Bytes> samples;
  ErrorCode end = ErrorCode::Ok;  // what stopped the reading: NoMore when all were read
};

struct ReadOutcome {
  ErrorCode open = ErrorCode::Ok;
  std::string reason;  // the failure detail's reason, when there is one
  std::string path;    // and its box path
  ErrorCode movie = ErrorCode::Ok;  // movie_info's result after a successful open
  uint32_t timescale = 0;
  std::vector<TrackRead> tracks;
};

// Opens in `mode` from memory and reads every sample of every track from
// the first one on.
ReadOutcome read_everything(const Bytes& file, uint32_t mode = kOpenRead);

// The samples of a hand-made track: sample i holds `sizes[i]` bytes of value i + 1.
std::vector<Bytes> hand_made_samples(const std::vector<uint32_t>& sizes);

}  // namespace vantorel::test
