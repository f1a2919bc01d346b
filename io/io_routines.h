#pragma once
// The file routines through which the library reaches every byte, and
// the two tables the library brings itself: memory streams and C streams.
#include <cstdint>

#include "io/error.h"

namespace vantorel {

// Open modes of the routines: 0 and 1 read, 2 create (truncate), 3 read and write.
enum : uint32_t { kOpenRead = 0, kOpenInspect = 1, kOpenCreate = 2, kOpenUpdate = 3 };

// One destination of a scattered read.
struct IoPiece {
  void* buffer;
  uint32_t count;
};

// One source of a gathered write.
struct IoConstPiece {
  const void* buffer;
  uint32_t count;
};

// Bytes of a file seen in place (a mapping): `data` holds `length` bytes
// from the position asked for; `base` and `mapped` are the routines' own.
struct IoView {
  const uint8_t* data;
  uint64_t length;
  void* base;
  uint64_t mapped;
};

struct IoRoutines {
  ErrorCode (*open)(const void* name, void** out_handle, uint32_t mode, void* user);
  ErrorCode (*close)(void* handle, void* user);
  ErrorCode (*seek)(void* handle, const uint64_t* position, void* user);
  ErrorCode (*tell)(void* handle, uint64_t* out, void* user);
  ErrorCode (*size)(void* handle, uint64_t* out, void* user);
  ErrorCode (*read)(void* handle, void* buffer, uint32_t count, void* user);
  ErrorCode (*write)(void* handle, const void* buffer, uint32_t count, void* user);
  // Optional (null: a seek and a read stand in): exactly `count` bytes from
  // `position`, without moving the handle's position.
  ErrorCode (*read_at)(void* handle, uint64_t position, void* buffer, uint32_t count, void* user);
  // Optional (null: a positional read a piece stands in): the bytes from
  // `position` on, exactly filling the `count` pieces in turn, without
  // moving the handle's position.
  ErrorCode (*read_pieces_at)(void* handle, uint64_t position, const IoPiece* pieces, uint32_t count, void* user);
  // Optional (null: the bytes are read): `count` bytes from `position`,
  // which lie within the file, seen in place until `unview`. Unsupported
  // where this file cannot be seen so. The remux itself reads its input.
  ErrorCode (*view_at)(void* handle, uint64_t position, uint64_t count, IoView* out, void* user);
  ErrorCode (*unview)(void* handle, IoView* view, void* user);
  // Optional (null: a write a piece): the pieces written in turn at the
  // handle's position, in as few calls as the system takes.
  ErrorCode (*write_pieces)(void* handle, const IoConstPiece* pieces, uint32_t count, void* user);
  // Optional (null: nothing set aside): the file is to be written to about
  // `size` bytes; the system may set aside its room now, in one go, rather
  // than a page at a time as the writes come. Neither the file's size nor
  // its bytes change, and room left unwritten is given back at close.
  ErrorCode (*reserve)(void* handle, uint64_t size, void* user);
};

// Memory streams. The "name" handed to mem_open is a MemoryPair. Mode 2
// makes a growable stream (256 KiB, doubling); any other mode a read-only
// view of the pair's bytes, which is neither grown nor freed.
struct MemoryPair {
  const void* data;
  uint32_t length;
};

struct MemoryStream {
  uint8_t* data;
  uint32_t capacity;  // 0: read-only view of a caller's buffer
  uint32_t size;      // high-water mark of writes
  uint32_t position;
};

constexpr uint32_t kMemoryStreamInitial = 0x40000;

ErrorCode mem_open(const void* pair, void** out_handle, uint32_t mode, void* user);
ErrorCode mem_close(void* handle, void* user);
ErrorCode mem_seek(void* handle, const uint64_t* position, void* user);
ErrorCode mem_tell(void* handle, uint64_t* out, void* user);
ErrorCode mem_size(void* handle, uint64_t* out, void* user);
ErrorCode mem_read(void* handle, void* buffer, uint32_t count, void* user);
ErrorCode mem_write(void* handle, const void* buffer, uint32_t count, void* user);
// Makes room for `bytes` in a growable stream before a write of known size,
// so it is not grown by doubling past it; without the memory (or for more
// than a stream holds) the stream keeps growing as it goes.
void mem_reserve(MemoryStream* stream, uint64_t bytes);

const IoRoutines& memory_routines();

// Default routines over C streams; the name is a NUL-terminated path.
ErrorCode std_open(const void* path, void** out_handle, uint32_t mode, void* user);
ErrorCode std_close(void* handle, void* user);
ErrorCode std_seek(void* handle, const uint64_t* position, void* user);
ErrorCode std_tell(void* handle, uint64_t* out, void* user);
ErrorCode std_size(void* handle, uint64_t* out, void* user);
ErrorCode std_read(void* handle, void* buffer, uint32_t count, void* user);
ErrorCode std_write(void* handle, const void* buffer, uint32_t count, void* user);

const IoRoutines& std_routines();

}  // namespace vantorel
