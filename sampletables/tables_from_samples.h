#pragma once
// The neutral record an importer gives for each sample of a track, and the
// one routine that turns a track's samples into its sample tables. No
// importer writes a table itself, so every imported track's tables are made
// one way, whatever its input format.
#include <cstdint>

#include "boxes/box_tree.h"

namespace vantorel {

// Where a sample's bytes are.
enum SampleWhere : uint8_t {
  kSampleRange = 0,    // `at` is the input offset of its `size` bytes
  kSamplePieces = 1,   // gathered from the pieces the importer keeps for this
                       // sample (and bytes it holds); `at` is where its first
                       // bytes are in the input
  kSampleLocated = 2,  // `at` is a locator that the importer expands into
                       // the bytes when the sample is read
};

// The dependency byte of a sample, as 'sdtp' stores it: two bits each, 0
// where nothing is known.
constexpr uint8_t sample_dependency(uint32_t is_leading, uint32_t depends_on, uint32_t is_depended_on,
                                    uint32_t has_redundancy) {
  return static_cast<uint8_t>((is_leading & 3) << 6 | (depends_on & 3) << 4 | (is_depended_on & 3) << 2 |
                              (has_redundancy & 3));
}

// One sample, 32 bytes: a transport stream of an hour keeps a few hundred
// thousand of these at once.
struct ImportedSample {
  uint64_t at;                 // by `where`: input offset, offset of the first bytes, or locator
  uint64_t decode_time;        // track time scale; the previous sample's decode time + duration
  uint32_t size;               // bytes after conversion
  uint32_t duration;           // track time scale
  int32_t composition_offset;  // presentation minus decode time; may be negative
  uint16_t description;        // 1-based sample description index
  uint8_t dependency;          // sample_dependency(); 0 when unknown
  uint8_t where : 2;           // SampleWhere
  uint8_t sync : 1;            // a sync sample (decoding may start here)
};
static_assert(sizeof(ImportedSample) == 32, "one small record a sample");

// Replaces the track's time-to-sample, composition, sample-to-chunk, size,
// chunk-offset and sync tables (and its dependency bytes) by ones describing
// `samples` in order, each sample a chunk of its own whose offset is `at`:
// - 'ctts' only when some composition offset is not 0; negative offsets are
//   shifted up as a read file's are, the shift kept for the reader;
// - 'stss' only when some sample is not a sync sample;
// - 'sdtp' bytes only when some sample's dependency byte is not 0;
// - an 'stsc' entry wherever the description index changes.
// Everything is checked before the tables change, so a rejected list leaves
// the track as it was: BadArgument for a description index outside the
// track's 'stsd', an unknown `where`, or a decode time that is not the one
// before plus its duration (the tables cannot hold a gap); Malformed for a
// sample of one range larger than the input, or times past 64 bits. Missing
// without the tables or 'stsd'; OutOfMemory.
ErrorCode tables_from_samples(BoxFile* file, TrackBoxes* track, const ImportedSample* samples, uint32_t count);

}  // namespace vantorel
