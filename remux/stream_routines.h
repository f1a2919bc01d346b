#pragma once
// The engine's own file routines. They forward to the caller's routines
// outside the measuring pass, and simulate files in it: writes only move a
// position and a size, reads give zeros.
#include <cstdint>

#include "io/io_routines.h"
#include "remux/remux.h"

namespace vantorel {

struct StreamHandle {
  void* platform;     // the caller's handle; null in the measuring pass
  uint64_t size;      // file size at open, or the high-water mark of writes
  uint64_t position;
};

// What the routines read of the run: its pass and the caller's table.
struct StreamContext {
  Pass pass;  // Write (real I/O) also while the input is surveyed
  IoRoutines routines;
  void* user;
};

// The routines' user value is a StreamContext.
// A file created for real is never asked for its size, and no stream for its
// position (the record keeps it), so an output may be a pipe as long as
// nothing seeks in it.
ErrorCode stream_open(const void* name, void** out, uint32_t mode, void* context);
ErrorCode stream_close(void* handle, void* context);
ErrorCode stream_seek(void* handle, const uint64_t* position, void* context);
ErrorCode stream_tell(void* handle, uint64_t* out, void* context);
ErrorCode stream_size(void* handle, uint64_t* out, void* context);
ErrorCode stream_read(void* handle, void* buffer, uint32_t count, void* context);
ErrorCode stream_write(void* handle, const void* buffer, uint32_t count, void* context);
// Reads at a position within the known size: zeros in the measuring pass,
// the caller's positional read (or its seek and read) in a real one.
ErrorCode stream_read_at(void* handle, uint64_t position, void* buffer, uint32_t count, void* context);
ErrorCode stream_read_pieces_at(void* handle, uint64_t position, const IoPiece* pieces, uint32_t count,
                                void* context);

// The caller's views in a real pass; none in the measuring pass, which reads nothing.
ErrorCode stream_view_at(void* handle, uint64_t position, uint64_t count, IoView* out, void* context);
ErrorCode stream_unview(void* handle, IoView* view, void* context);
ErrorCode stream_write_pieces(void* handle, const IoConstPiece* pieces, uint32_t count, void* context);
// The caller's reservation in a real pass; the measuring pass writes nothing.
ErrorCode stream_reserve(void* handle, uint64_t size, void* context);

const IoRoutines& stream_routines();

}  // namespace vantorel
