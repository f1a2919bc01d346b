#include "io/byte_io.h"

#include <cstring>

#include "io/value64.h"

namespace vantorel {

namespace {

ErrorCode latch(FileIo* file, ErrorCode e) {
  if (e != ErrorCode::Ok) file->io_error = 1;
  return e;
}

}  // namespace

ErrorCode read_bytes(FileIo* file, void* buffer, uint32_t count) {
  if (file == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  if (file->current.routines.read == nullptr) return latch(file, ErrorCode::Io);
  return latch(file, file->current.routines.read(file->current.handle, buffer, count, file->user));
}

ErrorCode read_bytes_at(FileIo* file, uint64_t position, void* buffer, uint32_t count) {
  if (file == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  const IoRoutines& r = file->current.routines;
  if (r.read_at != nullptr) return latch(file, r.read_at(file->current.handle, position, buffer, count, file->user));
  VT_TRY(file_seek(file, position));
  return read_bytes(file, buffer, count);
}

ErrorCode read_pieces_at(FileIo* file, uint64_t position, const IoPiece* pieces, uint32_t count) {
  if (file == nullptr || (pieces == nullptr && count > 0)) return ErrorCode::BadArgument;
  const IoRoutines& r = file->current.routines;
  if (r.read_pieces_at != nullptr)
    return latch(file, r.read_pieces_at(file->current.handle, position, pieces, count, file->user));
  for (uint32_t i = 0; i < count; ++i) {
    if (pieces[i].count == 0) continue;
    VT_TRY(read_bytes_at(file, position, pieces[i].buffer, pieces[i].count));
    position += pieces[i].count;
  }
  return ErrorCode::Ok;
}

ErrorCode write_bytes(FileIo* file, const void* buffer, uint32_t count) {
  if (file == nullptr || buffer == nullptr) return ErrorCode::BadArgument;
  if (file->current.routines.write == nullptr) return latch(file, ErrorCode::Io);
  return latch(file, file->current.routines.write(file->current.handle, buffer, count, file->user));
}

ErrorCode write_pieces(FileIo* file, const IoConstPiece* pieces, uint32_t count) {
  if (file == nullptr || (pieces == nullptr && count > 0)) return ErrorCode::BadArgument;
  const IoRoutines& r = file->current.routines;
  if (r.write_pieces != nullptr) return latch(file, r.write_pieces(file->current.handle, pieces, count, file->user));
  for (uint32_t i = 0; i < count; ++i)
    if (pieces[i].count > 0) VT_TRY(write_bytes(file, pieces[i].buffer, pieces[i].count));
  return ErrorCode::Ok;
}

ErrorCode reserve_file(FileIo* file, uint64_t size) {
  if (file == nullptr) return ErrorCode::BadArgument;
  const IoRoutines& r = file->current.routines;
  if (r.reserve == nullptr) return ErrorCode::Ok;
  return latch(file, r.reserve(file->current.handle, size, file->user));
}

bool can_view(const FileIo* file) {
  return file != nullptr && file->current.routines.view_at != nullptr && file->current.routines.unview != nullptr;
}

ErrorCode view_bytes_at(FileIo* file, uint64_t position, uint64_t count, IoView* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = IoView{};
  if (!can_view(file)) return ErrorCode::Unsupported;
  // Not latched: a file that cannot be seen in place is read instead.
  return file->current.routines.view_at(file->current.handle, position, count, out, file->user);
}

void unview_bytes(FileIo* file, IoView* view) {
  if (file == nullptr || view == nullptr || view->base == nullptr || !can_view(file)) return;
  file->current.routines.unview(file->current.handle, view, file->user);
  *view = IoView{};
}

uint64_t file_tell(FileIo* file) {
  if (file == nullptr) return 0;
  uint64_t at = 0;
  if (file->current.routines.tell == nullptr) {
    latch(file, ErrorCode::Io);
    return 0;
  }
  latch(file, file->current.routines.tell(file->current.handle, &at, file->user));
  return at;
}

ErrorCode file_seek(FileIo* file, uint64_t position) {
  if (file == nullptr) return ErrorCode::BadArgument;
  if (file->current.routines.seek == nullptr) return latch(file, ErrorCode::Io);
  return latch(file, file->current.routines.seek(file->current.handle, &position, file->user));
}

uint64_t file_size(FileIo* file) {
  if (file == nullptr) return 0;
  uint64_t size = 0;
  if (file->current.routines.size == nullptr) {
    latch(file, ErrorCode::Io);
    return 0;
  }
  latch(file, file->current.routines.size(file->current.handle, &size, file->user));
  return size;
}

ErrorCode file_skip(FileIo* file, uint64_t count) {
  if (file == nullptr) return ErrorCode::BadArgument;
  return file_seek(file, file_tell(file) + count);
}

uint8_t read_u8(FileIo* file) {
  uint8_t b[1] = {0};
  read_bytes(file, b, 1);
  return b[0];
}

uint16_t read_u16be(FileIo* file) {
  uint8_t b[2] = {0, 0};
  read_bytes(file, b, 2);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint16_t read_u16le(FileIo* file) {
  uint8_t b[2] = {0, 0};
  read_bytes(file, b, 2);
  return static_cast<uint16_t>((b[1] << 8) | b[0]);
}

uint32_t read_u24be(FileIo* file) {
  uint8_t b[3] = {0, 0, 0};
  read_bytes(file, b, 3);
  return (uint32_t{b[0]} << 16) | (uint32_t{b[1]} << 8) | b[2];
}

uint32_t read_u32be(FileIo* file) {
  uint8_t b[4] = {0, 0, 0, 0};
  read_bytes(file, b, 4);
  return load_u32be(b);
}

uint32_t read_u32le(FileIo* file) {
  uint8_t b[4] = {0, 0, 0, 0};
  read_bytes(file, b, 4);
  return (uint32_t{b[3]} << 24) | (uint32_t{b[2]} << 16) | (uint32_t{b[1]} << 8) | b[0];
}

uint64_t read_u64be(FileIo* file) {
  uint8_t b[8] = {0};
  read_bytes(file, b, 8);
  return be64_from_bytes(b);
}

uint64_t read_u64le(FileIo* file) {
  uint64_t low = read_u32le(file);
  uint64_t high = read_u32le(file);
  return (high << 32) | low;
}

FourCC read_fourcc(FileIo* file) {
  FourCC f{};
  read_bytes(file, f.c, 4);
  return f;
}

ErrorCode write_u8(FileIo* file, uint8_t v) { return write_bytes(file, &v, 1); }

ErrorCode write_u16be(FileIo* file, uint16_t v) {
  uint8_t b[2];
  store_u16be(b, v);
  return write_bytes(file, b, 2);
}

ErrorCode write_u24be(FileIo* file, uint32_t v) {
  uint8_t b[3] = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  return write_bytes(file, b, 3);
}

ErrorCode write_u32be(FileIo* file, uint32_t v) {
  uint8_t b[4];
  store_u32be(b, v);
  return write_bytes(file, b, 4);
}

ErrorCode write_u64be(FileIo* file, uint64_t v) {
  VT_TRY(write_u32be(file, static_cast<uint32_t>(v >> 32)));
  return write_u32be(file, static_cast<uint32_t>(v));
}

ErrorCode write_fourcc(FileIo* file, FourCC v) { return write_bytes(file, v.c, 4); }

ErrorCode write_zeros(FileIo* file, uint32_t count) {
  static const uint8_t zeros[256] = {0};
  while (count > 0) {
    uint32_t n = count < sizeof zeros ? count : static_cast<uint32_t>(sizeof zeros);
    VT_TRY(write_bytes(file, zeros, n));
    count -= n;
  }
  return ErrorCode::Ok;
}

}  // namespace vantorel
