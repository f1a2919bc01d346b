#pragma once
// Samples of an imported track whose bytes are not one range of the file:
// gathered at read time from pieces of the file (frames that straddle AVI
// chunks), byte-swapped, given a length prefix, or given the standard
// Huffman tables; or found through a locator that the importer expands
// when the sample is read. The pieces are found once, when the file is
// opened.
#include <cstdint>

#include "io/byte_io.h"
#include "io/grow_array.h"

namespace vantorel {

enum PieceKind : uint32_t {
  kPieceCopy = 0,        // `length` bytes at `offset`
  kPieceSwap16 = 1,      // the same, each pair of bytes swapped
  kPieceLength32 = 2,    // no file bytes: `length` as four bytes, big-endian
  kPieceJpegTables = 3,  // no file bytes: the standard DHT segment
  kPieceHeld = 4,        // `length` bytes at `offset` of the track's held bytes
  kPieceLength16 = 5,    // no file bytes: `length` as two bytes, big-endian
  kPieceLocated = 6,     // `length` bytes that the track's expander makes of locator `offset`
};

// Bytes a track may hold in memory (decompressed frames, stripped headers,
// box headers of converted text): beyond this the track is not converted.
constexpr uint32_t kMaxHeldBytes = 64 * 1024 * 1024;

struct SamplePiece {
  uint64_t offset;
  uint32_t length;  // bytes read from the file (kPieceLength32: the value written)
  uint32_t kind;    // PieceKind
};

// Turns a locator into the first `count` bytes of what it stands for
// (`count` is at most the sample's size). The state is the importer's and
// lives as long as the open file; `release` (may be null) is called once for
// each track that holds it, so a state shared by tracks counts its holders.
struct SampleExpander {
  ErrorCode (*expand)(void* state, FileIo* file, uint64_t locator, uint8_t* out, uint32_t count);
  void* state;
  void (*release)(void* state);
};

// A track's samples are read either through pieces (first_piece holds an
// entry for every sample) or, with no pieces at all, each through the
// expander, its locator being the sample's chunk offset.
struct ConvertedTrack {
  uint32_t track_id;
  GrowArray<uint32_t> first_piece;  // per sample; the next sample's entry ends it
  GrowArray<SamplePiece> pieces;
  GrowArray<uint8_t> held;  // bytes that are not in the file
  SampleExpander expander;  // for located samples; unset when there are none
};

// The DHT segment (marker included) of the standard luminance and
// chrominance tables, which Motion JPEG frames usually leave out.
extern const uint8_t kStandardJpegTables[];
extern const uint32_t kStandardJpegTablesSize;

// Bytes a piece puts into a sample.
uint32_t piece_output_size(const SamplePiece& piece);

// Adds a sample made of `count` pieces.
ErrorCode converted_add_sample(ConvertedTrack* track, const SamplePiece* pieces, uint32_t count);

// Adds `count` bytes to the held bytes, giving where they start; Malformed
// past kMaxHeldBytes.
ErrorCode converted_hold(ConvertedTrack* track, const uint8_t* bytes, uint32_t count, uint32_t* at);

// Fills `size` bytes of sample `index` (0-based) into `buffer`. `offset` is
// the sample's offset in the tables: its locator when the track has no pieces.
ErrorCode converted_read(FileIo* file, const ConvertedTrack* track, uint32_t index, uint64_t offset, uint8_t* buffer,
                         uint32_t size);
// The first bytes of sample `index` of a track read through pieces, at most
// `capacity`: their count in `*got`.
ErrorCode converted_peek(FileIo* file, const ConvertedTrack* track, uint32_t index, uint8_t* buffer, uint32_t capacity,
                         uint32_t* got);

// Frees the pieces and held bytes, and lets the expander's state go.
void converted_release(ConvertedTrack* track);

}  // namespace vantorel
