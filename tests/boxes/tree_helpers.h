#pragma once
// Reading hand-made box bytes into a tree at the level a box lives at, and
// writing one box of a tree back, for round trips over golden bytes.
#include <memory>

#include "boxes/box_tree.h"
#include "support/box_builder.h"

namespace vantorel::test {

enum class Level { Top, Movie, Udta, MovieUsmt, Trak, TrackUsmt, Edts, Mdia, Minf, Dinf };

// The box wrapped in the containers above it, up to the top level.
Bytes wrap_at(Level level, const Bytes& box);
const ChildList* list_at(Level level);
bool is_track_level(Level level);

struct ParsedTree {
  std::unique_ptr<MemoryFile> file;
  ErrorCode result;
  FileBoxes* root() { return file->get()->root; }
  TrackBoxes* track(uint32_t i = 0) { return track_at(root(), i); }
  const char* reason() { return file->get()->detail.reason; }
};

// Reads `bytes` as a whole file (the top level and everything below).
ParsedTree parse_file(const Bytes& bytes, uint32_t mode = kOpenRead);

// Reads `box` at its level and writes it back through its row: the whole
// box, header included. `error` gets the first failure.
Bytes rewrite_box(Level level, const Bytes& box, ErrorCode* error);

// Writes one box through a row's operations into a fresh memory stream.
Bytes write_row(const BoxDescriptor& row, void* context, ErrorCode* error);

// The whole movie box of a tree, as it would be written.
Bytes write_movie(FileBoxes* root, ErrorCode* error);
// The top-level row of a box kind.
const BoxDescriptor* top_row(BoxTypeId id);

// Hand-made input that must be refused as malformed, with a reason naming
// the problem.
struct MalformedCase {
  const char* name;
  Level level;
  Bytes box;
  const char* reason;  // a part of the recorded reason
};
void expect_malformed(const MalformedCase& c);

// An mvhd (version 0, time scale `timescale`) and identity matrices, for
// building movies by hand.
Bytes identity_matrix();
Bytes mvhd_v0(uint32_t timescale, uint32_t duration, uint32_t next_track_id);

}  // namespace vantorel::test
