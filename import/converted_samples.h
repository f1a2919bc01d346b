#pragma once
// Samples of an imported track whose bytes are not one range of the file:
// gathered at read time from pieces of the file (frames that straddle AVI
// chunks), byte-swapped, given a length prefix, or given the standard
// Huffman tables. The pieces are found once, when the file is opened.
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
};

// Bytes a track may hold in memory (decompressed frames, stripped headers,
// box headers of converted text): beyond this the track is not converted.
constexpr uint32_t kMaxHeldBytes = 64 * 1024 * 1024;

struct SamplePiece {
  uint64_t offset;
  uint32_t length;  // bytes read from the file (kPieceLength32: the value written)
  uint32_t kind;    // PieceKind
};

struct ConvertedTrack {
  uint32_t track_id;
  GrowArray<uint32_t> first_piece;  // per sample; the next sample's entry ends it
  GrowArray<SamplePiece> pieces;
  GrowArray<uint8_t> held;  // bytes that are not in the file
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

// Fills `size` bytes of sample `index` (0-based) into `buffer`.
ErrorCode converted_read(FileIo* file, const ConvertedTrack* track, uint32_t index, uint8_t* buffer, uint32_t size);
// The first bytes of sample `index`, at most `capacity`: their count in `*got`.
ErrorCode converted_peek(FileIo* file, const ConvertedTrack* track, uint32_t index, uint8_t* buffer, uint32_t capacity,
                         uint32_t* got);

void converted_release(ConvertedTrack* track);

}  // namespace vantorel
