#pragma once
// Big- and little-endian integer I/O through a file's current routines. The
// readers never fail loudly: a failed routine sets the file's sticky latch,
// which loops test together with the end of the enclosing box.
#include <cstdint>

#include "io/file_io.h"

namespace vantorel {

ErrorCode read_bytes(FileIo* file, void* buffer, uint32_t count);
ErrorCode write_bytes(FileIo* file, const void* buffer, uint32_t count);
// Reads `count` bytes at `position` with the positional read when the
// routines have one (the position is then left as it was), else by a seek
// and a read.
ErrorCode read_bytes_at(FileIo* file, uint64_t position, void* buffer, uint32_t count);
// The bytes from `position` on, filling `pieces` in turn: one call when the
// routines can scatter a read, else a positional read a piece.
ErrorCode read_pieces_at(FileIo* file, uint64_t position, const IoPiece* pieces, uint32_t count);
// The pieces written in turn at the position: one call when the routines
// can gather a write, else a write a piece.
ErrorCode write_pieces(FileIo* file, const IoConstPiece* pieces, uint32_t count);
// Asks the routines to set aside room for a file of about `size` bytes;
// nothing happens where they cannot.
ErrorCode reserve_file(FileIo* file, uint64_t size);
// Whether the routines can see a file in place (view_at and unview).
bool can_view(const FileIo* file);
// `count` bytes at `position` seen in place (Unsupported when the routines
// cannot); released by unview_bytes, which also takes an empty view.
ErrorCode view_bytes_at(FileIo* file, uint64_t position, uint64_t count, IoView* out);
void unview_bytes(FileIo* file, IoView* view);
uint64_t file_tell(FileIo* file);
ErrorCode file_seek(FileIo* file, uint64_t position);
uint64_t file_size(FileIo* file);
// Skips `count` bytes forward (a seek relative to the current position).
ErrorCode file_skip(FileIo* file, uint64_t count);

uint8_t read_u8(FileIo* file);
uint16_t read_u16be(FileIo* file);
uint16_t read_u16le(FileIo* file);
uint32_t read_u24be(FileIo* file);
uint32_t read_u32be(FileIo* file);
uint32_t read_u32le(FileIo* file);
uint64_t read_u64be(FileIo* file);
uint64_t read_u64le(FileIo* file);
FourCC read_fourcc(FileIo* file);

ErrorCode write_u8(FileIo* file, uint8_t v);
ErrorCode write_u16be(FileIo* file, uint16_t v);
ErrorCode write_u24be(FileIo* file, uint32_t v);
ErrorCode write_u32be(FileIo* file, uint32_t v);
ErrorCode write_u64be(FileIo* file, uint64_t v);
ErrorCode write_fourcc(FileIo* file, FourCC v);
// Writes `count` zero bytes.
ErrorCode write_zeros(FileIo* file, uint32_t count);

inline bool io_failed(const FileIo* file) { return file->io_error != 0; }

// Big-endian helpers over memory.
inline uint16_t load_u16be(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t load_u32be(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
// Little-endian ones, for RIFF and ASF records.
inline uint16_t load_u16le(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t load_u32le(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline uint64_t load_u64le(const uint8_t* p) { return uint64_t{load_u32le(p)} | (uint64_t{load_u32le(p + 4)} << 32); }
inline FourCC load_fourcc(const uint8_t* p) {
  FourCC f{};
  for (int i = 0; i < 4; ++i) f.c[i] = static_cast<char>(p[i]);
  return f;
}
inline void store_u16be(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void store_u32be(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace vantorel
