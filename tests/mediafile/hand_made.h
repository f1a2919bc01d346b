#pragma once
// Small MP4 files written out by hand: one video-like track whose tables the
// test chooses, with its sample data in an 'mdat' after the movie box.
#include <array>
#include <string>
#include <vector>

#include "support/box_builder.h"

namespace vantorel::test {

struct HandTrack {
  std::string handler = "vide";
  uint32_t timescale = 1000;
  uint32_t track_id = 1;
  std::vector<uint32_t> sizes;                       // one per sample
  std::vector<std::pair<uint32_t, uint32_t>> stts;   // (count, delta)
  std::vector<std::pair<uint32_t, int32_t>> ctts;    // empty: no box
  std::vector<uint32_t> stss;                        // empty: no box
  std::vector<std::array<uint32_t, 3>> stsc;         // empty: one sample per chunk
  std::vector<std::pair<uint64_t, int64_t>> edits;   // (duration, media time); empty: no edit list
  bool drop_last_chunk_offset = false;               // a chunk table shorter than the samples
  std::vector<Bytes> entries;                        // sample entry boxes; empty: one of the handler's kind
  std::string tref_type;                             // a 'tref' of this type, when not empty
  std::vector<uint32_t> tref_ids;
};

// The movie time scale is 600. Sample i holds bytes of value i + 1.
Bytes hand_made_file(const std::vector<HandTrack>& tracks, const std::string& major_brand = "isom");

}  // namespace vantorel::test
