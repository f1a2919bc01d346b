#pragma once
// Helpers for tests that create files: opening for creating, samples from
// byte vectors, the top-level boxes of a file, and a file read back.
#include <cstdint>
#include <string>
#include <vector>

#include "mediafile/mediafile.h"
#include "support/box_builder.h"

namespace vantorel::test {

struct TopBox {
  std::string type;
  uint64_t start;
  uint64_t size;
};

// The top-level boxes of a file's bytes (32- and 64-bit sizes). Stops at a
// box that does not fit; `complete` says whether the boxes tile the bytes.
std::vector<TopBox> top_boxes(const Bytes& bytes, bool* complete = nullptr);
std::string top_box_types(const std::vector<TopBox>& boxes);  // "ftyp free mdat moov"

struct CreateOptions {
  uint32_t flags = 0;
  uint32_t reserve = 0;
  uint32_t samples_per_chunk = 0;
  uint32_t movie_timescale = 600;
  const char* writer_name = nullptr;
  // Header first: a measuring file names header_out, a writing one hands
  // the header back with the exact media data size.
  uint32_t header_first = 0;
  HeaderBlock* header_out = nullptr;
  const HeaderBlock* stored_header = nullptr;
  uint64_t planned_mdat_size = 0;
};

// Opens `path` for creating with the C-stream routines; null on failure.
MediaFile* create_file(const std::string& path, const CreateOptions& options = {});

// Opens `path` for reading; closed at scope end.
class ReadBack {
 public:
  explicit ReadBack(const std::string& path, uint32_t mode = kOpenRead);
  ~ReadBack();
  ReadBack(const ReadBack&) = delete;
  ReadBack& operator=(const ReadBack&) = delete;
  MediaFile* file() const { return file_; }
  ErrorCode result() const { return result_; }
  TrackBoxes* track(uint32_t id) const;

 private:
  MediaFile* file_ = nullptr;
  ErrorCode result_ = ErrorCode::Ok;
};

SampleWrite sample_of(const Bytes& data, uint32_t duration, int32_t offset = 0, uint32_t flags = kSampleSync,
                      uint64_t start_delay = 0);

// Bits most significant first; the last byte is padded with zeros.
class BitWriter {
 public:
  void put(uint32_t value, uint32_t n);
  void ue(uint32_t value);  // Exp-Golomb code
  Bytes finish() const;

 private:
  Bytes bytes_;
  uint8_t current_ = 0;
  uint32_t used_ = 0;
};

// n bytes, each `seed + i` (mod 256).
Bytes pattern(uint32_t n, uint8_t seed);

}  // namespace vantorel::test
